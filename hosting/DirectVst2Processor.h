#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "Vst2.h"

#include <atomic>
#include <cstdint>
#include <memory>

/**
    Plays blocks of a hosted VST 2.x plugin through the plugin's own entry points: the block's MIDI
    through effProcessEvents, then processReplacing, or, for a plugin without it, the accumulating
    process into a cleared buffer of its own whose result is copied into the block.

    The framework's processBlock for hosted VST2 plugins takes the instance's incoming-MIDI lock in
    every block and grows its event list on the heap; this path takes no lock and allocates nothing
    for a block within the prepared size. Its event list has a fixed capacity: events beyond it are
    dropped (and counted), never a reason to allocate.

    Transport and tempo. A plugin asks its host for them with audioMasterGetTime, which the
    framework's hosting answers with a time record of the instance's own, kept current only by the
    framework's processBlock. create() asks the framework's host callback, once, for that record's
    address (the same answer the plugin gets); every block then writes the play head's position into
    it before the plugin runs, so the plugin sees the position advance, the tempo and the transport
    as the host gives them. No play head: the record keeps what it had, as with the framework.

    Threading: create() and prepare() on the message thread, never while process() runs (the
    container prepares under its callback lock); process() on the audio thread. droppedEvents() from
    any thread.
*/
class DirectVst2Processor
{
public:
    /** Events one block can carry to the plugin; the rest of a denser block is dropped. */
    static constexpr int eventCapacity = 1024;

    /**
        The path for a hosted VST2 instance; null for an instance of another format, or when the
        instance's time record cannot be reached (the caller then keeps the framework's processBlock).
    */
    static std::unique_ptr<DirectVst2Processor> create(juce::AudioPluginInstance& instance);

    ~DirectVst2Processor();

    /** Sizes the buffers for blocks of up to maximumBlockSize samples at the given rate. */
    void prepare(double sampleRate, int maximumBlockSize);

    /**
        Plays one block: buffer holds the plugin's channels (a channel the plugin has beyond the
        buffer's goes to scratch memory), midi the block's events; the plugin's output replaces the
        buffer's content. The MIDI buffer is left empty, as the framework leaves it for a plugin that
        sends nothing. Real-time safe for blocks within the prepared size; no exception leaves it.
    */
    void process(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi, juce::AudioPlayHead* playHead) noexcept;

    /** Events dropped so far because a block carried more than eventCapacity. */
    std::uint64_t droppedEvents() const noexcept { return dropped.load(std::memory_order_relaxed); }
    /** Blocks the plugin ended by throwing an exception out of its entry points (they were silenced). */
    std::uint64_t thrownBlocks() const noexcept { return thrown.load(std::memory_order_relaxed); }

    DirectVst2Processor(const DirectVst2Processor&) = delete;
    DirectVst2Processor& operator=(const DirectVst2Processor&) = delete;

private:
    struct EventList;
    union EventSlot;

    DirectVst2Processor(Vst2::AEffect& effect, Vst2::VstTimeInfo& timeInfo);

    /** Makes sure the scratch buffers hold numSamples; false if they cannot (nothing is played then). */
    bool fitBlock(int numSamples, int channels) noexcept;
    void writeTimeInfo(juce::AudioPlayHead* playHead) noexcept;
    void sendEvents(const juce::MidiBuffer& midi, int numSamples) noexcept;

    Vst2::AEffect& effect;
    Vst2::VstTimeInfo& timeInfo;
    double sampleRate = 44100.0;

    std::unique_ptr<EventList> events;
    std::unique_ptr<EventSlot[]> eventSlots;
    std::atomic<std::uint64_t> dropped { 0 };
    std::atomic<std::uint64_t> thrown { 0 };

    // Channel pointers handed to the plugin (inputs and outputs point to the same memory, as the
    // framework passes them), and the memory for channels the block's buffer does not have.
    int channelCapacity = 0;
    std::unique_ptr<float*[]> inputPointers;
    std::unique_ptr<float*[]> outputPointers;
    std::unique_ptr<float*[]> accumulatePointers;
    juce::AudioBuffer<float> scratch;
    juce::AudioBuffer<float> accumulated; // the accumulating process's own outputs
};
