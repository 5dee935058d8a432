// What the host hears around a switch: one latency for both slots, so the standby comes out in step
// with the slot it replaces.
#include "container/OutputDelay.h"
#include "container/PluginContainerAudioProcessor.h"
#include "container/SwitchCrossfade.h"
#include "support/AllocationCounter.h"
#include "support/ContainerTestAccess.h"
#include "support/CrashSupport.h"
#include "support/FakeInstrument.h"
#include "support/FixtureFiles.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace
{
using Processor = PluginContainerAudioProcessor;
using Msg = juce::MidiMessage;
constexpr int blockSize = 64;

//==================================================================================================
// The delay line itself

TEST(OutputDelay, DelaysEveryChannelBySoManySamplesAcrossBlocksOfAnyLength)
{
    for (const int delaySamples : { 0, 1, 7, 64, 256 })
    {
        SCOPED_TRACE(delaySamples);
        pendulum::container::OutputDelay delay(2, delaySamples);
        EXPECT_EQ(delay.getDelaySamples(), delaySamples);

        // A ramp per channel, fed in blocks of changing length.
        std::vector<float> heard[2];
        int fed = 0;
        for (const int length : { 5, 64, 1, 300, 33, 128 })
        {
            juce::AudioBuffer<float> buffer(2, length);
            for (int i = 0; i < length; ++i)
            {
                buffer.setSample(0, i, (float) (fed + i + 1));
                buffer.setSample(1, i, -(float) (fed + i + 1));
            }
            delay.process(buffer);
            for (int channel = 0; channel < 2; ++channel)
                heard[channel].insert(heard[channel].end(), buffer.getReadPointer(channel), buffer.getReadPointer(channel) + length);
            fed += length;
        }

        for (int i = 0; i < fed; ++i)
        {
            const float expected = i < delaySamples ? 0.0f : (float) (i - delaySamples + 1);
            ASSERT_EQ(heard[0][(size_t) i], expected) << "sample " << i;
            ASSERT_EQ(heard[1][(size_t) i], -expected) << "sample " << i;
        }
    }
}

TEST(OutputDelay, AClearedLineGivesSilenceBeforeWhatComesNext)
{
    pendulum::container::OutputDelay delay(1, 16);
    juce::AudioBuffer<float> buffer(1, 16);
    for (int i = 0; i < 16; ++i)
        buffer.setSample(0, i, 1.0f);
    delay.process(buffer);
    delay.clear();

    buffer.clear();
    delay.process(buffer);
    EXPECT_EQ(buffer.getMagnitude(0, 0, 16), 0.0f);
}

//==================================================================================================
// Two plugins of different latencies in one container

class LatencyAlignment : public ::testing::Test
{
protected:
    void SetUp() override
    {
        container = std::make_unique<Processor>();
        container->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        container->prepareToPlay(44100.0, blockSize);
        container->addListener(&listener);
    }

    void TearDown() override { container->removeListener(&listener); }

    void load(int slot, const char* fixture)
    {
        StdoutCapture quiet;
        ASSERT_TRUE(container->loadPlugin(slot, FixtureFiles::path(fixture), {}));
    }

    bool switchTo(int slot)
    {
        StdoutCapture quiet;
        return container->setActivePlugin(slot);
    }

    /** Blocks of channel 0, one after the other; events go into the first block at their offsets. */
    std::vector<float> play(int numBlocks, const std::vector<std::pair<Msg, int>>& events = {})
    {
        std::vector<float> heard;
        for (int block = 0; block < numBlocks; ++block)
        {
            juce::AudioBuffer<float> buffer(2, blockSize);
            juce::MidiBuffer midi;
            if (block == 0)
                for (const auto& [message, offset] : events)
                    midi.addEvent(message, offset);
            processLikeWrapper(*container, buffer, midi);
            heard.insert(heard.end(), buffer.getReadPointer(0), buffer.getReadPointer(0) + blockSize);
        }
        return heard;
    }

    /**
        A note struck at noteOffset of the first block and let go after a while, then silence long
        enough to leave every delay empty. Returns what the host heard.
    */
    std::vector<float> strike(int noteOffset)
    {
        auto heard = play(12, { { Msg::noteOn(1, 69, (juce::uint8) 127), noteOffset } });
        const auto tail = play(12, { { Msg::noteOff(1, 69), 0 } });
        heard.insert(heard.end(), tail.begin(), tail.end());
        return heard;
    }

    static int firstNonZero(const std::vector<float>& samples)
    {
        for (size_t i = 0; i < samples.size(); ++i)
            if (samples[i] != 0.0f)
                return (int) i;
        return -1;
    }

    struct LatencyListener : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}
        void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails& details) override
        {
            latencyChanges += details.latencyChanged ? 1 : 0;
        }
        int latencyChanges = 0;
    } listener;

    FixtureFiles files;
    DialogScript script;
    std::unique_ptr<Processor> container;
};

