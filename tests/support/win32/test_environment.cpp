// The Windows variant of the test environment. Windows has one registry per user and the
// settings root is fixed, so every test starts by deleting the settings tree. That would
// destroy a real user's settings: the program refuses to run unless the environment says the
// registry is a scratch one (a fresh Wine prefix in scripts/test-windows.sh).
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/registry.h"
#include "platform/test_seam.h"
#include "settings/settings_store.h"
#include "win32_api.h"

namespace vantrel::test {

namespace {

constexpr char kScratchRegistryVariable[] = "VANTREL_TEST_SCRATCH_REGISTRY";

std::vector<std::string>& TempDirs() {
    static std::vector<std::string> dirs;
    return dirs;
}

// Deletes a folder with everything in it. std::filesystem is not used here: this runs during
// static destruction, after the C runtime's locale data that its path conversion needs.
void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::DeleteFileA(path.c_str());
            }
        } while (::FindNextFileA(search, &entry));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(folder.c_str());
}

struct TempDirCleaner {
    // Reaching the list first makes it outlive this object.
    TempDirCleaner() { TempDirs(); }
    ~TempDirCleaner() {
        if (getenv("VANTREL_KEEP_TEST_FILES")) return;
        for (const std::string& dir : TempDirs()) RemoveTree(dir);
    }
} cleaner;

void DeleteSettingsTree() {
    const LSTATUS result = ::RegDeleteTreeA(HKEY_CURRENT_USER, kRootSubKey);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        ADD_FAILURE() << "cannot delete the settings tree: error " << result;
}

class FreshEnvironmentListener : public ::testing::EmptyTestEventListener {
    void OnTestProgramStart(const ::testing::UnitTest&) override {
        if (getenv(kScratchRegistryVariable)) return;
        fprintf(stderr,
                "These tests delete HKEY_CURRENT_USER\\%s before each test. Run them in a "
                "scratch registry (a fresh Wine prefix) with %s=1 set.\n",
                kRootSubKey, kScratchRegistryVariable);
        fflush(stderr);
        _exit(2);
    }
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
    char base[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof base, base);
    if (length == 0 || length > MAX_PATH) {
        ADD_FAILURE() << "GetTempPathA failed";
        return ".";
    }
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        snprintf(name, sizeof name, "vantrel-%lu-%u", ::GetCurrentProcessId(), ++counter);
        std::string path = std::string(base) + name + "-" + tag;
        if (::CreateDirectoryA(path.c_str(), nullptr)) {
            TempDirs().push_back(path);
            return path;
        }
    }
    ADD_FAILURE() << "cannot create a temporary folder for " << tag;
    return ".";
}

void UseFreshEnvironment() {
    DeleteSettingsTree();
    platform::ReleaseRegistryStore();
    platform::testing::ClearFaults();
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace vantrel::test
