// The log service: its thread registry, forwarding, write-immediately behaviour, the merges
// from memory and from part files, the summary block and Close.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "log/clog_service.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/atom_table.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/test_seam.h"
#include "platform_config.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using test::Log;
using test::Picture;
using test::Worker;

const platform::SystemTime kFixedTime{2026, 12, 5, 4, 16, 5, 21, 123};

int32_t Begin(CLog& log, int number) {
    const std::string name = "f" + std::to_string(number);
    return log.FuncBegin(0, name.c_str());
}

void SetLogSetting(const std::string& logName, const char* valueName, uint32_t value) {
    test::PutLogSetting(test::kInstancePath, logName, valueName, value);
}

std::string ServiceSummary(int threads, uint32_t loadingThreadId) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "\r\nProcess ID: 0x%x\r\nThere are %d thread(s) involved in this log process."
                  "\r\nThe initializing/loading thread of vantrel.dll is 0x%08x.\r\n"
                  "Log Time: 2026/12/04 16:05:21:123\r\n",
                  platform::GetCurrentProcessId(), threads, loadingThreadId);
    return std::string(text) + std::string(72, '/') + "\r\n\r\n";
}

// True when nobody holds the file open (every opening is exclusive).
bool IsClosed(const std::string& path) {
    platform::File probe;
    return probe.Open(path, platform::FileOpenMode::ExistingRead);
}

class LogServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = test::MakeTempDir("service") + "/logs/";
        platform::testing::SetFakeLocalTime(&kFixedTime);
    }
    void TearDown() override {
        if (service) service->Close();
    }

    // A service as the manager makes it, on the calling thread, which counts as the
    // loading thread unless another id is given.
    CLogService& Start(const char* logName = "vantrel.log", uint16_t atom = 0,
                       uint32_t loadingThreadId = 0) {
        service = std::make_unique<CLogService>();
        initResult = test::InitService(*service, folder, logName, LogModeFromSettings, atom,
                                       loadingThreadId);
        return *service;
    }
    std::string Path(const std::string& name) const { return folder + name; }

    std::string folder;
    std::unique_ptr<CLogService> service;
    int32_t initResult = 0;
};

TEST_F(LogServiceTest, LoadingThreadAloneFillsEntryZero) {
    CLogService& log = Start();
    ASSERT_EQ(initResult, 1);
    ASSERT_EQ(log.GetThreadLogCount(), 1u);
    EXPECT_EQ(log.GetThreadLogAt(0), nullptr);

    EXPECT_EQ(Log(log, "hello %d\n", 7), 1);
    ASSERT_EQ(log.GetThreadLogCount(), 1u);
    ASSERT_NE(log.GetThreadLogAt(0), nullptr);
    EXPECT_EQ(log.GetThreadLogAt(0)->GetFileName(), "vantrel_0.log");
    EXPECT_EQ(log.GetThreadLogAt(0)->GetMode(), log.GetMode() | 0x540u);
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")),
              "hello 7\r\n" + ServiceSummary(1, platform::GetCurrentThreadId()));
}

TEST_F(LogServiceTest, AnotherThreadFirstLeavesEntryZeroEmpty) {
    CLogService& log = Start();
    uint32_t workerId = 0;
    Worker worker;
    worker.Run([&] {
        workerId = platform::GetCurrentThreadId();
        EXPECT_EQ(Log(log, "from worker\n"), 1);
    });
    ASSERT_EQ(log.GetThreadLogCount(), 2u);
    EXPECT_EQ(log.GetThreadLogAt(0), nullptr);
    ASSERT_NE(log.GetThreadLogAt(1), nullptr);
    EXPECT_EQ(log.GetThreadLogAt(1)->GetThreadId(), workerId);
    EXPECT_EQ(log.GetThreadLogAt(1)->GetFileName(), "vantrel_1.log");
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")),
              "from worker\r\n" + ServiceSummary(2, platform::GetCurrentThreadId()));

    // The loading thread then takes entry 0, whose text comes first.
    EXPECT_EQ(Log(log, "from loader\n"), 1);
    EXPECT_EQ(log.GetThreadLogCount(), 2u);
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")),
              "from loader\r\nfrom worker\r\n" + ServiceSummary(2, platform::GetCurrentThreadId()));
}

