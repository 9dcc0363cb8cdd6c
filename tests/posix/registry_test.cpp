// The settings store under odd paths, several users, threads, processes and damage.
#include <pwd.h>

#include <thread>

#include "posix/posix_fixture.h"

namespace vantrel::platform {
namespace {

using Mode = RegistryStore::Mode;

long SetDword(const std::string& path, const char* name, uint32_t number) {
    RegKey key;
    long error = RegCreateKey(path, kKeyReadWrite, &key);
    if (error == kErrorSuccess) error = RegSetValue(key, name, kRegDword, &number, 4);
    RegCloseKey(key);
    return error;
}

// The library's read, opening with these rights: "v<number>", or the error.
std::string Read(const std::string& path, const char* name, uint32_t rights = kKeyAllAccess) {
    RegKey key;
    uint32_t number = 0, size = 4;
    long error = RegOpenKey(path, rights, &key);
    if (error == kErrorSuccess) error = RegQueryValue(key, name, nullptr, &number, &size);
    RegCloseKey(key);
    return error ? std::to_string(error) : "v" + std::to_string(number);
}

TEST(RegistryCalls, StoreIsPrivateWhateverTheUmaskAndFollowsTheEnvironmentAtOpening) {
    const mode_t previous = umask(0);
    const long created = SetDword("k", "v", 1);
    umask(previous);
    ASSERT_EQ(kErrorSuccess, created);
    const std::string path = RegistryStore::DefaultPath();
    struct stat file, folder;
    ASSERT_EQ(0,
              stat(path.c_str(), &file) + stat(path.substr(0, path.rfind('/')).c_str(), &folder));
    EXPECT_EQ(0600u, file.st_mode & 0777);
    EXPECT_EQ(0700u, folder.st_mode & 0777);
    // Unset, empty or relative XDG_CONFIG_HOME: HOME's .config, never a relative folder.
    const std::string home = MakeTempDir("home"), savedHome = getenv("HOME");
    setenv("HOME", home.c_str(), 1);
    for (const char* config : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        config ? setenv("XDG_CONFIG_HOME", config, 1) : unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(home + "/.config");
        ReleaseRegistryStore();
        EXPECT_EQ(kErrorSuccess, SetDword("k", "v", 1)) << (config ? config : "(unset)");
        EXPECT_TRUE(PathExists(home + "/.config/vantrel/registry.db"));
    }
    // No HOME either: the home in the user's password entry.
    unsetenv("HOME");
    EXPECT_EQ(std::string(getpwuid(getuid())->pw_dir) + "/.config/vantrel/registry.db",
              RegistryStore::DefaultPath());
    setenv("HOME", savedHome.c_str(), 1);
    // Under a file: refused, and the editor says where.
    setenv("XDG_CONFIG_HOME", "/dev/null", 1);
    ReleaseRegistryStore();
    EXPECT_EQ(kErrorAccessDenied, SetDword("k", "v", 1));
    const test::RegToolRun editor = test::RunRegTool("add HKCU\\k");
    EXPECT_TRUE(editor.exitCode == 1 &&
                test::Has(editor.err, "/dev/null/vantrel/registry.db cannot"))
        << editor.err;
}

// Handles outlive the connection and their key (ids never reused); a batch left open (an
// editor killed in an import) is undone; a store opened to read writes nothing.
TEST(RegistryCalls, HandlesOutliveTheConnectionAndTheirKeyAndOpenBatchesAreUndone) {
    RegKey doomed;
    uint32_t size = 0;
    ASSERT_EQ(kErrorSuccess, RegCreateKey("doomed\\key", kKeyAllAccess, &doomed));
    ReleaseRegistryStore();
    ASSERT_EQ(kErrorSuccess, RegSetValue(doomed, "v", kRegSz, "1", 1));
    RegistryStore other;
    int64_t id;
    ASSERT_EQ(kErrorSuccess, other.Open(RegistryStore::DefaultPath(), Mode::ReadWrite));
    ASSERT_EQ(kErrorSuccess, other.OpenKey("doomed", &id) + other.DeleteTree(id));
    ASSERT_EQ(kErrorSuccess, other.CreateKey("doomed\\key", &id));
    EXPECT_EQ(kErrorKeyDeleted, RegSetValue(doomed, "v", kRegSz, "2", 1));
    EXPECT_EQ(kErrorFileNotFound, RegQueryValue(doomed, "v", nullptr, nullptr, &size));
    RegCloseKey(doomed);
    ASSERT_EQ(kErrorSuccess, other.Begin() + other.CreateKey("batch", &id));
    other.Close();
    ASSERT_EQ(kErrorSuccess, other.Open(RegistryStore::DefaultPath(), Mode::ReadOnly));
    EXPECT_EQ(kErrorFileNotFound, other.OpenKey("batch", &id));
    EXPECT_EQ(kErrorAccessDenied, other.CreateKey("new", &id));
}

TEST(RegistryCalls, ThreadsAndForksShareTheStoreWithoutLeaks) {
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    ReleaseRegistryStore();
    const auto before = descriptors();
    std::vector<std::thread> threads;
    std::vector<int> failures(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string path = "threads\\t" + std::to_string(t);
            for (uint32_t i = 0; i < 100; ++i) {
                failures[t] += SetDword(path, "n", i) || Read(path, "N") != "v" + std::to_string(i);
                if (i == 50 && t == 0) ReleaseRegistryStore();  // under the others' feet
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(6, 0));
    // A forked child opens a connection of its own, and the parent's stays usable.
    EXPECT_EQ("", test::InChild([] { return SetDword("k", "v", 2) ? "failed" : ""; }));
    EXPECT_EQ("v2", Read("k", "v"));
    ReleaseRegistryStore();
    EXPECT_EQ(before, descriptors());
}

// A store its user may not write (as another user when root) or damaged: what can be read is,
// every write refused, the editor says why, a host logs nothing, the file is left as found.
TEST(StoreStates, RefusedStoresFailEveryWriteCleanlyAndAreLeftAsFound) {
    const uid_t other = geteuid() == 0 ? test::kUnprivilegedId : geteuid();
    // Modes of the folder and file (0: removed); damaged from this byte on; results of read,
    // open with all access, create existing, create new, open absent; the editor's message.
    // clang-format off
    const struct { const char* fault; mode_t folder, file; size_t damagedFrom; const char* results, *editor; } rows[] = {
        {"read-only file written", 0777, 0644, 0, "v4 5 5 5 2", "Access is denied"},
        {"journal-less folder written", 0755, 0666, 0, "v4 5 5 5 2", "Access is denied"},
        {"another user's private store read", 0755, 0600, 0, "5 5 5 5 5", "Access is denied"},
        {"a missing store made where it cannot be", 0755, 0, 0, "2 5 5 5 2", "Access is denied"},
        {"a damaged store read or written over", 0700, 0600, 1, "1015 1015 1015 1015 1015", "is damaged"},
        {"damage past the first page not noticed", 0700, 0600, 4096, "1015 1015 1015 1015 1015", "is damaged"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        test::UseFreshEnvironment();
        ASSERT_EQ(kErrorSuccess, SetDword("present", "v", 4));
        ReleaseRegistryStore();
        const std::string file = RegistryStore::DefaultPath(),
                          folder = file.substr(0, file.rfind('/'));
        const uid_t uid = row.damagedFrom ? geteuid() : other;
        chmod(folder.substr(0, folder.rfind('/')).c_str(), 0755);
        chmod(folder.c_str(), row.folder);
        row.file ? chmod(file.c_str(), row.file) : unlink(file.c_str());
        if (row.damagedFrom) {
            std::string bytes = ReadFile(file);
            for (size_t i = row.damagedFrom - 1; i < bytes.size(); ++i) bytes[i] = char(i * 7 + 3);
            WriteFile(file, bytes);
        }
        const std::string before = row.file ? ReadFile(file) : "";
        EXPECT_EQ(row.results, test::InChild([uid] {
                      if (uid != geteuid() && !test::DropPrivilegesTo(uid)) return std::string();
                      RegKey key = nullptr;
                      std::string out = Read("present", "v", kKeyRead);
                      for (long error : {RegOpenKey("present", kKeyAllAccess, &key),
                                         RegCreateKey("present", kKeyReadWrite, &key),
                                         RegCreateKey("new", kKeyWrite, &key),
                                         RegOpenKey("absent", kKeyRead, &key)})
                          out += " " + std::to_string(error);
                      return key ? out + " (a handle from a failure)" : out;
                  }));
        const test::RegToolRun editor = test::RunRegTool("add HKCU\\present /v v /d 5 /f", uid);
        EXPECT_TRUE(editor.exitCode == 1 && test::Has(editor.err, row.editor)) << editor.err;
        const test::HostInstall host = test::InstallHost();
        chmod(host.folder.c_str(), 0777);  // the folder is the user's to write; the store is not
        test::HostOptions options;
        options.dropToId = uid == geteuid() ? -1 : static_cast<int>(uid);
        const test::HostRun run =
            test::RunHost(host, {"printf|t.log|x\\n", "begin|t.log|f"}, options);
        EXPECT_TRUE(run.exitCode == 0 && run.lines == (std::vector<std::string>{"0", "0"}));
        EXPECT_FALSE(PathExists(host.folder + "/vantrel")) << "a host logged";
        EXPECT_EQ(before, row.file ? ReadFile(file) : PathExists(file) ? "made" : "");
        if (row.damagedFrom) {  // deleted, it works again without a restart
            EXPECT_EQ(kErrorRegistryCorrupt, SetDword("present", "v", 5));
            EXPECT_EQ(kErrorSuccess, unlink(file.c_str()) + SetDword("present", "v", 5));
        }
    }
}

}  // namespace
}  // namespace vantrel::platform
