// processBlock allocates nothing on the audio thread (checked with an allocation counter).
#include "container/PluginContainerAudioProcessor.h"
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
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{
constexpr int preparedBlock = 256;

class Realtime : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!ScopedAllocationCount::isAvailable())
            GTEST_SKIP() << "allocations are not counted in sanitizer builds";
    }
};

std::size_t allocationsOfOneBlock(PluginContainerAudioProcessor& container, int numSamples)
{
    juce::AudioBuffer<float> buffer(2, numSamples);
    juce::MidiBuffer midi;
    midi.ensureSize(64);
    midi.addEvent(juce::MidiMessage::noteOn(1, 60, 0.5f), 0);

    ScopedAllocationCount counter;
    container.processBlock(buffer, midi);
    return counter.allocations();
}

TEST_F(Realtime, EmptyActiveSlotAllocatesNothing)
{
    PluginContainerAudioProcessor container;
    container.prepareToPlay(48000.0, preparedBlock);
    EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock), 0u);
}

TEST_F(Realtime, TwoOutputPluginAllocatesNothing)
{
    PluginContainerAudioProcessor container;
    PluginContainerTestAccess::install(container, 0, std::make_unique<FakeInstrument>(1, 2, 0));
    container.prepareToPlay(48000.0, preparedBlock);
    EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock), 0u);
}

// Real VST2 plugins through JUCE's hosting: after a first block (JUCE sizes its event list for the
// notes it sees), blocks with the same traffic allocate nothing, with and without an auxiliary buffer.
TEST_F(Realtime, HostedPluginsAllocateNothingOnceRunning)
{
    for (const bool outputHealth : { false, true })
        for (const bool hotStandby : { false, true })
            for (const auto* name : { "PlainSynth", "WideSynth", "MonoSynth" })
            {
                SCOPED_TRACE(hotStandby ? "the same plugin as the hot standby" : "alone");
                SCOPED_TRACE(outputHealth ? "output health checked" : "output health not checked");
                DialogScript script;
                PluginContainerAudioProcessor container;
                container.setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
                container.prepareToPlay(48000.0, preparedBlock);
                {
                    StdoutCapture quiet;
                    ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path(name), {})) << name;
                    if (hotStandby)
                    {
                        ASSERT_TRUE(container.loadPlugin(1, FixtureFiles::path(name), {})) << name;
                        container.setHotStandby(true);
                        ASSERT_EQ(container.getHotStandbySlot(), 1);
                    }
                    container.setOutputHealthCheck(outputHealth);
                }

                allocationsOfOneBlock(container, preparedBlock); // warm-up
                EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock), 0u) << name;
                EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock / 4), 0u) << name;
            }
}

TEST_F(Realtime, AuxiliaryBufferAllocatesOnlyForBlocksLongerThanPrepared)
{
    PluginContainerAudioProcessor container;
    PluginContainerTestAccess::install(container, 0, std::make_unique<FakeInstrument>(1, 16, 0));
    container.prepareToPlay(48000.0, preparedBlock);

    EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock), 0u);
    EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock / 2), 0u);
    EXPECT_GT(allocationsOfOneBlock(container, preparedBlock * 2), 0u); // the counter does see growth
}

// Hosts vary the block length from block to block: a short block followed by a longer one, still
// within the prepared size, must not cost the auxiliary buffer a new allocation either.
TEST_F(Realtime, AuxiliaryBufferAllocatesNothingWhenBlocksGrowBackWithinThePreparedSize)
{
    PluginContainerAudioProcessor container;
    auto instrument = std::make_unique<FakeInstrument>(1, 16, 0);
    const auto* wide = instrument.get();
    PluginContainerTestAccess::install(container, 0, std::move(instrument));
    container.prepareToPlay(48000.0, preparedBlock);

    for (int numSamples : { 1, preparedBlock - 1, 64, preparedBlock, 7, preparedBlock })
    {
        EXPECT_EQ(allocationsOfOneBlock(container, numSamples), 0u) << numSamples << " samples";
        EXPECT_EQ(wide->samplesInLastBlock(), numSamples);
    }
}
} // namespace

namespace
{
/**
    A real audio thread plays 64-sample blocks, a note in every block, while the watchdog's tick on
    this (the message) thread finds the active plugin crashed and switches. Counted from the block
    in which the tick started, at most one block is silent before the other plugin sounds, and no
    block allocates.
*/
TEST_F(Realtime, AnAutomaticSwitchCostsAtMostOneSilentBlockAndNoAllocation)
{
    constexpr int blockSize = 64;
    DialogScript script;
    PluginContainerAudioProcessor container;
    container.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    container.prepareToPlay(48000.0, blockSize);
    {
        StdoutCapture quiet;
        ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("CrashPlainSynth"), {}));
        ASSERT_TRUE(container.loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
    }
    watchdog->stopTimer(); // the tick is run below, at a known moment

