// The write cache of CLog: fullness, the fill check, the flush at writePosition, raw writes in
// pieces, failures that must lose nothing, 64-bit positions, and the aligned copy buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "log/clog.h"
#include "log/cmem.h"
#include "log/log_mode.h"
#include "platform/file.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::FileError;
using platform::testing::ClearFaults;
using platform::testing::FailAfter;
using platform::testing::Fault;
using test::MakeTempDir;
using test::PathExists;
using test::ReadFile;

constexpr char kSummary[] = "<summary>";
constexpr uint32_t kMiB = 1u << 20;

// A log whose cache is filled directly and whose summary is a fixed, counted text.
class CacheLog : public CLog {
  public:
    using CLog::FillCheck;
    using CLog::WriteRaw;

    void Append(const std::string& text) { cache += text; }
    int32_t WriteSummary() override {
        ++summaries;
        WriteRaw(kSummary, sizeof kSummary - 1);
        return 1;
    }
    // Moves the log to a position it could reach by writing that much text.
    void PlaceAt(uint64_t position) {
        writePosition = position;
        positioned = true;
    }
    int summaries = 0;
};

class LogCacheTest : public ::testing::Test {
  protected:
    std::string dir = MakeTempDir("cache");
    std::string path = dir + "/cache.log";

    std::unique_ptr<CacheLog> OpenLog(uint32_t mode, int32_t cacheSize = 1 << 30) {
        auto log = std::make_unique<CacheLog>();
        EXPECT_EQ(log->Open(1, nullptr, 2, mode, dir.c_str(), "cache.log", cacheSize, 3), 1);
        return log;
    }
};

TEST_F(LogCacheTest, FullnessComparesTheCharacterCountWithTheCacheSize) {
    auto log = OpenLog(0, 256);
    EXPECT_TRUE(log->IsCacheEmpty());
    EXPECT_FALSE(log->IsCacheFull());
    log->Append(std::string(256, 'x'));
    EXPECT_EQ(log->GetCacheLength(), 256);
    EXPECT_FALSE(log->IsCacheEmpty());
    EXPECT_FALSE(log->IsCacheFull());
    log->Append("x");
    EXPECT_TRUE(log->IsCacheFull());

    auto zero = OpenLog(0, 0);
    EXPECT_FALSE(zero->IsCacheFull());
    zero->Append("x");
    EXPECT_TRUE(zero->IsCacheFull());

    auto negative = OpenLog(0, -1);
    EXPECT_TRUE(negative->IsCacheEmpty());
    EXPECT_TRUE(negative->IsCacheFull());
}

TEST_F(LogCacheTest, FlushOfAnEmptyCacheOnlyWritesTheFinalSummary) {
    auto log = OpenLog(0);
    EXPECT_EQ(log->FlushCache(false), 1);
    EXPECT_FALSE(log->IsFileOpen());
    EXPECT_FALSE(PathExists(path));

    EXPECT_EQ(log->FlushCache(true), 1);
    EXPECT_EQ(log->summaries, 1);
    EXPECT_EQ(log->GetWritePosition(), 0u);
    log->CloseFile();
    EXPECT_EQ(ReadFile(path), kSummary);

    auto quiet = OpenLog(LogModeNoSummary);
    EXPECT_EQ(quiet->FlushCache(true), 1);
    EXPECT_EQ(quiet->summaries, 0);
}

TEST_F(LogCacheTest, ALogWithoutFileOutputKeepsItsCacheAndNeverOpensAFile) {
    auto log = OpenLog(LogModeNoFileOutput);
    log->Append("kept text");
    EXPECT_EQ(log->FlushCache(false), 1);
    EXPECT_EQ(log->FlushCache(true), 1);
    EXPECT_EQ(log->CloseFile(), 1);
    EXPECT_EQ(log->GetCache(), "kept text");
    EXPECT_EQ(log->summaries, 0);
    EXPECT_FALSE(PathExists(path));
}

TEST_F(LogCacheTest, FlushWritesAtWritePositionAndTheNextFlushOverwritesTheSummary) {
    auto log = OpenLog(0);
    log->Append("one ");
    ASSERT_EQ(log->FlushCache(true), 1);
    EXPECT_EQ(log->GetWritePosition(), 4u);
    EXPECT_TRUE(log->IsCacheEmpty());
    EXPECT_EQ(ReadFile(path), std::string("one ") + kSummary);

    log->Append("two ");
    ASSERT_EQ(log->FlushCache(false), 1);
    EXPECT_EQ(ReadFile(path).substr(0, 8), "one two ");
    // A pause (file closed) does not change where the text goes on.
    ASSERT_EQ(log->CloseFile(), 1);
    log->Append("three");
    ASSERT_EQ(log->FlushCache(true), 1);
    EXPECT_EQ(log->GetWritePosition(), 13u);
    EXPECT_EQ(ReadFile(path), std::string("one two three") + kSummary);
}

