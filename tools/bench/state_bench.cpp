// Benchmarks of the crash watch and the state document, measured in one run and reported as
// figures and ratios:
//  - one watchdog tick over 64 containers holding 128 fixture plugins;
//  - saving and restoring a container whose plugin state is 1 MiB and 16 MiB, against the
//    framework's own element-tree, base-64 and document path for the same document;
//  - the peak memory of a save against the size of the document it writes (Linux: the process's
//    peak resident size, reset before the save).
#include "FixturePaths.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/CrashWatchDog.h"
#include "hosting/EffectHandle.h"

#include <benchmark/benchmark.h>
#if defined(__linux__)
#include <malloc.h>
#endif
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr Vst2::VstInt32 setUserDataOpcode = CCONST('P', 'S', 'u', 'd'); // PlainSynth's extra chunk bytes

juce::String fixture(const char* name)
{
    return juce::String(pendulum::fixtures::fixturePath(name));
}

/** A container with PlainSynth in slot 0 whose state block carries about this many bytes. */
std::unique_ptr<PluginContainerAudioProcessor> containerWithState(size_t bytes)
{
    auto container = std::make_unique<PluginContainerAudioProcessor>();
    if (!container->loadPlugin(0, fixture("PlainSynth"), {}))
        return nullptr;

    juce::MemoryBlock data(bytes);
    juce::Random random(42);
    random.fillBitsRandomly(data.getData(), data.getSize());
    auto* effect = vstEffectOf(*container->getPluginInstance(0));
    effect->dispatcher(effect, Vst2::effVendorSpecific, setUserDataOpcode, (Vst2::VstIntPtr) bytes, data.getData(), 0.0f);
    return container;
}

void saveState(benchmark::State& state)
{
    auto container = containerWithState((size_t) state.range(0) << 20);
    if (container == nullptr)
        return state.SkipWithError("PlainSynth did not load");

    size_t documentSize = 0;
    for (auto _ : state)
    {
        juce::MemoryBlock document;
        container->getStateInformation(document);
        documentSize = document.getSize();
        benchmark::DoNotOptimize(document.getData());
    }
    state.SetBytesProcessed((int64_t) state.iterations() * (int64_t) documentSize);
}

/** The same document through the framework's element tree, base-64 String and document writer. */
void frameworkSave(benchmark::State& state)
{
    auto container = containerWithState((size_t) state.range(0) << 20);
    if (container == nullptr)
        return state.SkipWithError("PlainSynth did not load");
    auto& instance = *container->getPluginInstance(0);

    size_t documentSize = 0;
    for (auto _ : state)
    {
        juce::MemoryBlock block;
        instance.getStateInformation(block);
        juce::XmlElement root("pluginData");
        auto* plugin = root.createNewChildElement("plugin");
        plugin->setAttribute("index", 0);
        plugin->setAttribute("filePath", fixture("PlainSynth"));
        plugin->setAttribute("binDataSize", (int) block.getSize());
        plugin->setAttribute("binData", block.toBase64Encoding());
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
        const auto text = root.createDocument({}, false, true, "UTF-8", 60);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        juce::MemoryBlock document(text.toRawUTF8(), text.getNumBytesAsUTF8());
        documentSize = document.getSize();
        benchmark::DoNotOptimize(document.getData());
    }
    state.SetBytesProcessed((int64_t) state.iterations() * (int64_t) documentSize);
}

void restoreState(benchmark::State& state)
{
    auto source = containerWithState((size_t) state.range(0) << 20);
    if (source == nullptr)
        return state.SkipWithError("PlainSynth did not load");
    juce::MemoryBlock document;
    source->getStateInformation(document);

    PluginContainerAudioProcessor target;
    for (auto _ : state)
        target.setStateInformation(document.getData(), (int) document.getSize());

    if (target.getPluginInstance(0) == nullptr)
        return state.SkipWithError("the restore loaded nothing");
    state.SetBytesProcessed((int64_t) state.iterations() * (int64_t) document.getSize());
}

/** The framework's parse and base-64 decoding of the same document (no plugin is loaded). */
void frameworkRestore(benchmark::State& state)
{
    auto source = containerWithState((size_t) state.range(0) << 20);
    if (source == nullptr)
        return state.SkipWithError("PlainSynth did not load");
    juce::MemoryBlock document;
    source->getStateInformation(document);

    for (auto _ : state)
    {
        const auto text = juce::String::fromUTF8(static_cast<const char*>(document.getData()), (int) document.getSize());
        auto root = juce::XmlDocument::parse(text);
        juce::MemoryBlock block;
        block.fromBase64Encoding(root->getChildByName("plugin")->getStringAttribute("binData"));
        benchmark::DoNotOptimize(block.getData());
    }
    state.SetBytesProcessed((int64_t) state.iterations() * (int64_t) document.getSize());
}

void watchdogTick(benchmark::State& state)
{
    std::vector<std::unique_ptr<PluginContainerAudioProcessor>> containers;
    for (int i = 0; i < 64; ++i)
    {
        containers.push_back(std::make_unique<PluginContainerAudioProcessor>());
        for (int slot = 0; slot < 2; ++slot)
            if (!containers.back()->loadPlugin(slot, fixture("PlainSynth"), {}))
                return state.SkipWithError("PlainSynth did not load");
    }
    watchdog->stopTimer();

    for (auto _ : state)
        watchdog->timerCallback();

    state.counters["plugins"] = 128;
}

