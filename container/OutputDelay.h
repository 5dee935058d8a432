#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <vector>

/**
    A fixed delay of a slot's output, so that both slots come out of the container with the same
    latency: the host is told the larger of the two plugins' latencies, and the plugin with the
    smaller one is held back by the difference. A switch then changes nothing the host was told,
    and the standby plays in time with the other tracks.

    The ring buffers are allocated when the delay is made (a load, an unload, a prepare, on the
    message thread); process() and clear() allocate nothing, take no lock and are safe on the audio
    thread. A delay of 0 passes the signal through untouched.
*/
namespace pendulum::container
{

class OutputDelay
{
public:
    OutputDelay(int numChannels, int delaySamples)
        : delay(std::max(0, delaySamples)), rings((size_t) std::max(0, numChannels), std::vector<float>((size_t) delay, 0.0f))
    {
    }

    int getDelaySamples() const noexcept { return delay; }
    int getNumChannels() const noexcept { return (int) rings.size(); }

    /** Delays the first channels of the buffer (as many as the delay has) in place. */
    void process(juce::AudioBuffer<float>& buffer) noexcept
    {
        if (delay == 0)
            return;

        const int numSamples = buffer.getNumSamples();
        const int channels = std::min(getNumChannels(), buffer.getNumChannels());
        int position = 0;

        for (int channel = 0; channel < channels; ++channel)
        {
            auto* samples = buffer.getWritePointer(channel);
            auto* ring = rings[(size_t) channel].data();
            position = writePosition;

            for (int i = 0; i < numSamples; ++i)
            {
                const float delayed = ring[position];
                ring[position] = samples[i];
                samples[i] = delayed;
                if (++position == delay)
                    position = 0;
            }
        }

        // Channels the buffer lacks would fall out of step; none should, the container has two.
        writePosition = channels > 0 ? position : (writePosition + numSamples) % delay;
    }

    /** Forgets what is in the line: the next delay samples that come out are silence. */
    void clear() noexcept
    {
        for (auto& ring : rings)
            std::fill(ring.begin(), ring.end(), 0.0f);
        writePosition = 0;
    }

private:
    int delay;
    std::vector<std::vector<float>> rings;
    int writePosition = 0;

    JUCE_DECLARE_NON_COPYABLE(OutputDelay)
};

} // namespace pendulum::container
