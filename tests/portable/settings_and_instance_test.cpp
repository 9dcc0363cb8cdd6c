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

// Each setting as the log's bytes show it after one entry ("-": nothing written yet); the
// folder recorded (without a terminating zero), none without a folder; values of other types
// read as their first bytes; nothing without a store.
TEST(Settings, TheLogFollowsItsSettingsAndRecordsItsFolder) {
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
    const std::string sep(1, platform::kPathSeparator), name = "Run_2.Log.txt";
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.setting) + " " + std::to_string(row.value));
        test::UseFreshEnvironment();
        test::PutLogSetting(kInstancePath, name, row.setting, row.value);
        const std::string folder = test::MakeTempDir("settings") + sep + "f";
        CLogService service;
        ASSERT_EQ(test::InitService(service, folder + sep, name.c_str()), 1);
        EXPECT_EQ(service.FuncBegin(0, "F") + test::Log(service, "x\n"), 2);
        const std::string during = test::ReadFile(folder + sep + name), wanted = row.during;
        EXPECT_EQ(during.find(wanted == "-" ? "x" : wanted) == std::string::npos, wanted == "-")
            << during;
        EXPECT_EQ(test::GetValue(ComposeSettingsKeyPath(kInstancePath, name), "LogFolderPath"),
                  folder);
        EXPECT_EQ(service.Close(), 1);
    }
    CLogService noFolder, noStore;
    EXPECT_EQ(test::InitService(noFolder, "", "none.log"), 0);
    EXPECT_FALSE(
        test::GetValue(ComposeSettingsKeyPath(kInstancePath, "none.log"), "LogFolderPath"));
    const std::string key = ComposeSettingsKeyPath(kInstancePath, "odd.log");  // other types
    test::PutValue(key, "IndentSize", platform::kRegBinary, "\x07\x00", 2);
    test::PutValue(key, "HtmlDoc", platform::kRegSz, "12345", 5);
    EXPECT_EQ(readSetting(Setting::IndentSize, kInstancePath, "odd.log"), 0xFFFF0007u);
    EXPECT_EQ(readSetting(Setting::HtmlDoc, kInstancePath, "odd.log"), kMissingMarker);
    FailAfter(Fault::RegistryCreate, 0, -1);
    EXPECT_EQ(test::InitService(noStore, test::MakeTempDir("settings"), "vantrel.log"), 0);
}

std::string ProcessKeyName() {
    std::string exe;
    EXPECT_TRUE(platform::GetModuleFileName(platform::GetExeModuleHandle(), &exe));
    const size_t nameAt = exe.rfind(platform::kPathSeparator);
    return makeProcessKeyName(exe.substr(0, nameAt), exe.substr(nameAt + 1));
}

// A claim that fails leaves nothing claimed, and the next attempt claims. Numbers held by
// others are passed over, also when creating their mutexes fails in between (never two in a
// row); the claim is recorded under its number.
TEST(InstanceClaim, FaultsFailTheClaimAndLeaveItToALaterAttempt) {
    const struct {
        Fault fault;
        int count;
        bool claimed, held;
        int number;
    } rows[] = {
        {Fault::RegistrySet, 1, false, false, 1},     // no identifier recorded: mutex released
        {Fault::RegistryCreate, 1, true, false, 1},   // no instance key: the mutex still claims
        {Fault::MutexCreate, -1, false, false, 1},    // no mutex at all: the search ends
        {Fault::ModuleFileName, 1, false, false, 1},  // no path to name the executable by
        {Fault::ProcessTimes, 1, false, false, 1},    // no creation time to identify the process
        {Fault::MutexCreate, 17, true, true, 35},     // numbers 2, 4 ... 34 held
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.fault));
        test::UseFreshEnvironment();
        CLogServiceMgr mgr;
        ASSERT_TRUE(
            mgr.loadDefaultSettings(platform::GetCurrentProcess(), platform::GetCurrentProcessId(),
                                    platform::GetExeModuleHandle(), platform::GetCurrentThread(),
                                    platform::GetCurrentThreadId()));
        std::vector<platform::MutexHandle> held;
        bool existed = false;
        for (int n = 2; row.held && n <= 34; n += 2)
            held.push_back(
                platform::CreateNamedMutex(ProcessKeyName() + "/" + makeProcName(n), &existed));
        FailAfter(row.fault, 0, row.count);
        EXPECT_EQ(mgr.establishInstance(), row.claimed);
        platform::testing::ClearFaults();
        if (!row.claimed) {
            EXPECT_EQ(mgr.readyLevel, 1);
            EXPECT_EQ(mgr.instanceMutex, nullptr);
            ASSERT_TRUE(mgr.establishInstance());
        }
        EXPECT_EQ(mgr.readyLevel, 2);
        EXPECT_EQ(mgr.instanceNumber, row.number);
        platform::SystemTime created;
        ASSERT_TRUE(platform::GetProcessCreationLocalTime(platform::GetCurrentProcess(), &created));
        const auto identifier = makeIdentity(platform::GetCurrentProcessId(), created);
        EXPECT_EQ(test::GetValue(makeInstanceKeyPath(mgr.processKeyName, row.number), "Identifier")
                      .value_or("none"),
                  row.claimed && !row.held ? "none" : identifier);
        platform::CloseNamedMutex(mgr.instanceMutex);
        for (platform::MutexHandle handle : held) platform::CloseNamedMutex(handle);
    }
}

// The executable's folder and name that its instances are counted under; Windows names carry
// an extension.
TEST(InstanceClaim, ExecutablePathsSplitIntoFolderAndName) {
    // clang-format off
    const struct { const char* path; char separator; bool extension; const char* split; } rows[] = {
        {"C:\\apps\\viewer.exe", '\\', true, "C:\\apps|viewer.exe"}, {"C:\\apps\\viewer", '\\', true, "-"},
        {"viewer.exe", '\\', true, "-"}, {"/usr/bin/viewer", '/', false, "/usr/bin|viewer"},
        {"/usr/bin/", '/', false, "-"}, {"viewer", '/', false, "-"}};
    // clang-format on
    for (const auto& row : rows) {
        std::string folder, name;
        const bool split =
            splitExecutablePath(row.path, row.separator, row.extension, &folder, &name);
        EXPECT_EQ(split ? folder + "|" + name : "-", row.split) << row.path;
    }
}

}  // namespace
}  // namespace vantrel
