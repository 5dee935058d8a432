// Slots whose plugin runs in a helper process: they play like in-process ones, and a plugin that
// crashes, aborts, exits, throws or hangs ends its helper, never the host.
#include "FaultySynthFaults.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/AudioProcessorState.h"
#include "isolation/IsolatedPluginInstance.h"
#include "support/ConsoleProbe.h"
#include "support/ContainerTestAccess.h"
#include "support/CrashSupport.h"
#include "support/FixtureFiles.h"
#include "support/HelperSupport.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include <chrono>
#include <thread>

#if JUCE_WINDOWS
 #include <windows.h>
#else
 #include <dirent.h>
 #include <pthread.h>
 #include <sched.h>
#endif

namespace
{
using Processor = PluginContainerAudioProcessor;
using Msg = juce::MidiMessage;
namespace faulty = pendulum::fixtures::faulty;
constexpr int blockSize = 64;
constexpr double sampleRate = 44100.0;

using test_support::nullDereference;

/** Runs the message loop until the condition holds or the time is up; the condition's last value. */
bool pumpUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (!condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return condition();
        juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    }
    return true;
}

#if JUCE_WINDOWS
/**
    The process's open handles by kind ("Process", "Section", "Event", "Thread"...). Wine answers
    GetProcessHandleCount with 0, so the handle table is probed value by value on every system.
*/
std::map<std::string, int> openHandleKinds()
{
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    constexpr int objectTypeInformation = 2;
    const auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    std::map<std::string, int> kinds;
    for (std::uintptr_t value = 4; value < (1u << 16); value += 4)
    {
        DWORD flags = 0;
        if (!GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            continue;
        // The answer starts with the kind's name as a counted UTF-16 string.
        struct Name
        {
            USHORT length, capacity;
            const wchar_t* text;
        };
        alignas(8) unsigned char answer[1024] = {};
        ULONG written = 0;
        const auto* name = reinterpret_cast<const Name*>(answer);
        if (query == nullptr || query(reinterpret_cast<HANDLE>(value), objectTypeInformation, answer, sizeof answer, &written) != 0
            || name->text == nullptr)
            ++kinds["?"];
        else
            ++kinds[juce::String(name->text, (size_t) name->length / sizeof(wchar_t)).toStdString()];
    }
    return kinds;
}

int total(const std::map<std::string, int>& kinds)
{
    int sum = 0;
    for (const auto& [kind, count] : kinds)
        sum += count;
    return sum;
}
#else
/** The process's open descriptors. */
int openDescriptorCount()
{
    int count = 0;
    if (auto* folder = opendir("/proc/self/fd"))
    {
        while (readdir(folder) != nullptr)
            ++count;
        closedir(folder);
    }
    return count;
}
#endif

using test_support::useHelper;

bool processExists(int pid)
{
#if JUCE_WINDOWS
    // A running process of that id that is a helper (an id is soon given to another process).
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD) pid);
    if (process == nullptr)
        return false;
    DWORD code = 0;
    wchar_t image[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE
                      && QueryFullProcessImageNameW(process, 0, image, &length)
                      && juce::String(image).endsWithIgnoreCase("pendulum-slot-host.exe");
    CloseHandle(process);
    return running;
#else
    return pid > 0 && ::kill(pid, 0) == 0;
#endif
}