TEST_F(LogCacheTest, LargeBlocksAreWrittenInPiecesOfOneMebibyte) {
    std::string text(2 * kMiB + kMiB / 2, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 23);
    auto log = OpenLog(0);
    ASSERT_EQ(log->OpenFile(), 1);
    log->Append(text);

    // The third write fails, and so does cutting the file back: exactly the first two
    // pieces, of 1 MiB each and in order, are in the file.
    FailAfter(Fault::FileWrite, 2, 2);
    EXPECT_EQ(log->FlushCache(false), 0);
    EXPECT_EQ(ReadFile(path), text.substr(0, 2 * kMiB));

    // Three writes in all: a fourth one would meet the armed fault.
    FailAfter(Fault::FileWrite, 3);
    EXPECT_EQ(log->FlushCache(false), 1);
    EXPECT_EQ(ReadFile(path), text);
    EXPECT_NO_THROW(log->WriteRaw("x", 0));
    EXPECT_THROW(log->WriteRaw("x", 1), FileError);
}

TEST_F(LogCacheTest, AFailedWriteKeepsCacheAndPositionAndLeavesNoStaleTail) {
    auto log = OpenLog(0);
    log->Append("first ");
    ASSERT_EQ(log->FlushCache(true), 1);

    log->Append("second ");
    FailAfter(Fault::FileWrite, 0);
    EXPECT_EQ(log->FlushCache(true), 0);
    EXPECT_EQ(log->GetCache(), "second ");
    EXPECT_EQ(log->GetWritePosition(), 6u);
    // The old summary is gone with the failed text, so nothing passes for a finished log.
    EXPECT_EQ(ReadFile(path), "first ");

    ASSERT_EQ(log->FlushCache(true), 1);
    EXPECT_EQ(ReadFile(path), std::string("first second ") + kSummary);

    // The text lands but its summary does not: the text stays, the partial summary goes.
    log->Append("third");
    FailAfter(Fault::FileWrite, 1);
    EXPECT_EQ(log->FlushCache(true), 0);
    EXPECT_TRUE(log->IsCacheEmpty());
    EXPECT_EQ(log->GetWritePosition(), 18u);
    EXPECT_EQ(ReadFile(path), "first second third");
}

TEST_F(LogCacheTest, AFlushThatCannotOpenOrPositionTheFileWritesNothing) {
    auto log = OpenLog(0);
    log->Append("waiting");
    FailAfter(Fault::FileOpen, 0);
    EXPECT_EQ(log->FlushCache(false), 0);
    EXPECT_EQ(log->GetCache(), "waiting");

    ASSERT_EQ(log->OpenFile(), 1);
    FailAfter(Fault::FileSeek, 0);
    EXPECT_EQ(log->FlushCache(false), 0);
    EXPECT_EQ(log->GetCache(), "waiting");
    EXPECT_EQ(log->GetWritePosition(), 0u);
    EXPECT_EQ(ReadFile(path), "");

    ASSERT_EQ(log->FlushCache(false), 1);
    EXPECT_EQ(ReadFile(path), "waiting");
}

TEST_F(LogCacheTest, FillCheckFlushesAFullCacheAccordingToTheMode) {
    auto plain = OpenLog(0, 4);
    plain->Append("abcd");
    EXPECT_EQ(plain->FillCheck(false), 1);
    EXPECT_FALSE(PathExists(path));
    plain->Append("e");
    EXPECT_EQ(plain->FillCheck(false), 1);
    EXPECT_TRUE(plain->IsCacheEmpty());
    EXPECT_TRUE(plain->IsFileOpen());
    plain->Close();
    ASSERT_TRUE(platform::DeleteFile(path));

    auto immediate = OpenLog(LogModeWriteImmediately, 0);
    immediate->Append("x");
    EXPECT_EQ(immediate->FillCheck(false), 1);
    EXPECT_FALSE(immediate->IsFileOpen());
    EXPECT_EQ(ReadFile(path), "x");
    immediate->Close();
    ASSERT_TRUE(platform::DeleteFile(path));

    // Text appends of a thread log never flush; its image lines do.
    auto thread = OpenLog(LogModeNoSummary | LogModeTruncate, 0);
    thread->Append("text");
    EXPECT_EQ(thread->FillCheck(false), 1);
    EXPECT_EQ(thread->GetCache(), "text");
    EXPECT_EQ(thread->FillCheck(true), 1);
    EXPECT_TRUE(thread->IsCacheEmpty());
    thread->Close();

    auto memory = OpenLog(LogModeNoFileOutput, 0);
    memory->Append("text");
    EXPECT_EQ(memory->FillCheck(false), 1);
    EXPECT_EQ(memory->FillCheck(true), 1);
    EXPECT_EQ(memory->GetCache(), "text");

    auto failing = OpenLog(LogModeWriteImmediately, 0);
    failing->Append("lost?");
    FailAfter(Fault::FileOpen, 0, -1);
    EXPECT_EQ(failing->FillCheck(false), 0);
    EXPECT_EQ(failing->GetCache(), "lost?");
    ClearFaults();
}

