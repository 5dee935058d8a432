#include "platform/Platform.h"

namespace pendulum::platform
{
const char* pluginFileExtension() noexcept { return ".dll"; }
const char* pluginFileWildcard() noexcept { return "*.dll"; }
} // namespace pendulum::platform
