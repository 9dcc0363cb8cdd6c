// The log service: text grouped by thread with entry 0 for the loading thread, the file
// complete and closed after each call, the merges from memory and from part files, Close.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "log/clog_service.h"
#include "log/html_document.h"
#include "platform/atom_table.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/test_seam.h"
#include "platform_config.h"
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

class LogServiceTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (service) service->Close();
    }
    CLogService& Start(uint32_t loadingThreadId = 0, uint16_t atom = 0) {
        service = std::make_unique<CLogService>();
        EXPECT_EQ(test::InitService(*service, folder, "vantrel.log", LogModeFromSettings, atom,
                                    loadingThreadId),
                  1);
        return *service;
    }
    void Set(const char* name, uint32_t value) {
        test::PutLogSetting(test::kInstancePath, "vantrel.log", name, value);
    }
    std::string Path(const std::string& name) const { return folder + name; }
    std::string Text(const std::string& name = "vantrel.log") const {
        return test::MaskTimes(test::ReadFile(Path(name)));
    }

    std::string folder = test::MakeTempDir("service") + platform::kPathSeparator;
    std::unique_ptr<CLogService> service;
};

// After every call the file is complete (and closed where files do not stay open), each
// thread's text is one block, the loading thread's first even when it logged later, and no
// part file exists; with nothing new there is no merge.
TEST_F(LogServiceTest, WriteImmediatelyGroupsByThreadAndKeepsTheFileCompleteAndClosed) {
    CLogService& log = Start();
    Worker worker;
    for (int round = 1; round <= 2; ++round) {
        worker.Run([&] { EXPECT_EQ(Log(log, "b%d\n", round), 1); });
        platform::File probe;
        EXPECT_EQ(probe.Open(Path("vantrel.log"), platform::FileOpenMode::ExistingRead),
                  !platform::kLogFilesStayOpenBetweenCalls);
        probe.Abort();
        EXPECT_EQ(Log(log, "a%d\n", round), 1);
        EXPECT_FALSE(test::PathExists(Path("vantrel_0.log")) ||
                     test::PathExists(Path("vantrel_1.log")));
    }
    EXPECT_EQ(Text(), "a1\r\na2\r\nb1\r\nb2\r\n" + Summary(2));
    test::WriteFile(Path("vantrel.log"), "X");
    EXPECT_EQ(Log(log, "%s", ""), 1);
    log.Commit();
    EXPECT_EQ(Text(), "X");
}

TEST_F(LogServiceTest, HtmlDocumentIsCompleteAfterEveryEntry) {
    Set("HtmlDoc", 1);
    CLogService& log = Start();
    EXPECT_EQ(Log(log, "<b>&\n"), 1);
    Worker worker;
    worker.Run([&] { Log(log, "w\n"); });
    std::string head = kHtmlHead;
    head.replace(head.find("%s"), 2, "vantrel.log.htm");
    EXPECT_EQ(Text("vantrel.log.htm"), head + kHtmlBeginBlock + "<b>&\r\nw\r\n" + Summary(2) +
                                           kHtmlEndBlock + kHtmlClosingLine);
}

// Without WriteImmediately: text stays with its thread until an image line fills a cache
// (a part file appears), and Close merges everything and removes the part files.
TEST_F(LogServiceTest, PartFilesHoldTheTextUntilTheFinalMerge) {
    Set("WriteImmediately", 0);
    Set("CacheSize(KB)", 16);
    CLogService& log = Start();
    Worker worker;
    EXPECT_EQ(Log(log, "loader\n"), 1);
    worker.Run([&] { EXPECT_EQ(Log(log, "worker\n"), 1); });
    EXPECT_FALSE(test::PathExists(Path("vantrel_0.log")));
    EXPECT_EQ(test::Picture(log, "shot.bmp", "pic\n"), 1);
    EXPECT_TRUE(test::PathExists(Path("vantrel_0.log")));
    EXPECT_FALSE(test::PathExists(Path("vantrel_1.log")) || test::PathExists(Path("vantrel.log")));
    log.Commit();
    const std::string merged =
        "loader\r\n<img src=\"img/shot.bmp\" border=\"0\" align=\"bottom\" alt=\"shot.bmp\">"
        "pic\r\nworker\r\n";
    EXPECT_EQ(Text(), merged + Summary(2));
    test::WriteFile(Path("vantrel.log"), "X");
    log.Commit();
    EXPECT_EQ(Text(), "X") << "a merge without new text writes nothing";
    worker.Run([&] { EXPECT_EQ(Log(log, "more\n"), 1); });
    EXPECT_EQ(log.Close(), 1);
    EXPECT_EQ(Text(), merged + "more\r\n" + Summary(2));
    EXPECT_FALSE(test::PathExists(Path("vantrel_0.log")) ||
                 test::PathExists(Path("vantrel_1.log")));
}

// An ended thread's log keeps its place and text: a thread that reuses its id (the loading
// thread's included) gets a log of its own after it.
TEST_F(LogServiceTest, RecycledThreadIdsGetTheirOwnEntry) {
    constexpr uint32_t kLoader = 0x777, kRecycled = 0x4242;
    CLogService& log = Start(kLoader);
    for (uint32_t id : {kLoader, kRecycled}) {
        CLog* ended = log.CreateThreadLog(ThreadHandle(true), id);
        ASSERT_NE(ended, nullptr);
        EXPECT_EQ(Log(*ended, "old %x\n", id), 1);
        CLog* fresh = log.CreateThreadLog(ThreadHandle(false), id);
        ASSERT_NE(fresh, nullptr) << id;
        EXPECT_EQ(Log(*fresh, "new %x\n", id), 1);
        platform::ThreadHandle spare = ThreadHandle(false);
        EXPECT_EQ(log.CreateThreadLog(spare, id), nullptr) << "a live log of that id";
        platform::CloseThreadHandle(spare);
    }
    log.Commit();
    EXPECT_EQ(Text(), "old 777\r\nnew 777\r\nold 4242\r\nnew 4242\r\n" + Summary(4, kLoader));
}

TEST_F(LogServiceTest, CloseReleasesTheAtomAndLaterCallsFail) {
    CLogService& log = Start(0, platform::AddAtom("vantrel.log"));
    EXPECT_EQ(log.FuncBegin(0, nullptr), 1);
    EXPECT_EQ(log.Close(), 1);
    EXPECT_EQ(platform::FindAtom("vantrel.log"), 0);
    EXPECT_EQ(Log(log, "after close\n"), 0);
    service.reset();
}

}  // namespace
}  // namespace vantrel
