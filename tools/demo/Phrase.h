#pragma once

// The MIDI a run plays: note events placed at sample positions, handed out block by block.
#include "MidiEventBlock.h"

#include <vector>

namespace pendulum::demo
{

struct NoteEvent
{
    long long sample = 0; // position in the rendered stream
    int note = 0;
    int velocity = 0; // 0: note off
};

class Phrase
{
public:
    /** Adds a note that starts at `startSample` and ends `lengthSamples` later. */
    void addNote(long long startSample, long long lengthSamples, int note, int velocity);
    /** Adds a single event (velocity 0 is a note off). */
    void add(NoteEvent event);

    /** The events inside [blockStart, blockStart + frames), as messages placed within that block. */
    std::vector<rawhost::MidiMessage> block(long long blockStart, int frames) const;

    /** How many note-ons start inside [from, to). */
    int noteOnsBetween(long long from, long long to) const;

    /** The notes struck before `sample` and not released by then, in the order they were struck. */
    std::vector<int> heldAt(long long sample) const;

    /** The place of the first event (note-on or off) after `sample`; -1 when none. */
    long long nextEventAfter(long long sample) const;

    const std::vector<NoteEvent>& events() const noexcept { return events_; }

private:
    std::vector<NoteEvent> events_; // sorted by sample
};

/**
    A melody with a bass line, repeated to fill `totalSamples`: eighth notes at 120 beats per minute
    over a held bass note per bar. Short notes keep the gap between two note-ons at 250 ms or less.
    The bar that holds `chordAt` (when given) plays a chord held over the whole bar instead of the
    melody, so that whatever sounds there after its first beat are notes held from before.
*/
Phrase demoPhrase(double sampleRate, long long totalSamples, long long chordAt = -1);

/**
    One note struck again at the start of every block, so that whichever instrument plays sounds
    from the first block it is given; for measuring what the host hears at a switch.
*/
Phrase restruckNote(int note, int velocity, int blockSize, long long totalSamples);

} // namespace pendulum::demo
