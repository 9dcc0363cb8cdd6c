// A host that forks while its threads log: each child is a new process to the library, with
// its own instance, folder and summary, and leaves the parent's files alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "support/host.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

// Every file below folder, one after the other.
std::string AllFilesBelow(const std::string& folder) {
    std::string text;
    if (!PathExists(folder)) return text;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) text += ReadFile(entry.path().string());
    }
    return text;
}

std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

struct ForkCase {
    const char* name;
    int writeImmediately;
};

class HostFork : public ::testing::TestWithParam<ForkCase> {};

TEST_P(HostFork, ChildLogsAsANewProcessAndLeavesTheParentsFilesAlone) {
    PutDefaultSetting("WriteImmediately", static_cast<uint32_t>(GetParam().writeImmediately));
    HostInstall host = InstallHost("forker");
    constexpr int kForks = 10;
    HostRun run = RunHost(host, {"printf|fork.log|parent before\\n",
                                 "forks|" + std::to_string(kForks) + "|2|fork.log|child ",
                                 "printf|fork.log|parent after\\n"});
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 2u + 2 * kForks);
    EXPECT_EQ(run.lines.front(), "1");
    EXPECT_EQ(run.lines.back(), "1");

    const std::string parentFolder = host.InstanceFolder(1);
    const std::string parentLog = ReadFile(parentFolder + "/fork.log");
    EXPECT_NE(parentLog.find("parent before"), std::string::npos);
    EXPECT_NE(parentLog.find("parent after"), std::string::npos);
    EXPECT_EQ(parentLog.find("child "), std::string::npos) << "a child wrote the parent's log";
    // No part file, back-up or stray log of a child in the parent's folder.
    EXPECT_EQ(NamesIn(parentFolder), (std::set<std::string>{"bg.log", "fork.log", "img"}));

    // The parent holds number 1 throughout, so every child took another one.
    const std::string childLogs = AllFilesBelow(host.folder + "/vantrel/forker/proc2");
    int children = 0;
    for (const std::string& line : run.lines) {
        int pid = 0, value = 0;
        if (sscanf(line.c_str(), "child %d %d", &pid, &value) == 2) {
            ++children;
            EXPECT_EQ(value, 0) << "child " << pid << " did not end normally (hung on a lock?)";
            char processLine[64];
            snprintf(processLine, sizeof processLine, "Process ID: 0x%x\r\n", pid);
            EXPECT_NE(childLogs.find("child " + std::to_string(pid)), std::string::npos) << pid;
            EXPECT_NE(childLogs.find(processLine), std::string::npos) << pid;
        } else if (sscanf(line.c_str(), "c %d %d", &pid, &value) == 2) {
            EXPECT_EQ(value, 1) << "child " << pid;
        }
    }
    EXPECT_EQ(children, kForks);
}

INSTANTIATE_TEST_SUITE_P(Modes, HostFork,
                         ::testing::Values(ForkCase{"WriteImmediately", 1},
                                           ForkCase{"InMemory", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::test
