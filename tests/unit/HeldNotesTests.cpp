// Held notes, pedals and controllers are carried over a switch: the new active plugin gets them at
// the start of its first block, the plugin switched away from gets its notes ended.
#include "container/MidiStateTracker.h"
#include "container/PluginContainerAudioProcessor.h"
#include "support/AllocationCounter.h"
#include "support/ContainerTestAccess.h"
#include "support/CrashSupport.h"
#include "support/FakeInstrument.h"
#include "support/FixtureFiles.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace
{
using Processor = PluginContainerAudioProcessor;
using Msg = juce::MidiMessage;
constexpr int blockSize = 64;

void feed(MidiStateTracker& tracker, const std::vector<Msg>& messages)
{
    for (const auto& m : messages)
        tracker.handle(m.getRawData(), m.getRawDataSize());
}

//==================================================================================================
// The tracker

struct TrackerCase
{
    const char* name;
    std::vector<Msg> events;
    std::function<void(const MidiStateTracker&)> check;
};

TEST(MidiStateTracker, FollowsNotesPedalsAndControllers)
{
    const std::vector<TrackerCase> cases {
        { "note-on with velocity 0 is a note-off",
          { Msg::noteOn(1, 60, (juce::uint8) 90), Msg::noteOn(1, 64, (juce::uint8) 80), Msg::noteOn(1, 60, (juce::uint8) 0) },
          [](const MidiStateTracker& t) {
              EXPECT_EQ(t.heldVelocity(1, 60), 0);
              EXPECT_EQ(t.heldVelocity(1, 64), 80);
              EXPECT_EQ(t.numHeldNotes(), 1);
          } },
        { "note-on with velocity 0 under the sustain pedal leaves the note to the pedal",
          { Msg::controllerEvent(1, 64, 127), Msg::noteOn(1, 60, (juce::uint8) 90), Msg::noteOn(1, 60, (juce::uint8) 0) },
          [](const MidiStateTracker& t) {
              EXPECT_EQ(t.heldVelocity(1, 60), 0);
              EXPECT_TRUE(t.isSustained(1, 60));
          } },
        { "a key struck twice is ended by one note-off",
          { Msg::noteOn(3, 60, (juce::uint8) 90), Msg::noteOn(3, 60, (juce::uint8) 30), Msg::noteOff(3, 60) },
          [](const MidiStateTracker& t) { EXPECT_EQ(t.numSoundingNotes(), 0); } },
        { "the sustain pedal holds released keys until it goes up",
          { Msg::controllerEvent(2, 64, 127), Msg::noteOn(2, 60, (juce::uint8) 90), Msg::noteOff(2, 60),
            Msg::noteOn(2, 62, (juce::uint8) 90) },
          [](const MidiStateTracker& t) {
              EXPECT_TRUE(t.sustainDown(2));
              EXPECT_TRUE(t.isSustained(2, 60));
              EXPECT_EQ(t.numHeldNotes(), 1);
              EXPECT_EQ(t.numSoundingNotes(), 2);
          } },
        { "sustain up ends what it held",
          { Msg::controllerEvent(2, 64, 127), Msg::noteOn(2, 60, (juce::uint8) 90), Msg::noteOff(2, 60),
            Msg::controllerEvent(2, 64, 0) },
          [](const MidiStateTracker& t) {
              EXPECT_FALSE(t.sustainDown(2));
              EXPECT_EQ(t.numSoundingNotes(), 0);
          } },
        { "all-notes-off lifts every key, the pedal keeps holding",
          { Msg::noteOn(1, 50, (juce::uint8) 90), Msg::controllerEvent(1, 64, 100), Msg::noteOn(1, 52, (juce::uint8) 90),
            Msg::noteOn(4, 70, (juce::uint8) 90), Msg::allNotesOff(1) },
          [](const MidiStateTracker& t) {
              EXPECT_EQ(t.numHeldNotes(), 1); // channel 4's key
              EXPECT_TRUE(t.isSustained(1, 50));
              EXPECT_TRUE(t.isSustained(1, 52));
              EXPECT_EQ(t.controller(1, 123), MidiStateTracker::unset); // not replayed as a controller
          } },
        { "all-sound-off ends everything on its channel",
          { Msg::controllerEvent(1, 64, 127), Msg::noteOn(1, 50, (juce::uint8) 90), Msg::noteOff(1, 50),
            Msg::noteOn(1, 52, (juce::uint8) 90), Msg::allSoundOff(1) },
          [](const MidiStateTracker& t) { EXPECT_EQ(t.numSoundingNotes(), 0); } },
        { "reset-all-controllers resets bend, pressure, pedals and modulation, keeps volume and program",
          { Msg::controllerEvent(5, 7, 90), Msg::controllerEvent(5, 1, 40), Msg::controllerEvent(5, 64, 127),
            Msg::controllerEvent(5, 67, 127), Msg::pitchWheel(5, 12000), Msg::channelPressureChange(5, 33),
            Msg::programChange(5, 12), Msg::noteOn(5, 60, (juce::uint8) 90), Msg::noteOff(5, 60),
            Msg::controllerEvent(5, 121, 0) },
          [](const MidiStateTracker& t) {
              EXPECT_EQ(t.controller(5, 7), 90);
              EXPECT_EQ(t.controller(5, 1), MidiStateTracker::unset);
              EXPECT_FALSE(t.sustainDown(5));
              EXPECT_FALSE(t.softDown(5));
              EXPECT_EQ(t.pitchBend(5), MidiStateTracker::unset);
              EXPECT_EQ(t.channelPressure(5), MidiStateTracker::unset);
              EXPECT_EQ(t.program(5), 12);
              EXPECT_EQ(t.numSoundingNotes(), 0);
          } },
        { "bend, pressure, program, pedals and the last controller value per channel",
          { Msg::pitchWheel(16, 1234), Msg::channelPressureChange(16, 77), Msg::programChange(16, 5),
            Msg::controllerEvent(16, 74, 10), Msg::controllerEvent(16, 74, 20), Msg::controllerEvent(16, 66, 127),
            Msg::controllerEvent(16, 67, 64) },
          [](const MidiStateTracker& t) {
              EXPECT_EQ(t.pitchBend(16), 1234);
              EXPECT_EQ(t.channelPressure(16), 77);
              EXPECT_EQ(t.program(16), 5);
              EXPECT_EQ(t.controller(16, 74), 20);
              EXPECT_TRUE(t.sostenutoDown(16));
              EXPECT_TRUE(t.softDown(16));
              EXPECT_EQ(t.program(1), MidiStateTracker::unset);
              EXPECT_EQ(t.controller(1, 74), MidiStateTracker::unset);
          } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        MidiStateTracker tracker;
        feed(tracker, c.events);
        c.check(tracker);
    }
}

/**
    Everything a tracker reports, over every channel, for comparing two trackers; but data increment
    and decrement (96, 97), which a catch-up does not repeat: they would step the parameter again.
*/
std::vector<int> stateOf(const MidiStateTracker& t)
{
    std::vector<int> state;
    for (int channel = 1; channel <= 16; ++channel)
    {
        for (int note = 0; note < 128; ++note)
        {
            state.push_back(t.heldVelocity(channel, note));
            state.push_back(t.isSustained(channel, note) ? 1 : 0);
        }
        for (int number = 0; number < 128; ++number)
            if (number != 96 && number != 97)
                state.push_back(t.controller(channel, number));
        state.push_back(t.pitchBend(channel));
        state.push_back(t.channelPressure(channel));
        state.push_back(t.program(channel));
    }
    return state;
}

std::vector<Msg> randomStream(unsigned seed, int length)
{
    std::mt19937 random(seed);
    const auto pick = [&](int n) { return (int) (random() % (unsigned) n); };
    std::vector<Msg> stream;
    for (int i = 0; i < length; ++i)
    {
        const int channel = 1 + pick(3);
        const int note = 48 + pick(24);
        switch (pick(9))
        {
            case 0: case 1: case 2: stream.push_back(Msg::noteOn(channel, note, (juce::uint8) (1 + pick(127)))); break;
            case 3: case 4: stream.push_back(Msg::noteOff(channel, note)); break;
            case 5: stream.push_back(Msg::controllerEvent(channel, 64, pick(2) * 127)); break;
            case 6: stream.push_back(Msg::controllerEvent(channel, pick(120), pick(128))); break;
            case 7: stream.push_back(Msg::pitchWheel(channel, pick(16384))); break;
            default: stream.push_back(pick(2) ? Msg::programChange(channel, pick(128)) : Msg::channelPressureChange(channel, pick(128))); break;
        }
    }
    return stream;
}

TEST(MidiStateTracker, ItsCatchUpBringsAFreshListenerToTheSameStateAndItsReleaseEndsEveryNote)
{
    for (unsigned seed = 1; seed <= 40; ++seed)
    {
        SCOPED_TRACE(seed);
        MidiStateTracker played;
        feed(played, randomStream(seed, 300));

        juce::MidiBuffer catchUp;
        const int added = played.writeCatchUp(catchUp, 0);
        EXPECT_EQ(added, catchUp.getNumEvents());
        MidiStateTracker fresh;
        fresh.process(catchUp);
        const auto expected = stateOf(played), actual = stateOf(fresh);
        ASSERT_EQ(expected.size(), actual.size());
        const auto differs = std::mismatch(expected.begin(), expected.end(), actual.begin());
        EXPECT_TRUE(differs.first == expected.end())
            << "first difference at " << (differs.first - expected.begin()) << ": " << *differs.first << " vs "
            << *differs.second;
        for (const auto metadata : catchUp)
            EXPECT_EQ(metadata.samplePosition, 0);

        juce::MidiBuffer release;
        played.writeRelease(release, 0);
        fresh.process(release);
        EXPECT_EQ(fresh.numSoundingNotes(), 0);
        for (int channel = 1; channel <= 16; ++channel)
            EXPECT_FALSE(fresh.sustainDown(channel) || fresh.sostenutoDown(channel) || fresh.softDown(channel));
    }
}

TEST(MidiStateTracker, TheCatchUpStrikesWhatThePedalHoldsAsLoudAsItWasStruck)
{
    MidiStateTracker tracker;
    feed(tracker, { Msg::controllerEvent(1, 64, 127), Msg::noteOn(1, 60, (juce::uint8) 100), Msg::noteOn(1, 64, (juce::uint8) 30),
                    Msg::noteOff(1, 60), Msg::noteOn(1, 64, (juce::uint8) 0) });
    juce::MidiBuffer out;
    tracker.writeCatchUp(out);

    std::vector<std::pair<int, int>> struck; // note, velocity
    for (const auto metadata : out)
        if (const auto m = metadata.getMessage(); m.isNoteOn())
            struck.emplace_back(m.getNoteNumber(), m.getVelocity());
    EXPECT_EQ(struck, (std::vector<std::pair<int, int>> { { 60, 100 }, { 64, 30 } }));

    // A key struck again under the pedal is held at its new velocity; the pedal up ends them all.
    feed(tracker, { Msg::noteOn(1, 60, (juce::uint8) 70) });
    EXPECT_EQ(tracker.heldVelocity(1, 60), 70);
    feed(tracker, { Msg::noteOff(1, 60), Msg::controllerEvent(1, 64, 0) });
    EXPECT_EQ(tracker.numSoundingNotes(), 0);
}

TEST(MidiStateTracker, TheCatchUpSendsControllersAndProgramBeforeNotesAndSelectsAParameterBeforeItsData)
{
    MidiStateTracker tracker;
    feed(tracker, { Msg::noteOn(1, 60, (juce::uint8) 100), Msg::controllerEvent(1, 101, 0), Msg::controllerEvent(1, 100, 0),
                    Msg::controllerEvent(1, 6, 12), Msg::controllerEvent(1, 0, 3), Msg::programChange(1, 9),
                    Msg::controllerEvent(1, 64, 127) });
    juce::MidiBuffer out;
    tracker.writeCatchUp(out);

    std::vector<Msg> events;
    for (const auto metadata : out)
        events.push_back(metadata.getMessage());
    ASSERT_EQ(events.size(), 7u);
    EXPECT_TRUE(events.back().isNoteOn());
    const auto position = [&](std::function<bool(const Msg&)> is) {
        return std::find_if(events.begin(), events.end(), is) - events.begin();
    };
    const auto cc = [](int number) { return [number](const Msg& m) { return m.isControllerOfType(number); }; };
    EXPECT_LT(position(cc(0)), position([](const Msg& m) { return m.isProgramChange(); }));
    EXPECT_LT(position(cc(64)), position([](const Msg& m) { return m.isNoteOn(); }));
    EXPECT_LT(position(cc(101)), position(cc(6)));
    EXPECT_LT(position(cc(100)), position(cc(6)));
}

//==================================================================================================
// Through the container, with in-process instruments that record what they get

struct Switching : ::testing::Test
{
    void SetUp() override
    {
        auto a = std::make_unique<FakeInstrument>(1, 2, 0);
        auto b = std::make_unique<FakeInstrument>(2, 2, 0);
        plugins[0] = a.get();
        plugins[1] = b.get();
        PluginContainerTestAccess::install(container, 0, std::move(a));
        PluginContainerTestAccess::install(container, 1, std::move(b));
        container.prepareToPlay(48000.0, blockSize);
    }

    void play(std::initializer_list<std::pair<Msg, int>> events = {})
    {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        for (const auto& [message, sample] : events)
            midi.addEvent(message, sample);
        processLikeWrapper(container, buffer, midi);
    }

    /** The events the plugin got in its given block. */
    std::vector<FakeInstrument::ReceivedEvent> eventsOfBlock(int slot, int block) const
    {
        std::vector<FakeInstrument::ReceivedEvent> events;
        for (int i = 0; i < plugins[(size_t) slot]->numReceived(); ++i)
            if (plugins[(size_t) slot]->receivedEvent(i).block == block)
                events.push_back(plugins[(size_t) slot]->receivedEvent(i));
        return events;
    }

    Processor container;
    std::array<FakeInstrument*, 2> plugins {};
};

TEST_F(Switching, TheNewPluginGetsTheHeldChordAndPedalAtSampleZeroBeforeItsBlocksOwnEvents)
{
    play({ { Msg::controllerEvent(1, 64, 127), 0 }, { Msg::noteOn(1, 60, (juce::uint8) 100), 3 },
           { Msg::noteOn(1, 64, (juce::uint8) 90), 3 }, { Msg::noteOn(1, 67, (juce::uint8) 80), 3 },
           { Msg::noteOn(1, 72, (juce::uint8) 70), 10 } });
    play({ { Msg::noteOff(1, 72), 20 }, { Msg::pitchWheel(1, 9000), 30 } }); // 72 now held by the pedal
    ASSERT_EQ(plugins[0]->soundingNotes(), 4);

    ASSERT_TRUE(container.setActivePlugin(1));
    play({ { Msg::noteOn(1, 48, (juce::uint8) 60), 0 }, { Msg::noteOff(1, 60), 40 } });

    const auto first = eventsOfBlock(1, 0);
    ASSERT_GE(first.size(), 7u);
    // The carried state, all at sample 0: pedal down, the bend, the three keys, the pedal's note.
    std::vector<Msg> carried;
    for (size_t i = 0; i + 2 < first.size(); ++i)
    {
        EXPECT_EQ(first[i].sample, 0);
        carried.push_back(first[i].message());
    }
    EXPECT_TRUE(carried.front().isSustainPedalOn());
    EXPECT_TRUE(std::any_of(carried.begin(), carried.end(), [](const Msg& m) { return m.isPitchWheel() && m.getPitchWheelValue() == 9000; }));
    for (const auto& [note, velocity] : { std::pair { 60, 100 }, std::pair { 64, 90 }, std::pair { 67, 80 } })
        EXPECT_TRUE(std::any_of(carried.begin(), carried.end(), [note = note, velocity = velocity](const Msg& m) {
            return m.isNoteOn() && m.getNoteNumber() == note && m.getVelocity() == velocity;
        })) << note;
    // The block's own events follow, where the host put them.
    EXPECT_TRUE(first[first.size() - 2].message().isNoteOn() && first[first.size() - 2].message().getNoteNumber() == 48);
    EXPECT_EQ(first.back().sample, 40);

    // 64, 67 and 48 down, 72 and 60 held by the pedal: the new plugin sounds what the player hears.
    EXPECT_EQ(plugins[1]->soundingNotes(), 5);
    EXPECT_TRUE(plugins[1]->isSounding(1, 72));
    EXPECT_TRUE(plugins[1]->sustainDown(1));

    // The plugin switched away from has let go of everything, pedal included.
    EXPECT_EQ(plugins[0]->soundingNotes(), 0);
    EXPECT_FALSE(plugins[0]->sustainDown(1));

    // Only the first block carries the state.
    play();
    EXPECT_TRUE(eventsOfBlock(1, 1).empty());
}

TEST_F(Switching, AHundredSwitchesDuringAChordLeaveNoNoteHeldOnceItIsReleased)
{
    play({ { Msg::noteOn(1, 60, (juce::uint8) 100), 0 }, { Msg::noteOn(1, 64, (juce::uint8) 100), 0 },
           { Msg::noteOn(2, 67, (juce::uint8) 100), 5 } });

    for (int round = 0; round < 100; ++round)
    {
        const int to = 1 - container.getActivePluginIndex();
        ASSERT_TRUE(container.setActivePlugin(to));
        play();
        EXPECT_EQ(plugins[(size_t) to]->soundingNotes(), 3) << "round " << round;
        EXPECT_EQ(plugins[(size_t) (1 - to)]->soundingNotes(), 0) << "round " << round;
    }

    play({ { Msg::noteOff(1, 60), 0 }, { Msg::noteOff(1, 64), 0 }, { Msg::noteOff(2, 67), 0 } });
    ASSERT_TRUE(container.setActivePlugin(1 - container.getActivePluginIndex()));
    play();
    EXPECT_EQ(plugins[0]->soundingNotes(), 0);
    EXPECT_EQ(plugins[1]->soundingNotes(), 0);
}

TEST_F(Switching, SwitchesWhileTheHostPlaysCostItNoBlockAndLeaveNoNoteBehind)
{
    // The host plays on its own thread, a new note in every block, as the switches go back and
    // forth on this one. A block that found the processor suspended would be silent for the host
    // and its MIDI would be lost (a note-off among it would leave a note hanging).
    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 }, lost { 0 };
    std::thread host([&] {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        for (int note = 0; !stop.load() || note < 200; ++note)
        {
            midi.clear();
            if (note > 0)
                midi.addEvent(Msg::noteOff(1, 20 + (note - 1) % 80), 0);
            midi.addEvent(Msg::noteOn(1, 20 + note % 80, (juce::uint8) 100), 1);
            const juce::ScopedLock lock(container.getCallbackLock());
            if (container.isSuspended())
                ++lost;
            else
                container.processBlock(buffer, midi);
            ++blocks;
        }
        midi.clear();
        midi.addEvent(Msg::allNotesOff(1), 0);
        const juce::ScopedLock lock(container.getCallbackLock());
        container.processBlock(buffer, midi);
    });

    for (int round = 0; round < 200; ++round)
    {
        ASSERT_TRUE(container.setActivePlugin(1 - container.getActivePluginIndex())) << "round " << round;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    host.join();

    EXPECT_EQ(lost.load(), 0) << "of " << blocks.load() << " blocks";
    const int active = container.getActivePluginIndex();
    EXPECT_EQ(plugins[(size_t) active]->soundingNotes(), 0);
    EXPECT_EQ(plugins[(size_t) (1 - active)]->soundingNotes(), 0);
}

TEST_F(Switching, ACrashedPluginIsNotCalledOnTheWayOut)
{
    play({ { Msg::noteOn(1, 60, (juce::uint8) 100), 0 } });
    const int blocksBefore = plugins[0]->blocksProcessed();
    PluginContainerTestAccess::markCrashed(container, 0);

    ASSERT_TRUE(container.setActivePlugin(1));
    play();
    EXPECT_EQ(plugins[0]->blocksProcessed(), blocksBefore);
    EXPECT_EQ(plugins[1]->soundingNotes(), 1);
}

TEST_F(Switching, TheFirstBlockAfterASwitchAllocatesNothing)
{
    if (!ScopedAllocationCount::isAvailable())
        GTEST_SKIP() << "allocations are not counted in sanitizer builds";

    // A dense state: ten keys and 100 controllers on each of the 16 channels.
    juce::MidiBuffer dense;
    dense.ensureSize(64 * 1024);
    for (int channel = 1; channel <= 16; ++channel)
    {
        for (int number = 0; number < 100; ++number)
            dense.addEvent(Msg::controllerEvent(channel, number, 1 + number), 0);
        for (int note = 40; note < 50; ++note)
            dense.addEvent(Msg::noteOn(channel, note, (juce::uint8) 100), 1);
    }
    juce::AudioBuffer<float> buffer(2, blockSize);
    processLikeWrapper(container, buffer, dense);

    ASSERT_TRUE(container.setActivePlugin(1));
    juce::MidiBuffer midi;
    midi.ensureSize(1024);
    for (int i = 0; i < 50; ++i)
        midi.addEvent(Msg::noteOn(1, 60 + i % 20, (juce::uint8) 100), i);
    {
        ScopedAllocationCount counter;
        processLikeWrapper(container, buffer, midi);
        EXPECT_EQ(counter.allocations(), 0u);
    }
    // Per channel the 100 controllers but data increment and decrement, and the ten keys; then
    // the block's own 50 events.
    EXPECT_EQ(plugins[1]->numReceived(), 16 * (98 + 10) + 50);
    EXPECT_EQ(container.getDroppedCatchUpEventCount(), 0u);
}

//==================================================================================================
// Real plugins, played the way the wrapper plays the container

class HeldNotesWithFixtures : public ::testing::Test
{
protected:
    void SetUp() override
    {
        container = std::make_unique<Processor>();
        container->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        container->prepareToPlay(44100.0, blockSize);
    }

    /** One block; returns its peak on channel 0. */
    float play(std::initializer_list<Msg> events = {})
    {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        for (const auto& m : events)
            midi.addEvent(m, 0);
        processLikeWrapper(*container, buffer, midi);
        return buffer.getMagnitude(0, 0, blockSize);
    }

    FixtureFiles files;
    DialogScript script;
    std::unique_ptr<Processor> container;
};

TEST_F(HeldNotesWithFixtures, SwitchedPluginsSoundTheHeldChordAtOnceAndNeverKeepItAfterItsRelease)
{
    {
        StdoutCapture quiet;
        ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
        ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
    }
    EXPECT_GT(play({ Msg::noteOn(1, 60, (juce::uint8) 100), Msg::noteOn(1, 64, (juce::uint8) 100) }), 0.01f);

    for (int round = 0; round < 20; ++round)
    {
        ASSERT_TRUE(container->setActivePlugin(1 - container->getActivePluginIndex()));
        EXPECT_GT(play(), 0.01f) << "round " << round; // the chord sounds from the first block
    }

    EXPECT_LE(play({ Msg::noteOff(1, 60), Msg::noteOff(1, 64) }), 0.01f);
    for (int round = 0; round < 4; ++round)
    {
        ASSERT_TRUE(container->setActivePlugin(1 - container->getActivePluginIndex()));
        EXPECT_LE(play(), 0.01f) << "round " << round; // nothing stuck in either plugin
    }
}

TEST_F(HeldNotesWithFixtures, TheWatchdogsSwitchAwayFromACrashedPluginKeepsTheChordSounding)
{
    {
        StdoutCapture quiet;
        ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("CrashPlainSynth"), {}));
        ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
    }
    EXPECT_GT(play({ Msg::noteOn(1, 60, (juce::uint8) 100), Msg::noteOn(1, 67, (juce::uint8) 100) }), 0.01f);

    makeCrash(*container, 0); // silent from here on
    EXPECT_LE(play(), 0.01f);
    {
        StdoutCapture quiet;
        tickWatchdog();
    }
    ASSERT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_GT(play(), 0.01f); // the standby sounds the held chord without a new note-on
    EXPECT_LE(play({ Msg::noteOff(1, 60), Msg::noteOff(1, 67) }), 0.01f);
}

