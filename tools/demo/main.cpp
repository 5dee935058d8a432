// The demonstration: PluginPendulum loaded the way a DAW loads it (through VSTPluginMain, with a
// host callback of ours), both slots filled from a state document, a phrase played in real time
// while the plugin's watchdog runs, and the instrument in charge made to crash half-way. Writes
// what the host heard (WAV), a picture of it with the crash and the switch marked (PNG), the event
// log, and prints a one-line summary.
#include "DemoOptions.h"
#include "FailoverRun.h"
#include "FixturePaths.h"
#include "OutputDiversion.h"
#include "StateDocument.h"
#include "Timeline.h"
#include "WavWriter.h"
#include "WaveformPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#if defined(_WIN32)
#include <io.h>
#define PENDULUM_ISATTY(stream) _isatty(_fileno(stream))
#else
#include <unistd.h>
#define PENDULUM_ISATTY(stream) isatty(fileno(stream))
#endif

namespace
{
using namespace pendulum;
using namespace pendulum::demo;

constexpr double kSampleRate = 48000.0;
constexpr int kBlockSize = 256;
constexpr float kSlot0Gain = 0.4f;

std::string timeStamp(long long sample)
{
    char text[32];
    std::snprintf(text, sizeof(text), "[%7.3f s]", static_cast<double>(sample) / kSampleRate);
    return text;
}

std::string fileStem(const std::string& path)
{
    return std::filesystem::u8path(path).stem().u8string();
}

/** The render's progress on one terminal line (a line a second when not on a terminal), and the log. */
class ProgressDisplay
{
public:
    ProgressDisplay(std::FILE* terminal, long long totalSamples)
        : out(terminal), total(totalSamples), onTerminal(PENDULUM_ISATTY(terminal) != 0)
    {
    }

    void update(const FailoverRecord& record)
    {
        const auto done = record.renderedSamples();
        const auto step = static_cast<long long>(kSampleRate * (onTerminal ? 0.1 : 1.0));
        if (done / step == shown / step && done != total)
            return;
        shown = done;

        // The loudest sample of the last 100 ms.
        float peak = 0.0f;
        const auto from = record.left.size() - std::min<size_t>(record.left.size(), 4800);
        for (auto i = from; i < record.left.size(); ++i)
            peak = std::max({ peak, std::abs(record.left[i]), std::abs(record.right[i]) });
        const double level = peak > 0.0f ? 20.0 * std::log10(peak) : -120.0;

        constexpr int width = 30;
        const auto filled = static_cast<size_t>(width * done / std::max(1LL, total));
        std::fprintf(out, "%s[%s%s] %4.1f / %.1f s   level %6.1f dBFS   in charge: %-36s%s", onTerminal ? "\r" : "",
                     std::string(filled, '#').c_str(), std::string(width - filled, '.').c_str(),
                     static_cast<double>(done) / kSampleRate, static_cast<double>(total) / kSampleRate, level,
                     record.after.describe().c_str(), onTerminal ? "" : "\n");
        std::fflush(out);
        lineOpen = onTerminal;
    }

    void log(const LogLine& line)
    {
        finish();
        std::fprintf(out, "%s %s\n", timeStamp(line.sample).c_str(), line.text.c_str());
        std::fflush(out);
    }

