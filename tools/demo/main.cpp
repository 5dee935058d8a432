// The demonstration: PluginPendulum loaded the way a DAW loads it (through VSTPluginMain, with a
// host callback of ours), both slots filled from a state document, a phrase played in real time
// while the plugin's watchdog runs, and the instrument in charge made to crash half-way. Writes
// what the host heard (WAV), a picture of it with the crash and the switch marked (PNG), the event
// log, and prints a one-line summary.
#include "DemoOptions.h"
#include "FailoverRun.h"
#include "FixturePaths.h"
#include "HostLoop.h"
#include "OutputDiversion.h"
#include "SessionLogTail.h"
#include "StateDocument.h"
#include "Timeline.h"
#include "WavWriter.h"
#include "WaveformPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

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

/** What the slots hold and how the container is set: the document the host gives it. */
struct Setup
{
    SlotContent slot0, slot1;
    ContainerSettings settings;
    RunDescription description;
    bool ownInstruments = false;
};

Setup setupFor(const DemoOptions& options, bool isolated)
{
    Setup setup;
    setup.ownInstruments = !options.instrument0.empty();
    const auto crashFixture = isolated ? "SegfaultSynth" : "CrashPlainSynth";
    setup.slot0 = { setup.ownInstruments ? options.instrument0 : fixtures::fixturePath(crashFixture),
                    setup.ownInstruments ? std::nullopt : std::optional<float>(kSlot0Gain) };
    setup.slot1 = { setup.ownInstruments ? options.instrument1 : fixtures::fixturePath("MonoSynth"), std::nullopt };
    setup.settings.separateProcesses = isolated;
    setup.settings.hotStandby = options.hotStandby;
    setup.settings.watchPeriodMs = options.watchPeriodMs;
    setup.description.crashingInstrument = fileStem(setup.slot0.path);
    setup.description.isolated = isolated;
    setup.description.hotStandby = options.hotStandby;
    setup.description.watchPeriodMs = options.watchPeriodMs;
    return setup;
}

/** Slot 0's element in a state document the plugin saved; empty when there is none. */
std::string slotElement(const std::vector<unsigned char>& document, int slot)
{
    const std::string text(document.begin(), document.end());
    const auto start = text.find("<plugin index=\"" + std::to_string(slot) + "\"");
    if (start == std::string::npos)
        return {};
    const auto tagEnd = text.find('>', start);
    if (tagEnd == std::string::npos)
        return {};
    if (text[tagEnd - 1] == '/')
        return text.substr(start, tagEnd + 1 - start);
    const auto end = text.find("</plugin>", tagEnd);
    return end == std::string::npos ? std::string() : text.substr(start, end + 9 - start);
}

/**
    Whether the container runs slot 0 in a helper process, as its session log tells once the
    restore is over: empty when it does, otherwise why not. The lines read go to `lines`.
*/
std::string isolationProblem(SessionLogTail& sessionLog, std::vector<std::string>& lines)
{
    using namespace std::chrono_literals;
    std::string problem;
    bool restored = false;
    runEventLoopUntil(
        [&] {
            for (auto& text : sessionLog.poll())
            {
                const std::string inProcess = "slot 1 runs in-process: ";
                if (text.rfind(inProcess, 0) == 0 && problem.empty())
                    problem = text.substr(inProcess.size());
                restored = restored || text.rfind("project restored", 0) == 0;
                lines.push_back(std::move(text));
            }
            return restored;
        },
        10s);
    if (!restored && problem.empty())
        problem = "PluginPendulum's session log did not tell how the slot was loaded";
    return problem;
}

