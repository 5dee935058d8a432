// The built plugin with hosted fixture synths in its slots, filled the way a DAW fills them when
// it reopens a project: through the chunk. Save and reopen, the host-visible parameter names, and
// what the host is told when a crash switches to a plugin of another latency.
#include "CrashProbe.h"
#include "FixturePaths.h"
#include "PluginHost.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace
{
using namespace pendulum::rawhost;
using pendulum::fixtures::fixturePath;

constexpr int blockSize = 256;

std::vector<unsigned char> bytesOf(const std::string& text)
{
    return { text.begin(), text.end() };
}

/** A project's document with two fixture synths; the parameters of slot 0 are set. */
std::string twoSynthDocument(const std::string& slot0, const std::string& slot1, int active, bool autoRecovery = false)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<pluginData>"
           "<main_plugin activePlugin=\"" + std::to_string(active) + "\" optionB0=\"0\" optionB1=\""
           + (autoRecovery ? "1" : "0") + "\" optionB2=\"1\" "
           "optionB3=\"1\" instanceName=\"stage left\"/>"
           "<plugin index=\"0\" filePath=\"" + fixturePath(slot0) + "\" currentProgram=\"1\">"
           "<f_parameters param0=\"0.5\" param1=\"0.25\" param2=\"0.75\" param3=\"0.125\"/></plugin>"
           "<plugin index=\"1\" filePath=\"" + fixturePath(slot1) + "\"/></pluginData>";
}

std::vector<float> render(RawVstHost& host, int blocks)
{
    std::vector<float> left;
    for (int block = 0; block < blocks; ++block)
    {
        if (block == 0)
            host.sendMidi({ noteOn(69, 100, 0) });
        host.processReplacing(0, 2, blockSize);
        left.insert(left.end(), host.output(0).begin(), host.output(0).end());
    }
    return left;
}

float peakOfOneBlock(RawVstHost& host)
{
    host.sendMidi({ noteOn(72, 100, 0) });
    host.processReplacing(0, 2, blockSize);
    float peak = 0.0f;
    for (float sample : host.output(0))
        peak = std::max(peak, std::abs(sample));
    return peak;
}

/** Sets the chunk and waits until the slots have been filled from it (the restore may be handed to the plugin's message thread). */
void openProject(RawVstHost& host, const std::vector<unsigned char>& chunk)
{
    host.setSampleRate(48000.0);
    host.setBlockSize(blockSize);
    host.setChunk(ChunkKind::Bank, chunk);
    host.resume();
    ASSERT_TRUE(runHostEventLoopUntil([&] { return host.parameterName(0) != ""; })) << "the slots were not restored";
    runHostEventLoop(300); // the rest of the restore, after slot 0
}

TEST(PluginState, AProjectSavedAndReopenedSoundsTheSameAndSavesTheSameChunk)
{
    auto first = loadContainer();
    ASSERT_TRUE(first->isLoaded());
    openProject(*first, bytesOf(twoSynthDocument("PlainSynth", "WideSynth", 0)));
    first->setParameter(3, 0.625f); // the host automates the active plugin
    const auto saved = first->getChunk(ChunkKind::Bank);
    ASSERT_FALSE(saved.empty());
    ASSERT_NE(saved, bytesOf(twoSynthDocument("PlainSynth", "WideSynth", 0))); // written afresh, not handed back
    EXPECT_EQ(first->getChunk(ChunkKind::Program), saved); // both chunks are the whole document
    const auto sound = render(*first, 8);
    first.reset(); // the project is closed

    auto reopened = loadContainer();
    ASSERT_TRUE(reopened->isLoaded());
    openProject(*reopened, saved);
    EXPECT_FLOAT_EQ(reopened->getParameter(3), 0.625f);
    EXPECT_EQ(reopened->getChunk(ChunkKind::Bank), saved);

    const auto again = render(*reopened, 8);
    ASSERT_EQ(again.size(), sound.size());
    float peak = 0.0f;
    for (size_t i = 0; i < sound.size(); ++i)
    {
        ASSERT_EQ(again[i], sound[i]) << "sample " << i;
        peak = std::max(peak, std::abs(sound[i]));
    }
    EXPECT_GT(peak, 0.01f); // and it is not silence that matched
}

