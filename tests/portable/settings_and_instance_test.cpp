// The settings store, the default settings at start-up and the claim of an instance number,
// against the real store and named mutexes.
#include <gtest/gtest.h>

#include <string>

#include "manager/log_service_mgr.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/test_seam.h"
#include "platform_config.h"
#include "settings/process_identity.h"
#include "settings/settings_store.h"
#include "support/settings_values.h"

namespace vantrel {
namespace {

const std::string kDefaultsKey = std::string(kRootSubKey) + "\\default settings\\proc\\log";

using test::GetValue;
using test::PutDword;
using test::PutValue;

bool LoadDefaults(CLogServiceMgr& mgr) {
    return mgr.loadDefaultSettings(platform::GetCurrentProcess(), platform::GetCurrentProcessId(),
                                   platform::GetExeModuleHandle(), platform::GetCurrentThread(),
                                   platform::GetCurrentThreadId());
}

TEST(DefaultSettings, FirstLoadCreatesTheEightBuiltInDefaults) {
    CLogServiceMgr mgr;
    ASSERT_TRUE(LoadDefaults(mgr));
    EXPECT_EQ(mgr.readyLevel, 1);
    test::ExpectBuiltInDefaults(kDefaultsKey);
}

TEST(DefaultSettings, SecondLoadKeepsEditedValuesAndRepairsAllOnes) {
    {
        CLogServiceMgr first;
        ASSERT_TRUE(LoadDefaults(first));
    }
    PutDword(kDefaultsKey, "IndentSize", 5);
    PutDword(kDefaultsKey, "HtmlDoc", 0xFFFFFFFF);
    CLogServiceMgr second;
    ASSERT_TRUE(LoadDefaults(second));
    EXPECT_EQ(second.readyLevel, 1);
    EXPECT_EQ(readSetting(Setting::IndentSize, kDefaultsInstancePath, kDefaultsLogName), 5u);
    EXPECT_EQ(readSetting(Setting::HtmlDoc, kDefaultsInstancePath, kDefaultsLogName), 0u);
}

TEST(DefaultSettings, UnwritableStoreLeavesTheLibraryUnready) {
    platform::testing::FailAfter(platform::testing::Fault::RegistryCreate, 0, -1);
    CLogServiceMgr mgr;
    EXPECT_FALSE(LoadDefaults(mgr));
    EXPECT_EQ(mgr.readyLevel, 0);
    EXPECT_EQ(mgr.processId, platform::GetCurrentProcessId()) << "attach values stored first";
    EXPECT_FALSE(mgr.establishInstance());
}

TEST(SettingsStore, LogKeysCopyTheCurrentDefaultsAndKeepTheirOwn) {
    {
        CLogServiceMgr mgr;
        ASSERT_TRUE(LoadDefaults(mgr));
    }
    PutDword(kDefaultsKey, "IndentSize", 5);
    ASSERT_TRUE(writeSettingDefault(Setting::IndentSize, "/x/app\\proc1", "new.log"));
    EXPECT_EQ(readSetting(Setting::IndentSize, "/x/app\\proc1", "new.log"), 5u);

    PutDword(ComposeSettingsKeyPath("/x/app\\proc1", "old.log"), "IndentSize", 3);
    EXPECT_EQ(readSetting(Setting::IndentSize, "/x/app\\proc1", "old.log"), 3u);
}

TEST(SettingsStore, ValuesOfOtherTypesReadAsTheirFirstBytes) {
    const std::string key = ComposeSettingsKeyPath("/x/app\\proc1", "odd.log");
    PutValue(key, "IndentSize", platform::kRegBinary, "\x07\x00", 2);
    EXPECT_EQ(readSetting(Setting::IndentSize, "/x/app\\proc1", "odd.log"), 0xFFFF0007u);
    PutValue(key, "HtmlDoc", platform::kRegSz, "12345", 5);
    EXPECT_EQ(readSetting(Setting::HtmlDoc, "/x/app\\proc1", "odd.log"), kMissingMarker);
    EXPECT_EQ(readSetting(Setting::OutDev, "/x/app\\proc1", "missing.log"), kMissingMarker);
}

TEST(SettingsStore, LogFolderPathIsStoredWithoutTerminatingZero) {
    ASSERT_TRUE(writeLogFolderPath("/x/app\\proc1", "vantrel.log", "c:\\logs"));
    uint32_t type = 0;
    EXPECT_EQ(
        GetValue(ComposeSettingsKeyPath("/x/app\\proc1", "vantrel.log"), "LogFolderPath", &type),
        "c:\\logs");  // 7 bytes: no terminating zero
    EXPECT_EQ(type, platform::kRegSz);
}

TEST(ProcessIdentityNames, BuildersAndPathSplit) {
    EXPECT_EQ(makeProcName(12), "proc12");
    EXPECT_EQ(makeProcName(0), "proc");
    EXPECT_EQ(makeProcName(-3), "proc");
    EXPECT_EQ(makeProcessKeyName("C:\\Tools", "Viewer.exe"), "c:/tools/viewer.exe");
    EXPECT_EQ(makeInstanceFolder("C:\\Tools", "Viewer.exe", 2, '\\'),
              "C:\\Tools\\vantrel\\Viewer.exe\\proc2");
    EXPECT_EQ(makeInstanceKeyPath("c:/tools/viewer.exe", 2),
              "Software\\Osmirel Systems\\Kelvra\\c:/tools/viewer.exe\\proc2");
    platform::SystemTime t;
    t.year = 2026, t.month = 12, t.day = 4, t.hour = 16, t.minute = 3, t.second = 15;
    EXPECT_EQ(makeIdentity(300, t), "0x12c, 2026/12/4 16:03:15:000");

    std::string folder, name;
    ASSERT_TRUE(splitExecutablePath("C:\\Tools\\Viewer.exe", '\\', true, &folder, &name));
    EXPECT_EQ(folder, "C:\\Tools");
    EXPECT_EQ(name, "Viewer.exe");
    EXPECT_FALSE(splitExecutablePath("C:\\Tools\\Viewer", '\\', true, &folder, &name));
    EXPECT_FALSE(splitExecutablePath("Viewer.exe", '\\', true, &folder, &name));
    ASSERT_TRUE(splitExecutablePath("/home/u/app/viewer", '/', false, &folder, &name));
    EXPECT_EQ(folder, "/home/u/app");
    EXPECT_EQ(name, "viewer");
    EXPECT_FALSE(splitExecutablePath("viewer", '/', false, &folder, &name));
}

class InstanceClaim : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(LoadDefaults(mgr)); }
    void TearDown() override { platform::CloseNamedMutex(mgr.instanceMutex); }
    CLogServiceMgr mgr;
};

