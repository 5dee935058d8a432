// Loading, unloading and switching real VST2 fixture plugins in the container.
#include "container/PluginContainerAudioProcessor.h"
#include "support/ConsoleProbe.h"
#include "support/ContainerTestAccess.h"
#include "support/CrashSupport.h"
#include "support/FixtureFiles.h"
#include "support/Screenshot.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

namespace
{
constexpr int blockSize = 256;

class ContainerLoading : public ::testing::Test
{
protected:
    void SetUp() override
    {
        consoleEnabled = true; // the log lines are read back from the console window
        container = std::make_unique<PluginContainerAudioProcessor>();
        container->setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
        container->prepareToPlay(44100.0, blockSize);
    }

    void TearDown() override
    {
        container.reset();
        consoleEnabled = false;
    }


    /** Plays one block with a note held from the start; returns the peak level of each output. */
    std::pair<float, float> playNote(int note = 69)
    {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        midi.addEvent(juce::MidiMessage::noteOn(1, note, (juce::uint8) 100), 0);
        processLikeWrapper(*container, buffer, midi);
        return { buffer.getMagnitude(0, 0, blockSize), buffer.getMagnitude(1, 0, blockSize) };
    }

    DialogScript script;
    FixtureFiles files;
    std::unique_ptr<PluginContainerAudioProcessor> container;
};

TEST_F(ContainerLoading, SynthLoadedIntoTheActiveSlotLogsEveryStepAndPlaysFromTheNextBlock)
{
    const auto path = FixtureFiles::path("PlainSynth");
    bool loaded = false;
    const auto lines = console_probe::linesOf([&] { loaded = container->loadPlugin(0, path, {}); });

    ASSERT_TRUE(loaded);
    const juce::StringArray expected { "default instance:loading plugin in index 0.",
                                       path + ", in index 0",
                                       "temp->startPlaying( getSampleRate(), getBlockSize() );",
                                       "mode: 0/2; Plugin: 0/2",
                                       "(Synth mode)",
                                       "default instance:active_plugin: 0" };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(container->getLoadedPluginName(0), "PlainSynth");
    EXPECT_FALSE(container->isSuspended());

    const auto [left, right] = playNote();
    EXPECT_GT(left, 0.01f);
    EXPECT_GT(right, 0.01f);
    saveScreenshotIfAsked(*debugConsole->getWindow(), "console");
}

TEST_F(ContainerLoading, EffectIsRefusedAndTheSlotKeepsItsPlugin)
{
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    auto* before = container->getPluginInstance(0);

    bool loaded = true;
    const auto lines = console_probe::linesOf([&] { loaded = container->loadPlugin(0, FixtureFiles::path("StereoEffect"), {}); });

    EXPECT_FALSE(loaded);
    EXPECT_TRUE(lines.contains("mode: 0/2; Plugin: 2/2"));
    const auto refusal = lines.indexOf("plugin can't be loaded ( this is a synth, plugin appears to be an fx... )");
    ASSERT_GE(refusal, 0);
    EXPECT_EQ(lines[refusal + 1], "default instance:failed to load plugin...");
    EXPECT_EQ(lines[refusal + 2], "default instance:active_plugin: 0");
    EXPECT_FALSE(lines.joinIntoString("\n").contains("unloading"));

    EXPECT_EQ(container->getPluginInstance(0), before);
    EXPECT_FALSE(container->isSuspended());
    EXPECT_GT(playNote().first, 0.01f);
}

TEST_F(ContainerLoading, ReplacingThePluginUnloadsTheOldOneOnlyAfterTheNewOneIsAccepted)
{
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    const auto lines = console_probe::linesOf([&] { ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("MonoSynth"), {})); });

    const auto synthMode = lines.indexOf("(Synth mode)");
    ASSERT_GE(synthMode, 0);
    EXPECT_EQ(lines[synthMode + 1], "default instance:unloading plugin in index 0.");
    EXPECT_EQ(lines[synthMode + 2], "default instance:active_plugin: 0");
    EXPECT_EQ(container->getLoadedPluginName(0), "MonoSynth");
}

