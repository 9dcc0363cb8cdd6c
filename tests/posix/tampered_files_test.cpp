// Other programs acting on a running host's files between two calls: the log deleted, cut,
// replaced, moved, linked or locked, the folder gone, read-only or full, the store locked or
// damaged. No crash, honest results, nothing accepted lost, nothing written through a link.
#include <sys/file.h>

#include <chrono>
#include <thread>

#include "posix/posix_fixture.h"

namespace vantrel::test {
namespace {

// The host runs as a user who is not root, so that modes hold.
TEST(Tampering, ChangesBetweenCallsAreNoticedAndNothingReturnedAsLoggedIsLost) {
    int lockFd = -1;
    std::function<void()> release;
    using Act = std::function<void(const std::string& log)>;
    const auto replace = [](const std::string& log, const std::string& content) {
        WriteFile(log + ".new", content);  // by another program of the host's user
        EXPECT_EQ(0, chown((log + ".new").c_str(), kUnprivilegedId, kUnprivilegedId));
        rename((log + ".new").c_str(), log.c_str());
    };
    const auto modes = [](const std::string& log, mode_t file, mode_t folder) {
        ASSERT_EQ(0,
                  chmod(log.c_str(), file) + chmod(log.substr(0, log.rfind('/')).c_str(), folder));
    };
    // The reply to the call after the change (its text is kept either way), and an undo.
    // Written on in its new place, a moved file would lose every later entry; every opening is
    // exclusive, so a file another program locks in the log's place is refused; a running host
    // needs nothing of a damaged store (a new one: the store-state table).
    // clang-format off
    const struct { const char* fault; Act act; const char* reply; Act undo; } rows[] = {
        {"deleted", [](const std::string& log) { unlink(log.c_str()); }, "1", nullptr},
        {"cut to nothing", [](const std::string& log) { truncate(log.c_str(), 0); }, "1", nullptr},
        {"cut inside an entry", [](const std::string& log) { truncate(log.c_str(), 1); }, "1", nullptr},
        {"replaced by a longer file", [&](const std::string& log) { replace(log, std::string(20000, 'Z')); }, "1", nullptr},
        {"replaced by a shorter file", [&](const std::string& log) { replace(log, "ZZZZZ"); }, "1", nullptr},
        {"moved away", [](const std::string& log) { rename(log.c_str(), (log + ".old").c_str()); }, "1", nullptr},
        {"replaced by a link to the moved file", [](const std::string& log) { rename(log.c_str(), (log + ".old").c_str()); symlink((log + ".old").c_str(), log.c_str()); }, "0", [](const std::string& log) { unlink(log.c_str()); }},
        {"folder deleted", [](const std::string& log) { std::filesystem::remove_all(log.substr(0, log.rfind("/vantrel/") + 8)); }, "1", nullptr},
        {"folder and file read-only", [&](const std::string& log) { modes(log, 0444, 0555); }, "1", [&](const std::string& log) { modes(log, 0644, 0755); }},
        {"locked by another program", [&](const std::string& log) { replace(log, ""); lockFd = open(log.c_str(), O_RDONLY | O_CLOEXEC); EXPECT_EQ(0, flock(lockFd, LOCK_EX | LOCK_NB)); }, "0", [&](const std::string&) { close(lockFd); }},
        {"store locked by another program", [&](const std::string&) { release = HoldStore(); }, "1", [&](const std::string&) { release(); }},
        {"store damaged", [](const std::string&) { WriteFile(StorePath(), std::string(8192, 'Z')); }, "1", nullptr},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        UseFreshEnvironment();
        const HostInstall host = InstallHost("tampered");
        HostOptions options;
        options.dropToId = kUnprivilegedId;
        for (const std::string& path : {host.folder, std::string(getenv("XDG_CONFIG_HOME")),
                                        std::string(getenv("XDG_RUNTIME_DIR"))})
            ASSERT_EQ(0, chown(path.c_str(), kUnprivilegedId, kUnprivilegedId));
        const std::string log = host.LogPath("vantrel.log");
        Host session(host, options);
        ASSERT_EQ("1", session.Send("printf|vantrel.log|a\\n"));
        const int ours = open(log.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_NE(0, flock(ours, LOCK_EX | LOCK_NB)) << "the log's file is not held between calls";
        close(ours);
        row.act(log);
        const std::string moved = PathExists(log + ".old") ? ReadFile(log + ".old") : "";
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the path check's period
        EXPECT_EQ(row.reply, session.Send("printf|vantrel.log|b\\n"));
        if (row.undo) row.undo(log);
        EXPECT_EQ("1", session.Send("printf|vantrel.log|c\\n"));
        ExpectCompleteLog(ReadFile(log), "a\r\nb\r\nc\r\n");
        EXPECT_EQ(0, session.Finish());
        ExpectCompleteLog(ReadFile(log), "a\r\nb\r\nc\r\n");
        EXPECT_EQ(moved, PathExists(log + ".old") ? ReadFile(log + ".old") : "")
            << "written after it left";
    }
}

// Links planted at the paths of a log, its back-up and a snapshot are never followed.
TEST(Tampering, PlantedLinksAreNeverFollowed) {
    const std::string bait = MakeTempDir("bait") + "/precious";
    WriteFile(bait, "precious\n");
    const HostInstall host = InstallHost("linked");
    const std::string folder = host.InstanceFolder(1);
    Host session(host);
    ASSERT_EQ("1", session.Send("printf|setup.log|makes the folder\\n"));
    WriteFile(folder + "/second.log", "earlier run\r\n");
    for (const char* link : {"/first.log", "/second.log.bak", "/img/shot.bmp"})
        ASSERT_EQ(0, symlink(bait.c_str(), (folder + link).c_str()));
    EXPECT_EQ("0", session.Send("printf|first.log|x\\n"));
    EXPECT_EQ("0", session.Send("printf|second.log|x\\n"));
    EXPECT_EQ("earlier run\r\n", ReadFile(folder + "/second.log"));
    EXPECT_EQ("1", session.Send("bitmap|pictures.log|shot.bmp|frame\\n"));
    EXPECT_EQ(0, session.Finish());
    EXPECT_EQ("precious\n", ReadFile(bait));
}

// A real full disk: the instance folder is a 64 KiB tmpfs in a mount namespace of the host's,
// reached through /proc/<pid>/root.
TEST(Tampering, FullDiskFailsCallsAndLosesNothingAccepted) {
    const HostInstall host = InstallHost("fulldisk");
    const std::string folder = host.InstanceFolder(1);
    std::filesystem::create_directories(folder);
    HostOptions options;
    const std::string mount = "mount -t tmpfs -o size=64k t '" + folder + "' && exec \"$0\"";
    options.wrapper = {"unshare", "--mount", "--propagation", "private", "sh", "-c", mount};
    Host session(host, options);
    if (session.Send("load") != "1") GTEST_SKIP() << "no private tmpfs mount here";
    const std::string inside = "/proc/" + std::to_string(session.pid()) + "/root" + folder;
    std::string entries;
    int failed = 0;
    for (int i = 0; i < 60; ++i) {
        const std::string line = std::string(200, 'x') + std::to_string(i);
        failed += session.Send("printf|v.log|" + line + "\\n") == "0";
        entries += line + "\r\n";
        if (i == 19) {  // fill what is left
            FILE* filler = fopen((inside + "/filler").c_str(), "wb");
            ASSERT_NE(nullptr, filler);
            const std::string block(4096, 'F');
            while (fwrite(block.data(), 1, 4096, filler) == 4096 && !fflush(filler)) {
            }
            fclose(filler);
        }
    }
    EXPECT_GT(failed, 0) << "the disk never filled up";
    ASSERT_EQ(0, unlink((inside + "/filler").c_str()));
    EXPECT_EQ("1", session.Send("printf|v.log|after\\n"));
    ExpectCompleteLog(ReadFile(inside + "/v.log"), entries + "after\r\n");
}

}  // namespace
}  // namespace vantrel::test
