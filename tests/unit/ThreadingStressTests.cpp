// Switches and loads on the message thread while another thread keeps processing, as a host's
// audio thread does. Meant to be run under ThreadSanitizer as well (PENDULUM_TSAN).
#include "container/PluginContainerAudioProcessor.h"
#include "support/FixtureFiles.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace
{
TEST(ThreadingStress, AHotStandbyIsSwitchedToReloadedAndTurnedOffAndOnWhileAudioRuns)
{
    // The standby slot is played by the audio thread: loads into it, switches to and from it and
    // the option itself change under a running block stream.
    constexpr int blockSize = 64;
    constexpr int switches = 600;

    DialogScript script;
    PluginContainerAudioProcessor container;
    container.setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
    container.prepareToPlay(48000.0, blockSize);

    StdoutCapture quiet;
    const juce::String synths[] = { FixtureFiles::path("PlainSynth"), FixtureFiles::path("LatencySynth256"),
                                    FixtureFiles::path("WideSynth") };
    ASSERT_TRUE(container.loadPlugin(0, synths[0], {}));
    ASSERT_TRUE(container.loadPlugin(1, synths[1], {}));
    container.setHotStandby(true);

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };
    std::atomic<int> badSamples { 0 };

    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        midi.ensureSize(256);
        int n = 0;
        while (!stop.load())
        {
            midi.clear();
            if (n++ % 8 == 0)
                midi.addEvent(juce::MidiMessage::noteOn(1, 60 + n % 12, (juce::uint8) 90), 0);
            if (n % 8 == 4)
                midi.addEvent(juce::MidiMessage::noteOff(1, 60 + (n - 4) % 12), 0);
            processLikeWrapper(container, buffer, midi);
            for (int channel = 0; channel < 2; ++channel)
                for (int i = 0; i < blockSize; ++i)
                    if (!std::isfinite(buffer.getSample(channel, i)) || std::abs(buffer.getSample(channel, i)) > 4.0f)
                        ++badSamples;
            ++blocks;
        }
    });

    for (int i = 0; i < switches; ++i)
    {
        ASSERT_TRUE(container.setActivePlugin(1 - container.getActivePluginIndex())) << "switch " << i;
        if (i % 5 == 0)
            ASSERT_TRUE(container.loadPlugin(1 - container.getActivePluginIndex(), synths[(i / 5) % 3], {})) << "load " << i;
        if (i % 7 == 0)
            container.setHotStandby(!container.isHotStandby());
        if (i % 11 == 0)
            container.unloadPlugin(1 - container.getActivePluginIndex(), false, true);
        if (container.getPluginInstance(1 - container.getActivePluginIndex()) == nullptr)
            ASSERT_TRUE(container.loadPlugin(1 - container.getActivePluginIndex(), synths[i % 3], {}));
    }

    stop = true;
    audio.join();
    quiet.take();

    EXPECT_GT(blocks.load(), 0);
    EXPECT_EQ(badSamples.load(), 0);
    EXPECT_FALSE(container.isSuspended());
}

TEST(ThreadingStress, SwitchesAndInactiveSlotLoadsWhileAudioRuns)
{
    constexpr int blockSize = 64;
    constexpr int switches = 3000;
    constexpr int loadEvery = 4; // one load into the inactive slot every few switches

    DialogScript script;
    PluginContainerAudioProcessor container;
    container.setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
    container.prepareToPlay(48000.0, blockSize);

    StdoutCapture quiet; // thousands of loader diagnostics
    const juce::String synths[] = { FixtureFiles::path("PlainSynth"), FixtureFiles::path("LatencySynth256"),
                                    FixtureFiles::path("WideSynth") };
    ASSERT_TRUE(container.loadPlugin(0, synths[0], {}));
    ASSERT_TRUE(container.loadPlugin(1, synths[1], {}));

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };
    std::atomic<int> badSamples { 0 };

    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        midi.ensureSize(256);
        int n = 0;
        while (!stop.load())
        {
            midi.clear();
            if (n++ % 8 == 0)
                midi.addEvent(juce::MidiMessage::noteOn(1, 60 + n % 12, (juce::uint8) 90), 0);
            processLikeWrapper(container, buffer, midi);
            for (int channel = 0; channel < 2; ++channel)
                for (int i = 0; i < blockSize; ++i)
                    if (!std::isfinite(buffer.getSample(channel, i)) || std::abs(buffer.getSample(channel, i)) > 4.0f)
                        ++badSamples;
            ++blocks;
        }
    });

    int loads = 0;
    for (int i = 0; i < switches; ++i)
    {
        const int target = 1 - container.getActivePluginIndex();
        ASSERT_TRUE(container.setActivePlugin(target)) << "switch " << i;

        if (i % loadEvery == 0)
        {
            const int inactive = 1 - container.getActivePluginIndex();
            ASSERT_TRUE(container.loadPlugin(inactive, synths[(i / loadEvery) % 3], {})) << "load " << i;
            ++loads;
        }
    }

    stop = true;
    audio.join();
    quiet.take();

    EXPECT_GT(blocks.load(), 0);
    EXPECT_EQ(badSamples.load(), 0);
    EXPECT_EQ(loads, switches / loadEvery);
    EXPECT_FALSE(container.isSuspended());
    EXPECT_NE(container.getPluginInstance(0), nullptr);
    EXPECT_NE(container.getPluginInstance(1), nullptr);
}
} // namespace
