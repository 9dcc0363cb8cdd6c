// The part files of a service's threads: they never empty, take over or delete a file they
// did not create, and a name that cannot be made costs the log none of its text.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "log/clog_service.h"
#include "log/log_mode.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

struct PartNameCase {
    const char* name;
    uint32_t writeImmediately;
    std::string logName;
    const char* neighbour;   // a file named like the first part file, or nullptr
    bool neighbourIsLog;     // a log of this process; else a file left by an earlier run
    bool partFirst = false;  // the part file is written before the neighbour log starts
};

class PartFileNamesTest : public ::testing::TestWithParam<PartNameCase> {};

TEST_P(PartFileNamesTest, NoLogLosesTextToAPartFile) {
    const PartNameCase& param = GetParam();
    const std::string folder = test::MakeTempDir("parts") + "/logs/";
    test::PutLogSetting(test::kInstancePath, param.logName, "WriteImmediately",
                        param.writeImmediately);
    // A bitmap entry then writes the thread's text to its part file at once.
    test::PutLogSetting(test::kInstancePath, param.logName, "CacheSize(KB)", 0);
    auto mine = std::make_unique<CLogService>();
    ASSERT_EQ(test::InitService(*mine, folder, param.logName.c_str()), 1);
    if (param.neighbour && !param.neighbourIsLog) {
        test::WriteFile(folder + param.neighbour, "earlier run\r\n");
    }
    EXPECT_EQ(test::Log(*mine, "mine\n"), 1);
    if (param.partFirst) {
        EXPECT_EQ(test::Picture(*mine, "p.bmp", "picture\n"), 1);
    }
    std::unique_ptr<CLogService> other;
    if (param.neighbour && param.neighbourIsLog) {
        other = std::make_unique<CLogService>();
        ASSERT_EQ(test::InitService(*other, folder, param.neighbour), 1);
        EXPECT_EQ(test::Log(*other, "other\n"), 1);
    }
    // Newest first, as the unload closes them.
    if (other) {
        EXPECT_EQ(other->Close(), 1);
    }
    EXPECT_EQ(mine->Close(), 1);

    const std::string text = test::ReadFile(folder + param.logName);
    EXPECT_EQ(text.rfind("mine\r\n", 0), 0u) << text;
    if (param.partFirst) {
        EXPECT_NE(text.find("picture\r\n"), std::string::npos) << text;
    }
    std::set<std::string> expected{"img", param.logName};
    if (param.neighbour) {
        expected.insert(param.neighbour);
        const std::string kept = test::ReadFile(folder + param.neighbour);
        EXPECT_EQ(kept.rfind(param.neighbourIsLog ? "other\r\n" : "earlier run\r\n", 0), 0u)
            << kept;
    }
    EXPECT_EQ(FilesIn(folder), expected);  // no part file is left behind
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PartFileNamesTest,
    ::testing::Values(
        // The thread log of app.log, kept in memory, deleted app_0.log at close.
        PartNameCase{"InMemoryAnotherLogsFile", 1, "app.log", "app_0.log", true},
        // The part file emptied the other log's file, then deleted it.
        PartNameCase{"InFilesAnotherLogsFile", 0, "app.log", "app_0.log", true},
        // An earlier run's app_0.log was emptied and deleted without a back-up.
        PartNameCase{"InFilesAnEarlierRunsFile", 0, "app.log", "app_0.log", false},
        // The other log's first opening backed the part file up and deleted it.
        PartNameCase{"InFilesAPartFileWrittenBeforeTheOtherLog", 0, "app.log", "app_0.log", true,
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel
