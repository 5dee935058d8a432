// What a failover must never do: lose or poison a slot in a save, let the audio thread hear a
// plugin before its state is back, wait on a crashed plugin, let the watchdog's work interleave,
// or destroy a plugin that has a call of ours on its stack.
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/AudioProcessorState.h"
#include "hosting/ComboBoxChooseComponent.h"
#include "hosting/PluginCallTracker.h"
#include "state/MemoryBlockBase64.h"
#include "support/ConsoleProbe.h"
#include "support/ContainerTestAccess.h"
#include "support/CrashSupport.h"
#include "support/FakeInstrument.h"
#include "support/FixtureFiles.h"
#include "support/ModalDriver.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/WrapperDrive.h"
#include "CrashProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
using Processor = PluginContainerAudioProcessor;

// PlainSynth's own queries (see its header in the fixtures).
namespace PlainSynth
{
constexpr Vst2::VstInt32 kSetUserDataOpcode = CCONST('P', 'S', 'u', 'd');
constexpr Vst2::VstInt32 kChunkRequestsOpcode = CCONST('P', 'S', 'c', 'q');
constexpr Vst2::VstInt32 kResumeRateOpcode = CCONST('P', 'S', 'r', 'r');
constexpr Vst2::VstInt32 kResumeBlockOpcode = CCONST('P', 'S', 'r', 'b');
constexpr Vst2::VstInt32 kFirstBlockGainOpcode = CCONST('P', 'S', 'f', 'g');
} // namespace PlainSynth

Vst2::VstIntPtr ask(Processor& c, int slot, Vst2::VstInt32 opcode, Vst2::VstIntPtr value = 0, void* ptr = nullptr)
{
    auto* effect = vstEffectOf(*c.getPluginInstance(slot));
    return effect->dispatcher(effect, Vst2::effVendorSpecific, opcode, value, ptr, 0.0f);
}

void setUserData(Processor& c, int slot, const std::string& bytes)
{
    ASSERT_EQ(ask(c, slot, PlainSynth::kSetUserDataOpcode, (Vst2::VstIntPtr) bytes.size(), (void*) bytes.data()), 1);
}

std::string save(Processor& c)
{
    juce::MemoryBlock block;
    c.getStateInformation(block);
    return block.toString().toStdString();
}

std::string base64Of(const juce::MemoryBlock& block)
{
    std::string text(memory_block_base64::encodedLength(block.getSize()), '\0');
    memory_block_base64::encode(block.getData(), block.getSize(), text.data());
    return text;
}

/** The text of the document's "plugin" element for a slot; empty when there is none. */
std::string pluginElement(const std::string& document, int slot)
{
    const auto start = document.find("<plugin index=\"" + std::to_string(slot) + "\"");
    if (start == std::string::npos)
        return {};
    const auto end = document.find("</plugin>", start);
    const auto endEmpty = document.find("/>", start);
    return document.substr(start, std::min(end, endEmpty) + 2 - start);
}

void moveAway(const juce::String& path)
{
    ASSERT_TRUE(juce::File(path).moveFileTo(juce::File(path + ".away")));
}

