#include "platform/posix/registry_store.h"

#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "platform/clock.h"
#include "platform/posix/xdg_base_dirs.h"

namespace vantrel::platform {

namespace {

// Journal mode: SQLite's default rollback journal, not WAL. WAL needs its -shm and -wal
// files beside the store even for a reader, so a user who may only read the store (or a
// read-only folder) could not open it at all, and its shared memory does not work on a
// network home folder. The store sees a handful of small writes per process, so WAL's
// concurrency buys nothing. synchronous=NORMAL: two fsyncs per commit instead of three; the
// store stays consistent through a crash of the process, and of the machine but for the
// small risk SQLite documents for old file systems.
//
// Layout: every key is a row with its full path (the letter case of its creation), so that
// opening a key is one indexed look-up whatever its depth; NOCASE folds exactly the ASCII
// letters, as the registry stand-in compares names. Key ids are never reused
// (AUTOINCREMENT), so the handle of a deleted key can never reach a key created later.
// Values keep their rowid, which gives RegEnumValue's order (order of first setting).
constexpr int kSchemaVersion = 1;
constexpr const char kCreateSchema[] =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER,"
    "  name TEXT NOT NULL,"
    "  path TEXT NOT NULL UNIQUE COLLATE NOCASE);"
    "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(parent);"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key_id INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key_id, name));"
    "INSERT OR IGNORE INTO keys(id, parent, name, path) VALUES(1, NULL, '', '');"
    "PRAGMA user_version = 1;"
    "COMMIT;";

// A store locked by another process is waited for this long; after a wait that ran out, calls
// fail at once for kFailFastMs, so a load or a logging call that makes dozens of store calls
// is held up by one time-out, not by one per call.
constexpr int64_t kBusyTimeoutMs = 2000;
constexpr int64_t kFailFastMs = 5000;

// Kept for the process, not per connection: a connection that failed to open is dropped and
// the next call opens a new one.
std::atomic<int64_t> failFastUntilMs{0};

// Only called for failures: a result that is none never reads as success.
long MapSqliteError(int result) {
    switch (result & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return kErrorBusy;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
        case SQLITE_CANTOPEN:
            return kErrorAccessDenied;
        case SQLITE_NOMEM:
            return kErrorOutOfMemory;
        case SQLITE_TOOBIG:
        case SQLITE_RANGE:
        case SQLITE_MISMATCH:
            return kErrorInvalidParameter;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
        case SQLITE_ERROR:  // our statements only fail to compile on a store that is not ours
        case SQLITE_SCHEMA:
            return kErrorRegistryCorrupt;
        default:  // SQLITE_IOERR, SQLITE_FULL, SQLITE_PROTOCOL, ...
            return kErrorRegistryIoFailed;
    }
}

