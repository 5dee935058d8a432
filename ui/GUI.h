#pragma once

#include "ui/AudioPluginInstanceProgramComboBox.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <memory>

class PluginContainerAudioProcessor;

/**
    The container's control panel: one column per slot (status line, "Load new", "Edit" or
    "Recover", the program chooser, "Active", "Unload"), the instance name at the top, and the four
    options with the version and about texts at the bottom, the container's own options beside
    them (hot standby, the watchdog's period, the output health check).

    Every control calls one operation of the processor; the panel keeps no state of its own apart
    from what its controls show. It brings itself in line with the processor after every click,
    when the mouse enters it and when the processor asks (updateFromProcessor), except for an
    instance name that is being typed, which stays as typed until Return or leaving the field hands
    it to the processor. The status lines are recomputed at every paint. The layout is fixed: the
    panel is 384 x 600 and never resized; its controls lie in the editor's 368 x 384.

    Message thread only.
*/
class GUI : public juce::Component,
            public juce::Button::Listener,
            public juce::ComboBox::Listener,
            public juce::Label::Listener
{
public:
    static constexpr int panelWidth = 384;
    static constexpr int panelHeight = 600;

    // The colours the panel paints with (ARGB). Every status colour reads at a contrast of at
    // least 4.5:1 on the background and on the active column's band (WCAG relative luminance):
    // white 12.6 and 12.9, green 7.3 and 7.4, red 5.2 and 5.3.
    static constexpr juce::uint32 backgroundArgb = 0xFF333333;
    static constexpr juce::uint32 activeColumnArgb = 0xFF1A3350; // the active slot's band
    static constexpr juce::uint32 frameArgb = 0xFFFFFFFF;        // the frames and their titles
    static constexpr juce::uint32 activeFrameArgb = 0xFF4DA6FF;  // the active slot's frame
    static constexpr juce::uint32 emptyStatusArgb = 0xFFFFFFFF;
    static constexpr juce::uint32 crashedStatusArgb = 0xFFFF8080;
    static constexpr juce::uint32 okStatusArgb = 0xFF66DD66;

    /** The line under the slots: "<hh:mm:ss> <what happened>", empty before the first event. */
    static juce::String lastEventText(const juce::Time& time, const juce::String& what);
    /** A column's title: "Slot 1 · PlainSynth", "Slot 2 · empty". */
    static juce::String slotTitle(int slot, const juce::String& pluginName);

    GUI();
    ~GUI() override;

    /** The processor to show (not owned); the program choosers follow its slots 0 and 1. */
    void setProcessor(PluginContainerAudioProcessor* processorToShow);

    /** Brings every control in line with the processor. */
    void updateFromProcessor();

    /** Refills the program list of slot 0 or 1 (after a load into it); other values do nothing. */
    void refreshProgramChooser(int slot);

    /** What "Plugin Pendulum v<version>" and the about label show. */
    static juce::String versionText();
    static juce::String aboutText();
    /** The watchdog period chooser's text for a period. */
    static juce::String watchPeriodText(int milliseconds);

    void mouseEnter(const juce::MouseEvent& event) override;
    void paint(juce::Graphics& g) override;
    void resized() override;

    void buttonClicked(juce::Button* button) override;
    void comboBoxChanged(juce::ComboBox*) override {}
    void labelTextChanged(juce::Label* label) override;

private:
    void createChildren();
    void styleChildren();
    /** Hands the watchdog period picked in the chooser to the container. */
    void watchPeriodPicked();
    /** The slot action of a button; false for a button that is not a slot's. */
    bool runSlotAction(juce::Button* button);
    /** Sets the status line and the "Edit"/"Recover" caption of one slot. */
    void showSlotStatus(int slot, juce::Label& statusLabel, juce::TextButton& editButton);

    PluginContainerAudioProcessor* processor = nullptr; // not owned

    // The panel draws with the framework's classic look, whose default text colours are dark: the
    // white buttons and the white instance-name field rely on it.
    juce::LookAndFeel_V3 panelLook;

    // Children, in the order in which they are created and stacked.
    std::unique_ptr<juce::GroupComponent> pluginGroup2;
    std::unique_ptr<juce::GroupComponent> pluginGroup1;
    std::unique_ptr<juce::TextButton> plugin1LoadUnload;
    std::unique_ptr<juce::Label> loadedPlugin1;
    std::unique_ptr<juce::TextButton> plugin1Edit;
    std::unique_ptr<juce::ToggleButton> activatePlugin1;
    std::unique_ptr<juce::TextButton> plugin1LoadUnload2;
    std::unique_ptr<juce::Label> loadedPlugin2;
    std::unique_ptr<juce::TextButton> plugin1Edit2;
    std::unique_ptr<juce::ToggleButton> activatePlugin2;
    std::unique_ptr<juce::GroupComponent> optionGroup;
    std::unique_ptr<juce::ToggleButton> consoleB;
    std::unique_ptr<juce::ToggleButton> autoSwitchB;
    std::unique_ptr<juce::ToggleButton> autoCrashRecoveryB;
    std::unique_ptr<juce::ToggleButton> reloadCrashedPluginDataB;
    std::unique_ptr<juce::ToggleButton> separateProcessesB;
    std::unique_ptr<juce::ToggleButton> hotStandbyB; // the container's hot standby, not an indexed option
    std::unique_ptr<juce::ComboBox> watchPeriodB;    // the crash watchdog's period for this container
    std::unique_ptr<juce::ToggleButton> outputHealthB; // the container's output health check
    std::unique_ptr<juce::GroupComponent> instanceNameGroup;
    std::unique_ptr<AudioPluginInstanceProgramComboBox> programComboBox1;
    std::unique_ptr<AudioPluginInstanceProgramComboBox> programComboBox2;
    std::unique_ptr<juce::Label> versionLabel;
    std::unique_ptr<juce::Label> aboutLabel;
    std::unique_ptr<juce::Label> instanceName;
    std::unique_ptr<juce::TextButton> pluginUnload0;
    std::unique_ptr<juce::TextButton> pluginUnload1;
    std::unique_ptr<juce::Label> lastEvent;

    int highlightedSlot = 0; // the active slot as the last refresh found it

    /** The option toggles by option index: console, auto crash recovery, auto-switch, reload data. */
    std::array<juce::ToggleButton*, 4> optionToggles {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(GUI)
};
