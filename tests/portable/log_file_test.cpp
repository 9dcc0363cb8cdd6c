// A log's file: the first opening of an earlier run's file (back-up, continue, empty; the HTML
// head), the end-block search, folders, positions past 4 GiB; failed flushes and merges report
// the failure and lose no accepted text; part files beside other logs; recycled thread ids.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log/clog_service.h"
#include "log/html_document.h"
#include "log/log_mode.h"
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
using Text = std::optional<std::string>;

constexpr char kSummary[] = "<summary>\r\n";
const std::string kEnd = std::string(kHtmlEndBlock) + kHtmlClosingLine;
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
        if (mode & LogModeHtml) WriteRaw(kEnd.data(), static_cast<uint32_t>(kEnd.size()));
        return 1;
    }
};

// Longer than one copy block, so that the blocks must follow each other in order.
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
    void Put(const std::string& name, const Text& text) {
        if (text) test::WriteFile(Path(name), *text);
    }
    Text Get(const std::string& name) const {
        return test::PathExists(Path(name)) ? Text(ReadFile(Path(name))) : std::nullopt;
    }
};

struct FirstOpening {
    const char* name;
    uint32_t mode;
    Text earlier, earlierBackUp;  // the files an earlier run left
    Text file, backUp;            // after this run wrote "new\r\n" and closed
};

class FirstOpeningTest : public ::testing::TestWithParam<FirstOpening> {};

TEST_P(FirstOpeningTest, BacksUpContinuesOrEmptiesTheEarlierFile) {
    const FirstOpening& c = GetParam();
    Folder f;
    const std::string file = (c.mode & LogModeHtml) ? "t.log.htm" : "t.log";
    f.Put(file, c.earlier);
    f.Put(file + ".bak", c.earlierBackUp);
    auto log = f.Open(c.mode);
    ASSERT_EQ(log->OpenFile(), 1);
    ASSERT_EQ(log->CloseFile(), 1);  // only the first opening of a run backs up or continues
    log->Append("new\r\n");
    EXPECT_EQ(log->Close(), 1);
    EXPECT_EQ(f.Get(file), c.file);
    EXPECT_EQ(f.Get(file + ".bak"), c.backUp);
}