TEST(PluginState, ParameterNamesReachTheHostCutToSixteenCharacters)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());
    openProject(*host, bytesOf(twoSynthDocument("CrashPlainSynth", "PlainSynth", 0)));

    char name[64];
    std::memset(name, 'Z', sizeof(name));
    host->dispatch(Vst2::effGetParamName, 0, 0, name, 0.0f);
    EXPECT_EQ(std::string(name), "Gain of the cras"); // "Gain of the crash synth"
    EXPECT_EQ(name[17], 'Z');                         // nothing written past the terminator

    // Text and short names pass as they are.
    EXPECT_EQ(host->parameterDisplay(1), "0.25");
    EXPECT_EQ(host->parameterName(64), "");
}

/** A note struck; the peak of what is heard over the container's latency and one block more. */
float peakOfANote(RawVstHost& host)
{
    host.sendMidi({ noteOn(72, 100, 0) });
    float peak = 0.0f;
    for (int block = 0; block <= host.effect()->initialDelay / blockSize; ++block)
    {
        host.processReplacing(0, 2, blockSize);
        for (float sample : host.output(0))
            peak = std::max(peak, std::abs(sample));
    }
    return peak;
}

TEST(PluginState, TheHostIsToldTheLargerLatencyAtTheOpenAndACrashSwitchKeepsIt)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());
    openProject(*host, bytesOf(twoSynthDocument("CrashPlainSynth", "LatencySynth256", 0)));
    ASSERT_TRUE(runHostEventLoopUntil([&] { return host->callCount(Vst2::audioMasterIOChanged) > 0; }));
    EXPECT_EQ(host->effect()->initialDelay, 256); // slot 1's, though slot 0 plays
    EXPECT_GT(peakOfANote(*host), 0.01f);
    host->clearCalls();

    // The active synth fails in the middle of playing; the watchdog notices within a second.
    const auto before = host->parameterName(0);
    host->sendMidi({ noteOn(pendulum::fixtures::crash_probe::kCrashNote, 100, 10) });
    host->processReplacing(0, 2, blockSize);
    ASSERT_TRUE(runHostEventLoopUntil([&] { return host->parameterName(0) != before; })) << "no switch";

    EXPECT_EQ(host->effect()->initialDelay, 256);
    EXPECT_EQ(host->callCount(Vst2::audioMasterIOChanged), 0u);
    EXPECT_GT(peakOfANote(*host), 0.01f); // the other synth plays
}

/** The text of a saved document's "plugin" element for a slot; empty when there is none. */
std::string pluginElement(const std::vector<unsigned char>& chunk, int slot)
{
    const std::string document(chunk.begin(), chunk.end());
    const auto start = document.find("<plugin index=\"" + std::to_string(slot) + "\"");
    if (start == std::string::npos)
        return {};
    const auto end = std::min(document.find("</plugin>", start), document.find("/>", start));
    return document.substr(start, end - start);
}

/** Sends the crash note to the active synth and waits for the switch the host sees. */
void crashActiveSynth(RawVstHost& host)
{
    const auto before = host.parameterName(0);
    host.sendMidi({ noteOn(pendulum::fixtures::crash_probe::kCrashNote, 100, 10) });
    host.processReplacing(0, 2, blockSize);
    ASSERT_TRUE(runHostEventLoopUntil([&] { return host.parameterName(0) != before; })) << "no switch";
}

TEST(PluginState, SavesFromTheHostsThreadKeepASlotThroughItsCrashAndRecovery)
{
    for (const bool autoRecovery : { false, true })
    {
        SCOPED_TRACE(autoRecovery ? "with automatic recovery" : "crashed, not recovered");
        auto host = loadContainer();
        ASSERT_TRUE(host->isLoaded());
        openProject(*host, bytesOf(twoSynthDocument("CrashPlainSynth", "PlainSynth", 0, autoRecovery)));
        const auto element = pluginElement(host->getChunk(ChunkKind::Bank), 0);
        ASSERT_NE(element.find("param3=\"0.125\""), std::string::npos);

        // The host saves from a thread of its own all through the crash and the reload.
        std::atomic<bool> stop { false };
        std::vector<std::vector<unsigned char>> saves;
        std::thread saver([&] {
            while (!stop)
            {
                saves.push_back(host->getChunk(ChunkKind::Bank));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });

        crashActiveSynth(*host);
        runHostEventLoop(600); // the reload, when the option asks for it
        stop = true;
        saver.join();

        ASSERT_GT(saves.size(), 20u);
        for (size_t i = 0; i < saves.size(); ++i)
            ASSERT_EQ(pluginElement(saves[i], 0), element) << "save " << i << " of " << saves.size();
        EXPECT_GT(peakOfOneBlock(*host), 0.01f); // and the other synth plays
    }
}
} // namespace
