// processBlock allocates nothing on the audio thread (checked with an allocation counter).
#include "container/PluginContainerAudioProcessor.h"
#include "support/AllocationCounter.h"
#include "support/ContainerTestAccess.h"
#include "support/FakeInstrument.h"

#include <gtest/gtest.h>

namespace
{
constexpr int preparedBlock = 256;

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

TEST(Realtime, EmptyActiveSlotAllocatesNothing)
{
    PluginContainerAudioProcessor container;
    container.prepareToPlay(48000.0, preparedBlock);
    EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock), 0u);
}

TEST(Realtime, TwoOutputPluginAllocatesNothing)
{
    PluginContainerAudioProcessor container;
    PluginContainerTestAccess::install(container, 0, std::make_unique<FakeInstrument>(1, 2, 0));
    container.prepareToPlay(48000.0, preparedBlock);
    EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock), 0u);
}

TEST(Realtime, AuxiliaryBufferAllocatesOnlyForBlocksLongerThanPrepared)
{
    PluginContainerAudioProcessor container;
    PluginContainerTestAccess::install(container, 0, std::make_unique<FakeInstrument>(1, 16, 0));
    container.prepareToPlay(48000.0, preparedBlock);

    EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock), 0u);
    EXPECT_EQ(allocationsOfOneBlock(container, preparedBlock / 2), 0u);
    if (ScopedAllocationCount::seesMalloc())
        EXPECT_GT(allocationsOfOneBlock(container, preparedBlock * 2), 0u); // the counter does see growth
}
} // namespace
