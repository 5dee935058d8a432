#include "Phrase.h"

#include <algorithm>

namespace pendulum::demo
{

void Phrase::add(NoteEvent event)
{
    const auto after = std::upper_bound(events_.begin(), events_.end(), event.sample,
                                        [](long long sample, const NoteEvent& e) { return sample < e.sample; });
    events_.insert(after, event);
}

void Phrase::addNote(long long startSample, long long lengthSamples, int note, int velocity)
{
    add({ startSample, note, velocity });
    add({ startSample + lengthSamples, note, 0 });
}

std::vector<rawhost::MidiMessage> Phrase::block(long long blockStart, int frames) const
{
    std::vector<rawhost::MidiMessage> messages;
    auto it = std::lower_bound(events_.begin(), events_.end(), blockStart,
                               [](const NoteEvent& e, long long sample) { return e.sample < sample; });
    for (; it != events_.end() && it->sample < blockStart + frames; ++it)
    {
        const auto offset = static_cast<int>(it->sample - blockStart);
        messages.push_back(it->velocity > 0 ? rawhost::noteOn(it->note, it->velocity, offset)
                                            : rawhost::noteOff(it->note, offset));
    }
    return messages;
}

int Phrase::noteOnsBetween(long long from, long long to) const
{
    return static_cast<int>(std::count_if(events_.begin(), events_.end(), [&](const NoteEvent& e) {
        return e.velocity > 0 && e.sample >= from && e.sample < to;
    }));
}

std::vector<int> Phrase::heldAt(long long sample) const
{
    std::vector<int> held;
    for (const auto& event : events_)
    {
        if (event.sample >= sample)
            break;
        const auto found = std::find(held.begin(), held.end(), event.note);
        if (event.velocity > 0 && found == held.end())
            held.push_back(event.note);
        else if (event.velocity == 0 && found != held.end())
            held.erase(found);
    }
    return held;
}

long long Phrase::nextEventAfter(long long sample) const
{
    const auto it = std::upper_bound(events_.begin(), events_.end(), sample,
                                     [](long long s, const NoteEvent& e) { return s < e.sample; });
    return it != events_.end() ? it->sample : -1;
}

Phrase demoPhrase(double sampleRate, long long totalSamples, long long chordAt)
{
    // A minor: an arpeggio up and down, one bar of eight eighth notes per bass note.
    static constexpr int melody[] = { 69, 72, 76, 81, 76, 72, 69, 64 };
    static constexpr int bass[] = { 45, 41, 43, 40 };
    static constexpr int chord[] = { 60, 64, 69 }; // C, E, A over the bar's bass note

    const auto eighth = static_cast<long long>(sampleRate * 0.25);
    const auto bar = eighth * 8;
    Phrase phrase;
    for (long long barStart = 0, barIndex = 0; barStart < totalSamples; barStart += bar, ++barIndex)
    {
        phrase.addNote(barStart, bar - eighth / 4, bass[barIndex % 4], 80);
        if (chordAt >= barStart && chordAt < barStart + bar)
        {
            for (const int note : chord)
                phrase.addNote(barStart, bar - eighth / 4, note, 56);
            continue;
        }
        for (int step = 0; step < 8; ++step)
        {
            const auto start = barStart + step * eighth;
            if (start < totalSamples)
                phrase.addNote(start, eighth * 3 / 4, melody[step], step % 2 == 0 ? 100 : 84);
        }
    }
    return phrase;
}

Phrase restruckNote(int note, int velocity, int blockSize, long long totalSamples)
{
    Phrase phrase;
    for (long long start = 0; start < totalSamples; start += blockSize)
        phrase.add({ start, note, velocity });
    return phrase;
}

} // namespace pendulum::demo
