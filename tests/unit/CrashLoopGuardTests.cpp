// The crash-loop guard: automatic recovery of a plugin that crashes again and again stops at the
// limit and says so; a plugin that crashes right after being given its snapshot is given the one
// before, then its default state; the count starts afresh after the window and after the user's
// reload or load; slots in helper processes obey the same guard. Time is the test's: the guard's
// clock and the timer of its delayed reloads are replaced, so a minute of crashes takes no minute.
#include "CrashLoop.h"
#include "console/SessionLog.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/AudioProcessorState.h"
#include "crashwatch/CrashLoopGuard.h"
#include "isolation/IsolatedPluginInstance.h"
#include "support/ConsoleProbe.h"
#include "support/ContainerTestAccess.h"
#include "support/CrashSupport.h"
#include "support/FixtureFiles.h"
#include "support/HelperSupport.h"
#include "support/PanelProbe.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/Screenshot.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Processor = PluginContainerAudioProcessor;
using Guard = CrashLoopGuard;
using Snapshot = CrashLoopGuard::Snapshot;
using Action = CrashLoopGuard::Action;

//==================================================================================================
// The guard's own rules, step by step against its clock

struct Step
{
    enum Kind
    {
        crash,     // crashed(): expect action, delay, snapshot
        reloaded,  // finished(): the reload granted last worked, with the snapshot granted
        failed,    // finished(): the reload did not work
        saved,     // snapshotReplaced()
        reset      // reset(): the user's reload or load
    };
    double atMs;
    Kind kind;
    Action action = Action::ignore;
    int delayMs = 0;
    Snapshot snapshot = Snapshot::last;
};

struct GuardCase
{
    const char* what;
    std::vector<Step> steps;
};

void PrintTo(const GuardCase& c, std::ostream* os)
{
    *os << c.what;
}

class GuardRules : public ::testing::TestWithParam<GuardCase>
{
};

TEST_P(GuardRules, DecisionsFollowTheCountTheWindowAndTheSnapshotsBlamed)
{
    double now = 0.0;
    Guard guard([&] { return now; });
    Snapshot granted = Snapshot::last;
    bool givenUp = false, waiting = false;
    int index = 0;

    for (const auto& step : GetParam().steps)
    {
        now = step.atMs;
        SCOPED_TRACE("step " + std::to_string(index++) + " at " + std::to_string((int) step.atMs) + " ms");
        switch (step.kind)
        {
            case Step::crash:
            {
                const auto decision = guard.crashed(1);
                EXPECT_EQ((int) decision.action, (int) step.action);
                if (decision.action == Action::reload)
                {
                    EXPECT_EQ(decision.delayMs, step.delayMs);
                    EXPECT_EQ((int) decision.snapshot, (int) step.snapshot);
                    EXPECT_EQ((int) guard.granted(1), (int) step.snapshot);
                    granted = decision.snapshot;
                }
                givenUp = givenUp || step.action == Action::giveUp;
                waiting = waiting || step.action == Action::reload;
                break;
            }
            case Step::reloaded:
            case Step::failed:
                guard.finished(1, step.kind == Step::reloaded, granted);
                waiting = false;
                break;
            case Step::saved: guard.snapshotReplaced(1); break;
            case Step::reset:
                guard.reset(1);
                givenUp = waiting = false;
                break;
        }
        EXPECT_EQ(guard.hasGivenUp(1), givenUp);
        EXPECT_EQ(guard.isWaiting(1), waiting);
    }

    // The other slot was never touched.
    EXPECT_FALSE(guard.hasGivenUp(0));
    EXPECT_FALSE(guard.isWaiting(0));
}

const Step::Kind crash = Step::crash, reloaded = Step::reloaded, failed = Step::failed, saved = Step::saved,
                 reset = Step::reset;

