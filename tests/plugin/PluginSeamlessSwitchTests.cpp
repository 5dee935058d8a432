// The built plugin switching away from a failed synth while a chord is held under the sustain
// pedal, as a DAW hears it: the other synth sounds the chord from the block of the switch, lets it
// go at the pedal's release, and, when it was a hot standby, continues the failed one's sound
// sample for sample. Also the one latency the host is told for slots of different latencies, and
// a hundred switches by hand, clicked on the panel in the host's window, during a held chord.
#include "CrashProbe.h"
#include "FixturePaths.h"
#include "NativeParentWindow.h"
#include "PluginHost.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace
{
using namespace pendulum::rawhost;
using pendulum::fixtures::fixturePath;
using pendulum::fixtures::crash_probe::kCrashNote;

constexpr int blockSize = 256;
constexpr int sustainPedal = 64;

std::vector<unsigned char> bytesOf(const std::string& text)
{
    return { text.begin(), text.end() };
}

struct Project
{
    const char* slot0;
    const char* slot1;
    bool separateProcesses = false;
    bool hotStandby = false;
    int watchPeriodMs = 50;
};

/** Slot 0 active, automatic switch on, automatic recovery off (the failed slot stays down). */
std::string documentOf(const Project& project)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<pluginData>"
           "<main_plugin activePlugin=\"0\" optionB0=\"0\" optionB1=\"0\" optionB2=\"1\" optionB3=\"1\" "
           "instanceName=\"seamless\""
           + std::string(project.separateProcesses ? " separateProcesses=\"1\"" : "")
           + (project.hotStandby ? " hotStandby=\"1\"" : "")
           + " watchPeriodMs=\"" + std::to_string(project.watchPeriodMs) + "\"/>"
           "<plugin index=\"0\" filePath=\"" + fixturePath(project.slot0) + "\"/>"
           "<plugin index=\"1\" filePath=\"" + fixturePath(project.slot1) + "\"/></pluginData>";
}

/** A container opened on the project and resumed, both slots loaded. */
std::unique_ptr<RawVstHost> openProject(const Project& project, bool offline)
{
    auto host = loadContainer();
    if (!host->isLoaded())
        return host;
    host->setOffline(offline);
    host->setSampleRate(48000.0);
    host->setBlockSize(blockSize);
    host->setChunk(ChunkKind::Bank, bytesOf(documentOf(project)));
    host->resume();
    EXPECT_TRUE(runHostEventLoopUntil([&] { return host->parameterName(0) != ""; })) << "the slots were not restored";
    runHostEventLoop(200);
    return host;
}

float peakOf(const std::vector<float>& samples)
{
    float peak = 0.0f;
    for (float sample : samples)
        peak = std::max(peak, std::abs(sample));
    return peak;
}

/** One block with the given events; its left channel. */
std::vector<float> play(RawVstHost& host, const std::vector<MidiMessage>& events = {})
{
    if (!events.empty())
        host.sendMidi(events);
    host.processReplacing(0, 2, blockSize);
    return host.output(0);
}

/** The mean square of the left channel over some blocks with no new events. */
double meanSquareOf(RawVstHost& host, int blocks, std::vector<MidiMessage> firstEvents = {})
{
    double sum = 0.0;
    for (int block = 0; block < blocks; ++block)
    {
        const auto samples = play(host, block == 0 ? firstEvents : std::vector<MidiMessage> {});
        EXPECT_GT(peakOf(samples), 0.1f) << "a silent block";
        for (float sample : samples)
            sum += (double) sample * sample;
    }
    return sum / (blocks * blockSize);
}

// A sine of amplitude a has a mean square of a^2 / 2: 0.0775 for one note of velocity 100, so
// 0.23 for three. Over 8 blocks (43 ms) what the notes' beating leaves is under 0.03.
constexpr double chordMeanSquare = 0.19;

