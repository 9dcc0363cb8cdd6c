// What the core must know of this platform's paths.
#pragma once

namespace vantrel::platform {

// Separator of file-system paths ("\" on Windows).
constexpr char kPathSeparator = '/';
// Whether an executable's file name must carry an extension to be accepted.
constexpr bool kExecutableNeedsExtension = false;
// The shared library's static objects run the load and unload steps.
constexpr bool kLoadStepsRunFromStaticObject = true;
// A log that writes after every entry keeps its file open, and exclusively locked, between
// calls: each entry then costs one positioned write. What other programs do to the file
// meanwhile is found by looking at its path now and then (File::IsStillAtPath).
constexpr bool kLogFilesStayOpenBetweenCalls = true;

}  // namespace vantrel::platform