TEST_F(InstanceClaim, FirstProcessTakesNumberOneAndRecordsItsIdentity) {
    ASSERT_TRUE(mgr.establishInstance());
    EXPECT_EQ(mgr.readyLevel, 2);
    EXPECT_EQ(mgr.instanceNumber, 1);
    ASSERT_NE(mgr.instanceMutex, nullptr);
    std::string exe;
    ASSERT_TRUE(platform::GetModuleFileName(platform::GetExeModuleHandle(), &exe));
    std::string lower = exe;
    for (char& c : lower)
        c = c == '\\' ? '/' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(mgr.processKeyName, lower);
    const size_t nameAt = exe.rfind(platform::kPathSeparator);
    const std::string sep(1, platform::kPathSeparator);
    EXPECT_EQ(mgr.instanceFolder, exe.substr(0, nameAt) + sep + "vantrel" + sep +
                                      exe.substr(nameAt + 1) + sep + "proc1");

    platform::SystemTime created;
    ASSERT_TRUE(platform::GetProcessCreationLocalTime(platform::GetCurrentProcess(), &created));
    uint32_t type = 0;
    EXPECT_EQ(GetValue(makeInstanceKeyPath(mgr.processKeyName, 1), "Identifier", &type),
              makeIdentity(platform::GetCurrentProcessId(), created));
    EXPECT_EQ(type, platform::kRegSz);
}

TEST_F(InstanceClaim, HeldNumbersAreSkippedAndOwnRecordIsTakenAgain) {
    std::string exe;
    ASSERT_TRUE(platform::GetModuleFileName(platform::GetExeModuleHandle(), &exe));
    const size_t nameAt = exe.rfind(platform::kPathSeparator);
    std::string keyName = makeProcessKeyName(exe.substr(0, nameAt), exe.substr(nameAt + 1));
    bool existed = false;
    platform::MutexHandle other = platform::CreateNamedMutex(keyName + "/proc1", &existed);
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(mgr.establishInstance());
    EXPECT_EQ(mgr.instanceNumber, 2);

    // The same process loading again (its unload closed the mutex) finds its identity under
    // number 2 and takes it back, holding the number's mutex again.
    platform::CloseNamedMutex(mgr.instanceMutex);
    mgr.instanceMutex = nullptr;
    CLogServiceMgr again;
    ASSERT_TRUE(LoadDefaults(again));
    ASSERT_TRUE(again.establishInstance());
    EXPECT_EQ(again.instanceNumber, 2);
    ASSERT_NE(again.instanceMutex, nullptr);
    platform::CloseNamedMutex(again.instanceMutex);
    platform::CloseNamedMutex(other);
}

TEST_F(InstanceClaim, FailedIdentifierWriteClearsTheClaimAndIsRetried) {
    platform::testing::FailAfter(platform::testing::Fault::RegistrySet, 0);
    EXPECT_FALSE(mgr.establishInstance());
    EXPECT_EQ(mgr.readyLevel, 1);
    EXPECT_EQ(mgr.instanceNumber, 0);
    EXPECT_EQ(mgr.instanceMutex, nullptr);
    EXPECT_TRUE(mgr.processKeyName.empty());
    ASSERT_TRUE(mgr.establishInstance());
    EXPECT_EQ(mgr.instanceNumber, 1) << "the mutex of the failed claim was released";
}

TEST_F(InstanceClaim, UncreatableInstanceKeyStillClaimsByMutex) {
    platform::testing::FailAfter(platform::testing::Fault::RegistryCreate, 0);
    ASSERT_TRUE(mgr.establishInstance());
    EXPECT_EQ(mgr.instanceNumber, 1);
    EXPECT_NE(mgr.instanceMutex, nullptr);
}

TEST_F(InstanceClaim, SearchEndsWhenMutexesCannotBeCreatedAtAll) {
    platform::testing::FailAfter(platform::testing::Fault::MutexCreate, 0, -1);
    EXPECT_FALSE(mgr.establishInstance());
    EXPECT_EQ(mgr.readyLevel, 1);
}

TEST_F(InstanceClaim, UnavailablePathsAndTimesFailTheClaim) {
    platform::testing::FailAfter(platform::testing::Fault::ModuleFileName, 0);
    EXPECT_FALSE(mgr.establishInstance());
    platform::testing::FailAfter(platform::testing::Fault::ProcessTimes, 0);
    EXPECT_FALSE(mgr.establishInstance());
    EXPECT_EQ(mgr.readyLevel, 1);
    EXPECT_TRUE(mgr.establishInstance());
}

}  // namespace
}  // namespace vantrel
