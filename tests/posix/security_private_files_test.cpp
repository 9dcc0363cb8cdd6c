// What another local user could plant or read: the runtime folder of the instance locks, the
// lock files in it, and symbolic links at the paths of log files, their back-ups and
// snapshots. Nothing is ever written through a link planted by someone else. (The settings
// store's private modes are checked with the registry calls, in registry_api_test.cpp.)
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/named_mutex.h"
#include "runtime_dir.h"
#include "support/host.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

using platform::CloseNamedMutex;
using platform::CreateNamedMutex;
using platform::MutexHandle;
using platform::OpenNamedMutex;

constexpr uid_t kNobody = 65534;

std::string RuntimeFolder() {
    return std::string(getenv("XDG_RUNTIME_DIR")) + "/vantrel";
}

mode_t ModeOf(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// A file outside everything the library owns, which a planted link points at.
std::string Bait() {
    const std::string path = MakeTempDir("bait") + "/precious";
    WriteFile(path, "precious content\n");
    chmod(path.c_str(), 0644);
    return path;
}

TEST(RuntimeFolder, IsCreatedPrivateAndRefusedWhenItIsNotOurs) {
    ASSERT_EQ(platform::RuntimeDirectory(), RuntimeFolder());
    EXPECT_EQ(ModeOf(RuntimeFolder()), 0700u);

    // Owned by someone else, even with no access for others: refused, never used; the
    // per-user folder under /tmp takes its place.
    const std::string fallback = "/tmp/vantrel-" + std::to_string(geteuid());
    ASSERT_EQ(chown(RuntimeFolder().c_str(), kNobody, kNobody), 0);
    EXPECT_EQ(platform::RuntimeDirectory(), fallback);
    bool existed = false;
    CloseNamedMutex(CreateNamedMutex("app.proc1", &existed));
    EXPECT_FALSE(PathExists(RuntimeFolder() + "/mutex-app.proc1"));
    ASSERT_EQ(chown(RuntimeFolder().c_str(), getuid(), getgid()), 0);

    // A link in its place, even to a private folder of ours, is not the folder.
    const std::string elsewhere = MakeTempDir("elsewhere");
    ASSERT_EQ(rmdir(RuntimeFolder().c_str()), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), RuntimeFolder().c_str()), 0);
    EXPECT_EQ(platform::RuntimeDirectory(), fallback);
    CloseNamedMutex(CreateNamedMutex("app.proc1", &existed));
    EXPECT_FALSE(PathExists(elsewhere + "/mutex-app.proc1"));
}

TEST(RuntimeFolder, PlantedLinksAsLockFilesAreNeverFollowed) {
    ASSERT_EQ(platform::RuntimeDirectory(), RuntimeFolder());
    const std::string bait = Bait();
    for (const char* planted : {"/mutex-app.proc1", "/guard"}) {
        SCOPED_TRACE(planted);
        const std::string link = RuntimeFolder() + planted;
        unlink(link.c_str());  // the guard file the first round made
        ASSERT_EQ(symlink(bait.c_str(), link.c_str()), 0);
        bool existed = false;
        MutexHandle handle = CreateNamedMutex("app.proc1", &existed);
        EXPECT_EQ(handle, nullptr);
        CloseNamedMutex(handle);
        EXPECT_EQ(OpenNamedMutex("app.proc1"), nullptr);
        EXPECT_EQ(ReadFile(bait), "precious content\n");
        EXPECT_EQ(ModeOf(bait), 0644u);
        ASSERT_EQ(unlink(link.c_str()), 0);
    }
    bool existed = true;
    MutexHandle handle = CreateNamedMutex("app.proc1", &existed);
    EXPECT_NE(handle, nullptr);
    EXPECT_FALSE(existed);
    EXPECT_EQ(ModeOf(RuntimeFolder() + "/mutex-app.proc1"), 0600u);
    CloseNamedMutex(handle);
}

// A host that logs while links are planted at the paths of its log file, its back-up and a
// snapshot: every such call fails or skips the file, and the link's target stays as it was.
TEST(PlantedLinks, LogBackUpAndSnapshotPathsAreNeverFollowed) {
    const std::string bait = Bait();
    HostInstall host = InstallHost("linked");
    const std::string folder = host.InstanceFolder(1);
    {
        Host session(host);
        ASSERT_EQ(session.Send("load"), "1");
        ASSERT_EQ(session.Send("printf|setup.log|creates the folder\\n"), "1");

        // At the log's own path before its first opening.
        ASSERT_EQ(symlink(bait.c_str(), (folder + "/first.log").c_str()), 0);
        EXPECT_EQ(session.Send("printf|first.log|x\\n"), "0");

        // At the back-up's path, with an earlier log to back up.
        WriteFile(folder + "/second.log", "earlier run\r\n");
        ASSERT_EQ(symlink(bait.c_str(), (folder + "/second.log.bak").c_str()), 0);
        EXPECT_EQ(session.Send("printf|second.log|x\\n"), "0");
        EXPECT_EQ(ReadFile(folder + "/second.log"), "earlier run\r\n");

        // In place of a log that is already being written, between two calls.
        ASSERT_EQ(unlink((folder + "/setup.log").c_str()), 0);
        ASSERT_EQ(symlink(bait.c_str(), (folder + "/setup.log").c_str()), 0);
        // A kept-open log looks at its path at most every 100 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_EQ(session.Send("printf|setup.log|more\\n"), "0");

        // At a snapshot's path: the entry is made, the file is not written.
        ASSERT_EQ(symlink(bait.c_str(), (folder + "/img/shot.bmp").c_str()), 0);
        EXPECT_EQ(session.Send("bitmap|pictures.log|shot.bmp|frame\\n"), "1");
        EXPECT_EQ(session.Finish(), 0);
    }
    EXPECT_EQ(ReadFile(bait), "precious content\n");
    EXPECT_EQ(ModeOf(bait), 0644u);
}

}  // namespace
}  // namespace vantrel::test
