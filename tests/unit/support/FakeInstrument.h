#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

/**
    An in-process hosted instrument for routing tests. Every block, output channel c is filled with
    the constant signature(c), so a test can tell which plugin wrote which channel; it counts its
    blocks and the MIDI events it was given, and remembers its last prepare call.
*/
class FakeInstrument : public juce::AudioPluginInstance
{
public:
    FakeInstrument(int id, int numOutputs, int numParameters, int numInputs = 0);

    float signature(int channel) const noexcept { return (float) (pluginId * 10 + channel + 1); }

    int blocksProcessed() const noexcept { return blocks.load(); }
    int midiEventsSeen() const noexcept { return midiEvents.load(); }
    int samplesInLastBlock() const noexcept { return lastBlockSamples.load(); }
    double preparedSampleRate() const noexcept { return preparedRate; }
    int preparedBlockSize() const noexcept { return preparedBlock; }
    int releaseCount() const noexcept { return releases; }
    juce::AudioPlayHead* lastPlayHead() const noexcept { return getPlayHead(); }

    // juce::AudioPluginInstance
    void fillInPluginDescription(juce::PluginDescription& description) const override;
    const juce::String getName() const override { return "Fake" + juce::String(pluginId); }
    void prepareToPlay(double sampleRate, int samplesPerBlock) override;
    void releaseResources() override { ++releases; }
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return {}; }
    void changeProgramName(int, const juce::String&) override {}
    void getStateInformation(juce::MemoryBlock&) override {}
    void setStateInformation(const void*, int) override {}

private:
    static BusesProperties busesFor(int numInputs, int numOutputs);

    int pluginId;
    int ownInputs;
    int ownOutputs;
    std::atomic<int> blocks { 0 };
    std::atomic<int> midiEvents { 0 };
    std::atomic<int> lastBlockSamples { 0 };
    double preparedRate = 0.0;
    int preparedBlock = 0;
    int releases = 0;
};
