// Runs the settings editor vantrel-reg as a process on the test's store (it inherits
// XDG_CONFIG_HOME), with no input, and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace vantrel::test {

struct RegToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// False when the build has no editor (tests that need it skip).
bool RegToolBuilt();
RegToolRun RunRegTool(const std::vector<std::string>& arguments);

}  // namespace vantrel::test
