// Test entry point: JUCE's GUI support is initialised once, on the thread that runs the tests,
// which becomes the message thread.
#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "console/SessionLog.h"

#if defined(__linux__)
#include <X11/Xlib.h>

namespace
{
// Like any real host, the test process handles X errors itself: JUCE inside a plugin leaves that
// to the host, and Xlib's default handler ends the process on the first error (for example when
// a window-manager atom does not exist because Xvfb runs without a window manager).
int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}
} // namespace
#endif

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
#if defined(__linux__)
    XSetErrorHandler(ignoreXError);
#endif
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    // Run by hand rather than by CTest (which sets it): the session logs still stay out of the
    // user's data folder.
    if (juce::SystemStats::getEnvironmentVariable("PENDULUM_LOG_DIR", {}).isEmpty())
        session_log::setFolder(juce::File::getSpecialLocation(juce::File::tempDirectory)
                                   .getChildFile("pendulum-tests")
                                   .getChildFile("logs"));
    return RUN_ALL_TESTS();
}
