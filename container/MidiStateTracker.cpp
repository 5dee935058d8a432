#include "container/MidiStateTracker.h"

namespace
{
constexpr int sustainPedal = 64;
constexpr int sostenutoPedal = 66;
constexpr int softPedal = 67;
constexpr int ccAllSoundOff = 120;
constexpr int ccResetAllControllers = 121;
constexpr int ccAllNotesOff = 123;
constexpr int firstChannelMode = 120;

// Parameter selection (NRPN 98/99, RPN 100/101) and data entry (6/38) or increment (96/97): their
// meaning depends on their order, so a catch-up sends them after the others, selection first.
bool isParameterController(int number) noexcept
{
    return number == 6 || number == 38 || (number >= 96 && number <= 101);
}

// What reset-all-controllers leaves alone: bank select, volume, pan, the sound and effect
// controllers, and the parameter selection; the rest goes back to its default (unset).
bool keptByControllerReset(int number) noexcept
{
    return number == 0 || number == 32 || number == 7 || number == 10 || (number >= 70 && number <= 79)
        || (number >= 91 && number <= 95) || (number >= 98 && number <= 101) || number >= firstChannelMode;
}

void add(juce::MidiBuffer& target, int samplePosition, int count, const juce::uint8* bytes) noexcept
{
    target.addEvent(bytes, count, samplePosition);
}

void addShort(juce::MidiBuffer& target, int samplePosition, int status, int data1, int data2) noexcept
{
    const juce::uint8 bytes[] = { (juce::uint8) status, (juce::uint8) data1, (juce::uint8) data2 };
    add(target, samplePosition, 3, bytes);
}

void addTwoByte(juce::MidiBuffer& target, int samplePosition, int status, int data1) noexcept
{
    const juce::uint8 bytes[] = { (juce::uint8) status, (juce::uint8) data1 };
    add(target, samplePosition, 2, bytes);
}
} // namespace

void MidiStateTracker::reset() noexcept
{
    for (auto& state : channels)
    {
        state.velocity.fill(0);
        state.sustained.fill(0);
        state.controllers.fill((std::int8_t) unset);
        state.bend = unset;
        state.pressure = unset;
        state.programNumber = unset;
    }
}

void MidiStateTracker::process(const juce::MidiBuffer& midi) noexcept
{
    for (const auto metadata : midi)
        handle(metadata.data, metadata.numBytes);
}

void MidiStateTracker::noteOff(Channel& state, int note) noexcept
{
    const auto struck = state.velocity[(size_t) note];
    if (struck == 0)
        return;
    state.velocity[(size_t) note] = 0;
    // What the pedal holds keeps the loudness it was struck with, for a plugin that catches up.
    state.sustained[(size_t) note] = state.controllers[sustainPedal] >= 64 ? struck : (std::uint8_t) 0;
}

void MidiStateTracker::allNotesOff(Channel& state) noexcept
{
    // As a note-off for every key: what the sustain pedal holds goes on sounding.
    for (int note = 0; note < numNotes; ++note)
        noteOff(state, note);
}

void MidiStateTracker::resetControllers(Channel& state) noexcept
{
    for (int number = 0; number < numControllers; ++number)
        if (!keptByControllerReset(number))
            state.controllers[(size_t) number] = (std::int8_t) unset;
    state.bend = unset;
    state.pressure = unset;
    state.sustained.fill(0); // the sustain pedal is up now
}

void MidiStateTracker::handle(const juce::uint8* data, int numBytes) noexcept
{
    if (data == nullptr || numBytes < 2)
        return;

    const int status = data[0];
    if (status < 0x80 || status >= 0xf0)
        return;

    auto& state = channels[(size_t) (status & 0x0f)];
    const int data1 = data[1] & 0x7f;
    const int kind = status & 0xf0;

    if (kind == 0xc0)
    {
        state.programNumber = (std::int16_t) data1;
        return;
    }
    if (kind == 0xd0)
    {
        state.pressure = (std::int16_t) data1;
        return;
    }

    if (numBytes < 3)
        return;
    const int data2 = data[2] & 0x7f;

    switch (kind)
    {
        case 0x80:
            noteOff(state, data1);
            break;
        case 0x90:
            if (data2 == 0)
            {
                noteOff(state, data1);
            }
            else
            {
                // A key struck again is one key down: one note-off ends it.
                state.velocity[(size_t) data1] = (std::uint8_t) data2;
                state.sustained[(size_t) data1] = 0;
            }
            break;
        case 0xe0:
            state.bend = (std::int16_t) (data1 | (data2 << 7));
            break;
        case 0xb0:
            if (data1 == ccAllSoundOff)
            {
                state.velocity.fill(0);
                state.sustained.fill(0);
            }
            else if (data1 == ccResetAllControllers)
            {
                resetControllers(state);
            }
            else if (data1 >= ccAllNotesOff)
            {
                allNotesOff(state); // all-notes-off, and the mode changes that imply it
            }
            else if (data1 < firstChannelMode)
            {
                state.controllers[(size_t) data1] = (std::int8_t) data2;
                if (data1 == sustainPedal && data2 < 64)
                    state.sustained.fill(0);
            }
            break;
        default:
            break; // polyphonic pressure is not carried over
    }
}

