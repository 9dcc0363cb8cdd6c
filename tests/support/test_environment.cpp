// On Windows each test deletes the settings tree of the one per-user registry, so the program
// runs only where the environment says that registry is a scratch one (a fresh Wine prefix).
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "platform/registry.h"
#include "platform/test_seam.h"
#ifdef _WIN32
#include "platform/win32/win32_api.h"
#include "settings/settings_store.h"
#endif

namespace vantrel::test {

namespace {
std::vector<std::string> tempDirs;

class FreshEnvironmentListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { UseFreshEnvironment(); }
    void OnTestEnd(const ::testing::TestInfo&) override { platform::testing::ClearFaults(); }
    // Here rather than at exit: forked children exit too, and must not take the folders.
    void OnTestProgramEnd(const ::testing::UnitTest&) override {
        std::error_code ignored;
        if (!getenv("VANTREL_KEEP_TEST_FILES"))
            for (const std::string& dir : tempDirs) std::filesystem::remove_all(dir, ignored);
    }
};

// Installs the listener before main's RUN_ALL_TESTS without a custom main.
const bool installed =
    (::testing::UnitTest::GetInstance()->listeners().Append(new FreshEnvironmentListener), true);
}  // namespace

std::string MakeTempDir(const std::string& tag) {
    namespace fs = std::filesystem;
    static std::mt19937 random{std::random_device{}()};
    std::error_code error;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path path =
            fs::temp_directory_path(error) / ("vantrel-" + tag + "-" + std::to_string(random()));
        if (fs::create_directory(path, error)) {
            fs::permissions(path, fs::perms::owner_all, error);  // private, as mkdtemp makes it
            return tempDirs.emplace_back(path.string());
        }
    }
    ADD_FAILURE() << "cannot create a temporary folder for " << tag << ": " << error.message();
    return ".";
}

void UseFreshEnvironment() {
#ifdef _WIN32
    if (!getenv("VANTREL_TEST_SCRATCH_REGISTRY")) {  // never a real user's registry
        fputs("Set VANTREL_TEST_SCRATCH_REGISTRY=1 in a scratch Wine prefix.\n", stderr);
        _exit(2);
    }
    const LSTATUS result = ::RegDeleteTreeA(HKEY_CURRENT_USER, kRootSubKey);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        ADD_FAILURE() << "cannot delete the settings tree: error " << result;
#else
    setenv("XDG_CONFIG_HOME", MakeTempDir("config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", MakeTempDir("runtime").c_str(), 1);
#endif
    platform::ReleaseRegistryStore();
    platform::testing::ClearFaults();
}

bool PathExists(const std::string& path) {
    std::error_code ignored;  // a link counts, whether or not it leads anywhere
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

}  // namespace vantrel::test
