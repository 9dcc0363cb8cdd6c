// Other programs acting on a running host's log folder between two calls: the log deleted,
// cut or replaced, the folder or "img" deleted, the folder made read-only, the file locked,
// the disk full. No crash, honest results, and writing resumes with every accepted entry
// once the path is usable again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/host.h"
#include "support/log_text.h"
#include "support/test_environment.h"
#include "support/unprivileged.h"

namespace vantrel::test {
namespace {

constexpr char kSummaryEnd[] =
    "////////////////////////////////////////////////////////////////////////\r\n\r\n";

// A complete log: the entries first, then exactly one summary, and nothing after it.
void ExpectCompleteLog(const std::string& text, const std::string& entries) {
    EXPECT_EQ(text.rfind(entries, 0), 0u) << text.substr(0, 200);
    EXPECT_EQ(CountOf(text, "Process ID:"), 1);
    const std::string end = kSummaryEnd;
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end) << "stale bytes after the summary";
}

// The log keeps its file open between calls and looks at the path at this interval at most.
void WaitForThePathToBeChecked() {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

class TamperedFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session = std::make_unique<Host>(host);
        ASSERT_EQ(session->Send("load"), "1");
    }
    std::string Log(const std::string& name = "vantrel.log") const { return folder + "/" + name; }

    HostInstall host = InstallHost("tampered");
    std::string folder = host.InstanceFolder(1);
    std::unique_ptr<Host> session;
};

TEST_F(TamperedFilesTest, DeletedCutOrReplacedLogIsWrittenWholeAgain) {
    ASSERT_EQ(session->Send("printf|vantrel.log|a\\n"), "1");
    ASSERT_EQ(unlink(Log().c_str()), 0);
    WaitForThePathToBeChecked();
    EXPECT_EQ(session->Send("printf|vantrel.log|b\\n"), "1");
    ExpectCompleteLog(ReadFile(Log()), "a\r\nb\r\n");

    ASSERT_EQ(truncate(Log().c_str(), 0), 0);
    WaitForThePathToBeChecked();
    EXPECT_EQ(session->Send("printf|vantrel.log|c\\n"), "1");
    ExpectCompleteLog(ReadFile(Log()), "a\r\nb\r\nc\r\n");

    ASSERT_EQ(truncate(Log().c_str(), 4), 0);
    WaitForThePathToBeChecked();
    EXPECT_EQ(session->Send("printf|vantrel.log|d\\n"), "1");
    ExpectCompleteLog(ReadFile(Log()), "a\r\nb\r\nc\r\nd\r\n");

    // Another program puts a file of its own in its place, longer and then shorter than ours.
    std::string entries = "a\r\nb\r\nc\r\nd\r\n";
    for (size_t size : {20000u, 5u}) {
        WriteFile(folder + "/other", std::string(size, 'Z'));
        ASSERT_EQ(rename((folder + "/other").c_str(), Log().c_str()), 0);
        WaitForThePathToBeChecked();
        EXPECT_EQ(session->Send("printf|vantrel.log|e\\n"), "1");
        entries += "e\r\n";
        ExpectCompleteLog(ReadFile(Log()), entries);
    }
    EXPECT_EQ(session->Finish(), 0);
    ExpectCompleteLog(ReadFile(Log()), "a\r\nb\r\nc\r\nd\r\ne\r\ne\r\n");
}

TEST_F(TamperedFilesTest, DeletedFolderAndImgAreMadeAgain) {
    ASSERT_EQ(session->Send("printf|vantrel.log|a\\n"), "1");
    std::filesystem::remove_all(host.folder + "/vantrel");
    WaitForThePathToBeChecked();
    EXPECT_EQ(session->Send("printf|vantrel.log|b\\n"), "1");
    ExpectCompleteLog(ReadFile(Log()), "a\r\nb\r\n");

    std::filesystem::remove_all(folder + "/img");
    // The snapshot finds no folder, but its entry is made and the merge makes "img" again.
    EXPECT_EQ(session->Send("bitmap|vantrel.log|lost.bmp|c\\n"), "1");
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/img"));
    EXPECT_EQ(session->Send("bitmap|vantrel.log|kept.bmp|d\\n"), "1");
    EXPECT_EQ(ReadFile(folder + "/img/kept.bmp").size(), 14u + 40 + 4);
    const std::string text = ReadFile(Log());
    EXPECT_NE(text.find("alt=\"lost.bmp\">c\r\n<img src=\"img/kept.bmp\""), std::string::npos)
        << text;
}

