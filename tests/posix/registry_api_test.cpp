// The registry calls of platform/registry.h on the POSIX store, as the settings code uses
// them: where the store lives, handle rights, the query contract, faults, descriptors,
// several threads and several processes, unwritable and corrupt stores.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/test_seam.h"
#include "registry_store.h"
#include "support/test_environment.h"
#include "support/unprivileged.h"

namespace vantrel::platform {
namespace {

using test::MakeTempDir;
using test::PathExists;
using test::ReadFile;
using test::WriteFile;

const char kSettingsKey[] = "Software\\Osmirel Systems\\Kelvra\\default settings\\proc\\log";

// Where the store of the current test lives (the listener points XDG_CONFIG_HOME at it).
std::string StorePath() {
    return RegistryStore::DefaultPath();
}

int OpenDescriptors() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (dirent* entry = readdir(folder)) count += entry->d_name[0] != '.';
    closedir(folder);
    return count;
}

long SetDword(const std::string& path, const char* name, uint32_t number) {
    RegKey key;
    long error = RegCreateKey(path, kKeyReadWrite, &key);
    if (error != kErrorSuccess) return error;
    error = RegSetValue(key, name, kRegDword, &number, sizeof number);
    RegCloseKey(key);
    return error;
}

// readSetting's pattern: open with all access, query into 4 bytes.
long ReadDword(const std::string& path, const char* name, uint32_t* number) {
    RegKey key;
    long error = RegOpenKey(path, kKeyAllAccess, &key);
    if (error != kErrorSuccess) return error;
    uint32_t size = sizeof *number;
    error = RegQueryValue(key, name, nullptr, number, &size);
    RegCloseKey(key);
    return error;
}

// Runs `check` in a child process (as `uid` when running as root and uid is not 0) and
// returns what it reported: "" when every expectation held.
std::string InChild(uid_t uid, const std::function<std::string()>& check) {
    ReleaseRegistryStore();  // nothing of the parent's connection crosses the fork
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        std::string report;
        if (uid != 0 && geteuid() == 0 && !test::DropPrivilegesTo(uid)) {
            report = "could not drop privileges";
        } else {
            report = check();
        }
        if (!report.empty() && write(channel[1], report.data(), report.size()) < 0) _exit(2);
        _exit(0);  // no static destructors: they belong to the parent
    }
    close(channel[1]);
    std::string report;
    char buffer[512];
    ssize_t n;
    while ((n = read(channel[0], buffer, sizeof buffer)) > 0) report.append(buffer, n);
    close(channel[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += " (child died)";
    return report;
}

#define CHILD_EXPECT_EQ(expected, actual)                                           \
    do {                                                                            \
        long got = (actual);                                                        \
        if (got != (expected)) {                                                    \
            report += std::string(#actual) + " gave " + std::to_string(got) + "; "; \
        }                                                                           \
    } while (0)

TEST(RegistryApi, StoreLivesInXdgConfigHomeWithPrivateModesWhateverTheUmask) {
    const mode_t previous = umask(0);
    const long created = SetDword("k", "v", 1);
    umask(previous);
    ASSERT_EQ(kErrorSuccess, created);
    struct stat info;
    ASSERT_EQ(0, stat(StorePath().c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);
    std::string folder = StorePath().substr(0, StorePath().rfind('/'));
    ASSERT_EQ(0, stat(folder.c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777);
}

TEST(RegistryApi, StoreFallsBackToHomeConfigAndReadsTheEnvironmentAtOpening) {
    std::string home = MakeTempDir("home");
    const char* homeVariable = getenv("HOME");
    std::string savedHome = homeVariable ? homeVariable : "";
    setenv("HOME", home.c_str(), 1);
    for (const char* config : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        if (config) {
            setenv("XDG_CONFIG_HOME", config, 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        ReleaseRegistryStore();
        EXPECT_EQ(kErrorSuccess, SetDword("k", "v", 1)) << (config ? config : "(unset)");
        EXPECT_TRUE(PathExists(home + "/.config/vantrel/registry.db"));
    }
    // Pointed elsewhere, the process keeps its connection until it lets go of it.
    std::string other = MakeTempDir("other");
    setenv("XDG_CONFIG_HOME", other.c_str(), 1);
    uint32_t number = 0;
    EXPECT_EQ(kErrorSuccess, ReadDword("k", "v", &number));
    ReleaseRegistryStore();
    EXPECT_EQ(kErrorFileNotFound, ReadDword("k", "v", &number));
    EXPECT_TRUE(PathExists(other + "/vantrel/registry.db"));
    setenv("HOME", savedHome.c_str(), 1);
}

TEST(RegistryApi, SettingsPatternsReadAndWrite) {
    uint32_t number = 0xFFFFFFFF;
    RegKey key = reinterpret_cast<RegKey>(1);
    EXPECT_EQ(kErrorFileNotFound, RegOpenKey(kSettingsKey, kKeyAllAccess, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(kErrorFileNotFound, ReadDword(kSettingsKey, "IndentSize", &number));
    EXPECT_EQ(0xFFFFFFFFu, number);

    ASSERT_EQ(kErrorSuccess, SetDword(kSettingsKey, "IndentSize", 3));
    ASSERT_EQ(kErrorSuccess, ReadDword(kSettingsKey, "INDENTSIZE", &number));
    EXPECT_EQ(3u, number);

    // writeLogFolderPath: REG_SZ without terminating zero; then read as the readers do.
    ASSERT_EQ(kErrorSuccess, RegCreateKey(kSettingsKey, kKeyReadWrite, &key));
    const std::string folder = "c:\\logs";
    ASSERT_EQ(kErrorSuccess, RegSetValue(key, "LogFolderPath", kRegSz, folder.data(),
                                         static_cast<uint32_t>(folder.size())));
    RegCloseKey(key);
    ASSERT_EQ(kErrorSuccess, RegOpenKey(kSettingsKey, kKeyAllAccess, &key));
    uint32_t type = 0, size = 0;
    ASSERT_EQ(kErrorSuccess, RegQueryValue(key, "LogFolderPath", &type, nullptr, &size));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(7u, size);
    // A string in a 4-byte DWORD read: more data, buffer untouched, the needed size.
    number = 0xFFFFFFFF;
    size = 4;
    EXPECT_EQ(kErrorMoreData, RegQueryValue(key, "LogFolderPath", nullptr, &number, &size));
    EXPECT_EQ(0xFFFFFFFFu, number);
    EXPECT_EQ(7u, size);
    // A buffer of exactly the size, and a larger one: the data, and its size.
    char text[256];
    memset(text, '#', sizeof text);
    size = 7;
    ASSERT_EQ(kErrorSuccess, RegQueryValue(key, "LogFolderPath", nullptr, text, &size));
    EXPECT_EQ(folder + "#", std::string(text, 8));
    size = sizeof text;
    ASSERT_EQ(kErrorSuccess, RegQueryValue(key, "LogFolderPath", nullptr, text, &size));
    EXPECT_EQ(folder, std::string(text, size));
    EXPECT_EQ(kErrorInvalidParameter, RegQueryValue(key, "LogFolderPath", nullptr, text, nullptr));
    EXPECT_EQ(kErrorSuccess, RegQueryValue(key, "LogFolderPath", nullptr, nullptr, nullptr));
    EXPECT_EQ(kErrorFileNotFound, RegQueryValue(key, "gone", nullptr, nullptr, &size));
    // Data shorter than the buffer replaces only its first bytes.
    const uint8_t two[2] = {0x05, 0x00};
    ASSERT_EQ(kErrorSuccess, RegSetValue(key, "Short", kRegBinary, two, 2));
    number = 0xFFFFFFFF;
    size = 4;
    ASSERT_EQ(kErrorSuccess, RegQueryValue(key, "Short", nullptr, &number, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(0xFFFF0005u, number);
    // A zero-length value, and the default value under both of its names.
    ASSERT_EQ(kErrorSuccess, RegSetValue(key, "Empty", kRegSz, nullptr, 0));
    size = 4;
    ASSERT_EQ(kErrorSuccess, RegQueryValue(key, "Empty", &type, &number, &size));
    EXPECT_EQ(0u, size);
    ASSERT_EQ(kErrorSuccess, RegSetValue(key, nullptr, kRegSz, "d", 1));
    size = sizeof text;
    ASSERT_EQ(kErrorSuccess, RegQueryValue(key, "", nullptr, text, &size));
    EXPECT_EQ("d", std::string(text, size));
    EXPECT_EQ(kErrorInvalidParameter, RegSetValue(key, "x", kRegSz, nullptr, 3));
    RegCloseKey(key);
    RegCloseKey(nullptr);
}

TEST(RegistryApi, HandlesKeepTheirRights) {
    RegKey writer, reader;
    // The Identifier write: KEY_WRITE may set but not query, as on Windows.
    ASSERT_EQ(kErrorSuccess, RegCreateKey("c:/tools/viewer.exe\\proc1", kKeyWrite, &writer));
    ASSERT_EQ(kErrorSuccess, RegSetValue(writer, "Identifier", kRegSz, "0x12c", 5));
    uint32_t size = 0;
    EXPECT_EQ(kErrorAccessDenied, RegQueryValue(writer, "Identifier", nullptr, nullptr, &size));
    ASSERT_EQ(kErrorSuccess, RegOpenKey("C:/TOOLS/VIEWER.EXE\\PROC1", kKeyRead, &reader));
    EXPECT_EQ(kErrorSuccess, RegQueryValue(reader, "identifier", nullptr, nullptr, &size));
    EXPECT_EQ(5u, size);
    EXPECT_EQ(kErrorAccessDenied, RegSetValue(reader, "Identifier", kRegSz, "x", 1));
    RegCloseKey(writer);
    RegCloseKey(reader);
    EXPECT_EQ(kErrorInvalidHandle, RegQueryValue(nullptr, "x", nullptr, nullptr, &size));
    EXPECT_EQ(kErrorInvalidHandle, RegSetValue(nullptr, "x", kRegSz, "x", 1));
    EXPECT_EQ(kErrorInvalidParameter, RegOpenKey("x", kKeyRead, nullptr));
    EXPECT_EQ(kErrorBadPathname, RegCreateKey("\\x", kKeyReadWrite, &writer));
}

TEST(RegistryApi, AHandleOutlivesItsKeyAndTheConnection) {
    RegKey key;
    ASSERT_EQ(kErrorSuccess, RegCreateKey("doomed\\key", kKeyAllAccess, &key));
    ReleaseRegistryStore();  // handles hold ids, not the connection
    ASSERT_EQ(kErrorSuccess, RegSetValue(key, "v", kRegSz, "1", 1));
    {
        RegistryStore other;  // another program deletes the key meanwhile
        ASSERT_EQ(kErrorSuccess, other.Open(StorePath(), RegistryStore::Mode::ReadWrite));
        int64_t id;
        ASSERT_EQ(kErrorSuccess, other.OpenKey("doomed", &id));
        ASSERT_EQ(kErrorSuccess, other.DeleteTree(id));
    }
    EXPECT_EQ(kErrorKeyDeleted, RegSetValue(key, "v", kRegSz, "2", 1));
    uint32_t size = 0;
    EXPECT_EQ(kErrorFileNotFound, RegQueryValue(key, "v", nullptr, nullptr, &size));
    RegCloseKey(key);
}

TEST(RegistryApi, FaultSeamFailsEachOperationOnce) {
    RegKey key;
    testing::FailAfter(testing::Fault::RegistryCreate, 0);
    EXPECT_EQ(kErrorAccessDenied, RegCreateKey("k", kKeyReadWrite, &key));
    ASSERT_EQ(kErrorSuccess, RegCreateKey("k", kKeyReadWrite, &key));

    testing::FailAfter(testing::Fault::RegistrySet, 1);  // the second write fails
    uint32_t number = 7;
    EXPECT_EQ(kErrorSuccess, RegSetValue(key, "a", kRegDword, &number, 4));
    EXPECT_EQ(kErrorAccessDenied, RegSetValue(key, "b", kRegDword, &number, 4));
    EXPECT_EQ(kErrorSuccess, RegSetValue(key, "b", kRegDword, &number, 4));

    testing::FailAfter(testing::Fault::RegistryQuery, 0);
    uint32_t size = 4;
    EXPECT_EQ(kErrorAccessDenied, RegQueryValue(key, "a", nullptr, &number, &size));
    EXPECT_EQ(kErrorSuccess, RegQueryValue(key, "a", nullptr, &number, &size));
    RegCloseKey(key);

    testing::FailAfter(testing::Fault::RegistryOpen, 0, -1);  // every opening, until cleared
    EXPECT_EQ(kErrorAccessDenied, RegOpenKey("k", kKeyRead, &key));
    EXPECT_EQ(kErrorAccessDenied, RegOpenKey("k", kKeyRead, &key));
    testing::ClearFaults();
    ASSERT_EQ(kErrorSuccess, RegOpenKey("k", kKeyRead, &key));
    RegCloseKey(key);
}

TEST(RegistryApi, ReleaseLeavesNoDescriptorOpen) {
    ReleaseRegistryStore();
    int before = OpenDescriptors();
    ASSERT_EQ(kErrorSuccess, SetDword("k", "v", 1));  // writes: the journal came and went
    uint32_t number;
    ASSERT_EQ(kErrorSuccess, ReadDword("k", "v", &number));
    EXPECT_GT(OpenDescriptors(), before);  // the connection is open...
    ReleaseRegistryStore();
    EXPECT_EQ(before, OpenDescriptors());                    // ...and closed without a trace
    ReleaseRegistryStore();                                  // twice is harmless
    ASSERT_EQ(kErrorSuccess, ReadDword("k", "v", &number));  // and it opens again
    EXPECT_EQ(1u, number);
}

TEST(RegistryApi, ThreadsShareTheConnection) {
    constexpr int kThreads = 6;
    constexpr int kRounds = 100;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            std::string path = "threads\\t" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                uint32_t number = 0;
                if (SetDword(path, "n", static_cast<uint32_t>(i)) != kErrorSuccess ||
                    ReadDword(path, "N", &number) != kErrorSuccess ||
                    number != static_cast<uint32_t>(i)) {
                    ++failures[t];
                }
                if (i == kRounds / 2 && t == 0) ReleaseRegistryStore();  // under the others' feet
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(0, failures[t]) << "thread " << t;
}

TEST(RegistryApi, ProcessesCreatingAFreshStoreAtOnceAllSucceed) {
    ReleaseRegistryStore();
    constexpr int kProcesses = 4;
    int go[2];
    ASSERT_EQ(0, pipe(go));
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        if (pid == 0) {
            close(go[1]);
            char byte;
            if (read(go[0], &byte, 1) != 0) _exit(3);  // start together when the pipe closes
            int failed = 0;
            // A few writes each: the point is the fresh store, and every commit of a
            // rollback journal costs fsyncs that the others wait for.
            for (int i = 0; i < 4; ++i) {
                failed += SetDword(kSettingsKey, ("p" + std::to_string(p)).c_str(), i) != 0;
                failed += SetDword(kSettingsKey, "shared", 5) != 0;
            }
            _exit(failed == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    uint32_t number;
    for (int p = 0; p < kProcesses; ++p) {
        ASSERT_EQ(kErrorSuccess,
                  ReadDword(kSettingsKey, ("p" + std::to_string(p)).c_str(), &number));
        EXPECT_EQ(3u, number);
    }
    ASSERT_EQ(kErrorSuccess, ReadDword(kSettingsKey, "shared", &number));
    EXPECT_EQ(5u, number);
}

TEST(RegistryApi, AForkedChildOpensItsOwnConnection) {
    ASSERT_EQ(kErrorSuccess, SetDword("k", "v", 1));  // the parent's connection is open
    int before = OpenDescriptors();
    pid_t pid = fork();
    if (pid == 0) {
        uint32_t number = 0;
        bool ok = ReadDword("k", "v", &number) == kErrorSuccess && number == 1 &&
                  SetDword("k", "v", 2) == kErrorSuccess;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    uint32_t number = 0;
    ASSERT_EQ(kErrorSuccess, ReadDword("k", "v", &number));
    EXPECT_EQ(2u, number);
    EXPECT_EQ(before, OpenDescriptors());
}

// The store made by root, used by a user who may not write it: the real thing, not a mode
// bit that root would ignore.
class UnwritableStore : public ::testing::Test {
  protected:
    void SetUp() override {
        config_ = StorePath().substr(0, StorePath().rfind("/vantrel/"));
        ASSERT_EQ(kErrorSuccess, SetDword("present", "v", 4));
        ReleaseRegistryStore();
        folder_ = config_ + "/vantrel";
        file_ = folder_ + "/registry.db";
        chmod(config_.c_str(), 0755);          // the child must reach the store
        if (geteuid() != 0) uid_ = geteuid();  // without root, the modes hold for us as well
    }

    std::string ReadOnlyChecks() {
        return InChild(uid_, [] {
            std::string report;
            RegKey key = nullptr;
            uint32_t number = 0;
            CHILD_EXPECT_EQ(kErrorSuccess, ReadDwordWithRights("present", kKeyRead, &number));
            CHILD_EXPECT_EQ(4, number);
            // Every write path refuses: all access, write access, creation of a new or an
            // existing key. readSetting's all-access read therefore reads as missing.
            CHILD_EXPECT_EQ(kErrorAccessDenied, RegOpenKey("present", kKeyAllAccess, &key));
            CHILD_EXPECT_EQ(kErrorAccessDenied, RegOpenKey("present", kKeyWrite, &key));
            CHILD_EXPECT_EQ(kErrorAccessDenied, RegCreateKey("present", kKeyReadWrite, &key));
            CHILD_EXPECT_EQ(kErrorAccessDenied, RegCreateKey("new", kKeyWrite, &key));
            CHILD_EXPECT_EQ(kErrorFileNotFound, RegOpenKey("absent", kKeyRead, &key));
            if (key) report += "a handle came back from a failure; ";
            ReleaseRegistryStore();
            return report;
        });
    }

    static long ReadDwordWithRights(const char* path, uint32_t rights, uint32_t* number) {
        RegKey key;
        long error = RegOpenKey(path, rights, &key);
        if (error != kErrorSuccess) return error;
        uint32_t size = 4;
        error = RegQueryValue(key, "v", nullptr, number, &size);
        RegCloseKey(key);
        return error;
    }

    std::string config_, folder_, file_;
    uid_t uid_ = test::kUnprivilegedId;
};

TEST_F(UnwritableStore, ReadOnlyFileCanBeReadButNotWritten) {
    chmod(folder_.c_str(), 0777);
    chmod(file_.c_str(), 0644);
    EXPECT_EQ("", ReadOnlyChecks());
}

TEST_F(UnwritableStore, UnwritableFolderCanBeReadButNotWritten) {
    // The file itself is writable, but the rollback journal could not be made beside it.
    chmod(folder_.c_str(), 0755);
    chmod(file_.c_str(), 0666);
    EXPECT_EQ("", ReadOnlyChecks());
}

TEST_F(UnwritableStore, UnreadableStoreRefusesEverything) {
    chmod(folder_.c_str(), 0755);
    chmod(file_.c_str(), 0600);  // root's private file
    std::string report = InChild(uid_, [] {
        std::string report;
        RegKey key;
        uint32_t number;
        CHILD_EXPECT_EQ(kErrorAccessDenied, ReadDwordWithRights("present", kKeyRead, &number));
        CHILD_EXPECT_EQ(kErrorAccessDenied, RegOpenKey("present", kKeyAllAccess, &key));
        CHILD_EXPECT_EQ(kErrorAccessDenied, RegCreateKey("present", kKeyReadWrite, &key));
        return report;
    });
    EXPECT_EQ("", report);
}

TEST_F(UnwritableStore, MissingStoreInAnUnwritableFolder) {
    chmod(folder_.c_str(), 0755);
    unlink(file_.c_str());
    std::string report = InChild(uid_, [] {
        std::string report;
        RegKey key;
        CHILD_EXPECT_EQ(kErrorFileNotFound, RegOpenKey("present", kKeyRead, &key));
        CHILD_EXPECT_EQ(kErrorAccessDenied, RegOpenKey("present", kKeyAllAccess, &key));
        CHILD_EXPECT_EQ(kErrorAccessDenied, RegCreateKey("present", kKeyReadWrite, &key));
        return report;
    });
    EXPECT_EQ("", report);
    EXPECT_FALSE(PathExists(file_));
}

TEST(RegistryApi, ACorruptStoreFailsEveryCallCleanly) {
    ASSERT_EQ(kErrorSuccess, SetDword("k", "v", 1));
    ReleaseRegistryStore();
    const std::string garbage(10000, '\x5A');
    WriteFile(StorePath(), garbage);
    RegKey key = nullptr;
    uint32_t number;
    EXPECT_EQ(kErrorRegistryCorrupt, RegOpenKey("k", kKeyRead, &key));
    EXPECT_EQ(kErrorRegistryCorrupt, RegOpenKey("k", kKeyAllAccess, &key));
    EXPECT_EQ(kErrorRegistryCorrupt, RegCreateKey("k", kKeyReadWrite, &key));
    EXPECT_EQ(kErrorRegistryCorrupt, ReadDword(kSettingsKey, "IndentSize", &number));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(garbage, ReadFile(StorePath()));  // left as found, for the user to look at

    // Mended (here: removed), the store works again without a restart.
    unlink(StorePath().c_str());
    EXPECT_EQ(kErrorSuccess, SetDword("k", "v", 1));
}

TEST(RegistryApi, ATruncatedStoreFailsCleanly) {
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(kErrorSuccess, SetDword("k" + std::to_string(i), "v", i));
    ReleaseRegistryStore();
    std::string bytes = ReadFile(StorePath());
    WriteFile(StorePath(), bytes.substr(0, bytes.size() / 3));
    int failures = 0;
    for (int i = 0; i < 200; ++i) {
        uint32_t number;
        long error = ReadDword("k" + std::to_string(i), "v", &number);
        failures += error != kErrorSuccess;
        if (error != kErrorSuccess && error != kErrorFileNotFound) {
            EXPECT_EQ(kErrorRegistryCorrupt, error);
        }
    }
    EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace vantrel::platform
