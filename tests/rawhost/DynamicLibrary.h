#pragma once

#include <string>

namespace pendulum::rawhost
{

// A loaded shared library (.so through dlopen, .dll through LoadLibraryW). Move-only; unloads on
// destruction.
class DynamicLibrary
{
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();

    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the file at `path` (UTF-8). On failure returns false and leaves the reason in `error`.
    bool open(const std::string& path, std::string& error);
    void close();

    bool isOpen() const noexcept { return handle_ != nullptr; }

    // Address of an exported symbol, or nullptr.
    void* symbol(const char* name) const;

private:
    void* handle_ = nullptr;
};

} // namespace pendulum::rawhost
