// Benchmarks of the plugin binary as a DAW meets it: PluginPendulum loaded through VSTPluginMain by
// the raw host, its slots filled from a state document given as the bank chunk. Measured in one run
// and reported side by side:
//  - the cost per block of PlainSynth played through PluginPendulum against the same PlainSynth file
//    played by the raw host directly, at 16, 64 and 512 samples per block;
//  - slots in helper processes against in-process slots (the same synth, both through
//    PluginPendulum) at 16, 64, 256 and 512 samples per block, interleaved: the time per block
//    (the round trip to the helper is the difference) and the CPU time of both processes together,
//    once with blocks back to back and once paced at the block period as a DAW plays live,
//    with PlainSynth (almost no work of its own) and BusySynth (the work of a polyphonic synth);
//  - a crash of the instrument in charge, in real time (CrashPlainSynth in slot 0, PlainSynth in
//    slot 1, a note struck at every block): the time from the crash note until sound comes back, and
//    the silent blocks from the moment the host sees the switch.
//
//   pendulum-binary-bench [benchmark options] [--switch-trials=N] [--plugin=PATH]
#include "FailoverRun.h"
#include "FixturePaths.h"
#include "StateDocument.h"
#include "Timeline.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace pendulum;
using namespace pendulum::demo;

constexpr double kSampleRate = 48000.0;
constexpr int kBlockSizes[] = { 16, 64, 512 };
constexpr int kSwitchBlockSize = 256;
constexpr double kWatchdogPeriodMs = 1000.0;

std::string fixture(const char* name)
{
    return fixtures::fixturePath(name);
}

/** Plays a held chord block after block; the chord starts in a block before the timed ones. */
void playBlocks(benchmark::State& state, rawhost::RawVstHost& host)
{
    const auto blockSize = static_cast<int>(state.range(0));
    host.suspend();
    host.setBlockSize(blockSize);
    host.resume();

    std::vector<rawhost::MidiMessage> chord;
    for (int note : { 48, 55, 60, 64, 67, 72 })
        chord.push_back(rawhost::noteOn(note, 100, 0));
    host.sendMidi(chord);
    host.processReplacing(0, 2, blockSize);

    // The raw host keeps a log of every call the plugin makes to it (PluginPendulum asks for the
    // time info in every block); emptied now and then, it stays at a small, allocated size instead
    // of growing through the run, as a DAW's answer to those calls costs nothing that grows.
    long long blocks = 0;
    for (auto _ : state)
    {
        if ((++blocks & 1023) == 0)
            host.clearCalls();
        host.processReplacing();
        benchmark::DoNotOptimize(host.buffers().output(0));
    }
    state.SetItemsProcessed(state.iterations() * blockSize);
}

/** Console output as usual; keeps the CPU time per iteration (or its median over repetitions) of every run. */
class RecordingReporter : public benchmark::ConsoleReporter
{
public:
    RecordingReporter() : benchmark::ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
                times[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedCPUTime();
    }

    double time(const std::string& name) const
    {
        const auto found = times.find(name);
        return found != times.end() ? found->second : 0.0;
    }

private:
    std::map<std::string, double> times;
};

struct SwitchTrial
{
    bool switched = false;
    double crashToAudibleMs = -1.0;
    int silentBlocksAtSwitch = 0;
};

/** One crash in real time with a fresh PluginPendulum; the crash note falls `crashAt` seconds in. */
bool measureSwitch(const std::string& pluginPath, double crashAt, SwitchTrial& trial)
{
    RunPlan plan;
    plan.sampleRate = kSampleRate;
    plan.blockSize = kSwitchBlockSize;
    plan.crashSample = static_cast<long long>(crashAt * kSampleRate);
    plan.totalSamples = plan.crashSample + static_cast<long long>(1.5 * kSampleRate);

    const auto document = stateDocument({}, { fixture("CrashPlainSynth"), std::nullopt }, { fixture("PlainSynth"), std::nullopt });
    rawhost::RawVstHost host;
    std::string error;
    if (!openWithDocument(host, pluginPath, document, plan, error))
    {
        std::fprintf(stderr, "PluginPendulum could not be prepared: %s\n", error.c_str());
        return false;
    }

    const auto phrase = restruckNote(69, 100, plan.blockSize, plan.totalSamples);
    const auto timeline = analyse(playInRealTime(host, phrase, plan), phrase);
    trial.switched = timeline.switched() && timeline.audibleAgain();
    trial.crashToAudibleMs = timeline.crashToAudibleMs();
    trial.silentBlocksAtSwitch = timeline.silentBlocksAtSwitch;
    return true;
}

