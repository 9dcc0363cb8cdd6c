// A log's file: the end-block search, folders, positions past 4 GiB; failed flushes, merges and
// first openings report the failure and lose no accepted text; part files beside other logs.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "log/clog_service.h"
#include "log/html_document.h"
#include "log/log_mode.h"
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
using Text = std::optional<std::string>;

constexpr char kSummary[] = "<summary>\r\n";
const std::string kSep(1, platform::kPathSeparator);

// A log whose text goes into its cache directly and whose summary is a fixed text.
class WriterLog : public CLog {
  public:
    using CLog::CreateFolderPath;
    using CLog::FindEndBlock;
    using CLog::positioned;
    using CLog::writePosition;
    void Append(const std::string& text) { cache += text; }
    int32_t WriteSummary() override {
        WriteRaw(kSummary, sizeof kSummary - 1);
        return 1;
    }
};

// Text without an end block in it.
std::string Filler(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return text;
}

struct Folder {
    std::string dir = test::MakeTempDir("writer");
    std::string Path(const std::string& name) const { return dir + kSep + name; }
    std::unique_ptr<WriterLog> Open(uint32_t mode) {
        auto log = std::make_unique<WriterLog>();
        EXPECT_EQ(log->Open(1, nullptr, 2, mode, dir.c_str(), "t.log", 1 << 20, 3), 1);
        return log;
    }
    void Put(const std::string& name, const std::string& text) {
        test::WriteFile(Path(name), text);
    }
    Text Get(const std::string& name) const {
        return test::PathExists(Path(name)) ? Text(ReadFile(Path(name))) : std::nullopt;
    }
};

