#pragma once

// PluginPendulum played by the raw host as a DAW plays it: the slots filled from a state document,
// then blocks rendered in real time while the host's event loop runs, with a crash note sent to the
// active instrument at a chosen moment. Records what the host heard and saw.
#include "Phrase.h"
#include "RawVstHost.h"
#include "SessionLogTail.h"

#include <functional>
#include <string>
#include <vector>

namespace pendulum::demo
{

/** What a host can tell about the instrument in charge without any private channel: the name of
    the container's first parameter (the active plugin's own) and the latency the container reports. */
struct InstrumentView
{
    std::string firstParameterName;
    int latency = 0;

    bool operator==(const InstrumentView& other) const
    {
        return firstParameterName == other.firstParameterName && latency == other.latency;
    }
    bool operator!=(const InstrumentView& other) const { return !(*this == other); }
    std::string describe() const;
};

InstrumentView viewOf(rawhost::RawVstHost& host);

struct LogLine
{
    long long sample = 0; // audio position when it happened
    std::string text;
};

struct FailoverRecord
{
    double sampleRate = 48000.0;
    int blockSize = 256;
    std::vector<float> left, right;
    long long crashSample = -1;      // where the crash note was placed; -1 when none was sent
    long long switchSeenSample = -1; // the first block start after the host saw another instrument in charge
    InstrumentView before, after;
    std::vector<LogLine> log;
    double lostMs = 0.0; // wall-clock time by which rendering fell behind real time (not caught up)

    // From PluginPendulum's session log, stamped with the first block end after the line appeared.
    std::vector<LogLine> pluginEvents;
    long long crashToldSample = -1; // the log told of the crashed slot's crash
    std::string crashCause;         // as the log gives it ("segmentation fault (signal 11)"); may be empty
    long long recoveredSample = -1; // the log told that the crashed slot was reloaded
    std::string recoveryText;       // that line
    int snapshotCheck = -1; // set by the caller: the crashed slot saved after its recovery as before the crash (1) or not (0)

    long long renderedSamples() const { return static_cast<long long>(left.size()); }
};

struct RunPlan
{
    double sampleRate = 48000.0;
    int blockSize = 256;
    long long totalSamples = 0;
    long long crashSample = -1; // -1: no crash note
    int crashedSlot = 0;        // the slot in charge when the crash note comes
    SessionLogTail* sessionLog = nullptr; // read between blocks when given
};

/** Told after every block; also receives each log line as it happens. */
struct RunObserver
{
    std::function<void(const FailoverRecord&)> onBlock;
    std::function<void(const LogLine&)> onLog;
};

/** The note that makes the crash fixtures fail, and the velocity it is sent with. Its note-off follows
    one sample later: the fixtures fail on the note-on, and an instrument that plays it (the standby,
    which hears the same MIDI) drops it again instead of droning on the lowest note of all. */
constexpr int kCrashNote = 0;
constexpr int kCrashVelocity = 100;
constexpr int kCrashNoteLength = 1;

/**
    Loads the plugin through its entry point, prepares it, gives it the document as its bank chunk
    and runs the event loop until the restore has run (on Linux it runs on the plugin's message
    thread), then a little longer. False with `error` set on failure.
*/
bool openWithDocument(rawhost::RawVstHost& host, const std::string& pluginPath, const std::string& document,
                      const RunPlan& plan, std::string& error);

/** Plays the phrase through the opened host in real time. */
FailoverRecord playInRealTime(rawhost::RawVstHost& host, const Phrase& phrase, const RunPlan& plan,
                              const RunObserver& observer = {});

} // namespace pendulum::demo
