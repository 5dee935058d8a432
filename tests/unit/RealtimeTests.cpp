// processBlock allocates nothing on the audio thread (checked with an allocation counter).
#include "container/PluginContainerAudioProcessor.h"
#include "support/AllocationCounter.h"
#include "support/ContainerTestAccess.h"
#include "support/FakeInstrument.h"
#include "support/FixtureFiles.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"

#include <gtest/gtest.h>

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
    for (const auto* name : { "PlainSynth", "WideSynth", "MonoSynth" })
    {
        DialogScript script;
        PluginContainerAudioProcessor container;
        container.setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
        container.prepareToPlay(48000.0, preparedBlock);
        {
            StdoutCapture quiet;
            ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path(name), {})) << name;
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
} // namespace
