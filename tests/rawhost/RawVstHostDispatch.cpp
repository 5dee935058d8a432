// RawVstHost's dispatcher helpers: one small wrapper per opcode the tests use.
#include "RawVstHost.h"

#include <cstring>

namespace pendulum::rawhost
{

namespace
{
// Generous room for string answers: plugins are known to overrun the nominal lengths.
constexpr std::size_t kStringCapacity = 256;
} // namespace

Vst2::VstIntPtr RawVstHost::dispatch(Vst2::VstInt32 opcode, Vst2::VstInt32 index, Vst2::VstIntPtr value, void* ptr,
                                     float opt)
{
    if (effect_ == nullptr)
        return 0;
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string RawVstHost::dispatchString(Vst2::VstInt32 opcode, Vst2::VstInt32 index)
{
    char text[kStringCapacity] = {};
    dispatch(opcode, index, 0, text);
    text[kStringCapacity - 1] = '\0';
    return text;
}

Vst2::VstIntPtr RawVstHost::open()
{
    return dispatch(Vst2::effOpen);
}

void RawVstHost::setSampleRate(double sampleRate)
{
    sampleRate_ = sampleRate;
    timeInfo_.sampleRate = sampleRate;
    dispatch(Vst2::effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
}

void RawVstHost::setBlockSize(int blockSize)
{
    blockSize_ = blockSize;
    dispatch(Vst2::effSetBlockSize, 0, blockSize);
}

void RawVstHost::resume()
{
    if (effect_ == nullptr)
        return;
    dispatch(Vst2::effMainsChanged, 0, 1);
    resumed_ = true;
}

void RawVstHost::suspend()
{
    if (effect_ == nullptr)
        return;
    dispatch(Vst2::effMainsChanged, 0, 0);
    resumed_ = false;
}

Vst2::VstIntPtr RawVstHost::canDo(const std::string& feature)
{
    std::vector<char> text(feature.begin(), feature.end());
    text.push_back('\0');
    return dispatch(Vst2::effCanDo, 0, 0, text.data());
}

std::string RawVstHost::effectName()
{
    return dispatchString(Vst2::effGetEffectName);
}

std::string RawVstHost::vendorString()
{
    return dispatchString(Vst2::effGetVendorString);
}

std::string RawVstHost::productString()
{
    return dispatchString(Vst2::effGetProductString);
}

Vst2::VstIntPtr RawVstHost::vendorVersion()
{
    return dispatch(Vst2::effGetVendorVersion);
}

Vst2::VstIntPtr RawVstHost::vstVersion()
{
    return dispatch(Vst2::effGetVstVersion);
}

Vst2::VstIntPtr RawVstHost::category()
{
    return dispatch(Vst2::effGetPlugCategory);
}

int RawVstHost::numParameters() const noexcept
{
    return effect_ != nullptr ? effect_->numParams : 0;
}

float RawVstHost::getParameter(int index)
{
    return effect_ != nullptr ? effect_->getParameter(effect_, index) : 0.0f;
}

void RawVstHost::setParameter(int index, float value)
{
    if (effect_ != nullptr)
        effect_->setParameter(effect_, index, value);
}

std::string RawVstHost::parameterName(int index)
{
    return dispatchString(Vst2::effGetParamName, index);
}

std::string RawVstHost::parameterDisplay(int index)
{
    return dispatchString(Vst2::effGetParamDisplay, index);
}

std::string RawVstHost::parameterLabel(int index)
{
    return dispatchString(Vst2::effGetParamLabel, index);
}

int RawVstHost::numPrograms() const noexcept
{
    return effect_ != nullptr ? effect_->numPrograms : 0;
}

Vst2::VstIntPtr RawVstHost::program()
{
    return dispatch(Vst2::effGetProgram);
}

void RawVstHost::setProgram(int index)
{
    dispatch(Vst2::effSetProgram, 0, index);
}

std::string RawVstHost::programName()
{
    return dispatchString(Vst2::effGetProgramName);
}

void RawVstHost::setProgramName(const std::string& name)
{
    char text[kStringCapacity] = {};
    std::strncpy(text, name.c_str(), kStringCapacity - 1);
    dispatch(Vst2::effSetProgramName, 0, 0, text);
}

std::optional<std::string> RawVstHost::programNameIndexed(int index)
{
    char text[kStringCapacity] = {};
    if (dispatch(Vst2::effGetProgramNameIndexed, index, -1, text) == 0)
        return std::nullopt;
    text[kStringCapacity - 1] = '\0';
    return std::string(text);
}

std::vector<unsigned char> RawVstHost::getChunk(ChunkKind kind)
{
    void* data = nullptr;
    const Vst2::VstIntPtr size = dispatch(Vst2::effGetChunk, static_cast<Vst2::VstInt32>(kind), 0, &data);
    if (size <= 0 || data == nullptr)
        return {};
    const auto* bytes = static_cast<const unsigned char*>(data);
    return std::vector<unsigned char>(bytes, bytes + size);
}

Vst2::VstIntPtr RawVstHost::setChunk(ChunkKind kind, const std::vector<unsigned char>& data)
{
    // The plugin receives a mutable pointer; hand it a copy so it cannot change the caller's bytes.
    std::vector<unsigned char> copy(data);
    return dispatch(Vst2::effSetChunk, static_cast<Vst2::VstInt32>(kind), static_cast<Vst2::VstIntPtr>(copy.size()),
                    copy.empty() ? nullptr : copy.data());
}

bool RawVstHost::inputProperties(int index, Vst2::VstPinProperties& out)
{
    out = Vst2::VstPinProperties{};
    return dispatch(Vst2::effGetInputProperties, index, 0, &out) != 0;
}

bool RawVstHost::outputProperties(int index, Vst2::VstPinProperties& out)
{
    out = Vst2::VstPinProperties{};
    return dispatch(Vst2::effGetOutputProperties, index, 0, &out) != 0;
}

Vst2::VstIntPtr RawVstHost::setSpeakerArrangement(int numInputs, int numOutputs)
{
    inputArrangement_.build(numInputs);
    outputArrangement_.build(numOutputs);
    return dispatch(Vst2::effSetSpeakerArrangement, 0, reinterpret_cast<Vst2::VstIntPtr>(inputArrangement_.get()),
                    outputArrangement_.get());
}

bool RawVstHost::editorRect(Vst2::ERect& out)
{
    Vst2::ERect* rect = nullptr;
    dispatch(Vst2::effEditGetRect, 0, 0, &rect);
    if (rect == nullptr)
        return false;
    out = *rect;
    return true;
}

Vst2::VstIntPtr RawVstHost::vendorSpecific(Vst2::VstInt32 index, Vst2::VstIntPtr value, void* ptr, float opt)
{
    return dispatch(Vst2::effVendorSpecific, index, value, ptr, opt);
}

std::vector<ShellEntry> RawVstHost::shellPlugins(std::size_t limit)
{
    std::vector<ShellEntry> entries;
    while (entries.size() < limit)
    {
        char name[kStringCapacity] = {};
        const auto uniqueId = static_cast<Vst2::VstInt32>(dispatch(Vst2::effShellGetNextPlugin, 0, 0, name));
        if (uniqueId == 0)
            break;
        name[kStringCapacity - 1] = '\0';
        entries.push_back({uniqueId, name});
    }
    return entries;
}

Vst2::VstIntPtr RawVstHost::tailSize()
{
    return dispatch(Vst2::effGetTailSize);
}

Vst2::VstIntPtr RawVstHost::setBypass(bool bypass)
{
    return dispatch(Vst2::effSetBypass, 0, bypass ? 1 : 0);
}

} // namespace pendulum::rawhost
