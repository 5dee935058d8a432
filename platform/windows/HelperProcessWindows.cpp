#include "platform/HelperProcess.h"

#include <windows.h>

// Helper processes are not started on Windows yet: every slot runs in-process there, and the
// container says so when a slot asks for a process of its own.
namespace pendulum::platform
{
std::unique_ptr<SharedRegion> SharedRegion::create(std::size_t)
{
    return nullptr;
}

std::unique_ptr<SharedRegion> SharedRegion::open(const std::string&, std::size_t)
{
    return nullptr;
}

void waitWhileEquals(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t timeoutNanos) noexcept
{
    if (word.load() == expected && timeoutNanos > 0)
        Sleep(0);
}

void wakeWaiters(std::atomic<std::uint32_t>&) noexcept {}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::string&, const std::vector<std::string>&,
                                                  const SharedRegion&, std::function<void(const std::string&)>, std::string* error)
{
    if (error != nullptr)
        *error = "helper processes are not available on this system yet";
    return nullptr;
}

bool dieWithParent(int) noexcept
{
    return true;
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
