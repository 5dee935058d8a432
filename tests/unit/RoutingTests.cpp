// Audio, MIDI, play head and parameters reach the active slot's plugin and nothing else.
#include "container/PluginContainerAudioProcessor.h"
#include "support/ConsoleProbe.h"
#include "support/ContainerTestAccess.h"
#include "support/FakeInstrument.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
constexpr int blockSize = 64;

struct TwoSlots
{
    TwoSlots(int outputs0, int params0, int outputs1, int params1)
    {
        auto a = std::make_unique<FakeInstrument>(1, outputs0, params0);
        auto b = std::make_unique<FakeInstrument>(2, outputs1, params1);
        first = a.get();
        second = b.get();
        PluginContainerTestAccess::install(container, 0, std::move(a));
        PluginContainerTestAccess::install(container, 1, std::move(b));
    }

    /** Runs one block with one note-on and returns the output. */
    juce::AudioBuffer<float> runBlock(int numSamples = blockSize)
    {
        juce::AudioBuffer<float> buffer(2, numSamples);
        buffer.clear();
        juce::MidiBuffer midi;
        midi.addEvent(juce::MidiMessage::noteOn(1, 64, 0.5f), 5);
        const juce::ScopedLock lock(container.getCallbackLock()); // as the wrapper does
        container.processBlock(buffer, midi);
        return buffer;
    }

    PluginContainerAudioProcessor container;
    FakeInstrument* first = nullptr;
    FakeInstrument* second = nullptr;
};

void expectChannelEquals(const juce::AudioBuffer<float>& buffer, int channel, float value)
{
    for (int i = 0; i < buffer.getNumSamples(); ++i)
        ASSERT_EQ(buffer.getSample(channel, i), value) << "channel " << channel << " sample " << i;
}

TEST(Routing, OnlyTheActiveSlotPlaysAndASwitchMovesAudioAndMidi)
{
    TwoSlots slots(2, 4, 2, 4);
    slots.container.prepareToPlay(48000.0, blockSize);

    // Both slots are prepared, not only the active one.
    EXPECT_EQ(slots.first->preparedSampleRate(), 48000.0);
    EXPECT_EQ(slots.second->preparedBlockSize(), blockSize);

    auto out = slots.runBlock();
    expectChannelEquals(out, 0, slots.first->signature(0));
    expectChannelEquals(out, 1, slots.first->signature(1));
    EXPECT_EQ(slots.first->midiEventsSeen(), 1);
    EXPECT_EQ(slots.second->blocksProcessed(), 0);

    PluginContainerTestAccess::setActive(slots.container, 1);
    out = slots.runBlock();
    expectChannelEquals(out, 0, slots.second->signature(0));
    expectChannelEquals(out, 1, slots.second->signature(1));
    // The key struck in the first block is still down: the new plugin gets it carried over at the
    // start of its first block, then the block's own event.
    EXPECT_EQ(slots.second->midiEventsSeen(), 2);
    EXPECT_EQ(slots.first->blocksProcessed(), 1);
}

TEST(Routing, EmptyActiveSlotIsSilentAndLeavesTheOtherPluginAlone)
{
    PluginContainerAudioProcessor container;
    auto plugin = std::make_unique<FakeInstrument>(1, 2, 4);
    auto* loaded = plugin.get();
    PluginContainerTestAccess::install(container, 1, std::move(plugin));
    container.prepareToPlay(44100.0, blockSize);

    juce::AudioBuffer<float> buffer(2, blockSize);
    for (int channel = 0; channel < 2; ++channel)
        juce::FloatVectorOperations::fill(buffer.getWritePointer(channel), 0.25f, blockSize);
    juce::MidiBuffer midi;
    container.processBlock(buffer, midi);

    EXPECT_EQ(buffer.getMagnitude(0, blockSize), 0.0f);
    EXPECT_EQ(loaded->blocksProcessed(), 0);
}

