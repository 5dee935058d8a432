// Hosted plugins that misbehave: broken output samples, a very large state, and what the container
// makes of them. (Plugins that fail to load are in ContainerLoadingTests, plugins that crash after
// every reload in CrashWatchTests.)
#include "container/PluginContainerAudioProcessor.h"
#include "container/SampleSanitizer.h"
#include "hosting/EffectHandle.h"
#include "support/ContainerTestAccess.h"
#include "support/FakeInstrument.h"
#include "support/FixtureFiles.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"

#include "HugeStateChunk.h"
#include "NanSynthSignal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace
{
using pendulum::container::sanitizedSample;
using Limits = std::numeric_limits<float>;

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof(float)) == 0;
}

//==================================================================================================
// The sample rule: non-finite values and denormals become 0, everything else passes bit for bit.

TEST(SampleSanitizer, ReplacesNonFiniteAndDenormalSamplesAndKeepsEveryOtherValue)
{
    const struct
    {
        const char* what;
        float in;
        float out;
    } cases[] = {
        { "quiet NaN", Limits::quiet_NaN(), 0.0f },
        { "negative NaN", -Limits::quiet_NaN(), 0.0f },
        { "signalling NaN", Limits::signaling_NaN(), 0.0f },
        { "infinity", Limits::infinity(), 0.0f },
        { "minus infinity", -Limits::infinity(), 0.0f },
        { "smallest denormal", Limits::denorm_min(), 0.0f },
        { "largest denormal", Limits::min() - Limits::denorm_min(), 0.0f },
        { "negative denormal", -Limits::denorm_min() * 3.0f, 0.0f },
        { "minus zero", -0.0f, 0.0f },
        { "zero", 0.0f, 0.0f },
        { "smallest normal", Limits::min(), Limits::min() },
        { "negative smallest normal", -Limits::min(), -Limits::min() },
        { "full scale", 1.0f, 1.0f },
        { "loud", -7.5f, -7.5f },
        { "largest finite", Limits::max(), Limits::max() },
        { "lowest finite", Limits::lowest(), Limits::lowest() },
    };

    for (const auto& c : cases)
        EXPECT_TRUE(sameBits(sanitizedSample(c.in), c.out)) << c.what << ": " << sanitizedSample(c.in);
}

//==================================================================================================
// Through the container

constexpr int blockSize = 96;

void expectPatternSanitized(const juce::AudioBuffer<float>& buffer, int channels)
{
    namespace nan = pendulum::fixtures::nan_synth;
    for (int channel = 0; channel < channels; ++channel)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const float written = nan::kPattern[i % nan::kPatternLength];
            const float heard = buffer.getSample(channel, i);
            ASSERT_TRUE(sameBits(heard, sanitizedSample(written))) << "channel " << channel << " sample " << i << ": " << heard;
        }
}

TEST(NonFiniteOutput, AHostedPluginsNanAndInfinityReachTheHostAsZeroAndItsOtherSamplesUnchanged)
{
    DialogScript script;
    PluginContainerAudioProcessor container;
    container.setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
    container.prepareToPlay(48000.0, blockSize);
    {
        StdoutCapture quiet;
        ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("NanSynth"), {}));
    }

    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 60, 0.5f), 0);
    container.processBlock(buffer, midi);

    expectPatternSanitized(buffer, 2);
    // And the ordinary samples are there: it is not simply silence.
    EXPECT_EQ(buffer.getSample(0, 1), 0.25f);
    EXPECT_EQ(buffer.getSample(1, 5), -0.5f);
}

/** A four-output instrument (so the container gives it an auxiliary buffer) that writes NaN's pattern. */
class WideNanInstrument : public FakeInstrument
{
public:
    WideNanInstrument() : FakeInstrument(7, 4, 0) {}

    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) override
    {
        namespace nan = pendulum::fixtures::nan_synth;
        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample(channel, i, nan::kPattern[i % nan::kPatternLength]);
    }
};

TEST(NonFiniteOutput, APluginWithMoreOutputsIsSanitizedOnTheWayOutOfItsAuxiliaryBuffer)
{
    PluginContainerAudioProcessor container;
    PluginContainerTestAccess::install(container, 0, std::make_unique<WideNanInstrument>());
    container.prepareToPlay(44100.0, blockSize);
    ASSERT_TRUE(PluginContainerTestAccess::hasAuxBuffer(container, 0));

    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    container.processBlock(buffer, midi);
    expectPatternSanitized(buffer, 2);
}

//==================================================================================================
// A 64 MiB plugin state through a save and a reopen

TEST(HugeState, A64MiBPluginStateIsSavedAndGivenBackWhole)
{
    namespace huge = pendulum::fixtures::huge_state;
    DialogScript script;
    juce::MemoryBlock saved;
    {
        PluginContainerAudioProcessor source;
        source.setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
        StdoutCapture quiet;
        ASSERT_TRUE(source.loadPlugin(0, FixtureFiles::path("HugeStateSynth"), {}));
        ASSERT_TRUE(source.loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
        source.getStateInformation(saved);
    }
    // The state travels in base-64 form: four characters for every three bytes.
    EXPECT_GT(saved.getSize(), huge::kChunkSize / 3 * 4);

    PluginContainerAudioProcessor target;
    target.setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
    {
        StdoutCapture quiet;
        target.setStateInformation(saved.getData(), (int) saved.getSize());
    }
    ASSERT_EQ(target.getLoadedPluginName(0), "HugeStateSynth");
    EXPECT_EQ(target.getLoadedPluginName(1), "PlainSynth");
    auto* effect = vstEffectOf(*target.getPluginInstance(0));
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->dispatcher(effect, Vst2::effVendorSpecific, huge::kRestoredQueryIndex, 0, nullptr, 0.0f), 1);
}
} // namespace
