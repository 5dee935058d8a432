// Failures found in the audio itself: the output health check (the judge alone, then the container
// switching away from a plugin whose output is not finite or stuck), and offline rendering, where
// the rendering thread asks the crash query by the audio rendered rather than by the clock.
#include "LateFault.h"
#include "container/OutputHealth.h"
#include "container/PluginContainerAudioProcessor.h"
#include "support/AllocationCounter.h"
#include "support/ConsoleProbe.h"
#include "support/CrashSupport.h"
#include "support/FixtureFiles.h"
#include "support/HelperSupport.h"
#include "support/PanelProbe.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

namespace
{
using Processor = PluginContainerAudioProcessor;
using Health = pendulum::container::OutputHealth;
using Msg = juce::MidiMessage;

constexpr double rate = 48000.0;

//==================================================================================================
// The judge alone, over two seconds of generated blocks

struct SignalCase
{
    const char* what;
    int blockSize;
    // Sample i of channel c of block b.
    std::function<float(int block, int channel, int i)> sample;
    Health::Verdict expected; // the first verdict other than healthy, or healthy for two seconds
    int firstFailingBlock;    // where it comes (ignored when healthy)
};

void PrintTo(const SignalCase& c, std::ostream* os)
{
    *os << c.what;
}

// A sound without a period: the same "music" every block when replayed, never within a block.
float music(int i)
{
    const auto x = (unsigned) i * 2654435761u;
    return ((float) (x >> 8) / (float) (1u << 24) - 0.5f) * 0.8f;
}

float sine(double hz, long long n)
{
    return (float) std::sin(2.0 * juce::MathConstants<double>::pi * hz * (double) n / rate);
}

class OutputHealthSignals : public ::testing::TestWithParam<SignalCase>
{
};

TEST_P(OutputHealthSignals, TripsOnlyOnNonFiniteOrReplayedAudibleBlocks)
{
    const auto& c = GetParam();
    Health health;
    const int blocks = (int) (2.0 * rate) / c.blockSize;
    juce::AudioBuffer<float> buffer(2, c.blockSize);

    for (int block = 0; block < blocks; ++block)
    {
        for (int channel = 0; channel < 2; ++channel)
            for (int i = 0; i < c.blockSize; ++i)
                buffer.setSample(channel, i, c.sample(block, channel, i));

        const auto verdict = health.check(buffer, 2, rate);
        if (verdict == Health::Verdict::healthy)
            continue;
        EXPECT_EQ(verdict, c.expected) << "block " << block;
        EXPECT_EQ(block, c.firstFailingBlock);
        if (verdict == Health::Verdict::stuck)
        {
            // Reported as the run's length: just past the limit, within one block.
            EXPECT_GT(health.stuckForMs(), Health::stuckLimitMs);
            EXPECT_LE(health.stuckForMs(), Health::stuckLimitMs + c.blockSize * 1000.0 / rate);
        }
        return;
    }
    EXPECT_EQ(c.expected, Health::Verdict::healthy) << "never tripped";
}

// 250 ms at 48 kHz is 12000 samples: a run of identical 64-sample blocks passes it with its 188th
// block (12032 samples), of 256-sample blocks with its 47th (12032).
INSTANTIATE_TEST_SUITE_P(
    Signals, OutputHealthSignals,
    ::testing::Values(
        // What healthy plugins give, and must be left alone.
        SignalCase { "Silence", 64, [](int, int, int) { return 0.0f; }, Health::Verdict::healthy, 0 },
        SignalCase { "Denormals", 64, [](int, int, int i) { return std::numeric_limits<float>::denorm_min() * (float) (1 + i % 7); },
                     Health::Verdict::healthy, 0 },
        SignalCase { "MusicBelowMinus96dB", 64, [](int, int, int i) { return music(i) * 1.0e-5f; }, Health::Verdict::healthy, 0 },
        SignalCase { "SustainedDcOffset", 64, [](int, int c, int) { return c == 0 ? 0.3f : -0.2f; }, Health::Verdict::healthy, 0 },
        SignalCase { "OneRepeatedSampleValue", 256, [](int, int, int) { return 0.5f; }, Health::Verdict::healthy, 0 },
        SignalCase { "DcOffsetUnderATone", 64, [](int b, int, int i) { return 0.25f + 0.5f * sine(440.0, b * 64LL + i); },
                     Health::Verdict::healthy, 0 },
        SignalCase { "SquareAtAQuarterOfTheBlock", 256, [](int, int, int i) { return (i / 32) % 2 == 0 ? 0.5f : -0.5f; },
                     Health::Verdict::healthy, 0 },
        SignalCase { "SquareAtHalfTheBlockOnOneChannel", 64,
                     [](int, int c, int i) { return c == 1 ? 0.0f : ((i / 16) % 2 == 0 ? 0.7f : -0.7f); }, Health::Verdict::healthy, 0 },
        SignalCase { "LoopOfFourBlocksAlignedToTheBlock", 64, [](int b, int, int i) { return music((b % 4) * 64 + i); },
                     Health::Verdict::healthy, 0 },
        SignalCase { "WaveformOfAnEighthOfTheBlockWithADcOffset", 512,
                     [](int, int, int i) { return 0.1f + (float) (i % 64) / 128.0f; }, Health::Verdict::healthy, 0 },
        SignalCase { "ReplayedBlockForLessThanTheLimit", 64, [](int b, int, int i) { return music(b < 150 ? i : b * 64 + i); },
                     Health::Verdict::healthy, 0 },
        // Faults.
        SignalCase { "OneNaN", 64,
                     [](int b, int c, int i) { return b == 20 && c == 1 && i == 63 ? std::numeric_limits<float>::quiet_NaN() : music(b * 64 + i); },
                     Health::Verdict::notFinite, 20 },
        SignalCase { "Infinity", 64,
                     [](int b, int, int i) { return b >= 3 && i == 0 ? -std::numeric_limits<float>::infinity() : 0.0f; },
                     Health::Verdict::notFinite, 3 },
        SignalCase { "ReplayedBlock", 64, [](int b, int, int i) { return music(b < 10 ? b * 64 + i : 9 * 64 + i); },
                     Health::Verdict::stuck, 9 + 187 },
        SignalCase { "ReplayedLongBlocks", 256, [](int, int c, int i) { return c == 0 ? music(i) : -music(i); },
                     Health::Verdict::stuck, 46 },
        // The documented limit: a waveform whose period is the block length is a replayed block.
        SignalCase { "WaveformOfExactlyTheBlockLength", 64, [](int, int, int i) { return i == 0 ? 0.9f : 0.0f; },
                     Health::Verdict::stuck, 187 }),
    [](const auto& info) { return std::string(info.param.what); });

TEST(OutputHealth, ABlockOfAnotherLengthOrAResetStartsTheRunAfresh)
{
    Health health;
    const auto replay = [&](int length, int times) {
        juce::AudioBuffer<float> buffer(2, length);
        for (int channel = 0; channel < 2; ++channel)
            for (int i = 0; i < length; ++i)
                buffer.setSample(channel, i, music(i));
        auto verdict = Health::Verdict::healthy;
        for (int n = 0; n < times && verdict == Health::Verdict::healthy; ++n)
            verdict = health.check(buffer, 2, rate);
        return verdict;
    };

    // 187 blocks of 64 make 249.3 ms: one short of the limit, every time.
    EXPECT_EQ(replay(64, 187), Health::Verdict::healthy);
    EXPECT_EQ(replay(32, 1), Health::Verdict::healthy);
    EXPECT_EQ(replay(64, 187), Health::Verdict::healthy);
    health.reset();
    EXPECT_EQ(replay(64, 187), Health::Verdict::healthy);
    EXPECT_EQ(replay(64, 1), Health::Verdict::stuck);
}

//==================================================================================================
// The container: a plugin that fails in the middle of a held note

struct FaultCase
{
    const char* fixture;
    bool hotStandby;
    int switchBlock;     // the block the standby plays first (blocks of 64 samples at 48 kHz)
    const char* cause;   // as the console and the panel tell it
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.fixture << (c.hotStandby ? " with a hot standby" : "");
}

class OutputHealthFailover : public ::testing::TestWithParam<FaultCase>
{
protected:
    static constexpr int blockSize = 64;

