#pragma once

#include "Vst2.h"

/**
    The vendor-specific query that cooperating plugins answer with 1 once they have crashed:
    effVendorSpecific with this index, value and option, and no pointer. Plugins answer it from a
    flag of their own, without work: the watchdog asks it on the message thread, and the container
    on the rendering thread in offline mode.
*/
namespace crash_query
{
constexpr Vst2::VstInt32 index = 654987;
constexpr Vst2::VstIntPtr value = 998723;
constexpr float option = 0.5f;

/** Asks the plugin directly through its dispatcher; true for the answer 1. No exception leaves it. */
inline bool reportsCrash(Vst2::AEffect& effect) noexcept
{
    if (effect.dispatcher == nullptr)
        return false;
    try
    {
        return effect.dispatcher(&effect, Vst2::effVendorSpecific, index, value, nullptr, option) == 1;
    }
    catch (...)
    {
        return false;
    }
}
} // namespace crash_query
