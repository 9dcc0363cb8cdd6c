// The settings store, the settings a log service runs with, and the claim of an instance
// number, against the real store and named mutexes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/clog_service.h"
#include "manager/log_service_mgr.h"
#include "platform/named_mutex.h"
#include "platform/platform_config.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/test_seam.h"
#include "settings/process_identity.h"
#include "settings/settings_store.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::FailAfter;
using platform::testing::Fault;
using test::kInstancePath;

bool LoadDefaults(CLogServiceMgr& mgr) {
    return mgr.loadDefaultSettings(platform::GetCurrentProcess(), platform::GetCurrentProcessId(),
                                   platform::GetExeModuleHandle(), platform::GetCurrentThread(),
                                   platform::GetCurrentThreadId());
}

void PutDefault(const char* name, uint32_t value) {
    test::PutLogSetting(kDefaultsInstancePath, kDefaultsLogName, name, value);
}

uint32_t Read(Setting setting, const char* logName = "vantrel.log") {
    return readSetting(setting, kInstancePath, logName);
}

// Later loads keep edited values and repair all-ones ones; a new store that cannot be
// written leaves the library unready.
TEST(DefaultSettings, FirstLoadCreatesThemLaterLoadsKeepEditsAndRepairAllOnes) {
    CLogServiceMgr first, second, third;
    ASSERT_TRUE(LoadDefaults(first));
    EXPECT_EQ(first.readyLevel, 1);
    test::ExpectBuiltInDefaults();
    PutDefault("IndentSize", 5);
    PutDefault("HtmlDoc", 0xFFFFFFFF);
    ASSERT_TRUE(LoadDefaults(second));
    EXPECT_EQ(readSetting(Setting::IndentSize, kDefaultsInstancePath, kDefaultsLogName), 5u);
    EXPECT_EQ(readSetting(Setting::HtmlDoc, kDefaultsInstancePath, kDefaultsLogName), 0u);
    test::UseFreshEnvironment();
    FailAfter(Fault::RegistryCreate, 0, -1);
    EXPECT_FALSE(LoadDefaults(third));
    EXPECT_EQ(third.readyLevel, 0);
    EXPECT_FALSE(third.establishInstance());
}

TEST(SettingsStore, ValuesOfOtherTypesReadAsTheirFirstBytes) {
    const std::string key = ComposeSettingsKeyPath(kInstancePath, "odd.log");
    test::PutValue(key, "IndentSize", platform::kRegBinary, "\x07\x00", 2);
    EXPECT_EQ(Read(Setting::IndentSize, "odd.log"), 0xFFFF0007u);
    test::PutValue(key, "HtmlDoc", platform::kRegSz, "12345", 5);
    EXPECT_EQ(Read(Setting::HtmlDoc, "odd.log"), kMissingMarker);
}

// Each setting as the log's bytes show it after one entry ("-": nothing written yet).
TEST(ServiceSettings, TheLogFollowsItsSettings) {
    const struct {
        const char* setting;
        uint32_t value;
        const char* during;
    } rows[] = {
        {"ShowThreadId", 0, "\r\nF\r\n{\r\n   x\r\n"},
        {"IndentSize", 5, "{\r\n     x\r\n"},
        {"NeedTimeStamp", 0xFFFFFFFE, ", ("},  // negative counts as on
        {"WriteImmediately", 0, "-"},
        {"WriteImmediately", 7, "\r\nF // tid:0x"},
        {"WriteImmediately", 0xFFFFFFFE, "-"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.setting) + " " + std::to_string(row.value));
        test::UseFreshEnvironment();
        test::PutLogSetting(kInstancePath, "vantrel.log", row.setting, row.value);
        const std::string folder = test::MakeTempDir("settings") + platform::kPathSeparator;
        CLogService service;
        ASSERT_EQ(test::InitService(service, folder, "vantrel.log"), 1);
        EXPECT_EQ(service.FuncBegin(0, "F") + test::Log(service, "x\n"), 2);
        const std::string during = test::ReadFile(folder + "vantrel.log");
        EXPECT_EQ(during.find(*row.during == '-' ? "x" : row.during) == std::string::npos,
                  *row.during == '-')
            << during;
        EXPECT_EQ(service.Close(), 1);
    }
}