    void SetUp() override
    {
        consoleEnabled = true; // log lines are read back from the console window
        container = std::make_unique<Processor>();
        container->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        container->prepareToPlay(rate, blockSize);
        StdoutCapture quiet;
        ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path(GetParam().fixture), {}));
        ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
        container->setHotStandby(GetParam().hotStandby);
        container->setOption(Processor::optionAutoCrashRecovery, true);
        watchdog->stopTimer(); // its ticks are run below
    }

    void TearDown() override
    {
        container.reset();
        consoleEnabled = false;
    }

    /** Plays blocks; the note is struck in the first block of all. Returns each block's peak. */
    std::vector<float> play(int numBlocks)
    {
        std::vector<float> peaks;
        for (int n = 0; n < numBlocks; ++n)
        {
            juce::AudioBuffer<float> buffer(2, blockSize);
            juce::MidiBuffer midi;
            if (blocks++ == 0)
                midi.addEvent(Msg::noteOn(1, 69, (juce::uint8) 110), 0);
            processLikeWrapper(*container, buffer, midi);
            peaks.push_back(buffer.getMagnitude(0, blockSize));
            EXPECT_TRUE(std::isfinite(peaks.back()));
            if (switchedAt < 0 && container->getActivePluginIndex() == 1)
                switchedAt = blocks - 1;
        }
        return peaks;
    }

    DialogScript script;
    std::unique_ptr<Processor> container;
    int blocks = 0;
    int switchedAt = -1;
};

