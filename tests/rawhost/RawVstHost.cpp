#include "RawVstHost.h"

#include <filesystem>
#include <mutex>

namespace pendulum::rawhost
{

// Some interface constants are macros, others enumerators of Vst2: unqualified names reach both.
using namespace Vst2;

namespace
{
using PluginEntry = Vst2::AEffect*(VSTCALLBACK*) (Vst2::audioMasterCallback);

// While VSTPluginMain runs the effect does not point back at its host yet, so callbacks made
// during creation go to the host that is loading. Loads are serialised to keep that unambiguous.
std::mutex loadMutex;
std::atomic<RawVstHost*> loadingHost{nullptr};
} // namespace

RawVstHost::RawVstHost() : versionAnswer_(kVstVersion)
{
    resetTimeInfo();
}

RawVstHost::~RawVstHost()
{
    close();
}

bool RawVstHost::fail(const std::string& message)
{
    error_ = message;
    library_.close();
    return false;
}

bool RawVstHost::load(const std::string& path)
{
    close();
    error_.clear();

    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), ec))
        return fail("no such file: " + path);

    std::string reason;
    if (!library_.open(path, reason))
        return fail("cannot load " + path + ": " + reason);

    auto entry = reinterpret_cast<PluginEntry>(library_.symbol("VSTPluginMain"));
    if (entry == nullptr)
        return fail("no VSTPluginMain in " + path);

    Vst2::AEffect* effect = nullptr;
    {
        const std::lock_guard<std::mutex> lock(loadMutex);
        loadingHost = this;
        effect = entry(&RawVstHost::hostCallback);
        if (effect != nullptr)
            effect->resvd1 = reinterpret_cast<Vst2::VstIntPtr>(this);
        loadingHost = nullptr;
    }

    if (effect == nullptr)
        return fail("VSTPluginMain of " + path + " returned no effect");
    if (effect->magic != kEffectMagic)
        return fail("effect of " + path + " has a wrong magic number");

    effect_ = effect;
    return true;
}

void RawVstHost::close()
{
    if (effect_ != nullptr)
    {
        if (resumed_)
            suspend();
        effect_->dispatcher(effect_, Vst2::effClose, 0, 0, nullptr, 0.0f);
        effect_ = nullptr;
    }
    resumed_ = false;
    library_.close();
    resetTimeInfo();
}

void RawVstHost::resetTimeInfo()
{
    timeInfo_ = Vst2::VstTimeInfo{};
    timeInfo_.sampleRate = sampleRate_;
    timeInfo_.tempo = 120.0;
    timeInfo_.timeSigNumerator = 4;
    timeInfo_.timeSigDenominator = 4;
    timeInfo_.flags = Vst2::kVstPpqPosValid | Vst2::kVstTempoValid | Vst2::kVstBarsValid | Vst2::kVstTimeSigValid;
}

Vst2::VstIntPtr VSTCALLBACK RawVstHost::hostCallback(Vst2::AEffect* effect, Vst2::VstInt32 opcode, Vst2::VstInt32 index,
                                                     Vst2::VstIntPtr value, void* ptr, float opt)
{
    RawVstHost* host = nullptr;
    if (effect != nullptr && effect->resvd1 != 0)
        host = reinterpret_cast<RawVstHost*>(effect->resvd1);
    else
        host = loadingHost.load();

    if (host == nullptr)
        return opcode == Vst2::audioMasterVersion ? kVstVersion : 0;

    try
    {
        return host->answer(opcode, index, value, ptr, opt);
    }
    catch (...)
    {
        return 0;
    }
}

} // namespace pendulum::rawhost