// A name that is not letters, digits, underscore and dots fails before the store or the disk
// is touched; a good one records its settings and its folder (without a terminating zero).
TEST(ServiceSettings, NamesAndFolders) {
    const std::string root = test::MakeTempDir("names") + platform::kPathSeparator;
    for (const char* name : {"with space.log", "a-b.log", "a\\b.log", "caf\xE9.log", "tab\t.log",
                             "", "x.log.", "x.log..", static_cast<const char*>(nullptr)}) {
        CLogService service;
        EXPECT_EQ(test::InitService(service, root + "f" + platform::kPathSeparator, name), 0);
        EXPECT_EQ(Read(Setting::NeedTimeStamp, name ? name : ""), kMissingMarker) << name;
        EXPECT_FALSE(test::PathExists(root + "f")) << name;
    }
    for (const char* name : {"vantrel.log", "trace", "Run_2.Log.txt", "_"}) {
        CLogService service;
        ASSERT_EQ(test::InitService(service, root + name + platform::kPathSeparator, name), 1);
        EXPECT_EQ(test::GetValue(ComposeSettingsKeyPath(kInstancePath, name), "LogFolderPath"),
                  root + name);
        EXPECT_EQ(Read(Setting::CacheSizeKB, name), 256u);
        service.Close();
    }
    CLogService noFolder;
    EXPECT_EQ(test::InitService(noFolder, "", "none.log"), 0);
    EXPECT_FALSE(
        test::GetValue(ComposeSettingsKeyPath(kInstancePath, "none.log"), "LogFolderPath"));
    FailAfter(Fault::RegistryCreate, 0, -1);
    CLogService noStore;
    EXPECT_EQ(test::InitService(noStore, root, "vantrel.log"), 0);
}

std::string ProcessKeyName() {
    std::string exe;
    EXPECT_TRUE(platform::GetModuleFileName(platform::GetExeModuleHandle(), &exe));
    const size_t nameAt = exe.rfind(platform::kPathSeparator);
    return makeProcessKeyName(exe.substr(0, nameAt), exe.substr(nameAt + 1));
}

// A claim that fails leaves nothing claimed, and the next attempt claims number 1.
TEST(InstanceClaim, FaultsFailTheClaimAndLeaveItToALaterAttempt) {
    const struct {
        Fault fault;
        int count;
        bool claimed;
    } rows[] = {
        {Fault::RegistrySet, 1, false},     // the identifier is not recorded: mutex released
        {Fault::RegistryCreate, 1, true},   // no instance key: the mutex still claims
        {Fault::MutexCreate, -1, false},    // no mutex at all: the search ends
        {Fault::ModuleFileName, 1, false},  // no path to name the executable by
        {Fault::ProcessTimes, 1, false},    // no creation time to identify the process by
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.fault));
        test::UseFreshEnvironment();
        CLogServiceMgr mgr;
        ASSERT_TRUE(LoadDefaults(mgr));
        FailAfter(row.fault, 0, row.count);
        EXPECT_EQ(mgr.establishInstance(), row.claimed);
        platform::testing::ClearFaults();
        if (!row.claimed) {
            EXPECT_EQ(mgr.readyLevel, 1);
            EXPECT_EQ(mgr.instanceMutex, nullptr);
            ASSERT_TRUE(mgr.establishInstance());
        }
        EXPECT_EQ(mgr.readyLevel, 2);
        EXPECT_EQ(mgr.instanceNumber, 1);
        platform::CloseNamedMutex(mgr.instanceMutex);
    }
}

// Numbers held by others are passed over, also when creating the other numbers' mutexes
// fails in between (17 failures, never two in a row); the claim is recorded under its number.
TEST(InstanceClaim, HeldNumbersAreSkipped) {
    CLogServiceMgr mgr;
    ASSERT_TRUE(LoadDefaults(mgr));
    std::vector<platform::MutexHandle> held;
    bool existed = false;
    for (int n = 2; n <= 34; n += 2)
        held.push_back(
            platform::CreateNamedMutex(ProcessKeyName() + "/" + makeProcName(n), &existed));
    FailAfter(Fault::MutexCreate, 0, 17);
    ASSERT_TRUE(mgr.establishInstance());
    EXPECT_EQ(mgr.instanceNumber, 35);
    platform::SystemTime created;
    ASSERT_TRUE(platform::GetProcessCreationLocalTime(platform::GetCurrentProcess(), &created));
    EXPECT_EQ(test::GetValue(makeInstanceKeyPath(mgr.processKeyName, 35), "Identifier"),
              makeIdentity(platform::GetCurrentProcessId(), created));
    platform::CloseNamedMutex(mgr.instanceMutex);
    for (platform::MutexHandle handle : held) platform::CloseNamedMutex(handle);
}

}  // namespace
}  // namespace vantrel
