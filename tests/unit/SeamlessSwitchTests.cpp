// What the host hears around a switch: one latency for both slots, so the standby comes out in step
// with the slot it replaces.
#include "container/OutputDelay.h"
#include "container/PluginContainerAudioProcessor.h"
#include "container/SwitchCrossfade.h"
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

} // namespace
