// Runs one disabled test of this program in a process of its own: a copy of the program in a
// temporary folder (the library writes beside its host), for checks that need a fresh load
// of the library or a process-wide change such as a disabled counter.
#pragma once

#include <string>

namespace vantrel::test {

// Fails the calling test unless the child passes it (a skip in the child skips the caller).
void ExpectPassesInChild(const std::string& testName);

}  // namespace vantrel::test
