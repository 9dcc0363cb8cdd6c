// The POSIX registry store as a class: keys, values, enumeration, deletion, batches and the
// database file itself. The Win32-shaped calls on top of it are in registry_api_test.cpp.
#include "registry_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_environment.h"

namespace vantrel::platform {
namespace {

using test::MakeTempDir;
using test::ReadFile;
using test::WriteFile;
using Mode = RegistryStore::Mode;

class RegistryStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = MakeTempDir("store") + "/vantrel/registry.db";
        ASSERT_EQ(kErrorSuccess, store_.Open(path_, Mode::ReadWrite));
        ASSERT_TRUE(store_.writable());
    }

    int64_t Create(const std::string& path) {
        int64_t key = 0;
        EXPECT_EQ(kErrorSuccess, store_.CreateKey(path, &key)) << path;
        return key;
    }

    std::string PathOf(int64_t key) {
        std::string path;
        EXPECT_EQ(kErrorSuccess, store_.KeyPath(key, &path));
        return path;
    }

    std::vector<std::string> SubKeyNames(int64_t key) {
        std::vector<RegistryStore::SubKey> subKeys;
        EXPECT_EQ(kErrorSuccess, store_.EnumSubKeys(key, &subKeys));
        std::vector<std::string> names;
        for (const auto& subKey : subKeys) names.push_back(subKey.name);
        return names;
    }

    void Set(int64_t key, const std::string& name, uint32_t type, const std::string& data) {
        EXPECT_EQ(kErrorSuccess, store_.SetValue(key, name, type, data.data(), data.size()));
    }

    std::string path_;
    RegistryStore store_;
};

TEST_F(RegistryStoreTest, PathsUseBackslashesAndCollapseEmptyComponents) {
    std::string normalized;
    EXPECT_EQ(kErrorSuccess, RegistryStore::NormalizePath("", &normalized));
    EXPECT_EQ("", normalized);
    EXPECT_EQ(kErrorSuccess, RegistryStore::NormalizePath("a\\\\b\\", &normalized));
    EXPECT_EQ("a\\b", normalized);
    EXPECT_EQ(kErrorSuccess,
              RegistryStore::NormalizePath("c:/tools/viewer.exe\\proc1", &normalized));
    EXPECT_EQ("c:/tools/viewer.exe\\proc1", normalized);
    // As RegCreateKeyExA: a leading separator is refused, for opening and creating alike.
    int64_t key;
    EXPECT_EQ(kErrorBadPathname, RegistryStore::NormalizePath("\\a", &normalized));
    EXPECT_EQ(kErrorBadPathname, store_.CreateKey("\\a", &key));
    EXPECT_EQ(kErrorBadPathname, store_.OpenKey("\\a", &key));
    EXPECT_EQ(kErrorInvalidParameter, store_.CreateKey(std::string("a\0b", 3), &key));

    int64_t created = Create("a\\\\b\\");
    EXPECT_EQ("a\\b", PathOf(created));
    ASSERT_EQ(kErrorSuccess, store_.OpenKey("a\\b", &key));
    EXPECT_EQ(created, key);
    EXPECT_EQ(std::vector<std::string>{"a"}, SubKeyNames(RegistryStore::kRootKey));
    // "" is the root, HKEY_CURRENT_USER itself.
    ASSERT_EQ(kErrorSuccess, store_.OpenKey("", &key));
    EXPECT_EQ(RegistryStore::kRootKey, key);
    EXPECT_EQ("", PathOf(key));
}

TEST_F(RegistryStoreTest, KeyNamesIgnoreAsciiCaseAndKeepTheirOwn) {
    int64_t app = Create("Software\\MyApp");
    int64_t key;
    ASSERT_EQ(kErrorSuccess, store_.OpenKey("SOFTWARE\\myapp", &key));
    EXPECT_EQ(app, key);
    bool created = true;
    ASSERT_EQ(kErrorSuccess, store_.CreateKey("software\\MYAPP", &key, &created));
    EXPECT_FALSE(created);
    EXPECT_EQ(app, key);
    // A new key below takes the stored case of its parents and its own as given.
    int64_t sub = Create("software\\MYAPP\\Sub");
    EXPECT_EQ("Software\\MyApp\\Sub", PathOf(sub));
    EXPECT_EQ(std::vector<std::string>{"Software"}, SubKeyNames(RegistryStore::kRootKey));
    // Only ASCII letters fold: these two single-byte names are different keys.
    Create("\xC4pfel");
    Create("\xE4pfel");
    EXPECT_EQ(3u, SubKeyNames(RegistryStore::kRootKey).size());
}

