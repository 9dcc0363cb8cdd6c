// The write cache of a log: when an append flushes it, and what a flush that fails leaves in
// the file and in the cache (nothing lost, no stale tail, the next flush catches up); the
// positioned writes and reopenings it spends its system calls on.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "log/clog.h"
#include "log/log_mode.h"
#include "platform/platform_config.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::FailAfter;
using platform::testing::Fault;

// A log whose cache is filled directly and whose summary is a fixed text.
class CacheLog : public CLog {
  public:
    using CLog::FillCheck;
    using CLog::positioned;
    using CLog::writePosition;
    void Append(const std::string& text) { cache += text; }
    int32_t WriteSummary() override {
        WriteRaw("<summary>", 9);
        return 1;
    }
};

struct Fixture {
    std::string dir = test::MakeTempDir("cache");
    std::string path = dir + platform::kPathSeparator + "cache.log";
    std::unique_ptr<CacheLog> Open(uint32_t mode, int32_t cacheSize = 1 << 30) {
        auto log = std::make_unique<CacheLog>();
        EXPECT_EQ(log->Open(1, nullptr, 2, mode, dir.c_str(), "cache.log", cacheSize, 3), 1);
        return log;
    }
    // The file as it is now; the log's own handle goes, so that Windows lets us read it.
    std::string Bytes(CacheLog& log) {
        log.GetFileObject().Abort();
        return test::ReadFile(path);
    }
};

// "first " and its summary are in the file; the final flush of "second " meets the fault.
TEST(LogCache, AFailedFlushLosesNothingAndLeavesNoStaleTail) {
    const struct {
        Fault fault;
        int skip;
        int32_t result;
        const char *cache, *bytes;
    } rows[] = {
        {Fault::Count, 0, 1, "", "first second <summary>"},  // the text replaces the summary
        {Fault::FileWrite, 0, 0, "second ", "first "},       // the old summary goes: not finished
        {Fault::FileWrite, 1, 0, "", "first second "},       // a partial summary is cut
        {Fault::FileOpen, 0, 0, "second ", "first <summary>"},
        {Fault::FileSeek, 0, 0, "second ", "first <summary>"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes);
        Fixture f;
        auto log = f.Open(0);
        log->Append("first ");
        ASSERT_EQ(log->FlushCache(true), 1);
        ASSERT_EQ(log->CloseFile(), 1);
        log->Append("second ");
        if (row.fault != Fault::Count) FailAfter(row.fault, row.skip);
        EXPECT_EQ(log->FlushCache(true), row.result);
        EXPECT_EQ(log->GetCache(), row.cache);
        EXPECT_EQ(f.Bytes(*log), row.bytes);
        platform::testing::ClearFaults();
        ASSERT_EQ(log->FlushCache(true), 1);
        EXPECT_EQ(f.Bytes(*log), "first second <summary>");
    }
}

// Only a cache past its size flushes, in modes that write; a thread log's text never does,
// its image lines do.
TEST(LogCache, FillCheckFlushesOnlyACachePastItsSize) {
    constexpr uint32_t kThreadLog = LogModeNoSummary | LogModeTruncate;
    const struct {
        uint32_t mode;
        int32_t cacheSize;
        bool isImage, flushed;
    } rows[] = {{0, 4, false, false},
                {0, 3, false, true},
                {0, -1, false, true},
                {LogModeWriteImmediately, 0, false, true},
                {kThreadLog, 0, false, false},
                {kThreadLog, 0, true, true},
                {LogModeNoFileOutput, 0, true, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.mode << " " << row.cacheSize << row.isImage);
        Fixture f;
        auto log = f.Open(row.mode, row.cacheSize);
        log->Append("abcd");
        EXPECT_EQ(log->FillCheck(row.isImage), 1);
        EXPECT_EQ(f.Bytes(*log), row.flushed ? "abcd" : "");
    }
}

TEST(LogCache, AFailingCloseIsReportedAndKeepsWhatWasNotWritten) {
    Fixture f;
    auto log = f.Open(0);
    log->Append("text");
    FailAfter(Fault::FileClose, 0);
    EXPECT_EQ(log->CloseFile(), 0);
    EXPECT_FALSE(log->IsFileOpen());
    log->Append("more");
    FailAfter(Fault::FileWrite, 0);
    EXPECT_EQ(log->CloseFile(), 0);
    EXPECT_EQ(log->GetCache(), "more");
    EXPECT_EQ(log->CloseFile(), 1);
    EXPECT_EQ(test::ReadFile(f.path), "textmore");
}

