#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <cstring>

/**
    What the container passes on to the host is always a usable signal: a hosted plugin that writes
    NaN or infinity (a blown-up filter, an uninitialised buffer) would otherwise poison the host's
    mix bus and everything after it for the rest of the session. Such samples become 0. Denormals
    become 0 as well: they are inaudible, and they make every later stage of the host's chain slow.
    Every other value passes unchanged, bit for bit.

    Real-time safe: no allocation, no lock, a loop the compiler vectorises.
*/
namespace pendulum::container
{

inline float sanitizedSample(float sample) noexcept
{
    std::uint32_t bits;
    std::memcpy(&bits, &sample, sizeof(bits));
    const auto exponent = bits & 0x7f800000u;
    // Exponent all ones: infinity or NaN; exponent zero: zero or a denormal.
    return (exponent == 0x7f800000u || exponent == 0u) ? 0.0f : sample;
}

inline void sanitizeChannels(juce::AudioBuffer<float>& buffer, int numChannels) noexcept
{
    const auto numSamples = buffer.getNumSamples();
    for (int channel = 0; channel < juce::jmin(numChannels, buffer.getNumChannels()); ++channel)
    {
        auto* samples = buffer.getWritePointer(channel);
        for (int i = 0; i < numSamples; ++i)
            samples[i] = sanitizedSample(samples[i]);
    }
}

} // namespace pendulum::container
