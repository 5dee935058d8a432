// The crash watchdog and crash recovery with real fixture plugins: the tick's rules (ticks run by
// the test, deterministic), several containers, the watchdog's lifetime, recovery of state, and the
// rules when dialogs or reloads go wrong.
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/AudioProcessorState.h"
#include "hosting/ComboBoxChooseComponent.h"
#include "hosting/LoaderGlobals.h"
#include "support/ConsoleProbe.h"
#include "support/ContainerTestAccess.h"
#include "support/CrashSupport.h"
#include "support/FixtureFiles.h"
#include "support/ModalDriver.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"

#include <gtest/gtest.h>

namespace
{
using Processor = PluginContainerAudioProcessor;

/**
    Takes a plugin file away from its path while it may be loaded: renamed, not deleted (Windows
    refuses to delete a loaded library, but lets it be renamed).
*/
void moveAway(const juce::String& path)
{
    ASSERT_TRUE(juce::File(path).moveFileTo(juce::File(path + ".away")));
}

constexpr Vst2::VstInt32 setUserDataOpcode = CCONST('P', 'S', 'u', 'd'); // PlainSynth's extra chunk bytes

class CrashWatch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        consoleEnabled = true; // log lines are read back from the console window
        container = makeContainer("default instance");
    }

    void TearDown() override
    {
        container.reset();
        consoleEnabled = false;
    }

    std::unique_ptr<Processor> makeContainer(const juce::String& name)
    {
        auto made = std::make_unique<Processor>();
        made->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        made->setInstanceName(name);
        made->prepareToPlay(44100.0, 256);
        return made;
    }

    void load(Processor& into, int slot, const juce::String& fixture)
    {
        ASSERT_TRUE(into.loadPlugin(slot, FixtureFiles::path(fixture), {})) << fixture;
    }


    static float parameter(Processor& c, int slot, int index)
    {
        return c.getPluginInstance(slot)->getParameters()[index]->getValue();
    }

    static void setParameter(Processor& c, int slot, int index, float value)
    {
        c.getPluginInstance(slot)->getParameters()[index]->setValue(value);
    }

    static juce::MemoryBlock stateOf(Processor& c, int slot)
    {
        juce::MemoryBlock block;
        c.getPluginInstance(slot)->getStateInformation(block);
        return block;
    }

    DialogScript script;

    std::unique_ptr<Processor> container;
};

//==================================================================================================
// The tick's rules

struct TickCase
{
    const char* what;
    const char* slot0; // fixture, or nullptr for an empty slot
    const char* slot1;
    int active;
    bool crash0, crash1;
    bool autoSwitch, autoRecovery;
    int activeAfter;
    bool recovered0, recovered1; // the slot holds a new instance, its mark cleared
};

// The case prints as its name, which keeps the registered test names readable and stable.
void PrintTo(const TickCase& c, std::ostream* os)
{
    *os << c.what;
}

class TickRules : public CrashWatch, public ::testing::WithParamInterface<TickCase>
{
};

TEST_P(TickRules, ProbeThenSwitchThenRecoverInOneTick)
{
    const auto& c = GetParam();
    const char* fixtures[2] = { c.slot0, c.slot1 };
    const bool crashes[2] = { c.crash0, c.crash1 };
    const bool recovered[2] = { c.recovered0, c.recovered1 };

    for (int slot = 0; slot < 2; ++slot)
        if (fixtures[slot] != nullptr)
            load(*container, slot, fixtures[slot]);
    if (c.active != 0)
        ASSERT_TRUE(container->setActivePlugin(c.active));

    container->setOption(Processor::optionAutoSwitch, c.autoSwitch);
    container->setOption(Processor::optionAutoCrashRecovery, c.autoRecovery);

    juce::AudioPluginInstance* before[2] = { container->getPluginInstance(0), container->getPluginInstance(1) };
    for (int slot = 0; slot < 2; ++slot)
        if (crashes[slot])
            makeCrash(*container, slot);

    tickWatchdog();

    EXPECT_EQ(container->getActivePluginIndex(), c.activeAfter);
    for (int slot = 0; slot < 2; ++slot)
    {
        SCOPED_TRACE("slot " + std::to_string(slot));
        if (recovered[slot])
        {
            // A fresh instance: unmarked, and it does not report the crash of the old one.
            EXPECT_NE(container->getPluginInstance(slot), nullptr);
            EXPECT_FALSE(container->isPluginCrashed(slot));
            EXPECT_FALSE(container->probePluginCrash(slot));
        }
        else
        {
            EXPECT_EQ(container->getPluginInstance(slot), before[slot]);
            EXPECT_EQ(container->isPluginCrashed(slot), crashes[slot]);
        }
    }
    EXPECT_FALSE(container->isSuspended());
}

