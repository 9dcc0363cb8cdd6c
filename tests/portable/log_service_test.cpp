// The log service: text grouped by thread with entry 0 for the loading thread, the file
// complete after each call, the merges from memory and from part files, Close.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log/clog_service.h"
#include "platform/atom_table.h"
#include "platform/file.h"
#include "platform/platform_config.h"
#include "platform/process.h"
#include "support/log_text.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using test::Log;
using test::Worker;

std::string Summary(int threads, uint32_t loader = platform::GetCurrentThreadId()) {
    return test::ServiceSummary(platform::GetCurrentProcessId(), threads, loader);
}

// A thread handle that reports its thread as ended, or one of this thread.
platform::ThreadHandle ThreadHandle(bool ended) {
    platform::ThreadHandle handle = nullptr;
    auto take = [&] { platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle); };
    ended ? std::thread(take).join() : take();
    return handle;
}

struct Service {
    std::string folder = test::MakeTempDir("service") + platform::kPathSeparator;
    CLogService log;
    explicit Service(uint32_t writeImmediately = 1, uint32_t loader = 0, uint16_t atom = 0,
                     const char* name = "vantrel.log") {
        test::PutLogSetting(test::kInstancePath, name, "WriteImmediately", writeImmediately);
        test::PutLogSetting(test::kInstancePath, name, "CacheSize(KB)", 0);
        EXPECT_EQ(test::InitService(log, folder, name, LogModeFromSettings, atom, loader), 1);
    }
    bool Has(const std::string& name) const { return test::PathExists(folder + name); }
    std::string Text() const { return test::MaskTimes(test::ReadFile(folder + "vantrel.log")); }
};

// After every call the file is complete (and closed where files do not stay open), each
// thread's text is one block, the loading thread's first even when it logged later, and no
// part file exists; with nothing new there is no merge.
TEST(LogService, WriteImmediatelyGroupsByThreadAndKeepsTheFileCompleteAndClosed) {
    Service s;
    Worker worker;
    for (int round = 1; round <= 2; ++round) {
        worker.Run([&] { EXPECT_EQ(Log(s.log, "b%d\n", round), 1); });
        platform::File probe;
        EXPECT_EQ(probe.Open(s.folder + "vantrel.log", platform::FileOpenMode::ExistingRead),
                  !platform::kLogFilesStayOpenBetweenCalls);
        probe.Abort();
        EXPECT_EQ(Log(s.log, "a%d\n", round), 1);
        EXPECT_FALSE(s.Has("vantrel_0.log") || s.Has("vantrel_1.log"));
    }
    EXPECT_EQ(s.Text(), "a1\r\na2\r\nb1\r\nb2\r\n" + Summary(2));
    test::WriteFile(s.folder + "vantrel.log", "X");
    EXPECT_EQ(Log(s.log, "%s", ""), 1);
    s.log.Commit();
    EXPECT_EQ(s.Text(), "X");
}

// Without WriteImmediately: text stays with its thread until an image line fills a cache
// (a part file appears), and Close merges everything and removes the part files.
TEST(LogService, PartFilesHoldTheTextUntilTheFinalMerge) {
    Service s(0);
    Worker worker;
    EXPECT_EQ(Log(s.log, "loader\n"), 1);
    worker.Run([&] { EXPECT_EQ(Log(s.log, "worker\n"), 1); });
    EXPECT_FALSE(s.Has("vantrel_0.log"));
    EXPECT_EQ(test::Picture(s.log, "shot.bmp", "pic\n"), 1);
    EXPECT_TRUE(s.Has("vantrel_0.log"));
    EXPECT_FALSE(s.Has("vantrel_1.log") || s.Has("vantrel.log"));
    s.log.Commit();
    const std::string merged =
        "loader\r\n<img src=\"img/shot.bmp\" border=\"0\" align=\"bottom\" alt=\"shot.bmp\">"
        "pic\r\nworker\r\n";
    EXPECT_EQ(s.Text(), merged + Summary(2));
    test::WriteFile(s.folder + "vantrel.log", "X");
    s.log.Commit();
    EXPECT_EQ(s.Text(), "X") << "a merge without new text writes nothing";
    worker.Run([&] { EXPECT_EQ(Log(s.log, "more\n"), 1); });
    EXPECT_EQ(s.log.Close(), 1);
    EXPECT_EQ(s.Text(), merged + "more\r\n" + Summary(2));
    EXPECT_FALSE(s.Has("vantrel_0.log") || s.Has("vantrel_1.log"));
}

