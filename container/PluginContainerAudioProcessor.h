#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <memory>

class GenericAudioPluginLoader;
class LoadDialogs;

/**
    The container: the audio processor that the host drives through the VST2 wrapper.

    It has two slots, 0 and 1, each holding at most one hosted plugin, and one active slot. Every
    block of audio and MIDI goes to the active slot's plugin and to nothing else; the other slot
    stays loaded, prepared and silent. The host sees 1024 parameters that address the parameters
    of whatever plugin is active.

    Threading contract
    - processBlock runs on the host's audio thread, under the processor's callback lock (the
      wrapper holds it). It allocates nothing (an auxiliary buffer grows only for a block longer
      than the prepared size), takes no lock of its own and logs nothing.
    - What processBlock reads (the active slot's loader and auxiliary buffer, the active index)
      changes only while processing is suspended: suspendProcessing(true) waits for a running
      block to end. The inactive slot may change without suspension: processBlock never touches it.
    - prepareToPlay and releaseResources run on whatever thread the host uses; their log lines reach
      the console through a hand-over to the message thread.
    - Everything else (construction, destruction, accessors, loads, switches) runs on the message
      thread. Constructions and destructions of containers must not overlap: they share
      process-wide state without locks.
*/
class PluginContainerAudioProcessor : public juce::AudioProcessor
{
public:
    static constexpr int numSlots = 2;
    static constexpr int numHostParameters = 1024;
    static constexpr int numOptions = 4;

    enum OptionIndex
    {
        optionConsole = 0,
        optionAutoCrashRecovery = 1,
        optionAutoSwitch = 2,
        optionReloadCrashedPluginData = 3
    };

    PluginContainerAudioProcessor();
    ~PluginContainerAudioProcessor() override;

    //==============================================================================================
    // Own operations. Every slot argument is 0 or 1.

    juce::String getLoadedPluginName(int slot) const;
    void setOption(int index, bool value);
    bool getOption(int index);
    void setInstanceName(const juce::String& name);
    juce::String getInstanceName() const;
    int getActivePluginIndex() const noexcept { return activePluginIndex; }
    juce::AudioPluginInstance* getPluginInstance(int slot) const;
    bool isPluginCrashed(int slot) const noexcept { return pluginCrashed[(size_t) slot]; }

    //==============================================================================================
    // Loading, unloading and switching (message thread).

    /**
        Loads a plugin into the slot: from filePath (asking to locate it if it has gone), or from a
        file the user picks when filePath is empty; pluginName picks one plugin of a shell file
        (empty: the only one, or the user's choice). Instruments with audio inputs are refused. The
        slot keeps what it had unless the new plugin was created, started and accepted.
    */
    bool loadPlugin(int slot, const juce::String& filePath, const juce::String& pluginName);

    /** Empties the slot; suspends processing first if it is the active one. */
    void unloadPlugin(int slot, bool keepRecoveryState, bool resumeProcessing);

    /** The native open-file dialog; a non-existent file when the user cancels. */
    juce::File choosePluginFile();

    /** Makes a loaded slot the active one; false (and nothing changes) for an empty slot. */
    bool setActivePlugin(int slot);

    /** Replaces the dialogs through which loads ask the user (the system's dialogs by default). */
    void setLoadDialogs(std::unique_ptr<LoadDialogs> dialogs);

    //==============================================================================================
    // juce::AudioProcessor

    const juce::String getName() const override;
    void prepareToPlay(double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    void processBlockBypassed(juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    const juce::String getInputChannelName(int channelIndex) const override;
    const juce::String getOutputChannelName(int channelIndex) const override;
    bool isInputChannelStereoPair(int index) const override;
    bool isOutputChannelStereoPair(int index) const override;

    int getNumParameters() override;
    const juce::String getParameterName(int parameterIndex) override;
    float getParameter(int parameterIndex) override;
    const juce::String getParameterText(int parameterIndex) override;
    void setParameter(int parameterIndex, float newValue) override;
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    bool silenceInProducesSilenceOut() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    int getNumPrograms() override { return 0; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return {}; }
    void changeProgramName(int, const juce::String&) override {}

    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    /** The name of channel i as the host sees it: the channel number counted from 1. */
    static juce::String channelNameFor(int channelIndex);

private:
    /** Channels of a slot's auxiliary buffer: the larger of the plugin's input and output counts. */
    static int auxChannelsFor(const juce::AudioPluginInstance& instance);

    /** No inputs, one stereo output: the only layout the container accepts. */
    static BusesProperties containerBuses();

    void prepareSlot(int slot, double sampleRate, int samplesPerBlock);
    juce::String resolveLoadPath(const juce::String& filePath);
    void commitLoadedPlugin(int slot, std::unique_ptr<GenericAudioPluginLoader> loader);
    bool slotsShareOneEffect() const;
    double startSampleRate() const;
    int startBlockSize() const;
    void logLine(const juce::String& message) const;
    /** Parameter i of the plugin in the active slot, or null if there is no plugin or no such parameter. */
    juce::AudioProcessorParameter* activeParameter(int parameterIndex) const;

    int activePluginIndex = 0;
    std::array<std::unique_ptr<GenericAudioPluginLoader>, numSlots> pluginLoaders;
    std::array<std::unique_ptr<juce::AudioBuffer<float>>, numSlots> auxBuffers;
    std::array<bool, numSlots> pluginCrashed { false, false };
    std::array<bool, numOptions> options { false, false, true, true };
    juce::String instanceName { "default instance" };
    std::unique_ptr<LoadDialogs> loadDialogs;

    friend struct PluginContainerTestAccess; // tests fill slots directly, without plugin files

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PluginContainerAudioProcessor)
};
