#include "container/HostCallGuard.h"

namespace pendulum::hostcalls
{

bool lacksRequiredPointer(Vst2::VstInt32 opcode, Vst2::VstInt32 index, Vst2::VstIntPtr value, const void* ptr) noexcept
{
    switch (opcode)
    {
    // A string read from the host, or a buffer or record written for it.
    case Vst2::effSetProgramName:
    case Vst2::effGetProgramName:
    case Vst2::effGetParamLabel:
    case Vst2::effGetParamDisplay:
    case Vst2::effGetParamName:
    case Vst2::effEditGetRect:
    case Vst2::effGetChunk:
    case Vst2::effProcessEvents:
    case Vst2::effString2Parameter:
    case Vst2::effGetProgramNameIndexed:
    case Vst2::effGetInputProperties:
    case Vst2::effGetOutputProperties:
    case Vst2::effGetEffectName:
    case Vst2::effGetVendorString:
    case Vst2::effGetProductString:
    case Vst2::effCanDo:
    // The editor needs the window to live in.
    case Vst2::effEditOpen:
        return ptr == nullptr;

    // A chunk with bytes but no memory; an empty chunk is simply ignored further on.
    case Vst2::effSetChunk:
        return ptr == nullptr && value != 0;

    // Both speaker arrangements travel as pointers, the input one in `value`.
    case Vst2::effSetSpeakerArrangement:
    case Vst2::effGetSpeakerArrangement:
        return ptr == nullptr || value == 0;

    // A host extension that writes a parameter's text into `ptr`.
    case Vst2::effVendorSpecific:
        return index == Vst2::effGetParamDisplay && ptr == nullptr;

    default:
        return false;
    }
}

bool answeredMissingParameterText(Vst2::VstInt32 opcode, Vst2::VstInt32 index, Vst2::VstInt32 numParameters,
                                  void* ptr) noexcept
{
    const bool textRequest =
        opcode == Vst2::effGetParamName || opcode == Vst2::effGetParamDisplay || opcode == Vst2::effGetParamLabel;
    if (!textRequest || ptr == nullptr || (index >= 0 && index < numParameters))
        return false;

    *static_cast<char*>(ptr) = '\0';
    return true;
}

} // namespace pendulum::hostcalls
