// A hosted VST2 plugin played through its own entry points: the time info it asks its host for
// follows the container's play head, a block's events reach it (as many as the event list holds,
// the rest counted, nothing allocated), and a plugin with only the accumulating process gets
// cleared outputs.
#include "container/PluginContainerAudioProcessor.h"
#include "hosting/DirectVst2Processor.h"
#include "hosting/EffectHandle.h"
#include "support/AllocationCounter.h"
#include "support/FixtureFiles.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include "TransportRecord.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{
namespace transport = pendulum::fixtures::transport;

constexpr int blockSize = 256;
constexpr double sampleRate = 48000.0;

class ScriptedPlayHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override { return position; }
    PositionInfo position;
};

/** A container prepared for 48 kHz and 256-sample blocks with one fixture loaded into slot 0. */
struct HostedFixture
{
    explicit HostedFixture(const char* fixture)
    {
        container.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        container.prepareToPlay(sampleRate, blockSize);
        StdoutCapture quiet;
        loaded = container.loadPlugin(0, FixtureFiles::path(fixture), {});
    }

    Vst2::AEffect& effect() { return *vstEffectOf(*container.getPluginInstance(0)); }

    std::vector<transport::BlockRecord> records()
    {
        std::vector<transport::BlockRecord> out((size_t) transport::kCapacity);
        const auto count = effect().dispatcher(&effect(), Vst2::effVendorSpecific, transport::kRecordsIndex,
                                               (Vst2::VstIntPtr) out.size(), out.data(), 0.0f);
        out.resize((size_t) juce::jmax<Vst2::VstIntPtr>(0, count));
        return out;
    }

    DialogScript script;
    PluginContainerAudioProcessor container;
    bool loaded = false;
};

// The play head moves on by a block each time; the tempo changes, the transport starts and stops, the
// musical position is sometimes missing: the plugin's own question gets the block's answer every time.
TEST(HostedVst2, TheTimeInfoAPluginAsksForFollowsTheContainersPlayHead)
{
    HostedFixture hosted("TransportSynth");
    ASSERT_TRUE(hosted.loaded);
    ScriptedPlayHead playHead;
    hosted.container.setPlayHead(&playHead);

    constexpr int numBlocks = 16;
    constexpr juce::int64 start = 48000 * 3;
    const auto bpmOf = [](int n) { return n < 8 ? 120.0 : 93.5; };
    const auto playingIn = [](int n) { return n >= 2 && n < 12; };
    const auto ppqOf = [&](int n) { return (double) (start + n * blockSize) / sampleRate * bpmOf(n) / 60.0; };
    const auto hasPpq = [](int n) { return n % 5 != 4; };

    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    for (int n = 0; n < numBlocks; ++n)
    {
        auto& position = playHead.position;
        position.setTimeInSamples(start + n * blockSize);
        position.setBpm(bpmOf(n));
        position.setIsPlaying(playingIn(n));
        position.setTimeSignature(juce::AudioPlayHead::TimeSignature { 7, 8 });
        position.setPpqPosition(hasPpq(n) ? juce::Optional<double>(ppqOf(n)) : juce::nullopt);
        position.setPpqPositionOfLastBarStart(std::floor(ppqOf(n) / 3.5) * 3.5);
        processLikeWrapper(hosted.container, buffer, midi);
    }
    hosted.container.setPlayHead(nullptr);

    const auto records = hosted.records();
    ASSERT_EQ(records.size(), (size_t) numBlocks);
    for (int n = 0; n < numBlocks; ++n)
    {
        SCOPED_TRACE("block " + std::to_string(n));
        const auto& r = records[(size_t) n];
        ASSERT_EQ(r.hasTime, 1);
        EXPECT_EQ(r.samplePos, (double) (start + n * blockSize));
        EXPECT_EQ(r.sampleRate, sampleRate);
        EXPECT_EQ(r.tempo, bpmOf(n));
        EXPECT_NE(r.flags & Vst2::kVstTempoValid, 0);
        EXPECT_EQ((r.flags & Vst2::kVstTransportPlaying) != 0, playingIn(n));
        EXPECT_EQ((r.flags & Vst2::kVstTransportChanged) != 0, n == 2 || n == 12); // started, stopped
        EXPECT_EQ((r.flags & Vst2::kVstPpqPosValid) != 0, hasPpq(n));
        if (hasPpq(n))
            EXPECT_EQ(r.ppqPos, ppqOf(n));
        EXPECT_EQ(r.barStartPos, std::floor(ppqOf(n) / 3.5) * 3.5);
        EXPECT_NE(r.flags & Vst2::kVstTimeSigValid, 0);
        EXPECT_EQ(r.timeSigNumerator, 7);
        EXPECT_EQ(r.timeSigDenominator, 8);
        EXPECT_EQ(r.frames, blockSize);
    }
}