TEST_P(OutputHealthFailover, TheStandbyPlaysTheBlockOfTheFaultWithTheHeldNoteAndTheSlotIsToldAndRecovered)
{
    const auto& c = GetParam();
    {
        StdoutCapture quiet;
        container->setOutputHealthCheck(true);
    }
    auto editor = panel_probe::openEditor(*container);

    const auto peaks = play(c.switchBlock + 20);
    EXPECT_EQ(switchedAt, c.switchBlock);
    int silent = 0;
    for (size_t n = 0; n < peaks.size(); ++n)
        silent += peaks[n] < 0.05f ? 1 : 0;
    EXPECT_EQ(silent, 0) << "the held note sounds in every block, the switch's included";
    EXPECT_TRUE(container->isPluginCrashed(0));
    EXPECT_FALSE(container->isPluginCrashed(1));

    // The next tick tells it, with its cause, and brings the slot back.
    const auto lines = console_probe::linesOf([] {
        StdoutCapture quiet;
        tickWatchdog();
    });
    EXPECT_TRUE(lines.joinIntoString("\n").contains("Plugin at index 0 in instance with name default instance: " + juce::String(c.cause)))
        << lines.joinIntoString("\n");
    EXPECT_FALSE(container->isPluginCrashed(0)) << "recovered";
    ASSERT_NE(container->getPluginInstance(0), nullptr);
    EXPECT_EQ(container->getActivePluginIndex(), 1);

    editor->refreshPanel();
    const auto shown = panel_probe::child<juce::Label>(panel_probe::panelOf(*editor), "lastEvent").getText();
    EXPECT_TRUE(shown.contains("slot 1 crashed (" + juce::String(c.cause) + "); playing slot 2; reloaded in")) << shown;

    // Told once: the next tick has nothing to add.
    const auto again = console_probe::linesOf([] {
        StdoutCapture quiet;
        tickWatchdog();
    });
    EXPECT_FALSE(again.joinIntoString("\n").contains(c.cause));
}

// The fault starts with block 128 (after 8192 samples). NaN is caught in that block; the replayed
// block is block 127 itself, so the run of identical blocks passes 250 ms with block 127 + 187.
INSTANTIATE_TEST_SUITE_P(
    Faults, OutputHealthFailover,
    ::testing::Values(FaultCase { "LateNanSynth", false, 128, "output not finite" },
                      FaultCase { "LateNanSynth", true, 128, "output not finite" },
                      FaultCase { "LateStuckSynth", false, 127 + 187, "output stuck for 251 ms" },
                      FaultCase { "LateStuckSynth", true, 127 + 187, "output stuck for 251 ms" }),
    [](const auto& info) { return std::string(info.param.fixture) + (info.param.hotStandby ? "HotStandby" : ""); });

TEST_P(OutputHealthFailover, WithTheOptionOffNothingIsJudged)
{
    play(GetParam().switchBlock + 20);
    EXPECT_EQ(switchedAt, -1);
    EXPECT_FALSE(container->isPluginCrashed(0));
    EXPECT_EQ(container->reportBlockFailures(), (std::array<bool, 2> { false, false }));
}