TEST_F(ContainerLoading, FailedLoadsLeaveTheSlotAsItWas)
{
    ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
    auto* kept = container->getPluginInstance(1);
    const auto missing = juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("moved-away.so").getFullPathName();

    const struct
    {
        const char* what;
        juce::String path;
        LoadDialogs::LocateAnswer answer;
        juce::String located;
        juce::String expectedAsked;
    } cases[] = {
        { "native dialog cancelled", {}, LoadDialogs::LocateAnswer::no, {}, "choose" },
        { "missing file, No", missing, LoadDialogs::LocateAnswer::no, {}, "locate?:" + missing },
        { "missing file, Cancel", missing, LoadDialogs::LocateAnswer::cancel, {}, "locate?:" + missing },
        { "missing file, browser cancelled", missing, LoadDialogs::LocateAnswer::yes, {}, "locate?:" + missing + ",browse" },
        { "not a plugin", FixtureFiles::path("NotAPlugin"), LoadDialogs::LocateAnswer::no, {}, "" },
        { "library without entry point", FixtureFiles::path("NoEntryPoint"), LoadDialogs::LocateAnswer::no, {}, "" },
        { "entry point that returns no plugin", FixtureFiles::path("NullEntry"), LoadDialogs::LocateAnswer::no, {}, "" },
    };

    for (const auto& c : cases)
    {
        script.asked.clear();
        script.fileToChoose = juce::File();
        script.locateAnswer = c.answer;
        script.locatedPath = c.located;

        bool loaded = true;
        const auto lines = console_probe::linesOf([&] { loaded = container->loadPlugin(1, c.path, {}); });

        EXPECT_FALSE(loaded) << c.what;
        EXPECT_EQ(script.asked.joinIntoString(","), c.expectedAsked) << c.what;
        EXPECT_TRUE(lines.contains("default instance:failed to load plugin...")) << c.what;
        if (c.path.isEmpty())
            EXPECT_TRUE(lines.contains(", in index 1")) << c.what; // the path line with no path
        EXPECT_EQ(container->getPluginInstance(1), kept) << c.what;
        EXPECT_FALSE(container->isSuspended()) << c.what;
    }
}

TEST_F(ContainerLoading, MissingFileLocatedByTheUserIsLoaded)
{
    const auto moved = FixtureFiles::path("PlainSynth") + ".moved";
    script.locateAnswer = LoadDialogs::LocateAnswer::yes;
    script.locatedPath = FixtureFiles::path("PlainSynth");

    ASSERT_TRUE(container->loadPlugin(0, moved, {}));
    EXPECT_EQ(script.asked.joinIntoString(","), "locate?:" + moved + ",browse");
    EXPECT_EQ(container->getLoadedPluginName(0), "PlainSynth");
}

TEST_F(ContainerLoading, FileChosenInTheNativeDialogIsLoaded)
{
    script.fileToChoose = juce::File(FixtureFiles::path("PlainSynth"));
    ASSERT_TRUE(container->loadPlugin(0, {}, {}));
    EXPECT_EQ(script.asked, juce::StringArray("choose"));
    EXPECT_EQ(container->getLoadedPluginName(0), "PlainSynth");
}

TEST_F(ContainerLoading, WideSynthGetsAnAuxiliaryBufferAndOnlyItsFirstTwoOutputsAreHeard)
{
    const auto lines = console_probe::linesOf([&] { ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("WideSynth"), {})); });
    EXPECT_TRUE(lines.contains("mode: 0/2; Plugin: 0/16"));
    EXPECT_TRUE(lines.contains("allocating aux buffer ( plugin has more outputs )"));
    EXPECT_TRUE(PluginContainerTestAccess::hasAuxBuffer(*container, 0));
    EXPECT_EQ(PluginContainerTestAccess::auxChannels(*container, 0), 16);

    const auto [left, right] = playNote();
    EXPECT_GT(left, 0.01f);
    EXPECT_GT(right, 0.01f);
    EXPECT_LE(left, 1.0f); // the constant signatures of the further channels do not leak in
}

TEST_F(ContainerLoading, MonoSynthLeavesNoGarbageOnTheSecondOutput)
{
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("MonoSynth"), {}));

    juce::AudioBuffer<float> buffer(2, blockSize);
    for (int channel = 0; channel < 2; ++channel)
        juce::FloatVectorOperations::fill(buffer.getWritePointer(channel), 777.0f, blockSize);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 60, (juce::uint8) 100), 0);
    processLikeWrapper(*container, buffer, midi, false);

    EXPECT_GT(buffer.getMagnitude(0, 0, blockSize), 0.01f);
    EXPECT_LT(buffer.getMagnitude(0, 0, blockSize), 1.0f);
    EXPECT_EQ(buffer.getMagnitude(1, 0, blockSize), 0.0f);
}

TEST_F(ContainerLoading, SwitchingMovesAudioAndParametersToTheOtherSlot)
{
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("MonoSynth"), {}));

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    EXPECT_EQ(container->getParameterName(0), "Gain"); // PlainSynth's first parameter
    EXPECT_GT(playNote().second, 0.01f);                // stereo synth: both outputs

    const auto lines = console_probe::linesOf([&] { ASSERT_TRUE(container->setActivePlugin(1)); });
    EXPECT_EQ(lines, juce::StringArray({ "default instance:changing active plugin to index 1",
                                         "default instance:successfully changed active plugin to index 1" }));
    EXPECT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_FALSE(container->isSuspended());

    // The block of the switch fades the stereo synth out; from the next one on the mono synth alone.
    EXPECT_GT(playNote().second, 0.0f);
    const auto [left, right] = playNote();
    EXPECT_GT(left, 0.01f);
    EXPECT_EQ(right, 0.0f); // now the mono synth plays
    EXPECT_NE(container->getParameterName(0), "Gain");
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

