#include "platform/HelperProcess.h"

#include <windows.h>
#include <mmsystem.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

// Helper processes on Windows. The region is an unnamed file mapping; every word that is waited on
// has an auto-reset event of its own (Windows has no wait on an address of another process). The
// helper inherits exactly the mapping and those events (PROC_THREAD_ATTRIBUTE_HANDLE_LIST) and finds
// them through the token on its command line: inherited handles keep their values. It runs in a job
// object that only the host holds, with kill-on-close, so it ends with the host; it also watches the
// host itself (dieWithParent), for hosts whose own job forbids another one.
namespace pendulum::platform
{
namespace
{
// The exit code of a helper this side ended; "killed" only when it was asked for.
constexpr UINT killedExitCode = 0xC000013A;
// How an abort ends a process on current Windows (a fail-fast), and how the helper ends on one.
constexpr UINT abortExitCode = 0xC0000409;

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int) text.size(), nullptr, 0);
    std::wstring wide((size_t) length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int) text.size(), wide.data(), length);
    return wide;
}

std::string systemMessage(DWORD code)
{
    char* text = nullptr;
    const auto length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    if (text != nullptr)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
}

std::string hexCode(DWORD code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", (unsigned long) code);
    return text;
}

/** A command-line argument quoted as CommandLineToArgvW and the C run-time read it back. */
std::wstring quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    for (auto it = argument.begin();; ++it)
    {
        std::size_t backslashes = 0;
        while (it != argument.end() && *it == L'\\')
        {
            ++it;
            ++backslashes;
        }
        if (it == argument.end())
        {
            out.append(backslashes * 2, L'\\');
            break;
        }
        if (*it == L'"')
            out.append(backslashes * 2 + 1, L'\\');
        else
            out.append(backslashes, L'\\');
        out.push_back(*it);
    }
    out.push_back(L'"');
    return out;
}

class MappedRegion final : public SharedRegion
{
public:
    struct Word
    {
        std::size_t offset;
        HANDLE event;
    };

    MappedRegion(HANDLE mappingHandle, void* view, std::size_t bytes) : mapping(mappingHandle), base(view), length(bytes) {}

    ~MappedRegion() override
    {
        UnmapViewOfFile(base);
        CloseHandle(mapping);
        for (std::size_t i = 0; i < numWords; ++i)
            CloseHandle(words[i].event);
    }

    void* data() const noexcept override { return base; }
    std::size_t size() const noexcept override { return length; }

    // "<mapping>:<offset>=<event>,<offset>=<event>...", handle values in decimal.
    std::string token() const override
    {
        std::string text = std::to_string((unsigned long long) (std::uintptr_t) mapping) + ":";
        for (std::size_t i = 0; i < numWords; ++i)
            text += (i > 0 ? "," : "") + std::to_string(words[i].offset) + "="
                  + std::to_string((unsigned long long) (std::uintptr_t) words[i].event);
        return text;
    }

    void waitWhileEquals(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t timeoutNanos) const noexcept override
    {
        if (timeoutNanos <= 0 || word.load(std::memory_order_acquire) != expected)
            return;
        const HANDLE event = eventOf(word);
        // A timeout ends on a tick of the system's timer, 1 ms while a helper runs (see
        // StartedProcess): a wait of n - 1 whole milliseconds is over within n, never past the
        // caller's deadline. Less than that is given away (the caller looks again and comes back).
        const auto milliseconds = timeoutNanos / 1'000'000;
        if (event == nullptr || milliseconds < 2)
        {
            if (event == nullptr || WaitForSingleObject(event, 0) != WAIT_OBJECT_0)
                SwitchToThread();
            return;
        }
        // An auto-reset event: a wake that came between the look above and this wait is kept in it,
        // and one left from an earlier round only ends this wait early.
        WaitForSingleObject(event, (DWORD) (milliseconds - 1));
    }

    void wakeWaiters(std::atomic<std::uint32_t>& word) const noexcept override
    {
        if (const HANDLE event = eventOf(word))
            SetEvent(event);
    }

    bool addWord(std::size_t offset, HANDLE event) noexcept
    {
        if (numWords == maxSignalledWords || offset + sizeof(std::uint32_t) > length)
            return false;
        words[numWords++] = { offset, event };
        return true;
    }

    /** The handles the helper must inherit. */
    std::vector<HANDLE> handles() const
    {
        std::vector<HANDLE> list { mapping };
        for (std::size_t i = 0; i < numWords; ++i)
            list.push_back(words[i].event);
        return list;
    }

private:
    HANDLE eventOf(const std::atomic<std::uint32_t>& word) const noexcept
    {
        const auto offset = (std::size_t) (reinterpret_cast<const char*>(&word) - static_cast<const char*>(base));
        for (std::size_t i = 0; i < numWords; ++i)
            if (words[i].offset == offset)
                return words[i].event;
        return nullptr;
    }