INSTANTIATE_TEST_SUITE_P(
    CrashWatch, TickRules,
    ::testing::Values(
        TickCase { "active crashes, healthy other: switch", "CrashPlainSynth", "PlainSynth", 0, true, false, true, false, 1, false, false },
        TickCase { "active slot 1 crashes: switch back to 0", "PlainSynth", "CrashPlainSynth", 1, false, true, true, false, 0, false, false },
        TickCase { "other slot empty: no switch", "CrashPlainSynth", nullptr, 0, true, false, true, false, 0, false, false },
        TickCase { "other slot crashed too: no switch", "CrashPlainSynth", "CrashPlainSynth", 0, true, true, true, false, 0, false, false },
        TickCase { "auto-switch off: only marked", "CrashPlainSynth", "PlainSynth", 0, true, false, false, false, 0, false, false },
        TickCase { "inactive crashes: no switch, not recovered", "PlainSynth", "CrashPlainSynth", 0, false, true, true, false, 0, false, false },
        TickCase { "inactive crashes, auto-recovery: reloaded", "PlainSynth", "CrashPlainSynth", 0, false, true, true, true, 0, false, true },
        TickCase { "both options: switch first, then reload the crashed one", "CrashPlainSynth", "PlainSynth", 0, true, false, true, true, 1, true, false },
        TickCase { "a plugin that does not know the query is never marked", "PlainSynth", "PlainSynth", 0, false, false, true, true, 0, false, false }),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(CrashWatch, WarningNamesSlotAndInstanceAndTheSwitchFollowsInTheSameTick)
{
    load(*container, 0, "CrashPlainSynth");
    load(*container, 1, "CrashPlainSynth");
    makeCrash(*container, 0);

    const auto lines = console_probe::linesOf([] { tickWatchdog(); });
    const juce::StringArray expected {
        "Warning: plugin at index 0 in instance with name default instance seems to have crashed",
        "default instance:changing active plugin to index 1",
        "default instance:successfully changed active plugin to index 1",
    };
    EXPECT_EQ(lines, expected);

    // The mark stays (and the warning repeats) until a load clears it; a later crash of slot 1
    // does not switch back to the marked slot.
    makeCrash(*container, 1);
    const auto next = console_probe::linesOf([] { tickWatchdog(); });
    EXPECT_EQ(next.size(), 2);
    EXPECT_TRUE(next[0].startsWith("Warning: plugin at index 0"));
    EXPECT_TRUE(next[1].startsWith("Warning: plugin at index 1"));
    EXPECT_EQ(container->getActivePluginIndex(), 1);

    load(*container, 0, "PlainSynth");
    EXPECT_FALSE(container->isPluginCrashed(0));
}

TEST_F(CrashWatch, ContainersArePolledInCreationOrder)
{
    auto second = makeContainer("second");
    auto third = makeContainer("third");
    container->setInstanceName("first");

    for (auto* c : { third.get(), container.get(), second.get() })
    {
        load(*c, 0, "CrashPlainSynth");
        makeCrash(*c, 0);
    }

    ASSERT_EQ(watchdog->getNumberOfPluginsBeingWatched(), 3);
    const auto lines = console_probe::linesOf([] { tickWatchdog(); });
    const juce::StringArray expected {
        "Warning: plugin at index 0 in instance with name first seems to have crashed",
        "Warning: plugin at index 0 in instance with name second seems to have crashed",
        "Warning: plugin at index 0 in instance with name third seems to have crashed",
    };
    EXPECT_EQ(lines, expected);
}

TEST(CrashWatchDogLifetime, FirstContainerMakesItLastDeletesItNextMakesAFreshOne)
{
    ASSERT_EQ(watchdog, nullptr);
    {
        Processor a;
        ASSERT_NE(watchdog, nullptr);
        EXPECT_TRUE(watchdog->isTimerRunning());
        EXPECT_EQ(watchdog->getTimerInterval(), 1000);
        {
            Processor b;
            EXPECT_EQ(watchdog->getNumberOfPluginsBeingWatched(), 2);
            EXPECT_EQ(watchdog->getWatchedProcessors()[0], &a);
            EXPECT_EQ(watchdog->getWatchedProcessors()[1], &b);
        }
        EXPECT_EQ(watchdog->getNumberOfPluginsBeingWatched(), 1);
        watchdog->stopTimer(); // a new watchdog must not inherit this
    }
    EXPECT_EQ(watchdog, nullptr);

    Processor fresh;
    ASSERT_NE(watchdog, nullptr);
    EXPECT_TRUE(watchdog->isTimerRunning());
    EXPECT_EQ(watchdog->getNumberOfPluginsBeingWatched(), 1);
}

//==================================================================================================
// Recovery

TEST_F(CrashWatch, RecoveryGivesBackProgramStateAndParametersOfTheLastSave)
{
    load(*container, 0, "CrashPlainSynth");
    load(*container, 1, "PlainSynth");

    // A state block with zero bytes in it, through the fixture's extra chunk bytes.
    const char userBytes[] = { 'a', 0, 0, 'b', 0, 'c', 0 };
    auto* effect = vstEffectOf(*container->getPluginInstance(0));
    ASSERT_EQ(effect->dispatcher(effect, Vst2::effVendorSpecific, setUserDataOpcode, (Vst2::VstIntPtr) sizeof(userBytes),
                                 (void*) userBytes, 0.0f),
              1);
    container->getPluginInstance(0)->setCurrentProgram(2);
    setParameter(*container, 0, 1, 0.25f);
    setParameter(*container, 0, 3, 0.75f);

    juce::MemoryBlock saved;
    container->getStateInformation(saved);
    const auto stateAtSave = stateOf(*container, 0);
    ASSERT_NE(container->getRecoveryState(0), nullptr);
    EXPECT_EQ(container->getRecoveryState(0)->stateData, stateAtSave);

    // Changed after the save, then crashed.
    setParameter(*container, 0, 1, 0.9f);
    container->getPluginInstance(0)->setCurrentProgram(1);
    makeCrash(*container, 0);
    tickWatchdog(); // switches to slot 1
    ASSERT_EQ(container->getActivePluginIndex(), 1);

    const auto lines = console_probe::linesOf([&] { container->recoverPlugin(0); });
    EXPECT_EQ(lines[0], "Recovering plugin at index 0 in instance with name default instance.");
    EXPECT_TRUE(lines.contains("default instance:unloading plugin in index 0."));
    EXPECT_TRUE(lines.contains("Recovering plugin state..."));

    EXPECT_FALSE(container->isPluginCrashed(0));
    EXPECT_EQ(container->getActivePluginIndex(), 1); // the recovered plugin stays inactive
    EXPECT_EQ(container->getPluginInstance(0)->getCurrentProgram(), 2);
    EXPECT_FLOAT_EQ(parameter(*container, 0, 1), 0.25f);
    EXPECT_FLOAT_EQ(parameter(*container, 0, 3), 0.75f);
    EXPECT_EQ(stateOf(*container, 0), stateAtSave); // byte for byte, zero bytes included

    // A second recovery returns to the same snapshot.
    setParameter(*container, 0, 1, 0.5f);
    container->recoverPlugin(0);
    EXPECT_FLOAT_EQ(parameter(*container, 0, 1), 0.25f);
}

struct RecoveryDefaultsCase
{
    const char* what;
    bool saveFirst;
    bool reloadData;
};

// The case prints as its name, which keeps the registered test names readable and stable.
void PrintTo(const RecoveryDefaultsCase& c, std::ostream* os)
{
    *os << c.what;
}

class RecoveryDefaults : public CrashWatch, public ::testing::WithParamInterface<RecoveryDefaultsCase>
{
};

TEST_P(RecoveryDefaults, PluginComesBackInItsDefaultState)
{
    const auto& c = GetParam();
    load(*container, 0, "CrashPlainSynth");
    const auto defaults = parameter(*container, 0, 1);
    setParameter(*container, 0, 1, 0.125f);

    if (c.saveFirst)
    {
        juce::MemoryBlock saved;
        container->getStateInformation(saved);
    }
    container->setOption(Processor::optionReloadCrashedPluginData, c.reloadData);
    makeCrash(*container, 0);
    tickWatchdog();

    const auto lines = console_probe::linesOf([&] { container->recoverPlugin(0); });
    EXPECT_FALSE(lines.contains("Recovering plugin state..."));
    EXPECT_FLOAT_EQ(parameter(*container, 0, 1), defaults);
    EXPECT_FALSE(container->isPluginCrashed(0));
    EXPECT_EQ(container->getActivePluginIndex(), 0); // active again once reloaded
    EXPECT_FALSE(container->isSuspended());
}

INSTANTIATE_TEST_SUITE_P(CrashWatch, RecoveryDefaults,
                         ::testing::Values(RecoveryDefaultsCase { "never saved", false, true },
                                           RecoveryDefaultsCase { "reload data option off", true, false }));

TEST_F(CrashWatch, FailedReloadLeavesTheSlotEmptyMarkedAndKeepsItsSnapshot)
{
    FixtureFiles files;
    const auto path = files.freshCopy("CrashPlainSynth");
    ASSERT_TRUE(container->loadPlugin(0, path, {}));
    juce::MemoryBlock saved;
    container->getStateInformation(saved);
    const auto* snapshot = container->getRecoveryState(0);
    ASSERT_NE(snapshot, nullptr);

    makeCrash(*container, 0);
    tickWatchdog();
    moveAway(path); // the plugin file went away; the user declines to look for it
    script.locateAnswer = LoadDialogs::LocateAnswer::no;

    const auto lines = console_probe::linesOf([&] { container->recoverPlugin(0); });
    EXPECT_TRUE(lines.contains("default instance:failed to load plugin..."));
    EXPECT_EQ(container->getPluginInstance(0), nullptr);
    EXPECT_TRUE(container->isPluginCrashed(0));
    EXPECT_EQ(container->getRecoveryState(0), snapshot);
    EXPECT_FALSE(container->isSuspended()); // the failed load into the active slot resumed it

    // The empty slot is never probed; its mark goes with the next successful load. A load of
    // another plugin file drops the snapshot of the plugin that was there.
    tickWatchdog();
    load(*container, 0, "PlainSynth");
    EXPECT_FALSE(container->isPluginCrashed(0));
    EXPECT_EQ(container->getRecoveryState(0), nullptr);
}

TEST_F(CrashWatch, LoadOfTheSameFileKeepsTheSnapshotOfAFailedRecovery)
{
    FixtureFiles files;
    const auto path = files.freshCopy("CrashPlainSynth");
    ASSERT_TRUE(container->loadPlugin(0, path, {}));
    setParameter(*container, 0, 2, 0.375f);
    juce::MemoryBlock saved;
    container->getStateInformation(saved);

    makeCrash(*container, 0);
    const auto moved = path + ".away";
    ASSERT_TRUE(juce::File(path).moveFileTo(juce::File(moved)));
    container->recoverPlugin(0); // fails: the user answers No
    ASSERT_EQ(container->getPluginInstance(0), nullptr);

    ASSERT_TRUE(juce::File(moved).moveFileTo(juce::File(path)));
    ASSERT_TRUE(container->loadPlugin(0, path, {}));
    ASSERT_NE(container->getRecoveryState(0), nullptr);
    makeCrash(*container, 0);
    container->recoverPlugin(0);
    EXPECT_FLOAT_EQ(parameter(*container, 0, 2), 0.375f);
}

//==================================================================================================
// When dialogs and reloads go wrong inside a tick

TEST(CrashWatchDogLifetime, LastContainerClosedDuringARecoveryDialogTakesTheWatchdogWithIt)
{

    FixtureFiles files;
    DialogScript script;
    auto only = std::make_unique<Processor>();
    only->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));

    const auto path = files.freshCopy("CrashPlainSynth");
    ASSERT_TRUE(only->loadPlugin(0, path, {}));
    only->setOption(Processor::optionAutoCrashRecovery, true);
    makeCrash(*only, 0);
    moveAway(path);
    script.whileOpen = [&](const juce::String&) { only.reset(); };

    // The user's recovery asks where the file went (the watchdog's never asks); the host closes
    // the last container meanwhile.
    watchdog->stopTimer();
    only->recoverPlugin(0);
    EXPECT_EQ(only, nullptr);
    EXPECT_EQ(watchdog, nullptr);
}

