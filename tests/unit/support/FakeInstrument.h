#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
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

    /** One MIDI event as the instrument received it: in which of its blocks (from 0), where. */
    struct ReceivedEvent
    {
        int block = 0;
        int sample = 0;
        int size = 0;
        juce::uint8 bytes[3] {};
        juce::MidiMessage message() const { return juce::MidiMessage(bytes, size); }
    };
    static constexpr int maxRecordedEvents = 8192;
    /** The short events received so far (up to maxRecordedEvents), in order. */
    int numReceived() const noexcept { return juce::jmin(received.load(), maxRecordedEvents); }
    const ReceivedEvent& receivedEvent(int index) const noexcept { return receivedEvents[(size_t) index]; }
    /**
        Notes the instrument would still sound, as a simple synth plays its MIDI: keys down, and
        keys up held by the sustain pedal (64); all-notes-off acts as every key up, all-sound-off
        and reset-all-controllers end what the pedal holds too.
    */
    int soundingNotes() const noexcept;
    bool isSounding(int channel, int note) const noexcept { return keyDown[index(channel, note)] || pedalHeld[index(channel, note)]; }
    bool sustainDown(int channel) const noexcept { return sustain[(size_t) channel - 1]; }

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
    static size_t index(int channel, int note) noexcept { return (size_t) ((channel - 1) * 128 + note); }
    void play(const juce::uint8* data, int size) noexcept;

    // Fixed tables: processBlock allocates nothing, so the container's allocation checks hold.
    std::array<ReceivedEvent, maxRecordedEvents> receivedEvents {};
    std::atomic<int> received { 0 };
    std::array<bool, 16 * 128> keyDown {};
    std::array<bool, 16 * 128> pedalHeld {};
    std::array<bool, 16> sustain {};

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