    HANDLE mapping;
    void* base;
    std::size_t length;
    Word words[maxSignalledWords] {};
    std::size_t numWords = 0;
};

std::string describeExitCode(DWORD code)
{
    switch (code)
    {
    case 0xC0000005: return "access violation (" + hexCode(code) + ")";
    case 0xC00000FD: return "stack overflow (" + hexCode(code) + ")";
    case abortExitCode: return "aborted (" + hexCode(code) + ")";
    case 0xC000001D: return "illegal instruction (" + hexCode(code) + ")";
    case 0xC0000094: return "integer division by zero (" + hexCode(code) + ")";
    case 0xC0000374: return "heap corruption (" + hexCode(code) + ")";
    case 0x80000003: return "breakpoint (" + hexCode(code) + ")";
    default: break;
    }
    if (code >= 0xC0000000)
        return "unhandled exception (" + hexCode(code) + ")";
    return "exited with code " + std::to_string(code);
}

class StartedProcess final : public ChildProcess
{
public:
    StartedProcess(HANDLE processHandle, DWORD id, HANDLE jobHandle, std::function<void(const std::string&)> exitCallback)
        : process(processHandle), pid(id), job(jobHandle), stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          onExit(std::move(exitCallback))
    {
        // Waits with a timeout on the audio path need the timer at 1 ms (15.6 ms by default);
        // counted by the system, given back when this helper goes.
        timeBeginPeriod(1);
        watcher = std::thread([this] { watch(); });
    }

    ~StartedProcess() override
    {
        kill();
        if (stopEvent != nullptr)
            SetEvent(stopEvent);
        watcher.join();
        // Ending is not instant after TerminateProcess: wait until it is gone (bounded: a process
        // stuck in the kernel is left to the job).
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
        if (job != nullptr)
            CloseHandle(job); // kills whatever the job still holds
        if (stopEvent != nullptr)
            CloseHandle(stopEvent);
        timeEndPeriod(1);
    }

    bool hasExited() const noexcept override { return exited.load(std::memory_order_acquire); }

    void kill() noexcept override
    {
        // The handle stays open until this object goes, so it cannot name another process.
        if (exited.load(std::memory_order_acquire))
            return;
        killRequested.store(true, std::memory_order_release);
        TerminateProcess(process, killedExitCode);
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
        const HANDLE objects[2] = { process, stopEvent };
        const auto count = stopEvent != nullptr ? 2u : 1u;
        const auto woken = WaitForMultipleObjects(count, objects, FALSE, INFINITE);
        if (woken != WAIT_OBJECT_0)
            return;
        DWORD code = 0;
        if (!GetExitCodeProcess(process, &code))
            finish("ended");
        else if (code == killedExitCode && killRequested.load(std::memory_order_acquire))
            finish("killed (" + hexCode(code) + ")");
        else
            finish(describeExitCode(code));
    }

    void finish(std::string text)
    {
        description = std::move(text);
        exited.store(true, std::memory_order_release);
        if (onExit)
            onExit(description);
    }

    HANDLE process;
    DWORD pid;
    HANDLE job;
    HANDLE stopEvent;
    std::function<void(const std::string&)> onExit;
    std::string description; // written before exited is set, read after
    std::atomic<bool> exited { false };
    std::atomic<bool> killRequested { false };
    std::thread watcher;
};

/** A job whose closing ends the helper; null when the system will not make one. */
HANDLE makeKillOnCloseJob()
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr)
        return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
    {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

LONG WINAPI endOnUnhandledException(EXCEPTION_POINTERS* exception)
{
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

void endOnAbort(int)
{
    TerminateProcess(GetCurrentProcess(), abortExitCode);
}

DWORD WINAPI watchParent(void* parent)
{
    WaitForSingleObject(static_cast<HANDLE>(parent), INFINITE);
    TerminateProcess(GetCurrentProcess(), 1);
    return 0;
}
} // namespace

std::unique_ptr<SharedRegion> SharedRegion::create(std::size_t bytes, const std::vector<std::size_t>& signalledWords)
{
    if (signalledWords.size() > maxSignalledWords)
        return nullptr;
    // Not inheritable: the handles are made so only while the helper is being started.
    const auto high = (DWORD) ((unsigned long long) bytes >> 32);
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, high, (DWORD) bytes, nullptr);
    if (mapping == nullptr)
        return nullptr;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, bytes);
    if (view == nullptr)
    {
        CloseHandle(mapping);
        return nullptr;
    }
    auto region = std::make_unique<MappedRegion>(mapping, view, bytes);
    for (const auto offset : signalledWords)
    {
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event == nullptr)
            return nullptr;
        if (!region->addWord(offset, event))
        {
            CloseHandle(event);
            return nullptr;
        }
    }
    return region;
}

