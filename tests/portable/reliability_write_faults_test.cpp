// Failed writes (a full disk, an I/O error) at every point where a log service moves text to
// disk: the merge after each entry, the flush of a full cache, the HTML head and the back-up
// of an earlier run's log. The call reports the failure, the host goes on, no accepted text is
// lost, and the back-up never loses what it held.
#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <memory>
#include <string>

#include "log/clog_service.h"
#include "log/log_mode.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/test_seam.h"
#include "platform_config.h"
#include "settings/settings_store.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::ClearFaults;
using platform::testing::FailAfter;
using platform::testing::Fault;
using test::PathExists;
using test::ReadFile;
using test::WriteFile;

constexpr char kProcessKey[] = "/tmp/faults/host";
constexpr char kInstancePath[] = "/tmp/faults/host\\proc1";

int32_t Log(CLog& log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int32_t result = log.Printf(0, format, args);
    va_end(args);
    return result;
}

void SetLogSetting(const char* valueName, uint32_t value) {
    platform::RegKey key = nullptr;
    ASSERT_EQ(platform::RegCreateKey(ComposeSettingsKeyPath(kInstancePath, "vantrel.log"),
                                     platform::kKeyAllAccess, &key),
              platform::kErrorSuccess);
    EXPECT_EQ(platform::RegSetValue(key, valueName, platform::kRegDword, &value, sizeof value),
              platform::kErrorSuccess);
    platform::RegCloseKey(key);
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class WriteFaultTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = test::MakeTempDir("faults") + "/logs/"; }
    void TearDown() override {
        ClearFaults();
        if (service) service->Close();
    }

    CLogService& Start() {
        service = std::make_unique<CLogService>();
        platform::ThreadHandle handle = nullptr;
        EXPECT_TRUE(platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle));
        EXPECT_EQ(service->Init(kProcessKey, 1, 0, platform::GetCurrentProcessId(), handle,
                                platform::GetCurrentThreadId(), LogModeFromSettings, folder.c_str(),
                                "vantrel.log"),
                  1);
        return *service;
    }
    std::string Path(const std::string& name = "vantrel.log") const { return folder + name; }

    std::string folder;
    std::unique_ptr<CLogService> service;
};

// Default settings: every entry is merged into the file before the call returns. A merge
// that fails must not be reported as success, and the entries it could not write go in with
// the next merge that works.
// Text and HTML logs alike; in HTML a merge that wrote anywhere but at its position would
// overwrite the head.
TEST_F(WriteFaultTest, AFailedMergeReturnsZeroAndTheNextMergeWritesEverything) {
    for (uint32_t html : {0u, 1u}) {
        SCOPED_TRACE(html ? "html" : "text");
        folder = test::MakeTempDir("faults") + "/logs/";
        SetLogSetting("HtmlDoc", html);
        CLogService& log = Start();
        ASSERT_EQ(Log(log, "a\n"), 1);
        for (Fault fault : {Fault::FileWrite, Fault::FileSeek, Fault::FileOpen, Fault::FileClose}) {
            SCOPED_TRACE(static_cast<int>(fault));
            if (platform::kLogFilesStayOpenBetweenCalls) {
                if (fault == Fault::FileClose) continue;  // nothing is closed between calls
                log.ReleaseKeptFile();  // so that the call opens it, as after the bound did
            }
            FailAfter(fault, 0, -1);
            EXPECT_EQ(Log(log, "b%d\n", static_cast<int>(fault)), 0);
            ClearFaults();
        }
        ASSERT_EQ(Log(log, "c\n"), 1);
        const std::string text = ReadFile(Path(html ? "vantrel.log.htm" : "vantrel.log"));
        const std::string entries = platform::kLogFilesStayOpenBetweenCalls
                                        ? "a\r\nb1\r\nb3\r\nb0\r\nc\r\n"
                                        : "a\r\nb1\r\nb3\r\nb0\r\nb5\r\nc\r\n";
        if (html) {
            EXPECT_EQ(text.rfind("<HTML>", 0), 0u) << text;
            EXPECT_NE(text.find(entries), std::string::npos) << text;
        } else {
            EXPECT_EQ(text.rfind(entries, 0), 0u) << text;
        }
        EXPECT_EQ(CountOf(text, "Process ID:"), 1) << text;
        EXPECT_EQ(log.Close(), 1);
        service.reset();
    }
}

