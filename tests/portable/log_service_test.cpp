// A log service moving text to disk: failed writes (a full disk, an I/O error) at the merge
// after each entry, the HTML head, the final merge and the back-up of an earlier run's log
// report the failure and lose no accepted text; part files beside other logs; thread ids
// that come back; Close.
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
    std::string folder = test::MakeTempDir("service") + "/logs/";
    CLogService log;
    explicit Service(const char* setting = nullptr, uint32_t value = 0,
                     const char* name = "vantrel.log") {
        if (setting) test::PutLogSetting(test::kInstancePath, name, setting, value);
    }
    void Start(const char* name = "vantrel.log", uint16_t atom = 0, uint32_t loader = 0) {
        EXPECT_EQ(test::InitService(log, folder, name, LogModeFromSettings, atom, loader), 1);
    }
    std::string Path(const std::string& name = "vantrel.log") const { return folder + name; }
    std::string Text() const { return test::MaskTimes(ReadFile(Path())); }
};

// A merge that fails is not reported as success, and the entries it could not write go in
// with the next merge that works; in HTML a merge written anywhere but at its position
// would overwrite the head.
TEST(WriteFaults, AFailedMergeReturnsZeroAndTheNextMergeWritesEverything) {
    for (uint32_t html : {0u, 1u}) {
        SCOPED_TRACE(html);
        Service s("HtmlDoc", html);
        s.Start();
        ASSERT_EQ(Log(s.log, "a\n"), 1);
        std::string entries = "a\r\n";
        for (Fault fault : {Fault::FileWrite, Fault::FileSeek, Fault::FileOpen, Fault::FileClose}) {
            if (platform::kLogFilesStayOpenBetweenCalls) {
                if (fault == Fault::FileClose) continue;  // nothing is closed between calls
                s.log.ReleaseKeptFile();  // so that the call opens it, as after the bound did
            }
            FailAfter(fault, 0, -1);
            EXPECT_EQ(Log(s.log, "b%d\n", static_cast<int>(fault)), 0) << static_cast<int>(fault);
            ClearFaults();
            entries += "b" + std::to_string(static_cast<int>(fault)) + "\r\n";
        }
        ASSERT_EQ(Log(s.log, "c\n"), 1);
        const std::string text = ReadFile(s.Path(html ? "vantrel.log.htm" : "vantrel.log"));
        EXPECT_EQ(text.find(html ? "<HTML>" : entries), 0u) << text;
        EXPECT_NE(text.find(entries + "c\r\n"), std::string::npos) << text;
        EXPECT_EQ(test::CountOf(text, "Process ID:"), 1) << text;
        EXPECT_EQ(s.log.Close(), 1);
    }
}

// A partial HTML head must not stay behind to be taken for a log; the next call writes the
// whole document.
TEST(WriteFaults, AFailedHtmlHeadLeavesNoPartialDocumentAndIsWrittenLater) {
    Service s("HtmlDoc", 1);
    s.Start();
    FailAfter(Fault::FileWrite, 0, 1);
    EXPECT_EQ(Log(s.log, "first\n"), 0);
    EXPECT_EQ(ReadFile(s.Path("vantrel.log.htm")), "");
    ClearFaults();
    ASSERT_EQ(Log(s.log, "second\n"), 1);
    const std::string text = ReadFile(s.Path("vantrel.log.htm"));
    EXPECT_EQ(text.rfind("<HTML>", 0), 0u) << text;
    EXPECT_EQ(test::CountOf(text, "<HTML>"), 1);
    EXPECT_NE(text.find("first\r\nsecond\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 16), "</BODY></HTML>\r\n");
}

// Without WriteImmediately the text reaches the disk only at unload, through each thread's
// part file; when the service file cannot take it then, that part file must stay.
TEST(WriteFaults, AFailedFinalMergeKeepsThePartFileThatHoldsTheText) {
    Service s("WriteImmediately", 0);
    s.Start();
    ASSERT_EQ(Log(s.log, "kept in memory\n"), 1);
    FailAfter(Fault::FileWrite, 1, -1);  // the part file is written, the service file is not
    EXPECT_EQ(s.log.Close(), 0);
    ClearFaults();
    const std::string text = ReadFile(s.Path()) + ReadFile(s.Path("vantrel_0.log"));
    EXPECT_NE(text.find("kept in memory\r\n"), std::string::npos) << "the text is lost";
}

// The first opening of a run, failed at each file operation in turn: backing up the earlier
// log (which survives in one of the two files, the back-up keeping its content and never
// holding the old log twice) or continuing it (never emptied). The next call leaves the full
// back-up and every entry.
TEST(WriteFaults, AFirstOpeningFailingAnywhereKeepsTheEarlierLogs) {
    const std::string older = "older run\r\n", old = "old run\r\n";
    for (const bool continues : {false, true}) {
        for (Fault fault : {Fault::FileOpen, Fault::FileWrite, Fault::FileRead, Fault::FileSeek,
                            Fault::FileLength, Fault::FileClose, Fault::FileDelete}) {
            for (int skip = 0; skip < 4; ++skip) {
                SCOPED_TRACE(::testing::Message()
                             << continues << " " << static_cast<int>(fault) << " after " << skip);
                Service s("CreateNewLogFile", continues ? 0 : 1);
                test::PutLogSetting(test::kInstancePath, "vantrel.log", "HtmlDoc", continues);
                const std::string path = s.Path(continues ? "vantrel.log.htm" : "vantrel.log");
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
                if (first == 1) {
                    EXPECT_EQ(current.find("x\r\n"), continues ? old.size() : 0) << current;
                }
                EXPECT_EQ(Log(s.log, "y\n"), 1);
                EXPECT_EQ(ReadFile(path + ".bak"), continues ? older : older + old);
                EXPECT_EQ(ReadFile(path).find("x\r\ny\r\n"), continues ? old.size() : 0)
                    << ReadFile(path);
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
        Service mine("WriteImmediately", row.writeImmediately, "app.log");
        test::PutLogSetting(test::kInstancePath, "app.log", "CacheSize(KB)", 0);
        mine.Start("app.log");
        if (!row.neighbourIsLog) test::WriteFile(mine.folder + "app_0.log", "earlier run\r\n");
        EXPECT_EQ(Log(mine.log, "mine\n"), 1);
        if (row.partFirst) {
            EXPECT_EQ(test::Picture(mine.log, "p.bmp", nullptr, "picture\n"), 1);
        }
        CLogService other;
        if (row.neighbourIsLog) {
            ASSERT_EQ(test::InitService(other, mine.folder, "app_0.log"), 1);
            EXPECT_EQ(Log(other, "other\n"), 1);
            EXPECT_EQ(other.Close(), 1);
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
    Service s;
    s.Start("vantrel.log", platform::AddAtom("vantrel.log"), kLoader);
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
