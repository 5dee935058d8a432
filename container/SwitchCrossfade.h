#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <atomic>

/**
    The crossfade of a switch by hand: for the first few milliseconds after the switch the host
    hears the plugin switched away from fading out while the new one fades in, instead of a cut.

    The plugin switched away from is never played on the audio thread: right after the switch, on
    the message thread, the container renders what it would have played next (the notes it holds,
    no new events) into this object's buffer, and arms the fade. The block of the switch mixes that
    material in, over 5 ms or the whole block if it is shorter. So the slot switched away from can
    be unloaded, reloaded or reset at once, as every inactive slot can.

    The fade is linear: a standby is usually the same instrument as the active plugin, whose two
    outputs are then alike, and a linear fade of two like signals keeps their level (an equal-power
    one would rise by 3 dB in the middle); two unlike signals dip by at most 3 dB, for a few
    milliseconds.

    The buffer is allocated at construction. arm(), cancel() and apply() take no lock and allocate
    nothing; arm() and cancel() are called under the processor's callback lock, apply() by the
    audio thread (which holds it), and the material is written only while the fade is not armed.
*/
namespace pendulum::container
{

class SwitchCrossfade
{
public:
    static constexpr int maxFadeSamples = 4096; // 5 ms up to 768 kHz
    static constexpr double fadeSeconds = 0.005;

    explicit SwitchCrossfade(int numChannels) : material(numChannels, maxFadeSamples) { material.clear(); }

    /** The fade's length at a sample rate. */
    static int lengthAt(double sampleRate) noexcept
    {
        return juce::jlimit(1, maxFadeSamples, juce::roundToInt(fadeSeconds * sampleRate));
    }

    /**
        Where the material goes: a view of the first `length` samples of each channel. Written on
        the message thread while the fade is not armed.
    */
    juce::AudioBuffer<float> materialOf(int length) noexcept
    {
        return { material.getArrayOfWritePointers(), material.getNumChannels(), juce::jlimit(0, maxFadeSamples, length) };
    }

    /** Starts the fade from the material's first `length` samples with the next block. */
    void arm(int length) noexcept
    {
        fadeLength = juce::jlimit(1, maxFadeSamples, length);
        armed.store(true, std::memory_order_release);
    }

    void cancel() noexcept { armed.store(false, std::memory_order_release); }

    bool isArmed() const noexcept { return armed.load(std::memory_order_acquire); }

    /**
        Mixes the material into the block of the switch, and ends the fade: the block's own signal
        fades in as the material fades out, over the fade's length or the block's if that is
        shorter, so the fade never reaches past the block (a key let go in the next block is not
        heard again from the material). True when it mixed (the fade was armed).
    */
    bool apply(juce::AudioBuffer<float>& buffer) noexcept
    {
        if (!armed.load(std::memory_order_acquire))
            return false;

        const int count = std::min(buffer.getNumSamples(), fadeLength);
        const int channels = std::min(buffer.getNumChannels(), material.getNumChannels());

        for (int channel = 0; channel < channels; ++channel)
        {
            auto* out = buffer.getWritePointer(channel);
            const auto* old = material.getReadPointer(channel);
            for (int i = 0; i < count; ++i)
            {
                const float gain = gainAt(i, count);
                out[i] = out[i] * gain + old[i] * (1.0f - gain);
            }
        }

        armed.store(false, std::memory_order_release);
        return true;
    }

    /**
        As apply(), with the old plugin's output of this very block as the material (a hot standby
        that was playing along).
    */
    void applyFrom(juce::AudioBuffer<float>& buffer, const juce::AudioBuffer<float>& old) noexcept
    {
        const int count = std::min({ buffer.getNumSamples(), old.getNumSamples(), liveLength });
        const int channels = std::min(buffer.getNumChannels(), old.getNumChannels());
        for (int channel = 0; channel < channels; ++channel)
        {
            auto* out = buffer.getWritePointer(channel);
            const auto* from = old.getReadPointer(channel);
            for (int i = 0; i < count; ++i)
            {
                const float gain = gainAt(i, count);
                out[i] = out[i] * gain + from[i] * (1.0f - gain);
            }
        }
    }

    /** The gain of the new signal at sample i of the fade (the old one's is 1 minus it). */
    static float gainAt(int i, int length) noexcept { return (float) (i + 1) / (float) (length + 1); }

    /** The rate of the blocks applyFrom() fades (under the callback lock). */
    void setSampleRate(double sampleRate) noexcept { liveLength = lengthAt(sampleRate); }

private:
    juce::AudioBuffer<float> material;
    int liveLength = lengthAt(44100.0);
    int fadeLength = 1;
    std::atomic<bool> armed { false };

    JUCE_DECLARE_NON_COPYABLE(SwitchCrossfade)
};

} // namespace pendulum::container
