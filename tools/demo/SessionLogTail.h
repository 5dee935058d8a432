#pragma once

// PluginPendulum's session log as a host-side observer reads it: the plugin writes one line per
// event (loads, crashes with their cause, switches, recoveries) into a file of a folder named by
// PENDULUM_LOG_DIR. The demo points that variable at a folder of its own before it loads the
// plugin and reads the new lines between blocks, so each event gets the audio position at which
// the host could first have known of it.
#include <string>
#include <vector>

namespace pendulum::demo
{

class SessionLogTail
{
public:
    /** Empties `folder` of earlier sessions' logs (creating it if needed). An empty folder reads nothing. */
    explicit SessionLogTail(std::string folder);

    /** Points PENDULUM_LOG_DIR at the folder for plugins loaded from now on in this process. */
    bool exportToEnvironment() const;

    /** The event texts (without time stamp and instance name) written since the last call. */
    std::vector<std::string> poll();

    const std::string& folder() const noexcept { return folder_; }

private:
    struct File
    {
        std::string path;
        unsigned long long read = 0; // bytes consumed
        std::string partial;         // the start of a line not yet ended
    };

    void readNew(File& file, std::vector<std::string>& events);

    std::string folder_;
    // One per session file seen: a plugin unloaded and loaded again in the same process may start
    // another file (its file name is fixed when its library is loaded).
    std::vector<File> files_;
};

/** The text of one session log line: what follows the time stamp and the instance name. */
std::string sessionEventText(const std::string& line);

} // namespace pendulum::demo