INSTANTIATE_TEST_SUITE_P(
    Sequences, GuardRules,
    ::testing::Values(
        GuardCase { "ThreeReloadsWithGrowingDelaysThenItGivesUpForGood",
                    { { 0, crash, Action::reload, 0, Snapshot::last },
                      { 100, reloaded },
                      { 1000, crash, Action::reload, 1000, Snapshot::older },
                      { 2100, reloaded },
                      { 3000, crash, Action::reload, 2000, Snapshot::none },
                      { 5100, reloaded },
                      { 6000, crash, Action::giveUp },
                      { 7000, crash, Action::ignore },
                      // Given up stays given up, even once the window has passed.
                      { 200000, crash, Action::ignore } } },
        GuardCase { "ACrashWhileAReloadWaitsIsTheSameCrash",
                    { { 0, crash, Action::reload, 0, Snapshot::last },
                      { 500, crash, Action::ignore },
                      { 600, reloaded },
                      { 2000, crash, Action::reload, 1000, Snapshot::older },
                      { 2500, crash, Action::ignore } } },
        GuardCase { "ReloadsOlderThanTheWindowNoLongerCount",
                    { { 0, crash, Action::reload, 0, Snapshot::last },
                      { 100, reloaded },
                      { 25000, crash, Action::reload, 1000, Snapshot::last },
                      { 26100, reloaded },
                      { 50000, crash, Action::reload, 2000, Snapshot::last },
                      { 52100, reloaded },
                      // The first reload (at 0) is out of the window: two count, the third is granted.
                      { 63000, crash, Action::reload, 2000, Snapshot::last },
                      { 65100, reloaded },
                      { 90000, crash, Action::reload, 2000, Snapshot::last },
                      { 92100, reloaded },
                      { 200000, crash, Action::reload, 0, Snapshot::last } } },
        GuardCase { "ACrashLaterThanTheSettlingTimeBlamesNoSnapshot",
                    { { 0, crash, Action::reload, 0, Snapshot::last },
                      { 100, reloaded },
                      { 10099, crash, Action::reload, 1000, Snapshot::older },
                      { 11100, reloaded },
                      { 21100, crash, Action::reload, 2000, Snapshot::last } } },
        GuardCase { "ASaveOfADifferentStateAfterTheReloadEndsTheBlame",
                    { { 0, crash, Action::reload, 0, Snapshot::last },
                      { 100, reloaded },
                      { 500, saved },
                      { 1000, crash, Action::reload, 1000, Snapshot::last } } },
        GuardCase { "AFailedReloadBlamesNothingButStillCounts",
                    { { 0, crash, Action::reload, 0, Snapshot::last },
                      { 100, failed },
                      { 1000, crash, Action::reload, 1000, Snapshot::last },
                      { 2100, failed },
                      { 3000, crash, Action::reload, 2000, Snapshot::last },
                      { 5100, failed },
                      { 6000, crash, Action::giveUp } } },
        GuardCase { "TheUsersReloadStartsTheCountAfresh",
                    { { 0, crash, Action::reload, 0, Snapshot::last },
                      { 100, reloaded },
                      { 1000, crash, Action::reload, 1000, Snapshot::older },
                      { 2100, reloaded },
                      { 3000, crash, Action::reload, 2000, Snapshot::none },
                      { 5100, reloaded },
                      { 6000, crash, Action::giveUp },
                      { 7000, reset },
                      { 8000, crash, Action::reload, 0, Snapshot::last } } },
        GuardCase { "AResetDropsAReloadThatWaits",
                    { { 0, crash, Action::reload, 0, Snapshot::last },
                      { 100, reloaded },
                      { 1000, crash, Action::reload, 1000, Snapshot::older },
                      { 1500, reset },
                      { 1600, crash, Action::reload, 0, Snapshot::last } } }),
    [](const auto& info) { return std::string(info.param.what); });

TEST(GuardTickets, AResetChangesTheSlotsTicketAndOnlyThatSlots)
{
    Guard guard([] { return 0.0; });
    const auto before0 = guard.ticket(0), before1 = guard.ticket(1);
    guard.reset(1);
    EXPECT_EQ(guard.ticket(0), before0);
    EXPECT_NE(guard.ticket(1), before1);
}

//==================================================================================================
// The container, with the watchdog's ticks run by the test

/** The test's time: the guard's clock, and the delayed reloads it asked for, run when the test says. */
struct TestTime
{
    double nowMs = 1000.0;
    struct Delayed
    {
        int delayMs;
        std::function<void()> run;
    };
    std::vector<Delayed> pending;
    std::vector<int> delaysAsked;
    std::vector<std::thread::id> askedOn; // the thread of each request for a delayed reload

