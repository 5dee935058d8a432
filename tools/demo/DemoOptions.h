#pragma once

// The demonstration's command line.
#include <optional>
#include <string>

namespace pendulum::demo
{

struct DemoOptions
{
    std::string pluginPath;      // PluginPendulum itself
    std::string instrument0;     // slot 0; empty: the crash fixture
    std::string instrument1;     // slot 1; empty: the second fixture
    std::string outputFolder = "demo-output";
    double seconds = 8.0;
    std::optional<double> crashAt; // seconds; default: a little after the middle of the run, inside a note
    bool sendCrash = true;
    bool cooperative = false; // slot 0 in the host's process, reporting its crash to the watchdog's query
    bool hotStandby = true;
    int watchPeriodMs = 50;
    bool check = false;
    int maxSilentBlocksAtSwitch = 1;
};

/** Parses the arguments; on a mistake or --help, prints to stderr/stdout and gives no options. */
std::optional<DemoOptions> parseDemoOptions(int argc, char** argv, const DemoOptions& defaults, int& exitCode);

} // namespace pendulum::demo
