#include "console/SessionLog.h"

#include <mutex>

#if defined(_WIN32)
#include <process.h>
#define PENDULUM_PROCESS_ID _getpid
#else
#include <unistd.h>
#define PENDULUM_PROCESS_ID getpid
#endif

namespace session_log
{
namespace
{
std::mutex& lock()
{
    static std::mutex shared;
    return shared;
}

juce::File& chosenFolder()
{
    static juce::File folder;
    return folder;
}

/** The session's file name, fixed at the first use: the start of the session and the process. */
const juce::String& sessionFileName()
{
    static const juce::String name = "session-" + juce::Time::getCurrentTime().formatted("%Y-%m-%d_%H-%M-%S") + "-"
                                   + juce::String((int) PENDULUM_PROCESS_ID()) + ".log";
    return name;
}

juce::File folderLocked()
{
    if (chosenFolder() != juce::File())
        return chosenFolder();

    const auto fromEnvironment = juce::SystemStats::getEnvironmentVariable("PENDULUM_LOG_DIR", {});
    if (fromEnvironment.isNotEmpty() && juce::File::isAbsolutePath(fromEnvironment))
        return juce::File(fromEnvironment);

    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
        .getChildFile("PluginPendulum")
        .getChildFile("logs");
}
} // namespace

void setFolder(const juce::File& folder)
{
    const std::lock_guard<std::mutex> guard(lock());
    chosenFolder() = folder;
}

juce::File folder()
{
    const std::lock_guard<std::mutex> guard(lock());
    return folderLocked();
}

juce::File currentFile()
{
    const std::lock_guard<std::mutex> guard(lock());
    return folderLocked().getChildFile(sessionFileName());
}

void write(const juce::String& instanceName, const juce::String& text)
{
    const auto now = juce::Time::getCurrentTime();
    const auto stamp = now.formatted("%Y-%m-%d %H:%M:%S.") + juce::String(now.getMilliseconds()).paddedLeft('0', 3);
    const auto line = stamp + "  " + instanceName + "  " + text + "\n";

    const std::lock_guard<std::mutex> guard(lock());
    const auto file = folderLocked().getChildFile(sessionFileName());

    if (!file.getParentDirectory().createDirectory())
        return;

    juce::FileOutputStream out(file); // appends to an existing file
    if (out.openedOk())
        out.writeText(line, false, false, nullptr);
}
} // namespace session_log
