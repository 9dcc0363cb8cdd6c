// The file side of a log: the first opening of an earlier run's file (back-up, continue,
// empty; the HTML head), the end-block search, folders, failed flushes, positioned writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/platform_config.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::FailAfter;
using platform::testing::Fault;
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
        return test::PathExists(Path(name)) ? Text(test::ReadFile(Path(name))) : std::nullopt;
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
// backed up nor opened.
TEST(LogFileWriter, EndBlockSearchAndHeldFiles) {
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
}

// A file where a folder must be, or no folder at all: every opening fails, the text stays;
// a closed log refuses everything but a new Open.
TEST(LogFileWriter, FoldersThatCannotBeMadeFailTheOpeningAndKeepTheText) {
    Folder f;
    f.Put("img", "not a folder");
    auto log = f.Open(0);
    log->Append("kept");
    EXPECT_EQ(log->FlushCache(false), 0);
    EXPECT_EQ(log->GetCache(), "kept");
    EXPECT_FALSE(f.Get("t.log"));
    FailAfter(Fault::CreateDirectory, 0);
    EXPECT_EQ(WriterLog::CreateFolderPath(f.Path("a" + kSep + "b" + kSep)), 0);
    EXPECT_EQ(WriterLog::CreateFolderPath(f.Path("a" + kSep + "b" + kSep)), 1);
    EXPECT_EQ(platform::GetPathKind(f.Path("a" + kSep + "b")), platform::PathKind::Directory);
    for (const char* folder : {static_cast<const char*>(nullptr), ""}) {
        WriterLog none;
        EXPECT_EQ(none.Open(1, nullptr, 2, LogModeDeleteOnClose, folder, "x.log", 0, 3), 0);
        none.Append("text");
        EXPECT_EQ(none.FlushCache(false) + none.Close() + none.OpenFile(), 0);
    }
    EXPECT_FALSE(test::PathExists("x.log"));
}

// "first " and its summary are in the file; the final flush of "second " meets the fault.
// The next flush catches up.
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
        ASSERT_EQ(log->FlushCache(true), 1);
        ASSERT_EQ(log->CloseFile(), 1);
        log->Append("second ");
        if (row.fault != Fault::Count) FailAfter(row.fault, row.skip);
        EXPECT_EQ(log->FlushCache(true), row.result);
        EXPECT_EQ(log->GetCache(), row.cache);
        log->GetFileObject().Abort();  // so that Windows lets us read the file
        EXPECT_EQ(f.Get("t.log"), row.bytes);
        platform::testing::ClearFaults();
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

}  // namespace
}  // namespace vantrel
