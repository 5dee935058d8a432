// The built plugin with its slots in helper processes, as a DAW meets it: a hosted synth that
// segfaults, aborts, exits, throws or hangs ends its helper, and the host process plays on from the
// other slot in the block of the failure.
#include "CrashProbe.h"
#include "FaultySynthFaults.h"
#include "FixturePaths.h"
#include "HelperProcesses.h"
#include "PluginHost.h"

#include <cmath>
#include <string>
#include <vector>

#if defined(_WIN32)
 #ifndef NOMINMAX
  #define NOMINMAX
 #endif
 #include <windows.h>
 #include <tlhelp32.h>
#else
 #include <csignal>
 #include <cstdio>
 #include <dirent.h>
 #include <fstream>
 #include <spawn.h>
 #include <sstream>
 #include <sys/wait.h>
 #include <thread>
 #include <unistd.h>
extern char** environ;
#endif

namespace
{
using namespace pendulum::rawhost;
using pendulum::fixtures::fixturePath;
namespace faulty = pendulum::fixtures::faulty;

constexpr int blockSize = 256;

std::vector<unsigned char> bytesOf(const std::string& text)
{
    return { text.begin(), text.end() };
}

/** A project with the faulty synth in slot 0, PlainSynth in slot 1, both in helper processes. */
std::string isolatedDocument(const std::string& slot0)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<pluginData>"
           "<main_plugin activePlugin=\"0\" optionB0=\"0\" optionB1=\"1\" optionB2=\"1\" optionB3=\"1\" "
           "instanceName=\"isolated\" separateProcesses=\"1\"/>"
           "<plugin index=\"0\" filePath=\"" + fixturePath(slot0) + "\"/>"
           "<plugin index=\"1\" filePath=\"" + fixturePath("PlainSynth") + "\"/></pluginData>";
}

float peakOf(RawVstHost& host)
{
    float peak = 0.0f;
    for (float sample : host.output(0))
        peak = std::max(peak, std::abs(sample));
    return peak;
}

class PluginIsolation : public ::testing::TestWithParam<faulty::Fault>
{
};

TEST_P(PluginIsolation, TheHostLivesAndTheStandbyPlaysTheBlockOfTheFailure)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());
    // A bounce: every block waits for its helper, so the machine's load cannot make one late.
    host->setOffline(true);
    host->setSampleRate(48000.0);
    host->setBlockSize(blockSize);
    host->setChunk(ChunkKind::Bank, bytesOf(isolatedDocument(faulty::fileNames[GetParam()])));
    host->resume();
    ASSERT_TRUE(runHostEventLoopUntil([&] { return host->parameterName(0) != ""; })) << "the slots were not restored";
    runHostEventLoop(300);
    EXPECT_EQ(helperCount(), 2);

    host->sendMidi({ noteOn(69, 100, 0) });
    host->processReplacing(0, 2, blockSize);
    ASSERT_GT(peakOf(*host), 0.01f);

    // The fault strikes in this block; the other slot plays it, with the held note.
    host->sendMidi({ noteOn(pendulum::fixtures::crash_probe::kCrashNote, 100, 0) });
    host->processReplacing(0, 2, blockSize);
    EXPECT_GT(peakOf(*host), 0.01f) << "silent in the block of the failure";
    for (int block = 0; block < 8; ++block)
    {
        host->processReplacing(0, 2, blockSize);
        EXPECT_GT(peakOf(*host), 0.01f) << "block " << block;
    }

    // The failed helper is replaced by a new one with the plugin reloaded, in the background.
    EXPECT_TRUE(runHostEventLoopUntil([&] { return helperCount() == 2; }));
    const auto chunk = host->getChunk(ChunkKind::Bank);
    const std::string document(chunk.begin(), chunk.end());
    EXPECT_NE(document.find(faulty::fileNames[GetParam()]), std::string::npos);
    EXPECT_NE(document.find("separateProcesses=\"1\""), std::string::npos);

    host.reset();
    EXPECT_TRUE(runHostEventLoopUntil([&] { return helperCount() == 0; })) << "a helper outlived its host";
}

INSTANTIATE_TEST_SUITE_P(EveryFault, PluginIsolation,
                         ::testing::Values(faulty::segfault, faulty::abortCall, faulty::exitCall, faulty::throwOut,
                                           faulty::hangProcess),
                         [](const auto& info) { return std::string(faulty::fileNames[info.param]); });
#if !defined(_WIN32)
// Run only by the test below, in a process of its own: opens a project with both slots in helper
// processes, says which helpers it has, and waits to be killed.
TEST(PluginIsolationHost, DISABLED_WaitsWithItsHelpersUntilKilled)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());
    host->setSampleRate(48000.0);
    host->setBlockSize(blockSize);
    host->setChunk(ChunkKind::Bank, bytesOf(isolatedDocument("PlainSynth")));
    host->resume();
    ASSERT_TRUE(runHostEventLoopUntil([&] { return helperCount() == 2; }));
    std::printf("\nhelpers:");
    for (const int pid : helpersOf((int) getpid()))
        std::printf(" %d", pid);
    std::printf("\n");
    std::fflush(stdout);
    runHostEventLoop(60000);
}

TEST(PluginIsolationHost, HelpersEndWhenTheHostProcessIsKilled)
{
    // A host that crashes takes no destructor with it: its helpers must notice by themselves.
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::string self = "/proc/self/exe", filter = "--gtest_filter=PluginIsolationHost.DISABLED_*",
                disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = { self.data(), filter.data(), disabled.data(), nullptr };
    pid_t host = 0;
    ASSERT_EQ(posix_spawn(&host, "/proc/self/exe", &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);

    std::string text;
    char buffer[4096];
    for (ssize_t got; text.find("helpers:") == std::string::npos || text.find('\n', text.find("helpers:")) == std::string::npos;)
    {
        got = read(output[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, (size_t) got);
    }
    const auto at = text.find("helpers:");
    std::vector<int> helpers;
    if (at != std::string::npos)
    {
        std::istringstream list(text.substr(at + 8, text.find('\n', at) - at - 8));
        for (int pid; list >> pid;)
            helpers.push_back(pid);
    }
    kill(host, SIGKILL);
    waitpid(host, nullptr, 0);
    close(output[0]);
    ASSERT_EQ(helpers.size(), 2u) << text;

    const auto stillThere = [&] {
        int count = 0;
        for (const int pid : helpers)
        {
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            count += close != std::string::npos && line[close + 2] != 'Z' ? 1 : 0;
        }
        return count;
    };
    EXPECT_TRUE(runHostEventLoopUntil([&] { return stillThere() == 0; }, 3000)) << "helpers outlived their host";
}
#endif
} // namespace