class IsolatedSlots : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { useHelper(PENDULUM_SLOT_HOST_PATH); }

    void SetUp() override
    {
        container = std::make_unique<Processor>();
        container->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        container->prepareToPlay(sampleRate, blockSize);
        container->setRunInSeparateProcesses(true);
        container->setOption(Processor::optionAutoCrashRecovery, true);
        // Offline, a block waits for its helper (up to the hang limit): on a loaded machine a
        // real-time block may be late, and what is tested here is what a block sounds like. The
        // real-time rules have tests of their own.
        container->setNonRealtime(true);
    }

    void TearDown() override
    {
        StdoutCapture quiet;
        container.reset();
    }

    bool load(int slot, const juce::String& fixture)
    {
        StdoutCapture quiet;
        return container->loadPlugin(slot, FixtureFiles::path(fixture), {});
    }

    /** One block; returns its peak on channel 0. */
    float play(std::initializer_list<Msg> events = {}, juce::AudioBuffer<float>* out = nullptr)
    {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        for (const auto& m : events)
            midi.addEvent(m, 0);
        processLikeWrapper(*container, buffer, midi);
        if (out != nullptr)
            out->makeCopyOf(buffer);
        return buffer.getMagnitude(0, 0, blockSize);
    }

    pendulum::isolation::IsolatedPluginInstance* isolated(int slot) const
    {
        return dynamic_cast<pendulum::isolation::IsolatedPluginInstance*>(container->getPluginInstance(slot));
    }

    FixtureFiles files;
    DialogScript script;
    std::unique_ptr<Processor> container;
};

TEST_F(IsolatedSlots, APluginInAHelperPlaysSampleForSampleAsInProcess)
{
    ASSERT_TRUE(load(0, "PlainSynth"));
    ASSERT_TRUE(container->isSlotIsolated(0));
    ASSERT_NE(isolated(0), nullptr);
    EXPECT_TRUE(processExists(isolated(0)->getConnection().processId()));
    isolated(0)->setOffline(true);

    container->setRunInSeparateProcesses(false);
    ASSERT_TRUE(load(1, "PlainSynth"));
    ASSERT_FALSE(container->isSlotIsolated(1));
    EXPECT_EQ(container->getPluginInstance(0)->getName(), container->getPluginInstance(1)->getName());
    EXPECT_EQ(container->getPluginInstance(0)->getParameters().size(),
              container->getPluginInstance(1)->getParameters().size());

    // The same notes into both, block by block, one slot after the other.
    const std::vector<std::vector<Msg>> score { { Msg::noteOn(1, 60, (juce::uint8) 100) },
                                                {},
                                                { Msg::noteOn(1, 67, (juce::uint8) 90) },
                                                {},
                                                { Msg::noteOff(1, 60) },
                                                {} };
    std::vector<juce::AudioBuffer<float>> outputs[2];
    for (int slot : { 0, 1 })
    {
        for (const auto& events : score)
        {
            juce::AudioBuffer<float> buffer(2, blockSize);
            juce::MidiBuffer midi;
            for (const auto& m : events)
                midi.addEvent(m, 0);
            buffer.clear();
            container->getPluginInstance(slot)->processBlock(buffer, midi);
            outputs[slot].push_back(buffer);
        }
    }

    for (size_t block = 0; block < score.size(); ++block)
        for (int channel = 0; channel < 2; ++channel)
            for (int i = 0; i < blockSize; ++i)
                ASSERT_EQ(outputs[0][block].getSample(channel, i), outputs[1][block].getSample(channel, i))
                    << "block " << block << " channel " << channel << " sample " << i;
    EXPECT_GT(outputs[0][2].getMagnitude(0, 0, blockSize), 0.01f);
}

TEST_F(IsolatedSlots, ParametersProgramsAndStateTravelThroughTheHelper)
{
    ASSERT_TRUE(load(0, "PlainSynth"));
    auto* plugin = container->getPluginInstance(0);
    ASSERT_GT(plugin->getNumPrograms(), 2);
    ASSERT_GT(plugin->getParameters().size(), 1);

    plugin->setCurrentProgram(2);
    EXPECT_EQ(plugin->getCurrentProgram(), 2);
    EXPECT_FALSE(plugin->getProgramName(2).isEmpty());

    // The host's parameter call never waits for the helper: queued, then applied before the next block.
    container->setParameter(1, 0.25f);
    EXPECT_FLOAT_EQ(container->getParameter(1), 0.25f);
    play();
    EXPECT_FLOAT_EQ(plugin->getParameters()[1]->getValue(), 0.25f);

    // A snapshot of it (program, state block, parameters), given to another instance in another
    // helper, comes back from that one byte for byte.
    AudioProcessorState snapshot;
    snapshot.capture(*plugin);
    ASSERT_GT(snapshot.stateData.getSize(), 0u);
    EXPECT_EQ(snapshot.programIndex, 2);

    ASSERT_TRUE(load(1, "PlainSynth"));
    ASSERT_TRUE(container->isSlotIsolated(1));
    auto* other = container->getPluginInstance(1);
    snapshot.applyTo(*other);
    AudioProcessorState back;
    back.capture(*other);
    EXPECT_EQ(back.stateData, snapshot.stateData);
    EXPECT_EQ(back.programIndex, 2);
    ASSERT_EQ(back.parameterValues.size(), snapshot.parameterValues.size());
    for (int i = 0; i < back.parameterValues.size(); ++i)
        EXPECT_FLOAT_EQ(back.parameterValues[i], snapshot.parameterValues[i]) << "parameter " << i;
    EXPECT_FLOAT_EQ(other->getParameters()[1]->getValue(), 0.25f);
}

