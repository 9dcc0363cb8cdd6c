// The write cache of a log: when an append flushes it, and what a flush that fails leaves in
// the file and in the cache (nothing lost, no stale tail, the next flush catches up).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "log/clog.h"
#include "log/log_mode.h"
#include "platform/file.h"
#include "platform/test_seam.h"
#include "platform_config.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::FailAfter;
using platform::testing::Fault;

constexpr char kSummary[] = "<summary>";

// A log whose cache is filled directly and whose summary is a fixed text.
class CacheLog : public CLog {
  public:
    using CLog::FillCheck;
    void Append(const std::string& text) { cache += text; }
    void PlaceAt(uint64_t position) {
        writePosition = position;
        positioned = true;
    }
    int32_t WriteSummary() override {
        WriteRaw(kSummary, sizeof kSummary - 1);
        return 1;
    }
};

struct CacheLogFixture {
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

struct FlushFault {
    Fault fault;
    int skip;
    int32_t result;
    const char* cache;  // what the cache still holds
    const char* bytes;  // the file after the failed flush
};

class FlushFaultTest : public ::testing::TestWithParam<FlushFault> {};

// "first " and its summary are in the file; the final flush of "second " meets the fault.
TEST_P(FlushFaultTest, LosesNothingAndLeavesNoStaleTail) {
    const FlushFault& c = GetParam();
    CacheLogFixture f;
    auto log = f.Open(0);
    log->Append("first ");
    ASSERT_EQ(log->FlushCache(true), 1);
    ASSERT_EQ(log->CloseFile(), 1);
    log->Append("second ");
    if (c.fault != Fault::Count) FailAfter(c.fault, c.skip);
    EXPECT_EQ(log->FlushCache(true), c.result);
    EXPECT_EQ(log->GetCache(), c.cache);
    EXPECT_EQ(f.Bytes(*log), c.bytes);
    platform::testing::ClearFaults();
    ASSERT_EQ(log->FlushCache(true), 1);
    EXPECT_EQ(f.Bytes(*log), std::string("first second ") + kSummary);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlushFaultTest,
    ::testing::Values(
        // Nothing armed: the text goes over the old summary.
        FlushFault{Fault::Count, 0, 1, "", "first second <summary>"},
        // The text fails: the old summary goes too, so nothing passes for a finished log.
        FlushFault{Fault::FileWrite, 0, 0, "second ", "first "},
        // The text lands but its summary does not: the partial summary is cut.
        FlushFault{Fault::FileWrite, 1, 0, "", "first second "},
        FlushFault{Fault::FileOpen, 0, 0, "second ", "first <summary>"},
        FlushFault{Fault::FileSeek, 0, 0, "second ", "first <summary>"}));

struct FillCase {
    const char* name;
    uint32_t mode;
    int32_t cacheSize;
    bool isImage;
    bool flushed;  // the append's fill check wrote the cache to the file
};

class FillCheckTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillCheckTest, FlushesOnlyACachePastItsSizeInModesThatWrite) {
    const FillCase& c = GetParam();
    CacheLogFixture f;
    auto log = f.Open(c.mode, c.cacheSize);
    log->Append("abcd");
    EXPECT_EQ(log->FillCheck(c.isImage), 1);
    EXPECT_EQ(log->GetCache().empty(), c.flushed);
    EXPECT_EQ(f.Bytes(*log), c.flushed ? "abcd" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FillCheckTest,
    ::testing::Values(FillCase{"AtItsSize", 0, 4, false, false},
                      FillCase{"PastItsSize", 0, 3, false, true},
                      FillCase{"NegativeSize", 0, -1, false, true},
                      FillCase{"WriteImmediately", LogModeWriteImmediately, 0, false, true},
                      // A thread log's text appends never flush; its image lines do.
                      FillCase{"ThreadLogText", LogModeNoSummary | LogModeTruncate, 0, false,
                               false},
                      FillCase{"ThreadLogImage", LogModeNoSummary | LogModeTruncate, 0, true, true},
                      FillCase{"NoFileOutput", LogModeNoFileOutput, 0, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogCache, AFailingCloseIsReportedAndKeepsWhatWasNotWritten) {
    CacheLogFixture f;
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
    CacheLogFixture f;
    auto log = f.Open(0);
    ASSERT_EQ(log->OpenFile(), 1);
    const uint64_t far = (5ull << 30) + 3;
    log->PlaceAt(far);
    log->Append("far");
    ASSERT_EQ(log->FlushCache(false), 1);
    log->PlaceAt(kNotPositioned - 3);
    log->Append("abc");
    ASSERT_EQ(log->FlushCache(false), 1);
    ASSERT_EQ(log->CloseFile(), 1);
    log->Append("d");
    ASSERT_EQ(log->CloseFile(), 1);
    EXPECT_FALSE(test::PathExists(f.path + ".bak"));

    platform::File file;
    ASSERT_TRUE(file.Open(f.path, platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(file.GetLength(), far + 3);
    char bytes[4] = {};
    file.Seek(kNotPositioned - 3);
    ASSERT_EQ(file.Read(bytes, 4), 4u);
    EXPECT_EQ(std::string(bytes, 4), "abcd");
    file.Seek(far);
    ASSERT_EQ(file.Read(bytes, 3), 3u);
    EXPECT_EQ(std::string(bytes, 3), "far");
}

}  // namespace
}  // namespace vantrel