// The HTML head is written at the first opening; a partial head must not stay behind to be
// taken for a log, and the next call writes the whole document.
TEST_F(WriteFaultTest, AFailedHtmlHeadLeavesNoPartialDocumentAndIsWrittenLater) {
    SetLogSetting("HtmlDoc", 1);
    CLogService& log = Start();
    FailAfter(Fault::FileWrite, 0, 1);
    EXPECT_EQ(Log(log, "first\n"), 0);
    EXPECT_EQ(ReadFile(Path("vantrel.log.htm")), "");
    ClearFaults();
    ASSERT_EQ(Log(log, "second\n"), 1);
    const std::string text = ReadFile(Path("vantrel.log.htm"));
    EXPECT_EQ(text.rfind("<HTML>", 0), 0u) << text;
    EXPECT_EQ(CountOf(text, "<HTML>"), 1);
    EXPECT_NE(text.find("first\r\nsecond\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 16), "</BODY></HTML>\r\n");
}

// WriteImmediately 0: the texts reach the disk only at unload, through each thread's part
// file. When the service file cannot take them then, the part file that holds them must
// not be deleted: it is all that is left of the run.
TEST_F(WriteFaultTest, AFailedFinalMergeKeepsThePartFileThatHoldsTheText) {
    SetLogSetting("WriteImmediately", 0);
    CLogService& log = Start();
    ASSERT_EQ(Log(log, "kept in memory\n"), 1);
    FailAfter(Fault::FileWrite, 1, -1);  // the part file is written, the service file is not
    EXPECT_EQ(log.Close(), 0);
    ClearFaults();
    service.reset();
    const std::string text = ReadFile(Path()) + ReadFile(Path("vantrel_0.log"));
    EXPECT_NE(text.find("kept in memory\r\n"), std::string::npos) << "the text is lost";
}

// The back-up of an earlier run's log, failed at every file operation it makes in turn: the
// call fails or succeeds honestly, the earlier log survives in one of the two files, the
// back-up keeps its earlier content (and never holds the old log twice), and the next
// successful call leaves the full back-up and a log with every entry.
TEST_F(WriteFaultTest, ABackUpFailingAnywhereKeepsTheEarlierLogAndTheBackUpContent) {
    const std::string older = "older run\r\n";
    const std::string old = "old run\r\n";
    for (Fault fault : {Fault::FileOpen, Fault::FileWrite, Fault::FileRead, Fault::FileSeek,
                        Fault::FileLength, Fault::FileClose, Fault::FileDelete}) {
        for (int skip = 0; skip < 4; ++skip) {
            SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " after " +
                         std::to_string(skip));
            folder = test::MakeTempDir("faults") + "/logs/";
            std::filesystem::create_directories(folder);
            WriteFile(Path(), old);
            WriteFile(Path("vantrel.log.bak"), older);
            CLogService& log = Start();

            FailAfter(fault, skip, 1);
            const int32_t first = Log(log, "x\n");
            ClearFaults();
            const std::string backUp = ReadFile(Path("vantrel.log.bak"));
            const std::string current = ReadFile(Path());
            EXPECT_TRUE(backUp == older || backUp == older + old) << backUp;
            EXPECT_TRUE(backUp == older + old || current == old) << "the earlier log is gone";
            if (first == 1) {
                EXPECT_EQ(current.rfind("x\r\n", 0), 0u) << current;
            }

            EXPECT_EQ(Log(log, "y\n"), 1);
            EXPECT_EQ(ReadFile(Path("vantrel.log.bak")), older + old);
            EXPECT_EQ(ReadFile(Path()).rfind("x\r\ny\r\n", 0), 0u) << ReadFile(Path());
            EXPECT_EQ(log.Close(), 1);
            service.reset();
        }
    }
}

}  // namespace
}  // namespace vantrel
