// A log service moving text to disk: failed writes at a merge, the HTML head, the final merge
// and the first opening report the failure and lose no accepted text; part files beside
// other logs; thread ids that come back; Close.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "log/clog_service.h"
#include "platform/atom_table.h"
#include "platform/platform_config.h"
#include "platform/process.h"
#include "platform/test_seam.h"
#include "support/log_text.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::ClearFaults;
using platform::testing::FailAfter;
using platform::testing::Fault;
using test::Log;
using test::ReadFile;

struct Service {
    std::string folder = test::MakeTempDir("service") + "/logs/";
    CLogService log;
    void Set(const char* setting, uint32_t value, const char* name = "vantrel.log") {
        test::PutLogSetting(test::kInstancePath, name, setting, value);
    }
    void Start(const char* name = "vantrel.log", uint16_t atom = 0, uint32_t loader = 0) {
        EXPECT_EQ(test::InitService(log, folder, name, LogModeFromSettings, atom, loader), 1);
    }
};

struct WriteFault {
    const char* name;
    uint32_t html, immediately;
    Fault fault;
    int skip, count;
    bool warm;  // one entry merged before the fault
};

class WriteFaultTest : public ::testing::TestWithParam<WriteFault> {};

// The faulted call (or the final merge) returns 0; the next call writes every entry once, in
// order, behind one whole HTML head. Without WriteImmediately the text that the final merge
// could not write stays in the part file.
TEST_P(WriteFaultTest, TheFailureIsReportedAndTheNextMergeWritesEverything) {
    const WriteFault& c = GetParam();
    if (platform::kLogFilesStayOpenBetweenCalls && c.fault == Fault::FileClose && c.warm)
        GTEST_SKIP() << "nothing is closed between calls";
    Service s;
    s.Set("HtmlDoc", c.html);
    s.Set("WriteImmediately", c.immediately);
    s.Start();
    const std::string path = s.folder + (c.html ? "vantrel.log.htm" : "vantrel.log");
    ASSERT_EQ(c.warm ? Log(s.log, "a\n") : 1, 1);
    s.log.ReleaseKeptFile();  // so that the call opens the file, as after the bound did
    if (!c.immediately) {
        EXPECT_EQ(Log(s.log, "kept in memory\n"), 1);
        FailAfter(c.fault, c.skip, c.count);
        EXPECT_EQ(s.log.Close(), 0);
        ClearFaults();
        EXPECT_NE(
            (ReadFile(path) + ReadFile(s.folder + "vantrel_0.log")).find("kept in memory\r\n"),
            std::string::npos);
        return;
    }
    FailAfter(c.fault, c.skip, c.count);
    EXPECT_EQ(Log(s.log, "b\n"), 0);
    ClearFaults();
    EXPECT_TRUE(c.warm || ReadFile(path).empty()) << "a partial head would be taken for a log";
    ASSERT_EQ(Log(s.log, "c\n"), 1);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.find(c.html ? "<HTML>" : c.warm ? "a\r\nb\r\nc\r\n" : "b\r\nc\r\n"), 0u) << text;
    EXPECT_NE(text.find(c.warm ? "a\r\nb\r\nc\r\n" : "b\r\nc\r\n"), std::string::npos) << text;
    EXPECT_EQ(test::CountOf(text, "Process ID:") + test::CountOf(text, "<HTML>"), 1 + c.html);
    EXPECT_EQ(text.substr(text.size() - 16),
              c.html ? "</BODY></HTML>\r\n" : "////////////\r\n\r\n");
    EXPECT_EQ(s.log.Close(), 1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, WriteFaultTest, ::testing::Values(
    WriteFault{"Write", 0, 1, Fault::FileWrite, 0, -1, true},
    WriteFault{"Seek", 0, 1, Fault::FileSeek, 0, -1, true},
    WriteFault{"Open", 0, 1, Fault::FileOpen, 0, -1, true},
    WriteFault{"Close", 0, 1, Fault::FileClose, 0, -1, true},
    WriteFault{"HtmlWrite", 1, 1, Fault::FileWrite, 0, -1, true},
    WriteFault{"HtmlSeek", 1, 1, Fault::FileSeek, 0, -1, true},
    WriteFault{"HtmlOpen", 1, 1, Fault::FileOpen, 0, -1, true},
    WriteFault{"HtmlClose", 1, 1, Fault::FileClose, 0, -1, true},
    WriteFault{"HtmlHead", 1, 1, Fault::FileWrite, 0, 1, false},
    // The part file is written, the service file is not.
    WriteFault{"FinalMerge", 0, 0, Fault::FileWrite, 1, -1, false}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The first opening of a run, failed at each file operation in turn: backing up the earlier
// log (which survives in one of the two files, the back-up keeping its content and never
// holding the old log twice) or continuing it (never emptied). The next call leaves the full
// back-up and every entry.
TEST(WriteFaults, AFirstOpeningFailingAnywhereKeepsTheEarlierLogs) {
    const std::string older = "older run\r\n", old = "old run\r\n";
    for (const uint32_t continues : {0, 1}) {
        for (Fault fault : {Fault::FileOpen, Fault::FileWrite, Fault::FileRead, Fault::FileSeek,
                            Fault::FileLength, Fault::FileClose, Fault::FileDelete}) {
            for (int skip = 0; skip < 4; ++skip) {
                SCOPED_TRACE(::testing::Message() << continues << " " << int(fault) << " " << skip);
                Service s;
                s.Set("CreateNewLogFile", !continues);
                s.Set("HtmlDoc", continues);
                const std::string path = s.folder + (continues ? "vantrel.log.htm" : "vantrel.log");
                std::filesystem::create_directories(s.folder);
                test::WriteFile(path, old);
                test::WriteFile(path + ".bak", older);
                s.Start();
                FailAfter(fault, skip, 1);
                const int32_t first = Log(s.log, "x\n");
                ClearFaults();
                const std::string backUp = ReadFile(path + ".bak"), current = ReadFile(path);
                EXPECT_TRUE(backUp == older || (backUp == older + old && !continues)) << backUp;
                EXPECT_TRUE(backUp == older + old || current.rfind(old, 0) == 0) << current;
                EXPECT_TRUE(first != 1 || current.find("x\r\n") == (continues ? old.size() : 0));
                EXPECT_EQ(Log(s.log, "y\n"), 1);
                EXPECT_EQ(ReadFile(path + ".bak"), continues ? older : older + old);
                EXPECT_EQ(ReadFile(path).find("x\r\ny\r\n"), continues ? old.size() : 0);
                EXPECT_EQ(s.log.Close(), 1);
            }
        }
    }
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
        Service mine;
        mine.Set("WriteImmediately", row.writeImmediately, "app.log");
        mine.Set("CacheSize(KB)", 0, "app.log");
        mine.Start("app.log");
        if (!row.neighbourIsLog) test::WriteFile(mine.folder + "app_0.log", "earlier run\r\n");
        EXPECT_EQ(Log(mine.log, "mine\n"), 1);
        EXPECT_EQ(row.partFirst ? test::Picture(mine.log, "p.bmp", nullptr, "picture\n") : 1, 1);
        CLogService other;
        if (row.neighbourIsLog) {
            ASSERT_EQ(test::InitService(other, mine.folder, "app_0.log"), 1);
            EXPECT_EQ(Log(other, "other\n") + other.Close(), 2);
        }
        EXPECT_EQ(mine.log.Close(), 1);
        const std::string text = ReadFile(mine.folder + "app.log");
        EXPECT_EQ(text.find(row.partFirst ? "mine\r\n<img" : "mine\r\n\r\nProcess"), 0u) << text;
        EXPECT_EQ(ReadFile(mine.folder + "app_0.log")
                      .rfind(row.neighbourIsLog ? "other\r\n" : "earlier run\r\n", 0),
                  0u);
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(mine.folder))
            names.insert(entry.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"img", "app.log", "app_0.log"}));
    }
}