TEST_F(RegistryStoreTest, CreatingAKeyCreatesItsMissingParents) {
    bool created = false;
    int64_t deep;
    ASSERT_EQ(kErrorSuccess, store_.CreateKey("a\\b\\c", &deep, &created));
    EXPECT_TRUE(created);
    int64_t key;
    EXPECT_EQ(kErrorSuccess, store_.OpenKey("a", &key));
    EXPECT_EQ(kErrorSuccess, store_.OpenKey("A\\B", &key));
    EXPECT_EQ(std::vector<std::string>{"c"}, SubKeyNames(key));
    ASSERT_EQ(kErrorSuccess, store_.CreateKey("a\\b\\c", &key, &created));
    EXPECT_FALSE(created);
    EXPECT_EQ(deep, key);
    EXPECT_EQ(kErrorFileNotFound, store_.OpenKey("a\\b\\c\\d", &key));
}

TEST_F(RegistryStoreTest, ForwardSlashesAreOrdinaryCharacters) {
    Create("Kelvra\\c:/tools/viewer.exe\\proc1");
    Create("Kelvra\\/home/u/app/viewer\\proc1");
    int64_t kelvra;
    ASSERT_EQ(kErrorSuccess, store_.OpenKey("kelvra", &kelvra));
    EXPECT_EQ((std::vector<std::string>{"/home/u/app/viewer", "c:/tools/viewer.exe"}),
              SubKeyNames(kelvra));
    int64_t key;
    EXPECT_EQ(kErrorFileNotFound, store_.OpenKey("Kelvra\\c:", &key));
    EXPECT_EQ(kErrorSuccess, store_.OpenKey("KELVRA\\C:/Tools/Viewer.exe\\PROC1", &key));
}

TEST_F(RegistryStoreTest, SubKeysEnumerateByUpperCasedName) {
    for (const char* name : {"b", "_x", "A", "C", "a]"}) Create(name);
    // RegEnumKeyEx compares upper-cased names: "_" (0x5F) follows "Z", "]" (0x5D) too.
    EXPECT_EQ((std::vector<std::string>{"A", "a]", "b", "C", "_x"}),
              SubKeyNames(RegistryStore::kRootKey));
}

TEST_F(RegistryStoreTest, ValuesKeepTypeAndBytesExactly) {
    int64_t key = Create("k");
    const std::string binary("\x00\x01\xFF\x00", 4);
    Set(key, "Dword", kRegDword, std::string("\x03\x00\x00\x00", 4));
    Set(key, "Binary", kRegBinary, binary);
    Set(key, "Text", kRegSz, "c:\\logs");
    Set(key, "Empty", kRegSz, "");
    Set(key, "Odd type", 0xFFFFFFFFu, "x");
    Set(key, "", kRegNone, binary);
    std::vector<RegistryStore::Value> values;
    ASSERT_EQ(kErrorSuccess, store_.EnumValues(key, &values));
    ASSERT_EQ(6u, values.size());
    EXPECT_EQ("Dword", values[0].name);
    EXPECT_EQ(kRegDword, values[0].type);
    EXPECT_EQ(std::string("\x03\x00\x00\x00", 4), values[0].data);
    EXPECT_EQ(binary, values[1].data);
    EXPECT_EQ("c:\\logs", values[2].data);
    EXPECT_EQ(7u, values[2].data.size());  // no terminating zero is added
    EXPECT_EQ("", values[3].data);
    EXPECT_EQ(kRegSz, values[3].type);
    EXPECT_EQ(0xFFFFFFFFu, values[4].type);
    EXPECT_EQ("", values[5].name);
    EXPECT_EQ(kRegNone, values[5].type);

    RegistryStore::Value value;
    EXPECT_EQ(kErrorFileNotFound, store_.GetValue(key, "missing", &value));
    ASSERT_EQ(kErrorSuccess, store_.GetValue(key, "BINARY", &value));
    EXPECT_EQ("Binary", value.name);
    EXPECT_EQ(binary, value.data);
}

