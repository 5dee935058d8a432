#pragma once

#include "console/KWDebugConsole.h"

#include <atomic>
#include <memory>

// Process-wide console state, one copy per loaded library. Touched on the message thread only;
// container constructions and destructions must not overlap.

/** The single console: created by the first container, deleted with the last. */
extern std::unique_ptr<KWDebugConsole> debugConsole;

/** The console option, one value for every container in the process. Starts false. */
extern std::atomic<bool> consoleEnabled;

/**
    The console's title and bounds came from a restored project; cleared by every save. Atomic:
    a host may save from its own thread.
*/
extern std::atomic<bool> consoleBoundsRestored;

/**
    Prints one line to the console from any thread.

    On the message thread the line goes to the console at once. From another thread (a host may
    prepare or release the plugin from its own threads) the line is handed to the message thread
    and printed there, after the lines posted before it from the same thread; it is dropped if no
    message manager exists or the console is gone by then. Not for the audio thread: it allocates.
*/
void consolePrint(const juce::String& line);