TEST_F(IsolatedSlots, TheChoiceIsSavedWithTheProjectAndADocumentWithoutItRunsInProcess)
{
    juce::MemoryBlock document;
    {
        StdoutCapture quiet;
        container->getStateInformation(document);
    }
    EXPECT_TRUE(document.toString().contains("separateProcesses=\"1\""));

    Processor restored;
    {
        StdoutCapture quiet;
        restored.setStateInformation(document.getData(), (int) document.getSize());
    }
    EXPECT_TRUE(restored.getRunInSeparateProcesses());

    // Written only when on: a document of in-process slots is what it was before the option.
    container->setRunInSeparateProcesses(false);
    juce::MemoryBlock without;
    {
        StdoutCapture quiet;
        container->getStateInformation(without);
        restored.setStateInformation(without.getData(), (int) without.getSize());
    }
    EXPECT_FALSE(without.toString().contains("separateProcesses"));
    EXPECT_FALSE(restored.getRunInSeparateProcesses());
}

TEST_F(IsolatedSlots, WithoutItsHelperASlotLoadsInProcessAndSaysSo)
{
    useHelper("/nonexistent/pendulum-slot-host");
    const bool loaded = load(0, "PlainSynth");
    useHelper(PENDULUM_SLOT_HOST_PATH);

    ASSERT_TRUE(loaded);
    EXPECT_FALSE(container->isSlotIsolated(0));
    EXPECT_GT(play({ Msg::noteOn(1, 60, (juce::uint8) 100) }), 0.01f);
    EXPECT_TRUE(container->getLastEvent().text.startsWith("slot 1 runs in-process: the helper "))
        << container->getLastEvent().text;
}

TEST_F(IsolatedSlots, APluginThatCrashesWhileLoadingFailsTheLoadAndTheSlotKeepsWhatItHad)
{
    ASSERT_TRUE(load(0, "PlainSynth"));
    auto* before = container->getPluginInstance(0);

    EXPECT_FALSE(load(0, faulty::fileNames[faulty::crashAtLoad]));
    EXPECT_EQ(container->getPluginInstance(0), before);
    EXPECT_FALSE(container->isPluginCrashed(0));
    EXPECT_GT(play({ Msg::noteOn(1, 60, (juce::uint8) 100) }), 0.01f);
    EXPECT_TRUE(container->getLastEvent().text.contains("LoadCrashSynth"));
    EXPECT_TRUE(container->getLastEvent().text.contains(nullDereference)) << container->getLastEvent().text;
}

//==================================================================================================
// Faults

struct FaultCase
{
    faulty::Fault fault;
    const char* cause;
};

class IsolatedFaults : public IsolatedSlots, public ::testing::WithParamInterface<FaultCase>
{
};

