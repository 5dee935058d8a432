// Runs the validation and host-abuse tests, then prints what they tried.
#include "ValidationHost.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#if defined(__linux__)
#include <X11/Xlib.h>
#endif

namespace
{
#if defined(__linux__)
// Like any real host, the test process handles X errors itself: JUCE inside the plugin leaves that
// to the host, and Xlib's default handler would end the process on the first one (an atom of a
// window manager that Xvfb does not run, for example).
int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}
#endif

class TallyReport : public ::testing::Environment
{
public:
    void TearDown() override
    {
        const auto& counts = validation::tally();
        std::cout << "validation tally" << (validation::isolatedSlots() ? " (slots in helper processes)" : "") << ": " << counts.processCalls << " process calls, " << counts.samplesChecked
                  << " output samples checked, " << counts.dispatcherCalls << " abusive dispatcher calls, "
                  << counts.chunksTried << " chunks set, " << counts.parameterCalls << " parameter calls\n";
    }
};
} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--isolated")
            validation::isolatedSlots() = true;
    ::testing::AddGlobalTestEnvironment(new TallyReport);
#if defined(__linux__)
    XSetErrorHandler(ignoreXError);
#endif
    return RUN_ALL_TESTS();
}