struct AlignmentCase
{
    const char* slot0;
    const char* slot1;
    int reported;       // what the host is told once both are loaded
    int latencyChanges; // how often it is told, over both loads
};

class LatencyAlignmentCases : public LatencyAlignment, public ::testing::WithParamInterface<AlignmentCase>
{
};

TEST_P(LatencyAlignmentCases, TheHostIsToldTheLargerLatencyAtTheLoadsAndEitherSlotIsHeardAtItToTheSample)
{
    const auto& c = GetParam();
    load(0, c.slot0);
    load(1, c.slot1);
    EXPECT_EQ(container->getLatencySamples(), c.reported);
    EXPECT_EQ(listener.latencyChanges, c.latencyChanges);

    constexpr int noteOffset = 10;
    const auto reference = strike(noteOffset);
    ASSERT_EQ(firstNonZero(reference), noteOffset + c.reported); // slot 0, the first to play

    for (int round = 0; round < 6; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        const int slot = 1 - container->getActivePluginIndex();
        ASSERT_TRUE(switchTo(slot));
        const auto heard = strike(noteOffset);
        // The same instrument: the same samples at the same place, whichever slot plays them.
        ASSERT_EQ(firstNonZero(heard), noteOffset + c.reported);
        EXPECT_EQ(heard, reference);
    }

    EXPECT_EQ(container->getLatencySamples(), c.reported);
    EXPECT_EQ(listener.latencyChanges, c.latencyChanges); // the switches told the host nothing
}

INSTANTIATE_TEST_SUITE_P(
    Slots, LatencyAlignmentCases,
    ::testing::Values(AlignmentCase { "LatencySynth0", "LatencySynth256", 256, 1 },
                      AlignmentCase { "LatencySynth256", "LatencySynth0", 256, 1 },
                      AlignmentCase { "LatencySynth256", "LatencySynth512", 512, 2 },
                      AlignmentCase { "LatencySynth256", "LatencySynth256", 256, 1 }),
    [](const auto& info) { return std::string(info.param.slot0) + "_" + info.param.slot1; });

TEST_F(LatencyAlignment, OnlyLoadsAndUnloadsChangeWhatTheHostIsTold)
{
    load(0, "LatencySynth0");
    EXPECT_EQ(listener.latencyChanges, 0);
    load(1, "LatencySynth512");
    EXPECT_EQ(container->getLatencySamples(), 512);
    EXPECT_EQ(listener.latencyChanges, 1);

    // Slot 1 gets a plugin of a smaller latency: the larger of the two is now 256.
    load(1, "LatencySynth256");
    EXPECT_EQ(container->getLatencySamples(), 256);
    EXPECT_EQ(listener.latencyChanges, 2);

    // A switch to it and back tells nothing; the unload of the inactive slot leaves slot 0's 0.
    ASSERT_TRUE(switchTo(1));
    ASSERT_TRUE(switchTo(0));
    EXPECT_EQ(listener.latencyChanges, 2);
    {
        StdoutCapture quiet;
        container->unloadPlugin(1, false, true);
    }
    EXPECT_EQ(container->getLatencySamples(), 0);
    EXPECT_EQ(listener.latencyChanges, 3);

    // Slot 0 now plays undelayed: its note is heard where it was struck.
    EXPECT_EQ(firstNonZero(strike(10)), 10);
}

TEST_F(LatencyAlignment, AReloadAfterACrashKeepsTheLatencyTheHostWasTold)
{
    load(0, "LatencySynth0");
    load(1, "LatencySynth256");
    ASSERT_EQ(listener.latencyChanges, 1);
    {
        StdoutCapture quiet;
        container->recoverPlugin(1);
    }
    ASSERT_NE(container->getPluginInstance(1), nullptr);
    EXPECT_EQ(container->getLatencySamples(), 256);
    EXPECT_EQ(listener.latencyChanges, 1);
}

