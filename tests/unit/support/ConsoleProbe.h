#pragma once

#include "console/ConsoleGlobals.h"
#include "console/KWDebugConsoleWindow.h"
#include "console/NewComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** Reads what the console window shows, and runs the message loop for handed-over lines. */
namespace console_probe
{
inline juce::String text(KWDebugConsole& console)
{
    auto* window = console.getWindow();
    return window != nullptr ? window->getContent()->getTextEditor().getText() : juce::String();
}

inline juce::String text()
{
    return debugConsole != nullptr ? text(*debugConsole) : juce::String();
}

inline juce::StringArray lines()
{
    juce::StringArray result;
    result.addLines(text());
    result.removeEmptyStrings();
    return result;
}

/** The console lines printed by the call, without the ones before it. */
template <typename Call>
juce::StringArray linesOf(Call&& call)
{
    const auto before = lines().size();
    call();
    auto result = lines();
    result.removeRange(0, before);
    return result;
}

inline void pumpMessages(int milliseconds = 50)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}
} // namespace console_probe
