// Many threads and many processes logging at once: every thread's text whole and in order,
// nothing interleaved inside an entry, the summary counts right, one instance folder per
// process, and loading and unloading the library over and over leaves nothing behind.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/process_identity.h"
#include "support/host.h"
#include "support/log_text.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Checks that the entry lines of a log are the texts of `threads` threads, "t<t>:<i>" for
// i = 0..entries-1 each, one thread's whole text after the other, then the summary.
void ExpectWholeThreadTexts(const std::string& text, const std::set<int>& threads, int entries,
                            int threadCount) {
    const std::vector<std::string> lines = Lines(text);
    size_t at = 0;
    std::set<int> seen;
    while (at < lines.size() && !lines[at].empty()) {
        int thread = -1, index = -1;
        char rest = 0;
        ASSERT_EQ(sscanf(lines[at].c_str(), "t%d:%d%c", &thread, &index, &rest), 2)
            << "line " << at << " is not one whole entry: " << lines[at];
        ASSERT_EQ(index, 0) << "thread " << thread << " does not start at its first entry";
        ASSERT_TRUE(threads.count(thread)) << thread;
        ASSERT_TRUE(seen.insert(thread).second) << "thread " << thread << " appears twice";
        for (int i = 0; i < entries; ++i, ++at) {
            ASSERT_LT(at, lines.size());
            ASSERT_EQ(lines[at], "t" + std::to_string(thread) + ":" + std::to_string(i));
        }
    }
    EXPECT_EQ(seen, threads);
    EXPECT_NE(text.find("There are " + std::to_string(threadCount) + " thread(s) involved"),
              std::string::npos);
    EXPECT_EQ(text.find("Process ID:"), text.rfind("Process ID:")) << "more than one summary";
}

struct ThreadsCase {
    const char* name;
    uint32_t writeImmediately;
    int entries;
};

class ManyThreadsTest : public ::testing::TestWithParam<ThreadsCase> {};

