#include "support/reexec.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_environment.h"

extern char** environ;

namespace vantrel::test {

void ExpectPassesInChild(const std::string& testName) {
    const std::string folder = MakeTempDir("child"), exe = folder + "/child";
    const std::string outputPath = folder + "/output.txt", filter = "--gtest_filter=" + testName;
    std::filesystem::copy_file("/proc/self/exe", exe);
    const char* argv[] = {exe.c_str(), filter.c_str(), "--gtest_also_run_disabled_tests", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int status = -1;
    const int spawned =
        posix_spawn(&pid, exe.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);
    // A child stuck for a minute has failed; it must not hold up the suite.
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 6000) kill(pid, SIGKILL);
        usleep(10000);
    }
    const std::string output = ReadFile(outputPath);
    if (output.find("[  SKIPPED ]") != std::string::npos) GTEST_SKIP() << output;
    // A fault inside the test ends the child before it reports; a leak found at exit (in a
    // sanitizer build) makes its status nonzero.
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << output;
}

}  // namespace vantrel::test