    void finish()
    {
        if (lineOpen)
            std::fprintf(out, "\n");
        lineOpen = false;
    }

private:
    std::FILE* out;
    long long total;
    long long shown = -1;
    bool onTerminal;
    bool lineOpen = false;
};

bool writeEventLog(const std::string& path, const FailoverRecord& record, const std::string& summary)
{
    std::ofstream file(std::filesystem::u8path(path));
    for (const auto& line : record.log)
        file << timeStamp(line.sample) << ' ' << line.text << '\n';
    file << "summary: " << summary << '\n';
    return static_cast<bool>(file);
}

struct Outcome
{
    FailoverRecord record;
    FailoverTimeline timeline;
};

/** Loads PluginPendulum with the two slots and plays the run; prints as it goes. */
bool playDemo(std::FILE* out, const DemoOptions& options, const SlotContent& slot0, const SlotContent& slot1,
              Outcome& outcome)
{
    RunPlan plan;
    plan.sampleRate = kSampleRate;
    plan.blockSize = kBlockSize;
    plan.totalSamples = static_cast<long long>(options.seconds * kSampleRate);
    if (options.sendCrash)
        plan.crashSample = static_cast<long long>(options.crashAt.value_or(options.seconds / 2.0 + 0.1) * kSampleRate);

    rawhost::RawVstHost host;
    std::string error;
    if (!openWithDocument(host, options.pluginPath, stateDocument({}, slot0, slot1), plan, error))
    {
        std::fprintf(stderr, "PluginPendulum could not be prepared: %s\n", error.c_str());
        return false;
    }
    std::fprintf(out, "loaded           \"%s\" by %s; both slots filled from the state document\n",
                 host.effectName().c_str(), host.vendorString().c_str());
    std::fprintf(out, "playing          %.1f s in real time, %d-sample blocks at %.0f Hz\n\n", options.seconds,
                 kBlockSize, kSampleRate);

    const auto phrase = demoPhrase(kSampleRate, plan.totalSamples);
    ProgressDisplay progress(out, plan.totalSamples);
    outcome.record = playInRealTime(host, phrase, plan,
                                    { [&](const FailoverRecord& r) { progress.update(r); },
                                      [&](const LogLine& line) { progress.log(line); } });
    progress.finish();
    outcome.timeline = analyse(outcome.record, phrase);
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    DemoOptions defaults;
    defaults.pluginPath = PENDULUM_PLUGIN_PATH;
    int exitCode = 0;
    const auto parsed = parseDemoOptions(argc, argv, defaults, exitCode);
    if (!parsed)
        return exitCode;
    const auto& options = *parsed;

    const bool ownInstruments = !options.instrument0.empty();
    const SlotContent slot0{ ownInstruments ? options.instrument0 : fixtures::fixturePath("CrashPlainSynth"),
                             ownInstruments ? std::nullopt : std::optional<float>(kSlot0Gain) };
    const SlotContent slot1{ ownInstruments ? options.instrument1 : fixtures::fixturePath("MonoSynth"), std::nullopt };

    const auto folder = std::filesystem::u8path(options.outputFolder);
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    const auto outputPath = [&](const char* name) { return (folder / name).generic_u8string(); };

    Outcome outcome;
    bool played = false;
    {
        const OutputDiversion diversion(outputPath("plugin-output.txt"));
        auto* out = diversion.terminal();
        std::fprintf(out, "PluginPendulum   %s\n", options.pluginPath.c_str());
        std::fprintf(out, "slot 0           %s%s\n", slot0.path.c_str(), slot0.gain ? " (gain 0.4)" : "");
        std::fprintf(out, "slot 1           %s\n", slot1.path.c_str());
        played = playDemo(out, options, slot0, slot1, outcome);
    }
    if (!played)
        return 1;

    const auto& record = outcome.record;
    const auto& timeline = outcome.timeline;
    const auto summary = summaryLine(timeline);
    const PlotLabels labels{
        "PLUGINPENDULUM: " + fileStem(slot0.path) + " (SLOT 0) FAILS, " + fileStem(slot1.path) + " (SLOT 1) TAKES OVER",
        "SLOT 0: " + fileStem(slot0.path) + (ownInstruments ? "" : ", GAIN 0.4, BOTH CHANNELS"),
        "SLOT 1: " + fileStem(slot1.path) + (ownInstruments ? "" : ", LEFT CHANNEL ONLY") };

    const bool wavWritten = writeStereoWav(outputPath("failover.wav"), record.left, record.right,
                                           static_cast<int>(kSampleRate));
    const bool pngWritten = writePng(outputPath("failover.png"), plotFailover(record, timeline, labels));
    const bool logWritten = writeEventLog(outputPath("events.txt"), record, summary);

    const auto listFile = [&](const char* what, const char* name, bool written) {
        std::printf("  %-14s %s%s\n", what, outputPath(name).c_str(), written ? "" : " (could not be written)");
    };
    std::printf("\nfiles\n");
    listFile("audio", "failover.wav", wavWritten);
    listFile("picture", "failover.png", pngWritten);
    listFile("event log", "events.txt", logWritten);
    listFile("plugin output", "plugin-output.txt", true);
    if (record.lostMs > 0.0)
        std::printf("note: the machine was busy; rendering fell behind real time by %.0f ms in all\n", record.lostMs);
    std::printf("\nsummary: %s\n", summary.c_str());

    if (!options.check)
        return 0;

    bool passed = wavWritten && pngWritten && logWritten;
    if (!timeline.switched() || !timeline.audibleAgain())
    {
        std::printf("check failed: no switch to a playing instrument after the crash\n");
        passed = false;
    }
    if (timeline.silentBlocksAtSwitch > options.maxSilentBlocksAtSwitch)
    {
        std::printf("check failed: %d silent blocks at the switch, at most %d expected\n",
                    timeline.silentBlocksAtSwitch, options.maxSilentBlocksAtSwitch);
        passed = false;
    }
    return passed ? 0 : 2;
}
