// A host that unloads and loads the library again keeps its instance number to itself: a
// second process of the same executable started after the reload takes another number.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/host.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

TEST(HostReload, ReloadedLibraryHoldsItsNumberAgainAgainstAnotherProcess) {
    HostInstall host = InstallHost("reloader");
    Host first(host);
    for (const char* command :
         {"printf|r.log|first before\\n", "unload", "load", "printf|r.log|first after\\n"})
        ASSERT_EQ(first.Send(command), "1") << command;
    HostRun second = RunHost(host, {"printf|r.log|second\\n"});
    ASSERT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.lines, std::vector<std::string>{"1"});
    EXPECT_EQ(first.Finish(), 0);

    const std::string firstLog = ReadFile(host.InstanceFolder(1) + "/r.log");
    EXPECT_NE(firstLog.find("first after"), std::string::npos);
    EXPECT_EQ(firstLog.find("second"), std::string::npos) << "the second host took number 1";
    EXPECT_NE(ReadFile(host.InstanceFolder(2) + "/r.log").find("second"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::test
