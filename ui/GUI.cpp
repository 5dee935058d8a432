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
             autoCrashRecoveryB.get(), reloadCrashedPluginDataB.get(), pluginUnload0.get(), pluginUnload1.get() })
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
    instanceNameGroup = makeGroup(*this, "Instance name");
    programComboBox1 = makeChild<AudioPluginInstanceProgramComboBox>(*this, "new combo box");
    programComboBox2 = makeChild<AudioPluginInstanceProgramComboBox>(*this, "new combo box");
    versionLabel = makeChild<juce::Label>(*this, "new label", versionText());
    aboutLabel = makeChild<juce::Label>(*this, "new label", aboutText());
    instanceName = makeChild<juce::Label>(*this, "instanceName", "Instance name");
    pluginUnload0 = makeTextButton(*this, "pluginUnload0", "Unload");
    pluginUnload1 = makeTextButton(*this, "pluginUnload1", "Unload");
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
                          autoCrashRecoveryB.get(), reloadCrashedPluginDataB.get() })
        toggle->setColour(juce::ToggleButton::textColourId, white);

    for (auto* status : { loadedPlugin1.get(), loadedPlugin2.get() })
    {
        styleLabel(*status, juce::Justification::centred);
        status->setEditable(false, false, false);
        status->setColour(juce::Label::textColourId, white);
    }

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
    pluginGroup2->setBounds(184, 64, 184, 200);
    pluginGroup1->setBounds(0, 64, 184, 200);
    plugin1LoadUnload->setBounds(16, 112, 150, 24);
    loadedPlugin1->setBounds(16, 80, 150, 24);
    plugin1Edit->setBounds(16, 160, 150, 24);
    activatePlugin1->setBounds(16, 232, 64, 24);
    plugin1LoadUnload2->setBounds(200, 112, 150, 24);
    loadedPlugin2->setBounds(210, 80, 150, 24);
    plugin1Edit2->setBounds(200, 160, 150, 24);
    activatePlugin2->setBounds(200, 232, 64, 24);
    optionGroup->setBounds(0, 264, 368, 120);
    consoleB->setBounds(16, 280, 136, 24);
    autoSwitchB->setBounds(16, 328, 160, 24);
    autoCrashRecoveryB->setBounds(16, 304, 160, 24);
    reloadCrashedPluginDataB->setBounds(16, 352, 192, 24);
    instanceNameGroup->setBounds(0, 0, 368, 61);
    programComboBox1->setBounds(16, 200, 150, 24);
    programComboBox2->setBounds(200, 200, 150, 24);
    versionLabel->setBounds(208, 280, 136, 24);
    aboutLabel->setBounds(184, 304, 190, 24);
    instanceName->setBounds(16, 24, 336, 24);
    pluginUnload0->setBounds(96, 232, 72, 24);
    pluginUnload1->setBounds(280, 232, 72, 24);
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