TEST_P(IsolatedFaults, TheHostLivesTheStandbyPlaysFromTheFailingBlockAndTheSlotComesBackWithItsSnapshot)
{
    const auto& fault = GetParam();
    const juce::String fixture = faulty::fileNames[fault.fault];

    container->setOption(Processor::optionConsole, true);
    // A process that ends by itself is not declared hung first, however slowly it goes (a
    // sanitizer's run-time takes its time on the way out).
    if (fault.fault != faulty::hangProcess)
        container->setHangLimitMs(5000);
    ASSERT_TRUE(load(0, fixture));
    ASSERT_TRUE(load(1, "PlainSynth"));
    const auto helper = isolated(0)->getConnection().processId();

    // A program, a parameter and a state the recovery must bring back, saved with the project.
    container->getPluginInstance(0)->setCurrentProgram(1);
    container->setParameter(2, 0.75f);
    play();
    juce::MemoryBlock document;
    {
        StdoutCapture quiet;
        container->getStateInformation(document);
    }
    ASSERT_NE(container->getRecoveryState(0), nullptr);
    const auto snapshotState = container->getRecoveryState(0)->stateData;

    EXPECT_GT(play({ Msg::noteOn(1, 60, (juce::uint8) 100) }), 0.01f);

    // The crash note: the helper fails in this block, and the standby plays it (offline, a hang is
    // found once the block has waited for the hang limit).
    int silentBlocks = 0;
    float failingBlock = play({ Msg::noteOn(1, pendulum::fixtures::crash_probe::kCrashNote, (juce::uint8) 100) });
    while (container->getActivePluginIndex() == 0 && silentBlocks < 2000)
    {
        ++silentBlocks;
        failingBlock = play();
    }
    ASSERT_EQ(container->getActivePluginIndex(), 1) << "the standby took over";
    EXPECT_GT(failingBlock, 0.01f) << "the held note sounds from the standby in the block of the failure";
    EXPECT_EQ(silentBlocks, 0);
    EXPECT_TRUE(container->isPluginCrashed(0) || container->getPluginInstance(0) != isolated(0));
    EXPECT_GT(play(), 0.01f);

    // The message thread hears of it, names the cause and brings the plugin back in a new helper.
    bool heard = false, recovered = false, helperGone = false;
    juce::StringArray printed;
    {
        StdoutCapture quiet;
        printed = console_probe::linesOf([&] {
            heard = pumpUntil([&] { return container->getFailureCause(0).isNotEmpty(); });
            recovered = pumpUntil([&] { return isolated(0) != nullptr && !container->isPluginCrashed(0); });
            helperGone = pumpUntil([&] { return !processExists(helper); });
        });
    }
    ASSERT_TRUE(heard);
    EXPECT_EQ(container->getFailureCause(0), fault.cause);
    ASSERT_TRUE(recovered);
    EXPECT_NE(isolated(0)->getConnection().processId(), helper);
    EXPECT_TRUE(helperGone);
    EXPECT_TRUE(container->getLastEvent().text.contains(juce::String("slot 1 crashed (") + fault.cause + "); playing slot 2"))
        << container->getLastEvent().text;
    EXPECT_TRUE(container->getLastEvent().text.contains("reloaded in")) << container->getLastEvent().text;
    EXPECT_TRUE(printed.contains("Warning: plugin at index 0 in instance with name default instance seems to have crashed"));
    EXPECT_TRUE(printed.contains(juce::String("Plugin at index 0 in instance with name default instance: its process ended: ")
                                 + fault.cause))
        << printed.joinIntoString("\n");

    auto* back = container->getPluginInstance(0);
    EXPECT_EQ(back->getCurrentProgram(), 1);
    EXPECT_FLOAT_EQ(back->getParameters()[2]->getValue(), 0.75f);
    juce::MemoryBlock state;
    back->getStateInformation(state);
    EXPECT_EQ(state, snapshotState);

    // The host process is still here, and so is the standby.
    EXPECT_GT(play(), 0.01f);
}

INSTANTIATE_TEST_SUITE_P(EveryFault, IsolatedFaults,
                         ::testing::Values(FaultCase { faulty::segfault, nullDereference },
                                           FaultCase { faulty::abortCall, "aborted" },
                                           FaultCase { faulty::exitCall, "exited with code 3" },
                                           FaultCase { faulty::throwOut, "threw an exception" },
                                           FaultCase { faulty::hangProcess, "no answer for 250 ms" }),
                         [](const auto& info) { return juce::String(faulty::fileNames[info.param.fault]).toStdString(); });

} // namespace

