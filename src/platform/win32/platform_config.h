// What the core must know of this platform's paths and of how the library is loaded.
#pragma once

namespace vantrel::platform {

// Separator of file-system paths.
constexpr char kPathSeparator = '\\';
// An executable's path must hold a "." and a "\": its file name is only accepted with an
// extension.
constexpr bool kExecutableNeedsExtension = true;
// DllMain's process attach and detach run the load and unload steps, not a static object.
constexpr bool kLoadStepsRunFromStaticObject = false;

}  // namespace vantrel::platform
