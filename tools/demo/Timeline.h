#pragma once

// What a failover run sounded like: when the crash came, when the host saw the switch, when sound
// came back, and how many blocks stayed silent meanwhile.
#include "FailoverRun.h"
#include "Phrase.h"

#include <string>
#include <vector>

namespace pendulum::demo
{

/** A block whose every sample on both channels is at most this loud counts as silent (-80 dBFS). */
constexpr float kSilenceThreshold = 1.0e-4f;

/**
    The share of blocks that must sound while only the notes held at the crash are held. A standby
    that does not carry them over stays silent there until the next note: none sounds. An isolated
    slot on a machine too busy to run its helper in time plays a silent block now and then (the
    summary counts them); on this project's loaded 2-core machine that was up to one block in six.
*/
constexpr double kHeldAudibleShare = 0.5;

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
    int crashToSoundBlocks = -1;     // blocks from the crash's block to the one that sounded again (0: the same)

    // The notes the phrase holds at the crash and until when none is struck or released (only held
    // notes can sound there); whether sound came back while they were held and at least
    // kHeldAudibleShare of the blocks from then until heldUntil sounded, and how many did not.
    std::vector<int> heldAtCrash;
    long long heldUntil = -1;
    bool heldNotesHeard = false;
    int silentBlocksWhileHeld = 0;

    // From the plugin's session log (-1 / empty when it said nothing).
    long long crashToldSample = -1;
    std::string crashCause;
    long long recoveredSample = -1;
    std::string recoveryText;
    int snapshotCheck = -1; // the crashed slot's saved state after its recovery: 1 as before the crash, 0 not

    bool crashed() const { return crashSample >= 0; }
    bool switched() const { return switchSeenSample >= 0; }
    bool audibleAgain() const { return audibleSample >= 0; }
    double seconds(long long sample) const { return static_cast<double>(sample) / sampleRate; }
    double crashToAudibleMs() const;
    bool recovered() const { return recoveredSample >= 0; }
};

/** How the run was set up, for the summary. */
struct RunDescription
{
    std::string crashingInstrument; // slot 0's file name, without extension
    bool isolated = false;          // slot 0 ran in a helper process
    std::string isolationProblem;   // why it did not, when it was asked to; empty otherwise
    bool hotStandby = false;
    int watchPeriodMs = 1000;
};

FailoverTimeline analyse(const FailoverRecord& record, const Phrase& phrase);

/** One line: the crash, the switch, sound again, silent blocks, held notes, the recovery. */
std::string summaryLine(const FailoverTimeline& timeline, const RunDescription& run = {});

/** Whether a block of the record is silent on both channels. */
bool isSilentBlock(const FailoverRecord& record, long long blockStart);

} // namespace pendulum::demo