// Part files never empty, take over or delete a file they did not create: another log's
// (kept in memory or in files, started before or after the part file) or an earlier run's.
TEST(LogService, PartFilesLeaveOtherFilesAlone) {
    const struct {
        uint32_t writeImmediately;
        bool neighbourIsLog, partFirst;
    } rows[] = {{1, true, false}, {0, true, false}, {0, false, false}, {0, true, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << row.writeImmediately << row.neighbourIsLog << row.partFirst);
        Service mine(row.writeImmediately, 0, 0, "app.log");
        if (!row.neighbourIsLog) test::WriteFile(mine.folder + "app_0.log", "earlier run\r\n");
        EXPECT_EQ(Log(mine.log, "mine\n"), 1);
        if (row.partFirst) {
            EXPECT_EQ(test::Picture(mine.log, "p.bmp", "picture\n"), 1);
        }
        CLogService other;
        if (row.neighbourIsLog) {
            ASSERT_EQ(test::InitService(other, mine.folder, "app_0.log"), 1);
            EXPECT_EQ(Log(other, "other\n"), 1);
            EXPECT_EQ(other.Close(), 1);
        }
        EXPECT_EQ(mine.log.Close(), 1);
        const std::string text = test::ReadFile(mine.folder + "app.log");
        EXPECT_EQ(text.find(row.partFirst ? "mine\r\n<img" : "mine\r\n\r\nProcess"), 0u) << text;
        EXPECT_EQ(test::ReadFile(mine.folder + "app_0.log")
                      .rfind(row.neighbourIsLog ? "other\r\n" : "earlier run\r\n", 0),
                  0u);
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(mine.folder))
            names.insert(entry.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"img", "app.log", "app_0.log"}));
    }
}

// Threads make their entries without the service's lock; merges running meanwhile read each
// thread's text whole, threads in the order of their first entry.
TEST(LogService, EntriesOfManyThreadsMeetMergesAndStayGroupedInOrder) {
    Service s(0);
    std::vector<Worker> workers(4);
    std::string expected;
    for (int t = 0; t < 4; ++t) {
        workers[t].Run([&, t] { EXPECT_EQ(Log(s.log, "t%d first\n", t), 1); });
        expected += "t" + std::to_string(t) + " first\r\n";
        for (int i = 0; i < 400; ++i)
            expected += "t" + std::to_string(t) + " " + std::to_string(i) + "\r\n";
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            workers[t].Run([&, t] {
                for (int i = 0; i < 400; ++i) EXPECT_EQ(Log(s.log, "t%d %d\n", t, i), 1);
            });
        });
    }
    for (int i = 0; i < 50; ++i) s.log.Commit();
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(s.log.Close(), 1);
    EXPECT_EQ(s.Text().substr(0, expected.size()), expected);
}

// An ended thread's log keeps its place and text: a thread that reuses its id (the loading
// thread's included) gets a log of its own after it. Close releases the atom.
TEST(LogService, RecycledThreadIdsGetTheirOwnEntryAndCloseEndsTheService) {
    constexpr uint32_t kLoader = 0x777, kRecycled = 0x4242;
    Service s(1, kLoader, platform::AddAtom("vantrel.log"));
    for (uint32_t id : {kLoader, kRecycled}) {
        CLog* ended = s.log.CreateThreadLog(ThreadHandle(true), id);
        ASSERT_NE(ended, nullptr);
        EXPECT_EQ(Log(*ended, "old %x\n", id), 1);
        CLog* fresh = s.log.CreateThreadLog(ThreadHandle(false), id);
        ASSERT_NE(fresh, nullptr) << id;
        EXPECT_EQ(Log(*fresh, "new %x\n", id), 1);
        platform::ThreadHandle spare = ThreadHandle(false);
        EXPECT_EQ(s.log.CreateThreadLog(spare, id), nullptr) << "a live log of that id";
        platform::CloseThreadHandle(spare);
    }
    s.log.Commit();
    EXPECT_EQ(s.Text(), "old 777\r\nnew 777\r\nold 4242\r\nnew 4242\r\n" + Summary(4, kLoader));
    EXPECT_EQ(s.log.Close(), 1);
    EXPECT_EQ(platform::FindAtom("vantrel.log"), 0);
    EXPECT_EQ(Log(s.log, "after close\n"), 0);
}

}  // namespace
}  // namespace vantrel
