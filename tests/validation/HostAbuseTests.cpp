// Hosts that misuse the VST2 interface: open and close loops, every opcode with null pointers,
// strange canDo strings, indices out of range, processing while suspended or with no samples, and
// chunks that are empty or random. The plugin must survive each and keep working afterwards.
#include "ValidationHost.h"

#include <climits>
#include <cstring>
#include <random>

namespace validation
{
namespace
{

/** The plugin still works: it plays a note from its active slot and saves a document. */
void expectStillWorking(RawVstHost& host, const std::string& after)
{
    host.setSampleRate(48000.0);
    host.setBlockSize(256);
    host.resume();
    host.sendMidi({ noteOn(69, 100, 0) });
    ASSERT_TRUE(host.processReplacing(0, 2, 256)) << after;
    ++tally().processCalls;
    expectCleanOutput(host, after);
    float peak = 0.0f;
    for (float sample : host.output(0))
        peak = std::max(peak, std::abs(sample));
    EXPECT_GT(peak, 0.1f) << after << ": the active synth is not heard";
    host.sendMidi({ noteOff(69, 0) });
    host.processReplacing(0, 2, 256);

    const auto saved = host.getChunk(ChunkKind::Bank);
    const std::string text(saved.begin(), saved.end());
    EXPECT_NE(text.find("<pluginData"), std::string::npos) << after << ": no document saved";
}

std::unique_ptr<RawVstHost> containerWithSynths(int active = 0)
{
    auto host = loadContainer();
    EXPECT_TRUE(host->isLoaded());
    if (host->isLoaded())
        EXPECT_TRUE(openProject(*host, projectWith("PlainSynth", "WideSynth", active))) << "the slots were not restored";
    return host;
}

//==================================================================================================

TEST(HostAbuse, OpenAndCloseLoopsLeaveTheLibraryUsable)
{
    for (int round = 0; round < 20; ++round)
    {
        RawVstHost host;
        ASSERT_TRUE(host.load(PENDULUM_PLUGIN_PATH)) << host.error();
        switch (round % 4)
        {
        case 0: break; // created and closed without effOpen
        case 1: host.open(); break;
        case 2:
            host.open();
            host.resume();
            host.processReplacing(0, 2, 64); // closed while resumed: close() suspends first
            ++tally().processCalls;
            break;
        case 3:
        {
            host.open();
            RawVstHost second; // two instances, closed in the order they were not created
            ASSERT_TRUE(second.load(PENDULUM_PLUGIN_PATH));
            second.open();
            second.resume();
            host.close();
            second.processReplacing(0, 2, 32);
            ++tally().processCalls;
            break;
        }
        }
    }

    auto host = containerWithSynths();
    expectStillWorking(*host, "after 20 open and close rounds");
}

TEST(HostAbuse, EveryOpcodeWithNullPointersIsSurvived)
{
    auto host = containerWithSynths();
    ASSERT_TRUE(host->isLoaded());

    for (Vst2::VstInt32 opcode = 0; opcode <= Vst2::effGetNumMidiOutputChannels + 20; ++opcode)
    {
        if (opcode == Vst2::effClose)
            continue; // ends the instance; the loops above cover it
        host->dispatch(opcode, 0, 0, nullptr, 0.0f);
        ++tally().dispatcherCalls;
    }
    // The same with index and value out of every range the opcodes take.
    for (Vst2::VstInt32 opcode = 0; opcode <= Vst2::effGetNumMidiOutputChannels; ++opcode)
    {
        if (opcode == Vst2::effClose || opcode == Vst2::effSetBlockSize || opcode == Vst2::effMainsChanged)
            continue; // these take value as a size or a switch; their limits are the host's to respect
        host->dispatch(opcode, -1, -1, nullptr, -1.0f);
        host->dispatch(opcode, INT_MAX, INT_MAX, nullptr, 1.0e30f);
        tally().dispatcherCalls += 2;
    }
    runHostEventLoop(200);
    EXPECT_EQ(host->effectName(), "PluginPendulum(Synth)");
    host->setBypass(false); // the values above switched bypass on
    expectStillWorking(*host, "after null pointers");
}

TEST(HostAbuse, StrangeCanDoStringsAreAnsweredDontKnow)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());

