// The checks a strict plugin validator makes, run against the built plugin with fixture synths in
// its slots: identity, programs, the editor, state, processing at every common rate and block size,
// parameters from several threads, a rate change without a suspend, and allocations while processing.
#include "support/AllocationCounter.h"
#include "ExpectedCanDo.h"
#include "NativeParentWindow.h" // the raw host's
#include "ValidationHost.h"

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

namespace validation
{
namespace
{
constexpr int kNoteOnSample = 0;
constexpr int kNoteOffSample = 3000;
constexpr int kRenderedSamples = 4096;

class Validation : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host = loadContainer();
        ASSERT_TRUE(host->isLoaded());
        ASSERT_TRUE(openProject(*host, projectWith("PlainSynth", "WideSynth"))) << "the slots were not restored";
    }

    bool play(int frames)
    {
        ++tally().processCalls;
        return host->processReplacing(0, 2, frames);
    }

    std::unique_ptr<RawVstHost> host;
};

//==================================================================================================
// Information and identity

struct Identity
{
    Vst2::VstInt32 magic, uniqueID, flags, numInputs, numOutputs, numParams, numPrograms, version;
    std::string name, product, vendor;
    Vst2::VstIntPtr vendorVersion, vstVersion, category, tail;
    std::vector<Vst2::VstIntPtr> canDo;
    std::string pinLabels;

    bool operator==(const Identity& o) const
    {
        return magic == o.magic && uniqueID == o.uniqueID && flags == o.flags && numInputs == o.numInputs
            && numOutputs == o.numOutputs && numParams == o.numParams && numPrograms == o.numPrograms
            && version == o.version && name == o.name && product == o.product && vendor == o.vendor
            && vendorVersion == o.vendorVersion && vstVersion == o.vstVersion && category == o.category
            && tail == o.tail && canDo == o.canDo && pinLabels == o.pinLabels;
    }
};

Identity identityOf(RawVstHost& host)
{
    const auto& e = *host.effect();
    Identity id { e.magic, e.uniqueID, e.flags, e.numInputs, e.numOutputs, e.numParams, e.numPrograms, e.version,
                  host.effectName(), host.productString(), host.vendorString(), host.vendorVersion(),
                  host.vstVersion(), host.category(), host.tailSize(), {}, {} };
    for (const auto& c : pendulum::expected::canDoAnswers)
        id.canDo.push_back(host.canDo(c.text));
    for (int pin = 0; pin < 3; ++pin)
    {
        Vst2::VstPinProperties properties {};
        id.pinLabels += host.outputProperties(pin, properties) ? std::string(properties.label) + ";" : "-;";
    }
    return id;
}

TEST_F(Validation, IdentityIsTheSameWhateverIsLoadedPlayingOrActive)
{
    auto empty = loadContainer();
    ASSERT_TRUE(empty->isLoaded());
    const auto reference = identityOf(*empty);
    EXPECT_EQ(reference.name, "PluginPendulum(Synth)");
    EXPECT_EQ(reference.numParams, 1024);
    EXPECT_EQ(reference.pinLabels, "1;2;-;");

    EXPECT_TRUE(identityOf(*host) == reference) << "with two synths loaded, resumed";
    play(64);
    EXPECT_TRUE(identityOf(*host) == reference) << "while playing";
    host->suspend();
    EXPECT_TRUE(identityOf(*host) == reference) << "suspended";

    // Another project, the other slot active: still the same plugin to the host.
    auto other = loadContainer();
    ASSERT_TRUE(openProject(*other, projectWith("MonoSynth", "PlainSynth", 1)));
    EXPECT_TRUE(identityOf(*other) == reference) << "other project";
    EXPECT_EQ(other->parameterName(0), "Gain"); // and it is the active slot's plugin that answers
}

//==================================================================================================
// Programs: the container has none, whatever the host asks

TEST_F(Validation, ProgramsStayNoneWhateverTheHostSelectsOrRenames)
{
    EXPECT_EQ(host->numPrograms(), 0);
    for (int program : { 0, 1, 2, -1, 127 })
    {
        host->setProgram(program);
        EXPECT_EQ(host->program(), 0) << program;
        EXPECT_EQ(host->programName(), "") << program;
    }
    host->setProgramName("renamed by the host");
    EXPECT_EQ(host->programName(), "");
    char name[256];
    std::memset(name, 'Q', sizeof(name));
    // There is no program 0 to name: the answer is 0 and the host's buffer is left alone.
    EXPECT_EQ(host->dispatch(Vst2::effGetProgramNameIndexed, 0, 0, name), 0);
    EXPECT_EQ(name[0], 'Q');
}

//==================================================================================================
// The editor, opened into a native window of the host: cold, warm and while processing

