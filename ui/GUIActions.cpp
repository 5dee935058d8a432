// The control panel's behaviour: clicks, the instance name, the refresh from the processor and
// the status lines.
#include "ui/GUI.h"

#include "container/PluginContainerAudioProcessor.h"

void GUI::setProcessor(PluginContainerAudioProcessor* processorToShow)
{
    processor = processorToShow;
    programComboBox1->setProcessor(processor, 0);
    programComboBox2->setProcessor(processor, 1);
    programComboBox1->refreshProgramList();
    programComboBox2->refreshProgramList();
}

void GUI::refreshProgramChooser(int slot)
{
    if (slot == 0)
        programComboBox1->refreshProgramList();
    else if (slot == 1)
        programComboBox2->refreshProgramList();
}

void GUI::updateFromProcessor()
{
    if (processor == nullptr)
        return;

    // A name being typed is the user's until Return or leaving the field hands it to the
    // processor: setting the label's text would close its editor and throw the typing away.
    if (!instanceName->isBeingEdited())
        instanceName->setText(processor->getInstanceName(), juce::dontSendNotification);

    // Two copies of one plugin are told apart by their slot's number.
    juce::GroupComponent* const frames[] = { pluginGroup1.get(), pluginGroup2.get() };
    for (int slot = 0; slot < 2; ++slot)
    {
        const auto kept = processor->getPluginInstance(slot) != nullptr || processor->isPluginMissing(slot);
        frames[slot]->setText(slotTitle(slot, kept ? processor->getLoadedPluginName(slot) : juce::String("empty")));
    }

    const auto active = processor->getActivePluginIndex();
    activatePlugin1->setToggleState(false, juce::dontSendNotification);
    activatePlugin2->setToggleState(false, juce::dontSendNotification);
    (active == 0 ? activatePlugin1 : activatePlugin2)->setToggleState(true, juce::dontSendNotification);

    if (active != highlightedSlot)
    {
        highlightedSlot = active;
        repaint();
    }

    for (int slot = 0; slot < 2; ++slot)
        frames[slot]->setColour(juce::GroupComponent::outlineColourId,
                                juce::Colour(slot == active ? activeFrameArgb : frameArgb));

    const auto event = processor->getLastEvent();
    lastEvent->setText(lastEventText(event.time, event.text), juce::dontSendNotification);

    // A crashed plugin keeps "Unload" and "Recover" (the edit button) but cannot be made active
    // by hand. A missing one (kept for the project) has them too: "Recover" tries its file again,
    // "Unload" lets it go.
    const auto slot0Loaded = processor->getPluginInstance(0) != nullptr;
    const auto slot0Kept = slot0Loaded || processor->isPluginMissing(0);
    for (auto* control : std::initializer_list<juce::Component*> { pluginUnload0.get(), plugin1Edit.get() })
        control->setEnabled(slot0Kept);
    activatePlugin1->setEnabled(slot0Loaded && !processor->isPluginCrashed(0));

    const auto slot1Loaded = processor->getPluginInstance(1) != nullptr;
    const auto slot1Kept = slot1Loaded || processor->isPluginMissing(1);
    for (auto* control : std::initializer_list<juce::Component*> { pluginUnload1.get(), plugin1Edit2.get() })
        control->setEnabled(slot1Kept);
    activatePlugin2->setEnabled(slot1Loaded && !processor->isPluginCrashed(1));

    for (int option = 0; option < (int) optionToggles.size(); ++option)
        optionToggles[(size_t) option]->setToggleState(processor->getOption(option), juce::dontSendNotification);
    separateProcessesB->setToggleState(processor->getRunInSeparateProcesses(), juce::dontSendNotification);
    hotStandbyB->setToggleState(processor->isHotStandby(), juce::dontSendNotification);
    outputHealthB->setToggleState(processor->getOutputHealthCheck(), juce::dontSendNotification);
    const int period = processor->getWatchPeriodMs();
    if (watchPeriodB->indexOfItemId(period) < 0) // a period a document asked for that the list lacks
        watchPeriodB->addItem(watchPeriodText(period), period);
    watchPeriodB->setSelectedId(period, juce::dontSendNotification);

    programComboBox1->updateProgramSelection();
    programComboBox2->updateProgramSelection();
}