class Failover : public ::testing::Test
{
protected:
    void SetUp() override
    {
        consoleEnabled = true;
        container = makeContainer("stage");
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

    void load(Processor& into, int slot, const juce::String& path)
    {
        ASSERT_TRUE(into.loadPlugin(slot, path, {})) << path;
    }

    FixtureFiles files;
    DialogScript script;
    std::unique_ptr<Processor> container;
};

//==================================================================================================
// Saves

TEST_F(Failover, ASaveDuringARecoveryKeepsTheSlotAsItWasAndAFailedReloadStaysInTheProject)
{
    const auto path = files.freshCopy("CrashPlainSynth");
    load(*container, 0, path);
    setUserData(*container, 0, "the sound of the last save");
    const auto saved = save(*container);
    const auto element = pluginElement(saved, 0);
    ASSERT_NE(element.find(base64Of(container->getRecoveryState(0)->stateData)), std::string::npos);

    makeCrash(*container, 0);
    moveAway(path);

    // The host saves while the reload asks where the plugin went (the slot is empty then).
    std::string duringRecovery;
    script.locateAnswer = LoadDialogs::LocateAnswer::no;
    script.whileOpen = [&](const juce::String&) { duringRecovery = save(*container); };
    container->recoverPlugin(0);

    EXPECT_EQ(script.asked, juce::StringArray { "locate?:" + path });
    EXPECT_EQ(pluginElement(duringRecovery, 0), element);

    // The user answered No: the slot is missing, and every later save still names it as it was.
    EXPECT_EQ(container->getPluginInstance(0), nullptr);
    EXPECT_TRUE(container->isPluginMissing(0));
    EXPECT_FALSE(container->isPluginRecovering(0));
    EXPECT_EQ(pluginElement(save(*container), 0), element);

    // Until the user unloads it.
    container->unloadPlugin(0, false, true);
    EXPECT_FALSE(container->isPluginMissing(0));
    EXPECT_EQ(pluginElement(save(*container), 0), "");
}

TEST_F(Failover, ACrashedSlotIsSavedFromItsSnapshotWithoutAskingThePlugin)
{
    load(*container, 0, FixtureFiles::path("CrashPlainSynth"));
    load(*container, 1, FixtureFiles::path("PlainSynth"));
    setUserData(*container, 0, "good");
    const auto element = pluginElement(save(*container), 0);
    const auto* snapshot = container->getRecoveryState(0);

    // After the save the plugin goes bad, then reports its crash; the default options switch away.
    setUserData(*container, 0, "poisoned");
    makeCrash(*container, 0);
    tickWatchdog();
    ASSERT_TRUE(container->isPluginCrashed(0));
    ASSERT_EQ(container->getActivePluginIndex(), 1);

    const auto requestsBefore = ask(*container, 0, PlainSynth::kChunkRequestsOpcode);
    const auto document = save(*container);

    EXPECT_EQ(ask(*container, 0, PlainSynth::kChunkRequestsOpcode), requestsBefore); // not asked
    EXPECT_EQ(pluginElement(document, 0), element);
    EXPECT_EQ(container->getRecoveryState(0), snapshot); // the last good snapshot stays
    EXPECT_NE(pluginElement(document, 1), "");
}

TEST_F(Failover, AProjectWhosePluginIsMissingKeepsItThroughSaves)
{
    // Written on a machine that had the plugin, opened on one that has not.
    const auto path = files.freshCopy("PlainSynth");
    load(*container, 1, path);
    ASSERT_TRUE(container->setActivePlugin(1));
    setUserData(*container, 1, "a patch made at home");
    container->getPluginInstance(1)->getParameters()[2]->setValue(0.125f);
    const auto original = save(*container);
    container.reset();
    moveAway(path);

    container = makeContainer("stage");
    script.locateAnswer = LoadDialogs::LocateAnswer::no;
    container->setStateInformation(original.data(), (int) original.size());

    EXPECT_EQ(container->getPluginInstance(1), nullptr);
    EXPECT_TRUE(container->isPluginMissing(1));
    EXPECT_TRUE(container->getMissingReason(1).contains(path));
    EXPECT_EQ(pluginElement(save(*container), 1), pluginElement(original, 1));

    // Back on the machine with the plugin, the kept slot recovers with its state.
    ASSERT_TRUE(juce::File(path + ".away").moveFileTo(juce::File(path)));
    container->recoverPlugin(1);
    ASSERT_NE(container->getPluginInstance(1), nullptr);
    EXPECT_FALSE(container->isPluginMissing(1));
    EXPECT_FLOAT_EQ(container->getPluginInstance(1)->getParameters()[2]->getValue(), 0.125f);
    EXPECT_EQ(pluginElement(save(*container), 1), pluginElement(original, 1));
}

TEST_F(Failover, EachSaveAsksEachPluginForItsStateOnceAndKeepsThoseBytes)
{
    load(*container, 0, FixtureFiles::path("PlainSynth"));
    load(*container, 1, FixtureFiles::path("CrashPlainSynth"));

    for (int round = 0; round < 2; ++round)
    {
        const auto before0 = ask(*container, 0, PlainSynth::kChunkRequestsOpcode);
        const auto before1 = ask(*container, 1, PlainSynth::kChunkRequestsOpcode);
        const auto document = save(*container);

        EXPECT_EQ(ask(*container, 0, PlainSynth::kChunkRequestsOpcode), before0 + 1);
        EXPECT_EQ(ask(*container, 1, PlainSynth::kChunkRequestsOpcode), before1 + 1);
        for (int slot = 0; slot < 2; ++slot)
            EXPECT_NE(pluginElement(document, slot).find("binData=\"" + base64Of(container->getRecoveryState(slot)->stateData) + "\""),
                      std::string::npos)
                << "slot " << slot;
    }
}

TEST_F(Failover, ASaveDuringARestoreOnTheMessageThreadGivesTheRestoredDocumentBack)
{
    const auto path = files.freshCopy("PlainSynth");
    load(*container, 0, path);
    container->setInstanceName("the new project");
    const auto document = save(*container);
    container->unloadPlugin(0, false, true);
    container->setInstanceName("the old project");
    load(*container, 1, FixtureFiles::path("PlainSynth"));
    moveAway(path);

    std::string during;
    bool pendingDuring = false;
    script.locateAnswer = LoadDialogs::LocateAnswer::no;
    script.whileOpen = [&](const juce::String&) {
        during = save(*container);
        pendingDuring = container->isRestorePending();
    };
    container->setStateInformation(document.data(), (int) document.size());

    EXPECT_EQ(script.asked.size(), 1);
    EXPECT_TRUE(pendingDuring);
    EXPECT_EQ(during, document); // neither the new main element with the old slots, nor a mixture
    EXPECT_FALSE(container->isRestorePending());
}

//==================================================================================================
// State before sound

TEST_F(Failover, ARecoveredActivePluginPlaysItsSnapshotFromItsFirstBlock)
{
    load(*container, 0, FixtureFiles::path("CrashPlainSynth"));
    container->setOption(Processor::optionAutoSwitch, false);
    container->getPluginInstance(0)->getParameters()[0]->setValue(0.25f); // Gain
    save(*container);

    // The host's audio thread plays all along.
    std::atomic<bool> stop { false };
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, 64);
        juce::MidiBuffer midi;
        while (!stop)
            processLikeWrapper(*container, buffer, midi);
    });

    for (int round = 0; round < 10; ++round)
    {
        makeCrash(*container, 0);
        container->recoverPlugin(0);
        ASSERT_NE(container->getPluginInstance(0), nullptr);

        // Wait for the audio thread to play the new plugin once.
        for (int i = 0; i < 2000 && ask(*container, 0, PlainSynth::kFirstBlockGainOpcode) < 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(ask(*container, 0, PlainSynth::kFirstBlockGainOpcode), 250) << "round " << round;
    }

    stop = true;
    audio.join();
}

