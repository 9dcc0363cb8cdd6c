// The file side of CLog: names and folders, the first opening of a file left by an earlier
// run (back-up, continue, empty), the HTML head, reopening and the end of a log's life.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>

#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/file.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::ClearFaults;
using platform::testing::FailAfter;
using platform::testing::Fault;
using test::MakeTempDir;
using test::PathExists;
using test::ReadFile;
using test::WriteFile;

constexpr char kSummary[] = "<summary>\r\n";

// A log whose text is put into its cache directly and whose summary is a fixed text, so
// that file contents can be compared byte for byte.
class WriterLog : public CLog {
  public:
    using CLog::CreateFolderPath;
    using CLog::FindEndBlock;

    void Append(const std::string& text) { cache += text; }
    int32_t WriteSummary() override {
        WriteRaw(kSummary, sizeof kSummary - 1);
        if (mode & LogModeHtml) {
            WriteRaw(kHtmlEndBlock, sizeof kHtmlEndBlock - 1);
            WriteRaw(kHtmlClosingLine, sizeof kHtmlClosingLine - 1);
        }
        return 1;
    }
    bool FileReset() const { return fileReset; }
    void ClearFileReset() { fileReset = false; }
};

std::string Head(const std::string& title) {
    std::string head = kHtmlHead;
    head.replace(head.find("%s"), 2, title);
    return head + kHtmlBeginBlock;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string Filler(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return text;
}

class LogFileWriterTest : public ::testing::Test {
  protected:
    std::string dir = MakeTempDir("writer");

    std::unique_ptr<WriterLog> OpenLog(uint32_t mode, const char* name = "trace.log") {
        auto log = std::make_unique<WriterLog>();
        EXPECT_EQ(log->Open(1, nullptr, 2, mode, dir.c_str(), name, 1 << 20, 3), 1);
        return log;
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
};

TEST_F(LogFileWriterTest, OpenNamesTheFolderAndFileAndCreatesTheFolders) {
    const std::string nested = dir + "/one/two/three";
    for (const std::string& given : {nested, nested + "/"}) {
        WriterLog log;
        ASSERT_EQ(log.Open(1, nullptr, 2, 0, given.c_str(), nullptr, 0, 3), 1);
        EXPECT_EQ(log.GetFolder(), nested + "/");
        EXPECT_EQ(log.GetFileName(), "vantrel.log");
        EXPECT_TRUE(log.GetIsOpen());
        EXPECT_FALSE(log.IsPositioned());
        EXPECT_EQ(log.GetWritePosition(), kNotPositioned);
        EXPECT_EQ(platform::GetPathKind(nested + "/img"), platform::PathKind::Directory);
        // Open leaves the file alone.
        EXPECT_FALSE(PathExists(nested + "/vantrel.log"));
        log.Close();
        platform::DeleteFile(nested + "/vantrel.log");
    }

    WriterLog html;
    ASSERT_EQ(html.Open(1, nullptr, 2, LogModeHtml, dir.c_str(), "", 0, 3), 1);
    EXPECT_EQ(html.GetFileName(), "vantrel.log.htm");
    ASSERT_EQ(html.OpenFile(), 1);
    html.CloseFile();
    EXPECT_EQ(ReadFile(Path("vantrel.log.htm")), Head("vantrel.log.htm"));
    html.Close();
}

TEST_F(LogFileWriterTest, OpenWithoutAFolderFailsAndTheLogNeverTouchesAFile) {
    for (const char* folder : {static_cast<const char*>(nullptr), ""}) {
        WriterLog log;
        EXPECT_EQ(log.Open(1, nullptr, 2, LogModeDeleteOnClose, folder, "x.log", 0, 3), 0);
        EXPECT_FALSE(log.GetIsOpen());
        log.Append("text");
        EXPECT_EQ(log.FlushCache(false), 0);
        EXPECT_EQ(log.GetCache(), "text");
        EXPECT_EQ(log.Close(), 0);
    }
    EXPECT_FALSE(PathExists("x.log"));
}

TEST_F(LogFileWriterTest, CreateFolderPathCreatesEveryMissingLevelAndStopsAtAFile) {
    const std::string three = dir + "/a/b/c/";
    EXPECT_EQ(WriterLog::CreateFolderPath(three), 1);
    EXPECT_EQ(platform::GetPathKind(dir + "/a/b/c"), platform::PathKind::Directory);
    // Existing levels are fine; the part after the last separator is never created.
    EXPECT_EQ(WriterLog::CreateFolderPath(dir + "/a/b/c/d"), 1);
    EXPECT_EQ(platform::GetPathKind(dir + "/a/b/c/d"), platform::PathKind::None);
    EXPECT_EQ(WriterLog::CreateFolderPath("no-separator"), 1);
    EXPECT_FALSE(PathExists("no-separator"));

    WriteFile(dir + "/a/file", "x");
    EXPECT_EQ(WriterLog::CreateFolderPath(dir + "/a/file/inner/"), 0);
    FailAfter(Fault::CreateDirectory, 0);
    EXPECT_EQ(WriterLog::CreateFolderPath(dir + "/fresh/"), 0);
}

TEST_F(LogFileWriterTest, AFileStandingInForAFolderMakesEveryOpeningFail) {
    WriteFile(Path("img"), "not a folder");
    auto log = OpenLog(0);
    log->Append("kept");
    EXPECT_EQ(log->OpenFile(), 0);
    EXPECT_EQ(log->FlushCache(false), 0);
    EXPECT_EQ(log->GetCache(), "kept");
    EXPECT_FALSE(PathExists(Path("trace.log")));

    WriteFile(Path("blocked"), "not a folder");
    WriterLog inner;
    const std::string below = Path("blocked/logs");
    EXPECT_EQ(inner.Open(1, nullptr, 2, 0, below.c_str(), nullptr, 0, 3), 1);
    EXPECT_EQ(inner.OpenFile(), 0);
}

TEST_F(LogFileWriterTest, FirstOpeningOfNewFiles) {
    auto text = OpenLog(0);
    ASSERT_EQ(text->OpenFile(), 1);
    EXPECT_TRUE(text->IsFileOpen());
    EXPECT_TRUE(text->IsPositioned());
    EXPECT_EQ(text->GetWritePosition(), 0u);
    EXPECT_TRUE(text->FileReset());
    EXPECT_EQ(ReadFile(Path("trace.log")), "");
    // Opening an open file changes nothing.
    EXPECT_EQ(text->OpenFile(), 1);

    auto html = OpenLog(LogModeHtml, "page.log");
    ASSERT_EQ(html->OpenFile(), 1);
    const std::string head = Head("page.log.htm");
    EXPECT_EQ(html->GetWritePosition(), head.size());
    html->CloseFile();
    EXPECT_EQ(ReadFile(Path("page.log.htm")), head);

    // Per-thread logs never carry the frame.
    for (uint32_t quiet : {LogModeNoSummary, LogModeNoFileOutput}) {
        auto thread = OpenLog(LogModeHtml | quiet, "thread.log");
        ASSERT_EQ(thread->OpenFile(), 1);
        EXPECT_EQ(thread->GetWritePosition(), 0u);
        thread->CloseFile();
        EXPECT_EQ(ReadFile(Path("thread.log.htm")), "");
        thread->Close();
    }
}

TEST_F(LogFileWriterTest, BackUpAppendsTheWholeEarlierLogToTheBackUpFile) {
    // Larger than one copy block, so the blocks must follow each other in order.
    const std::string earlier = Filler(200000);
    WriteFile(Path("trace.log"), earlier);
    auto first = OpenLog(0);
    ASSERT_EQ(first->OpenFile(), 1);
    EXPECT_EQ(first->GetWritePosition(), 0u);
    first->Append("run two");
    first->Close();
    EXPECT_EQ(ReadFile(Path("trace.log.bak")), earlier);
    EXPECT_EQ(ReadFile(Path("trace.log")), std::string("run two") + kSummary);

    auto second = OpenLog(LogModeHtml, "trace.log");
    WriteFile(Path("trace.log.htm.bak"), "older;");
    WriteFile(Path("trace.log.htm"), "old");
    ASSERT_EQ(second->OpenFile(), 1);
    second->CloseFile();
    EXPECT_EQ(ReadFile(Path("trace.log.htm.bak")), "older;old");
    EXPECT_EQ(ReadFile(Path("trace.log.htm")), Head("trace.log.htm"));
    // Only the first opening of a run makes a back-up.
    ASSERT_EQ(second->OpenFile(), 1);
    EXPECT_EQ(ReadFile(Path("trace.log.htm.bak")), "older;old");
}

TEST_F(LogFileWriterTest, AFailedBackUpLeavesBothFilesAsTheyWereAndIsTriedAgain) {
    const std::string earlier = Filler(200000);
    WriteFile(Path("trace.log"), earlier);
    WriteFile(Path("trace.log.bak"), "older;");
    auto log = OpenLog(0);

    // The second block of the copy fails.
    FailAfter(Fault::FileWrite, 1);
    EXPECT_EQ(log->OpenFile(), 0);
    EXPECT_EQ(ReadFile(Path("trace.log.bak")), "older;");
    EXPECT_EQ(ReadFile(Path("trace.log")), earlier);
    EXPECT_FALSE(log->IsPositioned());
    EXPECT_FALSE(log->IsFileOpen());

    // The old log cannot be deleted after the copy.
    FailAfter(Fault::FileDelete, 0);
    EXPECT_EQ(log->OpenFile(), 0);
    EXPECT_EQ(ReadFile(Path("trace.log.bak")), "older;");
    EXPECT_EQ(ReadFile(Path("trace.log")), earlier);

    // The old log cannot be opened for reading (the back-up is opened first).
    FailAfter(Fault::FileOpen, 1);
    EXPECT_EQ(log->OpenFile(), 0);
    EXPECT_EQ(ReadFile(Path("trace.log.bak")), "older;");
    EXPECT_EQ(ReadFile(Path("trace.log")), earlier);
    EXPECT_FALSE(log->IsPositioned());

    ClearFaults();
    ASSERT_EQ(log->OpenFile(), 1);
    EXPECT_EQ(ReadFile(Path("trace.log.bak")), "older;" + earlier);
    EXPECT_EQ(ReadFile(Path("trace.log")), "");
}

TEST_F(LogFileWriterTest, AFailedBackUpIntoANewBackUpFileLeavesNoBackUpFile) {
    WriteFile(Path("trace.log"), Filler(100000));
    auto log = OpenLog(0);
    FailAfter(Fault::FileWrite, 1);
    EXPECT_EQ(log->OpenFile(), 0);
    EXPECT_FALSE(PathExists(Path("trace.log.bak")));
    EXPECT_EQ(ReadFile(Path("trace.log")), Filler(100000));
}

TEST_F(LogFileWriterTest, AFileHeldByAnotherOpenerIsNeitherBackedUpNorOpened) {
    WriteFile(Path("trace.log"), "in use");
    platform::File other;
    ASSERT_TRUE(other.Open(Path("trace.log"), platform::FileOpenMode::ExistingRead));
    auto log = OpenLog(0);
    EXPECT_EQ(log->OpenFile(), 0);
    EXPECT_FALSE(PathExists(Path("trace.log.bak")));
    other.Close();
    EXPECT_EQ(ReadFile(Path("trace.log")), "in use");
}

TEST_F(LogFileWriterTest, AppendContinuesAnEarlierTextLogAtItsEnd) {
    WriteFile(Path("trace.log"), "earlier run\r\n");
    auto log = OpenLog(LogModeAppend);
    ASSERT_EQ(log->OpenFile(), 1);
    EXPECT_EQ(log->GetWritePosition(), 13u);
    EXPECT_TRUE(log->FileReset());
    log->Append("later run\r\n");
    log->Close();
    EXPECT_EQ(ReadFile(Path("trace.log")), std::string("earlier run\r\nlater run\r\n") + kSummary);
    EXPECT_FALSE(PathExists(Path("trace.log.bak")));
}

TEST_F(LogFileWriterTest, AppendContinuesAnHtmlLogAtItsLastEndBlockWhateverItsCase) {
    const std::string before = Head("trace.log.htm") + "first run\r\n" + kSummary + kHtmlEndBlock +
                               "between\r\n" + "second run\r\n" + kSummary;
    WriteFile(Path("trace.log.htm"), before + Upper(kHtmlEndBlock) + Upper(kHtmlClosingLine));
    auto log = OpenLog(LogModeHtml | LogModeAppend);
    ASSERT_EQ(log->OpenFile(), 1);
    EXPECT_EQ(log->GetWritePosition(), before.size());
    log->Append("third run\r\n");
    log->Close();
    EXPECT_EQ(ReadFile(Path("trace.log.htm")),
              before + "third run\r\n" + kSummary + kHtmlEndBlock + kHtmlClosingLine);
}

TEST_F(LogFileWriterTest, AppendNeverWritesOverAnHtmlLogWithoutEndBlock) {
    // An earlier run that ended without Close, a file shorter than an end block, and text
    // after the last end block (continued after it, never cut).
    for (const std::string& earlier :
         {Head("trace.log.htm") + "unfinished run\r\n", std::string("tiny"),
          Head("trace.log.htm") + "run\r\n" + kSummary + kHtmlEndBlock + kHtmlClosingLine +
              "added later\r\n"}) {
        WriteFile(Path("trace.log.htm"), earlier);
        auto log = OpenLog(LogModeHtml | LogModeAppend);
        ASSERT_EQ(log->OpenFile(), 1);
        EXPECT_EQ(log->GetWritePosition(), earlier.size());
        log->Append("next\r\n");
        log->Close();
        EXPECT_EQ(ReadFile(Path("trace.log.htm")).substr(0, earlier.size() + 6),
                  earlier + "next\r\n");
    }

    // An empty earlier file is continued at 0, and gets no head.
    WriteFile(Path("trace.log.htm"), "");
    auto empty = OpenLog(LogModeHtml | LogModeAppend);
    ASSERT_EQ(empty->OpenFile(), 1);
    EXPECT_EQ(empty->GetWritePosition(), 0u);
    empty->CloseFile();
    EXPECT_EQ(ReadFile(Path("trace.log.htm")), "");
}

TEST_F(LogFileWriterTest, AppendThatCannotMeasureTheEarlierFileFailsWithoutWriting) {
    WriteFile(Path("trace.log.htm"), Head("trace.log.htm") + "old text");
    auto log = OpenLog(LogModeHtml | LogModeAppend);
    for (Fault fault : {Fault::FileLength, Fault::FileSeek, Fault::FileRead}) {
        FailAfter(fault, 0);
        EXPECT_EQ(log->OpenFile(), 0) << static_cast<int>(fault);
        EXPECT_FALSE(log->IsPositioned());
        EXPECT_FALSE(log->IsFileOpen());
    }
    ClearFaults();
    ASSERT_EQ(log->OpenFile(), 1);
    EXPECT_EQ(log->GetWritePosition(), Head("trace.log.htm").size() + 8);
}

TEST_F(LogFileWriterTest, TruncateEmptiesAnEarlierFileWithoutHeadForThreadLogs) {
    for (uint32_t quiet : {LogModeNoSummary, LogModeNoFileOutput}) {
        WriteFile(Path("thread_1.log.htm"), "from an earlier run");
        auto log = OpenLog(LogModeTruncate | LogModeHtml | quiet, "thread_1.log");
        ASSERT_EQ(log->OpenFile(), 1);
        EXPECT_EQ(log->GetWritePosition(), 0u);
        log->CloseFile();
        EXPECT_EQ(ReadFile(Path("thread_1.log.htm")), "");
        EXPECT_FALSE(PathExists(Path("thread_1.log.htm.bak")));
    }
}

TEST_F(LogFileWriterTest, AFailedHeadLeavesNoPartialHeadAndIsTriedAgain) {
    auto log = OpenLog(LogModeHtml);
    FailAfter(Fault::FileWrite, 0);
    EXPECT_EQ(log->OpenFile(), 0);
    EXPECT_FALSE(log->IsPositioned());
    EXPECT_EQ(ReadFile(Path("trace.log.htm")), "");
    ClearFaults();
    ASSERT_EQ(log->OpenFile(), 1);
    EXPECT_EQ(log->GetWritePosition(), Head("trace.log.htm").size());
    log->CloseFile();
    EXPECT_EQ(ReadFile(Path("trace.log.htm")), Head("trace.log.htm"));
}

TEST_F(LogFileWriterTest, ReopeningContinuesInPlaceAndAVanishedFileIsCreatedAgain) {
    auto log = OpenLog(LogModeHtml);
    const std::string head = Head("trace.log.htm");
    log->Append("one\r\n");
    ASSERT_EQ(log->CloseFile(), 1);

    // A plain reopen keeps the file as the log left it.
    log->ClearFileReset();
    log->Append("two\r\n");
    ASSERT_EQ(log->CloseFile(), 1);
    EXPECT_FALSE(log->FileReset());
    EXPECT_EQ(ReadFile(Path("trace.log.htm")), head + "one\r\ntwo\r\n");

    ASSERT_TRUE(platform::DeleteFile(Path("trace.log.htm")));
    log->Append("three\r\n");
    ASSERT_EQ(log->CloseFile(), 1);
    EXPECT_TRUE(log->FileReset());
    EXPECT_EQ(ReadFile(Path("trace.log.htm")), std::string(head.size() + 10, '\0') + "three\r\n");
    EXPECT_FALSE(PathExists(Path("trace.log.htm.bak")));
}

TEST_F(LogFileWriterTest, FindEndBlockFindsTheLastBlockWhereverItLies) {
    auto log = OpenLog(LogModeHtml);
    log->Append("entry\r\n");
    ASSERT_EQ(log->Close(), 1);
    const std::string closed = ReadFile(Path("trace.log.htm"));
    {
        platform::File file;
        ASSERT_TRUE(file.Open(Path("trace.log.htm"), platform::FileOpenMode::ExistingRead));
        EXPECT_EQ(WriterLog::FindEndBlock(file),
                  closed.size() - (sizeof kHtmlEndBlock - 1) - (sizeof kHtmlClosingLine - 1));
    }

    // Around the edges of the search window, with an earlier block that must lose.
    const std::string block = kHtmlEndBlock;
    for (size_t after : {0, 1, 65535, 65536, 65537, 65536 + 20, 65536 + 40, 140000}) {
        const std::string text = block + Filler(300) + block + Filler(after);
        WriteFile(Path("search.htm"), text);
        platform::File file;
        ASSERT_TRUE(file.Open(Path("search.htm"), platform::FileOpenMode::ExistingRead));
        EXPECT_EQ(WriterLog::FindEndBlock(file), block.size() + 300) << after;
    }
    WriteFile(Path("search.htm"), Filler(70000));
    platform::File none;
    ASSERT_TRUE(none.Open(Path("search.htm"), platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(WriterLog::FindEndBlock(none), 70000u);
}

TEST_F(LogFileWriterTest, CloseFlushesClosesAndDeletesWhenAsked) {
    auto kept = OpenLog(0, "kept.log");
    kept->Append("text");
    EXPECT_EQ(kept->Close(), 1);
    EXPECT_FALSE(kept->GetIsOpen());
    EXPECT_FALSE(kept->IsFileOpen());
    EXPECT_EQ(ReadFile(Path("kept.log")), std::string("text") + kSummary);
    // After Close only a new Open may follow; anything else fails harmlessly.
    EXPECT_EQ(kept->Close(), 0);
    EXPECT_EQ(kept->FlushCache(true), 0);
    EXPECT_EQ(kept->OpenFile(), 0);

    auto gone = OpenLog(LogModeTruncate | LogModeDeleteOnClose | LogModeNoSummary, "gone.log");
    gone->Append("temporary");
    ASSERT_EQ(gone->FlushCache(false), 1);
    EXPECT_TRUE(PathExists(Path("gone.log")));
    EXPECT_EQ(gone->Close(), 1);
    EXPECT_FALSE(PathExists(Path("gone.log")));

    // A failing close is reported, and the log still ends.
    auto failing = OpenLog(0, "failing.log");
    ASSERT_EQ(failing->OpenFile(), 1);
    FailAfter(Fault::FileClose, 0);
    EXPECT_EQ(failing->Close(), 0);
    EXPECT_FALSE(failing->GetIsOpen());
}

}  // namespace
}  // namespace vantrel
