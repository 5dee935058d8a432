#include "platform/HelperProcess.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace pendulum::platform
{
namespace
{
// The region's descriptor number in the helper.
constexpr int helperRegionFd = 3;

class MemfdRegion final : public SharedRegion
{
public:
    MemfdRegion(int descriptor, void* address, std::size_t bytes) : fd(descriptor), base(address), length(bytes) {}
    ~MemfdRegion() override
    {
        munmap(base, length);
        close(fd);
    }
    void* data() const noexcept override { return base; }
    std::size_t size() const noexcept override { return length; }
    std::string token() const override { return std::to_string(helperRegionFd); }
    int descriptor() const noexcept { return fd; }

    // A futex on the word itself: any word of the region can be waited on.
    void waitWhileEquals(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t timeoutNanos) const noexcept override
    {
        if (timeoutNanos <= 0)
            return;
        timespec timeout {};
        timeout.tv_sec = (time_t) (timeoutNanos / 1000000000);
        timeout.tv_nsec = (long) (timeoutNanos % 1000000000);
        // Shared between processes: no private flag.
        syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT, expected, &timeout, nullptr, 0);
    }

    void wakeWaiters(std::atomic<std::uint32_t>& word) const noexcept override
    {
        syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
    }

private:
    int fd;
    void* base;
    std::size_t length;
};

std::string describeStatus(int status)
{
    if (WIFSIGNALED(status))
    {
        const int signal = WTERMSIG(status);
        std::string name;
        switch (signal)
        {
        case SIGSEGV: name = "segmentation fault"; break;
        case SIGABRT: name = "aborted"; break;
        case SIGBUS: name = "bus error"; break;
        case SIGFPE: name = "arithmetic exception"; break;
        case SIGILL: name = "illegal instruction"; break;
        case SIGKILL: name = "killed"; break;
        default: name = "killed by a signal"; break;
        }
        return name + " (signal " + std::to_string(signal) + ")";
    }
    if (WIFEXITED(status))
        return "exited with code " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

class SpawnedProcess final : public ChildProcess
{
public:
    SpawnedProcess(pid_t child, int pidDescriptor, std::function<void(const std::string&)> exitCallback)
        : pid(child), pidfd(pidDescriptor), stopFd(eventfd(0, EFD_CLOEXEC)), onExit(std::move(exitCallback))
    {
        watcher = std::thread([this] { watch(); });
    }

    ~SpawnedProcess() override
    {
        kill();
        if (stopFd >= 0)
        {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = write(stopFd, &one, sizeof one);
        }
        watcher.join();
        if (!reaped)
        {
            int status = 0;
            waitpid(pid, &status, 0);
        }
        if (pidfd >= 0)
            close(pidfd);
        if (stopFd >= 0)
            close(stopFd);
    }

    bool hasExited() const noexcept override { return exited.load(std::memory_order_acquire); }

    void kill() noexcept override
    {
        // Through the descriptor where there is one: the id could belong to another process once
        // the helper has been reaped.
        if (exited.load(std::memory_order_acquire))
            return;
        if (pidfd >= 0)
            syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
        else
            ::kill(pid, SIGKILL);
    }

    std::string exitDescription() const override
    {
        if (!exited.load(std::memory_order_acquire))
            return {};
        return description;
    }

    int processId() const noexcept override { return (int) pid; }

private:
    void watch()
    {
        pollfd fds[2] = { { pidfd, POLLIN, 0 }, { stopFd, POLLIN, 0 } };
        for (;;)
        {
            if (pidfd < 0)
            {
                // No process descriptor (an old kernel): look every few milliseconds.
                int status = 0;
                const auto done = waitpid(pid, &status, WNOHANG);
                if (done == pid)
                {
                    finish(describeStatus(status));
                    return;
                }
                if (done < 0)
                {
                    finish("ended");
                    return;
                }
                if (poll(&fds[1], 1, 5) > 0)
                    return;
                continue;
            }
            const int ready = poll(fds, 2, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                return;
            if ((fds[0].revents & POLLIN) != 0)
            {
                int status = 0;
                // A host that ignores SIGCHLD has its children reaped for it: then the cause is lost.
                if (waitpid(pid, &status, 0) == pid)
                    finish(describeStatus(status));
                else
                    finish("ended");
                return;
            }
            if ((fds[1].revents & POLLIN) != 0)
                return;
        }
    }

    void finish(std::string text)
    {
        description = std::move(text);
        reaped = true;
        exited.store(true, std::memory_order_release);
        if (onExit)
            onExit(description);
    }

    pid_t pid;
    int pidfd;
    int stopFd;
    std::function<void(const std::string&)> onExit;
    std::string description; // written before exited is set, read after
    std::atomic<bool> exited { false };
    bool reaped = false; // the watcher's, read after it has been joined
    std::thread watcher;
};
} // namespace

std::unique_ptr<SharedRegion> SharedRegion::create(std::size_t bytes, const std::vector<std::size_t>& signalledWords)
{
    if (signalledWords.size() > maxSignalledWords)
        return nullptr;
    const int fd = (int) syscall(SYS_memfd_create, "pendulum-slot", (unsigned) MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    // Kept above the number the helper gets, so that the hand-over below never maps it onto itself.
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    if (high < 0)
        return nullptr;
    if (ftruncate(high, (off_t) bytes) != 0)
    {
        close(high);
        return nullptr;
    }
    void* address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, high, 0);
    if (address == MAP_FAILED)
    {
        close(high);
        return nullptr;
    }
    return std::make_unique<MemfdRegion>(high, address, bytes);
}

std::unique_ptr<SharedRegion> SharedRegion::open(const std::string& token, std::size_t bytes)
{
    const int fd = std::atoi(token.c_str());
    if (fd < 0)
        return nullptr;
    void* address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED)
        return nullptr;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return std::make_unique<MemfdRegion>(fd, address, bytes);
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::string& executable, const std::vector<std::string>& arguments,
                                                  const SharedRegion& region, std::function<void(const std::string&)> onExit,
                                                  std::string* error)
{
    const auto* memfd = dynamic_cast<const MemfdRegion*>(&region);
    if (memfd == nullptr)
    {
        if (error != nullptr)
            *error = "the shared memory is not of this platform";
        return nullptr;
    }

    std::vector<std::string> argumentCopies;
    argumentCopies.push_back(executable);
    argumentCopies.insert(argumentCopies.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argumentCopies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // Only the region crosses: every other descriptor of ours is close-on-exec or closed by the
    // helper at start. Signals start at their defaults, whatever the host did with them.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, memfd->descriptor(), helperRegionFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int failed = posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);

    if (failed != 0)
    {
        if (error != nullptr)
            *error = std::strerror(failed);
        return nullptr;
    }

    const int pidfd = (int) syscall(SYS_pidfd_open, pid, 0);
    if (pidfd >= 0)
        fcntl(pidfd, F_SETFD, FD_CLOEXEC);
    return std::make_unique<SpawnedProcess>(pid, pidfd, std::move(onExit));
}

bool dieWithParent(int parentId) noexcept
{
    // The kernel's parent-death signal follows the thread that started this process, not the host
    // process: a host thread that ends (a plugin framework restarts its message thread when a
    // host drives the event loop itself, for an editor) would take every helper it started with
    // it. So a thread of this process watches the host process and ends this one with it.
    if (getppid() != (pid_t) parentId)
        return false;
    const int pidfd = (int) syscall(SYS_pidfd_open, parentId, 0);
    // Checked again: a host that ended before pidfd_open may have left its number to another.
    if (getppid() != (pid_t) parentId)
    {
        if (pidfd >= 0)
            close(pidfd);
        return false;
    }

    try
    {
        std::thread([pidfd, parentId] {
            if (pidfd >= 0)
            {
                pollfd ended { pidfd, POLLIN, 0 };
                while (poll(&ended, 1, -1) < 0 && errno == EINTR)
                {
                }
            }
            else
            {
                // No process descriptors (a kernel before 5.3): the host's end re-parents this process.
                while (getppid() == (pid_t) parentId)
                    usleep(50 * 1000);
            }
            _exit(0);
        }).detach();
    }
    catch (...)
    {
        return false;
    }
    return true;
}

void endProcessOnFault() noexcept
{
    // Nothing to do: the helper starts with every signal at its default (see start), so a fault
    // ends it by its signal, which its parent reads.
}

int currentProcessId() noexcept
{
    return (int) getpid();
}

std::string folderOfThisBinary()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&folderOfThisBinary), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

const char* helperExecutableName() noexcept
{
    return "pendulum-slot-host";
}
} // namespace pendulum::platform