// An ended thread's log keeps its place and text: a thread that reuses its id (the loading
// thread's included) gets a log of its own after it. Close releases the atom.
TEST(LogService, RecycledThreadIdsGetTheirOwnEntryAndCloseEndsTheService) {
    constexpr uint32_t kLoader = 0x777, kRecycled = 0x4242;
    auto handle = [](bool ended) {  // of an ended thread, or of this one
        platform::ThreadHandle handle = nullptr;
        auto take = [&] { platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle); };
        ended ? std::thread(take).join() : take();
        return handle;
    };
    Service s;
    s.Start("vantrel.log", platform::AddAtom("vantrel.log"), kLoader);
    for (uint32_t id : {kLoader, kRecycled}) {
        CLog* ended = s.log.CreateThreadLog(handle(true), id);
        ASSERT_NE(ended, nullptr);
        EXPECT_EQ(Log(*ended, "old %x\n", id), 1);
        CLog* fresh = s.log.CreateThreadLog(handle(false), id);
        ASSERT_NE(fresh, nullptr) << id;
        EXPECT_EQ(Log(*fresh, "new %x\n", id), 1);
        platform::ThreadHandle spare = handle(false);
        EXPECT_EQ(s.log.CreateThreadLog(spare, id), nullptr) << "a live log of that id";
        platform::CloseThreadHandle(spare);
    }
    s.log.Commit();
    EXPECT_EQ(test::MaskTimes(ReadFile(s.folder + "vantrel.log")),
              "old 777\r\nnew 777\r\nold 4242\r\nnew 4242\r\n" +
                  test::ServiceSummary(platform::GetCurrentProcessId(), 4, kLoader));
    EXPECT_EQ(s.log.Close(), 1);
    EXPECT_EQ(platform::FindAtom("vantrel.log"), 0);
    EXPECT_EQ(Log(s.log, "after close\n"), 0);
}

}  // namespace
}  // namespace vantrel