/** CPU time of this process so far, in seconds. */
double ownCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return (double) now.tv_sec + now.tv_nsec * 1e-9;
}

/** The helper processes this process started (by their parent and name). */
std::vector<int> helperProcesses()
{
    std::vector<int> found;
    if (auto* folder = opendir("/proc"))
    {
        while (auto* entry = readdir(folder))
        {
            const int pid = std::atoi(entry->d_name);
            if (pid <= 0)
                continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            if (close == std::string::npos || line.find("(pendulum-slot-h") == std::string::npos)
                continue;
            std::istringstream rest(line.substr(close + 2));
            char state = 0;
            int parent = 0;
            rest >> state >> parent;
            if (parent == (int) getpid())
                found.push_back(pid);
        }
        closedir(folder);
    }
    return found;
}

/** CPU time of every thread of the processes so far, in seconds (the scheduler's own count). */
double cpuSecondsOf(const std::vector<int>& pids)
{
    double total = 0.0;
    for (const auto pid : pids)
    {
        const auto tasks = "/proc/" + std::to_string(pid) + "/task";
        if (auto* folder = opendir(tasks.c_str()))
        {
            while (auto* entry = readdir(folder))
            {
                if (entry->d_name[0] == '.')
                    continue;
                std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
                double nanoseconds = 0.0;
                if (schedstat >> nanoseconds)
                    total += nanoseconds * 1e-9;
            }
            closedir(folder);
        }
    }
    return total;
}

struct IsolationFigures
{
    double wallPerBlock[2] {}; // [in-process, isolated], seconds
    double cpuPerBlock[2] {};  // both processes
    double helperCpuPerBlock = 0.0; // the helpers' share of the isolated side's CPU
};

/**
    Plays both containers in turns of 200 blocks, each side for about `secondsPerSide` of blocks
    in all; wall and CPU per block. Back to back, the next block follows the last one's answer at
    once; paced, it comes at the next block period, as a DAW playing live hands them over (the
    helper then sleeps between blocks and is woken for each).
*/
IsolationFigures measureIsolation(rawhost::RawVstHost& inProcess, rawhost::RawVstHost& isolated, int blockSize,
                                  bool paced)
{
    rawhost::RawVstHost* hosts[2] = { &inProcess, &isolated };
    for (auto* host : hosts)
    {
        host->suspend();
        host->setBlockSize(blockSize);
        host->resume();
        std::vector<rawhost::MidiMessage> chord;
        for (int note : { 48, 55, 60, 64, 67, 72 })
            chord.push_back(rawhost::noteOn(note, 100, 0));
        host->sendMidi(chord);
        host->processReplacing(0, 2, blockSize);
    }

    const auto helpers = helperProcesses();
    const auto period = std::chrono::nanoseconds((long long) (blockSize * 1e9 / kSampleRate));
    IsolationFigures figures;
    long long blocks[2] {};
    double wall[2] {}, cpu[2] {}, helperCpu = 0.0;
    const double secondsPerSide = paced ? 1.0 : 0.25;
    const int rounds = std::max(2, (int) (secondsPerSide * kSampleRate / blockSize / 200));
    for (int round = 0; round < rounds; ++round)
    {
        for (int side = 0; side < 2; ++side)
        {
            // Reading the helpers' figures costs this process time of its own: outside the span.
            const auto helpersBefore = cpuSecondsOf(helpers);
            const auto ownBefore = ownCpuSeconds();
            auto next = std::chrono::steady_clock::now();
            double busy = 0.0;
            for (int i = 0; i < 200; ++i)
            {
                if (paced)
                {
                    next += period;
                    std::this_thread::sleep_until(next);
                }
                const auto start = std::chrono::steady_clock::now();
                hosts[side]->processReplacing();
                benchmark::DoNotOptimize(hosts[side]->buffers().output(0));
                busy += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            }
            const auto ownSpent = ownCpuSeconds() - ownBefore;
            const auto helpersSpent = cpuSecondsOf(helpers) - helpersBefore;
            wall[side] += busy;
            cpu[side] += ownSpent + helpersSpent;
            if (side == 1)
                helperCpu += helpersSpent;
            blocks[side] += 200;
            hosts[side]->clearCalls();
        }
    }
    for (int side = 0; side < 2; ++side)
    {
        figures.wallPerBlock[side] = wall[side] / (double) blocks[side];
        figures.cpuPerBlock[side] = cpu[side] / (double) blocks[side];
    }
    figures.helperCpuPerBlock = helperCpu / (double) blocks[1];
    return figures;
}

