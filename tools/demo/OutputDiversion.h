#pragma once

// PluginPendulum's plugin loader writes its diagnostics to the process's standard output, and the
// helper processes of isolated slots theirs to standard error. While a diversion exists, both go
// to a file instead, and the demo writes its own lines (errors too) to the terminal through
// terminal(): the screen shows the demo's progress, the file keeps the plugin's lines.
#include <cstdio>
#include <string>

namespace pendulum::demo
{

class OutputDiversion
{
public:
    explicit OutputDiversion(const std::string& path);
    ~OutputDiversion();
    OutputDiversion(const OutputDiversion&) = delete;
    OutputDiversion& operator=(const OutputDiversion&) = delete;

    /** Where the demo's own output goes: the original standard output (stdout itself if the diversion failed). */
    std::FILE* terminal() const noexcept { return terminal_ != nullptr ? terminal_ : stdout; }
    bool diverted() const noexcept { return terminal_ != nullptr; }

private:
    std::FILE* terminal_ = nullptr;
    int savedStdout_ = -1;
    int savedStderr_ = -1;
};

} // namespace pendulum::demo
