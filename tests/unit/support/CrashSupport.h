#pragma once

#include "CrashProbe.h"
#include "container/PluginContainerAudioProcessor.h"
#include "crashwatch/CrashWatchDog.h"
#include "hosting/EffectHandle.h"

#include <gtest/gtest.h>

/** Makes the crash fixture in the slot report a crash from now on (its own trigger opcode). */
inline void makeCrash(PluginContainerAudioProcessor& container, int slot)
{
    auto* instance = container.getPluginInstance(slot);
    ASSERT_NE(instance, nullptr) << "slot " << slot;
    auto* effect = vstEffectOf(*instance);
    ASSERT_EQ(effect->dispatcher(effect, Vst2::effVendorSpecific, pendulum::fixtures::crash_probe::kCrashIndex, 0,
                                 nullptr, 0.0f),
              1);
}

/**
    One watchdog tick, run by the test rather than the timer. The timer is stopped first so that no
    real tick comes in between; the tests that want real time say so.
*/
inline void tickWatchdog()
{
    ASSERT_NE(watchdog, nullptr);
    watchdog->stopTimer();
    watchdog->timerCallback();
    if (watchdog != nullptr)
        watchdog->stopTimer();
}
