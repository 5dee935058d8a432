#include "StateDocument.h"

#include <cstdio>

namespace pendulum::demo
{

namespace
{
std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text)
    {
        switch (c)
        {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string flag(bool value)
{
    return value ? "1" : "0";
}

std::string slotElement(int index, const SlotContent& slot)
{
    std::string element = "<plugin index=\"" + std::to_string(index) + "\" filePath=\"" + escaped(slot.path) + "\"";
    if (!slot.gain)
        return element + "/>";

    char value[32];
    std::snprintf(value, sizeof(value), "%.4f", static_cast<double>(*slot.gain));
    return element + "><f_parameters param0=\"" + value + "\"/></plugin>";
}
} // namespace

std::string stateDocument(const ContainerSettings& settings, const SlotContent& slot0, const SlotContent& slot1)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<pluginData>"
           "<main_plugin activePlugin=\"" + std::to_string(settings.activeSlot) + "\""
           " optionB0=\"" + flag(settings.showConsole) + "\""
           " optionB1=\"" + flag(settings.autoCrashRecovery) + "\""
           " optionB2=\"" + flag(settings.autoSwitch) + "\""
           " optionB3=\"" + flag(settings.reloadCrashedPluginData) + "\""
           " instanceName=\"" + escaped(settings.instanceName) + "\""
           + (settings.separateProcesses ? " separateProcesses=\"1\"" : "")
           + (settings.hotStandby ? " hotStandby=\"1\"" : "")
           + (settings.watchPeriodMs > 0 ? " watchPeriodMs=\"" + std::to_string(settings.watchPeriodMs) + "\"" : "") + "/>"
           + slotElement(0, slot0) + slotElement(1, slot1) + "</pluginData>";
}

std::vector<unsigned char> bytesOf(const std::string& text)
{
    return { text.begin(), text.end() };
}

} // namespace pendulum::demo
