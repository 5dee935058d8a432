// The plugin library's only export. It lets JUCE's VST2 wrapper build the plugin, then puts a thin
// dispatcher in front of the wrapper's so that the host gets the container's own identity answers.
#include "container/HostCallGuard.h"
#include "container/VstIdentity.h"

#include <atomic>

extern "C" Vst2::AEffect* juceWrapperVSTPluginMain(Vst2::audioMasterCallback host);

namespace
{
// The wrapper uses one static dispatcher function for every instance.
std::atomic<Vst2::AEffectDispatcherProc> wrapperDispatcher { nullptr };

Vst2::VstIntPtr VSTCALLBACK containerDispatcher(Vst2::AEffect* effect, Vst2::VstInt32 opcode, Vst2::VstInt32 index,
                                                Vst2::VstIntPtr value, void* ptr, float opt)
{
    Vst2::VstIntPtr result = 0;

    if (pendulum::hostcalls::lacksRequiredPointer(opcode, index, value, ptr)
        || pendulum::hostcalls::answeredMissingParameterText(opcode, index, effect->numParams, ptr))
        return 0;

    if (pendulum::identity::answerOpcode(opcode, index, ptr, result))
        return result;

    const auto wrapper = wrapperDispatcher.load();

    // Parameter names reach the host cut to 16 characters: the wrapper would write up to 32 into
    // a buffer that many hosts size for far fewer.
    if (opcode == Vst2::effGetParamName && ptr != nullptr)
    {
        char full[pendulum::identity::wrapperParamNameCapacity] = {};
        result = wrapper(effect, opcode, index, value, full, opt);
        pendulum::identity::cutParameterName(full, static_cast<char*>(ptr));
        return result;
    }

    return wrapper(effect, opcode, index, value, ptr, opt);
}
} // namespace

#if defined(_WIN32)
#define PENDULUM_EXPORT __declspec(dllexport)
#else
#define PENDULUM_EXPORT __attribute__((visibility("default")))
#endif

extern "C" PENDULUM_EXPORT Vst2::AEffect* VSTPluginMain(Vst2::audioMasterCallback host)
{
    auto* effect = juceWrapperVSTPluginMain(host);

    if (effect == nullptr)
        return nullptr;

    wrapperDispatcher.store(effect->dispatcher);
    effect->dispatcher = containerDispatcher;
    pendulum::identity::applyToEffect(*effect);
    return effect;
}