TEST_F(Failover, PluginsLoadedBeforeTheHostsFirstPrepareStartAgainWithTheHostsRate)
{
    load(*container, 0, FixtureFiles::path("PlainSynth"));
    const auto document = save(*container);

    // A project opened before the host's first prepare: the plugin starts with a fallback.
    Processor fresh;
    fresh.setStateInformation(document.data(), (int) document.size());
    ASSERT_NE(fresh.getPluginInstance(0), nullptr);
    ASSERT_GT(ask(fresh, 0, PlainSynth::kResumeRateOpcode), 0);

    for (const auto& [rate, block] : { std::pair { 96000.0, 64 }, std::pair { 48000.0, 128 } })
    {
        fresh.prepareToPlay(rate, block); // the second without a release in between
        EXPECT_EQ(ask(fresh, 0, PlainSynth::kResumeRateOpcode), (int) rate);
        EXPECT_EQ(ask(fresh, 0, PlainSynth::kResumeBlockOpcode), block);
    }
}

//==================================================================================================
// The switch

class ResetRecorder : public FakeInstrument
{
public:
    ResetRecorder(int id, Processor& c) : FakeInstrument(id, 2, 4), container(c) {}

    void reset() override
    {
        ++resets;
        activeAtReset = container.getActivePluginIndex();
        suspendedAtReset = container.isSuspended();
    }

