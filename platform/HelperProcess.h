#pragma once

// What running a plugin in a helper process needs from the operating system: a shared-memory
// region both processes map, a wait on a 32-bit word of it that the other process can end, and a
// child process whose end is noticed at once and described in words.
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
    /** What the helper's command line carries to find the region. */
    virtual std::string token() const = 0;

    /** A new zeroed region of the given size, nobody else's yet; null when the system refuses. */
    static std::unique_ptr<SharedRegion> create(std::size_t bytes);
    /** The helper's side: the region the token names; null when it cannot be mapped. */
    static std::unique_ptr<SharedRegion> open(const std::string& token, std::size_t bytes);
};

/**
    Sleeps while word holds expected, at most timeoutNanos; returns early when another process (or
    thread) wakes the word, and sometimes for no reason: callers check the word again. Real-time
    safe (one system call).
*/
void waitWhileEquals(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t timeoutNanos) noexcept;
/** Wakes every waiter on the word. Real-time safe. */
void wakeWaiters(std::atomic<std::uint32_t>& word) noexcept;

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
/** This process's id, for the helper's command line. */
int currentProcessId() noexcept;
/** The folder of the binary that holds this code (the plugin's library), with a trailing separator. */
std::string folderOfThisBinary();
/** The helper's executable name on this platform. */
const char* helperExecutableName() noexcept;
} // namespace pendulum::platform
