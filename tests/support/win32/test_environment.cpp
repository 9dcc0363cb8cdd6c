// Windows has one registry per user and the settings root is fixed, so every test starts by
// deleting the settings tree. That would destroy a real user's settings: the program refuses
// to run unless the environment says the registry is a scratch one (a fresh Wine prefix in
// scripts/test-windows.sh).
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/registry.h"
#include "platform/test_seam.h"
#include "settings/settings_store.h"
#include "win32_api.h"

namespace vantrel::test {

void UseFreshEnvironment() {
    if (!getenv("VANTREL_TEST_SCRATCH_REGISTRY")) {
        fprintf(stderr,
                "These tests delete HKEY_CURRENT_USER\\%s before each test. Run them in a "
                "scratch registry (a fresh Wine prefix) with VANTREL_TEST_SCRATCH_REGISTRY=1.\n",
                kRootSubKey);
        fflush(stderr);
        _exit(2);
    }
    const LSTATUS result = ::RegDeleteTreeA(HKEY_CURRENT_USER, kRootSubKey);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        ADD_FAILURE() << "cannot delete the settings tree: error " << result;
    platform::ReleaseRegistryStore();
    platform::testing::ClearFaults();
}

}  // namespace vantrel::test
