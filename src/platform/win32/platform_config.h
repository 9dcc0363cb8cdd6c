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
// A log that writes after every entry opens and closes its file around each entry, so that
// other programs may read it between calls (an open file is shared with no one here).
constexpr bool kLogFilesStayOpenBetweenCalls = false;

}  // namespace vantrel::platform