TEST_F(LatencyAlignment, ASlotMadeActiveAgainDoesNotReplayWhatItsDelayHeldAtItsLastTurn)
{
    load(0, "LatencySynth0"); // delayed by 256 in the container
    load(1, "LatencySynth256");

    // The note is let go and the switch follows at once: slot 0's delay still holds its last tone.
    auto heard = play(8, { { Msg::noteOn(1, 69, (juce::uint8) 127), 0 } });
    ASSERT_GT(*std::max_element(heard.begin(), heard.end()), 0.1f);
    play(1, { { Msg::noteOff(1, 69), 0 } });
    ASSERT_TRUE(switchTo(1));
    play(16);
    ASSERT_TRUE(switchTo(0));

    heard = play(8);
    EXPECT_EQ(firstNonZero(heard), -1);
}

//==================================================================================================
// The crossfade of a switch by hand

TEST_F(LatencyAlignment, ASwitchByHandFadesTheOldPluginOutWithinTheBlockOfTheSwitch)
{
    const int fiveMs = pendulum::container::SwitchCrossfade::lengthAt(44100.0);
    for (const int frames : { 64, 512 }) // shorter than the fade, and longer
    {
        SCOPED_TRACE("blocks of " + std::to_string(frames));
        SetUp();

        // Slot 0 sounds on both channels, slot 1 (one output) on the first only: what the second
        // channel carries after the switch is the old plugin's alone.
        container->prepareToPlay(44100.0, frames);
        load(0, "LatencySynth0");
        load(1, "MonoSynth");

        // What slot 0 would have played without the switch, from a container of its own.
        Processor reference;
        reference.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        reference.prepareToPlay(44100.0, frames);
        {
            StdoutCapture quiet;
            ASSERT_TRUE(reference.loadPlugin(0, FixtureFiles::path("LatencySynth0"), {}));
        }
        std::vector<float> heard[2];
        const auto playBoth = [&](int numBlocks, const std::vector<std::pair<Msg, int>>& events) {
            heard[0].clear();
            heard[1].clear();
            for (int block = 0; block < numBlocks; ++block)
            {
                for (auto* processor : { container.get(), &reference })
                {
                    juce::AudioBuffer<float> buffer(2, frames);
                    juce::MidiBuffer midi;
                    if (block == 0)
                        for (const auto& [message, offset] : events)
                            midi.addEvent(message, offset);
                    processLikeWrapper(*processor, buffer, midi);
                    auto& into = heard[processor == &reference ? 1 : 0];
                    into.insert(into.end(), buffer.getReadPointer(1), buffer.getReadPointer(1) + frames);
                }
            }
        };

        playBoth(3, { { Msg::noteOn(1, 69, (juce::uint8) 127), 5 } });
        ASSERT_EQ(heard[0], heard[1]);

        ASSERT_TRUE(switchTo(1));
        playBoth(4, {});

        const int length = std::min(fiveMs, frames);
        float peak = 0.0f;
        for (int i = 0; i < (int) heard[0].size(); ++i)
        {
            const auto gain = pendulum::container::SwitchCrossfade::gainAt(i, length);
            const float expected = i < length ? heard[1][(size_t) i] * (1.0f - gain) : 0.0f;
            ASSERT_NEAR(heard[0][(size_t) i], expected, 1e-6f) << "sample " << i;
            peak = std::max(peak, std::abs(heard[0][(size_t) i]));
        }
        EXPECT_GT(peak, 0.25f); // the old plugin was heard going, not silence that matched
        TearDown();
    }
}

//==================================================================================================
// Hot standby, with in-process instruments that record what they get

struct HotStandby : ::testing::Test
{
    void SetUp() override
    {
        auto a = std::make_unique<FakeInstrument>(1, 2, 0);
        auto b = std::make_unique<FakeInstrument>(2, 2, 0);
        plugins[0] = a.get();
        plugins[1] = b.get();
        PluginContainerTestAccess::install(container, 0, std::move(a));
        PluginContainerTestAccess::install(container, 1, std::move(b));
        container.prepareToPlay(48000.0, blockSize);
        StdoutCapture quiet;
        container.setHotStandby(true);
    }

    void play(std::initializer_list<std::pair<Msg, int>> events = {})
    {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        for (const auto& [message, sample] : events)
            midi.addEvent(message, sample);
        processLikeWrapper(container, buffer, midi);
    }

    bool switchTo(int slot)
    {
        StdoutCapture quiet;
        return container.setActivePlugin(slot);
    }