// A file locked by another process (every opening is exclusive): the calls fail and the text
// waits in memory until the lock goes. The log holds its own file locked between calls, so
// the other program locks a file of its own that it puts in its place.
TEST_F(TamperedFilesTest, LockedLogKeepsTheTextUntilItIsFree) {
    ASSERT_EQ(session->Send("printf|vantrel.log|a\\n"), "1");
    const int ours = open(Log().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(ours, 0);
    EXPECT_NE(flock(ours, LOCK_EX | LOCK_NB), 0) << "the log's file is not held between calls";
    close(ours);
    WriteFile(folder + "/other", "");
    const int fd = open((folder + "/other").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(rename((folder + "/other").c_str(), Log().c_str()), 0);
    WaitForThePathToBeChecked();
    EXPECT_EQ(session->Send("printf|vantrel.log|waiting\\n"), "0");
    EXPECT_EQ(session->Send("begin|vantrel.log|Scope"), "0");
    EXPECT_EQ(ReadFile(Log()), "");
    close(fd);
    EXPECT_EQ(session->Send("end|vantrel.log"), "1");
    const std::string text = ReadFile(Log());
    EXPECT_EQ(text.rfind("a\r\nwaiting\r\nScope // tid:", 0), 0u) << text;
    EXPECT_NE(text.find("{\r\n}\r\n"), std::string::npos) << text;
}

// The folder made read-only under a host that runs as an ordinary user: no new file can be
// made and the existing one cannot be written; both logs catch up once it is writable.
TEST(ReadOnlyFolder, CallsFailWhileItIsReadOnlyAndCatchUpAfterwards) {
    HostInstall host = InstallHost("readonly");
    const std::string config = MakeTempDir("nobody-config");
    const std::string runtime = MakeTempDir("nobody-runtime");
    for (const std::string& path : {host.folder, config, runtime})
        ASSERT_EQ(chown(path.c_str(), kUnprivilegedId, kUnprivilegedId), 0);
    HostOptions options;
    options.dropToId = kUnprivilegedId;
    options.environment = {{"XDG_CONFIG_HOME", config}, {"XDG_RUNTIME_DIR", runtime}};
    Host session(host, options);
    ASSERT_EQ(session.Send("load"), "1");
    ASSERT_EQ(session.Send("printf|a.log|one\\n"), "1");

    const std::string folder = host.InstanceFolder(1);
    ASSERT_EQ(chmod((folder + "/a.log").c_str(), 0444), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    // a.log keeps the file it holds open between calls; only b.log cannot make its own.
    EXPECT_EQ(session.Send("printf|a.log|two\\n"), "1");
    EXPECT_EQ(session.Send("printf|b.log|first\\n"), "0");
    EXPECT_FALSE(PathExists(folder + "/b.log"));

    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod((folder + "/a.log").c_str(), 0644), 0);
    EXPECT_EQ(session.Send("printf|a.log|three\\n"), "1");
    EXPECT_EQ(session.Send("printf|b.log|second\\n"), "1");
    EXPECT_EQ(session.Finish(), 0);
    ExpectCompleteLog(ReadFile(folder + "/a.log"), "one\r\ntwo\r\nthree\r\n");
    ExpectCompleteLog(ReadFile(folder + "/b.log"), "first\r\nsecond\r\n");
}

// A real full disk: the host runs in a mount namespace of its own whose instance folder is a
// 64 KiB tmpfs; the test reaches that folder through /proc/<pid>/root.
TEST(FullDisk, CallsFailWhileTheDiskIsFullAndNothingAcceptedIsLost) {
    HostInstall host = InstallHost("fulldisk");
    const std::string folder = host.InstanceFolder(1);
    std::filesystem::create_directories(folder);
    HostOptions options;
    options.wrapper = {"unshare",
                       "--mount",
                       "--propagation",
                       "private",
                       "sh",
                       "-c",
                       "mount -t tmpfs -o size=64k vantrel-test '" + folder + "' && exec \"$0\""};
    Host session(host, options);
    if (session.Send("load") != "1") GTEST_SKIP() << "no private tmpfs mount here";
    const std::string inside = "/proc/" + std::to_string(session.pid()) + "/root" + folder;

    const std::string line(200, 'x');
    std::string entries;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(session.Send("printf|vantrel.log|" + line + std::to_string(i) + "\\n"), "1");
        entries += line + std::to_string(i) + "\r\n";
    }
    // Fill what is left of the disk.
    {
        FILE* filler = fopen((inside + "/filler").c_str(), "wb");
        ASSERT_NE(filler, nullptr);
        const std::string block(4096, 'F');
        while (fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               fflush(filler) == 0) {
        }
        fclose(filler);
    }
    int failed = 0;
    for (int i = 20; i < 60; ++i) {
        if (session.Send("printf|vantrel.log|" + line + std::to_string(i) + "\\n") == "0") ++failed;
        entries += line + std::to_string(i) + "\r\n";
    }
    EXPECT_GT(failed, 0) << "the disk never filled up";
    ASSERT_EQ(unlink((inside + "/filler").c_str()), 0);
    EXPECT_EQ(session.Send("printf|vantrel.log|after\\n"), "1");
    entries += "after\r\n";
    ExpectCompleteLog(ReadFile(inside + "/vantrel.log"), entries);
}

}  // namespace
}  // namespace vantrel::test
