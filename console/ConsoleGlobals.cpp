#include "console/ConsoleGlobals.h"

std::unique_ptr<KWDebugConsole> debugConsole;
std::atomic<bool> consoleEnabled { false };
std::atomic<bool> consoleBoundsRestored { false };

namespace
{
void printOnMessageThread(const juce::String& line)
{
    if (debugConsole != nullptr)
        debugConsole->print(line);
}
} // namespace

void consolePrint(const juce::String& line)
{
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();

    if (messageManager == nullptr)
        return;

    if (messageManager->isThisTheMessageThread())
    {
        printOnMessageThread(line);
        return;
    }

    juce::MessageManager::callAsync([line] { printOnMessageThread(line); });
}