    constexpr int maxBlocks = 1 << 16;
    std::vector<float> peaks((size_t) maxBlocks, -1.0f);
    std::atomic<int> blocks { 0 };
    std::atomic<bool> stop { false };
    std::atomic<std::size_t> allocations { 0 };

    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        midi.ensureSize(256);
        while (!stop.load() && blocks.load() < maxBlocks)
        {
            midi.clear();
            midi.addEvent(juce::MidiMessage::noteOn(1, 69, (juce::uint8) 100), 0);
            const auto n = blocks.load();
            {
                ScopedAllocationCount counter;
                processLikeWrapper(container, buffer, midi);
                if (n > 8) // the first blocks settle the hosting's buffers
                    allocations += counter.allocations();
            }
            peaks[(size_t) n] = buffer.getMagnitude(0, 0, blockSize);
            blocks.store(n + 1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    const auto waitForBlocks = [&](int count) {
        const auto target = blocks.load() + count;
        while (blocks.load() < target && blocks.load() < maxBlocks)
            std::this_thread::yield();
    };

    waitForBlocks(20);
    makeCrash(container, 0); // from here on slot 0 plays silence and answers the query with 1
    waitForBlocks(5);

    const int tickBlock = blocks.load();
    tickWatchdog();
    waitForBlocks(20);
    stop = true;
    audio.join();

    ASSERT_EQ(container.getActivePluginIndex(), 1);
    int silentAfterTick = 0;
    int firstAudible = -1;
    for (int n = tickBlock; n < blocks.load(); ++n)
    {
        if (peaks[(size_t) n] > 0.01f)
        {
            firstAudible = n;
            break;
        }
        ++silentAfterTick;
    }
    EXPECT_NE(firstAudible, -1);
    EXPECT_LE(silentAfterTick, 1);
    EXPECT_EQ(allocations.load(), 0u);
    EXPECT_GT(peaks[10], 0.01f);             // slot 0 played before its crash
    EXPECT_LE(peaks[(size_t) tickBlock - 1], 0.01f); // and was silent once crashed
}
} // namespace

namespace
{
using Clock = std::chrono::steady_clock;

/**
    A save of a plugin with a 64 MiB state (the hosted plugin's state call holds the framework's
    instance lock while it makes the chunk) runs on another thread while the audio thread plays at a
    real-time pace and is automated in every block, a parameter set and read back. No block may take
    longer than its period: the audio thread waits for nothing the save holds. The period is generous
    (a block's work takes a small fraction of it even in a Debug build on a loaded machine); a block
    that waited for the save's chunk would take many periods.
*/
TEST(RealtimeBlocking, AutomatedBlocksKeepTheirPeriodWhileA64MiBStateIsSaved)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int blockSize = 1024; // the checkers make every block several times slower
#else
    constexpr int blockSize = 256;
#endif
    constexpr double sampleRate = 48000.0;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(blockSize / sampleRate));

    DialogScript script;
    PluginContainerAudioProcessor container;
    container.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    container.prepareToPlay(sampleRate, blockSize);
    {
        StdoutCapture quiet;
        ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("HugeStateSynth"), {}));
    }
    watchdog->stopTimer(); // nothing but the save and the audio

    struct Block
    {
        Clock::time_point start, end;
    };
    constexpr int maxBlocks = 1 << 15;
    std::vector<Block> timings((size_t) maxBlocks);
    std::atomic<int> blocks { 0 };
    std::atomic<bool> stop { false };
    std::atomic<int> wrongValues { 0 };

    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        midi.ensureSize(256);
        auto deadline = Clock::now();
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
        for (int n = 0; !stop.load() && n < maxBlocks; ++n)
        {
            deadline += period;
            std::this_thread::sleep_until(deadline);
            if (Clock::now() > deadline + period)
                deadline = Clock::now(); // late by more than a block (scheduling): a new schedule

            const auto started = Clock::now();
            const float level = 0.25f + 0.5f * (float) (n % 2);
            container.setParameter(0, level);
            if (container.getParameter(0) != level)
                ++wrongValues;
            midi.clear();
            if (n % 16 == 0)
                midi.addEvent(juce::MidiMessage::noteOn(1, 60, (juce::uint8) 90), 0);
            processLikeWrapper(container, buffer, midi);
            timings[(size_t) n] = { started, Clock::now() };
            blocks.store(n + 1);
        }
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    });

    const auto waitForBlocks = [&](int count) {
        const auto target = blocks.load() + count;
        while (blocks.load() < target && blocks.load() < maxBlocks)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };

    waitForBlocks(10);
    juce::MemoryBlock saved;
    std::thread save([&] { container.getStateInformation(saved); });
    const auto saveStart = Clock::now();
    save.join();
    const auto saveEnd = Clock::now();
    waitForBlocks(10);
    stop = true;
    audio.join();

    EXPECT_GT(saved.getSize(), (size_t) 64 * 1024 * 1024); // the whole state went into the document

    int overlapping = 0;
    auto worst = Clock::duration::zero();
    for (int n = 0; n < blocks.load(); ++n)
    {
        const auto& block = timings[(size_t) n];
        if (block.end < saveStart || block.start > saveEnd)
            continue;
        ++overlapping;
        worst = std::max(worst, block.end - block.start);
    }

    const auto toMs = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("save %.0f ms, %d blocks during it, worst block %.3f ms of a %.3f ms period\n",
                toMs(saveEnd - saveStart), overlapping, toMs(worst), toMs(period));
    EXPECT_GE(overlapping, 10); // the save lasted many periods, and the blocks went on meanwhile
    EXPECT_LT(toMs(worst), toMs(period)) << "a block waited";
    EXPECT_EQ(wrongValues.load(), 0);
}
} // namespace