// The last end block in any letter case around the edges of the search window, with an earlier
// one that must lose; without any block, the end of the file (a run that never closed). A file held
// by another opener is neither backed up nor opened. A file where a folder must be, or no folder at
// all: every opening fails, the text stays; a closed log refuses everything but a new Open.
TEST(LogFileWriter, EndBlockSearchHeldFilesAndFolders) {
    Folder f;
    const std::string block = kHtmlEndBlock, upper = "</PRE></FONT>\r\n<!--VANTREL END--!>\r\n";
    platform::File file;
    for (size_t after : {0, 1, 65535, 65536, 65537, 65536 + 20, 65536 + 41, 140000}) {
        f.Put("s.htm", block + Filler(300) + (after % 2 ? upper : block) + Filler(after));
        ASSERT_TRUE(file.Open(f.Path("s.htm"), platform::FileOpenMode::ExistingRead));
        EXPECT_EQ(WriterLog::FindEndBlock(file), block.size() + 300) << after;
        file.Close();
    }
    for (const std::string& none : {Filler(70000), std::string("tiny"), std::string()}) {
        f.Put("s.htm", none);
        ASSERT_TRUE(file.Open(f.Path("s.htm"), platform::FileOpenMode::ExistingRead));
        EXPECT_EQ(WriterLog::FindEndBlock(file), none.size());
        file.Close();
    }
    f.Put("t.log", "in use");
    platform::File other;
    ASSERT_TRUE(other.Open(f.Path("t.log"), platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(f.Open(0)->OpenFile(), 0);
    other.Close();
    EXPECT_EQ(f.Get("t.log.bak"), Text());
    EXPECT_EQ(f.Get("t.log"), "in use");

    Folder g;
    g.Put("img", "not a folder");
    auto log = g.Open(0);
    log->Append("kept");
    EXPECT_EQ(log->FlushCache(false), 0);
    EXPECT_EQ(log->GetCache(), "kept");
    EXPECT_FALSE(g.Get("t.log"));
    FailAfter(Fault::CreateDirectory, 0);
    EXPECT_EQ(WriterLog::CreateFolderPath(g.Path("a" + kSep + "b" + kSep)), 0);
    EXPECT_EQ(WriterLog::CreateFolderPath(g.Path("a" + kSep + "b" + kSep)), 1);
    EXPECT_EQ(platform::GetPathKind(g.Path("a" + kSep + "b")), platform::PathKind::Directory);
    for (const char* folder : {static_cast<const char*>(nullptr), ""}) {
        WriterLog none;
        EXPECT_EQ(none.Open(1, nullptr, 2, LogModeDeleteOnClose, folder, "x.log", 0, 3), 0);
        none.Append("text");
        EXPECT_EQ(none.FlushCache(false) + none.Close() + none.OpenFile(), 0);
    }
    EXPECT_FALSE(test::PathExists("x.log"));
}

// "first " and its summary are in the file; the final flush of "second " meets the fault;
// the next flush catches up.
TEST(LogCache, AFailedFlushLosesNothingAndLeavesNoStaleTail) {
    // clang-format off
    const struct { Fault fault; int skip; int32_t result; const char *cache, *bytes; } rows[] = {
        {Fault::Count, 0, 1, "", "first second <summary>\r\n"},  // the text replaces the summary
        {Fault::FileWrite, 0, 0, "second ", "first "},  // the old summary goes: not finished
        {Fault::FileWrite, 1, 0, "", "first second "},  // a partial summary is cut
        {Fault::FileOpen, 0, 0, "second ", "first <summary>\r\n"},
        {Fault::FileSeek, 0, 0, "second ", "first <summary>\r\n"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes);
        Folder f;
        auto log = f.Open(0);
        log->Append("first ");
        ASSERT_EQ(log->FlushCache(true) + log->CloseFile(), 2);
        log->Append("second ");
        if (row.fault != Fault::Count) FailAfter(row.fault, row.skip);
        EXPECT_EQ(log->FlushCache(true), row.result);
        EXPECT_EQ(log->GetCache(), row.cache);
        log->GetFileObject().Abort();  // so that Windows lets us read the file
        EXPECT_EQ(f.Get("t.log"), row.bytes);
        ClearFaults();
        ASSERT_EQ(log->FlushCache(true), 1);
        log->GetFileObject().Abort();
        EXPECT_EQ(f.Get("t.log"), "first second <summary>\r\n");
    }
}

// Past 4 GiB, and a flush ending exactly where "not positioned" would read: the log stays
// positioned, so the next opening is a reopening, not a first one with a back-up.
TEST(LogCache, PositionsPastFourGibibytesAreUsedWhole) {
    Folder f;
    auto log = f.Open(0);
    ASSERT_EQ(log->OpenFile(), 1);
    const uint64_t far = (5ull << 30) + 3;
    for (const auto& [at, text] : {std::pair{far, "far"}, {kNotPositioned - 3, "abc"}}) {
        log->writePosition = at;
        log->positioned = true;
        log->Append(text);
        ASSERT_EQ(log->FlushCache(false), 1);
    }
    ASSERT_EQ(log->CloseFile(), 1);
    log->Append("d");
    ASSERT_EQ(log->CloseFile(), 1);
    EXPECT_FALSE(f.Get("t.log.bak"));
    platform::File file;
    ASSERT_TRUE(file.Open(f.Path("t.log"), platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(file.GetLength(), far + 3);
    char bytes[7] = {};
    file.Seek(kNotPositioned - 3);
    ASSERT_EQ(file.Read(bytes, 4), 4u);
    file.Seek(far);
    ASSERT_EQ(file.Read(bytes + 4, 3), 3u);
    EXPECT_EQ(std::string(bytes, 7), "abcdfar");
}

struct Service {
    std::string folder = test::MakeTempDir("service") + "/logs/";
    CLogService log;
    void Set(const char* setting, uint32_t value, const char* name = "vantrel.log") {
        test::PutLogSetting(test::kInstancePath, name, setting, value);
    }
    void Start(const char* name = "vantrel.log") {
        EXPECT_EQ(test::InitService(log, folder, name), 1);
    }
};

// Failed merges at later calls are held to the full rewrite in the differential test. A
// partial HTML head must not stay behind to be taken for a log: the call fails and the next
// writes the whole document. Without WriteImmediately, what the final merge could not write
// stays in the part file.
TEST(WriteFaults, NoPartialHtmlHeadAndAFailedFinalMergeKeepsThePartFile) {
    Service html, memory;
    html.Set("HtmlDoc", 1);
    html.Start();
    FailAfter(Fault::FileWrite, 0, 1);
    EXPECT_EQ(Log(html.log, "b\n"), 0);
    EXPECT_EQ(ReadFile(html.folder + "vantrel.log.htm"), "");
    ASSERT_EQ(Log(html.log, "c\n"), 1);
    const std::string text = ReadFile(html.folder + "vantrel.log.htm");
    EXPECT_EQ(text.find("<HTML>") + test::CountOf(text, "<HTML>"), 1u) << text;
    EXPECT_NE(text.find("b\r\nc\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 16), "</BODY></HTML>\r\n");
    memory.Set("WriteImmediately", 0, "m.log");
    memory.Start("m.log");
    EXPECT_EQ(Log(memory.log, "kept in memory\n"), 1);
    FailAfter(Fault::FileWrite, 1, -1);  // the part file is written, the service file is not
    EXPECT_EQ(memory.log.Close(), 0);
    ClearFaults();
    const std::string kept =
        ReadFile(memory.folder + "m.log") + ReadFile(memory.folder + "m_0.log");
    EXPECT_NE(kept.find("kept in memory\r\n"), std::string::npos);
}

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
    // clang-format off
    const struct { uint32_t writeImmediately; bool neighbourIsLog, partFirst; } rows[] = {{1, true, false}, {0, true, false}, {0, false, false}, {0, true, true}};
    // clang-format on
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
        size_t files = 0;  // img, app.log and app_0.log
        for (const auto& entry : std::filesystem::directory_iterator(mine.folder))
            files += entry.exists();
        EXPECT_EQ(files, 3u);
    }
}

}  // namespace
}  // namespace vantrel
