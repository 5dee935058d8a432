#pragma once

#include "Vst2.h"

namespace pendulum::hostcalls
{

/**
    Whether a host call lacks a pointer that its opcode needs: a string to read or a buffer to fill,
    a chunk, an event list, a rectangle or a parent window. The framework's wrapper reads and
    writes through these pointers without checking them, so such a call is answered 0 and goes no
    further. A host that passes null there has a bug, but the project must not die of it.
*/
bool lacksRequiredPointer(Vst2::VstInt32 opcode, Vst2::VstInt32 index, Vst2::VstIntPtr value, const void* ptr) noexcept;

/**
    For a request of a parameter's name, text or label with an index outside [0, numParameters):
    writes an empty text into `ptr` and returns true (the call is answered 0). The framework's
    wrapper would leave the host's buffer as it was, and hosts that print it regardless print
    whatever their buffer held.
*/
bool answeredMissingParameterText(Vst2::VstInt32 opcode, Vst2::VstInt32 index, Vst2::VstInt32 numParameters,
                                  void* ptr) noexcept;

} // namespace pendulum::hostcalls
