// The default mode keeps its log file open, and locked, between calls and looks at the path
// only now and then: what another program does to the file between two calls is noticed once
// that interval has passed, and the log is made whole again at its path with nothing lost.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "support/host.h"
#include "support/log_text.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

// Longer than the interval between two looks at the path.
void WaitForThePathToBeChecked() {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

// Entries first, then one summary and nothing after it.
void ExpectWhole(const std::string& text, const std::string& entries) {
    EXPECT_EQ(text.rfind(entries, 0), 0u) << text.substr(0, 200);
    EXPECT_EQ(CountOf(text, "Process ID:"), 1) << text;
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
}

struct Tampering {
    const char* what;
    std::function<void(const std::string& log)> act;
    const char* replyAfter;  // to the first call once the change has been noticed
    std::function<void(const std::string& log)> undo;
};

TEST(KeptOpenLogFile, ChangesBetweenCallsAreNoticedAndTheLogMadeWhole) {
    const Tampering rows[] = {
        // Written on in its new place, the moved file would lose every later entry at the path.
        {"moved away", [](const std::string& log) { rename(log.c_str(), (log + ".old").c_str()); },
         "1", nullptr},
        // Nothing is ever written through a link planted at the path; the text waits.
        {"replaced by a link",
         [](const std::string& log) {
             rename(log.c_str(), (log + ".old").c_str());
             symlink((log + ".old").c_str(), log.c_str());
         },
         "0", [](const std::string& log) { unlink(log.c_str()); }},
    };
    for (const Tampering& row : rows) {
        SCOPED_TRACE(row.what);
        HostInstall host = InstallHost("keptopen");
        const std::string log = host.InstanceFolder(1) + "/vantrel.log";
        Host session(host);
        ASSERT_EQ(session.Send("load"), "1");
        ASSERT_EQ(session.Send("printf|vantrel.log|a\\n"), "1");
        row.act(log);
        const std::string moved = ReadFile(log + ".old");
        WaitForThePathToBeChecked();
        EXPECT_EQ(session.Send("printf|vantrel.log|b\\n"), row.replyAfter);
        EXPECT_EQ(ReadFile(log + ".old"), moved) << "written after it left the path";
        if (row.undo) row.undo(log);
        EXPECT_EQ(session.Send("printf|vantrel.log|c\\n"), "1");
        ExpectWhole(ReadFile(log), "a\r\nb\r\nc\r\n");
        EXPECT_EQ(session.Finish(), 0);
        ExpectWhole(ReadFile(log), "a\r\nb\r\nc\r\n");
    }
}

// Descriptors of the host that name files in its log folder.
int OpenFilesIn(int pid, const std::string& folder) {
    int count = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        char target[PATH_MAX];
        const ssize_t length = readlink(entry.path().c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, length).rfind(folder, 0) == 0) ++count;
    }
    return count;
}

// A process with many logs keeps only the most recently used ones open; the others open
// their file again on their next call and go on where they stopped.
TEST(KeptOpenLogFile, AProcessWithManyLogsHoldsABoundedNumberOfThem) {
    HostInstall host = InstallHost("manylogs");
    const std::string folder = host.InstanceFolder(1);
    Host session(host);
    ASSERT_EQ(session.Send("load"), "1");
    constexpr int kLogs = 40;
    for (int i = 0; i < kLogs; ++i)
        ASSERT_EQ(session.Send("printf|log" + std::to_string(i) + ".log|first\\n"), "1");
    EXPECT_LE(OpenFilesIn(session.pid(), folder), 16);
    for (int i = 0; i < kLogs; ++i)
        ASSERT_EQ(session.Send("printf|log" + std::to_string(i) + ".log|second\\n"), "1");
    EXPECT_LE(OpenFilesIn(session.pid(), folder), 16);
    for (int i = 0; i < kLogs; ++i)
        ExpectWhole(ReadFile(folder + "/log" + std::to_string(i) + ".log"), "first\r\nsecond\r\n");
    EXPECT_EQ(session.Finish(), 0);
}

}  // namespace
}  // namespace vantrel::test
