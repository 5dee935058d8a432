// The container's processBlock inside a real-time context watched by RealtimeSanitizer: no
// allocation, free, lock, sleep or file operation anywhere in the container's own processing. A
// violation is reported with its stack and ends the process, so the test fails.
//
// The slots hold in-process instruments: the framework's VST2 hosting takes a lock of its own in
// every block (its incoming-MIDI lock, only ever taken on the audio thread), which the checker
// would report before anything of ours. What the hosted VST2 plugins themselves do in real time is
// shown by the canary (sanitizer_canary realtime-alloc).
#include "RealtimeContext.h"
#include "container/PluginContainerAudioProcessor.h"
#include "support/ContainerTestAccess.h"
#include "support/FakeInstrument.h"

#include <gtest/gtest.h>

namespace
{
constexpr int preparedBlock = 256;

struct RealtimeCase
{
    const char* what;
    int outputs0; // 0: slot empty
    int outputs1;
    int active;
};

// Test names carry the case's name, not the bytes of the struct (which hold an address).
void PrintTo(const RealtimeCase& c, std::ostream* os)
{
    *os << c.what;
}

class RealtimeSanitizer : public ::testing::TestWithParam<RealtimeCase>
{
};

TEST_P(RealtimeSanitizer, ProcessBlockIsRealtimeSafe)
{
    const auto& c = GetParam();
    PluginContainerAudioProcessor container;
    std::vector<FakeInstrument*> instruments;
    for (int slot = 0; slot < 2; ++slot)
        if (const int outputs = slot == 0 ? c.outputs0 : c.outputs1; outputs > 0)
        {
            auto instrument = std::make_unique<FakeInstrument>(slot + 1, outputs, 8);
            instruments.push_back(instrument.get());
            PluginContainerTestAccess::install(container, slot, std::move(instrument));
        }
    PluginContainerTestAccess::setActive(container, c.active);
    container.prepareToPlay(48000.0, preparedBlock);

    juce::AudioBuffer<float> buffer(2, preparedBlock);
    juce::MidiBuffer midi;
    midi.ensureSize(1024);

    for (int round = 0; round < 50; ++round)
        for (int numSamples : { preparedBlock, 64, 1, preparedBlock - 1 })
        {
            midi.clear();
            if (round % 2 == 0)
            {
                midi.addEvent(juce::MidiMessage::noteOn(1, 60 + round % 12, 0.8f), 0);
                midi.addEvent(juce::MidiMessage::noteOff(1, 60 + round % 12), numSamples - 1);
            }
            buffer.setSize(2, numSamples, false, false, true);
            const ScopedRealtimeContext realtime;
            container.processBlock(buffer, midi);
        }

    int played = 0;
    for (auto* instrument : instruments)
        played += instrument->blocksProcessed();
    const bool activeLoaded = (c.active == 0 ? c.outputs0 : c.outputs1) > 0;
    EXPECT_EQ(played, activeLoaded ? 200 : 0); // the active slot's instrument, and only it
}

INSTANTIATE_TEST_SUITE_P(Slots, RealtimeSanitizer,
                         ::testing::Values(RealtimeCase { "EmptySlots", 0, 0, 0 },
                                           RealtimeCase { "StereoInstrument", 2, 0, 0 },
                                           RealtimeCase { "MonoInstrument", 1, 2, 0 },
                                           RealtimeCase { "SixteenOutputsThroughTheAuxiliaryBuffer", 2, 16, 1 },
                                           RealtimeCase { "EmptyActiveSlotNextToAnInstrument", 2, 0, 1 }),
                         [](const auto& info) { return std::string(info.param.what); });
} // namespace