TEST(OutputHealthStandby, AFailingHotStandbyIsMarkedAndNeverSwitchedTo)
{
    for (const auto* fixture : { "LateNanSynth", "LateStuckSynth" })
    {
        SCOPED_TRACE(fixture);
        DialogScript script;
        Processor container;
        container.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        container.prepareToPlay(rate, 64);
        {
            StdoutCapture quiet;
            ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path(fixture), {}));
            ASSERT_TRUE(container.loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
            container.setHotStandby(true);
            container.setOutputHealthCheck(true);
            ASSERT_TRUE(container.setActivePlugin(1)); // the failing plugin plays along
        }
        ASSERT_EQ(container.getHotStandbySlot(), 0);

        // Past the fault and 250 ms of replayed blocks: found, and the standby no longer played.
        for (int n = 0; n < 128 + 200; ++n)
        {
            juce::AudioBuffer<float> buffer(2, 64);
            juce::MidiBuffer midi;
            if (n == 0)
                midi.addEvent(Msg::noteOn(1, 69, (juce::uint8) 110), 0);
            processLikeWrapper(container, buffer, midi);
            ASSERT_GT(buffer.getMagnitude(0, 64), 0.05f) << "block " << n; // slot 2 plays on
        }
        EXPECT_TRUE(container.isPluginCrashed(0));
        EXPECT_EQ(container.getActivePluginIndex(), 1);
        EXPECT_EQ(container.reportBlockFailures(), (std::array<bool, 2> { true, false }));
    }
}

TEST(OutputHealthSwitch, BlocksJudgedAndTheBlockOfTheSwitchAllocateNothing)
{
    if (!ScopedAllocationCount::isAvailable())
        GTEST_SKIP() << "allocations are not counted in sanitizer builds";
    DialogScript script;
    Processor container;
    container.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    container.prepareToPlay(rate, 64);
    {
        StdoutCapture quiet;
        ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("LateNanSynth"), {}));
        ASSERT_TRUE(container.loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
        container.setOutputHealthCheck(true);
    }

    juce::AudioBuffer<float> buffer(2, 64);
    juce::MidiBuffer midi;
    midi.ensureSize(256);
    std::size_t allocations = 0;
    for (int n = 0; n < 140; ++n)
    {
        midi.clear();
        midi.addEvent(Msg::noteOn(1, 60 + n % 12, (juce::uint8) 100), 0);
        ScopedAllocationCount counter;
        processLikeWrapper(container, buffer, midi);
        if (n > 8) // the first blocks settle the hosting's buffers
            allocations += counter.allocations();
    }
    EXPECT_EQ(container.getActivePluginIndex(), 1); // the switch was among the blocks counted
    EXPECT_EQ(allocations, 0u);
}

//==================================================================================================
// Offline rendering: the crash query by the audio rendered

class OfflineRender : public ::testing::Test
{
protected:
    static constexpr int blockSize = 64;
    static constexpr int numBlocks = 260;
    static constexpr int periodMs = 100; // 4800 samples: queries at blocks 0, 75, 150, 225