TEST_F(HeldNotesWithFixtures, AReloadedActivePluginSoundsTheNotesStillHeld)
{
    {
        StdoutCapture quiet;
        ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("CrashPlainSynth"), {}));
    }
    container->setOption(Processor::optionAutoSwitch, false);
    EXPECT_GT(play({ Msg::noteOn(1, 60, (juce::uint8) 100) }), 0.01f);

    makeCrash(*container, 0);
    {
        StdoutCapture quiet;
        container->recoverPlugin(0);
    }
    ASSERT_NE(container->getPluginInstance(0), nullptr);
    EXPECT_GT(play(), 0.01f); // the key is still down: the new instance plays it from its first block
    EXPECT_LE(play({ Msg::noteOff(1, 60) }), 0.01f);
}

struct ActiveSlotLoad
{
    const char* name;
    bool hotStandby; // slot 1 holds a plugin too, played along as the hot standby
    std::function<bool(Processor&, const juce::MemoryBlock& document)> run;
};

TEST_F(HeldNotesWithFixtures, LoadsIntoTheActiveSlotWhileTheHostPlaysCostItNoBlockAndLeaveNoNoteBehind)
{
    const std::vector<ActiveSlotLoad> loads {
        { "a load by hand", false,
          [](Processor& c, const juce::MemoryBlock&) { return c.loadPlugin(0, FixtureFiles::path("PlainSynth"), {}); } },
        { "a reload", false,
          [](Processor& c, const juce::MemoryBlock&) {
              c.recoverPlugin(0);
              return c.getPluginInstance(0) != nullptr;
          } },
        { "a project restore", false,
          [](Processor& c, const juce::MemoryBlock& document) {
              c.setStateInformation(document.getData(), (int) document.getSize());
              return c.getPluginInstance(0) != nullptr;
          } },
        { "a load by hand beside a hot standby", true,
          [](Processor& c, const juce::MemoryBlock&) { return c.loadPlugin(0, FixtureFiles::path("PlainSynth"), {}); } },
        { "a reload beside a hot standby", true,
          [](Processor& c, const juce::MemoryBlock&) {
              c.recoverPlugin(0);
              return c.getPluginInstance(0) != nullptr;
          } },
    };

    for (const auto& load : loads)
    {
        SCOPED_TRACE(load.name);
        container.reset();
        SetUp();
        juce::MemoryBlock document;
        {
            StdoutCapture quiet;
            ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
            if (load.hotStandby)
            {
                ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
                container->setHotStandby(true);
            }
            container->getStateInformation(document);
        }

        // The host plays on its own thread: every fourth block ends the note it holds and strikes
        // the next one, the blocks between carry no event. A block that found the processor
        // suspended would be lost with its MIDI; a note-off lost would leave a note hanging, a
        // note-on lost would leave the next blocks silent.
        constexpr int maxBlocks = 1 << 20;
        constexpr int notePeriod = 4;
        std::vector<float> peaks((size_t) maxBlocks, 0.0f);
        std::atomic<bool> stop { false };
        std::atomic<int> blocks { 0 }, lost { 0 };
        float peakAfterRelease = 1.0f;
        std::thread host([&] {
            juce::AudioBuffer<float> buffer(2, blockSize);
            juce::MidiBuffer midi;
            const auto noteOf = [](int block) { return 30 + (block / notePeriod) % 60; };
            int block = 0;
            const auto playBlock = [&] {
                const juce::ScopedLock lock(container->getCallbackLock());
                buffer.clear();
                if (container->isSuspended())
                    ++lost;
                else
                    container->processBlock(buffer, midi);
            };
            for (; block < maxBlocks - 1 && (!stop.load() || block % notePeriod != 0); ++block)
            {
                midi.clear();
                if (block % notePeriod == 0)
                {
                    if (block > 0)
                        midi.addEvent(Msg::noteOff(1, noteOf(block - 1)), 0);
                    midi.addEvent(Msg::noteOn(1, noteOf(block), (juce::uint8) 100), 1);
                }
                playBlock();
                peaks[(size_t) block] = buffer.getMagnitude(0, 0, blockSize);
                blocks.store(block + 1, std::memory_order_release);
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            // The last key goes up: nothing may sound after it.
            midi.clear();
            midi.addEvent(Msg::noteOff(1, noteOf(block - 1)), 0);
            playBlock();
            midi.clear();
            playBlock();
            peakAfterRelease = buffer.getMagnitude(0, 0, blockSize);
        });

        const auto waitForBlocks = [&](int count) {
            while (blocks.load(std::memory_order_acquire) < count)
                std::this_thread::yield();
        };

        for (int round = 0; round < 20; ++round)
        {
            waitForBlocks(blocks.load() + 3); // a little playing between the loads
            bool loaded = false;
            {
                StdoutCapture quiet;
                loaded = load.run(*container, document);
            }
            EXPECT_TRUE(loaded) << "round " << round;
            if (!loaded)
                break;
            // The first block without events that began after the load sounds the key held
            // across it: the new plugin got the note-on it missed.
            int probe = blocks.load(std::memory_order_acquire) + 1;
            if (probe % notePeriod == 0)
                ++probe;
            waitForBlocks(probe + 1);
            EXPECT_GT(peaks[(size_t) probe], 0.01f) << "round " << round << ", block " << probe;
        }
        stop = true;
        host.join();

        EXPECT_EQ(lost.load(), 0) << "of " << blocks.load() << " blocks";
        EXPECT_LE(peakAfterRelease, 0.01f);

        // Nothing hangs in the other slot either: switched to, it is silent.
        if (load.hotStandby)
        {
            {
                StdoutCapture quiet;
                ASSERT_TRUE(container->setActivePlugin(1));
            }
            EXPECT_LE(play(), 0.01f);
        }
    }
}
} // namespace
