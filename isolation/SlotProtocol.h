#pragma once

// The protocol between a container and the helper process that runs one slot's plugin
// (pendulum-slot-host). Both ends map one shared-memory region laid out as SlotShared below.
//
// Two channels share the region, each a request/answer pair of 32-bit sequence words on which the
// waiting side sleeps (a futex on Linux, the word's event on Windows: see signalledWords) and which
// the other side wakes:
//
// Block channel (audio thread <-> the helper's processing thread)
//   - The container's audio thread writes the block (sample count, channels, events, time record,
//     input audio), then increments blockRequest and wakes it. The helper processes the block and
//     writes the output into `audio`, then sets blockAnswer to blockRequest's value and wakes it.
//   - Only the side whose turn it is touches the block fields: the container between an answer and
//     its next request, the helper between a request and its answer. A container that gave up on a
//     late answer writes nothing until the answer has come (or the helper is killed).
//   - Nothing on this channel allocates, locks or makes a system call other than the wake and the
//     bounded wait.
//
// Command channel (any non-real-time thread of the container <-> the helper's main thread)
//   - One command at a time: the container serialises its callers with a lock of its own. It writes
//     the command and its payload, increments commandRequest and wakes it; the helper runs the
//     command on its main thread, writes the result and payload, sets commandAnswer and wakes it.
//   - Payloads larger than the region's payload area (a plugin's state) travel in pieces: the
//     `offset` field says where the piece belongs, `total` the whole size.
//   - The container waits for every answer with a deadline; a helper that misses it is killed, as
//     the channel can no longer be trusted.
//
// Parameter changes (any container thread, the audio thread included, never blocking)
//   - parameterValue[i] is written, then bit i of parameterDirty is set; the helper takes the bits
//     (exchange with 0) before every block and before every command and hands the values to the
//     plugin. Later writes of the same parameter before the helper takes them replace earlier ones.
//   - parameterCache[i] is the helper's latest reading of the plugin's parameter value, refreshed
//     after every change it applies, after every command, when the plugin reports an automation
//     and a few at a time after every block. Hosts read parameters often; they read this.
//
// Notifications from the plugin in the helper (display updates, latency changes) are counters and
// values the helper writes and the container polls.
//
// The plugin's editor is a top-level window of the helper's own (the openEditor command carries
// its title, its owner: the native handle of the container's top-level window, valid in every
// process of the session, and its cascade place). Whether it is open, its native handle and its
// client size are notification values the helper rewrites, then counts in editorChanges, whenever
// they change: also when the user closes the window from its frame or the editor resizes itself.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace pendulum::isolation
{
constexpr std::uint32_t protocolMagic = 0x50534C54; // "PSLT"
constexpr std::uint32_t protocolVersion = 2;

constexpr int maxChannels = 32;
constexpr int maxBlockSamples = 4096; // longer host blocks travel in several round trips
constexpr int maxEvents = 1024;
constexpr int maxCachedParameters = 8192;
constexpr std::size_t commandPayloadBytes = 1u << 20;

/** One short MIDI event of a block (system-exclusive messages are not carried). */
struct MidiEventRecord
{
    std::int32_t offset;
    std::uint8_t size;
    std::uint8_t bytes[3];
};

/** The host's transport for a block, with a bit per optional field that is present. */
struct TimeRecord
{
    enum Present : std::uint32_t
    {
        hasPosition = 1u << 0,
        hasSamples = 1u << 1,
        hasPpq = 1u << 2,
        hasBarStart = 1u << 3,
        hasBpm = 1u << 4,
        hasSignature = 1u << 5,
        hasLoop = 1u << 6,
        hasFrameRate = 1u << 7,
        isPlaying = 1u << 8,
        isRecording = 1u << 9,
        isLooping = 1u << 10,
    };
    std::uint32_t present;
    std::int32_t timeSigNumerator, timeSigDenominator;
    std::int32_t frameRateBase; // frames per second
    std::uint32_t frameRateFlags; // bit 0 pulldown, bit 1 drop
    std::int64_t timeInSamples;
    double ppqPosition, ppqLastBarStart, bpm, loopStart, loopEnd;
};

enum class Command : std::int32_t
{
    none = 0,
    listPlugins,     // -> payload: names of the plugins in the file, one per line
    load,            // payload: plugin name (empty: the only one) -> result 1, payload: description lines
    prepare,         // doubleValue: sample rate, index: block size
    release,
    reset,
    getState,        // offset: piece wanted -> total, payload: the piece
    setState,        // offset, total, payload: one piece; applied when the last piece arrives
    getProgram,      // -> result
    setProgram,      // index
    getProgramName,  // index -> payload
    getParameterName, // index -> payload
    getParameterText, // index -> payload
    dispatch,        // index: opcode, value, floatValue, intArgument (index of the call) -> result
    describe,        // -> payload: description lines (programs, parameters, latency may have changed)
    openEditor,      // index: cascade place, value: owner window (0: none), payload: title -> result 1 when open
                     // (an open editor's window is raised and retitled, as an in-process one)
    closeEditor,     // closes the editor and destroys its window
    quit,
};

/** Exit codes of the helper that say why it ended on its own. */
constexpr int exitCodeBadArguments = 64;
constexpr int exitCodeNoRegion = 65;
constexpr int exitCodeParentGone = 66;
constexpr int exitCodePluginThrew = 70; // the plugin threw an exception out of its entry points

/** How the helper answered a command. */
enum class Answer : std::int32_t
{
    ok = 0,
    failed = 1,      // the command could not be carried out (no plugin, bad argument)
};

struct alignas(64) SlotShared
{
    std::uint32_t magic;
    std::uint32_t version;

    // ---- block channel
    alignas(64) std::atomic<std::uint32_t> blockRequest;
    alignas(64) std::atomic<std::uint32_t> blockAnswer;
    alignas(64) std::int32_t numSamples;
    std::int32_t numChannels;
    std::int32_t numEvents;
    std::int32_t nonRealtime;
    // The container's audio thread as the helper's processing thread takes it over, so that the
    // plugin runs as it would in the host: the floating-point status word (denormals flushed or
    // not) and the scheduling (policy and priority; `schedulingKnown` 0 where it was not read).
    std::uint32_t fpStatus;
    std::int32_t schedulingPolicy;
    std::int32_t schedulingPriority;
    std::int32_t schedulingKnown;
    // Offline, the container may ask the plugin's crash query with a block (a round trip of its
    // own, without audio): askCrashQuery 1 asks it, the helper answers in crashReported (1: the
    // plugin reports a crash).
    std::int32_t askCrashQuery;
    std::int32_t crashReported;
    TimeRecord time;
    MidiEventRecord events[maxEvents];
    float audio[maxChannels * maxBlockSamples]; // channel c starts at c * maxBlockSamples

    // ---- parameters
    std::atomic<std::uint32_t> parameterDirty[maxCachedParameters / 32];
    std::atomic<float> parameterValue[maxCachedParameters];
    std::atomic<float> parameterCache[maxCachedParameters];

    // ---- notifications from the helper
    std::atomic<std::uint32_t> displayUpdates;
    std::atomic<std::int32_t> latencySamples;
    std::atomic<std::int32_t> helperReady; // 1 once the helper serves both channels
    std::atomic<std::int32_t> editorOpen;  // 1 while the plugin's editor is open in its window
    std::atomic<std::int64_t> editorWindow; // the editor window's native handle, 0 without one
    std::atomic<std::int32_t> editorWidth;  // its client size
    std::atomic<std::int32_t> editorHeight;
    std::atomic<std::uint32_t> editorChanges; // counted after each change of the four above

    // ---- command channel
    alignas(64) std::atomic<std::uint32_t> commandRequest;
    alignas(64) std::atomic<std::uint32_t> commandAnswer;
    alignas(64) Command command;
    Answer answer;
    std::int32_t index;
    std::int32_t intArgument;
    std::int64_t value;
    std::int64_t result;
    double doubleValue;
    float floatValue;
    std::uint64_t offset;
    std::uint64_t total;
    std::uint64_t payloadSize;
    char payload[commandPayloadBytes];
};

static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "the sequence words must be lock-free across processes");
static_assert(std::atomic<float>::is_always_lock_free, "parameter values must be lock-free across processes");
static_assert(sizeof(std::atomic<std::uint32_t>) == 4, "a futex word is 32 bits");
static_assert(std::atomic<std::int64_t>::is_always_lock_free, "the editor's handle is read across processes");

static_assert(std::is_standard_layout_v<SlotShared>, "both ends find the words by their offsets");

/**
    The four sequence words that are waited on, by their offsets in the region, in the order both
    ends agree on: each gets a wake-up of its own where the platform cannot wait on the word itself.
*/
inline std::vector<std::size_t> signalledWords()
{
    return { offsetof(SlotShared, blockRequest), offsetof(SlotShared, blockAnswer), offsetof(SlotShared, commandRequest),
             offsetof(SlotShared, commandAnswer) };
}

/** The region's size, rounded to whole pages. */
constexpr std::size_t sharedRegionBytes = (sizeof(SlotShared) + 4095) & ~std::size_t(4095);
} // namespace pendulum::isolation
