#include "Timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pendulum::demo
{

namespace
{
bool audible(float sample)
{
    return std::abs(sample) > kSilenceThreshold;
}

long long firstAudibleFrom(const FailoverRecord& record, long long from)
{
    for (auto i = std::max(0LL, from); i < record.renderedSamples(); ++i)
        if (audible(record.left[static_cast<size_t>(i)]) || audible(record.right[static_cast<size_t>(i)]))
            return i;
    return -1;
}

long long blockStartOf(long long sample, int blockSize)
{
    return sample / blockSize * blockSize;
}

long long firstNoteOnFrom(const Phrase& phrase, long long from)
{
    for (const auto& event : phrase.events())
        if (event.velocity > 0 && event.sample >= from)
            return event.sample;
    return -1;
}

int silentBlocksBetween(const FailoverRecord& record, long long fromBlock, long long toBlock)
{
    int count = 0;
    for (auto block = fromBlock; block < toBlock; block += record.blockSize)
        count += isSilentBlock(record, block) ? 1 : 0;
    return count;
}

std::string secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f s", seconds);
    return text;
}
} // namespace

bool isSilentBlock(const FailoverRecord& record, long long blockStart)
{
    const auto end = std::min(blockStart + record.blockSize, record.renderedSamples());
    for (auto i = blockStart; i < end; ++i)
        if (audible(record.left[static_cast<size_t>(i)]) || audible(record.right[static_cast<size_t>(i)]))
            return false;
    return true;
}

double FailoverTimeline::crashToAudibleMs() const
{
    return crashed() && audibleAgain() ? static_cast<double>(audibleSample - crashSample) * 1000.0 / sampleRate : -1.0;
}

FailoverTimeline analyse(const FailoverRecord& record, const Phrase& phrase)
{
    FailoverTimeline timeline;
    timeline.sampleRate = record.sampleRate;
    timeline.blockSize = record.blockSize;
    timeline.crashSample = record.crashSample;
    timeline.switchSeenSample = record.switchSeenSample;
    timeline.crashToldSample = record.crashToldSample;
    timeline.crashCause = record.crashCause;
    timeline.recoveredSample = record.recoveredSample;
    timeline.recoveryText = record.recoveryText;
    timeline.snapshotCheck = record.snapshotCheck;
    if (!timeline.crashed())
        return timeline;

    // The crashed instrument is silent from the crash note on: the first sound after it (and after
    // the crash note itself, which the standby hears too) is the other instrument's.
    timeline.audibleSample = firstAudibleFrom(record, record.crashSample + kCrashNoteLength);

    const auto crashBlockEnd = blockStartOf(record.crashSample, record.blockSize) + record.blockSize;
    const auto silenceEnd = timeline.audibleAgain() ? blockStartOf(timeline.audibleSample, record.blockSize)
                                                    : record.renderedSamples();
    timeline.silentBlocksAfterCrash = silentBlocksBetween(record, crashBlockEnd, silenceEnd);
    if (timeline.audibleAgain())
        timeline.crashToSoundBlocks = static_cast<int>(
            (blockStartOf(timeline.audibleSample, record.blockSize) - blockStartOf(record.crashSample, record.blockSize))
            / record.blockSize);

    // Held notes: nothing is struck or released from the crash until heldUntil, so every block
    // from the return of sound until then sounds only if the notes held across the switch do.
    timeline.heldAtCrash = phrase.heldAt(record.crashSample + 1);
    const auto nextEvent = phrase.nextEventAfter(record.crashSample);
    timeline.heldUntil = std::min(nextEvent < 0 ? record.renderedSamples() : nextEvent, record.renderedSamples());
    if (!timeline.heldAtCrash.empty() && timeline.audibleAgain() && timeline.audibleSample < timeline.heldUntil)
    {
        const auto from = blockStartOf(timeline.audibleSample, record.blockSize);
        const auto lastWholeBlock = blockStartOf(timeline.heldUntil, record.blockSize);
        const auto blocksHeld = (lastWholeBlock - from) / record.blockSize;
        timeline.silentBlocksWhileHeld = silentBlocksBetween(record, from, lastWholeBlock);
        timeline.heldNotesHeard = blocksHeld > 0
                               && static_cast<double>(blocksHeld - timeline.silentBlocksWhileHeld)
                                      >= kHeldAudibleShare * static_cast<double>(blocksHeld);
    }

    if (timeline.switched())
    {
        timeline.firstNoteAfterSwitch = firstNoteOnFrom(phrase, record.switchSeenSample);
        if (timeline.firstNoteAfterSwitch >= 0)
            timeline.silentBlocksAtSwitch = silentBlocksBetween(
                record, blockStartOf(timeline.firstNoteAfterSwitch, record.blockSize), silenceEnd);
    }
    return timeline;
}

