// Many threads, logs, processes and loads at once: texts whole and in order, one instance per
// process, descriptors bounded.
#include <memory>

#include "posix/posix_fixture.h"

namespace vantrel::test {
namespace {

// Whole texts "t<t>:0".."t<t>:<entries-1>" of `threads`, one after the other, then a summary.
void ExpectWholeThreadTexts(const std::string& text, std::set<int> threads, int entries) {
    const std::string involved = "There are " + std::to_string(threads.size() + 1) + " thread(s)";
    size_t at = 0;
    for (int thread = -1; !threads.empty();) {
        ASSERT_EQ(1, sscanf(text.c_str() + at, "t%d:", &thread)) << text.substr(at, 40);
        ASSERT_EQ(1u, threads.erase(thread)) << "thread " << thread << " unknown or twice";
        std::string block;
        for (int i = 0; i < entries; ++i)
            block += "t" + std::to_string(thread) + ":" + std::to_string(i) + "\r\n";
        ASSERT_EQ(0, text.compare(at, block.size(), block)) << "not whole or in order: " << thread;
        at += block.size();
    }
    EXPECT_EQ("\r\n", text.substr(at, 2));
    EXPECT_TRUE(Has(text, involved) && CountOf(text, "Process ID:") == 1) << involved;
}

class ManyThreads : public ::testing::TestWithParam<std::pair<uint32_t, int>> {};

// 16 threads on one log, 4 on a log each, at once; written immediately (a merge per entry)
// at a size that keeps the test short.
TEST_P(ManyThreads, EveryThreadsTextIsWholeAndInOrder) {
    const auto [writeImmediately, entries] = GetParam();
    PutDefaultSetting("WriteImmediately", writeImmediately);
    const HostInstall host = InstallHost("threads");
    EXPECT_EQ("0",
              RunHost(host, {"threads|16|" + std::to_string(entries) + "|shared.log|4"}).lines[0]);
    // Entry 0 belongs to the loading thread, which never logged: 16 + 1 threads.
    ExpectWholeThreadTexts(ReadFile(host.LogPath("shared.log")),
                           {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, entries);
    for (int k = 0; k < 4; ++k)
        ExpectWholeThreadTexts(ReadFile(host.LogPath("other" + std::to_string(k) + ".log")),
                               {16 + k}, entries);
}

INSTANTIATE_TEST_SUITE_P(Modes, ManyThreads,
                         ::testing::Values(std::pair{0u, 10000}, std::pair{1u, 300}));

// Eight hosts at once: a number each, complete logs, a sound store.
TEST(ManyProcesses, EightHostsGetTheirOwnInstanceAndCompleteLogs) {
    const HostInstall host = InstallHost("crowd");
    std::vector<std::unique_ptr<Host>> sessions;
    for (int i = 0; i < 8; ++i) sessions.push_back(std::make_unique<Host>(host));
    for (auto& session : sessions) ASSERT_TRUE(session->Post("loop|1000|v.log|e"));
    for (auto& session : sessions) EXPECT_EQ("0", session->Reply());
    std::string expected;
    for (int i = 0; i < 1000; ++i) expected += "e" + std::to_string(i) + "\r\n";
    for (int n = 1; n <= 8; ++n) ExpectCompleteLog(ReadFile(host.LogPath("v.log", n)), expected);
    EXPECT_FALSE(PathExists(host.InstanceFolder(9)));
    for (auto& session : sessions) EXPECT_EQ(0, session->Finish());
    platform::ReleaseRegistryStore();
    sqlite3* db = nullptr;
    char** result = nullptr;
    int rows = 0, columns = 0;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(platform::RegistryStore::DefaultPath().c_str(), &db,
                                         SQLITE_OPEN_READONLY, nullptr));
    ASSERT_EQ(SQLITE_OK,
              sqlite3_get_table(db, "PRAGMA integrity_check", &result, &rows, &columns, nullptr));
    EXPECT_STREQ("ok", rows == 1 ? result[1] : "no single answer");
    sqlite3_free_table(result);
    sqlite3_close(db);
}

// 100 load/unload cycles: the same number, no descriptor left, every entry kept.
TEST(ManyLoads, AHundredCyclesLeaveNoDescriptorAndKeepTheInstance) {
    const HostInstall host = InstallHost("cycling");
    Host session(host);
    ASSERT_EQ("1", session.Send("printf|cycle.log|first\\n"));
    const std::string warmUp = session.Send("cycles|1|cycle.log");  // counts after a reload
    ASSERT_EQ(" 0", warmUp.substr(warmUp.size() - 2)) << warmUp;
    int before = -1, after = -1, failed = -1;  // descriptors before and after, failed calls
    sscanf(session.Send("cycles|99|cycle.log").c_str(), "%d %d %d", &before, &after, &failed);
    EXPECT_TRUE(before == after && before > 0 && failed == 0)
        << before << " " << after << " " << failed;
    EXPECT_EQ(0, session.Finish());
    EXPECT_FALSE(PathExists(host.InstanceFolder(2)));
    const std::string backUp = ReadFile(host.LogPath("cycle.log.bak"));
    EXPECT_TRUE(Ordered(backUp, "cycle ", 98, backUp.find("first\r\n")));
    EXPECT_EQ(0u, ReadFile(host.LogPath("cycle.log")).rfind("cycle 98\r\n", 0));
}

// Under a low descriptor limit: the final merge of thousands of part files, a bitmap entry's
// part file, and many logs written at once (the most recently used stay open).
TEST(FewDescriptors, ShortLivedThreadsAndManyLogsHoldABoundedNumberOfFiles) {
    HostOptions options;
    options.wrapper = {"/bin/sh", "-c", "ulimit -n 256 && exec \"$0\""};
    for (const auto& [kind, threads] :
         {std::pair<std::string, int>{"text", 10000}, {"bitmap", 600}, {"logs", 40}}) {
        SCOPED_TRACE(kind);
        UseFreshEnvironment();
        PutDefaultSetting("WriteImmediately", kind == "logs");
        PutDefaultSetting("CacheSize(KB)", 0);  // every bitmap entry writes its part file
        const HostInstall host = InstallHost("serial");
        Host session(host, options);
        const int before = std::stoi(session.Send("fds"));
        if (kind != "logs") {
            EXPECT_EQ("0", session.Send("serial|" + std::to_string(threads) + "|many.log|" + kind));
            EXPECT_LE(std::stoi(session.Send("fds")), before + 2);
            EXPECT_EQ(0, session.Finish());
            const std::string text = ReadFile(host.LogPath("many.log"));
            EXPECT_TRUE(Ordered(text, "s", threads));
            EXPECT_TRUE(Has(text, "There are " + std::to_string(threads + 1) + " thread(s)"));
            EXPECT_EQ((std::set<std::string>{"img", "many.log"}), FilesIn(host.InstanceFolder(1)));
            continue;
        }
        for (int k = 0; k < 2 * threads; ++k)
            ASSERT_EQ("1", session.Send("printf|log" + std::to_string(k % threads) + ".log|r" +
                                        std::to_string(k / threads) + "\\n"));
        EXPECT_LE(std::stoi(session.Send("fds")), before + 16 + 2);  // 16 kept open, store, lock
        EXPECT_EQ(0, session.Finish());
        for (int k = 0; k < threads; ++k) {
            const std::string text = ReadFile(host.LogPath("log" + std::to_string(k) + ".log"));
            EXPECT_TRUE(Has(text, "r0\r\nr1\r\n") && Has(text, "There are 1 thread(s)")) << k;
        }
    }
}

}  // namespace
}  // namespace vantrel::test
