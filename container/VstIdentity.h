#pragma once

#include "Vst2.h"

// What the container tells a VST2 host about itself, where the JUCE wrapper's own answers differ:
// the canDo table, the vendor version, the AEffect flags and counts, and the output pins.

namespace pendulum::identity
{
constexpr Vst2::VstInt32 uniqueId = CCONST('P', 'n', 'd', 'm');
// The project's version (from the build), folded as major * 100 + minor * 10 + patch: 1.0.0 is 100.
#if !defined(PENDULUM_VERSION_MAJOR)
#error "PENDULUM_VERSION_MAJOR, _MINOR and _PATCH come from the build (cmake/PluginTarget.cmake)"
#endif
constexpr Vst2::VstInt32 vendorVersion = PENDULUM_VERSION_MAJOR * 100 + PENDULUM_VERSION_MINOR * 10 + PENDULUM_VERSION_PATCH;
constexpr Vst2::VstInt32 vstVersion = 2400;
constexpr int numOutputs = 2;
constexpr Vst2::VstInt32 effectFlags = Vst2::effFlagsHasEditor | Vst2::effFlagsCanReplacing
                                     | Vst2::effFlagsProgramChunks | Vst2::effFlagsIsSynth
                                     | Vst2::effFlagsNoSoundInStop;

/** The most characters of a parameter name that reach the host. */
constexpr int maxParameterNameLength = 16;

/** Room for what the wrapper writes as a parameter name (32 bytes and the terminator), with spare. */
constexpr int wrapperParamNameCapacity = 64;

/**
    Copies a parameter name, cut to maxParameterNameLength bytes of UTF-8 (16 characters of an
    ASCII name; a multi-byte character is copied whole or not at all), with its terminator, into
    dest, which has room for 17 bytes.
*/
void cutParameterName(const char* fullName, char* dest) noexcept;

/** The answer to effCanDo: 1 yes, -1 no, 0 for anything not in the table (null included). */
Vst2::VstIntPtr answerCanDo(const char* text) noexcept;

/** Fills an output pin record; false for an index that is not one of the two outputs. */
bool describeOutputPin(int index, Vst2::VstPinProperties& pin) noexcept;

/** Corrects the AEffect record that the wrapper built. */
void applyToEffect(Vst2::AEffect& effect) noexcept;

/**
    Answers the opcodes whose answers the container fixes itself, writing the result. Returns
    false for every other opcode, which then goes to the wrapper.
*/
bool answerOpcode(Vst2::VstInt32 opcode, Vst2::VstInt32 index, void* ptr, Vst2::VstIntPtr& result) noexcept;
} // namespace pendulum::identity
