// What stands in the way of a host's load only for a while (the settings store or the guard
// lock of the named mutexes held by another process) must not stop it for its whole life, nor
// hold its load up without bound; a runtime folder that cannot be used must not stop it at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/registry.h"
#include "support/host.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

// Takes the obstacle and returns what removes it.
using Obstacle = std::function<std::function<void()>()>;

std::function<void()> HoldStore() {
    sqlite3* db = nullptr;
    const std::string path = std::string(getenv("XDG_CONFIG_HOME")) + "/vantrel/registry.db";
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    return [db] { sqlite3_close(db); };  // closing rolls the transaction back
}

std::function<void()> HoldGuardLock() {
    const std::string guard = std::string(getenv("XDG_RUNTIME_DIR")) + "/vantrel/guard";
    const int fd = open(guard.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(flock(fd, LOCK_EX), 0);
    return [fd] { close(fd); };
}

struct ObstacleCase {
    const char* name;
    Obstacle take;
};

class HostLoadObstacle : public ::testing::TestWithParam<ObstacleCase> {};

TEST_P(HostLoadObstacle, LoadIsHeldUpBrieflyAndALaterCallLogsOnceItIsGone) {
    HostInstall host = InstallHost("obstructed");
    {
        Host first(host);  // creates the store and the runtime folder
        ASSERT_EQ(first.Send("load"), "1");
        ASSERT_EQ(first.Send("printf|x.log|first\\n"), "1");
        EXPECT_EQ(first.Finish(), 0);
    }
    platform::ReleaseRegistryStore();
    std::function<void()> release = GetParam().take();
    Host session(host);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(session.Send("load"), "1");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(session.Send("printf|x.log|while held\\n"), "0");
    release();
    // Tried again at a later call, at most about once a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(session.Send("printf|x.log|after\\n"), "1");
    EXPECT_EQ(session.Finish(), 0);
    EXPECT_NE(ReadFile(host.InstanceFolder(1) + "/x.log").find("after"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Obstacles, HostLoadObstacle,
                         ::testing::Values(ObstacleCase{"BusyStore", &HoldStore},
                                           ObstacleCase{"GuardLockHeld", &HoldGuardLock}),
                         [](const auto& info) { return std::string(info.param.name); });

// XDG_RUNTIME_DIR that cannot hold the lock files: the per-user folder under /tmp is used.
TEST(HostRuntimeFolder, UnusableRuntimeFolderFallsBackToThePerUserTemporaryFolder) {
    const std::string base = MakeTempDir("runtime");
    const std::string openToOthers = base + "/shared";
    ASSERT_EQ(mkdir(openToOthers.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((openToOthers + "/vantrel").c_str(), 0777), 0);
    ASSERT_EQ(chmod((openToOthers + "/vantrel").c_str(), 0777), 0);
    const std::string aFile = base + "/file";
    WriteFile(aFile, "not a folder");
    for (const std::string& runtime : {base + "/missing/deeper", openToOthers, aFile}) {
        HostInstall host = InstallHost("fallback");
        Host session(host, HostOptions{-1, {{"XDG_RUNTIME_DIR", runtime}}, {}, {}});
        ASSERT_EQ(session.Send("load"), "1");
        EXPECT_EQ(session.Send("printf|x.log|logged\\n"), "1") << runtime;
        EXPECT_EQ(session.Finish(), 0);
    }
    struct stat info;
    ASSERT_EQ(stat(("/tmp/vantrel-" + std::to_string(geteuid())).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace vantrel::test
