// Benchmarks, measured in one run and reported as ratios:
//  - the cost per block of the container playing PlainSynth against PlainSynth hosted directly
//    through JUCE's VST format, at 64 and 512 samples;
//  - the second load of a plugin file (scan cache hit) against the first (scan).
#include "FixturePaths.h"
#include "container/PluginContainerAudioProcessor.h"
#include "hosting/VSTP2PluginLoader.h"

#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <string>

namespace
{
juce::String fixture(const char* name)
{
    return juce::String(pendulum::fixtures::fixturePath(name));
}

juce::MidiBuffer heldChord()
{
    juce::MidiBuffer midi;
    for (int note : { 48, 55, 60, 64, 67, 72 })
        midi.addEvent(juce::MidiMessage::noteOn(1, note, (juce::uint8) 100), 0);
    return midi;
}

void runBlocks(benchmark::State& state, juce::AudioProcessor& processor, int blockSize)
{
    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi = heldChord();
    juce::MidiBuffer empty;
    processor.processBlock(buffer, midi); // start the notes; afterwards every block renders them

    for (auto _ : state)
    {
        buffer.clear();
        empty.clear();
        processor.processBlock(buffer, empty);
        benchmark::DoNotOptimize(buffer.getReadPointer(0));
    }
}

void containerPlainSynth(benchmark::State& state)
{
    const auto blockSize = (int) state.range(0);
    PluginContainerAudioProcessor container;
    if (!container.loadPlugin(0, fixture("PlainSynth"), {}))
    {
        state.SkipWithError("PlainSynth did not load");
        return;
    }
    container.prepareToPlay(48000.0, blockSize);
    runBlocks(state, container, blockSize);
}

void directPlainSynth(benchmark::State& state)
{
    const auto blockSize = (int) state.range(0);
    juce::VSTPluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile(found, fixture("PlainSynth"));
    juce::String error;
    auto instance = found.isEmpty() ? nullptr : format.createInstanceFromDescription(*found[0], 48000.0, blockSize, error);
    if (instance == nullptr)
    {
        state.SkipWithError("PlainSynth did not load");
        return;
    }
    instance->prepareToPlay(48000.0, blockSize);
    runBlocks(state, *instance, blockSize);
}

// Every iteration loads a copy of the fixture under a path never seen before: a full scan.
void firstLoad(benchmark::State& state)
{
    const auto source = juce::File(fixture("PlainSynth"));
    const auto folder = juce::File::createTempFile("pendulum-bench");
    folder.createDirectory();
    int n = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        const auto copy = folder.getChildFile("PlainSynth" + juce::String(n++) + ".so");
        source.copyFileTo(copy);
        state.ResumeTiming();

        VSTP2PluginLoader loader;
        benchmark::DoNotOptimize(loader.createPluginInstance(copy.getFullPathName(), "VST", {}));
    }
    folder.deleteRecursively();
}

// The same path every time: after the first, the scan cache answers.
void secondLoad(benchmark::State& state)
{
    const auto path = fixture("PlainSynth");
    {
        VSTP2PluginLoader warmUp;
        warmUp.createPluginInstance(path, "VST", {});
    }
    for (auto _ : state)
    {
        VSTP2PluginLoader loader;
        benchmark::DoNotOptimize(loader.createPluginInstance(path, "VST", {}));
    }
}

/** Console output as usual, plus the CPU time per iteration of every run, for the ratios. */
class RecordingReporter : public benchmark::ConsoleReporter
{
public:
    RecordingReporter() : benchmark::ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
                times[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedCPUTime()
                    * (run.time_unit == benchmark::kMicrosecond ? 1000.0 : 1.0);
    }

    double time(const std::string& name) const
    {
        const auto found = times.find(name);
        return found != times.end() ? found->second : 0.0;
    }

private:
    std::map<std::string, double> times;
};

void printRatio(const char* what, double numerator, double denominator, const char* goal)
{
    if (numerator > 0.0 && denominator > 0.0)
        std::printf("%-46s %6.3fx   (%s)\n", what, numerator / denominator, goal);
}
} // namespace

BENCHMARK(containerPlainSynth)->Arg(64)->Arg(512);
BENCHMARK(directPlainSynth)->Arg(64)->Arg(512);
BENCHMARK(firstLoad)->Iterations(40)->Unit(benchmark::kMicrosecond);
BENCHMARK(secondLoad)->Iterations(40)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize(&argc, argv);

    // The loader's diagnostics go to std::cout; the report gets its own stream on the same output
    // so that it stays readable while std::cout is muted.
    std::ostream report(std::cout.rdbuf());
    RecordingReporter reporter;
    reporter.SetOutputStream(&report);
    reporter.SetErrorStream(&std::cerr);
    std::cout.setstate(std::ios::failbit);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::cout.clear();

    std::printf("\nRatios measured in this run:\n");
    printRatio("container / direct, 64-sample blocks", reporter.time("containerPlainSynth/64"),
               reporter.time("directPlainSynth/64"), "goal: at most 1.02x");
    printRatio("container / direct, 512-sample blocks", reporter.time("containerPlainSynth/512"),
               reporter.time("directPlainSynth/512"), "goal: at most 1.02x");
    printRatio("second load / first load of a file", reporter.time("secondLoad/"), reporter.time("firstLoad/"),
               "the scan cache skips the scan");
    benchmark::Shutdown();
    return 0;
}
