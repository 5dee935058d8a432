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
    if (!timeline.crashed())
        return timeline;

    // The crashed instrument is silent from the crash note on: the first sound after it is the
    // other instrument's.
    timeline.audibleSample = firstAudibleFrom(record, record.crashSample);

    const auto crashBlockEnd = blockStartOf(record.crashSample, record.blockSize) + record.blockSize;
    const auto silenceEnd = timeline.audibleAgain() ? blockStartOf(timeline.audibleSample, record.blockSize)
                                                    : record.renderedSamples();
    timeline.silentBlocksAfterCrash = silentBlocksBetween(record, crashBlockEnd, silenceEnd);

    if (timeline.switched())
    {
        timeline.firstNoteAfterSwitch = firstNoteOnFrom(phrase, record.switchSeenSample);
        if (timeline.firstNoteAfterSwitch >= 0)
            timeline.silentBlocksAtSwitch = silentBlocksBetween(
                record, blockStartOf(timeline.firstNoteAfterSwitch, record.blockSize), silenceEnd);
    }
    return timeline;
}

std::string summaryLine(const FailoverTimeline& timeline)
{
    if (!timeline.crashed())
        return "no crash note was sent; the run only played through";

    const auto blocks = [&](int count) {
        return std::to_string(count) + (count == 1 ? " silent block" : " silent blocks");
    };
    std::string line = "crash note at " + secondsText(timeline.seconds(timeline.crashSample));
    if (!timeline.switched())
        return line + ", no switch seen by the host (the instrument in charge reported no crash); "
             + blocks(timeline.silentBlocksAfterCrash) + " of " + std::to_string(timeline.blockSize)
             + " samples after it";

    line += ", switch seen by the host at " + secondsText(timeline.seconds(timeline.switchSeenSample));
    if (timeline.audibleAgain())
    {
        char text[160];
        std::snprintf(text, sizeof(text), ", other slot audible at %s (%.0f ms after the crash)",
                      secondsText(timeline.seconds(timeline.audibleSample)).c_str(), timeline.crashToAudibleMs());
        line += text;
    }
    else
    {
        line += ", silent to the end";
    }
    return line + "; " + blocks(timeline.silentBlocksAfterCrash) + " of " + std::to_string(timeline.blockSize)
         + " samples after the crash, " + std::to_string(timeline.silentBlocksAtSwitch) + " at the switch";
}

} // namespace pendulum::demo
