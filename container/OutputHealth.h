#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>
#include <cstdint>
#include <cstring>

/**
    Judges a hosted plugin's raw output, one block at a time, for the two faults that show in the
    audio alone:

    - not finite: a NaN or an infinity anywhere in the block (a blown-up filter, an uninitialised
      buffer). No signal is allowed one: the first such block is a fault.
    - stuck: the plugin gives the very same block again and again (its engine stopped and it
      replays the last buffer it made, heard as a buzz at the block rate). A fault once identical
      blocks have lasted longer than stuckLimitMs (250 ms: the hang limit of helper processes,
      about the dropout threshold of hosts).

    What does not count as stuck, because healthy plugins do it:
    - silence, and anything below silenceLevel (-96 dBFS), denormals included: a release tail or a
      quiet plugin gives identical near-zero blocks for as long as it likes;
    - a block in which every channel holds one value (a sustained DC offset, a plugin that gives
      one repeated sample value): nothing audible repeats;
    - a block that repeats itself inside at a period dividing the block length (a square or any
      waveform of that period, a loop of that length): a steady oscillator aligned to the block
      gives identical blocks by nature. This is decided once per run of identical blocks.
    A waveform whose period is exactly the block length cannot be told from a replayed block and
    does count (see the README's output health section).

    Identical means bit for bit on every checked channel, with the same length: a block is known by
    a 64-bit hash of its samples, so nothing is copied. A block of another length starts over.

    Real-time safe: no allocation, no lock; one pass over the block, plus one comparison per
    divisor of the length at the start of a run of identical blocks.
*/
namespace pendulum::container
{

class OutputHealth
{
public:
    static constexpr double stuckLimitMs = 250.0;
    static constexpr float silenceLevel = 1.0f / 65536.0f;

    enum class Verdict
    {
        healthy,
        notFinite,
        stuck
    };

    /** Forgets the blocks seen so far: the next block starts afresh (a new plugin, a pause). */
    void reset() noexcept
    {
        lastHash = 0;
        lastLength = 0;
        lastCounts = false;
        runSamples = 0;
        runIsTone = false;
    }

    /** Looks at the first numChannels channels of one block of the plugin's output. */
    Verdict check(const juce::AudioBuffer<float>& buffer, int numChannels, double sampleRate) noexcept
    {
        const int length = buffer.getNumSamples();
        const int channels = juce::jmin(numChannels, buffer.getNumChannels());
        if (length <= 0 || channels <= 0)
            return Verdict::healthy;

        std::uint64_t hash = 0xcbf29ce484222325ull ^ (std::uint64_t) length;
        std::uint32_t allExponents = 0;
        bool varies = false;
        float peak = 0.0f;

        for (int channel = 0; channel < channels; ++channel)
        {
            const auto* samples = buffer.getReadPointer(channel);
            const auto first = bitsOf(samples[0]);
            for (int i = 0; i < length; ++i)
            {
                const auto bits = bitsOf(samples[i]);
                // Exponent all ones: infinity or NaN.
                if ((bits & 0x7f800000u) == 0x7f800000u)
                    allExponents = 0x7f800000u;
                varies = varies || bits != first;
                peak = juce::jmax(peak, std::abs(samples[i]));
                hash = (hash ^ bits) * 0x100000001b3ull;
                hash ^= hash >> 29;
            }
        }

        if (allExponents != 0)
        {
            reset();
            return Verdict::notFinite;
        }

        // Only audible blocks with something that moves count towards a run.
        if (peak <= silenceLevel || !varies)
        {
            reset();
            return Verdict::healthy;
        }

        if (lastCounts && hash == lastHash && length == lastLength)
        {
            if (runSamples == length) // the first repeat: is it a waveform that fits the block?
                runIsTone = repeatsWithin(buffer, channels, length);
            runSamples += length;
        }
        else
        {
            runSamples = length;
            runIsTone = false;
        }

        lastHash = hash;
        lastLength = length;
        lastCounts = true;

        if (!runIsTone && sampleRate > 0.0 && (double) runSamples * 1000.0 / sampleRate > stuckLimitMs)
        {
            stuckMs = (double) runSamples * 1000.0 / sampleRate;
            return Verdict::stuck;
        }
        return Verdict::healthy;
    }

    /** How long the output had repeated itself when check() last said stuck, in milliseconds. */
    double stuckForMs() const noexcept { return stuckMs; }

private:
    static std::uint32_t bitsOf(float sample) noexcept
    {
        std::uint32_t bits;
        std::memcpy(&bits, &sample, sizeof(bits));
        return bits;
    }

    /** True when every channel repeats at one period that divides the length (and is shorter). */
    static bool repeatsWithin(const juce::AudioBuffer<float>& buffer, int channels, int length) noexcept
    {
        for (int period = 1; period <= length / 2; ++period)
        {
            if (length % period != 0)
                continue;
            bool periodic = true;
            for (int channel = 0; channel < channels && periodic; ++channel)
            {
                const auto* samples = buffer.getReadPointer(channel);
                periodic = std::memcmp(samples, samples + period, sizeof(float) * (size_t) (length - period)) == 0;
            }
            if (periodic)
                return true;
        }
        return false;
    }

    std::uint64_t lastHash = 0;
    int lastLength = 0;
    bool lastCounts = false;      // the last block was audible and moved
    std::int64_t runSamples = 0;  // length of the run of identical blocks, the last one included
    bool runIsTone = false;       // the run's block repeats itself inside (see repeatsWithin)
    double stuckMs = 0.0;
};

} // namespace pendulum::container