/** The tick at the shortest period: one container asking for 50 ms, two plugins. */
void watchdogTickAtShortestPeriod(benchmark::State& state)
{
    auto container = std::make_unique<PluginContainerAudioProcessor>();
    for (int slot = 0; slot < 2; ++slot)
        if (!container->loadPlugin(slot, fixture("PlainSynth"), {}))
            return state.SkipWithError("PlainSynth did not load");
    container->setWatchPeriodMs(CrashWatchDog::minPeriodMs);
    if (watchdog->getPeriodMs() != CrashWatchDog::minPeriodMs)
        return state.SkipWithError("the watchdog did not take the shortest period");
    watchdog->stopTimer();

    for (auto _ : state)
        watchdog->timerCallback();

    state.counters["plugins"] = 2;
}

#if defined(__linux__)
long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field) + 1));
    return -1;
}

/** The peak resident memory a save adds, over the size of the document it writes. */
double peakOfSaveOverDocument(size_t megabytes)
{
    // Large blocks get pages of their own, which go back to the system when freed: the resident
    // size then shows what a save really holds at its peak. (Set after the timed runs: fresh pages
    // cost page faults that a host's reused heap does not.)
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);

    auto container = containerWithState(megabytes << 20);
    if (container == nullptr)
        return 0.0;

    {
        juce::MemoryBlock warmUp; // the first save takes the snapshot the later ones replace
        container->getStateInformation(warmUp);
    }

    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak resident size starts again from here
    const auto before = statusKiB("VmRSS:");
    juce::MemoryBlock document;
    container->getStateInformation(document);
    const auto peak = statusKiB("VmHWM:");
    if (before < 0 || peak < 0)
        return 0.0;
    return (double) (peak - before) * 1024.0 / (double) document.getSize();
}
#endif

class RecordingReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs)
        {
            if (run.aggregate_name.empty() || run.aggregate_name == "median")
            {
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
                const auto bytes = run.counters.find("bytes_per_second");
                if (bytes != run.counters.end())
                    rates[run.benchmark_name()] = bytes->second;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double time(const std::string& prefix) const { return find(times, prefix); }
    double rate(const std::string& prefix) const { return find(rates, prefix); }

private:
    /** The figure of the run with this name, or of its median when repetitions were run. */
    static double find(const std::map<std::string, double>& values, const std::string& name)
    {
        for (const auto& candidate : { name, name + "_median" })
            if (const auto found = values.find(candidate); found != values.end())
                return found->second;
        return 0.0;
    }

    std::map<std::string, double> times, rates;
};
} // namespace

BENCHMARK(watchdogTick)->Unit(benchmark::kMicrosecond);
BENCHMARK(watchdogTickAtShortestPeriod)->Unit(benchmark::kMicrosecond);
BENCHMARK(saveState)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(frameworkSave)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(restoreState)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(frameworkRestore)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize(&argc, argv);

    // The loader's diagnostics go to std::cout; the report gets its own stream on the same output.
    std::ostream report(std::cout.rdbuf());
    RecordingReporter reporter;
    reporter.SetOutputStream(&report);
    reporter.SetErrorStream(&std::cerr);
    std::cout.setstate(std::ios::failbit);
    benchmark::RunSpecifiedBenchmarks(&reporter);

#if defined(__linux__)
    const double peak1 = peakOfSaveOverDocument(1), peak16 = peakOfSaveOverDocument(16);
#endif
    std::cout.clear();

    const auto mbps = [](double bytesPerSecond) { return bytesPerSecond / 1.0e6; };
    std::printf("\nFigures measured in this run:\n");
    std::printf("%-44s %8.1f us   (goal: under 1000 us)\n", "watchdog tick, 64 containers, 128 plugins",
                reporter.time("watchdogTick"));
    const double shortestPeriodUs = CrashWatchDog::minPeriodMs * 1000.0;
    std::printf("%-44s %8.2f us   (%.4f%% of the message thread at one tick per %d ms)\n",
                "watchdog tick at 50 ms, 1 container, 2 plugins", reporter.time("watchdogTickAtShortestPeriod"),
                100.0 * reporter.time("watchdogTickAtShortestPeriod") / shortestPeriodUs, CrashWatchDog::minPeriodMs);
    std::printf("%-44s %8.4f%%   (64 containers, 128 plugins, ticked every %d ms)\n", "share of the message thread",
                100.0 * reporter.time("watchdogTick") / shortestPeriodUs, CrashWatchDog::minPeriodMs);
    for (const char* size : { "1", "16" })
    {
        const auto suffix = std::string("/") + size;
        const auto save = reporter.rate("saveState" + suffix), theirs = reporter.rate("frameworkSave" + suffix);
        const auto load = reporter.rate("restoreState" + suffix), theirsLoad = reporter.rate("frameworkRestore" + suffix);
        std::printf("save of a %2s MiB state %24.0f MB/s   (framework path %.0f MB/s, %.2fx; goal: at least 300 MB/s)\n",
                    size, mbps(save), mbps(theirs), theirs > 0 ? save / theirs : 0.0);
        std::printf("restore of a %2s MiB state %21.0f MB/s   (framework parse and decode %.0f MB/s, %.2fx; goal: at least 300 MB/s)\n",
                    size, mbps(load), mbps(theirsLoad), theirsLoad > 0 ? load / theirsLoad : 0.0);
    }
#if defined(__linux__)
    std::printf("peak memory of a save / document size        %.2fx (1 MiB), %.2fx (16 MiB)   (goal: at most 3x)\n",
                peak1, peak16);
#endif
    benchmark::Shutdown();
    return 0;
}
