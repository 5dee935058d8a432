#include "FailoverRun.h"

#include "HostLoop.h"
#include "StateDocument.h"

#include <algorithm>

namespace pendulum::demo
{

namespace
{
using namespace std::chrono_literals;

// The restore runs on the plugin's message thread and loads one slot after the other.
constexpr auto kNameTimeout = 3s;
constexpr auto kRestoreTimeout = 10s;
constexpr auto kRestSettleTime = 300ms;

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

/** "slot 1 crashed (segmentation fault (signal 11)); playing slot 2" gives the part in brackets. */
std::string crashCauseOf(const std::string& text, const std::string& slotWords)
{
    const auto opening = slotWords + "crashed (";
    if (text.rfind(opening, 0) != 0)
        return {};
    int depth = 1;
    for (auto i = opening.size(); i < text.size(); ++i)
    {
        depth += text[i] == '(' ? 1 : text[i] == ')' ? -1 : 0;
        if (depth == 0)
            return text.substr(opening.size(), i - opening.size());
    }
    return {};
}
} // namespace

std::string InstrumentView::describe() const
{
    return "parameter 0 " + (firstParameterName.empty() ? std::string("unnamed") : quoted(firstParameterName))
         + ", latency " + std::to_string(latency);
}

InstrumentView viewOf(rawhost::RawVstHost& host)
{
    return { host.parameterName(0), host.effect() != nullptr ? host.effect()->initialDelay : 0 };
}

bool openWithDocument(rawhost::RawVstHost& host, const std::string& pluginPath, const std::string& document,
                      const RunPlan& plan, std::string& error)
{
    if (!host.load(pluginPath))
    {
        error = host.error();
        return false;
    }
    host.open();
    host.setSampleRate(plan.sampleRate);
    host.setBlockSize(plan.blockSize);
    const auto given = bytesOf(document);
    host.setChunk(rawhost::ChunkKind::Bank, given);
    host.resume();

    // The active slot's first parameter gets its name once that slot is loaded. An instrument
    // without parameters shows nothing there; then the chunk tells: until the restore has run, the
    // plugin hands back the document it was given.
    const bool named = runEventLoopUntil([&] { return !host.parameterName(0).empty(); }, kNameTimeout);
    if (!named && !runEventLoopUntil([&] { return host.getChunk(rawhost::ChunkKind::Bank) != given; }, kRestoreTimeout))
    {
        error = "the slots were not filled from the state document within "
              + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kNameTimeout + kRestoreTimeout).count())
              + " s";
        return false;
    }
    runEventLoop(kRestSettleTime);
    return true;
}

FailoverRecord playInRealTime(rawhost::RawVstHost& host, const Phrase& phrase, const RunPlan& plan,
                              const RunObserver& observer)
{
    FailoverRecord record;
    record.sampleRate = plan.sampleRate;
    record.blockSize = plan.blockSize;
    record.left.reserve(static_cast<size_t>(plan.totalSamples));
    record.right.reserve(static_cast<size_t>(plan.totalSamples));

    const auto log = [&](long long sample, std::string text) {
        record.log.push_back({ sample, std::move(text) });
        if (observer.onLog)
            observer.onLog(record.log.back());
    };

    record.before = viewOf(host);
    record.after = record.before;
    log(0, "playing; in charge: " + record.before.describe());

    // Session log lines about the slot that crashes: "slot N crashed (cause); ..." and the reload.
    const auto slotWords = "slot " + std::to_string(plan.crashedSlot + 1) + " ";
    const auto readSessionLog = [&](long long sample) {
        if (plan.sessionLog == nullptr)
            return;
        for (auto& text : plan.sessionLog->poll())
        {
            if (record.crashSample >= 0 && text.rfind(slotWords + "crashed", 0) == 0)
            {
                if (record.crashToldSample < 0)
                    record.crashToldSample = sample;
                // The watchdog may tell the crash before the helper's watcher tells its cause.
                if (record.crashCause.empty())
                    record.crashCause = crashCauseOf(text, slotWords);
                if (record.recoveredSample < 0 && text.find("reloaded in") != std::string::npos)
                {
                    record.recoveredSample = sample;
                    record.recoveryText = text;
                }
            }
            else if (record.crashSample >= 0 && record.recoveredSample < 0 && text.rfind(slotWords + "reloaded in", 0) == 0)
            {
                record.recoveredSample = sample;
                record.recoveryText = text;
            }
            record.pluginEvents.push_back({ sample, text });
            log(sample, "PluginPendulum's session log: " + text);
        }
    };
    readSessionLog(0);

    const auto ioChangesAtStart = host.callCount(Vst2::audioMasterIOChanged);
    auto ioChangesSeen = ioChangesAtStart;

    RealTimePacer pacer(plan.sampleRate, plan.blockSize);
    for (long long start = 0; start < plan.totalSamples; start += plan.blockSize)
    {
        const auto frames = static_cast<int>(std::min<long long>(plan.blockSize, plan.totalSamples - start));
        pacer.waitForNextBlock();

        auto messages = phrase.block(start, frames);
        if (plan.crashSample >= start && plan.crashSample < start + frames)
        {
            messages.push_back(rawhost::noteOn(kCrashNote, kCrashVelocity, static_cast<int>(plan.crashSample - start)));
            record.crashSample = plan.crashSample;
            log(plan.crashSample, "crash note sent to the instrument in charge (note 0, velocity 100)");
        }
        const auto crashNoteOff = plan.crashSample + kCrashNoteLength;
        if (plan.crashSample >= 0 && crashNoteOff >= start && crashNoteOff < start + frames)
            messages.push_back(rawhost::noteOff(kCrashNote, static_cast<int>(crashNoteOff - start)));
        // In time order, as a host sends them.
        std::stable_sort(messages.begin(), messages.end(),
                         [](const rawhost::MidiMessage& a, const rawhost::MidiMessage& b) { return a.deltaFrames < b.deltaFrames; });
        if (!messages.empty())
            host.sendMidi(messages);

        host.processReplacing(0, 2, frames);
        const auto& left = host.output(0);
        const auto& right = host.output(1);
        record.left.insert(record.left.end(), left.begin(), left.begin() + frames);
        record.right.insert(record.right.end(), right.begin(), right.begin() + frames);

        // What the host can see between two blocks.
        const auto end = start + frames;
        const auto view = viewOf(host);
        if (view != record.after)
        {
            if (record.switchSeenSample < 0 && record.crashSample >= 0)
                record.switchSeenSample = end;
            log(end, "another instrument in charge: " + view.describe() + " (was " + record.after.describe() + ")");
            record.after = view;
        }
        const auto ioChanges = host.callCount(Vst2::audioMasterIOChanged);
        if (ioChanges != ioChangesSeen)
        {
            log(end, "the plugin told the host its latency or channels changed (latency now "
                         + std::to_string(view.latency) + ")");
            ioChangesSeen = ioChanges;
        }

        readSessionLog(end);

        if (observer.onBlock)
            observer.onBlock(record);
    }
    record.lostMs = pacer.lostMs();
    log(record.renderedSamples(), "done; in charge: " + record.after.describe());
    return record;
}

} // namespace pendulum::demo
