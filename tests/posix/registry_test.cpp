// The settings store: the database class the editor uses, and the registry calls the library
// makes on it, under odd paths, several users, threads, processes and damage.
#include "platform/registry.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "registry_store.h"
#include "support/test_environment.h"
#include "support/unprivileged.h"

namespace vantrel::platform {
namespace {

using test::MakeTempDir;
using test::PathExists;
using test::ReadFile;
using test::WriteFile;
using Mode = RegistryStore::Mode;

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
    if (error == kErrorSuccess) error = RegSetValue(key, name, kRegDword, &number, 4);
    RegCloseKey(key);
    return error;
}

// The library's read: open with the given rights, query into 4 bytes.
long ReadDword(const std::string& path, const char* name, uint32_t* number,
               uint32_t rights = kKeyAllAccess) {
    RegKey key;
    long error = RegOpenKey(path, rights, &key);
    if (error != kErrorSuccess) return error;
    uint32_t size = 4;
    error = RegQueryValue(key, name, nullptr, number, &size);
    RegCloseKey(key);
    return error;
}

// Runs `work` in a forked child (as `uid` when root and uid is not 0); what it printed.
std::string InChild(uid_t uid, const std::function<std::string()>& work) {
    ReleaseRegistryStore();  // nothing of the parent's connection crosses the fork
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        std::string report = uid != 0 && geteuid() == 0 && !test::DropPrivilegesTo(uid)
                                 ? "could not drop privileges"
                                 : work();
        if (write(channel[1], report.data(), report.size()) < 0) _exit(2);
        _exit(0);  // the parent's static destructors are not ours to run
    }
    close(channel[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    close(channel[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? report : report + " (child died)";
}

TEST(RegistryCalls, StoreIsPrivateWhateverTheUmaskAndFollowsTheEnvironmentAtOpening) {
    const mode_t previous = umask(0);
    const long created = SetDword("k", "v", 1);
    umask(previous);
    ASSERT_EQ(kErrorSuccess, created);
    const std::string path = RegistryStore::DefaultPath();
    struct stat info;
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);
    ASSERT_EQ(0, stat(path.substr(0, path.rfind('/')).c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777);

    // Unset, empty or relative XDG_CONFIG_HOME: HOME's .config, never a relative folder.
    const std::string home = MakeTempDir("home"), savedHome = getenv("HOME");
    setenv("HOME", home.c_str(), 1);
    for (const char* config : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        config ? setenv("XDG_CONFIG_HOME", config, 1) : unsetenv("XDG_CONFIG_HOME");
        ReleaseRegistryStore();
        EXPECT_EQ(kErrorSuccess, SetDword("k", "v", 1)) << (config ? config : "(unset)");
        EXPECT_TRUE(PathExists(home + "/.config/vantrel/registry.db"));
    }
    setenv("HOME", savedHome.c_str(), 1);
    // Pointed elsewhere, the process keeps its connection until it lets go of it.
    const std::string other = MakeTempDir("other");
    setenv("XDG_CONFIG_HOME", other.c_str(), 1);
    uint32_t number = 0;
    EXPECT_EQ(kErrorSuccess, ReadDword("k", "v", &number));
    ReleaseRegistryStore();
    EXPECT_EQ(kErrorFileNotFound, ReadDword("k", "v", &number));
}

// The query contract the settings readers rely on: each row a misreported size or a buffer
// written where it must stay untouched.
TEST(RegistryCalls, QueryReportsSizesAndFillsOnlyBuffersThatFit) {
    RegKey key;
    ASSERT_EQ(kErrorSuccess, RegCreateKey("Software\\K", kKeyReadWrite, &key));
    ASSERT_EQ(kErrorSuccess, RegSetValue(key, "Folder", kRegSz, "c:\\logs", 7));  // no zero
    ASSERT_EQ(kErrorSuccess, RegSetValue(key, "Short", kRegBinary, "\x05", 1));
    ASSERT_EQ(kErrorSuccess, RegSetValue(key, "Empty", kRegSz, nullptr, 0));
    ASSERT_EQ(kErrorSuccess, RegSetValue(key, nullptr, kRegSz, "d", 1));
    EXPECT_EQ(kErrorInvalidParameter, RegSetValue(key, "x", kRegSz, nullptr, 3));
    RegCloseKey(key);
    ASSERT_EQ(kErrorSuccess, RegOpenKey("SOFTWARE\\k", kKeyAllAccess, &key));
    const struct {
        const char* fault;
        const char* name;
        uint32_t bufferSize;  // 0: no buffer
        long error;
        uint32_t size;
        std::string buffer;  // the first 8 bytes afterwards ('#' untouched)
    } rows[] = {
        {"size of a string not reported", "FOLDER", 0, kErrorSuccess, 7, "########"},
        {"a string read into a DWORD", "Folder", 4, kErrorMoreData, 7, "########"},
        {"an exact buffer refused or overrun", "Folder", 7, kErrorSuccess, 7, "c:\\logs#"},
        {"a large buffer's size kept", "Folder", 256, kErrorSuccess, 7, "c:\\logs#"},
        {"short data not at the start", "Short", 4, kErrorSuccess, 1, "\x05#######"},
        {"an empty value not found", "Empty", 4, kErrorSuccess, 0, "########"},
        {"the default value not under \"\"", "", 4, kErrorSuccess, 1, "d#######"},
        {"a missing value found", "gone", 4, kErrorFileNotFound, 4, "########"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        std::string buffer(256, '#');
        uint32_t type = 99, size = row.bufferSize;
        EXPECT_EQ(row.error, RegQueryValue(key, row.name, &type,
                                           row.bufferSize ? &buffer[0] : nullptr, &size));
        EXPECT_EQ(row.size, size);
        EXPECT_EQ(row.buffer, buffer.substr(0, 8));
    }
    char text[8];
    EXPECT_EQ(kErrorInvalidParameter, RegQueryValue(key, "Folder", nullptr, text, nullptr));
    RegCloseKey(key);
}

TEST(RegistryCalls, HandlesKeepTheirRightsAndOutliveTheirKey) {
    RegKey writer, reader, doomed;
    uint32_t size = 0;
    ASSERT_EQ(kErrorSuccess, RegCreateKey("c:/tools/viewer.exe\\proc1", kKeyWrite, &writer));
    ASSERT_EQ(kErrorSuccess, RegSetValue(writer, "Identifier", kRegSz, "0x12c", 5));
    EXPECT_EQ(kErrorAccessDenied, RegQueryValue(writer, "Identifier", nullptr, nullptr, &size));
    ASSERT_EQ(kErrorSuccess, RegOpenKey("C:/TOOLS/VIEWER.EXE\\PROC1", kKeyRead, &reader));
    EXPECT_EQ(kErrorSuccess, RegQueryValue(reader, "identifier", nullptr, nullptr, &size));
    EXPECT_EQ(kErrorAccessDenied, RegSetValue(reader, "Identifier", kRegSz, "x", 1));
    RegCloseKey(writer);
    RegCloseKey(reader);
    EXPECT_EQ(kErrorInvalidHandle, RegSetValue(nullptr, "x", kRegSz, "x", 1));
    EXPECT_EQ(kErrorBadPathname, RegCreateKey("\\x", kKeyReadWrite, &writer));

    ASSERT_EQ(kErrorSuccess, RegCreateKey("doomed\\key", kKeyAllAccess, &doomed));
    ReleaseRegistryStore();  // handles hold ids, not the connection
    ASSERT_EQ(kErrorSuccess, RegSetValue(doomed, "v", kRegSz, "1", 1));
    {
        RegistryStore other;  // another program deletes the key meanwhile
        int64_t id;
        ASSERT_EQ(kErrorSuccess, other.Open(RegistryStore::DefaultPath(), Mode::ReadWrite));
        ASSERT_EQ(kErrorSuccess, other.OpenKey("doomed", &id));
        ASSERT_EQ(kErrorSuccess, other.DeleteTree(id));
    }
    EXPECT_EQ(kErrorKeyDeleted, RegSetValue(doomed, "v", kRegSz, "2", 1));
    EXPECT_EQ(kErrorFileNotFound, RegQueryValue(doomed, "v", nullptr, nullptr, &size));
    RegCloseKey(doomed);
}

TEST(RegistryCalls, ThreadsForksAndProcessesShareTheStoreWithoutLeaks) {
    ReleaseRegistryStore();
    const int before = OpenDescriptors();
    std::vector<std::thread> threads;
    std::vector<int> failures(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string path = "threads\\t" + std::to_string(t);
            for (uint32_t i = 0; i < 100; ++i) {
                uint32_t number = 0;
                failures[t] += SetDword(path, "n", i) != kErrorSuccess ||
                               ReadDword(path, "N", &number) != kErrorSuccess || number != i;
                if (i == 50 && t == 0) ReleaseRegistryStore();  // under the others' feet
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(6, 0));
    // A forked child opens a connection of its own, and the parent's stays usable.
    EXPECT_EQ("", InChild(0, [] { return SetDword("k", "v", 2) == 0 ? "" : "child failed"; }));
    uint32_t number = 0;
    ASSERT_EQ(kErrorSuccess, ReadDword("k", "v", &number));
    EXPECT_EQ(2u, number);
    ReleaseRegistryStore();
    EXPECT_EQ(before, OpenDescriptors());

    // Processes creating a fresh store at the same moment all succeed.
    test::UseFreshEnvironment();
    int go[2];
    ASSERT_EQ(0, pipe(go));
    std::vector<pid_t> children;
    for (int p = 0; p < 4; ++p) {
        if (pid_t pid = fork(); pid != 0) {
            children.push_back(pid);
            continue;
        }
        close(go[1]);
        char byte;
        if (read(go[0], &byte, 1) != 0) _exit(3);  // all start when the pipe closes
        int failed = 0;
        for (uint32_t i = 0; i < 4; ++i)
            failed += SetDword("shared", ("p" + std::to_string(p)).c_str(), i) != 0;
        _exit(failed);
    }
    close(go[0]);
    close(go[1]);
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(kErrorSuccess, ReadDword("shared", ("p" + std::to_string(p)).c_str(), &number));
        EXPECT_EQ(3u, number);
    }
}

// A store made by root and used by a user who may not write it (real modes, not root's).
TEST(RegistryCalls, UnwritableStoresReadButRefuseEveryWrite) {
    const struct {
        const char* fault;
        mode_t folder, file;  // file 0: removed
        const char* results;  // read, all access, create existing, create new, open absent
    } rows[] = {
        {"read-only file written", 0777, 0644, "v4 5 5 5 2"},
        {"journal-less folder written", 0755, 0666, "v4 5 5 5 2"},
        {"another user's private store read", 0755, 0600, "5 5 5 5 5"},
        {"a missing store made where it cannot be", 0755, 0, "2 5 5 5 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        test::UseFreshEnvironment();
        ASSERT_EQ(kErrorSuccess, SetDword("present", "v", 4));
        ReleaseRegistryStore();
        const std::string file = RegistryStore::DefaultPath();
        const std::string folder = file.substr(0, file.rfind('/'));
        chmod(folder.substr(0, folder.rfind('/')).c_str(), 0755);
        chmod(folder.c_str(), row.folder);
        row.file ? chmod(file.c_str(), row.file) : unlink(file.c_str());
        const uid_t uid = geteuid() == 0 ? test::kUnprivilegedId : geteuid();
        EXPECT_EQ(row.results, InChild(uid, [] {
                      RegKey key = nullptr;
                      uint32_t number = 0;
                      const long read = ReadDword("present", "v", &number, kKeyRead);
                      std::string out = read ? std::to_string(read) : "v" + std::to_string(number);
                      for (long error : {RegOpenKey("present", kKeyAllAccess, &key),
                                         RegCreateKey("present", kKeyReadWrite, &key),
                                         RegCreateKey("new", kKeyWrite, &key),
                                         RegOpenKey("absent", kKeyRead, &key)})
                          out += " " + std::to_string(error);
                      return key ? out + " (a handle from a failure)" : out;
                  }));
        EXPECT_EQ(row.file != 0, PathExists(file));
    }
}

// Damage: every call fails as corrupt or works; the file is left as found for the user.
TEST(RegistryCalls, DamagedStoresFailCleanlyAndAreNotWrittenOver) {
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(kErrorSuccess, SetDword("k" + std::to_string(i), "v", i));
    ReleaseRegistryStore();
    const std::string path = RegistryStore::DefaultPath(), intact = ReadFile(path);
    std::string scribbled = intact;
    for (size_t i = 4096; i < scribbled.size(); ++i) scribbled[i] = static_cast<char>(i * 7 + 3);
    for (const std::string& damaged :
         {std::string(10000, 'Z'), intact.substr(0, intact.size() / 3), scribbled}) {
        WriteFile(path, damaged);
        ReleaseRegistryStore();
        int failures = 0;
        for (int i = 0; i < 200; ++i) {
            uint32_t number;
            const std::string name = "k" + std::to_string(i);
            for (long error : {ReadDword(name, "v", &number), SetDword(name, "v", 1)}) {
                failures += error != kErrorSuccess;
                if (error != kErrorSuccess && error != kErrorFileNotFound) {
                    EXPECT_EQ(kErrorRegistryCorrupt, error);
                }
            }
        }
        EXPECT_GT(failures, 0);
    }
    WriteFile(path, std::string(10000, 'Z'));
    ReleaseRegistryStore();
    RegKey key = nullptr;
    EXPECT_EQ(kErrorRegistryCorrupt, RegCreateKey("k", kKeyReadWrite, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(std::string(10000, 'Z'), ReadFile(path));
    unlink(path.c_str());  // mended: works again without a restart
    EXPECT_EQ(kErrorSuccess, SetDword("k", "v", 1));
}

class Store : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kErrorSuccess, store.Open(path, Mode::ReadWrite)); }
    int64_t Create(const std::string& key) {
        int64_t id = 0;
        EXPECT_EQ(kErrorSuccess, store.CreateKey(key, &id)) << key;
        return id;
    }
    std::string Names(int64_t key) {
        std::vector<RegistryStore::SubKey> subKeys;
        EXPECT_EQ(kErrorSuccess, store.EnumSubKeys(key, &subKeys));
        std::string names;
        for (const auto& subKey : subKeys) names += subKey.name + "|";
        return names;
    }
    long Open(const std::string& key) {
        int64_t id;
        return store.OpenKey(key, &id);
    }

    std::string path = MakeTempDir("store") + "/vantrel/registry.db";
    RegistryStore store;
};

TEST_F(Store, KeyNamesFoldAsciiCaseOnlyAndKeepTheirStoredCase) {
    using namespace std::string_literals;
    const struct {
        const char* fault;
        std::vector<std::string> create;
        const char* open;
        long error;
        const char* path;  // the stored path of the key opened
    } rows[] = {
        {"doubled or trailing separators made empty keys", {"d\\\\e\\"}, "d\\e", 0, "d\\e"},
        {"case of the parents not kept",
         {"Software\\MyApp", "software\\MYAPP\\Sub"},
         "SOFTWARE\\myapp\\sub",
         0,
         "Software\\MyApp\\Sub"},
        {"'/' taken as a separator",
         {"K\\c:/tools/v.exe\\p1"},
         "k\\C:/TOOLS/V.EXE\\P1",
         0,
         "K\\c:/tools/v.exe\\p1"},
        {"'/' taken as a separator when opening", {}, "K\\c:", kErrorFileNotFound, ""},
        {"a leading separator dropped", {"\\lead"}, "lead", kErrorFileNotFound, ""},
        {"a leading separator opened", {}, "\\K", kErrorBadPathname, ""},
        {"a name cut at a NUL", {"nul\0x"s}, "nul", kErrorFileNotFound, ""},
        {"non-ASCII letters folded", {"\xC4pfel"}, "\xE4pfel", kErrorFileNotFound, ""},
        {"\"\" not the root", {}, "", 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        int64_t id = -1;
        for (const std::string& key : row.create) store.CreateKey(key, &id);
        ASSERT_EQ(row.error, store.OpenKey(row.open, &id));
        std::string stored;
        if (row.error == 0) {
            EXPECT_EQ(kErrorSuccess, store.KeyPath(id, &stored));
        }
        EXPECT_EQ(row.path, stored);
    }
    EXPECT_EQ("d|K|Software|\xC4pfel|", Names(RegistryStore::kRootKey));
}

TEST_F(Store, EnumerationDeletionAndValuesKeepWindowsOrderAndBytes) {
    for (const char* name : {"b", "_x", "A", "C", "a]"}) Create("E\\" + std::string(name));
    // Upper-cased comparison: "_" (0x5F) and "]" (0x5D) follow "Z".
    EXPECT_EQ("A|a]|b|C|_x|", Names(Create("E")));

    const int64_t doomed = Create("Root\\a"), below = Create("Root\\A\\B\\c");
    ASSERT_EQ(kErrorSuccess, store.SetValue(below, "w", kRegSz, "2", 1));
    const char* neighbours[] = {"Root\\ab", "Root\\a b", "Root\\a]", "Root\\a[", "Root\\b\\a"};
    for (const char* name : neighbours) Create(name);
    ASSERT_EQ(kErrorSuccess, store.DeleteTree(doomed));
    EXPECT_EQ(kErrorFileNotFound, Open("root\\a\\b"));
    for (const char* name : neighbours) EXPECT_EQ(kErrorSuccess, Open(name)) << name;
    const int64_t again = Create("Root\\a\\B\\c");
    EXPECT_NE(below, again);  // ids are never reused: a stale handle reaches nothing
    EXPECT_EQ(kErrorKeyDeleted, store.SetValue(doomed, "v", kRegSz, "x", 1));
    EXPECT_EQ(kErrorFileNotFound, store.QueryValue(again, "w", nullptr, nullptr, nullptr));
    EXPECT_EQ(kErrorAccessDenied, store.DeleteTree(RegistryStore::kRootKey));

    // Type and bytes exactly; a replaced value keeps name and place, a deleted one goes last.
    const int64_t key = Create("v");
    const std::string binary("\x00\x01\xFF\x00", 4);
    for (auto [name, type, data] :
         {std::tuple<const char*, uint32_t, std::string>{"First", kRegBinary, binary},
          {"Second", kRegSz, "c:\\logs"},
          {"FIRST", 0xFFFFFFFFu, binary + "x"},
          {"", kRegNone, ""}})
        ASSERT_EQ(kErrorSuccess, store.SetValue(key, name, type, data.data(), data.size()));
    std::vector<RegistryStore::Value> values;
    ASSERT_EQ(kErrorSuccess, store.EnumValues(key, &values));
    ASSERT_EQ(3u, values.size());
    EXPECT_EQ("First", values[0].name);
    EXPECT_EQ(0xFFFFFFFFu, values[0].type);
    EXPECT_EQ(binary + "x", values[0].data);
    EXPECT_EQ("c:\\logs", values[1].data);
    EXPECT_EQ(kErrorSuccess, store.DeleteValue(key, "first"));
    EXPECT_EQ(kErrorFileNotFound, store.DeleteValue(key, "first"));
    ASSERT_EQ(kErrorSuccess, store.SetValue(key, "first", kRegSz, "x", 1));
    ASSERT_EQ(kErrorSuccess, store.EnumValues(key, &values));
    EXPECT_EQ("first", values.back().name);
}

TEST_F(Store, BatchesAreAllOrNothingAndReadersNeverWrite) {
    ASSERT_EQ(kErrorSuccess, store.Begin());
    EXPECT_EQ(kErrorInvalidParameter, store.Begin());
    Create("x\\y");
    store.Rollback();
    EXPECT_EQ(kErrorFileNotFound, Open("x"));
    ASSERT_EQ(kErrorSuccess, store.Begin());
    const int64_t key = Create("x\\y");
    ASSERT_EQ(kErrorSuccess, store.Commit());
    ASSERT_EQ(kErrorSuccess, store.Begin());  // left open when the connection closes: undone
    Create("z");
    store.Close();
    ASSERT_EQ(kErrorSuccess, store.Open(path, Mode::ReadWrite));
    EXPECT_EQ(kErrorFileNotFound, Open("z"));
    EXPECT_EQ(kErrorSuccess, Open("X\\Y"));

    RegistryStore reader;
    int64_t id;
    ASSERT_EQ(kErrorSuccess, reader.Open(path, Mode::ReadOnly));
    EXPECT_FALSE(reader.writable());
    EXPECT_EQ(kErrorSuccess, reader.OpenKey("x\\y", &id));
    EXPECT_EQ(kErrorAccessDenied, reader.CreateKey("new", &id));
    EXPECT_EQ(kErrorAccessDenied, reader.SetValue(key, "v", kRegSz, "2", 1));
    EXPECT_EQ(kErrorAccessDenied, reader.DeleteValue(key, "v"));
    EXPECT_EQ(kErrorAccessDenied, reader.DeleteTree(key));
    EXPECT_EQ(kErrorAccessDenied, reader.Begin());
    const std::string nowhere = MakeTempDir("nostore");
    EXPECT_EQ(kErrorFileNotFound, reader.Open(nowhere + "/vantrel/registry.db", Mode::ReadOnly));
    EXPECT_FALSE(PathExists(nowhere + "/vantrel"));
}

}  // namespace
}  // namespace vantrel::platform