std::unique_ptr<SharedRegion> SharedRegion::open(const std::string& token, std::size_t bytes)
{
    const auto handleOf = [](const std::string& text) {
        return reinterpret_cast<HANDLE>((std::uintptr_t) std::strtoull(text.c_str(), nullptr, 10));
    };
    const auto colon = token.find(':');
    if (colon == std::string::npos)
        return nullptr;
    HANDLE mapping = handleOf(token.substr(0, colon));
    void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, bytes) : nullptr;
    if (view == nullptr)
        return nullptr;
    auto region = std::make_unique<MappedRegion>(mapping, view, bytes);

    std::size_t position = colon + 1;
    while (position < token.size())
    {
        auto comma = token.find(',', position);
        if (comma == std::string::npos)
            comma = token.size();
        const auto entry = token.substr(position, comma - position);
        const auto equals = entry.find('=');
        if (equals == std::string::npos)
            return nullptr;
        HANDLE event = handleOf(entry.substr(equals + 1));
        DWORD flags = 0;
        if (!GetHandleInformation(event, &flags) || !region->addWord(std::strtoull(entry.c_str(), nullptr, 10), event))
            return nullptr;
        // Not to be passed on to anything this process starts.
        SetHandleInformation(event, HANDLE_FLAG_INHERIT, 0);
        position = comma + 1;
    }
    SetHandleInformation(mapping, HANDLE_FLAG_INHERIT, 0);
    return region;
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::string& executable, const std::vector<std::string>& arguments,
                                                  const SharedRegion& region, std::function<void(const std::string&)> onExit,
                                                  std::string* error)
{
    const auto setError = [error](const std::string& text) {
        if (error != nullptr)
            *error = text;
    };
    const auto* mapped = dynamic_cast<const MappedRegion*>(&region);
    if (mapped == nullptr)
    {
        setError("the shared memory is not of this platform");
        return nullptr;
    }

    const auto path = widen(executable);
    std::wstring commandLine = quoted(path);
    for (const auto& argument : arguments)
        commandLine += L" " + quoted(widen(argument));

    // Only the region's handles cross, and only to this child: they are inheritable just while it
    // is created, and the list keeps anything else the host made inheritable out of it.
    auto handles = mapped->handles();
    SIZE_T listBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
    std::vector<char> listMemory(listBytes);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &listBytes))
    {
        setError(systemMessage(GetLastError()));
        return nullptr;
    }
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(), handles.size() * sizeof(HANDLE),
                                   nullptr, nullptr))
    {
        setError(systemMessage(GetLastError()));
        DeleteProcThreadAttributeList(list);
        return nullptr;
    }

    STARTUPINFOEXW startup {};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = list;
    PROCESS_INFORMATION info {};

    for (auto handle : handles)
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    // Suspended until it is in its job; no console window of its own (it is a console program).
    const bool created = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr,
                                        &startup.StartupInfo, &info)
                      != FALSE;
    const auto failure = GetLastError();
    for (auto handle : handles)
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    DeleteProcThreadAttributeList(list);

    if (!created)
    {
        setError(systemMessage(failure));
        return nullptr;
    }

    // Without a job (a host whose own job allows no other) the helper's watch on its parent is what
    // ends it with the host.
    HANDLE job = makeKillOnCloseJob();
    if (job != nullptr && !AssignProcessToJobObject(job, info.hProcess))
    {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    return std::make_unique<StartedProcess>(info.hProcess, info.dwProcessId, job, std::move(onExit));
}

bool dieWithParent(int parentId) noexcept
{
    HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, (DWORD) parentId);
    if (parent == nullptr)
        return false;
    if (WaitForSingleObject(parent, 0) == WAIT_OBJECT_0)
    {
        CloseHandle(parent);
        return false;
    }
    // The thread and the handle live as long as the process.
    HANDLE thread = CreateThread(nullptr, 64 * 1024, &watchParent, parent, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr)
    {
        CloseHandle(parent);
        return false;
    }
    CloseHandle(thread);
    return true;
}

void endProcessOnFault() noexcept
{
    // No error box, no debugger (Wine starts one for an unhandled exception): the exception's code
    // becomes the exit code. abort() of the C run-time this helper and MinGW-built plugins share
    // would exit with 3, the same as exit(3); it ends as a fail-fast abort does instead.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(&endOnUnhandledException);
    std::signal(SIGABRT, &endOnAbort);
}

int currentProcessId() noexcept
{
    return (int) GetCurrentProcessId();
}

std::string folderOfThisBinary()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&folderOfThisBinary), &module))
        return {};
    char path[MAX_PATH] = {};
    const auto length = GetModuleFileNameA(module, path, MAX_PATH);
    std::string text(path, length);
    const auto slash = text.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
}

const char* helperExecutableName() noexcept
{
    return "pendulum-slot-host.exe";
}
} // namespace pendulum::platform