namespace
{
TEST_F(IsolatedSlots, ASaveThatHangsInThePluginEndsItsHelperAndWritesTheSlotFromWhatItKept)
{
    ASSERT_TRUE(load(0, faulty::fileNames[faulty::hangChunk]));
    ASSERT_TRUE(load(1, "PlainSynth"));
    EXPECT_GT(play({ Msg::noteOn(1, 60, (juce::uint8) 100) }), 0.01f);

    // The plugin never returns from its state call: the save waits for the command's deadline,
    // the helper is ended, and the document still has both slots.
    juce::MemoryBlock document;
    {
        StdoutCapture quiet;
        container->getStateInformation(document);
    }
    const auto text = document.toString();
    EXPECT_TRUE(text.contains("HangChunkSynth"));
    EXPECT_TRUE(text.contains("PlainSynth"));
    EXPECT_TRUE(container->isPluginCrashed(0));

    // The next block is the standby's, with the held note.
    EXPECT_GT(play(), 0.01f);
    EXPECT_EQ(container->getActivePluginIndex(), 1);
    {
        StdoutCapture quiet;
        ASSERT_TRUE(pumpUntil([&] { return container->getFailureCause(0).isNotEmpty(); }));
    }
    EXPECT_EQ(container->getFailureCause(0), "no answer for 5000 ms");
}

TEST_F(IsolatedSlots, InRealTimeAHungHelperPlaysSilenceWithoutHoldingTheBlockThenIsEndedAtTheHangLimit)
{
    container->setNonRealtime(false);
    ASSERT_TRUE(load(0, faulty::fileNames[faulty::hangProcess]));
    container->setRunInSeparateProcesses(false); // a standby that is never late, whatever the machine's load
    ASSERT_TRUE(load(1, "PlainSynth"));
    auto* hung = isolated(0);

    play({ Msg::noteOn(1, 60, (juce::uint8) 100) });
    // The fault's note must reach the helper: a block given while an earlier one is still out
    // keeps only its note-offs, and a fresh helper on a loaded machine may well be late at first.
    // So blocks go until one is answered in time.
    int warmUp = 0;
    for (auto late = hung->getConnection().lateBlocks(); warmUp < 1000; ++warmUp)
    {
        play();
        const auto now = hung->getConnection().lateBlocks();
        if (now == late)
            break;
        late = now;
    }
    ASSERT_LT(warmUp, 1000) << "the helper never answered a block in time";
    play({ Msg::noteOn(1, pendulum::fixtures::crash_probe::kCrashNote, (juce::uint8) 100) });

    // Every block after it returns on its own deadline, silent, until the hang limit has passed.
    int blocks = 0;
    const auto started = juce::Time::getMillisecondCounterHiRes();
    while (container->getActivePluginIndex() == 0 && blocks < 5000)
    {
        play();
        ++blocks;
    }
    const auto waited = juce::Time::getMillisecondCounterHiRes() - started;
    ASSERT_EQ(container->getActivePluginIndex(), 1)
        << "blocks " << blocks << ", " << waited << " ms, crashed " << container->isPluginCrashed(0) << ", failed "
        << hung->getConnection().failed() << ", late " << hung->getConnection().lateBlocks() << ", standby "
        << (container->getPluginInstance(1) != nullptr) << " crashed " << container->isPluginCrashed(1);
    EXPECT_GT(blocks, 1) << "a late block does not wait for the hang limit";
    EXPECT_GE(hung->getConnection().lateBlocks(), (std::uint64_t) blocks - 1);
    EXPECT_GE(waited, 150.0) << "declared hung only near the hang limit";
    EXPECT_GT(play(), 0.01f) << "the standby sounds the held note";
    {
        StdoutCapture quiet;
        ASSERT_TRUE(pumpUntil([&] { return container->getFailureCause(0).isNotEmpty(); }));
    }
    EXPECT_EQ(container->getFailureCause(0), "no answer for 250 ms");
}

TEST_F(IsolatedSlots, OfflineEveryBlockWaitsForTheHelperAndAHangIsStillFoundAndLeftInTheSameBlock)
{
    ASSERT_TRUE(load(0, faulty::fileNames[faulty::hangProcess]));
    ASSERT_TRUE(load(1, "PlainSynth"));

    for (int block = 0; block < 50; ++block)
        ASSERT_GT(play(block == 0 ? std::initializer_list<Msg> { Msg::noteOn(1, 60, (juce::uint8) 100) }
                                  : std::initializer_list<Msg> {}),
                  0.01f)
            << "block " << block;

    // The hang: the block waits up to the hang limit, then the standby plays it.
    const auto started = juce::Time::getMillisecondCounterHiRes();
    EXPECT_GT(play({ Msg::noteOn(1, pendulum::fixtures::crash_probe::kCrashNote, (juce::uint8) 100) }), 0.01f);
    EXPECT_GE(juce::Time::getMillisecondCounterHiRes() - started, 200.0);
    EXPECT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_EQ(isolated(0) != nullptr ? isolated(0)->getConnection().lateBlocks() : 0u, 0u);
}

TEST_F(IsolatedSlots, ASwitchAskedForWhileABlockHandsItselfToTheStandbyIsNotMadeASecondTime)
{
    ASSERT_TRUE(load(0, faulty::fileNames[faulty::hangProcess]));
    container->setRunInSeparateProcesses(false);
    ASSERT_TRUE(load(1, "PlainSynth"));
    play({ Msg::noteOn(1, 60, (juce::uint8) 100) });

    // The block meets the hung helper and waits for it up to the hang limit; meanwhile the
    // watchdog (or the user) asks for the standby. The block switches there itself.
    juce::AudioBuffer<float> failing, next;
    std::thread audio([&] { play({ Msg::noteOn(1, pendulum::fixtures::crash_probe::kCrashNote, (juce::uint8) 100) }, &failing); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(container->setActivePlugin(1));
    audio.join();
    // No switch of its own after the block's: that would have suspended the processor (a silent
    // block for the host, which does not wait) and recorded a switch.
    EXPECT_FALSE(container->getLastEvent().text.contains("playing slot 2")) << container->getLastEvent().text;
    play({}, &next);

    ASSERT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_GT(failing.getMagnitude(0, 0, blockSize), 0.01f);
    // The standby took the held notes over in the failing block; a second switch would strike
    // them again from the start of their waveform, and the next block would repeat this one.
    bool repeated = true;
    for (int i = 0; i < blockSize; ++i)
        repeated = repeated && failing.getSample(0, i) == next.getSample(0, i);
    EXPECT_FALSE(repeated) << "the notes were struck again";
}

TEST_F(IsolatedSlots, AHundredCrashesAndRestartsLeaveNoProcessAndNoDescriptorBehind)
{
    container->setOption(Processor::optionAutoSwitch, false);
    // A recovery follows the watchdog's tick: at its shortest period the hundred cycles take seconds, not minutes.
    container->setWatchPeriodMs(50);
    ASSERT_TRUE(load(0, faulty::fileNames[faulty::segfault]));
    play();

    // Counted once a few cycles have put in place what stays (threads of the container's own, whose
    // handles count on Windows).
    constexpr int warmUpCycles = 3;
#if JUCE_WINDOWS
    std::map<std::string, int> handles;
#else
    int descriptors = 0;
#endif
    // A crash a minute by the crash-loop guard's clock: each is a crash of its own, not a loop, so
    // every one is reloaded at once (the guard's limit has tests of its own).
    double now = 0.0;
    PluginContainerTestAccess::setRecoveryTiming(*container, [&] { return now; });

    std::vector<int> helpers;
    for (int cycle = 0; cycle < 100; ++cycle)
    {
        now += 61000.0;
        if (cycle == warmUpCycles)
        {
#if JUCE_WINDOWS
            handles = openHandleKinds();
#else
            descriptors = openDescriptorCount();
#endif
        }
        ASSERT_NE(isolated(0), nullptr) << "cycle " << cycle;
        helpers.push_back(isolated(0)->getConnection().processId());
        play({ Msg::noteOn(1, pendulum::fixtures::crash_probe::kCrashNote, (juce::uint8) 100) });
        ASSERT_TRUE(container->isPluginCrashed(0)) << "cycle " << cycle;
        StdoutCapture quiet;
        ASSERT_TRUE(pumpUntil([&] { return isolated(0) != nullptr && !container->isPluginCrashed(0); }))
            << "cycle " << cycle;
    }

    for (const auto pid : helpers)
        EXPECT_FALSE(processExists(pid)) << "helper " << pid << " is still there (or was not reaped)";
    // The last helper ended may still be on its way out (its watcher, its handles).
#if JUCE_WINDOWS
    // What a helper's start and end open (its process, job and mapping) is all closed again. Each
    // cycle also makes five events and a thread; a few threads (and their objects) of the system's
    // own come and go under Wine, so the total may differ by a few, far fewer than a leak per cycle.
    constexpr int systemSlack = 8;
    std::map<std::string, int> open;
    const auto settled = [&] {
        open = openHandleKinds();
        return open["Process"] == handles["Process"] && open["Job"] == handles["Job"]
            && open["Section"] == handles["Section"] && total(open) <= total(handles) + systemSlack;
    };
    pumpUntil(settled);
    for (const char* kind : { "Process", "Job", "Section" })
        EXPECT_EQ(open[kind], handles[kind]) << kind << " handles";
    EXPECT_LE(total(open), total(handles) + systemSlack) << "handles of every kind";
    EXPECT_GT(handles["Section"] + handles["Event"], 0) << "the count sees the kinds a helper opens";
#else
    int open = 0;
    pumpUntil([&] { return (open = openDescriptorCount()) <= descriptors; });
    EXPECT_EQ(open, descriptors);
#endif
}
} // namespace

namespace
{
TEST_F(IsolatedSlots, AHelperOutlivesTheHostThreadThatStartedIt)
{
    // Plugin frameworks end and restart their message thread (on Linux, whenever a host opens or
    // sizes an editor itself); helpers started from it must live on, bound to the host process.
    std::unique_ptr<pendulum::isolation::SlotConnection> connection;
    juce::String error;
    std::thread starter([&] {
        connection = pendulum::isolation::SlotConnection::start(pendulum::isolation::SlotConnection::findHelper().getFullPathName(),
                                                                FixtureFiles::path("PlainSynth"), {}, &error);
    });
    starter.join();
    ASSERT_NE(connection, nullptr) << error;

    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(connection->failed()) << connection->failureCause();
    EXPECT_TRUE(processExists(connection->processId()));
    EXPECT_TRUE(connection->call(pendulum::isolation::Command::listPlugins).ok);
}
} // namespace

namespace
{
/** The calling thread at a higher priority than usual, where the system allows it; the value the probe reports for it. */
std::optional<float> raiseCallingThread()
{
#if JUCE_WINDOWS
    if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL) == 0)
        return std::nullopt;
    return (float) THREAD_PRIORITY_ABOVE_NORMAL;
#else
    sched_param parameters {};
    parameters.sched_priority = 3;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) != 0)
        return std::nullopt;
    return (float) (SCHED_FIFO * 1000 + 3);
