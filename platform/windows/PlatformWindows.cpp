#include "platform/Platform.h"

namespace pendulum::platform
{
const char* pluginFileExtension() noexcept { return ".dll"; }
const char* pluginFileWildcard() noexcept { return "*.dll"; }
const char* pluginFilePatternsAnyCase() noexcept { return "*.dll;*.dlL;*.dLl;*.dLL;*.Dll;*.DlL;*.DLl;*.DLL"; }
const char* pluginFileDescription() noexcept { return "dll files"; }
} // namespace pendulum::platform
