#include "support/test_environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/registry.h"
#include "platform/test_seam.h"

namespace vantrel::test {

namespace {
// Never destroyed: the cleaner below reads it at exit, after function-local statics go.
std::vector<std::string>& TempDirs() {
    static auto* dirs = new std::vector<std::string>;
    return *dirs;
}

struct TempDirCleaner {
    ~TempDirCleaner() {
        if (getenv("VANTREL_KEEP_TEST_FILES")) return;
        std::error_code ignored;
        for (const std::string& dir : TempDirs()) std::filesystem::remove_all(dir, ignored);
    }
} cleaner;

class FreshEnvironmentListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { UseFreshEnvironment(); }
    void OnTestEnd(const ::testing::TestInfo&) override { platform::testing::ClearFaults(); }
};

// Installs the listener before main's RUN_ALL_TESTS without a custom main.
struct ListenerInstaller {
    ListenerInstaller() {
        ::testing::UnitTest::GetInstance()->listeners().Append(new FreshEnvironmentListener);
    }
} installer;
}  // namespace

std::string MakeTempDir(const std::string& tag) {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base && *base ? base : "/tmp") + "/vantrel-" + tag + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
        return "/tmp";
    }
    TempDirs().emplace_back(buffer.data());
    return buffer.data();
}

void UseFreshEnvironment() {
    std::string config = MakeTempDir("config");
    std::string runtime = MakeTempDir("runtime");
    chmod(runtime.c_str(), 0700);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    platform::ReleaseRegistryStore();
    platform::testing::ClearFaults();
}

bool PathExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace vantrel::test