#endif
}

TEST_F(IsolatedSlots, TheHelperPlaysWithTheDenormalHandlingAndPriorityOfTheHostsAudioThread)
{
    ASSERT_TRUE(load(0, "ThreadProbeSynth"));
    ASSERT_NE(isolated(0), nullptr);
    isolated(0)->setOffline(true);

    // What the probe plays on an audio thread of the host's, with and without denormals flushed.
    const auto playOn = [&](bool flushDenormals, bool raise, std::optional<float>& raisedTo) {
        juce::AudioBuffer<float> buffer(2, blockSize);
        std::thread audio([&] {
            if (raise)
                raisedTo = raiseCallingThread();
            juce::FloatVectorOperations::disableDenormalisedNumberSupport(flushDenormals);
            juce::MidiBuffer midi;
            buffer.clear();
            isolated(0)->processBlock(buffer, midi);
        });
        audio.join();
        return std::make_pair(buffer.getSample(0, 0), buffer.getSample(1, 0));
    };

    std::optional<float> raisedTo;
    const auto flushed = playOn(true, false, raisedTo);
    EXPECT_EQ(flushed.first, 1.0f);
    const auto plain = playOn(false, false, raisedTo);
    EXPECT_EQ(plain.first, 0.0f);

    // A new audio thread after a prepare (as hosts do): its priority reaches the helper too.
    isolated(0)->prepareToPlay(sampleRate, blockSize);
    const auto raised = playOn(false, true, raisedTo);
    if (!raisedTo)
        GTEST_SKIP() << "this process may not raise a thread's priority: the priority part is not shown";
    EXPECT_EQ(raised.second, *raisedTo);
    EXPECT_NE(raised.second, plain.second);
}
} // namespace

