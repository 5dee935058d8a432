#pragma once

// What running a plugin in a helper process needs from the operating system: a shared-memory
// region both processes map, a wait on a 32-bit word of it that the other process can end, and a
// child process whose end is noticed at once and described in words.
//
// The wait: Linux sleeps on the word itself (a futex). Windows cannot wait on an address of another
// process, so the region carries an auto-reset event for each word named at its creation; a wake
// sets the word's event, a wait sleeps on it. Either way a wait may end early and for no reason:
// callers look at the word again.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pendulum::platform
{
/** A region of memory shared with one helper process; unmapped and closed on destruction. */
class SharedRegion
{
public:
    virtual ~SharedRegion() = default;
    virtual void* data() const noexcept = 0;
    virtual std::size_t size() const noexcept = 0;
    /** What the helper's command line carries to find the region (and the wake-ups of its words). */
    virtual std::string token() const = 0;

    /**
        Sleeps while word (one of the region's signalled words) holds expected, at most
        timeoutNanos; returns early when another process (or thread) wakes the word, and sometimes
        for no reason: callers check the word again. Never sleeps past the timeout. Real-time safe
        (no allocation, no lock; one system call, or a yield for a sub-millisecond rest on Windows).
    */
    virtual void waitWhileEquals(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                                 std::int64_t timeoutNanos) const noexcept = 0;
    /** Wakes the waiter(s) on the word. Real-time safe. */
    virtual void wakeWaiters(std::atomic<std::uint32_t>& word) const noexcept = 0;

    /**
        A new zeroed region of the given size, nobody else's yet; null when the system refuses.
        signalledWords: the byte offsets of the 32-bit words that are waited on and woken (at most
        maxSignalledWords); the helper's side learns them from the token.
    */
    static std::unique_ptr<SharedRegion> create(std::size_t bytes, const std::vector<std::size_t>& signalledWords);
    /** The helper's side: the region the token names; null when it cannot be mapped. */
    static std::unique_ptr<SharedRegion> open(const std::string& token, std::size_t bytes);

    static constexpr std::size_t maxSignalledWords = 8;
};

/**
    A helper process of ours. It is killed and reaped when this object goes; it dies with the host.
    A watcher notices its end at once and calls onExit, with the words of exitDescription(), on a
    thread of its own (possibly before start() has returned).
*/
class ChildProcess
{
public:
    virtual ~ChildProcess() = default;
    virtual bool hasExited() const noexcept = 0;
    /** Kills the process; returns at once. Real-time safe. */
    virtual void kill() noexcept = 0;
    /** How it ended, in words ("segmentation fault (signal 11)", "exited with code 3"); empty while it runs. */
    virtual std::string exitDescription() const = 0;
    virtual int processId() const noexcept = 0;

    /**
        Starts executable with the arguments, giving it the region (see SharedRegion::token).
        Null, with the reason in *error, when it cannot be started.
    */
    static std::unique_ptr<ChildProcess> start(const std::string& executable, const std::vector<std::string>& arguments,
                                               const SharedRegion& region, std::function<void(const std::string&)> onExit,
                                               std::string* error);
};

/** The helper's side: ends this process when the host (parentId) ends. False if it has already. */
bool dieWithParent(int parentId) noexcept;
/**
    The helper's side: a fault of the code it runs (a crash, an abort) ends this process at once, with
    no debugger or error dialog in between, so that its end says what happened (see exitDescription).
*/
void endProcessOnFault() noexcept;
/** This process's id, for the helper's command line. */
int currentProcessId() noexcept;
/** The folder of the binary that holds this code (the plugin's library), with a trailing separator. */
std::string folderOfThisBinary();
/** The helper's executable name on this platform. */
const char* helperExecutableName() noexcept;
} // namespace pendulum::platform