    /** How many note-ons of the key the plugin has received in all. */
    int noteOnsOf(int slot, int note) const
    {
        int count = 0;
        for (int i = 0; i < plugins[(size_t) slot]->numReceived(); ++i)
        {
            const auto message = plugins[(size_t) slot]->receivedEvent(i).message();
            count += message.isNoteOn() && message.getNoteNumber() == note ? 1 : 0;
        }
        return count;
    }

    Processor container;
    std::array<FakeInstrument*, 2> plugins {};
};

TEST_F(HotStandby, TheStandbyPlaysEveryBlockAndASwitchToItStrikesNoNoteAgain)
{
    EXPECT_EQ(container.getHotStandbySlot(), 1);
    play({ { Msg::controllerEvent(1, 64, 127), 0 }, { Msg::noteOn(1, 60, (juce::uint8) 100), 3 },
           { Msg::noteOn(1, 64, (juce::uint8) 90), 9 } });
    EXPECT_EQ(plugins[0]->blocksProcessed(), plugins[1]->blocksProcessed());
    EXPECT_EQ(plugins[1]->soundingNotes(), 2);
    EXPECT_TRUE(plugins[1]->sustainDown(1));

    for (int round = 0; round < 100; ++round)
    {
        const int to = 1 - container.getActivePluginIndex();
        ASSERT_TRUE(switchTo(to));
        EXPECT_EQ(container.getHotStandbySlot(), 1 - to) << "round " << round; // the old one plays along
        play({ { Msg::noteOff(1, 64), 20 }, { Msg::noteOn(1, 64, (juce::uint8) 90), 40 } });
        for (int slot = 0; slot < 2; ++slot)
            ASSERT_EQ(plugins[(size_t) slot]->soundingNotes(), 2) << "round " << round << ", slot " << slot;
    }

    // Each plugin got key 60 once (the standby as it was struck), never again at a switch.
    EXPECT_EQ(noteOnsOf(0, 60), 1);
    EXPECT_EQ(noteOnsOf(1, 60), 1);
    EXPECT_EQ(plugins[0]->blocksProcessed(), plugins[1]->blocksProcessed());

    play({ { Msg::noteOff(1, 60), 0 }, { Msg::noteOff(1, 64), 0 }, { Msg::controllerEvent(1, 64, 0), 1 } });
    EXPECT_EQ(plugins[0]->soundingNotes(), 0);
    EXPECT_EQ(plugins[1]->soundingNotes(), 0);
}

TEST_F(HotStandby, TurnedOnDuringAChordTheStandbyCatchesUpAndTurnedOffItLetsGoAndRests)
{
    {
        StdoutCapture quiet;
        container.setHotStandby(false);
    }
    EXPECT_EQ(container.getHotStandbySlot(), -1);
    play({ { Msg::noteOn(1, 60, (juce::uint8) 100), 0 }, { Msg::noteOn(1, 67, (juce::uint8) 100), 0 } });
    EXPECT_EQ(plugins[1]->soundingNotes(), 0);
    const int restingBlocks = plugins[1]->blocksProcessed();
    play();
    EXPECT_EQ(plugins[1]->blocksProcessed(), restingBlocks); // off: the standby is not played

    {
        StdoutCapture quiet;
        container.setHotStandby(true);
    }
    play();
    EXPECT_EQ(plugins[1]->soundingNotes(), 2); // the chord, from the stream's state
    EXPECT_EQ(noteOnsOf(1, 60), 1);

    {
        StdoutCapture quiet;
        container.setHotStandby(false);
    }
    EXPECT_EQ(plugins[1]->soundingNotes(), 0); // let go at once
    const int blocks = plugins[1]->blocksProcessed();
    play();
    EXPECT_EQ(plugins[1]->blocksProcessed(), blocks);
}

TEST_F(HotStandby, ACrashedStandbyIsNotPlayed)
{
    play({ { Msg::noteOn(1, 60, (juce::uint8) 100), 0 } });
    PluginContainerTestAccess::markCrashed(container, 1);
    const int blocks = plugins[1]->blocksProcessed();
    play();
    EXPECT_EQ(plugins[1]->blocksProcessed(), blocks);
}

TEST_F(HotStandby, TheSwitchAwayFromACrashedPluginKeepsTheStandbysNotesAndLeavesNoStandby)
{
    play({ { Msg::noteOn(1, 60, (juce::uint8) 100), 0 } });
    PluginContainerTestAccess::markCrashed(container, 0);
    ASSERT_TRUE(switchTo(1));
    EXPECT_EQ(container.getHotStandbySlot(), -1);

    const int blocks = plugins[0]->blocksProcessed();
    play();
    EXPECT_EQ(plugins[0]->blocksProcessed(), blocks); // neither played along nor released
    EXPECT_EQ(plugins[1]->soundingNotes(), 1);
    EXPECT_EQ(noteOnsOf(1, 60), 1);
}

