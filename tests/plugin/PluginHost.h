#pragma once

#include "RawVstHost.h"

#include <gtest/gtest.h>

#include <memory>

/** A fresh raw host with PluginPendulum loaded through its entry point, opened. */
inline std::unique_ptr<pendulum::rawhost::RawVstHost> loadContainer()
{
    auto host = std::make_unique<pendulum::rawhost::RawVstHost>();
    EXPECT_TRUE(host->load(PENDULUM_PLUGIN_PATH)) << host->error();
    if (host->isLoaded())
        host->open();
    return host;
}