    void install(Processor& container)
    {
        PluginContainerTestAccess::setRecoveryTiming(
            container, [this] { return nowMs; },
            [this](int delayMs, std::function<void()> run) {
                delaysAsked.push_back(delayMs);
                askedOn.push_back(std::this_thread::get_id());
                pending.push_back({ delayMs, std::move(run) });
            });
    }

    /** Lets the delays pass: each waiting reload runs once its time has come. */
    void runPending()
    {
        while (!pending.empty())
        {
            auto next = std::move(pending.front());
            pending.erase(pending.begin());
            nowMs += next.delayMs;
            next.run();
        }
    }
};

constexpr Vst2::VstInt32 setUserDataOpcode = CCONST('P', 'S', 'u', 'd'); // PlainSynth's extra chunk bytes
constexpr int toneParameter = 1;                                        // PlainSynth's "Tone", 0.5 by default
constexpr float defaultTone = 0.5f;
const juce::String crashLoopSlot2 = "slot 2: automatic recovery gave up after 3 reloads in 60 s";

class CrashLoops : public ::testing::Test
{
protected:
    void SetUp() override
    {
        consoleEnabled = true;
        container = std::make_unique<Processor>();
        container->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        container->prepareToPlay(44100.0, 256);
        container->setOption(Processor::optionAutoCrashRecovery, true);
        time.install(*container);
    }

    void TearDown() override
    {
        container.reset();
        consoleEnabled = false;
    }

    void load(int slot, const juce::String& fixture)
    {
        StdoutCapture quiet;
        ASSERT_TRUE(container->loadPlugin(slot, FixtureFiles::path(fixture), {})) << fixture;
    }

    void save()
    {
        StdoutCapture quiet;
        juce::MemoryBlock document;
        container->getStateInformation(document);
        lastDocument = document;
    }

    /** A watchdog tick, a second after the last, and the reloads that came due meanwhile. */
    void tick(double afterMs = 1000.0)
    {
        StdoutCapture quiet;
        time.nowMs += afterMs;
        tickWatchdog();
        time.runPending();
    }

    /** Gives slot 1's plugin a tone and (poisoned or not) extra chunk bytes, then saves the project. */
    void saveWith(float tone, bool poisoned)
    {
        auto* instance = container->getPluginInstance(1);
        ASSERT_NE(instance, nullptr);
        instance->getParameters()[toneParameter]->setValue(tone);
        auto* effect = vstEffectOf(*instance);
        const std::string bytes = poisoned ? pendulum::fixtures::crash_loop::kPoison : "clean";
        ASSERT_EQ(effect->dispatcher(effect, Vst2::effVendorSpecific, setUserDataOpcode, (Vst2::VstIntPtr) bytes.size(),
                                     (void*) bytes.data(), 0.0f),
                  1);
        save();
    }

    static int countContaining(const juce::StringArray& lines, const juce::String& text)
    {
        int count = 0;
        for (const auto& line : lines)
            count += line.contains(text) ? 1 : 0;
        return count;
    }

    DialogScript script;
    TestTime time;
    juce::MemoryBlock lastDocument;
    std::unique_ptr<Processor> container;
};

//--------------------------------------------------------------------------------------------------
// How often it crashes decides whether the guard gives up

struct PaceCase
{
    const char* what;
    double crashEveryMs; // time between the watchdog ticks that each find the plugin crashed
    int ticks;
    int reloads;         // automatic reloads in all
    bool givesUp;
    std::vector<int> delays; // the delays the guard asked the timer for, in order
};

void PrintTo(const PaceCase& c, std::ostream* os)
{
    *os << c.what;
}

class CrashPace : public CrashLoops, public ::testing::WithParamInterface<PaceCase>
{
};