    std::unique_ptr<Processor> makeProject()
    {
        auto made = std::make_unique<Processor>();
        made->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        made->setRunInSeparateProcesses(separateProcesses);
        made->setNonRealtime(true);
        made->prepareToPlay(rate, blockSize);
        made->setWatchPeriodMs(periodMs);
        made->setOption(Processor::optionAutoCrashRecovery, true);
        StdoutCapture quiet;
        EXPECT_TRUE(made->loadPlugin(0, FixtureFiles::path("LateCrashSynth"), {}));
        EXPECT_TRUE(made->loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
        EXPECT_EQ(made->isSlotIsolated(0) && made->isSlotIsolated(1), separateProcesses);
        return made;
    }

    /**
        Renders the bounce (a note held from the first block), calling between(block) before each
        block; returns channel 0 and the block from which slot 1 played.
    */
    static std::vector<float> render(Processor& project, int& switchBlock, const std::function<void(int)>& between)
    {
        std::vector<float> heard;
        switchBlock = -1;
        for (int block = 0; block < numBlocks; ++block)
        {
            between(block);
            juce::AudioBuffer<float> buffer(2, blockSize);
            juce::MidiBuffer midi;
            if (block == 0)
                midi.addEvent(Msg::noteOn(1, 69, (juce::uint8) 110), 0);
            processLikeWrapper(project, buffer, midi);
            heard.insert(heard.end(), buffer.getReadPointer(0), buffer.getReadPointer(0) + blockSize);
            if (switchBlock < 0 && project.getActivePluginIndex() == 1)
                switchBlock = block;
        }
        return heard;
    }

    static float peakOf(const std::vector<float>& samples, int block)
    {
        float peak = 0.0f;
        for (int i = 0; i < blockSize; ++i)
            peak = std::max(peak, std::abs(samples[(size_t) (block * blockSize + i)]));
        return peak;
    }

    void expectTheBounceSwitchesWhereItsAudioSays();

    DialogScript script;
    bool separateProcesses = false;
};

/** The same bounce with both slots in helper processes: the query goes through the block channel. */
class IsolatedOfflineRender : public OfflineRender
{
protected:
    void SetUp() override
    {
        test_support::useHelper(PENDULUM_SLOT_HOST_PATH);
        separateProcesses = true;
    }
};

TEST_F(OfflineRender, ABounceSwitchesWhereItsAudioSaysWhetherItRendersFastOrSlowly)
{
    expectTheBounceSwitchesWhereItsAudioSays();
}

TEST_F(IsolatedOfflineRender, ABounceSwitchesWhereItsAudioSaysWhetherItRendersFastOrSlowly)
{
    expectTheBounceSwitchesWhereItsAudioSays();
}

void OfflineRender::expectTheBounceSwitchesWhereItsAudioSays()
{
    // Fast: nothing but the rendering.
    auto fastProject = makeProject();
    watchdog->stopTimer();
    int fastSwitch = -1;
    const auto fast = render(*fastProject, fastSwitch, [](int) {});

    // Slowly, on a rendering thread of its own, while the watchdog ticks as fast as it can on the
    // message thread; the rendering waits between the crash (block 128) and the next query
    // (block 150) until the watchdog has ticked several times, with the crash plain to its probe.
    fastProject.reset();
    auto slowProject = makeProject();
    watchdog->stopTimer();
    std::atomic<int> ticks { 0 };
    std::atomic<bool> done { false };
    int slowSwitch = -1;
    std::vector<float> slow;
    std::thread renderer([&] {
        slow = render(*slowProject, slowSwitch, [&](int block) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            if (block == 140)
            {
                const int target = ticks.load() + 5;
                while (ticks.load() < target)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        done = true;
    });
    {
        StdoutCapture quiet;
        while (!done.load())
        {
            tickWatchdog();
            ++ticks;
            juce::MessageManager::getInstance()->runDispatchLoopUntil(2);
        }
    }
    renderer.join();
    {
        // The watchdog tells the crash and reloads the slot at its ticks after the switch; the
        // bounce may have ended before one came (a slow machine, or Wine's coarse sleeps).
        StdoutCapture quiet;
        for (int tick = 0; tick < 500 && slowProject->isPluginCrashed(0); ++tick)
        {
            tickWatchdog();
            juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
        }
    }

    EXPECT_EQ(fastSwitch, 150);
    EXPECT_EQ(slowSwitch, 150);
    ASSERT_EQ(fast.size(), slow.size());
    EXPECT_TRUE(fast == slow) << "the same bounce, sample for sample";

    // The crashed synth's silence until the query, then the standby with the held note.
    EXPECT_GT(peakOf(fast, 127), 0.1f);
    EXPECT_LT(peakOf(fast, 128), 1.0e-6f);
    EXPECT_LT(peakOf(fast, 149), 1.0e-6f);
    EXPECT_GT(peakOf(fast, 150), 0.1f);
    EXPECT_GT(peakOf(fast, numBlocks - 1), 0.1f);

    // The watchdog's ticks told and recovered the crashed slot once the switch was made.
    const auto event = slowProject->getLastEvent().text;
    EXPECT_TRUE(event.startsWith("slot 1 crashed (the plugin reported a crash while rendering offline); playing slot 2; reloaded"))
        << event;
    EXPECT_FALSE(slowProject->isPluginCrashed(0));
}

TEST_F(OfflineRender, TheWatchdogLeavesTheActiveSlotToTheRenderingThreadOnlyWhileOffline)
{
    auto project = makeProject();
    watchdog->stopTimer();
    int switchBlock = -1;
    render(*project, switchBlock, [&](int block) {
        if (block == 140)
        {
            ASSERT_TRUE(project->isActiveSlotProbedWhileRendering());
            StdoutCapture quiet;
            tickWatchdog(); // the synth crashed at block 128: not the watchdog's to see
            EXPECT_EQ(project->getActivePluginIndex(), 0);
            EXPECT_FALSE(project->isPluginCrashed(0));
        }
    });
    EXPECT_EQ(switchBlock, 150);

    // Back in real time the watchdog asks the active slot again (slot 1 now, healthy).
    project->setNonRealtime(false);
    EXPECT_FALSE(project->isActiveSlotProbedWhileRendering());
}

TEST_F(OfflineRender, ABounceAfterAPrepareCountsItsQueriesFromItsOwnStart)
{
    auto project = makeProject();
    watchdog->stopTimer();

    // A first bounce of 100 blocks (no crash yet: 6400 samples), then the host prepares again and
    // bounces from the start: the queries are due at its blocks 0, 75, 150, as in the first test.
    int ignored = -1;
    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    for (int block = 0; block < 100; ++block)
        processLikeWrapper(*project, buffer, midi);
    project->prepareToPlay(rate, blockSize);
    render(*project, ignored, [](int) {});
    // The synth counts its own samples (crash after 8192 of them: in the first bounce's 6400 and
    // this one's first 28 blocks), so the crash is at this bounce's block 28, found at block 75.
    EXPECT_EQ(ignored, 75);
}

//==================================================================================================
// The option in the state document and on the panel

TEST(OutputHealthDocument, IsAnAttributeOfItsOwnWrittenOnlyWhenOnAndADocumentWithoutItLeavesItOff)
{
    const auto save = [](Processor& container) {
        StdoutCapture quiet;
        juce::MemoryBlock block;
        container.getStateInformation(block);
        return block.toString();
    };

    Processor writer;
    const auto off = save(writer);
    EXPECT_FALSE(off.contains("outputHealth"));
    writer.setOutputHealthCheck(true);
    const auto on = save(writer);
    EXPECT_TRUE(on.contains(" outputHealth=\"1\"/>")); // the last attribute of main_plugin
    EXPECT_EQ(on.replace(" outputHealth=\"1\"", ""), off);

    Processor reader;
    reader.setStateInformation(on.toRawUTF8(), (int) on.getNumBytesAsUTF8());
    EXPECT_TRUE(reader.getOutputHealthCheck());
    EXPECT_EQ(save(reader), on);
    reader.setStateInformation(off.toRawUTF8(), (int) off.getNumBytesAsUTF8());
    EXPECT_FALSE(reader.getOutputHealthCheck());

    // With the other options that come after the first ones.
    writer.setHotStandby(true);
    writer.setWatchPeriodMs(250);
    const auto all = save(writer);
    EXPECT_GT(all.indexOf("outputHealth=\"1\"/>"), all.indexOf("watchPeriodMs=\"250\"")) << all;
    EXPECT_GT(all.indexOf("watchPeriodMs=\"250\""), all.indexOf("hotStandby=\"1\"")) << all;
    reader.setStateInformation(all.toRawUTF8(), (int) all.getNumBytesAsUTF8());
    EXPECT_TRUE(reader.getOutputHealthCheck());
    EXPECT_TRUE(reader.isHotStandby());
}

TEST(OutputHealthPanel, TheToggleTurnsTheCheckOnAndOffAndFollowsARestore)
{
    StdoutCapture quiet;
    Processor container;
    auto editor = panel_probe::openEditor(container);
    editor->refreshPanel();
    auto& toggle = panel_probe::child<juce::ToggleButton>(panel_probe::panelOf(*editor), "outputHealthB");
    EXPECT_FALSE(toggle.getToggleState());

    panel_probe::click(toggle);
    EXPECT_TRUE(container.getOutputHealthCheck());
    panel_probe::click(toggle);
    EXPECT_FALSE(container.getOutputHealthCheck());

    const juce::String document = "<pluginData><main_plugin activePlugin=\"0\" optionB0=\"0\" optionB1=\"0\" "
                                  "optionB2=\"1\" optionB3=\"1\" instanceName=\"x\" outputHealth=\"1\"/></pluginData>";
    container.setStateInformation(document.toRawUTF8(), (int) document.getNumBytesAsUTF8());
    EXPECT_TRUE(container.getOutputHealthCheck());
    editor->refreshPanel();
    EXPECT_TRUE(toggle.getToggleState());
}

} // namespace