void openAndCloseEditor(RawVstHost& host, pendulum::rawhost::NativeParentWindow& parent, const std::string& when)
{
    Vst2::ERect rect {};
    ASSERT_TRUE(host.editorRect(rect)) << when;
    EXPECT_EQ(rect.right - rect.left, 368) << when;
    EXPECT_EQ(rect.bottom - rect.top, 384) << when;

    EXPECT_EQ(parent.numChildren(), 0) << when;
    EXPECT_NE(host.dispatch(Vst2::effEditOpen, 0, 0, parent.handle()), 0) << when;
    EXPECT_TRUE(runHostEventLoopUntil([&] {
        host.dispatch(Vst2::effEditIdle);
        return parent.numChildren() > 0;
    })) << when << ": no editor appeared in the host's window";
    for (int i = 0; i < 5; ++i)
    {
        host.dispatch(Vst2::effEditIdle);
        runHostEventLoop(10);
    }
    host.dispatch(Vst2::effEditClose);
    EXPECT_TRUE(runHostEventLoopUntil([&] { return parent.numChildren() == 0; })) << when << ": editor left behind";
}

TEST_F(Validation, EditorOpensAndClosesColdWarmAndWhileProcessing)
{
    pendulum::rawhost::NativeParentWindow parent(368, 384);
    ASSERT_TRUE(parent.isOpen());

    // Cold: a fresh instance, never resumed.
    {
        auto cold = loadContainer();
        ASSERT_TRUE(cold->isLoaded());
        openAndCloseEditor(*cold, parent, "cold");
    }

    // Warm: the instance with its synths, resumed, opened and closed again.
    openAndCloseEditor(*host, parent, "warm");
    openAndCloseEditor(*host, parent, "warm again");

    // While the audio thread keeps processing.
    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };
    std::thread audio([&] {
        while (!stop)
        {
            host->processReplacing(0, 2, 128);
            ++blocks;
        }
    });
    for (int round = 0; round < 3; ++round)
        openAndCloseEditor(*host, parent, "while processing, round " + std::to_string(round));
    stop = true;
    audio.join();
    tally().processCalls += (std::size_t) blocks.load();
    EXPECT_GT(blocks.load(), 0);
    expectCleanOutput(*host, "after the editor");
}

//==================================================================================================
// State: got, parameters randomised, set back, compared byte for byte

TEST_F(Validation, StateSetBackAfterRandomisedParametersGivesTheSameChunk)
{
    const auto saved = host->getChunk(ChunkKind::Bank);
    ASSERT_FALSE(saved.empty());
    std::vector<float> before;
    for (int i = 0; i < 8; ++i)
        before.push_back(host->getParameter(i));

    std::mt19937 random(1234);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (int i = 0; i < 1024; ++i)
        host->setParameter(i, value(random));
    tally().parameterCalls += 1024;
    ASSERT_NE(host->getChunk(ChunkKind::Bank), saved) << "randomising changed nothing";

    host->setChunk(ChunkKind::Bank, saved);
    ++tally().chunksTried;
    // The restore runs on the plugin's message thread (meanwhile a save hands back the chunk being
    // restored); the saved parameters return with it.
    const auto restored = [&] {
        for (int i = 0; i < 8; ++i)
            if (host->getParameter(i) != before[(size_t) i])
                return false;
        return true;
    };
    ASSERT_TRUE(runHostEventLoopUntil(restored, 10000)) << "the parameters did not come back";
    runHostEventLoop(300); // the other slot
    EXPECT_EQ(host->getChunk(ChunkKind::Bank), saved) << "the state set back does not save byte for byte";
    EXPECT_EQ(host->getChunk(ChunkKind::Program), saved);
}

//==================================================================================================
// Processing: every rate and block size, a note on and off, nothing but clean samples

struct RenderCase
{
    double sampleRate;
    int blockSize;
};

std::string describe(const RenderCase& c, int active)
{
    return std::to_string((int) c.sampleRate) + " Hz, " + std::to_string(c.blockSize) + " samples, slot "
         + std::to_string(active);
}

class Rendering : public ::testing::TestWithParam<int>
{
};

TEST_P(Rendering, EveryRateAndBlockSizePlaysTheNoteStopsItAndStaysClean)
{
    const int active = GetParam();
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());
    ASSERT_TRUE(openProject(*host, projectWith("PlainSynth", "WideSynth", active)));

    std::vector<RenderCase> cases;
    for (double rate : { 44100.0, 48000.0, 96000.0 })
        for (int block : { 1, 2, 7, 64, 256, 512, 1000, 1024 })
            cases.push_back({ rate, block });

    for (const auto& c : cases)
    {
        const auto where = describe(c, active);
        host->suspend();
        host->setSampleRate(c.sampleRate);
        host->setBlockSize(c.blockSize);
        host->resume();

        float soundBeforeOff = 0.0f;
        bool silentAfterOff = true;
        for (int start = 0; start < kRenderedSamples; start += c.blockSize)
        {
            std::vector<MidiMessage> midi;
            if (kNoteOnSample >= start && kNoteOnSample < start + c.blockSize)
                midi.push_back(noteOn(69, 100, kNoteOnSample - start));
            if (kNoteOffSample >= start && kNoteOffSample < start + c.blockSize)
                midi.push_back(noteOff(69, kNoteOffSample - start));
            host->sendMidi(midi);
            ASSERT_TRUE(host->processReplacing(0, 2, c.blockSize)) << where;
            ++tally().processCalls;
            expectCleanOutput(*host, where);

            const auto& left = host->output(0);
            for (int i = 0; i < c.blockSize; ++i)
            {
                const int position = start + i;
                if (position < kNoteOffSample)
                    soundBeforeOff = std::max(soundBeforeOff, std::abs(left[(size_t) i]));
                else if (left[(size_t) i] != 0.0f)
                    silentAfterOff = false;
            }
        }
        EXPECT_GT(soundBeforeOff, 0.1f) << where << ": the note was not heard";
        EXPECT_TRUE(silentAfterOff) << where << ": the note did not stop at its note off";
    }
}