void GUI::buttonClicked(juce::Button* button)
{
    if (processor == nullptr)
        return;

    // A load may ask the user in a modal dialog, during which the host can close the editor (and
    // with it this panel) or the whole plugin.
    const juce::Component::SafePointer<GUI> self(this);

    if (button == separateProcessesB.get())
        processor->setRunInSeparateProcesses(button->getToggleState());
    else if (button == hotStandbyB.get())
        processor->setHotStandby(button->getToggleState());
    else if (button == outputHealthB.get())
        processor->setOutputHealthCheck(button->getToggleState());
    else if (!runSlotAction(button))
    {
        for (int option = 0; option < (int) optionToggles.size(); ++option)
            if (button == optionToggles[(size_t) option])
                processor->setOption(option, button->getToggleState());
    }

    if (self != nullptr)
        updateFromProcessor();
}

void GUI::watchPeriodPicked()
{
    if (processor != nullptr && watchPeriodB->getSelectedId() > 0)
        processor->setWatchPeriodMs(watchPeriodB->getSelectedId());
}

bool GUI::runSlotAction(juce::Button* button)
{
    struct SlotButtons
    {
        juce::Button* load;
        juce::Button* edit;
        juce::Button* activate;
        juce::Button* unload;
    };

    const SlotButtons columns[] = { { plugin1LoadUnload.get(), plugin1Edit.get(), activatePlugin1.get(), pluginUnload0.get() },
                                    { plugin1LoadUnload2.get(), plugin1Edit2.get(), activatePlugin2.get(), pluginUnload1.get() } };

    for (int slot = 0; slot < 2; ++slot)
    {
        const auto& column = columns[slot];

        if (button == column.load)
            processor->loadPlugin(slot, {}, {}); // an empty path asks the user for the file
        else if (button == column.edit)
        {
            if (processor->isPluginCrashed(slot) || processor->isPluginMissing(slot))
                processor->recoverPlugin(slot);
            else
                processor->openEditor(slot);
        }
        else if (button == column.activate)
            processor->setActivePlugin(slot);
        else if (button == column.unload)
            processor->unloadPluginByUser(slot);
        else
            continue;

        return true;
    }

    return false;
}

void GUI::labelTextChanged(juce::Label* label)
{
    if (label == instanceName.get() && processor != nullptr)
        processor->setInstanceName(instanceName->getText());
}

void GUI::mouseEnter(const juce::MouseEvent&)
{
    updateFromProcessor();
}

void GUI::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(backgroundArgb));

    // The active slot's column stands out: a band behind its controls, inside its frame (which
    // updateFromProcessor colours).
    if (processor != nullptr)
    {
        const auto column = (highlightedSlot == 0 ? pluginGroup1 : pluginGroup2)->getBounds();
        g.setColour(juce::Colour(activeColumnArgb));
        g.fillRect(column.getX() + 5, column.getY() + 11, column.getWidth() - 10, column.getHeight() - 15);
    }

    showSlotStatus(0, *loadedPlugin1, *plugin1Edit);
    showSlotStatus(1, *loadedPlugin2, *plugin1Edit2);
}

void GUI::showSlotStatus(int slot, juce::Label& statusLabel, juce::TextButton& editButton)
{
    if (processor == nullptr)
        return;

    juce::uint32 colour = emptyStatusArgb;
    juce::String status = "Status: empty";
    juce::String caption = "Edit";

    if (processor->isPluginMissing(slot))
    {
        colour = crashedStatusArgb;
        status = "Status: MISSING";
        caption = "Recover";
    }
    else if (processor->getPluginInstance(slot) != nullptr)
    {
        if (processor->isPluginCrashed(slot))
        {
            // Past the crash-loop guard's limit nothing reloads the plugin by itself any more: the
            // user has to press Recover (or load). Said in as few words as the label holds at its
            // bold size; the last-event line says why.
            colour = crashedStatusArgb;
            status = processor->hasRecoveryGivenUp(slot) ? "Recovery gave up" : "Status: CRASHED";
            caption = "Recover";
        }
        else
        {
            colour = okStatusArgb;
            status = "Status: OK";
        }
    }

    // Each change repaints only the child it touches; unchanged values repaint nothing.
    statusLabel.setColour(juce::Label::textColourId, juce::Colour(colour));
    statusLabel.setText(status, juce::dontSendNotification);
    editButton.setButtonText(caption);
}
