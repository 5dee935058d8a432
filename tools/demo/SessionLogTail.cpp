#include "SessionLogTail.h"

#include <algorithm>
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
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(fs::u8path(folder_), error))
        if (isSessionFile(entry.path()))
            found.push_back(entry.path().u8string());
    // Names start with the session's start time: older sessions first.
    std::sort(found.begin(), found.end());
    for (const auto& path : found)
    {
        auto known = std::find_if(files_.begin(), files_.end(), [&](const File& f) { return f.path == path; });
        if (known == files_.end())
        {
            files_.push_back({ path, 0, {} });
            known = files_.end() - 1;
        }
        readNew(*known, events);
    }
    return events;
}

void SessionLogTail::readNew(File& file, std::vector<std::string>& events)
{
    std::error_code error;
    const auto size = fs::file_size(fs::u8path(file.path), error);
    if (error || size <= file.read)
        return;

    std::ifstream in(fs::u8path(file.path), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(file.read));
    std::string chunk(static_cast<size_t>(size - file.read), '\0');
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    chunk.resize(static_cast<size_t>(in.gcount()));
    file.read += chunk.size();

    file.partial += chunk;
    size_t start = 0;
    for (auto end = file.partial.find('\n'); end != std::string::npos; end = file.partial.find('\n', start))
    {
        auto line = file.partial.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            events.push_back(sessionEventText(line));
        start = end + 1;
    }
    file.partial.erase(0, start);
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