// Sixteen threads on one file name and four more on a file name each, all started together.
// With WriteImmediately 0 (texts kept per thread and merged at unload) at full size; with
// the default (a merge of every thread's text after every entry, whose cost grows with the
// file) at a size that keeps the test short.
TEST_P(ManyThreadsTest, EveryThreadsTextIsWholeAndInOrder) {
    const ThreadsCase& param = GetParam();
    PutDefaultSetting("WriteImmediately", param.writeImmediately);
    HostInstall host = InstallHost("threads");
    Host session(host);
    ASSERT_EQ(session.Send("load"), "1");
    EXPECT_EQ(session.Send("threads|16|" + std::to_string(param.entries) + "|shared.log|4"), "0")
        << "calls that failed";
    EXPECT_EQ(session.Finish(), 0);

    const std::string folder = host.InstanceFolder(1);
    std::set<int> sharing;
    for (int t = 0; t < 16; ++t) sharing.insert(t);
    // Entry 0 belongs to the loading thread, which never logged: 16 + 1 threads.
    ExpectWholeThreadTexts(ReadFile(folder + "/shared.log"), sharing, param.entries, 17);
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE("other" + std::to_string(k));
        ExpectWholeThreadTexts(ReadFile(folder + "/other" + std::to_string(k) + ".log"), {16 + k},
                               param.entries, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ManyThreadsTest,
                         ::testing::Values(ThreadsCase{"KeptInMemory", 0, 10000},
                                           ThreadsCase{"WrittenImmediately", 1, 300}),
                         [](const auto& info) { return std::string(info.param.name); });

// Eight processes of one executable load the library at the same moment and log: eight
// instance numbers, eight folders, eight complete logs, one record per number in the store.
TEST(ManyProcesses, EightHostsStartedTogetherGetTheirOwnInstanceAndCompleteLogs) {
    constexpr int kHosts = 8;
    HostInstall host = InstallHost("crowd");
    std::vector<std::unique_ptr<Host>> sessions;
    for (int i = 0; i < kHosts; ++i) sessions.push_back(std::make_unique<Host>(host));
    for (auto& session : sessions) ASSERT_TRUE(session->Post("load"));
    for (auto& session : sessions) ASSERT_EQ(session->Reply(), "1");
    for (auto& session : sessions) ASSERT_TRUE(session->Post("loop|1000|vantrel.log|e"));
    for (auto& session : sessions) EXPECT_EQ(session->Reply(), "0");

    std::string expected;
    for (int i = 0; i < 1000; ++i) expected += "e" + std::to_string(i) + "\r\n";
    std::set<std::string> owners;
    for (int n = 1; n <= kHosts; ++n) {
        SCOPED_TRACE("proc" + std::to_string(n));
        const std::string text = ReadFile(host.InstanceFolder(n) + "/vantrel.log");
        EXPECT_EQ(text.compare(0, expected.size(), expected), 0);
        EXPECT_NE(text.find("There are 1 thread(s)"), std::string::npos);
        owners.insert(
            GetValue(makeInstanceKeyPath(Lower(host.exePath), n), "Identifier").value_or(""));
    }
    EXPECT_FALSE(PathExists(host.InstanceFolder(kHosts + 1)));
    std::set<std::string> pids;
    for (auto& session : sessions) {
        char prefix[32];
        snprintf(prefix, sizeof prefix, "0x%x, ", session->pid());
        for (const std::string& owner : owners) {
            if (owner.rfind(prefix, 0) == 0) pids.insert(prefix);
        }
    }
    EXPECT_EQ(pids.size(), static_cast<size_t>(kHosts)) << "each number recorded by its holder";
    for (auto& session : sessions) EXPECT_EQ(session->Finish(), 0);

    // Eight writers at once left the store whole.
    platform::ReleaseRegistryStore();
    sqlite3* db = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2((std::string(getenv("XDG_CONFIG_HOME")) + "/vantrel/registry.db").c_str(),
                        &db, SQLITE_OPEN_READONLY, nullptr),
        SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

// Loading and unloading the library a hundred times in one process, logging in between: the
// same instance number each time, no descriptor left open, every entry kept (earlier runs'
// logs in the back-up). Under AddressSanitizer the host's exit also checks for leaks.
TEST(LoadUnload, AHundredCyclesLeaveNoDescriptorAndKeepTheInstance) {
    HostInstall host = InstallHost("cycling");
    Host session(host);
    ASSERT_EQ(session.Send("load"), "1");
    ASSERT_EQ(session.Send("printf|cycle.log|first\\n"), "1");
    // One cycle first, so that the count compares two moments after a reload.
    const std::string firstCycle = session.Send("cycles|1|cycle.log");
    ASSERT_EQ(firstCycle.substr(firstCycle.size() - 2), " 0") << firstCycle;
    const std::string reply = session.Send("cycles|99|cycle.log");
    int before = -1, after = -1, failed = -1;
    ASSERT_EQ(sscanf(reply.c_str(), "%d %d %d", &before, &after, &failed), 3) << reply;
    EXPECT_EQ(after, before);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(session.Finish(), 0);

    EXPECT_FALSE(PathExists(host.InstanceFolder(2)));
    const std::string folder = host.InstanceFolder(1);
    std::string earlier = "first\r\ncycle 0\r\n";
    for (int k = 0; k < 98; ++k) earlier += "cycle " + std::to_string(k) + "\r\n";
    const std::vector<std::string> backUp = Lines(ReadFile(folder + "/cycle.log.bak"));
    std::string entries;
    for (const std::string& line : backUp) {
        if (line == "first" || line.rfind("cycle ", 0) == 0) entries += line + "\r\n";
    }
    EXPECT_EQ(entries, earlier);
    EXPECT_EQ(ReadFile(folder + "/cycle.log").rfind("cycle 98\r\n", 0), 0u);
}

}  // namespace
}  // namespace vantrel::test