// Past 4 GiB, and a flush ending exactly where "not positioned" would read: the log stays
// positioned, so the next opening is a reopening, not a first one with a back-up.
TEST(LogCache, PositionsPastFourGibibytesAreUsedWhole) {
    Fixture f;
    auto log = f.Open(0);
    ASSERT_EQ(log->OpenFile(), 1);
    const uint64_t far = (5ull << 30) + 3;
    for (const auto& [at, text] : {std::pair{far, "far"}, std::pair{kNotPositioned - 3, "abc"}}) {
        log->writePosition = at;
        log->positioned = true;
        log->Append(text);
        ASSERT_EQ(log->FlushCache(false), 1);
    }
    ASSERT_EQ(log->CloseFile(), 1);
    log->Append("d");
    ASSERT_EQ(log->CloseFile(), 1);
    EXPECT_FALSE(test::PathExists(f.path + ".bak"));

    platform::File file;
    ASSERT_TRUE(file.Open(f.path, platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(file.GetLength(), far + 3);
    char bytes[7] = {};
    file.Seek(kNotPositioned - 3);
    ASSERT_EQ(file.Read(bytes, 4), 4u);
    file.Seek(far);
    ASSERT_EQ(file.Read(bytes + 4, 3), 3u);
    EXPECT_EQ(std::string(bytes, 7), "abcdfar");
}

// Only a path that is not there counts as missing (the log then starts the file afresh); a
// file held elsewhere or a failed opening must not.
TEST(PositionedWrite, ReopeningTellsAMissingFileFromOtherFailures) {
    const std::string dir = test::MakeTempDir("positioned") + "/";
    test::WriteFile(dir + "held.log", "kept");
    platform::File holder, file;
    ASSERT_TRUE(holder.Open(dir + "held.log", platform::FileOpenMode::ExistingRead));
    test::WriteFile(dir + "log.txt", "x");
    const struct {
        std::string path;
        bool injected, missing;
    } rows[] = {{dir + "none.log", false, true},
                {dir + "gone/none.log", false, true},
                {dir + "held.log", false, false},
                {dir + "log.txt", true, false}};
    for (const auto& row : rows) {
        uint64_t length = 0;
        bool missing = !row.missing;
        if (row.injected) platform::testing::FailAfter(Fault::FileOpen, 0);
        EXPECT_FALSE(file.OpenForWritesAt(row.path, &length, &missing)) << row.path;
        EXPECT_EQ(missing, row.missing) << row.path;
        EXPECT_FALSE(file.IsOpen());
    }
    holder.Close();  // Windows lets nobody else read it meanwhile
    EXPECT_EQ(test::ReadFile(dir + "held.log"), "kept");
}

// More pieces than one system call takes land in order at the offset; a failed piece leaves
// the pieces before it written, and a failed positioning writes nothing.
TEST(PositionedWrite, PiecesLandInOrderAndAFailureStopsAtItsPiece) {
    const std::string path = test::MakeTempDir("positioned") + "/log.txt";
    test::WriteFile(path, "0123");
    std::vector<std::string> texts;
    std::string expected = "0123";
    for (int i = 0; i < 300; ++i) expected += texts.emplace_back(std::to_string(i) + ",");
    std::vector<platform::WritePiece> pieces;
    for (const std::string& text : texts)
        pieces.push_back(platform::WritePiece{text.data(), static_cast<uint32_t>(text.size())});
    platform::File file;
    uint64_t length = 0;
    bool missing = true;
    ASSERT_TRUE(file.OpenForWritesAt(path, &length, &missing));
    EXPECT_EQ(length, 4u);
    platform::File other;
    EXPECT_FALSE(other.Open(path, platform::FileOpenMode::ExistingRead)) << "held exclusively";
    file.WriteAt(4, pieces.data(), pieces.size());
    platform::testing::FailAfter(Fault::FileWrite, 1);
    EXPECT_THROW(file.WriteAt(0, pieces.data() + 10, 3), platform::FileError);
    platform::testing::FailAfter(Fault::FileSeek, 0);
    EXPECT_THROW(file.WriteAt(0, pieces.data() + 20, 1), platform::FileError);
    file.Close();
    EXPECT_EQ(test::ReadFile(path), "10," + expected.substr(3));
}

}  // namespace
}  // namespace vantrel
