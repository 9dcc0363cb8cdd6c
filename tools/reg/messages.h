// What the editor tells the user: reg.exe's success line on standard output, one "ERROR:"
// line on standard error for any failure.
#pragma once

#include <string>

namespace vantrel::reg {

// Prints "The operation completed successfully." and returns exit status 0.
int Succeeded();
// Prints "ERROR: " + message and returns exit status 1.
int Failed(const std::string& message);
// The reason behind a store result code, for Failed.
std::string StoreErrorText(long error, const std::string& storePath);

}  // namespace vantrel::reg
