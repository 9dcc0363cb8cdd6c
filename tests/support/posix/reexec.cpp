#include "support/reexec.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/host.h"
#include "support/test_environment.h"

namespace vantrel::test {

void ExpectPassesInChild(const std::string& testName) {
    const std::string folder = MakeTempDir("child");
    const HostInstall copy{folder, folder + "/child"};
    std::filesystem::copy_file("/proc/self/exe", copy.exePath);
    HostOptions options;
    options.arguments = {"--gtest_filter=" + testName, "--gtest_also_run_disabled_tests"};
    Host child(copy, options);
    std::string output;
    // A child silent for a minute has failed: it is killed rather than hold up the suite.
    for (std::string line; (line = child.Reply()) != "<eof>";) output += line + "\n";
    child.Kill();
    const int status = child.Finish();
    if (output.find("[  SKIPPED ]") != std::string::npos) GTEST_SKIP() << output;
    // A fault inside the test ends the child before it reports; a leak found at exit (in a
    // sanitizer build) makes its status nonzero.
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    EXPECT_EQ(status, 0) << output;
}

}  // namespace vantrel::test