TEST_F(LogServiceTest, MergeFromMemoryGroupsTextByThread) {
    CLogService& log = Start();
    Worker worker;
    for (int round = 1; round <= 2; ++round) {
        EXPECT_EQ(Log(log, "a%d\n", round), 1);
        worker.Run([&] { EXPECT_EQ(Log(log, "b%d\n", round), 1); });
    }
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")),
              "a1\r\na2\r\nb1\r\nb2\r\n" + ServiceSummary(2, platform::GetCurrentThreadId()));
}

TEST_F(LogServiceTest, WriteImmediatelyKeepsTheFileCompleteAndClosed) {
    CLogService& log = Start();
    ASSERT_EQ(log.GetMode(), 0x3000Au);
    Worker worker;
    std::string loader;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Log(log, "line %d\n", i), 1);
        loader += "line " + std::to_string(i) + "\r\n";
        worker.Run([&] { EXPECT_EQ(Begin(log, i), 1); });
        EXPECT_NE(test::ReadFile(Path("vantrel.log")).find("f" + std::to_string(i) + " // tid:"),
                  std::string::npos);
        EXPECT_NE(test::ReadFile(Path("vantrel.log")).find(loader), std::string::npos);
        // Where files stay open between calls the log holds it, locked, meanwhile.
        EXPECT_EQ(IsClosed(Path("vantrel.log")), !platform::kLogFilesStayOpenBetweenCalls);
        EXPECT_FALSE(test::PathExists(Path("vantrel_0.log")));
        EXPECT_FALSE(test::PathExists(Path("vantrel_1.log")));
    }
    const std::string content = test::ReadFile(Path("vantrel.log"));
    EXPECT_EQ(content.rfind(loader, 0), 0u);
    EXPECT_EQ(log.Close(), 1);
    EXPECT_FALSE(test::PathExists(Path("vantrel_0.log")));
    EXPECT_FALSE(test::PathExists(Path("vantrel_1.log")));
    service.reset();
}

TEST_F(LogServiceTest, MergeIsSkippedWhenNothingIsNew) {
    CLogService& log = Start();
    EXPECT_EQ(Log(log, "once\n"), 1);
    // Stand-in content: a merge that wrote would replace it.
    test::WriteFile(Path("vantrel.log"), "X");
    EXPECT_EQ(Log(log, "%s", ""), 1);
    EXPECT_EQ(log.FlushCache(false), 1);
    log.Commit();
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")), "X");
}

TEST_F(LogServiceTest, PartFilesAppearOnlyWhenAThreadLogFlushes) {
    SetLogSetting("vantrel.log", "WriteImmediately", 0);
    SetLogSetting("vantrel.log", "CacheSize(KB)", 16);
    CLogService& log = Start();
    ASSERT_EQ(log.GetMode(), 0x20002u);

    // Text never makes a part log flush; an image line over the cache size does.
    EXPECT_EQ(Log(log, "first entry of the loader\n"), 1);
    EXPECT_FALSE(test::PathExists(Path("vantrel_0.log")));
    EXPECT_EQ(Picture(log, "shot.bmp", "pic\n"), 1);
    EXPECT_TRUE(test::PathExists(Path("vantrel_0.log")));
    Worker worker;
    worker.Run([&] { EXPECT_EQ(Log(log, "worker text\n"), 1); });
    EXPECT_FALSE(test::PathExists(Path("vantrel_1.log")));
    worker.Run([&] { EXPECT_EQ(Picture(log, "w.bmp", "wpic\n"), 1); });
    EXPECT_TRUE(test::PathExists(Path("vantrel_1.log")));
    EXPECT_EQ(log.GetThreadLogAt(1)->GetMode(), 0x20002u | 0x580u);
    EXPECT_FALSE(test::PathExists(Path("vantrel.log")));

    EXPECT_EQ(log.Close(), 1);
    EXPECT_FALSE(test::PathExists(Path("vantrel_0.log")));
    EXPECT_FALSE(test::PathExists(Path("vantrel_1.log")));
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")),
              "first entry of the loader\r\n"
              "<img src=\"img/shot.bmp\" border=\"0\" align=\"bottom\" alt=\"shot.bmp\">pic\r\n"
              "worker text\r\n"
              "<img src=\"img/w.bmp\" border=\"0\" align=\"bottom\" alt=\"w.bmp\">wpic\r\n" +
                  ServiceSummary(2, platform::GetCurrentThreadId()));
    service.reset();
}