TEST_F(RegistryStoreTest, ValueNamesIgnoreCaseAndAReplacedValueKeepsNameAndPlace) {
    int64_t key = Create("k");
    Set(key, "First", kRegSz, "1");
    Set(key, "Second", kRegSz, "2");
    Set(key, "FIRST", kRegDword, std::string("\x07\x00\x00\x00", 4));
    std::vector<RegistryStore::Value> values;
    ASSERT_EQ(kErrorSuccess, store_.EnumValues(key, &values));
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ("First", values[0].name);
    EXPECT_EQ(kRegDword, values[0].type);
    EXPECT_EQ("Second", values[1].name);
    // Deleted and set again, a value goes to the end, as on Windows.
    EXPECT_EQ(kErrorSuccess, store_.DeleteValue(key, "first"));
    EXPECT_EQ(kErrorFileNotFound, store_.DeleteValue(key, "first"));
    Set(key, "first", kRegSz, "again");
    ASSERT_EQ(kErrorSuccess, store_.EnumValues(key, &values));
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ("Second", values[0].name);
    EXPECT_EQ("first", values[1].name);
}

TEST_F(RegistryStoreTest, DeleteTreeRemovesExactlyTheKeyAndWhatIsBelowIt) {
    int64_t a = Create("Root\\a");
    int64_t below = Create("Root\\A\\B\\c");
    Set(a, "v", kRegSz, "1");
    Set(below, "w", kRegSz, "2");
    // Neighbours whose names share the prefix, or sort right after it.
    for (const char* name : {"Root\\ab", "Root\\a b", "Root\\a]", "Root\\a[", "Root\\b\\a"}) {
        Set(Create(name), "keep", kRegSz, "yes");
    }
    ASSERT_EQ(kErrorSuccess, store_.DeleteTree(a));
    int64_t key;
    EXPECT_EQ(kErrorFileNotFound, store_.OpenKey("root\\a", &key));
    EXPECT_EQ(kErrorFileNotFound, store_.OpenKey("root\\a\\b", &key));
    for (const char* name : {"Root\\ab", "Root\\a b", "Root\\a]", "Root\\a[", "Root\\b\\a"}) {
        ASSERT_EQ(kErrorSuccess, store_.OpenKey(name, &key)) << name;
        EXPECT_EQ(kErrorSuccess, store_.QueryValue(key, "keep", nullptr, nullptr, nullptr));
    }
    // Values of the deleted keys went with them: a new key of the same name starts empty.
    int64_t again = Create("Root\\a");
    EXPECT_NE(a, again);  // ids are never reused
    std::vector<RegistryStore::Value> values;
    ASSERT_EQ(kErrorSuccess, store_.EnumValues(again, &values));
    EXPECT_TRUE(values.empty());
    // The stale id: the key is gone, nothing reaches the new key of the same name.
    EXPECT_EQ(kErrorKeyDeleted, store_.SetValue(a, "v", kRegSz, "x", 1));
    EXPECT_EQ(kErrorFileNotFound, store_.QueryValue(a, "v", nullptr, nullptr, nullptr));
    EXPECT_EQ(kErrorKeyDeleted, store_.DeleteTree(a));
    // HKEY_CURRENT_USER itself stays.
    EXPECT_EQ(kErrorAccessDenied, store_.DeleteTree(RegistryStore::kRootKey));
}

TEST_F(RegistryStoreTest, BatchesAreAllOrNothing) {
    ASSERT_EQ(kErrorSuccess, store_.Begin());
    EXPECT_EQ(kErrorInvalidParameter, store_.Begin());
    Set(Create("x\\y"), "v", kRegSz, "1");
    store_.Rollback();
    int64_t key;
    EXPECT_EQ(kErrorFileNotFound, store_.OpenKey("x", &key));

    ASSERT_EQ(kErrorSuccess, store_.Begin());
    Set(Create("x\\y"), "v", kRegSz, "1");
    ASSERT_EQ(kErrorSuccess, store_.Commit());
    EXPECT_EQ(kErrorSuccess, store_.OpenKey("x\\y", &key));

    // A batch left open when the connection closes is undone.
    ASSERT_EQ(kErrorSuccess, store_.Begin());
    Create("z");
    store_.Close();
    ASSERT_EQ(kErrorSuccess, store_.Open(path_, Mode::ReadWrite));
    EXPECT_EQ(kErrorFileNotFound, store_.OpenKey("z", &key));
}

TEST_F(RegistryStoreTest, ConnectionsSeeEachOthersWrites) {
    RegistryStore other;
    ASSERT_EQ(kErrorSuccess, other.Open(path_, Mode::ReadWrite));
    Set(Create("shared"), "v", kRegSz, "from the first");
    int64_t key;
    ASSERT_EQ(kErrorSuccess, other.OpenKey("SHARED", &key));
    RegistryStore::Value value;
    ASSERT_EQ(kErrorSuccess, other.GetValue(key, "v", &value));
    EXPECT_EQ("from the first", value.data);
}

