#include "platform/Platform.h"

namespace pendulum::platform
{
const char* pluginFileExtension() noexcept { return ".so"; }
const char* pluginFileWildcard() noexcept { return "*.so"; }
} // namespace pendulum::platform