struct EventCase
{
    const char* what;
    int notes;
    int sysexMessages; // after the notes, at the end of the block
    int expectedMidi;
    int expectedSysex;
    int expectedDropped;
};

void PrintTo(const EventCase& c, std::ostream* os)
{
    *os << c.what;
}

class HostedVst2Events : public ::testing::TestWithParam<EventCase>
{
};

// A block's events arrive in one list of fixed capacity: what does not fit is dropped and counted,
// and the block allocates nothing either way.
TEST_P(HostedVst2Events, ReachThePluginUpToTheListsCapacityAndTheRestIsCounted)
{
    const auto& c = GetParam();
    HostedFixture hosted("TransportSynth");
    ASSERT_TRUE(hosted.loaded);

    constexpr int sysexBytes = 12;
    const juce::uint8 sysex[sysexBytes - 2] = { 0x7d, 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    juce::MidiBuffer midi;
    midi.ensureSize(64 * 1024);
    for (int i = 0; i < c.notes; ++i)
        midi.addEvent(juce::MidiMessage::noteOn(1, 36 + i % 48, (juce::uint8) 80), i % (blockSize - 1));
    for (int i = 0; i < c.sysexMessages; ++i)
        midi.addEvent(juce::MidiMessage::createSysExMessage(sysex, (int) sizeof(sysex)), blockSize - 1);
    juce::MidiBuffer empty;
    empty.ensureSize(64);

    juce::AudioBuffer<float> buffer(2, blockSize);
    std::size_t allocations = 0;
    {
        ScopedAllocationCount counter;
        processLikeWrapper(hosted.container, buffer, midi);
        processLikeWrapper(hosted.container, buffer, empty);
        allocations = counter.allocations();
    }

    const auto records = hosted.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].midiEvents, c.expectedMidi);
    EXPECT_EQ(records[0].sysexEvents, c.expectedSysex);
    EXPECT_EQ(records[0].sysexBytes, c.expectedSysex * sysexBytes);
    EXPECT_EQ(records[1].midiEvents + records[1].sysexEvents, 0); // nothing left over for the next block
    EXPECT_EQ(hosted.container.getDroppedMidiEventCount(0), (std::uint64_t) c.expectedDropped);
    if (ScopedAllocationCount::isAvailable())
        EXPECT_EQ(allocations, 0u);
}

constexpr int capacity = DirectVst2Processor::eventCapacity;

INSTANTIATE_TEST_SUITE_P(
    Blocks, HostedVst2Events,
    ::testing::Values(EventCase { "AFewNotes", 10, 0, 10, 0, 0 },
                      EventCase { "NotesAndSystemExclusive", 6, 2, 6, 2, 0 },
                      EventCase { "AsManyAsTheListHolds", capacity, 0, capacity, 0, 0 },
                      EventCase { "MoreNotesThanTheListHolds", capacity + 476, 0, capacity, 0, 476 },
                      EventCase { "SystemExclusiveBeyondAFullList", capacity, 3, capacity, 0, 3 }),
    [](const auto& info) { return std::string(info.param.what); });

// The accumulating process adds to what its outputs hold: whatever the host's buffer held must not
// come out with the plugin's voices.
TEST(HostedVst2, APluginWithOnlyTheAccumulatingProcessGetsClearedOutputs)
{
    juce::AudioBuffer<float> outputs[2];
    for (int run = 0; run < 2; ++run)
    {
        HostedFixture hosted("AccumulatingSynth");
        ASSERT_TRUE(hosted.loaded);
        juce::MidiBuffer midi;
        midi.addEvent(juce::MidiMessage::noteOn(1, 69, (juce::uint8) 100), 0);

        auto& buffer = outputs[run];
        buffer.setSize(2, blockSize);
        // The first run's buffer holds what a host's buffer may hold from before; the second's is clear.
        for (int channel = 0; channel < 2; ++channel)
            juce::FloatVectorOperations::fill(buffer.getWritePointer(channel), run == 0 ? 0.25f : 0.0f, blockSize);
        processLikeWrapper(hosted.container, buffer, midi, false);
    }

    EXPECT_GT(outputs[1].getMagnitude(0, 0, blockSize), 0.05f); // the voice sounds
    for (int channel = 0; channel < 2; ++channel)
        for (int i = 0; i < blockSize; ++i)
            ASSERT_EQ(outputs[0].getSample(channel, i), outputs[1].getSample(channel, i))
                << "channel " << channel << " sample " << i;
}
} // namespace