TEST(Routing, WidePluginPlaysItsFirstTwoChannelsThroughTheAuxiliaryBuffer)
{
    TwoSlots slots(8, 0, 2, 0);
    ASSERT_TRUE(PluginContainerTestAccess::hasAuxBuffer(slots.container, 0));
    ASSERT_FALSE(PluginContainerTestAccess::hasAuxBuffer(slots.container, 1));
    slots.container.prepareToPlay(44100.0, blockSize);

    const auto out = slots.runBlock();
    expectChannelEquals(out, 0, slots.first->signature(0));
    expectChannelEquals(out, 1, slots.first->signature(1));

    // A longer block than prepared still works: the auxiliary buffer grows for it.
    const auto longer = slots.runBlock(blockSize * 4);
    EXPECT_EQ(slots.first->samplesInLastBlock(), blockSize * 4);
    expectChannelEquals(longer, 1, slots.first->signature(1));
}

TEST(Routing, PlayHeadOfTheContainerReachesOnlyTheActivePlugin)
{
    struct StillPlayHead : juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override { return PositionInfo {}; }
    } playHead;

    TwoSlots slots(2, 0, 2, 0);
    slots.container.setPlayHead(&playHead);
    slots.container.prepareToPlay(44100.0, blockSize);
    slots.first->setPlayHead(nullptr);
    slots.second->setPlayHead(nullptr);

    slots.runBlock();
    EXPECT_EQ(slots.first->lastPlayHead(), &playHead);
    EXPECT_EQ(slots.second->lastPlayHead(), nullptr);
}

TEST(Routing, HostParametersAddressTheActivePluginsParameters)
{
    TwoSlots slots(2, 10, 2, 20);
    auto& container = slots.container;
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    EXPECT_EQ(container.getNumParameters(), 1024);

    container.setParameter(3, 0.75f);
    EXPECT_FLOAT_EQ(slots.first->getParameters()[3]->getValue(), 0.75f);
    EXPECT_FLOAT_EQ(container.getParameter(3), 0.75f);
    EXPECT_EQ(container.getParameterName(3), "p1.3");
    EXPECT_EQ(container.getParameterText(3), slots.first->getParameters()[3]->getCurrentValueAsText());

    // Indices the active plugin does not have read as 0.0, write nowhere and have no name or text.
    for (int index : { 10, 12, 1023, -1 })
    {
        container.setParameter(index, 0.9f);
        EXPECT_EQ(container.getParameter(index), 0.0f) << index;
        EXPECT_EQ(container.getParameterName(index), "") << index;
        EXPECT_EQ(container.getParameterText(index), "") << index;
    }
    EXPECT_FLOAT_EQ(slots.second->getParameters()[12]->getValue(), 12.0f / 20.0f); // untouched

    PluginContainerTestAccess::setActive(container, 1);
    container.setParameter(12, 0.1f);
    EXPECT_FLOAT_EQ(slots.second->getParameters()[12]->getValue(), 0.1f);
    EXPECT_EQ(container.getParameterName(12), "p2.12");
    EXPECT_FLOAT_EQ(slots.first->getParameters()[3]->getValue(), 0.75f);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

TEST(Routing, PrepareAndReleaseLogOneLinePerLoadedSlotFromAnyThread)
{
    consoleEnabled = true;
    {
        PluginContainerAudioProcessor container;
        container.setInstanceName("keys");
        PluginContainerTestAccess::install(container, 1, std::make_unique<FakeInstrument>(2, 2, 0));
        auto* plugin = dynamic_cast<FakeInstrument*>(container.getPluginInstance(1));

        container.prepareToPlay(44100.0, 512);
        std::thread hostThread([&] { container.releaseResources(); }); // hosts may suspend elsewhere
        hostThread.join();
        console_probe::pumpMessages(200);

        EXPECT_EQ(plugin->releaseCount(), 1);
        const juce::StringArray expected { "watchdog->getNumberOfPluginsBeingWatched():1",
                                           "PluginContainerAudioProcessor::PluginContainerAudioProcessor()",
                                           "keys:prepareToPlay (1), 44100, 512", "keys:releaseResources (1), " };
        EXPECT_EQ(console_probe::lines(), expected);
        EXPECT_TRUE(console_probe::text().endsWith("keys:releaseResources (1), \n"));
    }
    consoleEnabled = false;
}
} // namespace
