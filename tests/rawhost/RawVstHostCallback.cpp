// The host side of the conversation: what RawVstHost records and answers when the plugin calls us.
#include "RawVstHost.h"

#include <cstring>

namespace pendulum::rawhost
{

// Some interface constants are macros, others enumerators of Vst2: unqualified names reach both.
using namespace Vst2;

namespace
{
void copyString(void* destination, const char* text, std::size_t capacity)
{
    if (destination == nullptr)
        return;
    auto* out = static_cast<char*>(destination);
    std::strncpy(out, text, capacity - 1);
    out[capacity - 1] = '\0';
}
} // namespace

Vst2::VstIntPtr RawVstHost::answerCanDo(const std::string& feature) const
{
    static const char* const supported[] = {"sendVstEvents",    "sendVstMidiEvent",    "sendVstTimeInfo",
                                            "receiveVstEvents", "receiveVstMidiEvent", "supportShell",
                                            "shellCategory"};
    for (const char* name : supported)
        if (feature == name)
            return 1;
    return 0;
}

Vst2::VstIntPtr RawVstHost::answer(Vst2::VstInt32 opcode, Vst2::VstInt32 index, Vst2::VstIntPtr value, void* ptr,
                                   float opt)
{
    HostCall call{opcode, index, value, opt, {}};
    if (opcode == Vst2::audioMasterCanDo && ptr != nullptr)
        call.text = static_cast<const char*>(ptr);
    const std::string feature = call.text;
    calls_.record(std::move(call));

    switch (opcode)
    {
    case Vst2::audioMasterVersion:
        return versionAnswer_;
    case Vst2::audioMasterCurrentId:
        return currentIdAnswer_;
    case Vst2::audioMasterGetSampleRate:
        return static_cast<Vst2::VstIntPtr>(sampleRate_.load());
    case Vst2::audioMasterGetBlockSize:
        return blockSize_.load();
    case Vst2::audioMasterGetTime:
        return reinterpret_cast<Vst2::VstIntPtr>(&timeInfo_);
    case Vst2::audioMasterCanDo:
        return answerCanDo(feature);
    case Vst2::audioMasterGetVendorString:
        copyString(ptr, kVendorString, kVstMaxVendorStrLen);
        return ptr != nullptr ? 1 : 0;
    case Vst2::audioMasterGetProductString:
        copyString(ptr, kProductString, kVstMaxProductStrLen);
        return ptr != nullptr ? 1 : 0;
    case Vst2::audioMasterGetVendorVersion:
        return kVendorVersion;
    case Vst2::audioMasterGetCurrentProcessLevel:
        if (offline_)
            return Vst2::kVstProcessLevelOffline;
        return processing_ ? Vst2::kVstProcessLevelRealtime : Vst2::kVstProcessLevelUser;
    case Vst2::audioMasterGetAutomationState:
        return Vst2::kVstAutomationOff;
    case Vst2::audioMasterGetLanguage:
        return 1;
    case Vst2::audioMasterIOChanged:
    case Vst2::audioMasterBeginEdit:
    case Vst2::audioMasterEndEdit:
    case Vst2::audioMasterUpdateDisplay:
        return 1;
    default:
        return 0;
    }
}

} // namespace pendulum::rawhost