void printRatio(const char* what, double numerator, double denominator, const char* goal)
{
    if (numerator > 0.0 && denominator > 0.0)
        std::printf("%-58s %7.3fx   (%s)\n", what, numerator / denominator, goal);
}

/** Takes --name=value out of the arguments, if present. */
bool takeOption(int& argc, char** argv, const std::string& name, std::string& value)
{
    const auto prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];
        if (argument.rfind(prefix, 0) != 0)
            continue;
        value = argument.substr(prefix.size());
        std::copy(argv + i + 1, argv + argc, argv + i);
        --argc;
        return true;
    }
    return false;
}
} // namespace

int main(int argc, char** argv)
{
    std::string pluginPath = PENDULUM_PLUGIN_PATH;
    std::string trialsText = "6";
    takeOption(argc, argv, "plugin", pluginPath);
    takeOption(argc, argv, "switch-trials", trialsText);
    const int trials = std::max(0, std::atoi(trialsText.c_str()));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // PluginPendulum's plugin loader reports on std::cout, the one this process shares with it. It is
    // muted for the run; the report and this program's own lines take other ways to the terminal.
    std::ostream report(std::cout.rdbuf());
    std::cout.setstate(std::ios::failbit);

    // Both hosts stay loaded for all block sizes; the container's second slot holds a second
    // PlainSynth, prepared and idle as a stand-by instrument is.
    RunPlan plan;
    plan.sampleRate = kSampleRate;
    plan.blockSize = 512;
    rawhost::RawVstHost direct;
    rawhost::RawVstHost container;
    std::string error;
    if (!direct.load(fixture("PlainSynth")))
    {
        std::fprintf(stderr, "PlainSynth could not be loaded: %s\n", direct.error().c_str());
        return 1;
    }
    direct.open();
    direct.setSampleRate(kSampleRate);
    const auto document = stateDocument({}, { fixture("PlainSynth"), std::nullopt }, { fixture("PlainSynth"), std::nullopt });
    if (!openWithDocument(container, pluginPath, document, plan, error))
    {
        std::fprintf(stderr, "PluginPendulum could not be prepared: %s\n", error.c_str());
        return 1;
    }

    for (int blockSize : kBlockSizes)
    {
        benchmark::RegisterBenchmark("throughPendulum", [&](benchmark::State& state) { playBlocks(state, container); })
            ->Arg(blockSize);
        benchmark::RegisterBenchmark("direct", [&](benchmark::State& state) { playBlocks(state, direct); })->Arg(blockSize);
    }

    RecordingReporter reporter;
    reporter.SetOutputStream(&report);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    direct.close();

    // The same container setting with its slots in helper processes, against the in-process one:
    // with PlainSynth, which costs almost nothing (the round trip stands out), and with BusySynth,
    // which costs what a polyphonic synth does (the CPU ratio that matters in a session).
    ContainerSettings isolatedSettings;
    isolatedSettings.separateProcesses = true;
    struct IsolationRow
    {
        const char* synth;
        int blockSize;
        bool paced;
        IsolationFigures figures;
    };
    std::vector<IsolationRow> isolation;
    for (const char* synth : { "PlainSynth", "BusySynth" })
    {
        rawhost::RawVstHost inProcess, isolated;
        const auto inProcessDocument = stateDocument({}, { fixture(synth), std::nullopt }, { fixture(synth), std::nullopt });
        const auto isolatedDocument =
            stateDocument(isolatedSettings, { fixture(synth), std::nullopt }, { fixture(synth), std::nullopt });
        if (openWithDocument(inProcess, pluginPath, inProcessDocument, plan, error)
            && openWithDocument(isolated, pluginPath, isolatedDocument, plan, error) && !helperProcesses().empty())
        {
            for (const bool paced : { false, true })
                for (int blockSize : { 16, 64, 256, 512 })
                    isolation.push_back({ synth, blockSize, paced, measureIsolation(inProcess, isolated, blockSize, paced) });
        }
        else
        {
            std::fprintf(stderr, "no helper process for %s: its isolated figures are left out\n", synth);
        }
        isolated.close();
        inProcess.close();
    }
    container.close();

    std::vector<SwitchTrial> results;
    for (int i = 0; i < trials; ++i)
    {
        // Crash notes at different places relative to the watchdog's tick.
        SwitchTrial trial;
        if (measureSwitch(pluginPath, 0.5 + 0.173 * i, trial))
            results.push_back(trial);
        std::printf("switch trial %d: %s, crash to audible %.1f ms, %d silent blocks at the switch\n", i + 1,
                    trial.switched ? "switched" : "no switch", trial.crashToAudibleMs, trial.silentBlocksAtSwitch);
        std::fflush(stdout);
    }

    std::printf("\nMeasured in this run:\n");
    for (int blockSize : kBlockSizes)
    {
        const auto name = std::to_string(blockSize);
        const auto label = "through PluginPendulum / direct, " + name + "-sample blocks";
        printRatio(label.c_str(), reporter.time("throughPendulum/" + name), reporter.time("direct/" + name),
                   blockSize < 64 ? "goal: at most 1.05x" : "goal: at most 1.02x");
    }

    for (const auto& [synth, blockSize, paced, figures] : isolation)
    {
        const double periodUs = blockSize * 1e6 / kSampleRate;
        const double extraUs = (figures.wallPerBlock[1] - figures.wallPerBlock[0]) * 1e6;
        const std::string where =
            std::string(synth) + ", " + std::to_string(blockSize) + (paced ? ", paced" : ", back to back");
        std::printf("%-58s %7.1f us in-process, %7.1f us isolated\n", ("time per block, " + where).c_str(),
                    figures.wallPerBlock[0] * 1e6, figures.wallPerBlock[1] * 1e6);
        std::printf("%-58s %7.1f us = %5.2f %% of the %.0f us period   (goal at 64: at most 2 %%)\n",
                    ("helper round trip, " + where).c_str(), extraUs, 100.0 * extraUs / periodUs, periodUs);
        std::printf("%-58s %7.1f us in-process, %7.1f us isolated (helpers %.1f us)\n",
                    ("CPU per block, " + where).c_str(), figures.cpuPerBlock[0] * 1e6, figures.cpuPerBlock[1] * 1e6,
                    figures.helperCpuPerBlock * 1e6);
        printRatio(("CPU isolated / in-process, " + where).c_str(), figures.cpuPerBlock[1], figures.cpuPerBlock[0],
                   "goal with BusySynth at 256: at most 1.2x");
    }

    if (!results.empty())
    {
        std::vector<double> delays;
        int switched = 0, worstSilent = 0;
        for (const auto& trial : results)
        {
            switched += trial.switched ? 1 : 0;
            worstSilent = std::max(worstSilent, trial.silentBlocksAtSwitch);
            if (trial.switched)
                delays.push_back(trial.crashToAudibleMs);
        }
        std::sort(delays.begin(), delays.end());
        const double blockMs = kSwitchBlockSize * 1000.0 / kSampleRate;
        std::printf("%-52s %d of %zu\n", "crashes followed by a switch", switched, results.size());
        std::printf("%-52s %7d    (goal: at most 1)\n", "silent blocks at the switch, worst", worstSilent);
        if (!delays.empty())
            std::printf("%-52s %7.1f ms, worst %.1f ms   (goal: within %.1f ms)\n",
                        "crash to audible, median", delays[delays.size() / 2], delays.back(),
                        kWatchdogPeriodMs + blockMs);
    }
    benchmark::Shutdown();
    std::cout.clear();
    return 0;
}
