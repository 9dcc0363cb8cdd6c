// A log from an earlier run that is larger than 2 GiB is continued at its end (a sparse file
// stands in for the real thing).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "log/clog_service.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

constexpr uint64_t kEarlierLength = 2500ull * 1000 * 1000;  // 2.5 GB

std::string ReadFrom(const std::string& path, uint64_t offset, size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string text(count, '\0');
    in.read(&text[0], static_cast<std::streamsize>(count));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

class LargeLogTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(LargeLogTest, ContinuingALogPast2GiBWritesAtItsEnd) {
    const std::string folder = test::MakeTempDir("large") + "/logs/";
    std::filesystem::create_directories(folder);
    test::WriteFile(folder + "big.log", "earlier\r\n");
    std::filesystem::resize_file(folder + "big.log", kEarlierLength);
    test::PutLogSetting(test::kInstancePath, "big.log", "CreateNewLogFile", 0);
    test::PutLogSetting(test::kInstancePath, "big.log", "WriteImmediately", GetParam());

    CLogService service;
    ASSERT_EQ(test::InitService(service, folder, "big.log"), 1);
    EXPECT_EQ(test::Log(service, "first\n"), 1);
    EXPECT_EQ(test::Log(service, "second\n"), 1);
    EXPECT_EQ(service.Close(), 1);

    const std::string tail = ReadFrom(folder + "big.log", kEarlierLength, 4096);
    EXPECT_EQ(tail.rfind("first\r\nsecond\r\n\r\nProcess ID:", 0), 0u) << tail.substr(0, 64);
    EXPECT_EQ(tail.back(), '\n');
    EXPECT_FALSE(test::PathExists(folder + "big.log.bak"));  // continued, not backed up
    EXPECT_EQ(ReadFrom(folder + "big.log", 0, 9), "earlier\r\n");
}

// Written immediately (merge from memory) and at unload (merge from part files).
INSTANTIATE_TEST_SUITE_P(Modes, LargeLogTest, ::testing::Values(1u, 0u));

}  // namespace
}  // namespace vantrel
