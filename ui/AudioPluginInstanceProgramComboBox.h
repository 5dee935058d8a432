#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class PluginContainerAudioProcessor;

/**
    The drop-down list of one slot's programs. It does not hold the plugin: it asks the container
    for the slot's hosted instance whenever it needs it, so it always follows what the slot holds.

    Entry i stands for program i, with item id i + 1 and the text "i:<name>", so the selected item
    index is the program index. A pick by the user goes straight to the plugin's setCurrentProgram;
    the list itself is filled and aligned with the plugin only when the panel asks.

    Message thread only.
*/
class AudioPluginInstanceProgramComboBox : public juce::ComboBox, public juce::ComboBox::Listener
{
public:
    explicit AudioPluginInstanceProgramComboBox(const juce::String& componentName);
    ~AudioPluginInstanceProgramComboBox() override;

    /** The container and the slot to follow. */
    void setProcessor(PluginContainerAudioProcessor* container, int slot);

    /** Refills the list from the slot's plugin; with no plugin the list stays as it is. */
    void refreshProgramList();

    /**
        Enables the chooser (refilling it on the way from disabled) and selects the plugin's
        current program; with no plugin or no programs, empties and disables it. A plugin without
        programs shows noProgramsText in the disabled chooser; an empty slot shows nothing.
    */
    void updateProgramSelection();

    /** Sends the selected entry to the plugin, unless it is its current program already. */
    void applySelectedProgram();

    /**
        What the disabled chooser of a plugin without programs shows, and the text of the (empty)
        list once the chooser has been disabled.
    */
    static constexpr const char* noProgramsText = "(no programs)";

    // juce::ComboBox::Listener
    void comboBoxChanged(juce::ComboBox*) override;
    // juce::Value::Listener (the combo box's own selection value)
    void valueChanged(juce::Value& value) override;

private:
    juce::AudioPluginInstance* hostedInstance() const;

    PluginContainerAudioProcessor* processor = nullptr; // not owned
    int slotIndex = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AudioPluginInstanceProgramComboBox)
};
