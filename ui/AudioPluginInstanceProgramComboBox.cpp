#include "ui/AudioPluginInstanceProgramComboBox.h"

#include "container/PluginContainerAudioProcessor.h"

namespace
{
juce::String entryText(int program, juce::AudioPluginInstance& instance)
{
    return juce::String(program) + ":" + instance.getProgramName(program);
}
} // namespace

AudioPluginInstanceProgramComboBox::AudioPluginInstanceProgramComboBox(const juce::String& componentName)
    : juce::ComboBox(componentName)
{
    addListener(this);
}

AudioPluginInstanceProgramComboBox::~AudioPluginInstanceProgramComboBox()
{
    removeListener(this);
}

void AudioPluginInstanceProgramComboBox::setProcessor(PluginContainerAudioProcessor* container, int slot)
{
    processor = container;
    slotIndex = slot;
}

juce::AudioPluginInstance* AudioPluginInstanceProgramComboBox::hostedInstance() const
{
    return processor != nullptr ? processor->getPluginInstance(slotIndex) : nullptr;
}

void AudioPluginInstanceProgramComboBox::refreshProgramList()
{
    auto* instance = hostedInstance();

    if (instance == nullptr)
        return;

    clear(juce::dontSendNotification);

    const auto numPrograms = instance->getNumPrograms();
    for (int program = 0; program < numPrograms; ++program)
        addItem(entryText(program, *instance), program + 1);
}

void AudioPluginInstanceProgramComboBox::updateProgramSelection()
{
    auto* instance = hostedInstance();
    const bool hasPrograms = instance != nullptr && instance->getNumPrograms() != 0;

    // A plugin without programs says so in the chooser, so that it does not look like an empty
    // slot; an empty slot and a plugin with programs show nothing when nothing is selected.
    setTextWhenNothingSelected(instance != nullptr && !hasPrograms ? noProgramsText : "");

    if (hasPrograms)
    {
        if (!isEnabled())
        {
            setEnabled(true);
            refreshProgramList();
        }

        const auto current = instance->getCurrentProgram();
        if (current == getSelectedItemIndex())
            return;

        // A program renamed inside the plugin shows its new name once it is selected. The entry's
        // text is renewed before the selection, which shows the entry's text as it is then; the
        // other way round the combo box would show the old name and count nothing as selected.
        changeItemText(current + 1, entryText(current, *instance));
        setSelectedItemIndex(current, juce::dontSendNotification);
        return;
    }

    if (isEnabled())
    {
        setTextWhenNoChoicesAvailable(noProgramsText);
        clear(juce::dontSendNotification);
        setEnabled(false);
    }
}

void AudioPluginInstanceProgramComboBox::applySelectedProgram()
{
    auto* instance = hostedInstance();

    if (instance == nullptr)
        return;

    const auto numPrograms = instance->getNumPrograms();
    const auto selected = getSelectedItemIndex();

    // Nothing selected (a list just refilled) leaves the plugin's program alone: -1 is no program
    // of the plugin's, and a plugin need not check the index it is given.
    if (!juce::isPositiveAndBelow(selected, numPrograms))
        return;

    if (selected != instance->getCurrentProgram())
        instance->setCurrentProgram(selected);
}

void AudioPluginInstanceProgramComboBox::comboBoxChanged(juce::ComboBox*)
{
    applySelectedProgram();
}

void AudioPluginInstanceProgramComboBox::valueChanged(juce::Value& value)
{
    juce::ComboBox::valueChanged(value);
    applySelectedProgram();
}
