// Service configuration: the name check, the settings of the log key, the mode word and the
// recorded log folder.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log/clog_service.h"
#include "log/log_mode.h"
#include "platform/test_seam.h"
#include "platform_config.h"
#include "settings/settings_store.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using test::kInstancePath;
using test::PutLogSetting;

std::optional<std::string> ReadString(const std::string& logName, const char* valueName) {
    return test::GetValue(ComposeSettingsKeyPath(kInstancePath, logName), valueName);
}

class ServiceConfigTest : public ::testing::Test {
  protected:
    void SetUp() override { root = test::MakeTempDir("config-test"); }

    // Init as the manager calls it; the folder is given with its trailing separator.
    int32_t Init(const char* logName, uint32_t mode = LogModeFromSettings) {
        service = std::make_unique<CLogService>();
        return test::InitService(*service, Folder(), logName, mode);
    }
    std::string Folder() const {
        return root + platform::kPathSeparator + "proc1" + platform::kPathSeparator;
    }
    void TearDown() override {
        if (service && service->GetIsOpen()) service->Close();
    }

    std::string root;
    std::unique_ptr<CLogService> service;
};

TEST_F(ServiceConfigTest, NameCheckFailsBeforeTouchingRegistryOrDisk) {
    const std::vector<std::string> rejected = {"with space.log", "a-b.log",   "a\\b.log",
                                               "caf\xE9.log",    "tab\t.log", "",
                                               "x.log.",         "x.log.."};
    for (const std::string& name : rejected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Init(name.c_str()), 0);
        EXPECT_EQ(readSetting(Setting::NeedTimeStamp, kInstancePath, name), kMissingMarker);
        EXPECT_FALSE(test::PathExists(Folder()));
        service.reset();  // releases the thread handle it was given
    }
    EXPECT_EQ(Init(nullptr), 0);
}

TEST_F(ServiceConfigTest, NamesOfLettersDigitsUnderscoreAndDotPass) {
    for (const char* name : {"vantrel.log", "trace", "Run_2.Log.txt", "_"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Init(name), 1);
        EXPECT_EQ(service->GetFileName(), name);
        service->Close();
        service.reset();
    }
}

TEST_F(ServiceConfigTest, FreshStoreGetsTheEightSettingsAndTheFolder) {
    ASSERT_EQ(Init("vantrel.log"), 1);
    const uint32_t builtIn[kSettingCount] = {0, 1, 256, 1, 1, 3, 0, 0};
    for (int i = 0; i < kSettingCount; ++i) {
        const auto setting = static_cast<Setting>(i);
        SCOPED_TRACE(GetSettingInfo(setting).valueName);
        EXPECT_EQ(readSetting(setting, kInstancePath, "vantrel.log"), builtIn[i]);
    }
    std::string expected = Folder();
    expected.pop_back();
    EXPECT_EQ(ReadString("vantrel.log", "LogFolderPath"), expected);
    EXPECT_EQ(service->GetMode(), 0x3000Au);
    EXPECT_EQ(service->GetThreadLogCount(), 1u);
    EXPECT_EQ(service->GetThreadLogAt(0), nullptr);
}

TEST_F(ServiceConfigTest, PresentValuesAreKeptAndMissingOnesComeFromTheDefaultsKey) {
    PutLogSetting(kDefaultsInstancePath, kDefaultsLogName, "NeedTimeStamp", 1);
    PutLogSetting(kInstancePath, "vantrel.log", "IndentSize", 5);
    ASSERT_EQ(Init("vantrel.log"), 1);
    EXPECT_EQ(readSetting(Setting::IndentSize, kInstancePath, "vantrel.log"), 5u);
    EXPECT_EQ(readSetting(Setting::NeedTimeStamp, kInstancePath, "vantrel.log"), 1u);
    EXPECT_EQ(service->GetMode(), 0x3000Au | LogModeTimeStamp);
}

struct ModeCase {
    const char* what;
    int32_t needTimeStamp, showThreadId, createNewLogFile, writeImmediately, htmlDoc, outDev;
    uint32_t mode;
};

class ServiceModeTest : public ServiceConfigTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ServiceModeTest, ModeFollowsTheSettings) {
    const ModeCase& c = GetParam();
    const std::pair<const char*, int32_t> values[] = {{"NeedTimeStamp", c.needTimeStamp},
                                                      {"ShowThreadId", c.showThreadId},
                                                      {"CreateNewLogFile", c.createNewLogFile},
                                                      {"WriteImmediately", c.writeImmediately},
                                                      {"HtmlDoc", c.htmlDoc},
                                                      {"OutDev", c.outDev}};
    for (const auto& value : values) {
        PutLogSetting(kInstancePath, "vantrel.log", value.first,
                      static_cast<uint32_t>(value.second));
    }
    ASSERT_EQ(Init("vantrel.log"), 1);
    EXPECT_EQ(service->GetMode(), c.mode);
}

// -1 is not among the cases: it reads as a missing value and is replaced by the default.
INSTANTIATE_TEST_SUITE_P(
    Settings, ServiceModeTest,
    ::testing::Values(ModeCase{"built-in defaults", 0, 1, 1, 1, 0, 0, 0x3000A},
                      ModeCase{"everything off", 0, 0, 1, 0, 0, 0, 0x20000},
                      ModeCase{"write immediately", 0, 0, 1, 1, 0, 0, 0x30008},
                      ModeCase{"write immediately 7", 0, 0, 1, 7, 0, 0, 0x30008},
                      ModeCase{"negative write immediately", 0, 0, 1, -2, 0, 0, 0x20000},
                      ModeCase{"negative others", -2, -2, 1, 0, -2, 0, 0x20806},
                      ModeCase{"continue file", 0, 0, 0, 0, 0, 0, 0x20200},
                      ModeCase{"output device 5", 0, 1, 1, 1, 0, 5, 0x3000A}),
    [](const ::testing::TestParamInfo<ModeCase>& info) {
        std::string name;
        for (const char* c = info.param.what; *c; ++c) name += isalnum(*c) ? *c : '_';
        return name;
    });

TEST_F(ServiceConfigTest, GivenModeIsKeptAndSettingsAreStillCreated) {
    ASSERT_EQ(Init("vantrel.log", LogModeMergeFromFiles | LogModeHtml), 1);
    EXPECT_EQ(service->GetMode(), LogModeMergeFromFiles | LogModeHtml);
    EXPECT_EQ(readSetting(Setting::OutDev, kInstancePath, "vantrel.log"), 0u);
}

TEST_F(ServiceConfigTest, UnwritableStoreUsesFallbacksAndFails) {
    platform::testing::FailAfter(platform::testing::Fault::RegistryCreate, 0, -1);
    EXPECT_EQ(Init("vantrel.log"), 0);  // LogFolderPath could not be recorded
    // ShowThreadId 1, CreateNewLogFile 0, WriteImmediately 0.
    EXPECT_EQ(service->GetMode(), 0x20202u);
    service.reset();
}

TEST_F(ServiceConfigTest, OpenFailureFailsInit) {
    service = std::make_unique<CLogService>();
    EXPECT_EQ(test::InitService(*service, "", "vantrel.log"), 0);
    EXPECT_EQ(ReadString("vantrel.log", "LogFolderPath"), std::nullopt);
    service.reset();
}

}  // namespace
}  // namespace vantrel
