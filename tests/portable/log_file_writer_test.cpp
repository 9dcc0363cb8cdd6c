// The file side of a log: the first opening of a file left by an earlier run (back-up,
// continue, empty; the HTML head), failures on the way, the end-block search, folders, Close.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <string>

#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/file.h"
#include "platform/test_seam.h"
#include "platform_config.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::ClearFaults;
using platform::testing::FailAfter;
using platform::testing::Fault;
using test::PathExists;
using test::ReadFile;
using test::WriteFile;
using Text = std::optional<std::string>;

constexpr char kSummary[] = "<summary>\r\n";
const std::string kEnd = std::string(kHtmlEndBlock) + kHtmlClosingLine;

// A log whose text goes into its cache directly and whose summary is a fixed text.
class WriterLog : public CLog {
  public:
    using CLog::CreateFolderPath;
    using CLog::FindEndBlock;
    void Append(const std::string& text) { cache += text; }
    int32_t WriteSummary() override {
        WriteRaw(kSummary, sizeof kSummary - 1);
        if (mode & LogModeHtml) WriteRaw(kEnd.data(), static_cast<uint32_t>(kEnd.size()));
        return 1;
    }
};

std::string Head(const std::string& title) {
    std::string head = kHtmlHead;
    return head.replace(head.find("%s"), 2, title) + kHtmlBeginBlock;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Longer than one copy block, so that the blocks must follow each other in order.
std::string Filler(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return text;
}

struct Folder {
    std::string dir = test::MakeTempDir("writer");
    std::string Path(const std::string& name) const {
        return dir + platform::kPathSeparator + name;
    }
    std::unique_ptr<WriterLog> Open(uint32_t mode, const char* name = "trace.log") {
        auto log = std::make_unique<WriterLog>();
        EXPECT_EQ(log->Open(1, nullptr, 2, mode, dir.c_str(), name, 1 << 20, 3), 1);
        return log;
    }
    void Put(const std::string& name, const Text& text) {
        if (text) WriteFile(Path(name), *text);
    }
    Text Get(const std::string& name) const {
        return PathExists(Path(name)) ? Text(ReadFile(Path(name))) : std::nullopt;
    }
};

struct FirstOpening {
    const char* name;
    uint32_t mode;
    Text earlier, earlierBackUp;  // the files an earlier run left (none: nullopt)
    Text file, backUp;            // after this run wrote "new\r\n" and closed
};

class FirstOpeningTest : public ::testing::TestWithParam<FirstOpening> {};

TEST_P(FirstOpeningTest, BacksUpContinuesOrEmptiesTheEarlierFile) {
    const FirstOpening& c = GetParam();
    Folder f;
    const std::string file = (c.mode & LogModeHtml) ? "t.log.htm" : "t.log";
    f.Put(file, c.earlier);
    f.Put(file + ".bak", c.earlierBackUp);
    auto log = f.Open(c.mode, "t.log");
    ASSERT_EQ(log->OpenFile(), 1);
    // Only the first opening of a run backs up or continues.
    ASSERT_EQ(log->CloseFile(), 1);
    log->Append("new\r\n");
    EXPECT_EQ(log->Close(), 1);
    EXPECT_EQ(f.Get(file), c.file);
    EXPECT_EQ(f.Get(file + ".bak"), c.backUp);
}

const std::string kOldHtml = Head("t.log.htm") + "first run\r\n" + kSummary + kHtmlEndBlock +
                             "between\r\n" + "second run\r\n" + kSummary;
constexpr uint32_t kHtmlAppend = LogModeHtml | LogModeAppend;
constexpr uint32_t kThread = LogModeHtml | LogModeTruncate | LogModeNoSummary;

INSTANTIATE_TEST_SUITE_P(
    Runs, FirstOpeningTest,
    ::testing::Values(
        FirstOpening{"New", 0, {}, {}, "new\r\n" + std::string(kSummary), {}},
        FirstOpening{
            "NewHtml", LogModeHtml, {}, {}, Head("t.log.htm") + "new\r\n" + kSummary + kEnd, {}},
        FirstOpening{
            "BackUp", 0, Filler(200000), {}, "new\r\n" + std::string(kSummary), Filler(200000)},
        FirstOpening{"BackUpAppends", LogModeHtml, "old", "older;",
                     Head("t.log.htm") + "new\r\n" + kSummary + kEnd, "older;old"},
        FirstOpening{"ContinueText",
                     LogModeAppend,
                     "earlier\r\n",
                     {},
                     "earlier\r\nnew\r\n" + std::string(kSummary),
                     {}},
        // At the last end block, whatever its letter case.
        FirstOpening{"ContinueHtml",
                     kHtmlAppend,
                     kOldHtml + Upper(kEnd),
                     {},
                     kOldHtml + "new\r\n" + kSummary + kEnd,
                     {}},
        // Without an end block (a run that never closed, a tiny or empty file): after its end.
        FirstOpening{"ContinueUnfinishedHtml",
                     kHtmlAppend,
                     Head("t.log.htm") + "cut\r\n",
                     {},
                     Head("t.log.htm") + "cut\r\nnew\r\n" + kSummary + kEnd,
                     {}},
        // Text after the last end block is continued after, never cut.
        FirstOpening{"ContinueAfterTextPastTheEndBlock",
                     kHtmlAppend,
                     kOldHtml + kEnd + "later\r\n",
                     {},
                     kOldHtml + kEnd + "later\r\nnew\r\n" + kSummary + kEnd,
                     {}},
        FirstOpening{"ContinueTinyHtml",
                     kHtmlAppend,
                     "tiny",
                     {},
                     "tinynew\r\n" + std::string(kSummary) + kEnd,
                     {}},
        FirstOpening{
            "ContinueEmptyHtml", kHtmlAppend, "", {}, "new\r\n" + std::string(kSummary) + kEnd, {}},
        // Thread logs empty an earlier file and never carry the frame.
        FirstOpening{"ThreadLog", kThread, "from an earlier run", {}, "new\r\n", {}},
        FirstOpening{
            "MemoryThreadLog", kThread | LogModeNoFileOutput, "from an earlier run", {}, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct OpeningFault {
    const char* name;
    uint32_t mode;
    Fault fault;
    int skip;
    Text earlierBackUp;
};

class OpeningFaultTest : public ::testing::TestWithParam<OpeningFault> {};

// The opening fails, leaves the earlier files as they were (a back-up made now is removed
// again, an HTML head is not left half written), and the next opening succeeds.
TEST_P(OpeningFaultTest, LeavesTheEarlierFilesAsTheyWereAndIsTriedAgain) {
    const OpeningFault& c = GetParam();
    Folder f;
    const std::string file = (c.mode & LogModeHtml) ? "t.log.htm" : "t.log";
    const Text earlier = c.name == std::string("Head") ? Text() : Text(Filler(150000));
    f.Put(file, earlier);
    f.Put(file + ".bak", c.earlierBackUp);
    auto log = f.Open(c.mode, "t.log");
    FailAfter(c.fault, c.skip);
    EXPECT_EQ(log->OpenFile(), 0);
    EXPECT_FALSE(log->IsFileOpen());
    EXPECT_EQ(f.Get(file), earlier ? earlier : Text(""));
    EXPECT_EQ(f.Get(file + ".bak"), c.earlierBackUp);
    ClearFaults();
    ASSERT_EQ(log->OpenFile(), 1);
    EXPECT_EQ(log->Close(), 1);
    const std::string head = (c.mode & LogModeHtml) ? Head("t.log.htm") : "";
    if (c.mode & LogModeAppend) {
        EXPECT_EQ(f.Get(file), *earlier + kSummary + kEnd);
    } else {
        EXPECT_EQ(f.Get(file), head + kSummary + ((c.mode & LogModeHtml) ? kEnd : ""));
        if (earlier) {
            EXPECT_EQ(f.Get(file + ".bak"), c.earlierBackUp.value_or("") + *earlier);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OpeningFaultTest,
    ::testing::Values(OpeningFault{"CopyIntoBackUp", 0, Fault::FileWrite, 1, "older;"},
                      OpeningFault{"CopyIntoNewBackUp", 0, Fault::FileWrite, 1, {}},
                      OpeningFault{"DeleteAfterCopy", 0, Fault::FileDelete, 0, "older;"},
                      OpeningFault{"ReadEarlier", 0, Fault::FileOpen, 1, "older;"},
                      OpeningFault{"Head", LogModeHtml, Fault::FileWrite, 0, {}},
                      OpeningFault{"MeasureEarlier", kHtmlAppend, Fault::FileLength, 0, {}},
                      OpeningFault{"SeekEarlier", kHtmlAppend, Fault::FileSeek, 0, {}},
                      OpeningFault{"ReadEarlierEnd", kHtmlAppend, Fault::FileRead, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogFileWriter, AFileHeldByAnotherOpenerIsNeitherBackedUpNorOpened) {
    Folder f;
    f.Put("t.log", "in use");
    platform::File other;
    ASSERT_TRUE(other.Open(f.Path("t.log"), platform::FileOpenMode::ExistingRead));
    auto log = f.Open(0, "t.log");
    EXPECT_EQ(log->OpenFile(), 0);
    other.Close();
    EXPECT_EQ(f.Get("t.log.bak"), Text());
    EXPECT_EQ(f.Get("t.log"), "in use");
}

// The last end block, around the edges of the search window, with an earlier one that must
// lose; without any block, the end of the file.
TEST(LogFileWriter, FindEndBlockFindsTheLastBlockWhereverItLies) {
    Folder f;
    const std::string block = kHtmlEndBlock;
    for (size_t after : {0, 1, 65535, 65536, 65537, 65536 + 20, 65536 + 40, 140000}) {
        f.Put("search.htm", block + Filler(300) + block + Filler(after));
        platform::File file;
        ASSERT_TRUE(file.Open(f.Path("search.htm"), platform::FileOpenMode::ExistingRead));
        EXPECT_EQ(WriterLog::FindEndBlock(file), block.size() + 300) << after;
    }
    f.Put("search.htm", Filler(70000));
    platform::File none;
    ASSERT_TRUE(none.Open(f.Path("search.htm"), platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(WriterLog::FindEndBlock(none), 70000u);
}

// A file where a folder must be, or no folder at all: every opening fails, the text stays.
TEST(LogFileWriter, FoldersThatCannotBeMadeFailTheOpeningAndKeepTheText) {
    Folder f;
    const std::string sep(1, platform::kPathSeparator);
    EXPECT_EQ(WriterLog::CreateFolderPath(f.Path("a" + sep + "b" + sep)), 1);
    EXPECT_EQ(platform::GetPathKind(f.Path("a" + sep + "b")), platform::PathKind::Directory);
    f.Put("img", "not a folder");
    f.Put("blocked", "not a folder");
    auto log = f.Open(0);
    log->Append("kept");
    EXPECT_EQ(log->FlushCache(false), 0);
    EXPECT_EQ(log->GetCache(), "kept");
    EXPECT_FALSE(PathExists(f.Path("trace.log")));
    WriterLog below;
    EXPECT_EQ(below.Open(1, nullptr, 2, 0, f.Path("blocked" + sep + "logs").c_str(), nullptr, 0, 3),
              1);
    EXPECT_EQ(below.OpenFile(), 0);
    FailAfter(Fault::CreateDirectory, 0);
    EXPECT_EQ(WriterLog::CreateFolderPath(f.Path("fresh" + sep)), 0);
    for (const char* folder : {static_cast<const char*>(nullptr), ""}) {
        WriterLog none;
        EXPECT_EQ(none.Open(1, nullptr, 2, LogModeDeleteOnClose, folder, "x.log", 0, 3), 0);
        none.Append("text");
        EXPECT_EQ(none.FlushCache(false), 0);
        EXPECT_EQ(none.Close(), 0);
    }
    EXPECT_FALSE(PathExists("x.log"));
}

TEST(LogFileWriter, CloseDeletesWhenAskedAndReportsAFailingClose) {
    Folder f;
    auto gone = f.Open(LogModeTruncate | LogModeDeleteOnClose | LogModeNoSummary, "gone.log");
    gone->Append("temporary");
    ASSERT_EQ(gone->FlushCache(false), 1);
    EXPECT_TRUE(PathExists(f.Path("gone.log")));
    EXPECT_EQ(gone->Close(), 1);
    EXPECT_FALSE(PathExists(f.Path("gone.log")));
    // After Close only a new Open may follow; anything else fails harmlessly.
    EXPECT_EQ(gone->FlushCache(true), 0);
    EXPECT_EQ(gone->OpenFile(), 0);

    auto failing = f.Open(0, "failing.log");
    ASSERT_EQ(failing->OpenFile(), 1);
    FailAfter(Fault::FileClose, 0);
    EXPECT_EQ(failing->Close(), 0);
    EXPECT_FALSE(failing->GetIsOpen());
}

}  // namespace
}  // namespace vantrel
