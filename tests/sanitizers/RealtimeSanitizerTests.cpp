// The container's processBlock inside a real-time context watched by RealtimeSanitizer: no
// allocation, free, lock, sleep or file operation anywhere in the container's own processing. A
// violation is reported with its stack and ends the process, so the test fails.
//
// The slots hold in-process instruments (played through the framework's call), or real VST2
// fixture plugins, played through their own entry points, with the host's automation (a parameter
// set and read) in every block on the audio thread and, for one of them, a play head whose time
// info the plugin asks for. What a hosted plugin itself does wrong in real time is shown by the
// canary (sanitizer_canary realtime-alloc).
#include "RealtimeContext.h"
#include "container/PluginContainerAudioProcessor.h"
#include "support/ContainerTestAccess.h"
#include "support/FakeInstrument.h"
#include "support/FixtureFiles.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"

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

struct Vst2Case
{
    const char* what;
    const char* fixture0; // null: slot empty
    const char* fixture1;
    int active;
    bool playHead; // the container has a moving play head
    bool hotStandby = false; // the other slot plays along
    bool outputHealth = false; // every block is judged (see OutputHealth)
};

void PrintTo(const Vst2Case& c, std::ostream* os)
{
    *os << c.what;
}

class MovingPlayHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override { return position; }
    PositionInfo position;
};

class RealtimeSanitizerVst2 : public ::testing::TestWithParam<Vst2Case>
{
};

TEST_P(RealtimeSanitizerVst2, HostedPluginsPlayAndAreAutomatedWithoutALock)
{
    const auto& c = GetParam();
    DialogScript script;
    PluginContainerAudioProcessor container;
    container.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    container.prepareToPlay(48000.0, preparedBlock);
    {
        StdoutCapture quiet;
        for (int slot = 0; slot < 2; ++slot)
            if (const auto* fixture = slot == 0 ? c.fixture0 : c.fixture1)
                ASSERT_TRUE(container.loadPlugin(slot, FixtureFiles::path(fixture), {})) << fixture;
        if (c.active != 0)
            ASSERT_TRUE(container.setActivePlugin(c.active));
        container.setHotStandby(c.hotStandby);
        container.setOutputHealthCheck(c.outputHealth);
    }
    if (c.hotStandby)
        ASSERT_EQ(container.getHotStandbySlot(), 1 - c.active);

    MovingPlayHead playHead;
    playHead.position.setBpm(128.0);
    playHead.position.setIsPlaying(true);
    if (c.playHead)
        container.setPlayHead(&playHead);

    juce::AudioBuffer<float> buffer(2, preparedBlock);
    juce::MidiBuffer midi;
    midi.ensureSize(1024);
    float loudest = 0.0f;
    juce::int64 position = 0;

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    for (int round = 0; round < 50; ++round)
        for (int numSamples : { preparedBlock, 64, 1, preparedBlock - 1 })
        {
            // Halfway, a switch to the other slot's plugin (when there is one): its first block
            // starts with the key held since the first block, carried over.
            if (const int other = 1 - container.getActivePluginIndex();
                round == 25 && numSamples == preparedBlock && container.getPluginInstance(other) != nullptr)
            {
                StdoutCapture quiet;
                ASSERT_TRUE(container.setActivePlugin(other));
            }
            midi.clear();
            if (round == 0)
                midi.addEvent(juce::MidiMessage::noteOn(1, 48, 0.5f), 0); // never released
            if (round % 2 == 0)
            {
                midi.addEvent(juce::MidiMessage::noteOn(1, 60 + round % 12, 0.8f), 0);
                midi.addEvent(juce::MidiMessage::noteOff(1, 60 + round % 12), numSamples - 1);
            }
            buffer.setSize(2, numSamples, false, false, true);
            playHead.position.setTimeInSamples(position);
            position += numSamples;
            {
                const ScopedRealtimeContext realtime;
                container.setParameter(0, (float) (round % 10) / 10.0f);
                loudest = juce::jmax(loudest, container.getParameter(0) * 0.0f);
                container.processBlock(buffer, midi);
            }
            loudest = juce::jmax(loudest, buffer.getMagnitude(0, 0, numSamples));
        }
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    container.setPlayHead(nullptr);
    EXPECT_GT(loudest, 0.01f); // the active slot's plugin played
    if (c.outputHealth && std::string(c.fixture0) == "LateNanSynth")
    {
        EXPECT_TRUE(container.isPluginCrashed(0)); // found in a block, and switched away from
        EXPECT_EQ(container.getActivePluginIndex(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, RealtimeSanitizerVst2,
    ::testing::Values(Vst2Case { "PlainSynth", "PlainSynth", nullptr, 0, false },
                      Vst2Case { "MonoSynthNextToPlainSynth", "MonoSynth", "PlainSynth", 0, false },
                      Vst2Case { "WideSynthThroughTheAuxiliaryBuffer", "PlainSynth", "WideSynth", 1, false },
                      Vst2Case { "AccumulatingSynth", "AccumulatingSynth", nullptr, 0, false },
                      Vst2Case { "TransportSynthAskingForTheTimeInfo", "TransportSynth", nullptr, 0, true },
                      Vst2Case { "HotStandbyWideSynthThroughTheAuxiliaryBuffer", "PlainSynth", "WideSynth", 0, true, true },
                      Vst2Case { "HotStandbyPlainSynthNextToTheActiveWideSynth", "PlainSynth", "WideSynth", 1, true, true },
                      // Turns to NaN after 8192 samples: the check switches to slot 1 inside a block.
                      Vst2Case { "OutputHealthSwitchAwayFromANaNSynth", "LateNanSynth", "PlainSynth", 0, false, false, true },
                      Vst2Case { "OutputHealthWithAHotStandby", "PlainSynth", "WideSynth", 0, true, true, true }),
    [](const auto& info) { return std::string(info.param.what); });
} // namespace
