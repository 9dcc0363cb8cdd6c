// A log name so long that its part file's name cannot be made (<base>_0.log is longer than a
// file name may be): the thread's text stays in memory and the merge takes it from there.
// Linux only: on Windows such a name already exceeds the registry's and the path's limits.
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

TEST(PartFileLongName, EveryCallThatReturned1IsKept) {
    const std::string name = std::string(250, 'n') + ".log";
    const std::string folder = test::MakeTempDir("long") + "/logs/";
    test::PutLogSetting(test::kInstancePath, name, "WriteImmediately", 0);
    CLogService service;
    ASSERT_EQ(test::InitService(service, folder, name.c_str()), 1);
    EXPECT_EQ(test::Log(service, "kept\n"), 1);
    EXPECT_EQ(service.Close(), 1);

    EXPECT_EQ(test::ReadFile(folder + name).rfind("kept\r\n", 0), 0u);
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files.insert(entry.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"img", name}));
}

}  // namespace
}  // namespace vantrel
