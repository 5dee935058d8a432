#include "hosting/PluginCallTracker.h"

#include <array>
#include <utility>

namespace plugin_calls
{
namespace
{
// Calls nest only a few deep, and only a few plugins are ever in a call at once: a small table.
constexpr int maxPlugins = 16;
std::array<std::pair<const void*, int>, maxPlugins> depths {};

std::pair<const void*, int>* entryFor(const void* plugin, bool create) noexcept
{
    std::pair<const void*, int>* freeEntry = nullptr;

    for (auto& entry : depths)
    {
        if (entry.first == plugin)
            return &entry;
        if (entry.first == nullptr && freeEntry == nullptr)
            freeEntry = &entry;
    }

    if (!create || freeEntry == nullptr)
        return nullptr;

    freeEntry->first = plugin;
    freeEntry->second = 0;
    return freeEntry;
}
} // namespace

Scope::Scope(const void* p) noexcept : plugin(p)
{
    if (plugin == nullptr)
        return;

    if (auto* entry = entryFor(plugin, true))
        ++entry->second;
    else
        plugin = nullptr; // table full: not counted (and not uncounted)
}

Scope::~Scope()
{
    if (plugin == nullptr)
        return;

    if (auto* entry = entryFor(plugin, false); entry != nullptr && --entry->second <= 0)
        *entry = {};
}

bool inProgress(const void* plugin) noexcept
{
    if (plugin == nullptr)
        return false;

    const auto* entry = entryFor(plugin, false);
    return entry != nullptr && entry->second > 0;
}
} // namespace plugin_calls
