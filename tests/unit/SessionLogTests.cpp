// The session's log file: where it is, and what a container writes into it as things happen.
#include "console/SessionLog.h"
#include "container/PluginContainerAudioProcessor.h"
#include "support/CrashSupport.h"
#include "support/FixtureFiles.h"
#include "support/ScriptedLoadDialogs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif
#include <regex>
#include <string>
#include <vector>

namespace
{
void setEnvironment(const char* name, const juce::String& value)
{
#if defined(_WIN32)
    _putenv_s(name, value.toRawUTF8());
#else
    if (value.isEmpty())
        unsetenv(name);
    else
        setenv(name, value.toRawUTF8(), 1);
#endif
}

int processId()
{
#if defined(_WIN32)
    return (int) _getpid();
#else
    return (int) getpid();
#endif
}

/** Sends the session log into a folder of the test's own, and back where it was afterwards. */
class LogFolder
{
public:
    LogFolder()
        : previous(session_log::folder()),
          folder(juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getChildFile("pendulum-tests")
                     .getNonexistentChildFile("session-log", "", false))
    {
        session_log::setFolder(folder);
    }

    ~LogFolder()
    {
        session_log::setFolder(previous);
        folder.deleteRecursively();
    }

    /** The texts of the file's lines after their time stamp and instance name, and checks their form. */
    std::vector<std::string> texts(const std::string& instance) const
    {
        std::vector<std::string> result;
        juce::StringArray lines;
        session_log::currentFile().readLines(lines);
        const std::regex form("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}  (.*?)  (.*)");

        for (const auto& line : lines)
        {
            if (line.isEmpty())
                continue;
            std::smatch match;
            const auto text = line.toStdString();
            EXPECT_TRUE(std::regex_match(text, match, form)) << text;
            if (match.size() == 3 && match[1] == instance)
                result.push_back(match[2]);
        }
        return result;
    }

    juce::File previous;
    juce::File folder;
};

TEST(SessionLog, GoesToTheUsersDataFolderUnlessRedirectedAndIsNamedForTheSession)
{
    const auto environment = juce::SystemStats::getEnvironmentVariable("PENDULUM_LOG_DIR", {});
    const auto previous = session_log::folder();
    session_log::setFolder({});

    setEnvironment("PENDULUM_LOG_DIR", {});
    EXPECT_EQ(session_log::folder(), juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
                                         .getChildFile("PluginPendulum")
                                         .getChildFile("logs"));

    const auto elsewhere = juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("pendulum-elsewhere");
    setEnvironment("PENDULUM_LOG_DIR", elsewhere.getFullPathName());
    EXPECT_EQ(session_log::folder(), elsewhere);

    // A folder set by the program wins over the environment.
    const auto chosen = juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("pendulum-chosen");
    session_log::setFolder(chosen);
    EXPECT_EQ(session_log::folder(), chosen);
    EXPECT_EQ(session_log::currentFile().getParentDirectory(), chosen);

    // The session's start and the process: two hosts running at once write files of their own.
    const auto name = session_log::currentFile().getFileName().toStdString();
    EXPECT_TRUE(std::regex_match(name, std::regex("session-[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}-[0-9]{2}-[0-9]{2}-"
                                                  + std::to_string(processId()) + "\\.log")))
        << name;

    setEnvironment("PENDULUM_LOG_DIR", environment);
    session_log::setFolder(previous);
}

TEST(SessionLog, AContainerWritesLoadsSwitchesCrashesRecoveriesRestoresAndUnloadsWithSlotsFromOne)
{
    const LogFolder log;
    DialogScript script;
    auto container = std::make_unique<PluginContainerAudioProcessor>();
    container->setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
    container->prepareToPlay(44100.0, 256);
    container->setInstanceName("Stage left");

    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("CrashPlainSynth"), {}));
    ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
    ASSERT_TRUE(container->setActivePlugin(1));
    ASSERT_TRUE(container->setActivePlugin(0));
    makeCrash(*container, 0);
    tickWatchdog(); // marks slot 1 crashed and switches to slot 2
    ASSERT_TRUE(container->isPluginCrashed(0));
    container->recoverPlugin(0);
    ASSERT_FALSE(container->isPluginCrashed(0));

    juce::MemoryBlock state;
    container->getStateInformation(state);
    container->setStateInformation(state.getData(), (int) state.getSize());
    container->unloadPluginByUser(1);
    container->loadPlugin(1, FixtureFiles::path("NotAPlugin"), {});

    // Each event in order, other lines (a recovery's own load) may come in between.
    const std::vector<std::string> expected {
        "slot 1 loaded CrashPlainSynth from .*CrashPlainSynth.*",
        "slot 2 loaded PlainSynth from .*PlainSynth.*",
        "playing slot 2",
        "playing slot 1",
        "slot 1 crashed \\(the plugin reported a crash to the crash query\\)",
        "slot 1 crashed; playing slot 2",
        "slot 1 reloaded in [0-9]+\\.[0-9] s",
        "project restored: slot 1 CrashPlainSynth, slot 2 PlainSynth; playing slot 2",
        "slot 2 unloaded \\(PlainSynth\\)",
        "slot 2 could not be loaded: NotAPlugin.*",
    };

    const auto texts = log.texts("Stage left");
    size_t next = 0;
    for (const auto& text : texts)
        if (next < expected.size() && std::regex_match(text, std::regex(expected[next])))
            ++next;

    std::string all;
    for (const auto& text : texts)
        all += text + "\n";
    EXPECT_EQ(next, expected.size()) << "missing from \"" << (next < expected.size() ? expected[next] : "") << "\" on in:\n"
                                     << all;
}
} // namespace