TEST_F(LogServiceTest, MergeFromFilesWritesNothingWithoutNewText) {
    SetLogSetting("vantrel.log", "WriteImmediately", 0);
    CLogService& log = Start();
    Worker worker;
    EXPECT_EQ(Log(log, "one\n"), 1);
    worker.Run([&] { EXPECT_EQ(Log(log, "two\n"), 1); });
    log.Commit();
    const std::string summary = ServiceSummary(2, platform::GetCurrentThreadId());
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")), "one\r\ntwo\r\n" + summary);

    test::WriteFile(Path("vantrel.log"), "X");
    log.Commit();
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")), "X");

    worker.Run([&] { EXPECT_EQ(Log(log, "three\n"), 1); });
    log.Commit();
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")), "one\r\ntwo\r\nthree\r\n" + summary);
}

TEST_F(LogServiceTest, HtmlNamesAndDocumentAfterEveryEntry) {
    SetLogSetting("vantrel.log", "HtmlDoc", 1);
    CLogService& log = Start();
    EXPECT_EQ(log.GetFileName(), "vantrel.log.htm");
    EXPECT_EQ(Log(log, "<b>&\n"), 1);
    EXPECT_EQ(log.GetThreadLogAt(0)->GetFileName(), "vantrel_0.log.htm");
    Worker worker;
    worker.Run([&] { Log(log, "w\n"); });
    EXPECT_EQ(log.GetThreadLogAt(1)->GetFileName(), "vantrel_1.log.htm");

    char head[512];
    std::snprintf(head, sizeof head, kHtmlHead, "vantrel.log.htm");
    EXPECT_EQ(test::ReadFile(Path("vantrel.log.htm")),
              std::string(head) + kHtmlBeginBlock + "<b>&\r\nw\r\n" +
                  ServiceSummary(2, platform::GetCurrentThreadId()) + kHtmlEndBlock +
                  kHtmlClosingLine);
}

TEST_F(LogServiceTest, NameWithoutDotBeforeAnyHtmlSuffixMakesNoThreadLogs) {
    for (uint32_t html : {0u, 1u}) {
        SCOPED_TRACE(html);
        SetLogSetting("trace", "HtmlDoc", html);
        CLogService& log = Start("trace");
        ASSERT_EQ(initResult, 1);
        EXPECT_EQ(log.GetFileName(), html ? "trace.htm" : "trace");
        EXPECT_EQ(Log(log, "lost\n"), 0);
        EXPECT_EQ(Begin(log, 1), 0);
        EXPECT_EQ(log.FuncEnd(0), 0);
        EXPECT_EQ(Picture(log, "p.bmp", "x\n"), 0);
        EXPECT_EQ(log.GetThreadLogCount(), 1u);
        EXPECT_EQ(log.GetThreadLogAt(0), nullptr);
        log.Close();
    }
}

TEST_F(LogServiceTest, NullNamesAndFormatsDoNotCrash) {
    CLogService& log = Start();
    EXPECT_EQ(log.FuncBegin(0, nullptr), 1);
    EXPECT_EQ(log.FuncEnd(0), 1);
    va_list none{};
    EXPECT_EQ(log.Printf(0, nullptr, none), 0);
    EXPECT_EQ(log.DrawBitmap(0, nullptr, nullptr, nullptr, none), 0);
    char tid[32];
    std::snprintf(tid, sizeof tid, " // tid:0x%08x", platform::GetCurrentThreadId());
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")),
              "\r\n" + std::string(tid) + "\r\n{\r\n}\r\n" +
                  ServiceSummary(1, platform::GetCurrentThreadId()));
}

