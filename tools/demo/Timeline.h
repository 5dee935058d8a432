#pragma once

// What a failover run sounded like: when the crash came, when the host saw the switch, when sound
// came back, and how many blocks stayed silent meanwhile.
#include "FailoverRun.h"
#include "Phrase.h"

#include <string>

namespace pendulum::demo
{

/** A block whose every sample on both channels is at most this loud counts as silent (-80 dBFS). */
constexpr float kSilenceThreshold = 1.0e-4f;

struct FailoverTimeline
{
    double sampleRate = 48000.0;
    int blockSize = 256;

    long long crashSample = -1;            // the crash note's place; -1: none was sent
    long long switchSeenSample = -1;       // -1: the host saw no switch
    long long firstNoteAfterSwitch = -1;   // the first note-on the new instrument was given
    long long audibleSample = -1;          // the first audible sample after the crash; -1: none

    int silentBlocksAfterCrash = 0;  // whole silent blocks from the crash until sound came back
    int silentBlocksAtSwitch = 0;    // silent blocks from the new instrument's first note until it sounded

    bool crashed() const { return crashSample >= 0; }
    bool switched() const { return switchSeenSample >= 0; }
    bool audibleAgain() const { return audibleSample >= 0; }
    double seconds(long long sample) const { return static_cast<double>(sample) / sampleRate; }
    double crashToAudibleMs() const;
};

FailoverTimeline analyse(const FailoverRecord& record, const Phrase& phrase);

/** One line: the crash, the switch, sound again, silent blocks. */
std::string summaryLine(const FailoverTimeline& timeline);

/** Whether a block of the record is silent on both channels. */
bool isSilentBlock(const FailoverRecord& record, long long blockStart);

} // namespace pendulum::demo
