#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Blocking dialogs for the load procedure. Both run a nested modal loop and must be called on the
// message thread; timers and other message-thread work keep running while they wait. Neither keeps
// anything between calls, and neither reports errors.

/**
    Shows the options in a combo box, the first one selected, and returns the one the user picked
    with OK. Closing the dialog picks the first option; Escape does not close it. Duplicate texts
    are separate items. Returns an empty string when there are no options.
*/
juce::String chooseOptionFromList(const juce::String& title, const juce::StringArray& options);

/**
    Lets the user pick an existing file in a framework-drawn browser titled "Open file" that lists
    the files matching filePatterns (wildcards separated by ';' or ','), starting at initialPath
    (a file or directory; empty for the framework's default, the current working directory).
    Returns the full path of the highlighted file when the user confirmed, or an empty string.
*/
juce::String showOpenFileDialog(const juce::String& initialPath, const juce::String& filePatterns,
                                const juce::String& patternDescription, const juce::String& instructions);