namespace
{
TEST_F(IsolatedSlots, AnAutomaticReloadStartsItsHelperInTheBackgroundAndAContainerClosedMeanwhileWaitsForNothing)
{
    container->setHangLimitMs(5000); // a helper that dies is not declared hung first
    ASSERT_TRUE(load(0, "SlowLoadSegfaultSynth"));
    ASSERT_TRUE(load(1, "PlainSynth"));
    container->getPluginInstance(0)->setCurrentProgram(1);
    container->setParameter(2, 0.75f);
    {
        StdoutCapture quiet;
        juce::MemoryBlock document;
        container->getStateInformation(document);
    }
    const auto crash = [&] {
        const auto helper = isolated(0)->getConnection().processId();
        play({ Msg::noteOn(1, pendulum::fixtures::crash_probe::kCrashNote, (juce::uint8) 100) });
        StdoutCapture quiet;
        return pumpUntil([&] { return container->getFailureCause(0).isNotEmpty() && !processExists(helper); });
    };

    // The message thread hears of the crash and goes on at once: the plugin, 600 ms to create,
    // is started on another thread meanwhile (a reload on the message thread would be over by
    // the time the crash is told, the slot back and the event saying so).
    ASSERT_TRUE(crash());
    EXPECT_TRUE(container->isPluginCrashed(0));
    EXPECT_FALSE(container->getLastEvent().text.contains("reloaded")) << container->getLastEvent().text;
    EXPECT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_GT(play(), 0.01f) << "the standby plays while the reload is under way";

    // Then the slot is back, with its snapshot, given once.
    bool recovered = false;
    juce::StringArray printed;
    {
        StdoutCapture quiet;
        printed = console_probe::linesOf([&] {
            recovered = pumpUntil([&] { return isolated(0) != nullptr && !container->isPluginCrashed(0); }, 10000);
        });
    }
    ASSERT_TRUE(recovered);
    EXPECT_TRUE(container->getLastEvent().text.contains("; playing slot 2; reloaded in")) << container->getLastEvent().text;
    EXPECT_EQ(container->getPluginInstance(0)->getCurrentProgram(), 1);
    EXPECT_FLOAT_EQ(container->getPluginInstance(0)->getParameters()[2]->getValue(), 0.75f);
    EXPECT_EQ(printed.joinIntoString("\n").indexOf("Recovering plugin state..."),
              printed.joinIntoString("\n").lastIndexOf("Recovering plugin state..."));

    // Crashed again, and the container closed while the next start is under way: the start is
    // given up (its helper killed) and the container goes without waiting for the plugin.
    container->setActivePlugin(0);
    ASSERT_TRUE(crash());
    StdoutCapture quiet;
    container.reset();
    SUCCEED();
}
} // namespace