TEST_F(RegistryStoreTest, ReadOnlyConnectionReadsAndRefusesEveryWrite) {
    int64_t key = Create("k");
    Set(key, "v", kRegSz, "1");
    RegistryStore reader;
    ASSERT_EQ(kErrorSuccess, reader.Open(path_, Mode::ReadOnly));
    EXPECT_FALSE(reader.writable());
    int64_t found;
    ASSERT_EQ(kErrorSuccess, reader.OpenKey("k", &found));
    EXPECT_EQ(kErrorSuccess, reader.QueryValue(found, "v", nullptr, nullptr, nullptr));
    EXPECT_EQ(kErrorAccessDenied, reader.CreateKey("k", &found));
    EXPECT_EQ(kErrorAccessDenied, reader.CreateKey("new", &found));
    EXPECT_EQ(kErrorAccessDenied, reader.SetValue(key, "v", kRegSz, "2", 1));
    EXPECT_EQ(kErrorAccessDenied, reader.DeleteValue(key, "v"));
    EXPECT_EQ(kErrorAccessDenied, reader.DeleteTree(key));
    EXPECT_EQ(kErrorAccessDenied, reader.Begin());
}

TEST_F(RegistryStoreTest, ReadOnlyOpeningOfAMissingStoreMakesNothing) {
    std::string folder = MakeTempDir("nostore");
    RegistryStore reader;
    EXPECT_EQ(kErrorFileNotFound, reader.Open(folder + "/vantrel/registry.db", Mode::ReadOnly));
    EXPECT_FALSE(test::PathExists(folder + "/vantrel"));
    EXPECT_EQ(kErrorFileNotFound, reader.Open("", Mode::ReadWrite));
}

TEST_F(RegistryStoreTest, ReopeningAnExistingStoreKeepsItsContent) {
    Set(Create("k"), "v", kRegSz, "kept");
    store_.Close();
    EXPECT_FALSE(store_.IsOpen());
    ASSERT_EQ(kErrorSuccess, store_.Open(path_, Mode::ReadWrite));
    RegistryStore second;  // a second opening finds the schema made
    ASSERT_EQ(kErrorSuccess, second.Open(path_, Mode::ReadWrite));
    int64_t key;
    ASSERT_EQ(kErrorSuccess, second.OpenKey("k", &key));
    RegistryStore::Value value;
    ASSERT_EQ(kErrorSuccess, second.GetValue(key, "v", &value));
    EXPECT_EQ("kept", value.data);
}

TEST_F(RegistryStoreTest, AFileThatIsNoStoreIsRefusedAsCorrupt) {
    store_.Close();
    WriteFile(path_, std::string(8192, 'x'));
    EXPECT_EQ(kErrorRegistryCorrupt, store_.Open(path_, Mode::ReadWrite));
    EXPECT_FALSE(store_.IsOpen());
    EXPECT_EQ(kErrorRegistryCorrupt, store_.Open(path_, Mode::ReadOnly));
    int64_t key;
    EXPECT_EQ(kErrorInvalidHandle, store_.OpenKey("k", &key));  // a closed store refuses calmly
    EXPECT_EQ(kErrorInvalidHandle, store_.CreateKey("k", &key));
    EXPECT_EQ(std::string(8192, 'x'), ReadFile(path_));  // and nothing was written over it
}

TEST_F(RegistryStoreTest, ADamagedStoreFailsCleanly) {
    for (int i = 0; i < 300; ++i) {
        Set(Create("Key " + std::to_string(i) + "\\sub"), "v", kRegSz, std::string(100, 'v'));
    }
    store_.Close();
    std::string bytes = ReadFile(path_);
    ASSERT_GT(bytes.size(), 8u * 4096);
    // Keep the header page, scribble over the rest.
    for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    WriteFile(path_, bytes);
    long result = store_.Open(path_, Mode::ReadWrite);
    if (result == kErrorSuccess) {
        int failures = 0;
        for (int i = 0; i < 300; ++i) {
            int64_t key = 0;
            long error = store_.CreateKey("Key " + std::to_string(i) + "\\sub", &key);
            if (error == kErrorSuccess) {
                error = store_.SetValue(key, "v", kRegSz, "x", 1);
            }
            std::vector<RegistryStore::SubKey> subKeys;
            long enumerated = store_.EnumSubKeys(RegistryStore::kRootKey, &subKeys);
            failures += error != kErrorSuccess || enumerated != kErrorSuccess;
        }
        EXPECT_GT(failures, 0);
    } else {
        EXPECT_EQ(kErrorRegistryCorrupt, result);
    }
}

}  // namespace
}  // namespace vantrel::platform
