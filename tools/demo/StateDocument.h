#pragma once

// The state document a host gives PluginPendulum (as its chunk) to fill both slots, as when a DAW
// reopens a project.
#include <optional>
#include <string>
#include <vector>

namespace pendulum::demo
{

struct SlotContent
{
    std::string path;
    std::optional<float> gain; // parameter 0 of the hosted plugin, when set
};

struct ContainerSettings
{
    int activeSlot = 0;
    bool showConsole = false;
    bool autoCrashRecovery = true;
    bool autoSwitch = true;
    bool reloadCrashedPluginData = true;
    std::string instanceName = "demo";
    bool separateProcesses = false; // "Run plugins in separate processes"
    bool hotStandby = false;        // the standby plays every block, its output discarded until a switch
    int watchPeriodMs = 0;          // the watchdog's period; 0: the container's default
};

std::string stateDocument(const ContainerSettings& settings, const SlotContent& slot0, const SlotContent& slot1);

std::vector<unsigned char> bytesOf(const std::string& text);

} // namespace pendulum::demo
