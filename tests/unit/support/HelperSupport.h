#pragma once

// Tests whose slots run in helper processes: the helper built with the tests, and sanitizer
// options under which a helper dies of its fault as a plain build's does.
#include <cstdlib>
#include <string>

namespace test_support
{
// How a helper that dereferences null ends, in the platform's words.
#if defined(_WIN32)
constexpr const char* nullDereference = "access violation (0xC0000005)";
#else
constexpr const char* nullDereference = "segmentation fault (signal 11)";
#endif

/** Points the container at a helper executable (the variable it reads before looking next to itself). */
inline void useHelper(const char* path)
{
#if defined(_WIN32)
    _putenv_s("PENDULUM_SLOT_HOST", path);
#else
    setenv("PENDULUM_SLOT_HOST", path, 1);
    // Under a sanitizer the helper inherits its options: it must die of its fault (a segmentation
    // fault by its signal), not report it and exit.
    for (const char* name : { "ASAN_OPTIONS", "TSAN_OPTIONS" })
    {
        std::string options = std::getenv(name) != nullptr ? std::getenv(name) : "";
        if (options.find("handle_segv=0") == std::string::npos)
            options += std::string(options.empty() ? "" : ":") + "handle_segv=0:handle_sigbus=0:handle_sigfpe=0";
        setenv(name, options.c_str(), 1);
    }
#endif
}
} // namespace test_support
