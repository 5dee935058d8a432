#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <cstddef>
#include <cstdint>

/**
    What the MIDI stream played so far leaves standing, per channel: the keys held down (with their
    velocities), the notes a key released but the sustain pedal still holds, the last value of every
    controller (the pedals among them), pitch bend, channel pressure and the program.

    The container feeds it every block on the audio thread, and from it writes the events that bring
    a plugin into the same state (writeCatchUp: for the plugin a switch makes active) or that end
    everything a plugin may hold (writeRelease: for the plugin switched away from).

    Fixed tables only: nothing allocates, nothing throws. Not thread-safe: one thread feeds it, and
    anybody else reads a copy taken while that thread stands still.
*/
class MidiStateTracker
{
public:
    static constexpr int numChannels = 16;
    static constexpr int numNotes = 128;
    static constexpr int numControllers = 128;
    static constexpr int unset = -1;

    /**
        The most bytes writeCatchUp adds to a MidiBuffer (every controller and note of every channel,
        each event with the buffer's own 6-byte header); writeRelease adds fewer.
    */
    static constexpr std::size_t maxCatchUpBytes =
        (std::size_t) numChannels * (std::size_t) (numControllers + 3 + 2 * numNotes) * (3 + 6);

    MidiStateTracker() noexcept { reset(); }

    /** Forgets everything: no key down, every controller, bend, pressure and program unset. */
    void reset() noexcept;

    /** Takes in one block's events, in order. */
    void process(const juce::MidiBuffer& midi) noexcept;
    /** Takes in one message (raw bytes); anything but a channel message is ignored. */
    void handle(const juce::uint8* data, int numBytes) noexcept;

    /**
        Adds at samplePosition what brings a plugin in its default state to this one: per channel the
        controllers that were set (the pedals among them; a parameter selection and its data entry
        last; data increment and decrement are not repeated, they would step the parameter again), the program, pitch bend and pressure, then a note-on for every key held, then a
        note-on and note-off for every note the sustain pedal holds, so the new plugin's pedal holds
        it too. Returns the number of events added.
    */
    int writeCatchUp(juce::MidiBuffer& target, int samplePosition = 0) const noexcept;

    /**
        Adds at samplePosition what ends every note a plugin fed with this stream may hold: per
        channel a note-off for every key held or sustained, sustain, sostenuto and soft pedal up,
        and all-notes-off. Returns the number of events added.
    */
    int writeRelease(juce::MidiBuffer& target, int samplePosition = 0) const noexcept;

    // Channels are numbered 1 to 16, as juce::MidiMessage numbers them.
    /** The velocity of the held key, 0 if it is up. */
    int heldVelocity(int channel, int note) const noexcept;
    /** True for a note whose key is up but which the sustain pedal holds. */
    bool isSustained(int channel, int note) const noexcept;
    /** Keys down over all channels. */
    int numHeldNotes() const noexcept;
    /** Keys down, plus notes the sustain pedal holds, over all channels. */
    int numSoundingNotes() const noexcept;
    /** The controller's last value, or unset. Channel-mode messages (120 to 127) are not kept. */
    int controller(int channel, int number) const noexcept;
    /** The last pitch bend (0 to 16383), or unset (centre). */
    int pitchBend(int channel) const noexcept;
    /** The last channel pressure, or unset. */
    int channelPressure(int channel) const noexcept;
    /** The last program, or unset. */
    int program(int channel) const noexcept;
    bool sustainDown(int channel) const noexcept { return pedalDown(channel, 64); }
    bool sostenutoDown(int channel) const noexcept { return pedalDown(channel, 66); }
    bool softDown(int channel) const noexcept { return pedalDown(channel, 67); }

private:
    struct Channel
    {
        std::array<std::uint8_t, numNotes> velocity; // 0: key up
        std::array<std::uint8_t, numNotes> sustained; // key up, held by the sustain pedal: struck at this velocity (0: not held)
        std::array<std::int8_t, numControllers> controllers; // unset or 0..127
        std::int16_t bend;
        std::int16_t pressure;
        std::int16_t programNumber;
    };

    void noteOff(Channel& state, int note) noexcept;
    void allNotesOff(Channel& state) noexcept;
    void resetControllers(Channel& state) noexcept;
    bool pedalDown(int channel, int number) const noexcept;
    static bool validChannel(int channel) noexcept { return channel >= 1 && channel <= numChannels; }

    std::array<Channel, numChannels> channels;
};