    std::vector<std::string> strings = { "", " ", "receiveVstEvents ", " receiveVstEvents", "receiveVstEventsX",
                                         "RECEIVEVSTEVENTS", "bypass\tbypass", "\xff\xfe\xfd", "\xc3\x28",
                                         std::string(100000, 'a'), std::string(1 << 20, 'b') };
    std::mt19937 random(42);
    for (int i = 0; i < 200; ++i)
    {
        std::string garbage((size_t) (1 + random() % 300), ' ');
        for (auto& c : garbage)
            c = (char) (1 + random() % 255); // any byte but the terminator
        strings.push_back(garbage);
    }

    for (const auto& text : strings)
    {
        EXPECT_EQ(host->canDo(text), 0) << "a canDo string of " << text.size() << " bytes";
        ++tally().dispatcherCalls;
    }
    EXPECT_EQ(host->dispatch(Vst2::effCanDo, 0, 0, nullptr), 0);
    EXPECT_EQ(host->canDo("receiveVstEvents"), 1); // and the real questions still get their answers
}

TEST(HostAbuse, ParameterAndProgramIndicesOutOfRangeReadEmptyAndChangeNothing)
{
    auto host = containerWithSynths();
    ASSERT_TRUE(host->isLoaded());
    const auto before = host->getChunk(ChunkKind::Bank);

    for (int index : { -1, -1000, 1024, 1025, 4096, INT_MAX, INT_MIN })
    {
        host->setParameter(index, 0.75f);
        EXPECT_EQ(host->getParameter(index), 0.0f) << index;
        char text[64];
        for (auto opcode : { Vst2::effGetParamName, Vst2::effGetParamDisplay, Vst2::effGetParamLabel })
        {
            std::memset(text, 'Q', sizeof(text));
            EXPECT_EQ(host->dispatch(opcode, index, 0, text), 0) << "opcode " << opcode << ", index " << index;
            // An empty text, for hosts that read the buffer whatever the answer.
            EXPECT_EQ(text[0], '\0') << "opcode " << opcode << ", index " << index;
            EXPECT_EQ(text[1], 'Q') << "opcode " << opcode << ", index " << index;
        }
        EXPECT_EQ(host->dispatch(Vst2::effCanBeAutomated, index), 0) << index;

        host->setProgram(index);
        EXPECT_EQ(host->program(), 0) << index;
        std::memset(text, 'Q', sizeof(text));
        EXPECT_EQ(host->dispatch(Vst2::effGetProgramNameIndexed, index, 0, text), 0) << index;
        EXPECT_EQ(text[0], 'Q') << index; // no such program: nothing written

        Vst2::VstPinProperties pin {};
        EXPECT_FALSE(host->outputProperties(index, pin)) << index;
        EXPECT_FALSE(host->inputProperties(index, pin)) << index;
        tally().parameterCalls += 12;
    }
    EXPECT_EQ(host->getChunk(ChunkKind::Bank), before);
    expectStillWorking(*host, "after indices out of range");
}

TEST(HostAbuse, ProcessingWhileSuspendedGivesSilenceAndZeroSamplesNothing)
{
    auto host = containerWithSynths();
    ASSERT_TRUE(host->isLoaded());

    host->suspend();
    host->sendMidi({ noteOn(69, 100, 0) });
    for (int frames : { 256, 1, 4096 })
    {
        ASSERT_TRUE(host->processReplacing(0, 2, frames));
        ++tally().processCalls;
        for (int channel = 0; channel < 2; ++channel)
            for (float sample : host->output(channel))
                ASSERT_EQ(sample, 0.0f) << "suspended, " << frames << " samples, channel " << channel;
    }

    host->resume();
    for (int round = 0; round < 3; ++round)
    {
        ASSERT_TRUE(host->processReplacing(0, 2, 0));
        ++tally().processCalls;
    }
    // A block longer than the host announced: still clean.
    host->sendMidi({ noteOn(69, 100, 0) });
    ASSERT_TRUE(host->processReplacing(0, 2, 4096));
    ++tally().processCalls;
    expectCleanOutput(*host, "longer block than announced");
    expectStillWorking(*host, "after suspended and empty blocks");
}