    Processor& container;
    int resets = 0;
    int activeAtReset = -1;
    bool suspendedAtReset = true;
};

TEST(FailoverSwitch, TheStandbyPlaysBeforeTheOldPluginIsResetAndACrashedOneIsNotCalled)
{
    for (const bool crashed : { false, true })
    {
        SCOPED_TRACE(crashed ? "crashed" : "healthy");
        Processor container;
        auto first = std::make_unique<ResetRecorder>(1, container);
        auto* recorder = first.get();
        PluginContainerTestAccess::install(container, 0, std::move(first));
        PluginContainerTestAccess::install(container, 1, std::make_unique<FakeInstrument>(2, 2, 4));
        container.prepareToPlay(48000.0, 256);
        if (crashed)
            PluginContainerTestAccess::markCrashed(container, 0);

        ASSERT_TRUE(container.setActivePlugin(1));

        EXPECT_FALSE(container.isSuspended());
        if (crashed)
        {
            EXPECT_EQ(recorder->resets, 0);
        }
        else
        {
            EXPECT_EQ(recorder->resets, 1);
            EXPECT_EQ(recorder->activeAtReset, 1);
            EXPECT_FALSE(recorder->suspendedAtReset);
        }
    }
}

//==================================================================================================
// The watchdog

TEST_F(Failover, EveryContainerSwitchesBeforeAnyReloadsAndTheWatchdogNeverAsks)
{
    const auto path = files.freshCopy("CrashPlainSynth");
    auto second = makeContainer("second");
    for (auto* c : { container.get(), second.get() })
    {
        load(*c, 0, c == container.get() ? path : FixtureFiles::path("CrashPlainSynth"));
        load(*c, 1, FixtureFiles::path("PlainSynth"));
        c->setOption(Processor::optionAutoCrashRecovery, true);
        makeCrash(*c, 0);
    }
    moveAway(path); // the first container's reload cannot find its file

    const auto lines = console_probe::linesOf([] { tickWatchdog(); });

    const auto secondSwitch = lines.indexOf("second:successfully changed active plugin to index 1");
    const auto firstReload = lines.indexOf("Recovering plugin at index 0 in instance with name stage.");
    ASSERT_GE(secondSwitch, 0);
    ASSERT_GE(firstReload, 0);
    EXPECT_LT(secondSwitch, firstReload);

    EXPECT_TRUE(script.asked.isEmpty()); // no dialog on stage
    EXPECT_TRUE(container->isPluginMissing(0));
    EXPECT_EQ(container->getMissingReason(0), "the plugin file is missing: " + path);
    EXPECT_TRUE(lines.contains("Could not recover plugin at index 0 in instance with name stage: "
                               "the plugin file is missing: " + path));
    EXPECT_FALSE(second->isPluginCrashed(0)); // the other container's reload went on
    EXPECT_EQ(second->getActivePluginIndex(), 1);
}

TEST_F(Failover, ATickInsideADialogNeitherNestsNorReloadsABusyContainer)
{
    const auto path = files.freshCopy("CrashPlainSynth");
    load(*container, 0, path);
    load(*container, 1, FixtureFiles::path("CrashPlainSynth"));
    container->setOption(Processor::optionAutoCrashRecovery, true);
    makeCrash(*container, 1);
    moveAway(path);

    // The user recovers slot 0 by hand; while its locate dialog is open the timer fires.
    juce::StringArray nestedLines;
    script.locateAnswer = LoadDialogs::LocateAnswer::no;
    script.whileOpen = [&](const juce::String&) {
        nestedLines = console_probe::linesOf([] { watchdog->timerCallback(); });
    };
    container->recoverPlugin(0);

    // The tick probed (slot 1 is marked) but did not reload while the container was busy.
    EXPECT_TRUE(container->isPluginCrashed(1));
    for (const auto& line : nestedLines)
        EXPECT_FALSE(line.startsWith("Recovering plugin")) << line;

    // The next tick, outside the dialog, does.
    tickWatchdog();
    EXPECT_FALSE(container->isPluginCrashed(1));
}

