#pragma once

// The platform layer: the few facts and services that differ between the Windows build and the
// Linux (X11) build. Everything else in the project is platform-neutral.

namespace pendulum::platform
{
/** File extension of a VST 2.x plugin library on this platform, with the dot (".dll" or ".so"). */
const char* pluginFileExtension() noexcept;

/** Wildcard for file dialogs that pick VST 2.x plugin libraries ("*.dll" or "*.so"). */
const char* pluginFileWildcard() noexcept;

/** Wildcards matching the plugin extension in any letter case ("*.dll;*.dlL;...;*.DLL"). */
const char* pluginFilePatternsAnyCase() noexcept;

/** What file dialogs call plugin libraries ("dll files" or "so files"). */
const char* pluginFileDescription() noexcept;
} // namespace pendulum::platform
