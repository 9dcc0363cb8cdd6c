// What the core must know of this platform's paths.
#pragma once

namespace vantrel::platform {

// Separator of file-system paths ("\" on Windows).
constexpr char kPathSeparator = '/';
// Whether an executable's file name must carry an extension to be accepted.
constexpr bool kExecutableNeedsExtension = false;
// The shared library's static objects run the load and unload steps.
constexpr bool kLoadStepsRunFromStaticObject = true;

}  // namespace vantrel::platform