std::string Head() {
    std::string head = kHtmlHead;
    return head.replace(head.find("%s"), 2, "t.log.htm") + kHtmlBeginBlock;
}
const std::string kOld = Head() + "first run\r\n" + kSummary + kHtmlEndBlock + "between\r\n";
const std::string kEndUpper = "</PRE></FONT>\r\n<!--VANTREL END--!>\r\n</BODY></HTML>\r\n";
const std::string kNew = "new\r\n" + std::string(kSummary);
constexpr uint32_t kAppend = LogModeHtml | LogModeAppend;
constexpr uint32_t kThread = LogModeHtml | LogModeTruncate | LogModeNoSummary;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Runs, FirstOpeningTest, ::testing::Values(
    FirstOpening{"New", 0, {}, {}, kNew, {}},
    FirstOpening{"NewHtml", LogModeHtml, {}, {}, Head() + kNew + kEnd, {}},
    FirstOpening{"BackUp", 0, Filler(200000), {}, kNew, Filler(200000)},
    FirstOpening{"BackUpAppends", LogModeHtml, "old", "older;", Head() + kNew + kEnd, "older;old"},
    FirstOpening{"ContinueText", LogModeAppend, "earlier\r\n", {}, "earlier\r\n" + kNew, {}},
    // At the last end block, whatever its letter case.
    FirstOpening{"ContinueHtml", kAppend, kOld + kEndUpper, {}, kOld + kNew + kEnd, {}},
    // Without an end block (a run that never closed, a tiny or empty file): after its end.
    FirstOpening{"ContinueUnfinished", kAppend, Head() + "cut\r\n", {}, Head() + "cut\r\n" + kNew + kEnd, {}},
    // Text after the last end block is continued after, never cut.
    FirstOpening{"ContinueAfterLaterText", kAppend, kOld + kEnd + "later", {}, kOld + kEnd + "later" + kNew + kEnd, {}},
    FirstOpening{"ContinueTiny", kAppend, "tiny", {}, "tiny" + kNew + kEnd, {}},
    FirstOpening{"ContinueEmpty", kAppend, "", {}, kNew + kEnd, {}},
    // Thread logs empty an earlier file and never carry the frame.
    FirstOpening{"ThreadLog", kThread, "earlier run", {}, "new\r\n", {}},
    FirstOpening{"MemoryThreadLog", kThread | LogModeNoFileOutput, "earlier run", {}, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The last end block around the edges of the search window, with an earlier one that must
// lose; without any block, the end of the file. A file held by another opener is neither
// backed up nor opened. A file where a folder must be, or no folder at all: every opening
// fails, the text stays; a closed log refuses everything but a new Open.
TEST(LogFileWriter, EndBlockSearchHeldFilesAndFolders) {
    Folder f;
    const std::string block = kHtmlEndBlock;
    for (size_t after : {0, 1, 65535, 65536, 65537, 65536 + 20, 65536 + 40, 140000, -1}) {
        const bool none = after == SIZE_MAX;  // no block at all
        f.Put("s.htm", none ? Filler(70000) : block + Filler(300) + block + Filler(after));
        platform::File file;
        ASSERT_TRUE(file.Open(f.Path("s.htm"), platform::FileOpenMode::ExistingRead));
        EXPECT_EQ(WriterLog::FindEndBlock(file), none ? 70000u : block.size() + 300) << after;
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
    const struct {
        Fault fault;
        int skip;
        int32_t result;
        const char *cache, *bytes;
    } rows[] = {
        {Fault::Count, 0, 1, "", "first second <summary>\r\n"},  // the text replaces the summary
        {Fault::FileWrite, 0, 0, "second ", "first "},  // the old summary goes: not finished
        {Fault::FileWrite, 1, 0, "", "first second "},  // a partial summary is cut
        {Fault::FileOpen, 0, 0, "second ", "first <summary>\r\n"},
        {Fault::FileSeek, 0, 0, "second ", "first <summary>\r\n"},
    };
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
// positioned, so the next opening is a reopening, not a first one with a back-up. More pieces
// than one system call takes land in order; a failed piece or positioning stops there.
TEST(LogCache, PositionsPastFourGibibytesAndPositionedWrites) {
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
    file.Close();

    f.Put("w.txt", "0123");
    std::vector<std::string> texts;
    std::string expected = "0123";
    for (int i = 0; i < 300; ++i) expected += texts.emplace_back(std::to_string(i) + ",");
    std::vector<platform::WritePiece> pieces;
    for (const std::string& text : texts)
        pieces.push_back(platform::WritePiece{text.data(), static_cast<uint32_t>(text.size())});
    uint64_t length = 0;
    bool missing = true;
    ASSERT_TRUE(file.OpenForWritesAt(f.Path("w.txt"), &length, &missing));
    EXPECT_EQ(length, 4u);
    platform::File other;
    EXPECT_FALSE(other.Open(f.Path("w.txt"), platform::FileOpenMode::ExistingRead));
    file.WriteAt(4, pieces.data(), pieces.size());
    FailAfter(Fault::FileWrite, 1);
    EXPECT_THROW(file.WriteAt(0, pieces.data() + 10, 3), platform::FileError);
    FailAfter(Fault::FileSeek, 0);
    EXPECT_THROW(file.WriteAt(0, pieces.data() + 20, 1), platform::FileError);
    file.Close();
    EXPECT_EQ(f.Get("w.txt"), "10," + expected.substr(3));
}

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
        const std::string text = ReadFile(path) + ReadFile(s.folder + "vantrel_0.log");
        EXPECT_NE(text.find("kept in memory\r\n"), std::string::npos);
        return;
    }
    FailAfter(c.fault, c.skip, c.count);
    EXPECT_EQ(Log(s.log, "b\n"), 0);
    ClearFaults();
    EXPECT_TRUE(c.warm || ReadFile(path).empty()) << "a partial head would be taken for a log";
    ASSERT_EQ(Log(s.log, "c\n"), 1);
    const std::string text = ReadFile(path), entries = c.warm ? "a\r\nb\r\nc\r\n" : "b\r\nc\r\n";
    EXPECT_EQ(text.find(c.html ? "<HTML>" : entries), 0u) << text;
    EXPECT_NE(text.find(entries), std::string::npos) << text;
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
