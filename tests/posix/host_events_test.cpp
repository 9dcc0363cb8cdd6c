// A host killed, exiting while its threads log, forking, loading while blocked; other programs
// acting on its files between calls. Nothing accepted lost, nothing written through a link.
#include <sys/file.h>

#include <chrono>
#include <random>
#include <thread>

#include "posix/posix_fixture.h"

namespace vantrel::test {
namespace {

// Killed at random moments: every returned entry kept, the next run's back-up byte exact.
TEST(HostKilled, EveryReturnedEntrySurvivesSigkillAndReachesTheNextBackUp) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const HostInstall install = InstallHost("crashing");
    const std::string log = install.LogPath("vantrel.log");
    std::string backUp;  // every killed run's log, oldest first
    for (int run = 0; run < 20; ++run) {
        const std::string prefix = "r" + std::to_string(run) + "_";
        Host host(install);
        ASSERT_TRUE(host.Post("progress|vantrel.log|" + prefix));  // prints each returned index
        const int target = static_cast<int>(random() % 300);
        int last = -1;
        for (std::string line; last < target && (line = host.Reply()) != "<eof>";)
            last = std::stoi(line);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        host.Kill();
        for (std::string line; (line = host.Reply()) != "<eof>";) last = std::stoi(line);
        std::string expected;
        for (int i = 0; i <= last; ++i) expected += prefix + std::to_string(i) + "\r\n";
        const std::string text = ReadFile(log);
        ASSERT_EQ(0, text.compare(0, expected.size(), expected)) << "run " << run << ": " << last;
        EXPECT_EQ(backUp, run ? ReadFile(log + ".bak") : "") << "run " << run;
        backUp += text;
    }
    ASSERT_EQ(0, RunHost(install, {"print|after the last kill\\n"}).exitCode);
    EXPECT_EQ(backUp, ReadFile(log + ".bak"));
}

class HostInMode : public ::testing::TestWithParam<uint32_t> {
  protected:
    void SetUp() override { PutDefaultSetting("WriteImmediately", GetParam()); }
};

// exit() while threads log: no entry whose call returned 1 is lost (once every 7th run).
TEST_P(HostInMode, ExitWhileThreadsLogKeepsEveryReturnedEntry) {
    const HostInstall host = InstallHost("racer");
    for (int run = 0; run < 60; ++run) {
        // The exit falls at a different point of the threads' calls in every run.
        const HostRun result = RunHost(host, {"exitrace|4|" + std::to_string(run % 5) + "|r.log"});
        ASSERT_EQ(0, result.exitCode) << "run " << run;
        const std::string text = ReadFile(host.LogPath("r.log"));
        for (const std::string& line : result.lines) {  // "t<k> <calls that returned 1>"
            int k = 0, count = 0;
            ASSERT_EQ(2, sscanf(line.c_str(), "t%d %d", &k, &count)) << line;
            EXPECT_TRUE(Ordered(text, "t" + std::to_string(k) + ":", count)) << run << ": " << line;
        }
    }
}

// Forks while threads log: each child a new process with its own number and summary, no
// hang on a lock the parent's threads held, the parent's files left alone.
TEST_P(HostInMode, ForkedChildLogsAsANewProcessAndLeavesTheParentsFilesAlone) {
    const HostInstall host = InstallHost("forker");
    const HostRun run =
        RunHost(host, {"printf|fork.log|parent before\\n", "forks|10|2|fork.log|child ",
                       "printf|fork.log|parent after\\n"});
    ASSERT_EQ(0, run.exitCode);
    ASSERT_EQ(22u, run.lines.size());
    EXPECT_EQ("1|1", run.lines.front() + "|" + run.lines.back());
    const std::string parentLog = ReadFile(host.LogPath("fork.log"));
    ExpectCompleteLog(parentLog, "parent before\r\nparent after\r\n");
    EXPECT_FALSE(Has(parentLog, "child ")) << "a child wrote the parent's log";
    EXPECT_EQ((std::set<std::string>{"bg.log", "fork.log", "img"}),
              FilesIn(host.InstanceFolder(1)));
    const std::string childLog =
        ReadFile(host.LogPath("fork.log", 2)) + ReadFile(host.LogPath("fork.log.bak", 2));
    std::string children;  // per child: its call's result, its exit, its text and summary
    for (size_t i = 1; i + 1 < run.lines.size(); i += 2) {
        int pid = 0, result = 0, exited = 0, other = 0;
        sscanf(run.lines[i].c_str(), "c %d %d", &pid, &result);
        sscanf(run.lines[i + 1].c_str(), "child %d %d", &other, &exited);
        char processLine[64];
        snprintf(processLine, sizeof processLine, "Process ID: 0x%x\r\n", pid);
        children += std::to_string(pid == other) + std::to_string(result) + std::to_string(exited) +
                    std::to_string(Has(childLog, "child " + std::to_string(pid))) +
                    std::to_string(Has(childLog, processLine)) + " ";
    }
    EXPECT_EQ(10, CountOf(children, "11011 "))
        << children << ": per child same pid, logged, exited 0, its text, its summary";
}

INSTANTIATE_TEST_SUITE_P(Modes, HostInMode, ::testing::Values(1u, 0u),
                         [](const auto& info) { return info.param ? "Immediate" : "InMemory"; });

// What blocks a load for a while holds it up briefly: a later call claims and logs.
TEST(HostLoad, BusyStoreOrHeldGuardLockIsOvercomeByALaterCall) {
    const std::function<std::function<void()>()> obstacles[] = {
        HoldStore, [] {
            const int fd = open((std::string(getenv("XDG_RUNTIME_DIR")) + "/vantrel/guard").c_str(),
                                O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            EXPECT_EQ(0, flock(fd, LOCK_EX));
            return std::function<void()>([fd] { close(fd); });
        }};
    for (const auto& take : obstacles) {
        UseFreshEnvironment();
        const HostInstall host = InstallHost("obstructed");
        ASSERT_EQ(0, RunHost(host, {"printf|x.log|first\\n"}).exitCode);  // store, runtime folder
        platform::ReleaseRegistryStore();
        const std::function<void()> release = take();
        Host session(host);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ("1", session.Send("load"));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ("0", session.Send("printf|x.log|while held\\n"));
        release();
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // retried once a second
        EXPECT_EQ("1", session.Send("printf|x.log|after\\n"));
        EXPECT_EQ(0, session.Finish());
        EXPECT_TRUE(Has(ReadFile(host.LogPath("x.log")), "after"));
    }
}

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
        {"store damaged", [](const std::string&) { WriteFile(platform::RegistryStore::DefaultPath(), std::string(8192, 'Z')); }, "1", nullptr},
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

// A real full disk: a 64 KiB tmpfs in the host's mount namespace, via /proc/<pid>/root.
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