// A thread whose log outlives it: its handle reports the thread as ended.
platform::ThreadHandle HandleOfEndedThread() {
    platform::ThreadHandle handle = nullptr;
    std::thread([&] {
        EXPECT_TRUE(platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle));
    }).join();
    return handle;
}

platform::ThreadHandle HandleOfThisThread() {
    platform::ThreadHandle handle = nullptr;
    EXPECT_TRUE(platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle));
    return handle;
}

TEST_F(LogServiceTest, RecycledThreadIdGetsItsOwnEntry) {
    CLogService& log = Start();
    constexpr uint32_t kRecycled = 0x4242;
    CLog* ended = log.CreateThreadLog(HandleOfEndedThread(), kRecycled);
    ASSERT_NE(ended, nullptr);
    EXPECT_EQ(log.FindThreadLog(kRecycled, nullptr), nullptr);
    CLog* fresh = log.CreateThreadLog(HandleOfThisThread(), kRecycled);
    ASSERT_NE(fresh, nullptr);
    int32_t index = -1;
    EXPECT_EQ(log.FindThreadLog(kRecycled, &index), fresh);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(ended->GetFileName(), "vantrel_1.log");
    EXPECT_EQ(fresh->GetFileName(), "vantrel_2.log");
    // A live log of that id refuses a second one.
    platform::ThreadHandle spare = HandleOfThisThread();
    EXPECT_EQ(log.CreateThreadLog(spare, kRecycled), nullptr);
    platform::CloseThreadHandle(spare);
}

TEST_F(LogServiceTest, EndedLoadingThreadKeepsEntryZeroAndItsText) {
    constexpr uint32_t kLoader = 0x777;
    CLogService& log = Start("vantrel.log", 0, kLoader);
    CLog* first = log.CreateThreadLog(HandleOfEndedThread(), kLoader);
    ASSERT_EQ(first, log.GetThreadLogAt(0));
    EXPECT_EQ(Log(*first, "old loader\n"), 1);
    CLog* second = log.CreateThreadLog(HandleOfThisThread(), kLoader);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(log.GetThreadLogAt(0), first);
    ASSERT_EQ(log.GetThreadLogCount(), 2u);
    EXPECT_EQ(log.GetThreadLogAt(1), second);
    EXPECT_EQ(second->GetFileName(), "vantrel_1.log");
    EXPECT_EQ(Log(*second, "new loader\n"), 1);
    log.Commit();
    EXPECT_EQ(test::ReadFile(Path("vantrel.log")),
              "old loader\r\nnew loader\r\n" + ServiceSummary(2, kLoader));
}

TEST_F(LogServiceTest, CacheQueriesSkipTheEmptyEntryZero) {
    SetLogSetting("vantrel.log", "CacheSize(KB)", 10);
    CLogService& log = Start();
    EXPECT_TRUE(log.IsCacheEmpty());
    EXPECT_FALSE(log.IsCacheFull());
    Worker worker;
    worker.Run([&] { Log(log, "0123456789"); });
    EXPECT_FALSE(log.IsCacheEmpty());
    EXPECT_FALSE(log.IsCacheFull());  // 10 characters are not more than 10
    worker.Run([&] { Log(log, "!"); });
    EXPECT_TRUE(log.IsCacheFull());
}

TEST_F(LogServiceTest, CloseReleasesPartFilesAndAtom) {
    const uint16_t atom = platform::AddAtom("vantrel.log");
    ASSERT_NE(atom, 0);
    CLogService& log = Start("vantrel.log", atom);
    Log(log, "x\n");
    EXPECT_EQ(log.Close(), 1);
    EXPECT_EQ(log.GetThreadLogCount(), 0u);
    EXPECT_EQ(platform::FindAtom("vantrel.log"), 0);
    EXPECT_EQ(Log(log, "after close\n"), 0);
    service.reset();
}

}  // namespace
}  // namespace vantrel