std::string Dirname(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// mkdir -p with mode 0700 for every folder it makes (XDG asks 0700 for a config home it has
// to create, and the store's own folder is private).
void MakeFolders(const std::string& folder) {
    if (folder.empty() || mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return;
    if (errno != ENOENT) return;
    std::string parent = Dirname(folder);
    if (parent == folder) return;
    MakeFolders(parent);
    mkdir(folder.c_str(), 0700);
}

// What SQLite will need to write: the file, and the folder for the rollback journal.
bool CanWrite(const std::string& file) {
    return faccessat(AT_FDCWD, Dirname(file).c_str(), W_OK | X_OK, AT_EACCESS) == 0 &&
           faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

RegistryStore::~RegistryStore() {
    Close();
}

std::string RegistryStore::DefaultPath() {
    const std::string config = XdgConfigHome();
    return config.empty() ? std::string() : config + "/vantrel/registry.db";
}

long RegistryStore::NormalizePath(std::string_view path, std::string* normalized) {
    normalized->clear();
    if (!path.empty() && path[0] == '\\') return kErrorBadPathname;
    if (path.find('\0') != std::string_view::npos) return kErrorInvalidParameter;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) {
            if (!normalized->empty()) normalized->push_back('\\');
            normalized->append(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return kErrorSuccess;
}

long RegistryStore::Open(const std::string& path, Mode mode) {
    Close();
    path_ = path;
    if (path.empty()) return kErrorFileNotFound;
    if (mode == Mode::ReadWrite) {
        // We create the file ourselves: SQLite would create it 0644 less the umask, and the
        // store is private. O_EXCL: whoever comes second just opens what the first made.
        MakeFolders(Dirname(path));
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) close(fd);
    }
    // No SQLITE_OPEN_CREATE: a file we could not create above must not appear with
    // SQLite's modes either. NOMUTEX: callers serialise their use of a connection.
    int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                SQLITE_OPEN_NOMUTEX;
    int result = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (result != SQLITE_OK) {
        Close();
        struct stat info;
        if (stat(path.c_str(), &info) != 0 && errno == ENOENT) return kErrorFileNotFound;
        return MapSqliteError(result);
    }
    sqlite3_busy_handler(db_, &RegistryStore::WaitWhileBusy, this);
    // A damaged or hostile file must not make our statements run its triggers' functions or
    // let anything rewrite the schema behind SQLite's back.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_exec(db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    // SQLite falls back to reading when the file cannot be opened for writing.
    writable_ = mode == Mode::ReadWrite && sqlite3_db_readonly(db_, "main") == 0 && CanWrite(path);
    long error = EnsureSchema();
    if (error != kErrorSuccess) Close();
    return error;
}

int RegistryStore::WaitWhileBusy(void* self, int attempt) {
    auto* store = static_cast<RegistryStore*>(self);
    int64_t now = MonotonicMilliseconds();
    if (attempt == 0) {
        if (now < failFastUntilMs.load(std::memory_order_relaxed)) return 0;
        store->busySinceMs_ = now;
    }
    if (now - store->busySinceMs_ >= kBusyTimeoutMs) {
        failFastUntilMs.store(now + kFailFastMs, std::memory_order_relaxed);
        return 0;
    }
    // Short sleeps first: most locks are another process's single small write.
    struct timespec pause = {0, (attempt < 10 ? 1 : 10) * 1000000L};
    nanosleep(&pause, nullptr);
    return 1;
}

long RegistryStore::EnsureSchema() {
    sqlite3_stmt* statement = nullptr;
    int result = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &statement, nullptr);
    int version = -1;
    if (result == SQLITE_OK) {
        result = sqlite3_step(statement);
        if (result == SQLITE_ROW) version = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
    if (version < 0) return MapSqliteError(result);
    empty_ = false;
    if (version == kSchemaVersion) return kErrorSuccess;
    if (version > kSchemaVersion) return kErrorRegistryCorrupt;  // a layout we do not know
    if (!writable_) {
        empty_ = true;  // nothing there yet, and we may not make it
        return kErrorSuccess;
    }
    // Idempotent and under the write lock: two processes making a fresh store at once both
    // succeed, the second finding everything done.
    result = sqlite3_exec(db_, kCreateSchema, nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) {
        if (InTransaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return MapSqliteError(result);
    }
    return kErrorSuccess;
}

void RegistryStore::Close() {
    for (sqlite3_stmt*& statement : statements_) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    if (db_) {
        // Everything is finalized, so this closes the descriptors now (and rolls back an
        // unfinished batch).
        if (sqlite3_close(db_) != SQLITE_OK) sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    writable_ = false;
    empty_ = false;
}

bool RegistryStore::InTransaction() const {
    return db_ && sqlite3_get_autocommit(db_) == 0;
}

// One use of a cached statement: prepared on first use, reset and unbound when the use ends.
// A statement that could not be prepared steps to kNotPrepared, and Error() then gives the
// reason.
class RegistryStore::Query {
  public:
    static constexpr int kNotPrepared = -1;

    Query(RegistryStore& store, Statement which)
        : prepareError_(store.Prepare(which, &statement_)) {}
    ~Query() {
        if (prepareError_ != kErrorSuccess) return;
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Bind(int index, int64_t number) {
        if (prepareError_ == kErrorSuccess) sqlite3_bind_int64(statement_, index, number);
        return *this;
    }
    Query& Bind(int index, std::string_view text) {
        // A null pointer would bind SQL NULL; the empty name must stay a text.
        if (prepareError_ == kErrorSuccess) {
            sqlite3_bind_text(statement_, index, text.empty() ? "" : text.data(),
                              static_cast<int>(text.size()), SQLITE_STATIC);
        }
        return *this;
    }
    // An empty blob, not NULL, for size 0.
    Query& BindBlob(int index, const void* data, size_t size) {
        if (prepareError_ != kErrorSuccess) return *this;
        if (size == 0) {
            sqlite3_bind_zeroblob(statement_, index, 0);
        } else {
            sqlite3_bind_blob(statement_, index, data, static_cast<int>(size), SQLITE_STATIC);
        }
        return *this;
    }

    int Step() { return prepareError_ == kErrorSuccess ? sqlite3_step(statement_) : kNotPrepared; }
    // Steps a statement that returns no rows.
    long Run() {
        const int result = Step();
        return result == SQLITE_DONE ? kErrorSuccess : Error(result);
    }
    // The error for a step that ended in neither a row nor done.
    long Error(int result) const {
        return result == kNotPrepared ? prepareError_ : MapSqliteError(result);
    }

    int64_t Int64(int column) const { return sqlite3_column_int64(statement_, column); }
    std::string Text(int column) const {
        const void* bytes = sqlite3_column_blob(statement_, column);
        const int size = sqlite3_column_bytes(statement_, column);
        return bytes && size > 0 ? std::string(static_cast<const char*>(bytes), size)
                                 : std::string();
    }
    const void* Blob(int column) const { return sqlite3_column_blob(statement_, column); }
    uint32_t Bytes(int column) const {
        return static_cast<uint32_t>(sqlite3_column_bytes(statement_, column));
    }

  private:
    sqlite3_stmt* statement_ = nullptr;
    long prepareError_;
};

const char* RegistryStore::StatementText(Statement which) {
    switch (which) {
        case kFindKey:
            return "SELECT id, path FROM keys WHERE path = ?1";
        case kInsertKey:
            return "INSERT INTO keys(parent, name, path) VALUES(?1, ?2, ?3)";
        case kKeyPath:
            return "SELECT path FROM keys WHERE id = ?1";
        case kSubKeys:  // RegEnumKeyEx's order: names compared upper-cased
            return "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY upper(name), name";
        case kDeleteTreeValues:  // ?2 = path + "\", ?3 = path + "]" bound the subtree
            return "DELETE FROM vals WHERE key_id IN"
                   " (SELECT id FROM keys WHERE id = ?1 OR (path >= ?2 AND path < ?3))";
        case kDeleteTreeKeys:
            return "DELETE FROM keys WHERE id = ?1 OR (path >= ?2 AND path < ?3)";
        case kQueryValue:
            return "SELECT type, data, name FROM vals WHERE key_id = ?1 AND name = ?2";
        case kSetValue:  // one statement that also proves the key still exists
            return "INSERT INTO vals(key_id, name, type, data)"
                   " SELECT ?1, ?2, ?3, ?4 WHERE EXISTS (SELECT 1 FROM keys WHERE id = ?1)"
                   " ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type,"
                   " data = excluded.data";
        case kDeleteValue:
            return "DELETE FROM vals WHERE key_id = ?1 AND name = ?2";
        case kEnumValues:
            return "SELECT name, type, data FROM vals WHERE key_id = ?1 ORDER BY rowid";
        case kBegin:
            return "BEGIN IMMEDIATE";
        case kCommit:
            return "COMMIT";
        case kRollback:
        case kStatementCount:
            break;
    }
    return "ROLLBACK";
}

long RegistryStore::Prepare(Statement which, sqlite3_stmt** statement) {
    if (!db_) return kErrorInvalidHandle;
    if (!statements_[which]) {
        int result = sqlite3_prepare_v3(db_, StatementText(which), -1, SQLITE_PREPARE_PERSISTENT,
                                        &statements_[which], nullptr);
        if (result != SQLITE_OK) {
            sqlite3_finalize(statements_[which]);
            statements_[which] = nullptr;
            return MapSqliteError(result);
        }
    }
    *statement = statements_[which];
    return kErrorSuccess;
}

long RegistryStore::RunOnce(Statement which) {
    return Query(*this, which).Run();
}

long RegistryStore::FindKey(const std::string& normalized, int64_t* key, std::string* storedPath) {
    Query query(*this, kFindKey);
    const int result = query.Bind(1, normalized).Step();
    if (result == SQLITE_DONE) return kErrorFileNotFound;
    if (result != SQLITE_ROW) return query.Error(result);
    *key = query.Int64(0);
    if (storedPath) *storedPath = query.Text(1);
    return kErrorSuccess;
}

long RegistryStore::OpenKey(std::string_view path, int64_t* key) {
    std::string normalized;
    long error = NormalizePath(path, &normalized);
    if (error != kErrorSuccess) return error;
    if (!db_) return kErrorInvalidHandle;
    if (empty_) {
        // Someone may have made the store since we opened it.
        if (EnsureSchema() != kErrorSuccess || empty_) return kErrorFileNotFound;
    }
    return FindKey(normalized, key, nullptr);
}

long RegistryStore::CreateKey(std::string_view path, int64_t* key, bool* created) {
    if (created) *created = false;
    std::string normalized;
    long error = NormalizePath(path, &normalized);
    if (error != kErrorSuccess) return error;
    if (!db_) return kErrorInvalidHandle;
    if (!writable_) return kErrorAccessDenied;
    error = FindKey(normalized, key, nullptr);  // the common case: it is there
    if (error != kErrorFileNotFound) return error;

    bool ownTransaction = !InTransaction();
    error = ownTransaction ? RunOnce(kBegin) : kErrorSuccess;
    if (error != kErrorSuccess) return error;
    // Walk down from the root; existing keys lend their stored case to the new paths.
    int64_t parent = kRootKey;
    std::string parentPath;
    size_t start = 0;
    while (error == kErrorSuccess && start < normalized.size()) {
        size_t end = normalized.find('\\', start);
        if (end == std::string::npos) end = normalized.size();
        std::string_view name(normalized.data() + start, end - start);
        std::string childPath =
            parentPath.empty() ? std::string(name) : parentPath + '\\' + std::string(name);
        start = end + 1;
        int64_t child = 0;
        std::string stored;
        error = FindKey(childPath, &child, &stored);
        if (error == kErrorSuccess) {
            parent = child;
            parentPath = std::move(stored);
            continue;
        }
        if (error != kErrorFileNotFound) break;
        error = Query(*this, kInsertKey).Bind(1, parent).Bind(2, name).Bind(3, childPath).Run();
        if (error != kErrorSuccess) break;
        parent = sqlite3_last_insert_rowid(db_);
        parentPath = std::move(childPath);
        if (created && start >= normalized.size()) *created = true;
    }
    if (error == kErrorSuccess && ownTransaction) error = RunOnce(kCommit);
    if (error != kErrorSuccess) {
        if (ownTransaction) Rollback();
        if (created) *created = false;
        return error;
    }
    *key = parent;
    return kErrorSuccess;
}

long RegistryStore::KeyPath(int64_t key, std::string* path) {
    Query query(*this, kKeyPath);
    const int result = query.Bind(1, key).Step();
    if (result == SQLITE_DONE) return kErrorKeyDeleted;
    if (result != SQLITE_ROW) return query.Error(result);
    *path = query.Text(0);
    return kErrorSuccess;
}

long RegistryStore::EnumSubKeys(int64_t key, std::vector<SubKey>* subKeys) {
    subKeys->clear();
    Query query(*this, kSubKeys);
    query.Bind(1, key);
    int result;
    while ((result = query.Step()) == SQLITE_ROW) {
        subKeys->push_back(SubKey{query.Int64(0), query.Text(1)});
    }
    if (result != SQLITE_DONE) {
        subKeys->clear();
        return query.Error(result);
    }
    return kErrorSuccess;
}

long RegistryStore::DeleteTree(int64_t key) {
    if (!db_) return kErrorInvalidHandle;
    if (key == kRootKey || !writable_) return kErrorAccessDenied;
    std::string path;
    long error = KeyPath(key, &path);
    if (error != kErrorSuccess) return error;
    // Every path below lies in [path + "\", path + "]") in NOCASE order: "]" follows "\"
    // and neither is a letter that NOCASE folds.
    std::string low = path + '\\';
    std::string high = path + ']';
    bool ownTransaction = !InTransaction();
    if (ownTransaction && (error = RunOnce(kBegin)) != kErrorSuccess) return error;
    for (Statement which : {kDeleteTreeValues, kDeleteTreeKeys}) {
        error = Query(*this, which).Bind(1, key).Bind(2, low).Bind(3, high).Run();
        if (error != kErrorSuccess) break;
    }
    if (error == kErrorSuccess && ownTransaction) error = RunOnce(kCommit);
    if (error != kErrorSuccess && ownTransaction) Rollback();
    return error;
}

long RegistryStore::QueryValue(int64_t key, const char* name, uint32_t* type, void* data,
                               uint32_t* size) {
    if (data && !size) return kErrorInvalidParameter;
    Query query(*this, kQueryValue);
    const int result =
        query.Bind(1, key).Bind(2, name ? std::string_view(name) : std::string_view()).Step();
    if (result == SQLITE_DONE) return kErrorFileNotFound;
    if (result != SQLITE_ROW) return query.Error(result);
    if (type) *type = static_cast<uint32_t>(query.Int64(0));
    const void* bytes = query.Blob(1);
    const uint32_t length = query.Bytes(1);
    if (data) {
        if (length > *size) {
            *size = length;
            return kErrorMoreData;
        }
        if (length > 0) memcpy(data, bytes, length);
    }
    if (size) *size = length;
    return kErrorSuccess;
}

long RegistryStore::GetValue(int64_t key, std::string_view name, Value* value) {
    Query query(*this, kQueryValue);
    const int result = query.Bind(1, key).Bind(2, name).Step();
    if (result == SQLITE_DONE) return kErrorFileNotFound;
    if (result != SQLITE_ROW) return query.Error(result);
    value->name = query.Text(2);  // as stored
    value->type = static_cast<uint32_t>(query.Int64(0));
    value->data = query.Text(1);
    return kErrorSuccess;
}

long RegistryStore::SetValue(int64_t key, std::string_view name, uint32_t type, const void* data,
                             size_t size) {
    if (!db_) return kErrorInvalidHandle;
    if ((size > 0 && !data) || size > INT_MAX || name.find('\0') != std::string_view::npos) {
        return kErrorInvalidParameter;
    }
    if (!writable_) return kErrorAccessDenied;
    const long error = Query(*this, kSetValue)
                           .Bind(1, key)
                           .Bind(2, name)
                           .Bind(3, static_cast<int64_t>(type))
                           .BindBlob(4, data, size)
                           .Run();
    if (error != kErrorSuccess) return error;
    return sqlite3_changes(db_) == 0 ? kErrorKeyDeleted : kErrorSuccess;
}

long RegistryStore::DeleteValue(int64_t key, std::string_view name) {
    if (!db_) return kErrorInvalidHandle;
    if (!writable_) return kErrorAccessDenied;
    const long error = Query(*this, kDeleteValue).Bind(1, key).Bind(2, name).Run();
    if (error != kErrorSuccess) return error;
    return sqlite3_changes(db_) == 0 ? kErrorFileNotFound : kErrorSuccess;
}

long RegistryStore::EnumValues(int64_t key, std::vector<Value>* values) {
    values->clear();
    Query query(*this, kEnumValues);
    query.Bind(1, key);
    int result;
    while ((result = query.Step()) == SQLITE_ROW) {
        values->push_back(
            Value{query.Text(0), static_cast<uint32_t>(query.Int64(1)), query.Text(2)});
    }
    if (result != SQLITE_DONE) {
        values->clear();
        return query.Error(result);
    }
    return kErrorSuccess;
}

long RegistryStore::Begin() {
    if (!db_) return kErrorInvalidHandle;
    if (!writable_) return kErrorAccessDenied;
    if (InTransaction()) return kErrorInvalidParameter;
    return RunOnce(kBegin);
}

long RegistryStore::Commit() {
    if (!InTransaction()) return kErrorInvalidParameter;
    return RunOnce(kCommit);  // on failure the batch stays open for Rollback
}

void RegistryStore::Rollback() {
    if (InTransaction()) RunOnce(kRollback);
}

}  // namespace vantrel::platform
