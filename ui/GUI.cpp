// The control panel's children: creation, look and the fixed layout.
#include "ui/GUI.h"

namespace
{
const juce::Colour white(0xFFFFFFFF);
const juce::Colour black(0xFF000000);
const juce::Colour transparent(0x00000000);

template <typename ComponentType, typename... Args>
std::unique_ptr<ComponentType> makeChild(juce::Component& parent, Args&&... args)
{
    auto child = std::make_unique<ComponentType>(std::forward<Args>(args)...);
    parent.addAndMakeVisible(*child);
    return child;
}

std::unique_ptr<juce::GroupComponent> makeGroup(juce::Component& parent, const juce::String& title)
{
    return makeChild<juce::GroupComponent>(parent, "new group", title);
}

std::unique_ptr<juce::TextButton> makeTextButton(juce::Component& parent, const juce::String& name,
                                                 const juce::String& caption)
{
    auto button = makeChild<juce::TextButton>(parent, name);
    button->setButtonText(caption);
    return button;
}

std::unique_ptr<juce::ToggleButton> makeToggle(juce::Component& parent, const juce::String& name,
                                               const juce::String& caption)
{
    auto toggle = makeChild<juce::ToggleButton>(parent, name);
    toggle->setButtonText(caption);
    return toggle;
}

void styleLabel(juce::Label& label, juce::Justification justification)
{
    label.setFont(juce::Font(15.0f, juce::Font::plain));
    label.setJustificationType(justification);
    label.setColour(juce::Label::textWhenEditingColourId, black);
    label.setColour(juce::Label::backgroundWhenEditingColourId, transparent);
}
} // namespace

GUI::GUI()
{
    setLookAndFeel(&panelLook);
    createChildren();
    styleChildren();

    for (auto* button : std::initializer_list<juce::Button*> {
             plugin1LoadUnload.get(), plugin1Edit.get(), activatePlugin1.get(), plugin1LoadUnload2.get(),
             plugin1Edit2.get(), activatePlugin2.get(), consoleB.get(), autoSwitchB.get(),
             autoCrashRecoveryB.get(), reloadCrashedPluginDataB.get(), pluginUnload0.get(), pluginUnload1.get(),
             separateProcessesB.get(), hotStandbyB.get(), outputHealthB.get() })
        button->addListener(this);

    programComboBox1->addListener(this);
    programComboBox2->addListener(this);
    instanceName->addListener(this);

    setSize(panelWidth, panelHeight);

    optionToggles = { consoleB.get(), autoCrashRecoveryB.get(), autoSwitchB.get(), reloadCrashedPluginDataB.get() };
}

GUI::~GUI()
{
    // The children (members declared after the look) go before it.
    setLookAndFeel(nullptr);
}

void GUI::createChildren()
{
    pluginGroup2 = makeGroup(*this, "group");
    pluginGroup1 = makeGroup(*this, "group");
    plugin1LoadUnload = makeTextButton(*this, "plugin1LoadUnload", "Load new");
    loadedPlugin1 = makeChild<juce::Label>(*this, "loadedPlugin1", "Plugin1: <none>");
    plugin1Edit = makeTextButton(*this, "plugin1Edit", "Edit");
    activatePlugin1 = makeToggle(*this, "activatePlugin1", "Active");
    plugin1LoadUnload2 = makeTextButton(*this, "plugin1LoadUnload2", "Load new");
    // Both status lines carry the same component name.
    loadedPlugin2 = makeChild<juce::Label>(*this, "loadedPlugin1", "Plugin2: <none>");
    plugin1Edit2 = makeTextButton(*this, "plugin1Edit2", "Edit");
    activatePlugin2 = makeToggle(*this, "activatePlugin2", "Active");
    optionGroup = makeGroup(*this, "options");
    consoleB = makeToggle(*this, "consoleB", "Console ( global )");
    autoSwitchB = makeToggle(*this, "autoSwitchB", "Auto-switch plugin");
    autoCrashRecoveryB = makeToggle(*this, "autoCrashRecoveryB", "Auto crash recovery");
    reloadCrashedPluginDataB = makeToggle(*this, "reloadCrashedPluginDataB", "Reload crashed plugin data");
    separateProcessesB = makeToggle(*this, "separateProcessesB", "Run plugins in separate processes");
    hotStandbyB = makeToggle(*this, "hotStandbyB", "Hot standby");
    watchPeriodB = makeChild<juce::ComboBox>(*this, "watchPeriodB");
    for (const int milliseconds : { 50, 100, 250, 500, 1000 })
        watchPeriodB->addItem(watchPeriodText(milliseconds), milliseconds);
    watchPeriodB->setSelectedId(1000, juce::dontSendNotification);
    watchPeriodB->onChange = [this] { watchPeriodPicked(); };
    instanceNameGroup = makeGroup(*this, "Instance name");
    programComboBox1 = makeChild<AudioPluginInstanceProgramComboBox>(*this, "new combo box");
    programComboBox2 = makeChild<AudioPluginInstanceProgramComboBox>(*this, "new combo box");
    versionLabel = makeChild<juce::Label>(*this, "new label", versionText());
    aboutLabel = makeChild<juce::Label>(*this, "new label", aboutText());
    instanceName = makeChild<juce::Label>(*this, "instanceName", "Instance name");
    pluginUnload0 = makeTextButton(*this, "pluginUnload0", "Unload");
    pluginUnload1 = makeTextButton(*this, "pluginUnload1", "Unload");
    lastEvent = makeChild<juce::Label>(*this, "lastEvent", juce::String());
    outputHealthB = makeToggle(*this, "outputHealthB", "Health check");
}