TEST_F(ContainerLoading, SwitchingToTheActiveOrToAnEmptySlot)
{
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));

    bool result = false;
    auto lines = console_probe::linesOf([&] { result = container->setActivePlugin(0); });
    EXPECT_TRUE(result);
    EXPECT_EQ(lines, juce::StringArray("default instance:changing active plugin to index 0"));

    lines = console_probe::linesOf([&] { result = container->setActivePlugin(1); });
    EXPECT_FALSE(result);
    EXPECT_EQ(lines, juce::StringArray({ "default instance:changing active plugin to index 1",
                                         "default instance:no plugin available at index 1" }));
    EXPECT_EQ(container->getActivePluginIndex(), 0);
    EXPECT_GT(playNote().first, 0.01f); // slot 0 keeps playing
}

TEST_F(ContainerLoading, LatencyIsTheLargerOfTheSlotsAndOnlyChangesAreReported)
{
    struct LatencyListener : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}
        void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails& details) override
        {
            changes += details.latencyChanged ? 1 : 0;
        }
        int changes = 0;
    } listener;
    container->addListener(&listener);

    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("LatencySynth256"), {}));
    EXPECT_EQ(container->getLatencySamples(), 256);
    EXPECT_EQ(listener.changes, 1);

    ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("LatencySynth512"), {}));
    EXPECT_EQ(container->getLatencySamples(), 512); // the inactive slot counts too
    EXPECT_EQ(listener.changes, 2);

    ASSERT_TRUE(container->setActivePlugin(1)); // a switch changes nothing the host was told
    EXPECT_EQ(container->getLatencySamples(), 512);
    EXPECT_EQ(listener.changes, 2);

    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("LatencySynth512"), {}));
    ASSERT_TRUE(container->setActivePlugin(0)); // same latency: nothing to report
    EXPECT_EQ(listener.changes, 2);

    container->removeListener(&listener);
}

TEST_F(ContainerLoading, UnloadedActiveSlotStaysSuspendedUntilTheNextLoadIntoIt)
{
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    const auto lines = console_probe::linesOf([&] { container->unloadPlugin(0, false, false); });
    EXPECT_EQ(lines, juce::StringArray("default instance:unloading plugin in index 0."));
    EXPECT_TRUE(container->isSuspended());
    EXPECT_EQ(container->getLoadedPluginName(0), "<none>");

    EXPECT_FALSE(container->loadPlugin(0, FixtureFiles::path("NotAPlugin"), {})); // even a failed load
    EXPECT_FALSE(container->isSuspended());

    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    container->unloadPlugin(0, false, true);
    EXPECT_FALSE(container->isSuspended());

    container->unloadPlugin(1, false, true); // an empty slot: no line, nothing happens
    EXPECT_FALSE(container->isSuspended());
}

struct UserUnloadCase
{
    const char* name;
    const char* slot1Fixture; // null: slot 1 stays empty
    bool slot1Crashed;
    int activeBefore;
    int unloadedSlot;
    int activeAfter;
    bool playsAfter;
};

class ContainerUserUnload : public ContainerLoading, public ::testing::WithParamInterface<UserUnloadCase>
{
};

TEST_P(ContainerUserUnload, ActiveSlotUnloadedByTheUserHandsOverToTheOtherHealthyPlugin)
{
    const auto& row = GetParam();
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    if (row.slot1Fixture != nullptr)
    {
        ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path(row.slot1Fixture), {}));
    }
    if (row.slot1Crashed)
    {
        makeCrash(*container, 1);
        ASSERT_TRUE(container->probePluginCrash(1));
    }
    ASSERT_TRUE(container->setActivePlugin(row.activeBefore));

    container->unloadPluginByUser(row.unloadedSlot);

    EXPECT_EQ(container->getPluginInstance(row.unloadedSlot), nullptr);
    EXPECT_EQ(container->getActivePluginIndex(), row.activeAfter);
    EXPECT_FALSE(container->isSuspended());
    EXPECT_EQ(playNote().first > 0.01f, row.playsAfter);
}

INSTANTIATE_TEST_SUITE_P(
    ContainerLoading, ContainerUserUnload,
    ::testing::Values(UserUnloadCase { "ActiveZeroOtherHealthy", "MonoSynth", false, 0, 0, 1, true },
                      UserUnloadCase { "ActiveOneOtherHealthy", "MonoSynth", false, 1, 1, 0, true },
                      UserUnloadCase { "ActiveZeroOtherCrashed", "CrashPlainSynth", true, 0, 0, 0, false },
                      UserUnloadCase { "ActiveZeroOtherEmpty", nullptr, false, 0, 0, 0, false },
                      UserUnloadCase { "InactiveSlot", "MonoSynth", false, 0, 1, 0, true }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ContainerLoading, TwoSlotsGivenTheSameEffectByThePluginRaiseTheInfoBox)
{
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("SharedEffectSynth"), {}));
    EXPECT_TRUE(script.asked.isEmpty());
    ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("SharedEffectSynth"), {}));
    EXPECT_EQ(script.asked, juce::StringArray("info"));
    container->unloadPlugin(1, false, false); // the load stands; unloading must not take slot 0 with it
}
} // namespace
