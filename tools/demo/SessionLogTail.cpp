#include "SessionLogTail.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace pendulum::demo
{

namespace
{
namespace fs = std::filesystem;

bool isSessionFile(const fs::path& path)
{
    const auto name = path.filename().u8string();
    return name.rfind("session-", 0) == 0 && path.extension() == ".log";
}
} // namespace

SessionLogTail::SessionLogTail(std::string folder) : folder_(std::move(folder))
{
    if (folder_.empty())
        return;
    std::error_code error;
    const auto path = fs::absolute(fs::u8path(folder_), error);
    if (!error)
        folder_ = path.u8string();
    fs::create_directories(fs::u8path(folder_), error);
    for (const auto& entry : fs::directory_iterator(fs::u8path(folder_), error))
        if (isSessionFile(entry.path()))
            fs::remove(entry.path(), error);
}

bool SessionLogTail::exportToEnvironment() const
{
    if (folder_.empty())
        return false;
#if defined(_WIN32)
    return _putenv_s("PENDULUM_LOG_DIR", folder_.c_str()) == 0;
#else
    return setenv("PENDULUM_LOG_DIR", folder_.c_str(), 1) == 0;
#endif
}

std::vector<std::string> SessionLogTail::poll()
{
    std::vector<std::string> events;
    if (folder_.empty())
        return events;

    std::error_code error;
    if (file_.empty())
    {
        for (const auto& entry : fs::directory_iterator(fs::u8path(folder_), error))
            if (isSessionFile(entry.path()))
                file_ = entry.path().u8string();
        if (file_.empty())
            return events;
    }

    const auto size = fs::file_size(fs::u8path(file_), error);
    if (error || size <= read_)
        return events;

    std::ifstream in(fs::u8path(file_), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(read_));
    std::string chunk(static_cast<size_t>(size - read_), '\0');
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    chunk.resize(static_cast<size_t>(in.gcount()));
    read_ += chunk.size();

    partial_ += chunk;
    size_t start = 0;
    for (auto end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n', start))
    {
        auto line = partial_.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            events.push_back(sessionEventText(line));
        start = end + 1;
    }
    partial_.erase(0, start);
    return events;
}

std::string sessionEventText(const std::string& line)
{
    // "2026-12-11 12:04:31.250  <instance name>  <text>": two spaces after the stamp and the name.
    const auto afterStamp = line.find("  ");
    if (afterStamp == std::string::npos)
        return line;
    const auto afterName = line.find("  ", afterStamp + 2);
    return afterName == std::string::npos ? line.substr(afterStamp + 2) : line.substr(afterName + 2);
}

} // namespace pendulum::demo
