#include "OutputDiversion.h"

#if defined(_WIN32)
#include <io.h>
#define PENDULUM_DUP _dup
#define PENDULUM_DUP2 _dup2
#define PENDULUM_FDOPEN _fdopen
#define PENDULUM_FILENO _fileno
#define PENDULUM_CLOSE _close
#else
#include <unistd.h>
#define PENDULUM_DUP dup
#define PENDULUM_DUP2 dup2
#define PENDULUM_FDOPEN fdopen
#define PENDULUM_FILENO fileno
#define PENDULUM_CLOSE close
#endif

namespace pendulum::demo
{

OutputDiversion::OutputDiversion(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
        return;

    std::fflush(stdout);
    std::fflush(stderr);
    const int original = PENDULUM_FILENO(stdout);
    savedStdout_ = PENDULUM_DUP(original);
    const int forTerminal = savedStdout_ >= 0 ? PENDULUM_DUP(savedStdout_) : -1;
    if (forTerminal >= 0 && PENDULUM_DUP2(PENDULUM_FILENO(file), original) >= 0)
    {
        terminal_ = PENDULUM_FDOPEN(forTerminal, "w");
        // Helper processes started meanwhile inherit both: their loaders' lines go to the file too.
        savedStderr_ = PENDULUM_DUP(PENDULUM_FILENO(stderr));
        if (savedStderr_ >= 0 && PENDULUM_DUP2(PENDULUM_FILENO(file), PENDULUM_FILENO(stderr)) < 0)
        {
            PENDULUM_CLOSE(savedStderr_);
            savedStderr_ = -1;
        }
    }
    std::fclose(file);

    if (terminal_ == nullptr)
    {
        if (forTerminal >= 0)
            PENDULUM_CLOSE(forTerminal);
        if (savedStdout_ >= 0)
            PENDULUM_DUP2(savedStdout_, original);
    }
}

OutputDiversion::~OutputDiversion()
{
    if (terminal_ != nullptr)
    {
        std::fflush(stdout);
        std::fflush(stderr);
        std::fflush(terminal_);
        PENDULUM_DUP2(savedStdout_, PENDULUM_FILENO(stdout));
        if (savedStderr_ >= 0)
        {
            PENDULUM_DUP2(savedStderr_, PENDULUM_FILENO(stderr));
            PENDULUM_CLOSE(savedStderr_);
        }
        std::fclose(terminal_);
    }
    if (savedStdout_ >= 0)
        PENDULUM_CLOSE(savedStdout_);
}

} // namespace pendulum::demo
