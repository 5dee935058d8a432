#include "platform/Platform.h"

namespace pendulum::platform
{
const char* pluginFileExtension() noexcept { return ".so"; }
const char* pluginFileWildcard() noexcept { return "*.so"; }
const char* pluginFilePatternsAnyCase() noexcept { return "*.so;*.sO;*.So;*.SO"; }
const char* pluginFileDescription() noexcept { return "so files"; }
} // namespace pendulum::platform