INSTANTIATE_TEST_SUITE_P(ActiveSlot, Rendering, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "PlainSynth" : "WideSynth"; });

//==================================================================================================
// Parameters set and read from several threads while the audio thread plays

TEST_F(Validation, ParametersFromSeveralThreadsWhilePlayingKeepTheirValuesAndTexts)
{
    constexpr int kThreads = 4; // PlainSynth's four parameters, one thread each
    constexpr int kRounds = 2000;
    std::atomic<bool> stop { false };
    std::thread audio([&] {
        while (!stop)
            host->processReplacing(0, 2, 64);
    });

    std::vector<float> lastWritten(kThreads, 0.0f);
    std::atomic<int> failures { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random((unsigned) t);
            std::uniform_real_distribution<float> value(0.0f, 1.0f);
            for (int round = 0; round < kRounds; ++round)
            {
                const float v = value(random);
                host->setParameter(t, v);
                lastWritten[(size_t) t] = v;
                const float read = host->getParameter((t + round) % 1024);
                if (!(read >= 0.0f && read <= 1.0f))
                    ++failures;
                // The texts of all parameters, the other threads' included, while they change.
                if (host->parameterName(t).empty() || host->parameterDisplay((t + 1) % kThreads).empty())
                    ++failures;
            }
        });
    for (auto& thread : threads)
        thread.join();
    stop = true;
    audio.join();
    tally().parameterCalls += (std::size_t) kThreads * kRounds * 4;

    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_FLOAT_EQ(host->getParameter(t), lastWritten[(size_t) t]) << "parameter " << t;
    EXPECT_EQ(host->parameterName(0), "Gain");
}

//==================================================================================================
// A sample-rate change without a suspend in between

int zeroCrossings(const std::vector<float>& samples)
{
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        if ((samples[i - 1] < 0.0f) != (samples[i] < 0.0f))
            ++crossings;
    return crossings;
}

TEST_F(Validation, ARateChangeWithoutASuspendReachesTheHostedPlugin)
{
    // Resumed at 48 kHz by SetUp; the host now changes the rate and resumes again, with no suspend.
    host->setSampleRate(96000.0);
    host->setBlockSize(480);
    host->resume();

    std::vector<float> second;
    host->sendMidi({ noteOn(69, 100, 0) });
    for (int block = 0; block < 200; ++block) // one second at 96 kHz
    {
        ASSERT_TRUE(play(480));
        expectCleanOutput(*host, "after the rate change");
        second.insert(second.end(), host->output(0).begin(), host->output(0).end());
        host->sendMidi({});
    }
    // A 440 Hz note crosses zero 880 times a second; at the old rate it would sound an octave low.
    EXPECT_NEAR(zeroCrossings(second), 880, 4);
}

//==================================================================================================
// No allocation on the processing thread while playing

TEST_F(Validation, ProcessingAllocatesNothingOnceRunning)
{
    if (!ScopedAllocationCount::isAvailable())
        GTEST_SKIP() << "allocations are counted only on glibc without a sanitizer";

    const std::vector<std::vector<MidiMessage>> traffic = {
        { noteOn(60, 100, 0) }, { noteOn(64, 90, 17), noteOff(60, 40) }, {}, { noteOff(64, 0) },
    };
    for (const auto& midi : traffic) // warm-up: the wrapper sizes its event list for what it sees
    {
        host->sendMidi(midi);
        play(256);
    }

    host->calls().setRecording(false); // the host's own log of the plugin's calls stays out of the count
    std::size_t allocations = 0;
    for (int round = 0; round < 50; ++round)
        for (int frames : { 256, 64, 1, 255 })
        {
            host->sendMidi(traffic[(size_t) round % traffic.size()]);
            host->prepareBuffers(0, 2, frames); // the host's own buffers, outside the count
            ++tally().processCalls;
            ScopedAllocationCount counter;
            host->processReplacing();
            allocations += counter.allocations();
        }
    EXPECT_EQ(allocations, 0u);
}

} // namespace
} // namespace validation
