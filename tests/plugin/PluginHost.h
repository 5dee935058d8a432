#pragma once

#include "RawVstHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

/** A fresh raw host with PluginPendulum loaded through its entry point, opened. */
inline std::unique_ptr<pendulum::rawhost::RawVstHost> loadContainer()
{
    auto host = std::make_unique<pendulum::rawhost::RawVstHost>();
    EXPECT_TRUE(host->load(PENDULUM_PLUGIN_PATH)) << host->error();
    if (host->isLoaded())
        host->open();
    return host;
}

/**
    Lets the plugin's message thread work for a while, as a host's event loop does. On Windows the
    plugin's message thread is the host's (the one that loaded it), so its messages are dispatched
    here; on Linux the plugin runs a message thread of its own and this only waits.
*/
inline void runHostEventLoop(int milliseconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end)
    {
#if defined(_WIN32)
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
#endif
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

/** Runs the host's event loop until the condition holds or the time is up; the condition's result. */
inline bool runHostEventLoopUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        runHostEventLoop(10);
    }
    return true;
}