TEST_F(LogCacheTest, CloseFileReportsTheFlushAndAFailingClose) {
    auto log = OpenLog(0);
    log->Append("text");
    ASSERT_EQ(log->OpenFile(), 1);
    FailAfter(Fault::FileClose, 0);
    EXPECT_EQ(log->CloseFile(), 0);
    EXPECT_FALSE(log->IsFileOpen());
    EXPECT_EQ(ReadFile(path), "text");

    log->Append("more");
    FailAfter(Fault::FileWrite, 0);
    EXPECT_EQ(log->CloseFile(), 0);
    EXPECT_FALSE(log->IsFileOpen());
    EXPECT_EQ(log->GetCache(), "more");
    EXPECT_EQ(log->CloseFile(), 1);
    EXPECT_EQ(ReadFile(path), "textmore");
}

TEST_F(LogCacheTest, PositionsBeyondFourGibibytesAreUsedWhole) {
    auto log = OpenLog(0);
    EXPECT_EQ(log->SeekToWritePosition(), 0);  // not positioned yet
    ASSERT_EQ(log->OpenFile(), 1);
    const uint64_t far = (5ull << 30) + 3;
    log->PlaceAt(far);
    log->Append("far");
    ASSERT_EQ(log->FlushCache(false), 1);
    EXPECT_EQ(log->GetWritePosition(), far + 3);

    // A flush may end exactly where "not positioned" would read: the log stays positioned
    // and the next opening is a plain reopen, not a first one with its back-up.
    log->PlaceAt(kNotPositioned - 3);
    log->Append("abc");
    ASSERT_EQ(log->FlushCache(false), 1);
    EXPECT_EQ(log->GetWritePosition(), kNotPositioned);
    EXPECT_TRUE(log->IsPositioned());
    ASSERT_EQ(log->CloseFile(), 1);
    log->Append("d");
    ASSERT_EQ(log->CloseFile(), 1);
    EXPECT_FALSE(PathExists(path + ".bak"));

    platform::File file;
    ASSERT_TRUE(file.Open(path, platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(file.GetLength(), far + 3);
    char bytes[4] = {};
    file.Seek(kNotPositioned - 3);
    ASSERT_EQ(file.Read(bytes, 4), 4u);
    EXPECT_EQ(std::string(bytes, 4), "abcd");
    file.Seek(far);
    ASSERT_EQ(file.Read(bytes, 3), 3u);
    EXPECT_EQ(std::string(bytes, 3), "far");
}

TEST(CMemTest, DataIsSixteenByteAlignedAndSized) {
    CMem empty;
    EXPECT_EQ(empty.GetData(), nullptr);
    EXPECT_EQ(empty.GetSize(), 0u);

    CMem buffer(65536);
    ASSERT_NE(buffer.GetData(), nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.GetData()) % 16, 0u);
    EXPECT_EQ(buffer.GetSize(), 65536u);
    // Every usable byte may be written (a sanitizer build checks the bounds).
    std::string(65536, 'z').copy(static_cast<char*>(buffer.GetData()), 65536);

    for (uint32_t size : {1u, 15u, 17u, 4097u}) {
        void* data = buffer.Alloc(size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data, buffer.GetData());
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
        EXPECT_EQ(buffer.GetSize(), size);
        static_cast<char*>(data)[size - 1] = 'x';
    }
    EXPECT_EQ(buffer.Alloc(0), nullptr);
    EXPECT_EQ(buffer.GetData(), nullptr);
    EXPECT_EQ(buffer.GetSize(), 0u);
}

}  // namespace
}  // namespace vantrel
