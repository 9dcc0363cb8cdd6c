// The file side of a log: the first opening of a file left by an earlier run (back-up,
// continue, empty; the HTML head), failures on the way, the end-block search, folders, Close.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/platform_config.h"
#include "platform/test_seam.h"
#include "support/log_text.h"
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
    void Append(const std::string& text) { cache += text; }
    int32_t WriteSummary() override {
        WriteRaw(kSummary, sizeof kSummary - 1);
        if (mode & LogModeHtml) WriteRaw(kEnd.data(), static_cast<uint32_t>(kEnd.size()));
        return 1;
    }
};

std::string Head() {
    std::string head = kHtmlHead;
    return head.replace(head.find("%s"), 2, "t.log.htm") + kHtmlBeginBlock;
}

// Longer than one copy block, so that the blocks must follow each other in order.
std::string Filler(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return text;
}

struct Folder {
    std::string dir = test::MakeTempDir("writer");
    std::string Path(const std::string& name) const { return dir + kSep + name; }
    std::unique_ptr<WriterLog> Open(uint32_t mode, const char* name = "t.log") {
        auto log = std::make_unique<WriterLog>();
        EXPECT_EQ(log->Open(1, nullptr, 2, mode, dir.c_str(), name, 1 << 20, 3), 1);
        return log;
    }
    void Put(const std::string& name, const Text& text) {
        if (text) test::WriteFile(Path(name), *text);
    }
    Text Get(const std::string& name) const {
        return test::PathExists(Path(name)) ? Text(test::ReadFile(Path(name))) : std::nullopt;
    }
};

std::string FileName(uint32_t mode) {
    return (mode & LogModeHtml) ? "t.log.htm" : "t.log";
}

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
    const std::string file = FileName(c.mode);
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

const std::string kOld = Head() + "first run\r\n" + kSummary + kHtmlEndBlock + "between\r\n";
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
    FirstOpening{"ContinueHtml", kAppend, kOld + test::Upper(kEnd), {}, kOld + kNew + kEnd, {}},
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

TEST(LogFileWriter, AFileHeldByAnotherOpenerIsNeitherBackedUpNorOpened) {
    Folder f;
    f.Put("t.log", "in use");
    platform::File other;
    ASSERT_TRUE(other.Open(f.Path("t.log"), platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(f.Open(0)->OpenFile(), 0);
    other.Close();
    EXPECT_EQ(f.Get("t.log.bak"), Text());
    EXPECT_EQ(f.Get("t.log"), "in use");
}

// The last end block, around the edges of the search window, with an earlier one that must
// lose; without any block, the end of the file.
TEST(LogFileWriter, FindEndBlockFindsTheLastBlockWhereverItLies) {
    Folder f;
    const std::string block = kHtmlEndBlock;
    const size_t afters[] = {0, 1, 65535, 65536, 65537, 65536 + 20, 65536 + 40, 140000, SIZE_MAX};
    for (size_t after : afters) {
        const bool none = after == SIZE_MAX;  // no block at all
        f.Put("s.htm", none ? Filler(70000) : block + Filler(300) + block + Filler(after));
        platform::File file;
        ASSERT_TRUE(file.Open(f.Path("s.htm"), platform::FileOpenMode::ExistingRead));
        EXPECT_EQ(WriterLog::FindEndBlock(file), none ? 70000u : block.size() + 300) << after;
    }
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

}  // namespace
}  // namespace vantrel
