// What the core must know of the platform it is built for: the backend's constants
// (kPathSeparator and the like), without the rest of the backend's headers.
#pragma once

#if defined(_WIN32)
#include "platform/win32/platform_config.h"
#else
#include "platform/posix/platform_config.h"
#endif