TEST_P(CrashPace, APluginThatCrashesAfterEveryReloadIsReloadedUntilTheLimitOnly)
{
    const auto& c = GetParam();
    load(0, "PlainSynth");
    load(1, "CrashAgainSynth"); // crashed from the moment it is created
    save();

    juce::StringArray printed = console_probe::linesOf([&] {
        for (int i = 0; i < c.ticks; ++i)
            tick(c.crashEveryMs);
    });

    EXPECT_EQ(countContaining(printed, "Recovering plugin at index 1 in instance with name default instance."), c.reloads)
        << printed.joinIntoString("\n");
    EXPECT_EQ(time.delaysAsked, c.delays);
    EXPECT_EQ(container->hasRecoveryGivenUp(1), c.givesUp);
    EXPECT_EQ(countContaining(printed, "gave up"), c.givesUp ? 1 : 0) << "said once, not in every tick";
    EXPECT_EQ(container->getActivePluginIndex(), 0);
    EXPECT_NE(container->getPluginInstance(1), nullptr);

    if (c.givesUp)
    {
        // The slot stays marked crashed and keeps the plugin of its last reload.
        EXPECT_TRUE(container->isPluginCrashed(1));
        EXPECT_FALSE(container->isRecoveryWaiting(1));
        EXPECT_EQ(container->getLastEvent().text, crashLoopSlot2);
        EXPECT_TRUE(printed.contains("Automatic recovery of plugin at index 1 in instance with name default instance "
                                     "gave up: it crashed again after 3 reloads within 60 s. It stays crashed until it "
                                     "is reloaded by hand."))
            << printed.joinIntoString("\n");
        juce::StringArray past = console_probe::linesOf([&] {
            for (int i = 0; i < 5; ++i)
                tick();
        });
        EXPECT_EQ(countContaining(past, "Recovering plugin"), 0) << "no reload past the limit";
        EXPECT_EQ(countContaining(past, "gave up"), 0) << "said once";
        EXPECT_EQ(container->getLastEvent().text, crashLoopSlot2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paces, CrashPace,
    ::testing::Values(PaceCase { "EverySecondGivesUpAfterThreeReloads", 1000.0, 10, 3, true, { 1000, 2000 } },
                      PaceCase { "EveryMinuteIsNoLoop", 61000.0, 8, 8, false, {} },
                      PaceCase { "EveryTwentyFiveSecondsWaitsLongerButNeverGivesUp", 25000.0, 8, 8, false,
                                 { 1000, 2000, 2000, 2000, 2000, 2000, 2000 } }),
    [](const auto& info) { return std::string(info.param.what); });

//--------------------------------------------------------------------------------------------------
// What the panel, the console and the session log say

TEST_F(CrashLoops, ThePanelsLastEventLineTheConsoleAndTheSessionLogSayThatRecoveryGaveUpAndWhy)
{
    const auto logFolder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                               .getChildFile("pendulum-tests")
                               .getNonexistentChildFile("crash-loop-log", "", false);
    const auto previousFolder = session_log::folder();
    session_log::setFolder(logFolder);

    load(0, "PlainSynth");
    load(1, "CrashAgainSynth");
    auto editor = panel_probe::openEditor(*container);
    auto& panel = panel_probe::panelOf(*editor);
    auto& lastEvent = panel_probe::child<juce::Label>(panel, "lastEvent");

    for (int i = 0; i < 6; ++i)
        tick();
    ASSERT_TRUE(container->hasRecoveryGivenUp(1));
    EXPECT_TRUE(panel_probe::pumpUntil([&] { return lastEvent.getText().endsWith(crashLoopSlot2); }))
        << lastEvent.getText();
    EXPECT_TRUE(lastEvent.getText().startsWith(container->getLastEvent().time.formatted("%H:%M:%S")));

    juce::StringArray logged;
    session_log::currentFile().readLines(logged);
    EXPECT_EQ(countContaining(logged, crashLoopSlot2 + " (it crashed again after each; reload it by hand)"), 1)
        << logged.joinIntoString("\n");

    editor.reset();
    session_log::setFolder(previousFolder);
    logFolder.deleteRecursively();
}

TEST_F(CrashLoops, ThePanelsStatusSaysRecoveryGaveUpUntilTheUserRecoversOrLoads)
{
    load(0, "PlainSynth");
    load(1, "CrashAgainSynth");
    auto editor = panel_probe::openEditor(*container);
    auto& panel = panel_probe::panelOf(*editor);
    auto& status = panel_probe::child<juce::Label>(panel, "loadedPlugin1", 1);
    auto& otherStatus = panel_probe::child<juce::Label>(panel, "loadedPlugin1", 0);
    auto& recover = panel_probe::child<juce::TextButton>(panel, "plugin1Edit2");
    const juce::Colour crashedColour(GUI::crashedStatusArgb);

    for (int round = 0; round < 2; ++round)
    {
        SCOPED_TRACE(round == 0 ? "recovered by hand" : "replaced by a load");
        for (int i = 0; i < 8 && !container->hasRecoveryGivenUp(1); ++i)
            tick();
        ASSERT_TRUE(container->hasRecoveryGivenUp(1));
        ASSERT_TRUE(container->isPluginCrashed(1));
        panel_probe::paint(*editor);

        EXPECT_EQ(status.getText(), "Recovery gave up");
        EXPECT_EQ(status.findColour(juce::Label::textColourId), crashedColour);
        EXPECT_EQ(recover.getButtonText(), "Recover");
        EXPECT_EQ(otherStatus.getText(), "Status: OK");
        // Whole, on the label's one line at its own bold font, within its borders.
        const auto room = status.getWidth() - status.getBorderSize().getLeftAndRight();
        EXPECT_LE(status.getFont().getStringWidthFloat(status.getText()), (float) room);
        EXPECT_GE(status.getFont().getHeight() * 1.5f, (float) (status.getHeight() - status.getBorderSize().getTopAndBottom()))
            << "one line only";
        if (round == 0)
            saveScreenshotIfAsked(*editor, "panel-recovery-gave-up");

        if (round == 0)
        {
            // The user's Recover reloads it and starts the count afresh: an ordinary status again.
            {
                StdoutCapture quiet;
                panel_probe::click(recover);
            }
            ASSERT_FALSE(container->hasRecoveryGivenUp(1));
            panel_probe::paint(*editor);
            EXPECT_EQ(status.getText(), "Status: OK");
            EXPECT_EQ(recover.getButtonText(), "Edit");
        }
        else
        {
            load(1, "PlainSynth");
            panel_probe::paint(*editor);
            EXPECT_EQ(status.getText(), "Status: OK");
            EXPECT_EQ(recover.getButtonText(), "Edit");
        }
    }
}

//--------------------------------------------------------------------------------------------------
// Which snapshot each reload gets

struct SavedState
{
    float tone;
    bool poisoned;
};

struct SnapshotCase
{
    const char* what;
    std::vector<SavedState> saves; // in order; the last is the slot's last snapshot
    float toneAfter;               // the tone of the plugin that came back and stayed
    int reloads;
    const char* line;       // what the console says of the snapshot of the last reload
    const char* eventEnd;   // how the panel's line ends
};

void PrintTo(const SnapshotCase& c, std::ostream* os)
{
    *os << c.what;
}

class SnapshotFallback : public CrashLoops, public ::testing::WithParamInterface<SnapshotCase>
{
};

TEST_P(SnapshotFallback, APluginThatCrashesRightAfterItsSnapshotGetsTheOlderOneThenItsDefaultState)
{
    const auto& c = GetParam();
    load(0, "PlainSynth");
    load(1, "PoisonChunkSynth");
    for (const auto& state : c.saves)
        saveWith(state.tone, state.poisoned);

    makeCrash(*container, 1);
    juce::StringArray printed = console_probe::linesOf([&] {
        for (int i = 0; i < 8; ++i)
            tick();
    });

    ASSERT_NE(container->getPluginInstance(1), nullptr);
    EXPECT_FALSE(container->isPluginCrashed(1)) << printed.joinIntoString("\n");
    EXPECT_FALSE(container->hasRecoveryGivenUp(1));
    EXPECT_FLOAT_EQ(container->getPluginInstance(1)->getParameters()[toneParameter]->getValue(), c.toneAfter);
    EXPECT_EQ(countContaining(printed, "Recovering plugin at index 1 in instance with name default instance."), c.reloads);
    EXPECT_TRUE(printed.contains(c.line)) << printed.joinIntoString("\n");
    EXPECT_TRUE(container->getLastEvent().text.endsWith(c.eventEnd)) << container->getLastEvent().text;

    // The project is written from the plugin that plays now; the snapshot blamed for the crash is
    // gone from the slot's generations.
    save();
    ASSERT_NE(container->getRecoveryState(1), nullptr);
    EXPECT_FLOAT_EQ(container->getRecoveryState(1)->parameterValues[toneParameter], c.toneAfter);
    if (c.reloads > 1)
        EXPECT_EQ(container->getOlderRecoveryState(1), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Generations, SnapshotFallback,
    ::testing::Values(
        SnapshotCase { "TheLastIsFine", { { 0.25f, false }, { 0.75f, false } }, 0.75f, 1,
                       "Using the last snapshot for plugin at index 1.", "reloaded in 0.0 s" },
        SnapshotCase { "TheLastIsPoisonedTheOlderIsFine", { { 0.25f, false }, { 0.75f, true } }, 0.25f, 2,
                       "Using the snapshot before the last one for plugin at index 1: the plugin crashed right after "
                       "it was given the last one.",
                       "with the snapshot before the last" },
        SnapshotCase { "BothArePoisoned", { { 0.25f, true }, { 0.75f, true } }, defaultTone, 3,
                       "Reloading plugin at index 1 in its default state: the plugin crashed right after it was given "
                       "each of its two snapshots.",
                       "in its default state" },
        SnapshotCase { "TheOnlySnapshotIsPoisoned", { { 0.75f, true } }, defaultTone, 2,
                       "Reloading plugin at index 1 in its default state: the plugin crashed right after it was given "
                       "its snapshot.",
                       "in its default state" },
        SnapshotCase { "ASaveOfTheSameStateKeepsTheOlderGeneration", { { 0.25f, false }, { 0.75f, true }, { 0.75f, true } },
                       0.25f, 2,
                       "Using the snapshot before the last one for plugin at index 1: the plugin crashed right after "
                       "it was given the last one.",
                       "with the snapshot before the last" }),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(CrashLoops, AProjectThatNeverCrashedKeepsOneSnapshotInItsDocumentAndTheOlderOnlyInMemory)
{
    load(0, "PlainSynth");
    load(1, "PoisonChunkSynth");
    saveWith(0.25f, false);
    const auto firstDocument = lastDocument;
    saveWith(0.75f, false);

    ASSERT_NE(container->getOlderRecoveryState(1), nullptr);
    EXPECT_FLOAT_EQ(container->getOlderRecoveryState(1)->parameterValues[toneParameter], 0.25f);
    EXPECT_FLOAT_EQ(container->getRecoveryState(1)->parameterValues[toneParameter], 0.75f);

    // The document is the same as a container that only ever saw the last state writes.
    Processor other;
    other.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    other.prepareToPlay(44100.0, 256);
    juce::MemoryBlock again;
    {
        StdoutCapture quiet;
        other.setStateInformation(lastDocument.getData(), (int) lastDocument.getSize());
        other.getStateInformation(again);
    }
    EXPECT_EQ(again, lastDocument);
    EXPECT_EQ(other.getOlderRecoveryState(1), nullptr) << "a project load starts the generations afresh";
    EXPECT_NE(firstDocument, lastDocument);
}

TEST_F(CrashLoops, SavesFromAHostThreadDuringTheFallbackLeaveTheOlderSnapshotPlaying)
{
    // Hosts save from threads of their own: each save tells the guard of its snapshot while the
    // message thread's ticks crash, count and reload.
    load(0, "PlainSynth");
    load(1, "PoisonChunkSynth");
    saveWith(0.25f, false);
    saveWith(0.75f, true);

    std::atomic<bool> stop { false };
    std::atomic<int> saves { 0 };
    std::thread host([&] {
        while (!stop.load())
        {
            juce::MemoryBlock document;
            container->getStateInformation(document);
            if (document.getSize() > 0)
                ++saves;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    makeCrash(*container, 1);
    for (int i = 0; i < 8; ++i)
    {
        tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop = true;
    host.join();

    EXPECT_GT(saves.load(), 0);
    ASSERT_NE(container->getPluginInstance(1), nullptr);
    EXPECT_FALSE(container->isPluginCrashed(1));
    EXPECT_FALSE(container->hasRecoveryGivenUp(1));
    EXPECT_FLOAT_EQ(container->getPluginInstance(1)->getParameters()[toneParameter]->getValue(), 0.25f);
}

//--------------------------------------------------------------------------------------------------
// The user's reload or load, or a project, starts the count afresh

struct ResetCase
{
    const char* what;
    std::function<void(Processor&, const juce::MemoryBlock& document)> byHand;
};

void PrintTo(const ResetCase& c, std::ostream* os)
{
    *os << c.what;
}

class ResetByHand : public CrashLoops, public ::testing::WithParamInterface<ResetCase>
{
};

TEST_P(ResetByHand, AfterGivingUpTheUsersActionStartsTheCountAfresh)
{
    load(0, "PlainSynth");
    load(1, "CrashAgainSynth");
    save();
    for (int i = 0; i < 6; ++i)
        tick();
    ASSERT_TRUE(container->hasRecoveryGivenUp(1));

    {
        StdoutCapture quiet;
        GetParam().byHand(*container, lastDocument);
    }
    EXPECT_FALSE(container->hasRecoveryGivenUp(1));
    ASSERT_NE(container->getPluginInstance(1), nullptr);

    // Three automatic reloads again, the first at once, then it gives up again.
    time.delaysAsked.clear();
    juce::StringArray printed = console_probe::linesOf([&] {
        for (int i = 0; i < 6; ++i)
            tick();
    });
    EXPECT_EQ(countContaining(printed, "Recovering plugin at index 1 in instance with name default instance."), 3);
    EXPECT_EQ(time.delaysAsked, (std::vector<int> { 1000, 2000 }));
    EXPECT_TRUE(container->hasRecoveryGivenUp(1));
}

INSTANTIATE_TEST_SUITE_P(
    UsersActions, ResetByHand,
    ::testing::Values(ResetCase { "ReloadByHand", [](Processor& c, const juce::MemoryBlock&) { c.recoverPlugin(1); } },
                      ResetCase { "LoadByHand",
                                  [](Processor& c, const juce::MemoryBlock&) {
                                      EXPECT_TRUE(c.loadPlugin(1, FixtureFiles::path("CrashAgainSynth"), {}));
                                  } },
                      ResetCase { "ProjectLoad",
                                  [](Processor& c, const juce::MemoryBlock& document) {
                                      c.setStateInformation(document.getData(), (int) document.getSize());
                                  } }),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(CrashLoops, AReloadWaitingForItsDelayIsDroppedWhenTheUserReloadsMeanwhile)
{
    load(0, "PlainSynth");
    load(1, "CrashAgainSynth");
    tick(); // reloaded at once
    {
        StdoutCapture quiet;
        time.nowMs += 1000.0;
        tickWatchdog(); // crashed again: a reload waits for its delay
    }
    ASSERT_TRUE(container->isRecoveryWaiting(1));
    ASSERT_EQ(time.pending.size(), 1u);

    {
        StdoutCapture quiet;
        container->recoverPlugin(1);
    }
    EXPECT_FALSE(container->isRecoveryWaiting(1));
    juce::StringArray printed = console_probe::linesOf([&] { time.runPending(); });
    EXPECT_EQ(countContaining(printed, "Recovering plugin"), 0) << printed.joinIntoString("\n");
}

TEST_F(CrashLoops, TheDelayIsATimerOnTheMessageThreadNotAWait)
{
    // The framework's own timer this time: the tick that grants a delayed reload returns at once,
    // and the reload comes with the message loop.
    PluginContainerTestAccess::setRecoveryTiming(*container, [this] { return time.nowMs; });
    load(0, "PlainSynth");
    load(1, "CrashAgainSynth");
    tick();
    juce::StringArray inTick = console_probe::linesOf([&] {
        StdoutCapture quiet;
        tickWatchdog();
    });
    EXPECT_TRUE(container->isRecoveryWaiting(1));
    EXPECT_TRUE(inTick.contains("Plugin at index 1 in instance with name default instance crashed again: reloading it "
                                "in 1.0 s (reload 2 of at most 3 within 60 s)."))
        << inTick.joinIntoString("\n");
    EXPECT_EQ(countContaining(inTick, "Recovering plugin"), 0) << "not reloaded inside the tick";

    juce::StringArray later = console_probe::linesOf([&] {
        StdoutCapture quiet;
        EXPECT_TRUE(panel_probe::pumpUntil([&] { return !container->isRecoveryWaiting(1); }));
    });
    EXPECT_EQ(countContaining(later, "Recovering plugin at index 1 in instance with name default instance."), 1)
        << later.joinIntoString("\n");
}

//==================================================================================================
// Slots in helper processes: the same guard

class IsolatedCrashLoop : public CrashLoops
{
protected:
    void SetUp() override
    {
        test_support::useHelper(PENDULUM_SLOT_HOST_PATH);
        CrashLoops::SetUp();
        container->setRunInSeparateProcesses(true);
        container->setHangLimitMs(5000); // a helper that dies is not declared hung first
        container->setNonRealtime(true);
    }

    pendulum::isolation::IsolatedPluginInstance* isolated(int slot) const
    {
        return dynamic_cast<pendulum::isolation::IsolatedPluginInstance*>(container->getPluginInstance(slot));
    }

    /** Runs the message loop until the condition holds or five seconds are up. */
    static bool pumpUntil(const std::function<bool()>& condition)
    {
        StdoutCapture quiet;
        return panel_probe::pumpUntil(condition);
    }
};

TEST_F(IsolatedCrashLoop, AHelperThatDiesInItsFirstBlockAfterEveryReloadIsReloadedThreeTimesThenLeft)
{
    load(0, "FirstBlockSegfaultSynth");
    ASSERT_NE(isolated(0), nullptr);
    std::set<int> helpers;
    const auto mainThread = std::this_thread::get_id();

    for (int round = 0; round < 6 && !container->hasRecoveryGivenUp(0); ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_NE(isolated(0), nullptr);
        const auto helper = isolated(0)->getConnection().processId();
        helpers.insert(helper);
        const auto helperNow = [&] { return isolated(0) != nullptr ? isolated(0)->getConnection().processId() : -1; };

        // The block plays on an audio thread of its own; the helper dies in it.
        juce::StringArray printedInBlock = console_probe::linesOf([&] {
            std::thread audio([&] {
                juce::AudioBuffer<float> buffer(2, 256);
                juce::MidiBuffer midi;
                processLikeWrapper(*container, buffer, midi);
            });
            audio.join();
        });
        EXPECT_TRUE(container->isPluginCrashed(0));
        EXPECT_EQ(helperNow(), helper) << "no reload inside the block";
        EXPECT_FALSE(container->isPluginRecovering(0));
        EXPECT_EQ(countContaining(printedInBlock, "Recovering plugin"), 0);

        // The message thread hears of it and goes through the guard: a reload at once (its helper
        // started in the background), one after a delay, or it gives up.
        ASSERT_TRUE(pumpUntil([&] {
            return !time.pending.empty() || container->hasRecoveryGivenUp(0)
                || (helperNow() != helper && !container->isPluginCrashed(0));
        }));
        time.nowMs += 500.0;
        {
            StdoutCapture quiet;
            time.runPending();
        }
        // A delayed reload, started now, runs its course before the next round.
        ASSERT_TRUE(pumpUntil([&] {
            return container->hasRecoveryGivenUp(0) || (helperNow() != helper && !container->isPluginCrashed(0));
        }));
    }

    EXPECT_TRUE(container->hasRecoveryGivenUp(0));
    EXPECT_TRUE(container->isPluginCrashed(0));
    EXPECT_EQ(helpers.size(), 4u) << "the first helper and three reloads";
    EXPECT_EQ(time.delaysAsked, (std::vector<int> { 1000, 2000 }));
    // The helper's end may be told by its watcher's message or by a watchdog tick, whichever comes
    // first; the give-up is the last word once both have come.
    EXPECT_TRUE(pumpUntil([&] { return container->getLastEvent().text == "slot 1: automatic recovery gave up after 3 reloads in 60 s"; }))
        << container->getLastEvent().text;
    EXPECT_EQ(container->getFailureCause(0), test_support::nullDereference);
    ASSERT_EQ(time.askedOn.size(), 2u);
    for (const auto thread : time.askedOn)
        EXPECT_EQ(thread, mainThread) << "delayed reloads are asked for on the message thread";

    // Left alone: more blocks and watchdog ticks start no helper.
    const auto left = isolated(0) != nullptr ? isolated(0)->getConnection().processId() : -1;
    for (int i = 0; i < 3; ++i)
    {
        juce::AudioBuffer<float> buffer(2, 256);
        juce::MidiBuffer midi;
        processLikeWrapper(*container, buffer, midi);
        tick();
    }
    ASSERT_NE(isolated(0), nullptr);
    EXPECT_EQ(isolated(0)->getConnection().processId(), left);
}
} // namespace