int MidiStateTracker::writeCatchUp(juce::MidiBuffer& target, int samplePosition) const noexcept
{
    int added = 0;

    for (int index = 0; index < numChannels; ++index)
    {
        const auto& state = channels[(size_t) index];
        const int cc = 0xb0 | index;

        for (int number = 0; number < firstChannelMode; ++number)
        {
            const int value = state.controllers[(size_t) number];
            if (value != unset && !isParameterController(number))
            {
                addShort(target, samplePosition, cc, number, value);
                ++added;
            }
        }

        for (int number : { 99, 98, 101, 100, 6, 38 })
        {
            const int value = state.controllers[(size_t) number];
            if (value != unset)
            {
                addShort(target, samplePosition, cc, number, value);
                ++added;
            }
        }

        if (state.programNumber != unset)
        {
            addTwoByte(target, samplePosition, 0xc0 | index, state.programNumber);
            ++added;
        }
        if (state.bend != unset)
        {
            addShort(target, samplePosition, 0xe0 | index, state.bend & 0x7f, (state.bend >> 7) & 0x7f);
            ++added;
        }
        if (state.pressure != unset)
        {
            addTwoByte(target, samplePosition, 0xd0 | index, state.pressure);
            ++added;
        }

        for (int note = 0; note < numNotes; ++note)
        {
            if (const int velocity = state.velocity[(size_t) note]; velocity > 0)
            {
                addShort(target, samplePosition, 0x90 | index, note, velocity);
                ++added;
            }
            else if (const int struck = state.sustained[(size_t) note]; struck > 0)
            {
                addShort(target, samplePosition, 0x90 | index, note, struck);
                addShort(target, samplePosition, 0x80 | index, note, 0);
                added += 2;
            }
        }
    }

    return added;
}

int MidiStateTracker::writeRelease(juce::MidiBuffer& target, int samplePosition) const noexcept
{
    int added = 0;

    for (int index = 0; index < numChannels; ++index)
    {
        const auto& state = channels[(size_t) index];

        for (int note = 0; note < numNotes; ++note)
        {
            if (state.velocity[(size_t) note] > 0 || state.sustained[(size_t) note])
            {
                addShort(target, samplePosition, 0x80 | index, note, 0);
                ++added;
            }
        }

        for (int number : { sustainPedal, sostenutoPedal, softPedal })
            addShort(target, samplePosition, 0xb0 | index, number, 0);
        addShort(target, samplePosition, 0xb0 | index, ccAllNotesOff, 0);
        added += 4;
    }

    return added;
}

int MidiStateTracker::heldVelocity(int channel, int note) const noexcept
{
    if (!validChannel(channel) || note < 0 || note >= numNotes)
        return 0;
    return channels[(size_t) channel - 1].velocity[(size_t) note];
}

bool MidiStateTracker::isSustained(int channel, int note) const noexcept
{
    if (!validChannel(channel) || note < 0 || note >= numNotes)
        return false;
    return channels[(size_t) channel - 1].sustained[(size_t) note] > 0;
}

int MidiStateTracker::numHeldNotes() const noexcept
{
    int count = 0;
    for (const auto& state : channels)
        for (auto velocity : state.velocity)
            count += velocity > 0 ? 1 : 0;
    return count;
}

int MidiStateTracker::numSoundingNotes() const noexcept
{
    int count = 0;
    for (const auto& state : channels)
        for (int note = 0; note < numNotes; ++note)
            count += state.velocity[(size_t) note] > 0 || state.sustained[(size_t) note] ? 1 : 0;
    return count;
}

int MidiStateTracker::controller(int channel, int number) const noexcept
{
    if (!validChannel(channel) || number < 0 || number >= numControllers)
        return unset;
    return channels[(size_t) channel - 1].controllers[(size_t) number];
}

int MidiStateTracker::pitchBend(int channel) const noexcept
{
    return validChannel(channel) ? channels[(size_t) channel - 1].bend : unset;
}

int MidiStateTracker::channelPressure(int channel) const noexcept
{
    return validChannel(channel) ? channels[(size_t) channel - 1].pressure : unset;
}

int MidiStateTracker::program(int channel) const noexcept
{
    return validChannel(channel) ? channels[(size_t) channel - 1].programNumber : unset;
}

bool MidiStateTracker::pedalDown(int channel, int number) const noexcept
{
    return controller(channel, number) >= 64;
}