TEST_F(CrashWatch, APluginThatCrashesAfterEveryReloadNeitherLeaksNorFloodsTheLog)
{
    load(*container, 0, "PlainSynth");
    load(*container, 1, "CrashAgainSynth");
    container->setOption(Processor::optionAutoCrashRecovery, true);
    juce::MemoryBlock saved;
    container->getStateInformation(saved);
    const auto* snapshot = container->getRecoveryState(1);

    // A crash a minute by the crash-loop guard's clock: each is a crash of its own, not a loop, so
    // every one is reloaded at once (the guard's limit has tests of its own).
    double now = 0.0;
    PluginContainerTestAccess::setRecoveryTiming(*container, [&] { return now; });

    constexpr int ticks = 300; // three hundred reloads
    for (int i = 0; i < ticks; ++i)
    {
        now += 61000.0;
        tickWatchdog();
    }

    EXPECT_EQ(liveVstLoaderCount, 2);                    // one loader per slot, nothing left over
    EXPECT_EQ(container->getRecoveryState(1), snapshot); // the same snapshot every time
    EXPECT_FALSE(container->isPluginCrashed(1));         // reloaded in the last tick...
    EXPECT_TRUE(container->probePluginCrash(1));         // ...and crashed again at once
    EXPECT_EQ(container->getActivePluginIndex(), 0);
    EXPECT_LE(console_probe::lines().size(), NewComponent::maxLines);
}

//==================================================================================================
// Real time: the watchdog's own timer on the message loop

TEST_F(CrashWatch, TheTimerSwitchesWithinASecondOfACrash)
{
    load(*container, 0, "CrashPlainSynth");
    load(*container, 1, "PlainSynth");
    ASSERT_TRUE(watchdog->isTimerRunning());

    makeCrash(*container, 0);
    const auto start = juce::Time::getMillisecondCounter();
    while (container->getActivePluginIndex() == 0 && juce::Time::getMillisecondCounter() - start < 3000)
        console_probe::pumpMessages(20);

    EXPECT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_TRUE(container->isPluginCrashed(0));
}
} // namespace
