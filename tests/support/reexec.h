// Runs a disabled test of this program in a copy of it in a folder of its own, for checks that
// need a fresh load of the library or a process-wide change such as a disabled counter.
#pragma once

#include <string>

namespace vantrel::test {

// Fails the calling test unless the child passes it (a skip in the child skips the caller).
void ExpectPassesInChild(const std::string& testName);

}  // namespace vantrel::test