std::string summaryLine(const FailoverTimeline& timeline, const RunDescription& run)
{
    if (!timeline.crashed())
        return "no crash note was sent; the run only played through";

    const auto blocks = [&](int count) {
        return std::to_string(count) + (count == 1 ? " silent block" : " silent blocks");
    };
    const auto msAfterCrash = [&](long long sample) {
        char text[32];
        std::snprintf(text, sizeof(text), "%.0f ms", static_cast<double>(sample - timeline.crashSample) * 1000.0 / timeline.sampleRate);
        return std::string(text);
    };

    std::string line;
    if (!run.isolationProblem.empty())
        line += "the isolated slot could not start (" + run.isolationProblem + "), so the cooperative crash report instead; ";
    line += "crash note at " + secondsText(timeline.seconds(timeline.crashSample));

    const auto name = run.crashingInstrument.empty() ? std::string("slot 0") : "slot 0 (" + run.crashingInstrument;
    const auto where = run.isolated ? ", in its own process)" : ", in the host's process)";
    if (run.isolated && !timeline.crashCause.empty())
        line += ": " + name + (run.crashingInstrument.empty() ? "" : where) + " ended with " + timeline.crashCause
              + "; the host process lived on";
    else if (!timeline.crashCause.empty())
        line += ": " + name + (run.crashingInstrument.empty() ? "" : where) + " crashed (" + timeline.crashCause + ")";

    if (!timeline.switched())
        return line + ", no switch seen by the host (the instrument in charge reported no crash); "
             + blocks(timeline.silentBlocksAfterCrash) + " of " + std::to_string(timeline.blockSize)
             + " samples after it";

    line += "; switch seen by the host at " + secondsText(timeline.seconds(timeline.switchSeenSample));
    if (timeline.audibleAgain())
    {
        const auto later = timeline.crashToSoundBlocks;
        line += "; " + std::string(run.hotStandby ? "the hot standby" : "the other slot") + " sounded "
              + msAfterCrash(timeline.audibleSample) + " after the crash ("
              + (later == 0 ? std::string("in the crash's own block")
                            : std::to_string(later) + (later == 1 ? " block later" : " blocks later"))
              + (run.isolated ? std::string() : "; the watchdog asks every " + std::to_string(run.watchPeriodMs) + " ms")
              + ")";
    }
    else
    {
        line += ", silent to the end";
    }
    line += "; " + blocks(timeline.silentBlocksAfterCrash) + " of " + std::to_string(timeline.blockSize)
          + " samples after the crash, " + std::to_string(timeline.silentBlocksAtSwitch) + " at the switch";

    if (!timeline.heldAtCrash.empty())
        line += "; " + std::to_string(timeline.heldAtCrash.size()) + " notes held at the crash "
              + (timeline.heldNotesHeard ? "heard across the switch until " + secondsText(timeline.seconds(timeline.heldUntil))
                                         : std::string("not heard across the switch"))
              + (timeline.silentBlocksWhileHeld > 0
                     ? " (" + blocks(timeline.silentBlocksWhileHeld) + " meanwhile: blocks that came late)"
                     : std::string());

    if (timeline.recovered())
    {
        line += "; slot 0 back " + std::string(timeline.snapshotCheck == 1 ? "with its snapshot "
                                               : timeline.snapshotCheck == 0 ? "with a state other than its snapshot "
                                                                             : "")
              + "at " + secondsText(timeline.seconds(timeline.recoveredSample)) + " (" + msAfterCrash(timeline.recoveredSample)
              + " after the crash";
        const auto reload = timeline.recoveryText.find("reloaded in ");
        line += (reload != std::string::npos ? "; " + timeline.recoveryText.substr(reload) : std::string()) + ")";
    }
    else
    {
        line += "; slot 0 not back before the end of the run";
    }
    return line;
}

} // namespace pendulum::demo
