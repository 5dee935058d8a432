#include "container/VstIdentity.h"

#include "container/PluginContainerAudioProcessor.h"

#include <cstring>

namespace pendulum::identity
{
namespace
{
struct CanDoAnswer
{
    const char* text;
    Vst2::VstIntPtr answer;
};

constexpr CanDoAnswer canDoTable[] = {
    { "receiveVstEvents", 1 },  { "receiveVstMidiEvent", 1 },  { "receiveVstMidiEvents", 1 },
    { "sendVstEvents", -1 },    { "sendVstMidiEvent", -1 },    { "sendVstMidiEvents", -1 },
    { "receiveVstTimeInfo", 1 }, { "conformsToWindowRules", 1 }, { "bypass", 1 },
    { "openCloseAnyThread", -1 },
};

void copyText(char* destination, size_t capacity, const juce::String& text) noexcept
{
    text.copyToUTF8(destination, capacity);
}
} // namespace

Vst2::VstIntPtr answerCanDo(const char* text) noexcept
{
    if (text == nullptr)
        return 0;

    for (const auto& entry : canDoTable)
        if (std::strcmp(entry.text, text) == 0)
            return entry.answer;

    return 0;
}

void cutParameterName(const char* fullName, char* dest) noexcept
{
    size_t length = 0;
    int characters = 0;

    // Counts characters, not bytes: a UTF-8 sequence is copied whole or not at all.
    while (fullName[length] != 0 && characters < maxParameterNameLength)
    {
        size_t next = length + 1;
        while ((static_cast<unsigned char>(fullName[next]) & 0xc0) == 0x80)
            ++next;

        if (next > (size_t) maxParameterNameLength)
            break;

        length = next;
        ++characters;
    }

    std::memcpy(dest, fullName, length);
    dest[length] = 0;
}

bool describeOutputPin(int index, Vst2::VstPinProperties& pin) noexcept
{
    if (index < 0 || index >= numOutputs)
        return false;

    std::memset(&pin, 0, sizeof(pin));
    const auto name = PluginContainerAudioProcessor::channelNameFor(index);
    copyText(pin.label, sizeof(pin.label), name);
    copyText(pin.shortLabel, sizeof(pin.shortLabel), name);
    pin.flags = Vst2::kVstPinIsActive | Vst2::kVstPinIsStereo;
    pin.arrangementType = Vst2::kSpeakerArrStereo;
    return true;
}

void applyToEffect(Vst2::AEffect& effect) noexcept
{
    effect.flags = effectFlags;
    effect.numPrograms = 0;
    effect.version = vendorVersion;
    effect.uniqueID = uniqueId;
}

bool answerOpcode(Vst2::VstInt32 opcode, Vst2::VstInt32 index, void* ptr, Vst2::VstIntPtr& result) noexcept
{
    switch (opcode)
    {
    case Vst2::effCanDo:
        result = answerCanDo(static_cast<const char*>(ptr));
        return true;

    case Vst2::effGetVendorVersion:
        result = vendorVersion;
        return true;

    case Vst2::effGetVstVersion:
        result = vstVersion;
        return true;

    case Vst2::effGetTailSize:
        result = 0;
        return true;

    case Vst2::effGetOutputProperties:
        result = (ptr != nullptr && describeOutputPin(index, *static_cast<Vst2::VstPinProperties*>(ptr))) ? 1 : 0;
        return true;

    case Vst2::effGetInputProperties:
        result = 0; // no inputs
        return true;

    default:
        return false;
    }
}
} // namespace pendulum::identity
