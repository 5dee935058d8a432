#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "isolation/SlotProtocol.h"
#include "platform/ThreadScheduling.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace pendulum::platform
{
class ChildProcess;
class SharedRegion;
} // namespace pendulum::platform

namespace pendulum::isolation
{
/**
    The container's end of one helper process: starts it, talks to it over the region's two
    channels (see SlotProtocol.h), and notices when it fails.

    Failure: the helper's death (seen by a watcher thread the moment it happens), a block that gets
    no answer within the hang limit, or a command that gets none within its deadline. The helper is
    then killed if it still runs, failed() turns true for good, and onFailure runs once, on the
    watcher's thread.

    Threads: process() on the audio thread only (it never waits longer than it is told, allocates
    nothing and takes no lock); commands from any other thread, one at a time (a lock of the
    connection's serialises them); queueParameter() and cachedParameter() from any thread.
*/
class SlotConnection
{
public:
    enum class Failure
    {
        none,
        died,       // the helper ended (crash, abort, exit)
        hung,       // a block got no answer within the hang limit
        unanswered, // a command got no answer within its deadline
    };

    /** The default hang limit: about the dropout threshold hosts use. */
    static constexpr int defaultHangLimitMs = 250;

    ~SlotConnection();

    /**
        Starts the helper for the plugin file; null, with the reason in *error, when the helper is
        missing or cannot start. onFailure may be empty.
    */
    static std::unique_ptr<SlotConnection> start(const juce::String& helperPath, const juce::String& pluginFile,
                                                 std::function<void()> onFailure, juce::String* error);

    /** The helper executable next to the plugin's binary (or as PENDULUM_SLOT_HOST names it). */
    static juce::File findHelper();

    //==============================================================================================
    // Commands (non-real-time threads). False when the helper failed or refused.

    struct Reply
    {
        bool ok = false;
        std::int64_t result = 0;
        juce::String text;
    };

    Reply call(Command command, int index = 0, const juce::String& text = {}, double doubleValue = 0.0,
               int timeoutMs = defaultCommandTimeoutMs, std::int64_t value = 0);
    /** effDispatcher(opcode, index, value, null, opt) in the helper, for queries without a pointer. */
    Reply dispatch(int opcode, int index, std::int64_t value, float opt);
    bool readState(juce::MemoryBlock& destination);
    bool writeState(const void* data, std::size_t size);

    static constexpr int defaultCommandTimeoutMs = 5000;
    static constexpr int loadTimeoutMs = 20000; // a plugin's own start-up may take long (more under Wine)

    //==============================================================================================
    // Audio thread.

    /**
        Plays one block through the helper: the buffer's first numChannels channels go in and come
        back with the plugin's output. In real time it waits at most one block period; a block that
        is late plays silence and its note-offs are kept for the next block the helper takes; a
        helper that answers no block for the hang limit is killed. Offline (nonRealtime) it waits up
        to the hang limit for every block. On failure the buffer is silent and failed() is true.
    */
    void process(juce::AudioBuffer<float>& buffer, const juce::MidiBuffer& midi, juce::AudioPlayHead* playHead,
                 int numChannels, double sampleRate, bool nonRealtime) noexcept;

    //==============================================================================================
    // Any thread.

    bool failed() const noexcept { return failure.load(std::memory_order_acquire) != Failure::none; }
    Failure failureKind() const noexcept { return failure.load(std::memory_order_acquire); }
    /** Why it failed, in words ("segmentation fault (signal 11)", "no answer for 250 ms"). */
    juce::String failureCause() const;
    /** True once the failed helper's end has been seen and its cause is known. */
    bool hasEnded() const noexcept { return endSeen.load(std::memory_order_acquire); }
    /**
        Offline only (the rendering thread may wait): asks the plugin's crash query through the
        block channel, in a round trip without audio, waiting up to the hang limit. True when the
        plugin reports a crash; false when it does not, or the helper failed (the connection is
        then marked as for a block: died, or hung when it did not answer in time).
    */
    bool askCrashQuery() noexcept;

    /** Blocks that played silence because the helper was late with them. */
    std::uint64_t lateBlocks() const noexcept { return late.load(std::memory_order_relaxed); }