/** Plays C-E-G under the pedal and lets go of the key of E, which the pedal keeps sounding. */
void holdChordUnderThePedal(RawVstHost& host)
{
    EXPECT_GT(meanSquareOf(host, 8, { controller(sustainPedal, 127, 0), noteOn(60, 100, 0), noteOn(64, 100, 0),
                                      noteOn(67, 100, 0) }),
              chordMeanSquare)
        << "the chord before the failure";
    EXPECT_GT(meanSquareOf(host, 8, { noteOff(64, 0) }), chordMeanSquare) << "the pedal holds the released key";
}

/** Releases the keys, then the pedal: the chord sounds until the pedal goes up, then nothing does. */
void releaseKeysThenPedal(RawVstHost& host)
{
    EXPECT_GT(meanSquareOf(host, 8, { noteOff(60, 0), noteOff(67, 0) }), chordMeanSquare) << "keys up, pedal down";
    play(host, { controller(sustainPedal, 0, 0) });
    for (int block = 0; block < 4; ++block)
        EXPECT_EQ(peakOf(play(host)), 0.0f) << "a note sounds on after the pedal went up, block " << block;
}

struct FailoverCase
{
    const char* name;
    Project project;
    bool inTheBlock; // the failure is seen in the block that meets it (a helper process ended)
};

class HeldChordFailover : public ::testing::TestWithParam<FailoverCase>
{
};

