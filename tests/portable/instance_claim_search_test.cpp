// The search for a free instance number: which numbers it passes over and when it gives up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manager/log_service_mgr.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/test_seam.h"
#include "platform_config.h"
#include "settings/process_identity.h"

namespace vantrel {
namespace {

TEST(InstanceClaimSearch, NumbersHeldByOthersBreakARunOfCreateFailures) {
    CLogServiceMgr mgr;
    ASSERT_TRUE(
        mgr.loadDefaultSettings(platform::GetCurrentProcess(), platform::GetCurrentProcessId(),
                                platform::GetExeModuleHandle(), platform::GetCurrentThread(),
                                platform::GetCurrentThreadId()));
    std::string exe;
    ASSERT_TRUE(platform::GetModuleFileName(platform::GetExeModuleHandle(), &exe));
    const size_t nameAt = exe.rfind(platform::kPathSeparator);
    const std::string keyName = makeProcessKeyName(exe.substr(0, nameAt), exe.substr(nameAt + 1));
    // Even numbers held by another claim and the odd ones failing: 17 failures, never two in
    // a row, so the search must go on to number 35.
    std::vector<platform::MutexHandle> held;
    bool existed = false;
    for (int n = 2; n <= 34; n += 2)
        held.push_back(platform::CreateNamedMutex(keyName + "/" + makeProcName(n), &existed));
    platform::testing::FailAfter(platform::testing::Fault::MutexCreate, 0, 17);
    ASSERT_TRUE(mgr.establishInstance());
    EXPECT_EQ(mgr.instanceNumber, 35);
    platform::CloseNamedMutex(mgr.instanceMutex);
    for (platform::MutexHandle handle : held) platform::CloseNamedMutex(handle);
}

}  // namespace
}  // namespace vantrel