/**
    Runs an action once, from the first change a hosted plugin announces: the host's work that the
    framework runs while a plugin asks it for idle time (the display update the plugin asked for
    just before), inside the plugin's call.
*/
struct FirstAnnouncement : juce::AudioProcessorListener
{
    FirstAnnouncement(juce::AudioPluginInstance& plugin, std::function<void()> toDo)
        : watched(plugin), action(std::move(toDo))
    {
        watched.addListener(this);
    }

    ~FirstAnnouncement() override
    {
        if (!fired)
            watched.removeListener(this);
    }

    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override
    {
        if (fired)
            return;
        fired = true;
        watched.removeListener(this); // the action may destroy the plugin
        action();
    }

    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}

    juce::AudioPluginInstance& watched;
    std::function<void()> action;
    bool fired = false;
};

void askForIdleInsideCrashQueries(Processor& c, int slot)
{
    ASSERT_EQ(ask(c, slot, pendulum::fixtures::crash_probe::kIdleOnQueryIndex, 1), 1);
}

TEST_F(Failover, WhatAPluginsIdleRequestRunsNeitherNestsATickNorDestroysThePlugin)
{
    struct Case
    {
        const char* what;
        std::function<void(Processor&)> insideTheQuery; // what the late timer does
        bool slotLoadedAfter;
    };
    const std::vector<Case> cases {
        { "the watchdog's own late tick", [](Processor&) { watchdog->timerCallback(); }, true },
        { "the user's unload", [](Processor& c) { c.unloadPlugin(0, false, true); }, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        container = makeContainer("stage");
        load(*container, 0, FixtureFiles::path("CrashProbeSynth"));
        load(*container, 1, FixtureFiles::path("PlainSynth"));
        container->setOption(Processor::optionAutoCrashRecovery, true);
        makeCrash(*container, 0);
        askForIdleInsideCrashQueries(*container, 0);
        watchdog->stopTimer();

        auto* queried = vstEffectOf(*container->getPluginInstance(0));
        bool firedInsideTheQuery = false;
        FirstAnnouncement late(*container->getPluginInstance(0), [&] {
            firedInsideTheQuery = plugin_calls::inProgress(queried);
            c.insideTheQuery(*container);
        });
        const auto lines = console_probe::linesOf([&] {
            watchdog->timerCallback();
            console_probe::pumpMessages(300); // and whatever had to wait
        });
        watchdog->stopTimer();

        EXPECT_TRUE(late.fired);
        EXPECT_TRUE(firedInsideTheQuery);
        EXPECT_EQ(container->getActivePluginIndex(), 1);
        // One crash, one reload: a nested tick would have reloaded the slot again on its stale
        // mark. The unload came after the reload, once the query had returned.
        int reloads = 0;
        for (const auto& line : lines)
            reloads += line == "Recovering plugin at index 0 in instance with name stage." ? 1 : 0;
        EXPECT_EQ(reloads, 1);
        EXPECT_EQ(container->getPluginInstance(0) != nullptr, c.slotLoadedAfter);
    }
}

TEST_F(Failover, ALoadDoesNotRestartTheWatchdogsTimer)
{
    load(*container, 0, FixtureFiles::path("CrashPlainSynth"));
    load(*container, 1, FixtureFiles::path("PlainSynth"));
    auto other = makeContainer("other");
    makeCrash(*container, 0);

    watchdog->startTimer(CrashWatchDog::periodMs);
    const auto start = juce::Time::getMillisecondCounter();

    // Another instance loads plugins twice a second meanwhile.
    int loads = 0;
    while (container->getActivePluginIndex() == 0 && juce::Time::getMillisecondCounter() - start < 1800)
    {
        console_probe::pumpMessages(400);
        if (container->getActivePluginIndex() == 0)
        {
            load(*other, loads % 2, FixtureFiles::path("PlainSynth"));
            ++loads;
        }
    }
    watchdog->stopTimer();

    EXPECT_GE(loads, 2);
    EXPECT_EQ(container->getActivePluginIndex(), 1);
}

TEST_F(Failover, AShellsPluginIsReloadedByItsNameWithoutAsking)
{
    {
        ModalDriver pickSecond({ [](juce::Component& modal) {
            auto* chooser = findDescendant<comboBoxChooseComponent>(modal);
            if (chooser == nullptr)
                return false;
            chooser->getOptionsComboBox().setSelectedId(2);
            chooser->getOkButton().triggerClick();
            return true;
        } });
        load(*container, 0, FixtureFiles::path("ShellTrio"));
    }
    const auto chosen = container->getLoadedPluginName(0);
    ASSERT_EQ(chosen, "Trio Twin");
    save(*container);

    for (const bool byWatchdog : { false, true })
    {
        bool asked = false;
        ModalDriver wouldAnswer({ [&](juce::Component& modal) {
            if (findDescendant<comboBoxChooseComponent>(modal) == nullptr)
                return false;
            asked = true;
            return false;
        } }, 500);
        container->recoverPlugin(0, !byWatchdog);
        EXPECT_FALSE(asked);
        EXPECT_EQ(container->getLoadedPluginName(0), chosen);
        EXPECT_FALSE(container->isPluginMissing(0));
    }
}

//==================================================================================================
// Plugins with a call of ours on their stack

TEST_F(Failover, DestructiveOperationsWaitUntilThePluginsCallHasReturned)
{
    load(*container, 0, FixtureFiles::path("CrashPlainSynth"));
    load(*container, 1, FixtureFiles::path("PlainSynth"));
    const auto document = save(*container);

    struct Operation
    {
        const char* what;
        std::function<void(Processor&)> run;
        std::function<bool(Processor&)> done;
    };
    // The plugin in the slot before the operation carries a mark that no replacement has (the
    // allocator may well give a replacement the same address).
    constexpr float mark = 0.77f;
    const auto replaced = [](Processor& c) {
        auto* now = c.getPluginInstance(0);
        return now != nullptr && now->getParameters()[3]->getValue() != mark;
    };
    const std::vector<Operation> operations {
        { "unload", [](Processor& c) { c.unloadPlugin(0, false, true); },
          [](Processor& c) { return c.getPluginInstance(0) == nullptr; } },
        { "recovery", [](Processor& c) { c.recoverPlugin(0); }, replaced },
        { "load", [](Processor& c) { c.loadPlugin(0, FixtureFiles::path("PlainSynth"), {}); }, replaced },
        { "restore", [&](Processor& c) { c.setStateInformation(document.data(), (int) document.size()); }, replaced },
    };

    for (const auto& operation : operations)
    {
        SCOPED_TRACE(operation.what);
        if (container->getPluginInstance(0) == nullptr)
            load(*container, 0, FixtureFiles::path("CrashPlainSynth"));
        auto* original = container->getPluginInstance(0);
        original->getParameters()[3]->setValue(mark);

        {
            // The plugin runs a loop of its own inside our call: the operation comes from there.
            const plugin_calls::Scope call(vstEffectOf(*original));
            operation.run(*container);
            EXPECT_EQ(container->getPluginInstance(0), original);
            console_probe::pumpMessages(100);
            EXPECT_EQ(container->getPluginInstance(0), original);
        }

        for (int i = 0; i < 50 && !operation.done(*container); ++i)
            console_probe::pumpMessages(20);
        EXPECT_TRUE(operation.done(*container));
    }
}

TEST(FailoverLifetime, AContainerDestroyedOffTheMessageThreadWaitsForIt)
{
    auto container = std::make_unique<Processor>();
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    container->openEditor(0);

    std::atomic<bool> done { false };
    std::thread host([&] {
        container.reset();
        done = true;
    });
    while (!done)
        juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
    host.join();
    EXPECT_EQ(container, nullptr);
}
} // namespace
