#pragma once

// The helper processes (pendulum-slot-host) a test process has started, found the way a user
// would find them: in the system's process list, by name and parent.
#include <string>
#include <vector>

#if defined(_WIN32)
 #include <windows.h>
 #include <tlhelp32.h>
#else
 #include <cstdlib>
 #include <dirent.h>
 #include <fstream>
 #include <unistd.h>
#endif

namespace pendulum::rawhost
{
/** The helper processes that a process started and that still run. */
inline std::vector<int> helpersOf(int parent)
{
    std::vector<int> helpers;
#if defined(_WIN32)
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return helpers;
    PROCESSENTRY32W entry {};
    entry.dwSize = sizeof entry;
    for (bool more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    {
        if ((int) entry.th32ParentProcessID != parent || _wcsicmp(entry.szExeFile, L"pendulum-slot-host.exe") != 0)
            continue;
        // Listed until its last handle is closed: only a running one counts.
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        DWORD code = 0;
        if (process != nullptr && GetExitCodeProcess(process, &code) && code == STILL_ACTIVE)
            helpers.push_back((int) entry.th32ProcessID);
        if (process != nullptr)
            CloseHandle(process);
    }
    CloseHandle(snapshot);
#else
    if (auto* folder = opendir("/proc"))
    {
        while (auto* entry = readdir(folder))
        {
            const int pid = std::atoi(entry->d_name);
            if (pid <= 0)
                continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            if (close == std::string::npos || line.find("(pendulum-slot-h") == std::string::npos)
                continue;
            // "<pid> (<name>) <state> <parent> ...": a helper that ended and was not reaped is a zombie.
            if (line[close + 2] != 'Z' && std::atoi(line.c_str() + close + 4) == parent)
                helpers.push_back(pid);
        }
        closedir(folder);
    }
#endif
    return helpers;
}

/** The helper processes of this process. */
inline int helperCount()
{
#if defined(_WIN32)
    return (int) helpersOf((int) GetCurrentProcessId()).size();
#else
    return (int) helpersOf((int) getpid()).size();
#endif
}
} // namespace pendulum::rawhost