/** Loads PluginPendulum with the two slots and plays the run; prints as it goes. */
bool playDemo(std::FILE* out, const DemoOptions& options, Setup& setup, SessionLogTail& sessionLog, Outcome& outcome)
{
    RunPlan plan;
    plan.sampleRate = kSampleRate;
    plan.blockSize = kBlockSize;
    plan.totalSamples = static_cast<long long>(options.seconds * kSampleRate);
    plan.sessionLog = &sessionLog;
    if (options.sendCrash)
        plan.crashSample = static_cast<long long>(options.crashAt.value_or(options.seconds / 2.0 + 0.1) * kSampleRate);

    const auto describeSlots = [&] {
        std::fprintf(out, "slot 0           %s%s%s\n", setup.slot0.path.c_str(), setup.slot0.gain ? " (gain 0.4)" : "",
                     setup.description.isolated ? ", in a process of its own" : "");
        std::fprintf(out, "slot 1           %s%s\n", setup.slot1.path.c_str(),
                     setup.settings.hotStandby ? ", hot standby" : "");
    };
    describeSlots();

    auto host = std::make_unique<rawhost::RawVstHost>();
    std::string error;
    if (!openWithDocument(*host, options.pluginPath, stateDocument(setup.settings, setup.slot0, setup.slot1), plan, error))
    {
        std::fprintf(out, "PluginPendulum could not be prepared: %s\n", error.c_str());
        return false;
    }

    std::vector<std::string> openingLines;
    if (setup.description.isolated)
    {
        const auto problem = isolationProblem(sessionLog, openingLines);
        if (!problem.empty())
        {
            std::fprintf(out, "note             slot 0 could not run in a process of its own (%s)\n", problem.c_str());
            if (setup.ownInstruments)
            {
                setup.description.isolated = false;
                setup.description.isolationProblem = problem;
            }
            else
            {
                // A fixture that really segfaults must not run in the host's process: the one that
                // reports its crash takes its place.
                std::fprintf(out, "                 the cooperative crash report instead\n");
                host.reset();
                setup = setupFor(options, false);
                setup.description.isolationProblem = problem;
                describeSlots();
                host = std::make_unique<rawhost::RawVstHost>();
                if (!openWithDocument(*host, options.pluginPath,
                                      stateDocument(setup.settings, setup.slot0, setup.slot1), plan, error))
                {
                    std::fprintf(out, "PluginPendulum could not be prepared: %s\n", error.c_str());
                    return false;
                }
            }
        }
    }
    for (auto& text : sessionLog.poll())
        openingLines.push_back(std::move(text));

    std::fprintf(out, "loaded           \"%s\" by %s; both slots filled from the state document\n",
                 host->effectName().c_str(), host->vendorString().c_str());

    // The host saves the project, as a DAW does: the container keeps each slot's state of this save
    // as the snapshot a recovery reloads.
    const auto slot0Saved = slotElement(host->getChunk(rawhost::ChunkKind::Bank), 0);
    std::fprintf(out, "saved            the project (%s)\n",
                 slot0Saved.empty() ? "slot 0 missing from the document" : "the slots' snapshots");
    std::fprintf(out, "playing          %.1f s in real time, %d-sample blocks at %.0f Hz\n\n", options.seconds,
                 kBlockSize, kSampleRate);

    const auto phrase = demoPhrase(kSampleRate, plan.totalSamples, plan.crashSample);
    ProgressDisplay progress(out, plan.totalSamples);
    outcome.record = playInRealTime(*host, phrase, plan,
                                    { [&](const FailoverRecord& r) { progress.update(r); },
                                      [&](const LogLine& line) { progress.log(line); } });
    progress.finish();

    std::vector<LogLine> before;
    for (const auto& text : openingLines)
        before.push_back({ 0, "PluginPendulum's session log (while opening): " + text });
    outcome.record.log.insert(outcome.record.log.begin(), before.begin(), before.end());

    // Back with its snapshot: the crashed slot's state in a save after the recovery is the one
    // saved before the crash.
    if (outcome.record.recoveredSample >= 0 && !slot0Saved.empty())
        outcome.record.snapshotCheck = slotElement(host->getChunk(rawhost::ChunkKind::Bank), 0) == slot0Saved ? 1 : 0;

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

    const auto folder = std::filesystem::u8path(options.outputFolder);
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    const auto outputPath = [&](const char* name) { return (folder / name).generic_u8string(); };

    // PluginPendulum's session log goes into the output folder, where the run reads it.
    SessionLogTail sessionLog(outputPath("session-log"));
    sessionLog.exportToEnvironment();

    auto setup = setupFor(options, !options.cooperative);
    Outcome outcome;
    bool played = false;
    {
        const OutputDiversion diversion(outputPath("plugin-output.txt"));
        auto* out = diversion.terminal();
        std::fprintf(out, "PluginPendulum   %s\n", options.pluginPath.c_str());
        played = playDemo(out, options, setup, sessionLog, outcome);
    }
    if (!played)
        return 1;

    const bool ownInstruments = setup.ownInstruments;
    const auto& slot0 = setup.slot0;
    const auto& slot1 = setup.slot1;
    const auto& record = outcome.record;
    const auto& timeline = outcome.timeline;
    const auto summary = summaryLine(timeline, setup.description);
    PlotLabels labels{
        "PLUGINPENDULUM: " + fileStem(slot0.path) + " (SLOT 0) FAILS, " + fileStem(slot1.path) + " (SLOT 1) TAKES OVER",
        "SLOT 0: " + fileStem(slot0.path) + (ownInstruments ? "" : ", GAIN 0.4, BOTH CHANNELS"),
        "SLOT 1: " + fileStem(slot1.path) + (ownInstruments ? "" : ", LEFT CHANNEL ONLY") };
    if (setup.description.isolated)
        labels.title = "PLUGINPENDULUM: " + fileStem(slot0.path) + " (SLOT 0, OWN PROCESS) "
                     + (ownInstruments ? "FAILS, " : "SEGFAULTS, ") + fileStem(slot1.path)
                     + (setup.description.hotStandby ? " (HOT STANDBY)" : " (SLOT 1)") + " TAKES OVER";

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
    listFile("session log", "session-log", true);
    if (record.lostMs > 0.0)
        std::printf("note: the machine was busy; rendering fell behind real time by %.0f ms in all\n", record.lostMs);
    std::printf("\nsummary: %s\n", summary.c_str());

    if (!options.check)
        return 0;

    bool passed = wavWritten && pngWritten && logWritten;
    const auto fail = [&](const std::string& why) {
        std::printf("check failed: %s\n", why.c_str());
        passed = false;
    };
    if (!timeline.switched() || !timeline.audibleAgain())
        fail("no switch to a playing instrument after the crash");
    if (timeline.silentBlocksAtSwitch > options.maxSilentBlocksAtSwitch)
        fail(std::to_string(timeline.silentBlocksAtSwitch) + " silent blocks at the switch, at most "
             + std::to_string(options.maxSilentBlocksAtSwitch) + " expected");
    // The helper's end is seen in the block it happens in: a hot standby sounds within that block.
    // A block the busy machine let come late is silent, whichever slot plays: the allowance of
    // silent blocks holds here too.
    if (setup.description.isolated && setup.description.hotStandby && timeline.audibleAgain()
        && (timeline.crashToSoundBlocks > 1 + options.maxSilentBlocksAtSwitch
            || timeline.silentBlocksAfterCrash > options.maxSilentBlocksAtSwitch))
        fail("the hot standby sounded " + std::to_string(timeline.crashToSoundBlocks) + " blocks after the crash ("
             + std::to_string(timeline.silentBlocksAfterCrash) + " silent), within one expected (late blocks allowed: "
             + std::to_string(options.maxSilentBlocksAtSwitch) + ")");
    if (!timeline.heldAtCrash.empty() && !timeline.heldNotesHeard)
        fail("the notes held at the crash were not heard across the switch");
    if (setup.description.isolated && timeline.crashCause.empty())
        fail("PluginPendulum's session log told no cause of the isolated slot's end");
    if (setup.description.isolated && (!timeline.recovered() || timeline.snapshotCheck != 1))
        fail(timeline.recovered() ? "slot 0 came back with another state than its snapshot"
                                  : "slot 0 was not back before the end of the run");
    return passed ? 0 : 2;
}