    void queueParameter(int index, float value) noexcept;
    float cachedParameter(int index) const noexcept;
    int latencySamples() const noexcept;
    std::uint32_t displayUpdates() const noexcept;
    /** True while the plugin's editor is open in the helper's window; false once the helper failed. */
    bool editorOpen() const noexcept;
    /** The native handle of the helper's editor window (an X11 Window id, an HWND); 0 without one. */
    std::int64_t editorWindow() const noexcept;
    /** Counts the changes of the editor's window (opened, closed, resized) the helper has made. */
    std::uint32_t editorChanges() const noexcept;
    int processId() const noexcept;

    /**
        The host may play from another thread after a prepare: the next block reads the scheduling
        of the thread that plays it again, for the helper's processing thread to take over.
    */
    void audioThreadMayHaveChanged() noexcept { schedulingStale.store(true, std::memory_order_release); }

    void setHangLimitMs(int milliseconds) noexcept { hangLimitMs.store(juce::jmax(1, milliseconds)); }
    int getHangLimitMs() const noexcept { return hangLimitMs.load(); }

    /**
        Who hears of a failure (on the watcher's thread, once). A failure that came before the
        handler is handed to it at once.
    */
    void setFailureHandler(std::function<void()> handler);

    /** Asks the helper to end, waits briefly, then kills it. Nothing is reported as a failure. */
    void close();

    /**
        Gives the connection up at once from any thread: the helper is killed and a command or
        block waiting for it returns (as for a helper that died). For a start nobody waits for any more.
    */
    void abandon() noexcept { fail(Failure::died); }

    SlotConnection(const SlotConnection&) = delete;
    SlotConnection& operator=(const SlotConnection&) = delete;

    /** How often a waiting end looks at the answer word before it sleeps on it (see roundTrip). */
    static constexpr int longSpinChecks = 2000;

private:
    SlotConnection() = default;
    void fail(Failure kind) noexcept;
    /**
        Hands the command written into the region to the helper and waits for its answer (under
        commandLock); false when the deadline passed (the helper is then ended) or it failed.
    */
    bool sendCommand(int timeoutMs);
    /** A command missed its deadline: the helper goes. */
    void failUnanswered(int timeoutMs) noexcept;
    /** The watcher's report of the helper's end (it may come before start() has returned). */
    void onHelperExit(const std::string& how);
    /**
        Waits for the answer word to reach `expected`: `spins` looks first, then sleeps on the word
        until the deadline; answeredInSpin (if given) tells whether the looks were enough.
    */
    bool awaitAnswer(std::atomic<std::uint32_t>& answer, std::uint32_t expected,
                     std::chrono::steady_clock::time_point deadline, int spins = longSpinChecks,
                     bool* answeredInSpin = nullptr) noexcept;
    /** One round trip of at most maxBlockSamples; false when it was late or failed. */
    bool roundTrip(float* const* channels, int numChannels, int startSample, int numSamples, const juce::MidiBuffer& midi,
                   std::chrono::steady_clock::time_point deadline) noexcept;
    void keepNoteOffs(const juce::MidiBuffer& midi) noexcept;
    /** The audio thread's floating-point status and scheduling, for the helper to take over. */
    void writeThreadState() noexcept;

    std::unique_ptr<platform::SharedRegion> region;
    SlotShared* shared = nullptr;
    std::unique_ptr<platform::ChildProcess> child;
    std::mutex handlerLock;
    std::function<void()> onFailure; // under handlerLock

    std::mutex commandLock;
    std::atomic<Failure> failure { Failure::none };
    std::atomic<bool> failureReported { false };
    std::atomic<bool> endSeen { false };
    std::atomic<bool> closing { false };
    std::atomic<int> hangLimitMs { defaultHangLimitMs };
    std::atomic<std::uint64_t> late { 0 };
    std::atomic<int> unansweredAfterMs { 0 }; // the deadline a command missed

    // Audio thread only: a block the helper has not answered yet, and the note-offs it carried.
    bool awaitingLateAnswer = false;
    std::uint32_t lateRequest = 0;
    std::chrono::steady_clock::time_point lateSince;
    static constexpr int keptNoteOffCapacity = 512;
    MidiEventRecord keptNoteOffs[keptNoteOffCapacity] {};
    int numKeptNoteOffs = 0;
    int blockSpinChecks = longSpinChecks; // looks before sleeping on a block's answer (see roundTrip)
    std::atomic<bool> schedulingStale { true };
    platform::ThreadScheduling audioThreadScheduling; // audio thread only

    mutable std::mutex causeLock;
    juce::String cause;
};
} // namespace pendulum::isolation
