// The demonstration's reading of a run: the held notes across a switch, crash to sound, the
// session log it follows, and the summary's claims, on records made up sample by sample.
#include "Phrase.h"
#include "SessionLogTail.h"
#include "Timeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace pendulum::demo
{
namespace
{
constexpr double kRate = 48000.0;
constexpr int kBlock = 256;
constexpr long long kTotal = 4 * 48000;
constexpr long long kCrash = static_cast<long long>(2.1 * kRate);

/** A record whose output sounds everywhere except in the given silent blocks and sample spans. */
FailoverRecord recordWith(const std::vector<std::pair<long long, long long>>& silentSpans)
{
    FailoverRecord record;
    record.sampleRate = kRate;
    record.blockSize = kBlock;
    record.left.assign(kTotal, 0.25f);
    record.right.assign(kTotal, 0.25f);
    for (const auto& [from, to] : silentSpans)
        for (auto i = from; i < to && i < kTotal; ++i)
            record.left[static_cast<size_t>(i)] = record.right[static_cast<size_t>(i)] = 0.0f;
    record.crashSample = kCrash;
    record.switchSeenSample = (kCrash / kBlock + 1) * kBlock;
    return record;
}

long long blockStart(long long sample)
{
    return sample / kBlock * kBlock;
}

struct HeldCase
{
    const char* name;
    std::vector<std::pair<long long, long long>> silent; // spans of silence after the crash
    bool heard;
    int crashToSoundBlocks;
    int silentBlocksAfterCrash;
};

void PrintTo(const HeldCase& c, std::ostream* out)
{
    *out << c.name;
}

class HeldNotesAcrossSwitch : public ::testing::TestWithParam<HeldCase>
{
};

TEST_P(HeldNotesAcrossSwitch, ReadFromTheOutput)
{
    const auto& c = GetParam();
    const auto phrase = demoPhrase(kRate, kTotal, kCrash);
    const auto timeline = analyse(recordWith(c.silent), phrase);

    EXPECT_EQ(timeline.heldAtCrash.size(), 4u) << "the bass and a three-note chord";
    EXPECT_EQ(timeline.heldNotesHeard, c.heard);
    EXPECT_EQ(timeline.crashToSoundBlocks, c.crashToSoundBlocks);
    EXPECT_EQ(timeline.silentBlocksAfterCrash, c.silentBlocksAfterCrash);
}

const auto chordEnd = static_cast<long long>(4.0 * kRate) - static_cast<long long>(0.25 * kRate) / 4;

/** Every `period`-th block silent from `firstBlock` blocks after the crash's block until the chord's end. */
std::vector<std::pair<long long, long long>> everyNthBlockSilent(int period, int firstBlock)
{
    std::vector<std::pair<long long, long long>> spans;
    for (auto block = blockStart(kCrash) + firstBlock * kBlock; block + kBlock <= chordEnd; block += period * kBlock)
        spans.push_back({ block, block + kBlock });
    return spans;
}

INSTANTIATE_TEST_SUITE_P(
    Demo, HeldNotesAcrossSwitch,
    ::testing::Values(
        // A hot standby takes the crash's block: sound throughout.
        HeldCase{ "HotStandby", {}, true, 0, 0 },
        // The crashed plugin silent until a watchdog's tick 3 blocks on, the held notes from then.
        HeldCase{ "AfterTheTick", { { kCrash, blockStart(kCrash) + 3 * kBlock } }, true, 3, 2 },
        // One block that came late while the notes were held: still heard, and counted.
        HeldCase{ "OneLateBlock", { { blockStart(kCrash) + 40 * kBlock, blockStart(kCrash) + 41 * kBlock } }, true, 0, 0 },
        // A machine too busy for the helpers: every third block late, still mostly heard.
        HeldCase{ "EveryThirdBlockLate", everyNthBlockSilent(3, 2), true, 0, 0 },
        // Sounding in one block of three is not hearing the held notes.
        HeldCase{ "TwoBlocksInThreeSilent", [] {
                      auto spans = everyNthBlockSilent(3, 1);
                      const auto more = everyNthBlockSilent(3, 2);
                      spans.insert(spans.end(), more.begin(), more.end());
                      return spans;
                  }(), false, 0, 0 },
        // The standby sounds only for a moment, then stays silent until the next note.
        HeldCase{ "SilentUntilNextNote", { { blockStart(kCrash) + 4 * kBlock, chordEnd } }, false, 0, 0 },
        // Only the crash note's own sample sounds (the standby plays it for one sample), then
        // nothing until the next note: that blip is not the standby sounding again.
        HeldCase{ "OnlyTheCrashNote", { { kCrash + 1, chordEnd } }, false,
                  static_cast<int>((blockStart(chordEnd) - blockStart(kCrash)) / kBlock),
                  static_cast<int>((blockStart(chordEnd) - blockStart(kCrash)) / kBlock) - 1 }),
    [](const ::testing::TestParamInfo<HeldCase>& info) { return std::string(info.param.name); });

TEST(DemoTimeline, LateBlocksWhileHeldAreCounted)
{
    const auto late = blockStart(kCrash) + 40 * kBlock;
    const auto timeline = analyse(recordWith({ { late, late + kBlock }, { late + 8 * kBlock, late + 9 * kBlock } }),
                                  demoPhrase(kRate, kTotal, kCrash));
    EXPECT_TRUE(timeline.heldNotesHeard);
    EXPECT_EQ(timeline.silentBlocksWhileHeld, 2);
    EXPECT_NE(summaryLine(timeline).find("2 silent blocks meanwhile"), std::string::npos) << summaryLine(timeline);
}

TEST(DemoPhrase, TheCrashBarHoldsAChordAndStrikesNothingNew)
{
    const auto phrase = demoPhrase(kRate, kTotal, kCrash);
    const auto barStart = static_cast<long long>(2.0 * kRate);
    EXPECT_EQ(phrase.heldAt(kCrash), (std::vector<int>{ 41, 60, 64, 69 }));
    EXPECT_EQ(phrase.nextEventAfter(kCrash), chordEnd);
    EXPECT_EQ(phrase.noteOnsBetween(barStart + 1, static_cast<long long>(4.0 * kRate)), 0);
    // Without a chord place the bar plays its melody.
    EXPECT_EQ(demoPhrase(kRate, kTotal).noteOnsBetween(barStart + 1, static_cast<long long>(4.0 * kRate)), 7);
}

TEST(DemoSummary, TellsWhatTheRunShowed)
{
    auto record = recordWith({});
    record.crashCause = "segmentation fault (signal 11)";
    record.recoveredSample = kCrash + 10 * kBlock;
    record.recoveryText = "slot 1 crashed (segmentation fault (signal 11)); playing slot 2; reloaded in 0.1 s";
    record.snapshotCheck = 1;
    const auto timeline = analyse(record, demoPhrase(kRate, kTotal, kCrash));

    RunDescription isolated{ "SegfaultSynth", true, {}, true, 50 };
    const auto line = summaryLine(timeline, isolated);
    for (const char* told : { "slot 0 (SegfaultSynth, in its own process) ended with segmentation fault (signal 11)",
                              "the host process lived on", "the hot standby sounded 0 ms after the crash (in the crash's own block)",
                              "4 notes held at the crash heard across the switch", "slot 0 back with its snapshot at 2.153 s",
                              "reloaded in 0.1 s" })
        EXPECT_NE(line.find(told), std::string::npos) << told << "\n" << line;

    RunDescription fellBack{ "CrashPlainSynth", false, "the helper is missing", true, 50 };
    const auto fallback = summaryLine(timeline, fellBack);
    EXPECT_EQ(fallback.rfind("the isolated slot could not start (the helper is missing), so the cooperative crash report instead", 0), 0u)
        << fallback;
    EXPECT_EQ(fallback.find("lived on"), std::string::npos) << fallback;

    record.snapshotCheck = 0;
    EXPECT_NE(summaryLine(analyse(record, demoPhrase(kRate, kTotal, kCrash)), isolated).find("with a state other than its snapshot"),
              std::string::npos);
}

TEST(DemoSessionLog, ReadsWholeLinesAsTheyAppear)
{
    const auto folder = std::filesystem::temp_directory_path()
                      / ("pendulum-demo-log-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder);
    { std::ofstream(folder / "session-old-1.log") << "2026-01-01 00:00:00.000  demo  from an earlier run\n"; }

    SessionLogTail tail(folder.u8string());
    EXPECT_FALSE(std::filesystem::exists(folder / "session-old-1.log")) << "earlier sessions are cleared";
    EXPECT_TRUE(tail.poll().empty());

    const auto file = folder / "session-2026-12-11_10-00-00-42.log";
    {
        std::ofstream out(file, std::ios::binary);
        out << "2026-12-11 10:00:00.100  demo  project restored: slot 1 SegfaultSynth\n"
               "2026-12-11 10:00:01.250  demo  slot 1 crashed (segmentation fault (signal 11)); play";
    }
    EXPECT_EQ(tail.poll(), (std::vector<std::string>{ "project restored: slot 1 SegfaultSynth" }));
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out << "ing slot 2\r\n";
    }
    EXPECT_EQ(tail.poll(), (std::vector<std::string>{ "slot 1 crashed (segmentation fault (signal 11)); playing slot 2" }));
    EXPECT_TRUE(tail.poll().empty());

    // The plugin loaded again in the same process may start a second file.
    { std::ofstream(folder / "session-2026-12-11_10-00-05-42.log") << "2026-12-11 10:00:05.000  demo  project restored\n"; }
    EXPECT_EQ(tail.poll(), (std::vector<std::string>{ "project restored" }));

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

TEST(DemoSessionLog, EventTextFollowsStampAndInstanceName)
{
    EXPECT_EQ(sessionEventText("2026-12-11 12:04:31.250  demo  slot 1 reloaded in 0.1 s"), "slot 1 reloaded in 0.1 s");
    EXPECT_EQ(sessionEventText("2026-12-11 12:04:31.250  my synth  a (b)  c"), "a (b)  c");
    EXPECT_EQ(sessionEventText("no stamp"), "no stamp");
}

} // namespace
} // namespace pendulum::demo