TEST_P(HeldChordFailover, TheOtherSynthSoundsTheChordFromTheSwitchAndEndsItAtThePedalsRelease)
{
    const auto& param = GetParam();
    // Offline, so that a helper answers every block whatever the machine's load.
    auto host = openProject(param.project, param.inTheBlock);
    ASSERT_TRUE(host->isLoaded());
    holdChordUnderThePedal(*host);

    const auto before = host->parameterName(0);
    const auto crashBlock = play(*host, { noteOn(kCrashNote, 100, 0) });
    const auto nextBlock = play(*host, { noteOff(kCrashNote, 0) });

    if (param.inTheBlock)
    {
        EXPECT_GT(peakOf(crashBlock), 0.1f) << "the block of the failure was not played by the other synth";
        EXPECT_GT(peakOf(nextBlock), 0.1f);
    }
    else
    {
        // The failed synth reports its crash to the watchdog, which switches at its next tick.
        ASSERT_TRUE(runHostEventLoopUntil([&] { return host->parameterName(0) != before; })) << "no switch";
    }
    EXPECT_GT(meanSquareOf(*host, 8), chordMeanSquare) << "the chord after the switch";

    releaseKeysThenPedal(*host);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, HeldChordFailover,
    ::testing::Values(FailoverCase { "CrashReportedToTheWatchdog", { "CrashPlainSynth", "PlainSynth" }, false },
                      FailoverCase { "HelperSegfaults", { "SegfaultSynth", "PlainSynth", true }, true },
                      FailoverCase { "HelperSegfaultsWithAHotStandby", { "SegfaultSynth", "PlainSynth", true, true }, true }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HotStandbyFailover, TheStandbyContinuesTheFailedSynthsSoundSampleForSample)
{
    // SegfaultSynth is PlainSynth until it fails, so a container playing PlainSynth alone is what
    // the audience should hear, failure or not: no silent block, no jump, no note struck again.
    auto isolated = openProject({ "SegfaultSynth", "PlainSynth", true, true }, true);
    auto reference = openProject({ "PlainSynth", "PlainSynth" }, true);
    ASSERT_TRUE(isolated->isLoaded() && reference->isLoaded());

    std::vector<std::vector<MidiMessage>> score(24);
    score[0] = { controller(sustainPedal, 127, 0), noteOn(60, 100, 0), noteOn(64, 90, 17), noteOn(67, 80, 100) };
    score[3] = { noteOff(64, 50) };
    score[6] = { noteOn(kCrashNote, 100, 128) }; // the helper dies in this block
    score[12] = { noteOff(60, 0), noteOff(67, 0) };
    score[16] = { controller(sustainPedal, 0, 31) };

    std::vector<float> heard, expected;
    int silentBlocks = 0;
    for (const auto& events : score)
    {
        const auto block = play(*isolated, events);
        const auto wanted = play(*reference, events);
        heard.insert(heard.end(), block.begin(), block.end());
        expected.insert(expected.end(), wanted.begin(), wanted.end());
        if (peakOf(block) == 0.0f && peakOf(wanted) > 0.0f)
            ++silentBlocks;
    }
    EXPECT_EQ(silentBlocks, 0);
    ASSERT_EQ(heard.size(), expected.size());
    for (std::size_t i = 0; i < heard.size(); ++i)
        ASSERT_NEAR(heard[i], expected[i], 1.0e-6f) << "sample " << i << " (block " << i / blockSize << ")";
    EXPECT_GT(peakOf(expected), 0.5f);
}

/** Where the first sound of the stream is, in samples from its start; -1 when there is none. */
long firstSoundAt(RawVstHost& host, int noteOffset, int blocks, long& streamPosition)
{
    long found = -1;
    for (int block = 0; block < blocks; ++block)
    {
        const auto samples = play(host, block == 0 ? std::vector<MidiMessage> { noteOn(72, 100, noteOffset) }
                                                   : std::vector<MidiMessage> {});
        for (int i = 0; i < blockSize && found < 0; ++i)
            if (samples[(std::size_t) i] != 0.0f)
                found = streamPosition + i;
        streamPosition += blockSize;
    }
    play(host, { noteOff(72, 0) });
    streamPosition += blockSize;
    for (int block = 0; block < 4; ++block, streamPosition += blockSize)
        play(host);
    return found;
}

TEST(LatencyAcrossAFailover, BothSlotsAreHeardAtTheLatencyTheHostWasToldOnce)
{
    // Slot 0 has no latency, slot 1 256 samples: the host is told 256 when the project opens, and
    // slot 0 is delayed to it, so a note is heard 256 samples after it was sent from either slot.
    auto host = openProject({ "CrashPlainSynth", "LatencySynth256" }, false);
    ASSERT_TRUE(host->isLoaded());
    ASSERT_TRUE(runHostEventLoopUntil([&] { return host->effect()->initialDelay == 256; }));
    const auto toldBefore = host->callCount(Vst2::audioMasterIOChanged);

    long position = 0;
    long start = position + 10;
    EXPECT_EQ(firstSoundAt(*host, 10, 3, position) - start, 256) << "slot 0";

    const auto before = host->parameterName(0);
    play(*host, { noteOn(kCrashNote, 100, 0) });
    play(*host, { noteOff(kCrashNote, 0) }); // the switch must carry no note over
    position += 2 * blockSize;
    ASSERT_TRUE(runHostEventLoopUntil([&] { return host->parameterName(0) != before; })) << "no switch";
    for (int block = 0; block < 4; ++block, position += blockSize)
        play(*host);

    start = position + 10;
    EXPECT_EQ(firstSoundAt(*host, 10, 3, position) - start, 256) << "slot 1";
    EXPECT_EQ(host->effect()->initialDelay, 256);
    EXPECT_EQ(host->callCount(Vst2::audioMasterIOChanged), toldBefore) << "the switch changed what the host was told";
}

struct ManualSwitchCase
{
    const char* name;
    bool hotStandby;
};

class ManualSwitches : public ::testing::TestWithParam<ManualSwitchCase>
{
};

TEST_P(ManualSwitches, AHundredClicksOnActiveDuringAChordLeaveNoNoteSoundingAfterItsRelease)
{
    // The panel in a window of the host's, its "Active" toggles clicked with the mouse, while the
    // host plays a chord under the sustain pedal. CrashPlainSynth (never made to crash) and
    // PlainSynth name their parameters differently: the host sees which slot plays.
    auto host = openProject({ "CrashPlainSynth", "PlainSynth", false, GetParam().hotStandby }, false);
    ASSERT_TRUE(host->isLoaded());

    constexpr int panelWidth = 368, panelHeight = 384;
    NativeParentWindow window(panelWidth, panelHeight);
    ASSERT_TRUE(window.isOpen());
    ASSERT_EQ(host->dispatch(Vst2::effEditOpen, 0, 0, window.handle()), 1);
    const auto idle = [&] {
        host->dispatch(Vst2::effEditIdle);
        window.dispatchEvents();
    };
    // However the test ends, the editor is closed the way a host closes it before the plugin goes
    // (an assertion that returns early must not leave the close to tear the editor down).
    struct EditorCloser
    {
        std::function<void()> close;
        ~EditorCloser() { close(); }
    } closer { [&] {
        if (window.numChildren() == 0)
            return;
        host->dispatch(Vst2::effEditClose);
        runHostEventLoopUntil([&] {
            idle();
            return window.numChildren() == 0;
        });
    } };
    ASSERT_TRUE(runHostEventLoopUntil([&] {
        idle();
        const auto shown = window.captureChild();
        return shown.has_value() && shown->width == panelWidth && shown->height == panelHeight;
    }, 10000)) << "the panel was not shown";
    runHostEventLoop(200);

    const auto slot0Parameter = host->parameterName(0);
    holdChordUnderThePedal(*host);

    // The "Active" toggles of slot 1's column and slot 2's, in the panel's own coordinates.
    constexpr int toggleX[2] = { 16 + 20, 200 + 20 }, toggleY = 220 + 12;
    // Clicks the slot's toggle; true once the host sees that slot play (blocks go on meanwhile).
    const auto clickToSwitchTo = [&](int to) {
        return window.clickAt(toggleX[to], toggleY) && runHostEventLoopUntil([&] {
                   idle();
                   play(*host);
                   return (host->parameterName(0) == slot0Parameter) == (to == 0);
               });
    };
    for (int round = 0; round < 100; ++round)
    {
        SCOPED_TRACE("switch " + std::to_string(round + 1));
        const int to = (round + 1) % 2;
        ASSERT_TRUE(clickToSwitchTo(to)) << "the click did not switch to slot " << to + 1;
        // The chord and the pedal sound on from the synth switched to.
        EXPECT_GT(peakOf(play(*host)), 0.1f);
    }
    // Measured over longer than the helpers do: the voices the last switch struck anew all start
    // at their crest together, and their beating takes longer to average out.
    EXPECT_GT(meanSquareOf(*host, 32), chordMeanSquare) << "the chord after the switches";

    // Keys up, the pedal holding them; then the pedal: nothing sounds on, in the synth playing or
    // in the other one.
    EXPECT_GT(meanSquareOf(*host, 32, { noteOff(60, 0), noteOff(67, 0) }), chordMeanSquare) << "keys up, pedal down";
    play(*host, { controller(sustainPedal, 0, 0) });
    for (int block = 0; block < 4; ++block)
        EXPECT_EQ(peakOf(play(*host)), 0.0f) << "a note sounds on after the pedal went up, block " << block;
    for (int to : { 1, 0 })
    {
        ASSERT_TRUE(clickToSwitchTo(to)) << "the click did not switch to slot " << to + 1;
        for (int block = 0; block < 4; ++block)
            EXPECT_EQ(peakOf(play(*host)), 0.0f) << "slot " << to + 1 << " sounds after the release, block " << block;
    }

    host->dispatch(Vst2::effEditClose);
    EXPECT_TRUE(runHostEventLoopUntil([&] {
        idle();
        return window.numChildren() == 0;
    })) << "the editor stays in the host's window after effEditClose";
}

INSTANTIATE_TEST_SUITE_P(Panel, ManualSwitches,
                         ::testing::Values(ManualSwitchCase { "Plain", false }, ManualSwitchCase { "WithAHotStandby", true }),
                         [](const auto& info) { return std::string(info.param.name); });
} // namespace