void GUI::styleChildren()
{
    for (auto* group : { pluginGroup2.get(), pluginGroup1.get(), optionGroup.get(), instanceNameGroup.get() })
    {
        group->setColour(juce::GroupComponent::outlineColourId, white);
        group->setColour(juce::GroupComponent::textColourId, white);
    }

    for (auto* button : { plugin1LoadUnload.get(), plugin1Edit.get(), plugin1LoadUnload2.get(), plugin1Edit2.get(),
                          pluginUnload0.get(), pluginUnload1.get() })
    {
        button->setColour(juce::TextButton::buttonColourId, white);
        button->setTooltip({});
    }

    for (auto* toggle : { activatePlugin1.get(), activatePlugin2.get(), consoleB.get(), autoSwitchB.get(),
                          autoCrashRecoveryB.get(), reloadCrashedPluginDataB.get(), separateProcessesB.get(),
                          hotStandbyB.get(), outputHealthB.get() })
        toggle->setColour(juce::ToggleButton::textColourId, white);

    // Bold, to be read from a distance on stage.
    for (auto* status : { loadedPlugin1.get(), loadedPlugin2.get(), lastEvent.get() })
    {
        styleLabel(*status, juce::Justification::centred);
        status->setFont(juce::Font(15.0f, juce::Font::bold));
        status->setEditable(false, false, false);
        status->setColour(juce::Label::textColourId, white);
    }

    // A long line (a path) is squeezed a little, then cut with an ellipsis, never wrapped.
    lastEvent->setJustificationType(juce::Justification::centredLeft);
    lastEvent->setMinimumHorizontalScale(0.7f);

    for (auto* text : { versionLabel.get(), aboutLabel.get() })
    {
        styleLabel(*text, juce::Justification::centredLeft);
        text->setEditable(false, false, false);
        text->setColour(juce::Label::textColourId, white);
    }

    // The address ends in a line break, so the label wraps rather than squeezes it: narrower
    // letters keep it on the one line the label has room for.
    auto aboutFont = aboutLabel->getFont();
    aboutFont.setHorizontalScale(0.8f);
    aboutLabel->setFont(aboutFont);

    // Double-click edits the name; leaving the field keeps what was typed.
    styleLabel(*instanceName, juce::Justification::centred);
    instanceName->setEditable(false, true, false);
    instanceName->setColour(juce::Label::backgroundColourId, white);

    for (auto* chooser : { programComboBox1.get(), programComboBox2.get() })
    {
        chooser->setEditableText(false);
        chooser->setJustificationType(juce::Justification::centredLeft);
        chooser->setTextWhenNothingSelected({});
        chooser->setTextWhenNoChoicesAvailable("(no choices)");
    }
}

void GUI::resized()
{
    // Top to bottom inside the editor's 368 x 384: the instance name, the two columns, the last
    // event's line, the options.
    pluginGroup2->setBounds(184, 52, 184, 196);
    pluginGroup1->setBounds(0, 52, 184, 196);
    plugin1LoadUnload->setBounds(16, 100, 150, 24);
    loadedPlugin1->setBounds(16, 68, 150, 24);
    plugin1Edit->setBounds(16, 148, 150, 24);
    activatePlugin1->setBounds(16, 220, 64, 24);
    plugin1LoadUnload2->setBounds(200, 100, 150, 24);
    loadedPlugin2->setBounds(210, 68, 150, 24);
    plugin1Edit2->setBounds(200, 148, 150, 24);
    activatePlugin2->setBounds(200, 220, 64, 24);
    optionGroup->setBounds(0, 270, 368, 114);
    consoleB->setBounds(16, 284, 136, 24);
    autoSwitchB->setBounds(16, 332, 160, 24);
    autoCrashRecoveryB->setBounds(16, 308, 160, 24);
    reloadCrashedPluginDataB->setBounds(16, 356, 192, 24);
    hotStandbyB->setBounds(208, 356, 144, 24);
    watchPeriodB->setBounds(208, 332, 144, 24);
    instanceNameGroup->setBounds(0, 0, 368, 50);
    programComboBox1->setBounds(16, 188, 150, 24);
    programComboBox2->setBounds(200, 188, 150, 24);
    // The version keeps to the right edge, leaving room for the output health check beside the console.
    versionLabel->setBounds(236, 284, 132, 24);
    aboutLabel->setBounds(184, 308, 190, 24);
    // The name keeps room for the container's choice of processes beside it.
    instanceName->setBounds(16, 20, 160, 24);
    separateProcessesB->setBounds(184, 18, 180, 28);
    pluginUnload0->setBounds(96, 220, 72, 24);
    pluginUnload1->setBounds(280, 220, 72, 24);
    lastEvent->setBounds(4, 249, 360, 20);
    outputHealthB->setBounds(152, 284, 84, 24);
}

juce::String GUI::watchPeriodText(int milliseconds)
{
    return "Crash watch " + juce::String(milliseconds) + " ms";
}

juce::String GUI::versionText()
{
    return juce::String("Plugin Pendulum v") + JucePlugin_VersionString;
}

juce::String GUI::aboutText()
{
    // The same address the host is given as the vendor string.
    return juce::String(JucePlugin_ManufacturerWebsite) + "\n";
}

juce::String GUI::lastEventText(const juce::Time& time, const juce::String& what)
{
    return what.isEmpty() ? juce::String() : time.formatted("%H:%M:%S") + " " + what;
}

juce::String GUI::slotTitle(int slot, const juce::String& pluginName)
{
    // U+00B7, the middle dot, between the slot and its plugin.
    return "Slot " + juce::String(slot + 1) + juce::String(juce::CharPointer_UTF8(" \xc2\xb7 ")) + pluginName;
}
