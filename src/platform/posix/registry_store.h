// The POSIX stand-in of HKEY_CURRENT_USER: one SQLite database holding a tree of keys with
// typed values. registry.cpp builds the Win32-shaped calls of platform/registry.h on it; the
// settings editor (tools/reg) uses it directly, since it also needs to enumerate, delete and
// apply a whole .reg file at once. POSIX-only: Windows has the real registry and reg.exe.
//
// Results are Windows error codes (0 = success), as in platform/registry.h. One object is one
// database connection; it is not thread-safe (registry.cpp serialises the library's calls).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vantrel::platform {

// More Windows error codes that only the POSIX store reports.
constexpr long kErrorInvalidHandle = 6;        // ERROR_INVALID_HANDLE
constexpr long kErrorOutOfMemory = 14;         // ERROR_OUTOFMEMORY
constexpr long kErrorBadPathname = 161;        // ERROR_BAD_PATHNAME: a key path starting with "\"
constexpr long kErrorRegistryCorrupt = 1015;   // ERROR_REGISTRY_CORRUPT: not a (valid) store
constexpr long kErrorRegistryIoFailed = 1016;  // ERROR_REGISTRY_IO_FAILED
constexpr long kErrorKeyDeleted = 1018;        // ERROR_KEY_DELETED: the key of a handle is gone

class RegistryStore {
  public:
    enum class Mode {
        ReadWrite,  // creates folder and file when missing; falls back to reading when the
                    // file or its folder cannot be written (writable() tells)
        ReadOnly,   // never creates or writes anything
    };

    // The root key, HKEY_CURRENT_USER itself.
    static constexpr int64_t kRootKey = 1;

    struct Value {
        std::string name;  // "" = the unnamed default value
        uint32_t type = 0;
        std::string data;  // raw bytes
    };
    struct SubKey {
        int64_t id = 0;
        std::string name;
    };

    RegistryStore() = default;
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // $XDG_CONFIG_HOME/vantrel/registry.db, else $HOME/.config/vantrel/registry.db (the home
    // folder from the password database when HOME is unset). Empty when there is no home.
    // Reads the environment at each call.
    static std::string DefaultPath();

    // Key paths use "\" between names. A path starting with "\" is refused
    // (kErrorBadPathname, as RegCreateKeyExA does); doubled and trailing separators count as
    // one, as the Windows object path parser treats them. "" is the root key. The result is
    // the path with single separators.
    static long NormalizePath(std::string_view path, std::string* normalized);

    long Open(const std::string& path, Mode mode);
    void Close();  // finalizes everything and closes every descriptor
    bool IsOpen() const { return db_ != nullptr; }
    // False on a read-only connection, a read-only file or an unwritable folder (SQLite
    // needs the folder for its rollback journal).
    bool writable() const { return writable_; }
    const std::string& path() const { return path_; }

    // Keys. Paths as NormalizePath takes them; names compare without regard to ASCII case.
    long OpenKey(std::string_view path, int64_t* key);
    // Creates the missing keys along the path; *created tells whether the last one was new.
    long CreateKey(std::string_view path, int64_t* key, bool* created = nullptr);
    // The key's path as stored (the letter case of its creation); "" for the root.
    long KeyPath(int64_t key, std::string* path);
    // Subkeys in the order RegEnumKeyEx gives them (by upper-cased name).
    long EnumSubKeys(int64_t key, std::vector<SubKey>* subKeys);
    // Deletes the key with all keys and values below it. The root cannot be deleted.
    long DeleteTree(int64_t key);

    // Values. A null or empty name is the default value.
    // RegQueryValueExA's contract: *size is the buffer size on entry and the data size on
    // return; a null data just reports the size; a buffer too small fails with
    // kErrorMoreData and is left alone. type may be null.
    long QueryValue(int64_t key, const char* name, uint32_t* type, void* data, uint32_t* size);
    long GetValue(int64_t key, std::string_view name, Value* value);
    // Creates or replaces; a replaced value keeps its name's letter case and its place in
    // the enumeration order. kErrorKeyDeleted when the key no longer exists.
    long SetValue(int64_t key, std::string_view name, uint32_t type, const void* data, size_t size);
    long DeleteValue(int64_t key, std::string_view name);
    // Values in the order they were first set, as RegEnumValue gives them.
    long EnumValues(int64_t key, std::vector<Value>* values);

    // All-or-nothing batches. Begin takes the write lock at once (BEGIN IMMEDIATE), so a
    // batch never fails half-way for want of the lock.
    long Begin();
    long Commit();
    void Rollback();

  private:
    enum Statement {
        kFindKey,
        kInsertKey,
        kKeyPath,
        kSubKeys,
        kDeleteTreeValues,
        kDeleteTreeKeys,
        kQueryValue,
        kSetValue,
        kDeleteValue,
        kEnumValues,
        kBegin,
        kCommit,
        kRollback,
        kStatementCount
    };

    static const char* StatementText(Statement which);
    long EnsureSchema();
    long Prepare(Statement which, sqlite3_stmt** statement);
    class Query;  // one use of a cached statement
    long RunOnce(Statement which);
    long FindKey(const std::string& normalized, int64_t* key, std::string* storedPath);
    bool InTransaction() const;

    sqlite3* db_ = nullptr;
    std::array<sqlite3_stmt*, kStatementCount> statements_{};
    std::string path_;
    bool writable_ = false;
    bool empty_ = false;  // a read-only store without a schema yet: holds no key at all
    // Waiting for another process's lock: since when (see WaitWhileBusy).
    int64_t busySinceMs_ = 0;
    static int WaitWhileBusy(void* store, int attempt);
};

}  // namespace vantrel::platform
