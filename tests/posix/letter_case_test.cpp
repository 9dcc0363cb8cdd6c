// On Linux, as on Windows, a log finds the file an earlier run wrote under the same name in
// other letter case: it backs it up or continues it instead of starting a second file.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "log/clog_service.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

class LetterCaseTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(LetterCaseTest, AnEarlierFileInOtherCaseIsThisLogsFile) {
    const uint32_t createNew = GetParam();
    const std::string folder = test::MakeTempDir("case") + "/logs/";
    std::filesystem::create_directories(folder);
    test::WriteFile(folder + "Trace.log", "earlier\r\n");
    test::PutLogSetting(test::kInstancePath, "TRACE.LOG", "CreateNewLogFile", createNew);

    CLogService service;
    ASSERT_EQ(test::InitService(service, folder, "TRACE.LOG"), 1);
    EXPECT_EQ(test::Log(service, "later\n"), 1);
    EXPECT_EQ(service.Close(), 1);

    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files.insert(entry.path().filename().string());
    const std::string text = test::ReadFile(folder + "Trace.log");
    if (createNew) {
        EXPECT_EQ(files, (std::set<std::string>{"Trace.log", "Trace.log.bak", "img"}));
        EXPECT_EQ(test::ReadFile(folder + "Trace.log.bak"), "earlier\r\n");
        EXPECT_EQ(text.rfind("later\r\n", 0), 0u) << text;
    } else {
        EXPECT_EQ(files, (std::set<std::string>{"Trace.log", "img"}));
        EXPECT_EQ(text.rfind("earlier\r\nlater\r\n", 0), 0u) << text;
    }
}

// Backed up (CreateNewLogFile 1) and continued (0).
INSTANTIATE_TEST_SUITE_P(FirstOpening, LetterCaseTest, ::testing::Values(1u, 0u));

}  // namespace
}  // namespace vantrel