/**
    Gives a chunk and waits until the plugin has dealt with it on its message thread: until then a
    save hands back the chunk being restored.
*/
std::vector<unsigned char> chunkAfterSetting(RawVstHost& host, const std::vector<unsigned char>& chunk)
{
    host.setChunk(ChunkKind::Bank, chunk);
    ++tally().chunksTried;
    std::vector<unsigned char> now;
    const bool settled = runHostEventLoopUntil([&] {
        now = host.getChunk(ChunkKind::Bank);
        return now != chunk;
    }, 10000);
    EXPECT_TRUE(settled || chunk.empty()) << "a chunk of " << chunk.size() << " bytes is still pending";
    return now;
}

TEST(HostAbuse, EmptyRandomAndTruncatedChunksAreRefusedAndChangeNothing)
{
    auto host = containerWithSynths(1);
    ASSERT_TRUE(host->isLoaded());
    const auto saved = host->getChunk(ChunkKind::Bank);
    ASSERT_FALSE(saved.empty());

    // Zero bytes, with and without a pointer.
    EXPECT_EQ(chunkAfterSetting(*host, {}), saved) << "chunk of 0 bytes";
    unsigned char byte = 0;
    host->dispatch(Vst2::effSetChunk, 0, 0, &byte);
    host->dispatch(Vst2::effSetChunk, 1, 0, nullptr);
    runHostEventLoop(100);
    EXPECT_EQ(host->getChunk(ChunkKind::Bank), saved) << "chunk of 0 bytes with a pointer";

    std::vector<std::vector<unsigned char>> hostile;
    std::mt19937 random(7);
    for (int i = 0; i < 60; ++i)
    {
        std::vector<unsigned char> bytes((size_t) (1 + random() % (i < 50 ? 512 : 65536)));
        for (auto& b : bytes)
            b = (unsigned char) random();
        hostile.push_back(bytes);
    }
    for (size_t length : { (size_t) 1, (size_t) 20, saved.size() / 3, saved.size() / 2, saved.size() - 1 })
        hostile.emplace_back(saved.begin(), saved.begin() + (long) length); // a project file cut short

    for (size_t i = 0; i < hostile.size(); ++i)
        ASSERT_EQ(chunkAfterSetting(*host, hostile[i]), saved) << "hostile chunk " << i << " of " << hostile[i].size() << " bytes";

    expectStillWorking(*host, "after hostile chunks");
}

//==================================================================================================
// Projects that name plugins which fail: the rest of the project still plays

TEST(FaultInjection, AProjectWithBrokenPluginsPlaysWhatCanBeLoaded)
{
    for (const auto* broken : { "NullEntry", "NoEntryPoint", "NotAPlugin" })
    {
        auto host = loadContainer();
        ASSERT_TRUE(host->isLoaded());
        ASSERT_TRUE(openProject(*host, projectWith(broken, "PlainSynth", 1))) << broken;
        const auto saved = host->getChunk(ChunkKind::Bank);
        const std::string text(saved.begin(), saved.end());
        // The slot that failed is kept in the project as the document named it, not deleted by
        // the next save on a machine where it cannot load.
        EXPECT_NE(text.find(broken), std::string::npos) << broken << ": a slot that failed is kept";
        EXPECT_NE(text.find("PlainSynth"), std::string::npos) << broken;
        expectStillWorking(*host, std::string("next to ") + broken);
    }
}

TEST(FaultInjection, APluginWritingNanReachesTheHostAsSilenceBetweenItsFiniteSamples)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());
    ASSERT_TRUE(openProject(*host, projectWith("NanSynth", "PlainSynth", 0)));

    std::size_t finite = 0;
    for (int frames : { 1, 7, 256 })
    {
        ASSERT_TRUE(host->processReplacing(0, 2, frames));
        ++tally().processCalls;
        expectCleanOutput(*host, "NanSynth, " + std::to_string(frames) + " samples");
        for (float sample : host->output(0))
            finite += sample == 0.25f || sample == -0.5f ? 1 : 0;
    }
    EXPECT_GT(finite, 0u) << "the plugin's ordinary samples must pass";
}

} // namespace
} // namespace validation
