// A host killed with SIGKILL at random moments while it logs with the default settings: the
// log holds every entry whose call had returned, and the next run's back-up holds that log.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "support/host.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

constexpr int kKills = 20;

TEST(CrashConsistency, EveryReturnedEntrySurvivesSigkillAndReachesTheNextBackUp) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const HostInstall install = InstallHost("crashing");
    const std::string log = install.LogPath("vantrel.log");
    std::string backUp;  // what the back-up must hold: every killed run's log, oldest first

    for (int run = 0; run < kKills; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const std::string prefix = "r" + std::to_string(run) + "_";
        Host running(install);
        ASSERT_TRUE(running.Post("progress|vantrel.log|" + prefix));
        // The host prints each index whose call returned; kill somewhere after a random one.
        const int target = std::uniform_int_distribution<int>(0, 300)(random);
        int lastReturned = -1;
        while (lastReturned < target) {
            const std::string line = running.Reply();
            ASSERT_NE(line, "<eof>");
            lastReturned = std::stoi(line);
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
        running.Kill();
        for (std::string line; (line = running.Reply()) != "<eof>";)
            lastReturned = std::max(lastReturned, std::stoi(line));

        std::string expected;
        for (int i = 0; i <= lastReturned; ++i) expected += prefix + std::to_string(i) + "\r\n";
        const std::string text = ReadFile(log);
        ASSERT_EQ(text.compare(0, expected.size(), expected), 0)
            << "entries up to " << lastReturned << " returned, the log holds " << text.size()
            << " bytes";
        // The next run's first call moves this log to the back-up, byte for byte.
        if (run > 0) {
            EXPECT_EQ(ReadFile(log + ".bak"), backUp);
        }
        backUp += text;
    }
    HostRun last = RunHost(install, {"print|after the last kill\\n"});
    ASSERT_EQ(last.exitCode, 0);
    EXPECT_EQ(ReadFile(log + ".bak"), backUp);
}

}  // namespace
}  // namespace vantrel::test
