// Failed writes (a full disk, an I/O error) wherever a log service moves text to disk: the
// merge after each entry, the HTML head, the final merge and the back-up of an earlier run's
// log. The call reports the failure, no accepted text is lost, the back-up keeps what it held.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "log/clog_service.h"
#include "platform/platform_config.h"
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
    std::string folder = test::MakeTempDir("faults") + "/logs/";
    CLogService log;
    explicit Service(const char* setting = nullptr, uint32_t value = 0) {
        if (setting) test::PutLogSetting(test::kInstancePath, "vantrel.log", setting, value);
    }
    void Start() { EXPECT_EQ(test::InitService(log, folder, "vantrel.log"), 1); }
    std::string Path(const std::string& name = "vantrel.log") const { return folder + name; }
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

}  // namespace
}  // namespace vantrel