TEST_F(HotStandby, BlocksWithTheStandbyAndTheBlockOfASwitchToItAllocateNothing)
{
    if (!ScopedAllocationCount::isAvailable())
        GTEST_SKIP() << "allocations are not counted in sanitizer builds";

    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    midi.ensureSize(1024);
    for (int i = 0; i < 20; ++i)
        midi.addEvent(Msg::noteOn(1, 60 + i, (juce::uint8) 100), i);
    processLikeWrapper(container, buffer, midi); // the standby's first block, with its catch-up

    for (int round = 0; round < 4; ++round)
    {
        if (round % 2 == 1)
            ASSERT_TRUE(switchTo(1 - container.getActivePluginIndex()));
        ScopedAllocationCount counter;
        processLikeWrapper(container, buffer, midi);
        EXPECT_EQ(counter.allocations(), 0u) << "round " << round;
    }
    EXPECT_EQ(plugins[0]->blocksProcessed(), plugins[1]->blocksProcessed());
}

//==================================================================================================
// Hot standby with real plugins: a switch the host cannot hear

TEST_F(LatencyAlignment, WithAHotStandbyASwitchByHandIsSeamlessToTheSample)
{
    // Both slots play the same tone; slot 1 with a latency of 256, slot 0 without. The reference is
    // the same pair never switched.
    Processor reference;
    reference.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    reference.prepareToPlay(44100.0, blockSize);
    {
        StdoutCapture quiet;
        ASSERT_TRUE(reference.loadPlugin(0, FixtureFiles::path("LatencySynth0"), {}));
        ASSERT_TRUE(reference.loadPlugin(1, FixtureFiles::path("LatencySynth256"), {}));
        container->setHotStandby(true);
    }
    load(0, "LatencySynth0");
    load(1, "LatencySynth256");
    ASSERT_EQ(container->getHotStandbySlot(), 1);

    float peak = 0.0f;
    for (int block = 0; block < 60; ++block)
    {
        if (block % 7 == 3)
            ASSERT_TRUE(switchTo(1 - container->getActivePluginIndex()));

        juce::AudioBuffer<float> heard(2, blockSize), expected(2, blockSize);
        juce::MidiBuffer midi;
        if (block == 1)
            midi.addEvent(Msg::noteOn(1, 69, (juce::uint8) 127), 17);
        if (block == 40)
            midi.addEvent(Msg::noteOff(1, 69), 5);
        juce::MidiBuffer copy(midi);
        processLikeWrapper(*container, heard, midi);
        processLikeWrapper(reference, expected, copy);

        for (int channel = 0; channel < 2; ++channel)
            for (int i = 0; i < blockSize; ++i)
                ASSERT_NEAR(heard.getSample(channel, i), expected.getSample(channel, i), 1e-6f)
                    << "block " << block << ", channel " << channel << ", sample " << i;
        peak = std::max(peak, heard.getMagnitude(0, 0, blockSize));
    }
    EXPECT_GT(peak, 0.25f); // a tone was heard, not silence that matched
}

//==================================================================================================
// The hot standby in the state document

TEST(HotStandbyDocument, IsAnAttributeOfItsOwnAfterTheOthersAndADocumentWithoutItLeavesItOff)
{
    StdoutCapture quiet;
    const auto save = [](Processor& container) {
        juce::MemoryBlock block;
        container.getStateInformation(block);
        return block.toString();
    };

    Processor writer;
    const auto off = save(writer);
    EXPECT_FALSE(off.contains("hotStandby"));
    writer.setHotStandby(true);
    const auto on = save(writer);
    EXPECT_TRUE(on.contains(" hotStandby=\"1\"/>")); // the last attribute of main_plugin
    // Everything else stays where it was: readers that count attributes find what they did.
    EXPECT_EQ(on.replace(" hotStandby=\"1\"", ""), off);

    Processor reader;
    reader.setStateInformation(on.toRawUTF8(), (int) on.getNumBytesAsUTF8());
    EXPECT_TRUE(reader.isHotStandby());
    EXPECT_EQ(save(reader), on);
    reader.setStateInformation(off.toRawUTF8(), (int) off.getNumBytesAsUTF8());
    EXPECT_FALSE(reader.isHotStandby());
}

} // namespace
