// The registry calls over one SQLite file. README.md in this folder describes
// the file for the programs that read it.

#include "winreg.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// The one place that fixes where the registry lives; VNKESTRIX_REGISTRY
// names another file.
constexpr const char *systemStoreDir = "/var/lib/vnkestrix";
constexpr const char *systemStoreFile = "/var/lib/vnkestrix/registry.sqlite3";
constexpr const char *storeVariable = "VNKESTRIX_REGISTRY";
// How long one call waits for another process's write lock; a transaction
// has one time-out for all of its calls.
constexpr auto busyTimeout = std::chrono::milliseconds(5000);

// Rights that need a writable store: the value and key writes, plus DELETE,
// WRITE_DAC and WRITE_OWNER, which KEY_ALL_ACCESS carries.
constexpr REGSAM writeRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0xD0000;

constexpr const char *schema = "CREATE TABLE IF NOT EXISTS reg_keys("
                               " path TEXT NOT NULL COLLATE NOCASE PRIMARY KEY"
                               ") WITHOUT ROWID;"
                               "CREATE TABLE IF NOT EXISTS reg_values("
                               " key TEXT NOT NULL COLLATE NOCASE,"
                               " name TEXT NOT NULL COLLATE NOCASE,"
                               " type INTEGER NOT NULL,"
                               " data BLOB NOT NULL,"
                               " PRIMARY KEY(key, name)"
                               ") WITHOUT ROWID;";

enum Sql { FindKey, AddKey, GetValue, PutValue, SqlCount };

constexpr const char *sqlText[SqlCount] = {
    "SELECT path FROM reg_keys WHERE path = ?1",
    "INSERT INTO reg_keys(path) VALUES(?1) ON CONFLICT DO NOTHING",
    "SELECT type, data FROM reg_values WHERE key = ?1 AND name = ?2",
    "INSERT INTO reg_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
    " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data",
};

using Clock = std::chrono::steady_clock;

LONG fromSqlite(int rc, LONG otherwise)
{
    switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
        return ERROR_ACCESS_DENIED;
    case SQLITE_CORRUPT:
        return ERROR_BADDB;
    case SQLITE_NOTADB:
        return ERROR_NOT_REGISTRY_FILE;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    default:
        return otherwise;
    }
}

const char *rootName(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (key == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_USERS)
        return "HKEY_USERS";
    return nullptr;
}

std::string wantedStorePath()
{
    return VnkRegStorePath();
}

// Runs one statement and hands back the first column of its first row.
int firstColumn(sqlite3 *db, const char *sql, std::string *result = nullptr)
{
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW && result) {
            const unsigned char *text = sqlite3_column_text(stmt, 0);
            *result = text ? reinterpret_cast<const char *>(text) : "";
        }
        if (rc == SQLITE_ROW || rc == SQLITE_DONE)
            rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    return rc;
}

// Whether the file has the tables yet; SQLite's result when it cannot tell.
// A file that has tables, but not these, belongs to another program: it is
// neither read as an empty registry nor extended (SQLITE_NOTADB).
int checkTables(sqlite3 *db, bool &exist)
{
    std::string counts;
    const int rc = firstColumn(db,
                               "SELECT count(*) || '/' || count(CASE WHEN name IN ('reg_keys', "
                               "'reg_values') THEN 1 END) FROM sqlite_master WHERE type = 'table'",
                               &counts);
    exist = rc == SQLITE_OK && counts.size() > 2 && counts.compare(counts.size() - 2, 2, "/2") == 0;
    if (rc == SQLITE_OK && !exist && counts != "0/0")
        return SQLITE_NOTADB;
    return rc;
}

// Prepares a write connection: WAL, full synchronous commits, the tables.
// Taking the write lock also proves that this process may write the file.
// The WAL and its index stay when the last connection closes, so that users
// who may only read the file can still open it.
int setUpWritable(sqlite3 *db)
{
    bool ours = false;
    int rc = checkTables(db, ours);
    if (rc != SQLITE_OK)
        return rc;
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    std::string mode;
    rc = firstColumn(db, "PRAGMA journal_mode=WAL", &mode);
    if (rc != SQLITE_OK)
        return rc;
    if (mode != "wal")
        return SQLITE_READONLY;
    rc = firstColumn(db, "PRAGMA synchronous=FULL");
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_exec(db, schema, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return rc;
}

// A prepared statement in use; resetting it at the end of the scope ends its
// read transaction at once.
class Statement {
public:
    explicit Statement(sqlite3_stmt *stmt) : stmt_(stmt) { }
    ~Statement()
    {
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const
    {
        return stmt_ != nullptr;
    }
    sqlite3_stmt *get() const
    {
        return stmt_;
    }
    void bind(int index, const std::string &text)
    {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    int step()
    {
        return sqlite3_step(stmt_);
    }

private:
    sqlite3_stmt *stmt_;
};

struct OpenKey {
    std::string path; // as stored: "HKEY_LOCAL_MACHINE\SOFTWARE\Vantrel"
    REGSAM access = 0;
};

// The process's one connection to the store, its statements and the open
// handles. Every call holds the mutex from start to end.
class Store {
public:
    std::mutex mutex;

    // Each call waits for other writers until its own time-out, or within a
    // transaction until the transaction's.
    void startCall()
    {
        if (!inTransaction_)
            deadline_ = Clock::now() + busyTimeout;
    }

    // Makes sure a connection to the file in effect is open, able to write
    // when `write` is set. Reading opens the file read-only and never makes
    // it: a store file that does not exist yet counts as an empty registry.
    LONG connect(bool write)
    {
        const std::string wanted = wantedStorePath();
        if (wanted != path_) {
            if (inTransaction_)
                return ERROR_INVALID_PARAMETER; // the transaction belongs to the other file
            close();
            path_ = wanted;
        }
        if (db_ && (writable_ || !write))
            return ERROR_SUCCESS;
        close();
        if (!write)
            return openReadOnly();
        const int rc = openWritable();
        return rc == SQLITE_OK ? ERROR_SUCCESS : fromSqlite(rc, ERROR_ACCESS_DENIED);
    }

    LONG beginTransaction(std::chrono::milliseconds timeout)
    {
        if (inTransaction_)
            return ERROR_INVALID_PARAMETER;
        deadline_ = Clock::now() + timeout;
        LONG rc = connect(true);
        if (rc == ERROR_SUCCESS) {
            const int begun = exec("BEGIN IMMEDIATE");
            rc = begun == SQLITE_OK ? ERROR_SUCCESS : fromSqlite(begun, ERROR_CANTWRITE);
        }
        inTransaction_ = rc == ERROR_SUCCESS;
        failure_ = ERROR_SUCCESS;
        return rc;
    }

    LONG endTransaction(bool commit)
    {
        if (!inTransaction_)
            return ERROR_INVALID_PARAMETER;
        inTransaction_ = false;
        LONG rc = commit ? failure_ : ERROR_SUCCESS;
        if (commit && rc == ERROR_SUCCESS) {
            const int committed = exec("COMMIT");
            rc = committed == SQLITE_OK ? ERROR_SUCCESS : fromSqlite(committed, ERROR_CANTWRITE);
        }
        if (!commit || rc != ERROR_SUCCESS)
            exec("ROLLBACK"); // fails harmlessly when SQLite rolled back already
        return rc;
    }

    bool inTransaction() const
    {
        return inTransaction_;
    }

    // A failed write ends what a transaction may still do: SQLite may have
    // rolled it back already, and later writes would then commit one by one.
    LONG failed(LONG rc)
    {
        if (inTransaction_ && rc != ERROR_SUCCESS && failure_ == ERROR_SUCCESS)
            failure_ = rc;
        return rc;
    }
    LONG failure() const
    {
        return inTransaction_ ? failure_ : ERROR_SUCCESS;
    }

    // False when there is nothing to read: no file, or no tables in it yet.
    bool hasTables()
    {
        if (db_ && !hasTables_)
            checkTables(db_, hasTables_);
        return hasTables_;
    }

    Statement statement(Sql which)
    {
        if (!stmts_[which]) {
            sqlite3_prepare_v3(db_, sqlText[which], -1, SQLITE_PREPARE_PERSISTENT, &stmts_[which],
                               nullptr);
        }
        return Statement(stmts_[which]);
    }

    int exec(const char *sql)
    {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    }
    int changes() const
    {
        return sqlite3_changes(db_);
    }

    HKEY addHandle(OpenKey key)
    {
        lastHandle_ += 4;
        handles_[lastHandle_] = std::move(key);
        return reinterpret_cast<HKEY>(lastHandle_);
    }

    // Finds what a handle stands for; the roots are always open with full
    // access.
    LONG resolve(HKEY handle, OpenKey &key) const
    {
        if (const char *root = rootName(handle)) {
            key = OpenKey{root, KEY_ALL_ACCESS};
            return ERROR_SUCCESS;
        }
        const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == handles_.end())
            return ERROR_INVALID_HANDLE;
        key = found->second;
        return ERROR_SUCCESS;
    }

    // The key a value call works on: the handle must grant `right`, and the
    // store is opened for reading or writing as the call needs.
    LONG valueKey(HKEY handle, REGSAM right, bool write, OpenKey &key)
    {
        LONG rc = resolve(handle, key);
        if (rc == ERROR_SUCCESS && !(key.access & right))
            rc = ERROR_ACCESS_DENIED;
        if (rc == ERROR_SUCCESS)
            rc = connect(write);
        return rc;
    }

    bool removeHandle(HKEY handle)
    {
        return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
    }

private:
    static int waitForLock(void *self, int)
    {
        const Clock::time_point deadline = static_cast<Store *>(self)->deadline_;
        if (Clock::now() >= deadline)
            return 0;
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(2), deadline - Clock::now()));
        return 1;
    }

    void close()
    {
        for (sqlite3_stmt *&stmt : stmts_) {
            sqlite3_finalize(stmt);
            stmt = nullptr;
        }
        sqlite3_close(db_);
        db_ = nullptr;
        writable_ = false;
        hasTables_ = false;
    }

    int openWritable()
    {
        if (path_ == systemStoreFile)
            mkdir(systemStoreDir, 0755);
        sqlite3 *db = nullptr;
        int rc = sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                 nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_handler(db, waitForLock, this);
            rc = sqlite3_db_readonly(db, "main") == 0 ? setUpWritable(db) : SQLITE_READONLY;
        }
        if (rc != SQLITE_OK) {
            sqlite3_close(db);
            return rc;
        }
        db_ = db;
        writable_ = true;
        hasTables_ = true;
        return SQLITE_OK;
    }

    LONG openReadOnly()
    {
        struct stat info;
        if (stat(path_.c_str(), &info) != 0)
            return ERROR_SUCCESS; // empty registry
        sqlite3 *db = nullptr;
        int rc = sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_handler(db, waitForLock, this);
            rc = checkTables(db, hasTables_);
        }
        if (rc != SQLITE_OK) {
            sqlite3_close(db);
            return fromSqlite(rc, ERROR_CANTREAD);
        }
        db_ = db;
        return ERROR_SUCCESS;
    }

    std::string path_;
    sqlite3 *db_ = nullptr;
    bool writable_ = false;
    bool hasTables_ = false;
    sqlite3_stmt *stmts_[SqlCount] = {};
    std::map<std::uintptr_t, OpenKey> handles_;
    std::uintptr_t lastHandle_ = 0x1000;
    Clock::time_point deadline_;
    bool inTransaction_ = false;
    LONG failure_ = ERROR_SUCCESS; // the first failed write of the transaction
};

// Never destroyed, so that a key closed during static destruction still
// finds it; the connection ends with the process, which SQLite's WAL allows.
Store &store()
{
    static Store *instance = new Store;
    return *instance;
}

// Splits a sub-key path at its backslashes. A path may not begin with one;
// empty parts are skipped.
LONG splitPath(LPCSTR path, std::vector<std::string> &parts)
{
    if (!path)
        return ERROR_SUCCESS;
    if (path[0] == '\\')
        return ERROR_BAD_PATHNAME;
    std::string part;
    for (const char *c = path;; ++c) {
        if (*c == '\\' || *c == '\0') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
            if (*c == '\0')
                break;
        } else {
            part += *c;
        }
    }
    return ERROR_SUCCESS;
}

// Follows `parts` down from `base`, making missing keys when `create` is set
// (inside the caller's write transaction). `path` receives the key's stored
// spelling; `created` tells whether a key was made.
LONG walk(Store &s, const std::string &base, const std::vector<std::string> &parts, bool create,
          std::string &path, bool &created)
{
    path = base;
    if (parts.empty())
        return ERROR_SUCCESS;
    if (!s.hasTables())
        return ERROR_FILE_NOT_FOUND;
    for (const std::string &part : parts) {
        const std::string candidate = path + '\\' + part;
        if (create) {
            Statement add = s.statement(AddKey);
            if (!add.ok())
                return ERROR_CANTWRITE;
            add.bind(1, candidate);
            const int rc = add.step();
            if (rc != SQLITE_DONE)
                return fromSqlite(rc, ERROR_CANTWRITE);
            if (s.changes() > 0)
                created = true;
        }
        Statement find = s.statement(FindKey);
        if (!find.ok())
            return ERROR_CANTREAD;
        find.bind(1, candidate);
        const int rc = find.step();
        if (rc == SQLITE_DONE)
            return ERROR_FILE_NOT_FOUND;
        if (rc != SQLITE_ROW)
            return fromSqlite(rc, ERROR_CANTREAD);
        path = reinterpret_cast<const char *>(sqlite3_column_text(find.get(), 0));
    }
    return ERROR_SUCCESS;
}

// Makes the missing keys together: a transaction of their own, or a
// savepoint within the caller's.
LONG createPath(Store &s, const std::string &base, const std::vector<std::string> &parts,
                std::string &path, bool &created)
{
    const bool own = !s.inTransaction();
    LONG result = s.failure();
    if (result != ERROR_SUCCESS)
        return result;
    int rc = s.exec(own ? "BEGIN IMMEDIATE" : "SAVEPOINT create_key");
    if (rc != SQLITE_OK)
        return s.failed(fromSqlite(rc, ERROR_CANTWRITE));
    result = walk(s, base, parts, true, path, created);
    if (result == ERROR_SUCCESS) {
        rc = s.exec(own ? "COMMIT" : "RELEASE create_key");
        if (rc != SQLITE_OK)
            result = fromSqlite(rc, ERROR_CANTWRITE);
    }
    if (result != ERROR_SUCCESS) {
        s.exec(own ? "ROLLBACK" : "ROLLBACK TO create_key");
        created = false;
    }
    return s.failed(result);
}

// The parent key and the path components of a create or open call, with the
// store opened for reading or writing as the call needs.
LONG locateSubKey(Store &s, HKEY hKey, LPCSTR subKey, bool write, OpenKey &parent,
                  std::vector<std::string> &parts)
{
    LONG rc = s.resolve(hKey, parent);
    if (rc == ERROR_SUCCESS)
        rc = splitPath(subKey, parts);
    if (rc == ERROR_SUCCESS)
        rc = s.connect(write);
    return rc;
}

} // namespace

extern "C" {

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD dwOptions, REGSAM samDesired,
                     const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (!lpSubKey || dwOptions != REG_OPTION_NON_VOLATILE)
        return ERROR_INVALID_PARAMETER;

    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.startCall();
    OpenKey parent;
    std::vector<std::string> parts;
    LONG rc = locateSubKey(s, hKey, lpSubKey, (samDesired & writeRights) != 0, parent, parts);
    if (rc != ERROR_SUCCESS)
        return rc;

    std::string path;
    bool created = false;
    rc = walk(s, parent.path, parts, false, path, created);
    if (rc == ERROR_FILE_NOT_FOUND) {
        if (!(parent.access & KEY_CREATE_SUB_KEY))
            return ERROR_ACCESS_DENIED;
        rc = s.connect(true);
        if (rc == ERROR_SUCCESS)
            rc = createPath(s, parent.path, parts, path, created);
    }
    if (rc != ERROR_SUCCESS)
        return rc;

    *phkResult = s.addHandle(OpenKey{path, samDesired});
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;

    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.startCall();
    OpenKey parent;
    std::vector<std::string> parts;
    LONG rc = locateSubKey(s, hKey, lpSubKey, false, parent, parts);
    std::string path;
    bool created = false;
    if (rc == ERROR_SUCCESS)
        rc = walk(s, parent.path, parts, false, path, created);
    if (rc == ERROR_SUCCESS && (samDesired & writeRights))
        rc = s.connect(true);
    if (rc != ERROR_SUCCESS)
        return rc;

    *phkResult = s.addHandle(OpenKey{path, samDesired});
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;

    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.startCall();
    OpenKey key;
    const LONG rc = s.valueKey(hKey, KEY_QUERY_VALUE, false, key);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (!s.hasTables())
        return ERROR_FILE_NOT_FOUND;

    Statement get = s.statement(GetValue);
    if (!get.ok())
        return ERROR_CANTREAD;
    get.bind(1, key.path);
    get.bind(2, lpValueName ? lpValueName : "");
    const int step = get.step();
    if (step == SQLITE_DONE)
        return ERROR_FILE_NOT_FOUND;
    if (step != SQLITE_ROW)
        return fromSqlite(step, ERROR_CANTREAD);

    const auto type = static_cast<DWORD>(sqlite3_column_int64(get.get(), 0));
    const void *bytes = sqlite3_column_blob(get.get(), 1);
    const auto size = static_cast<DWORD>(sqlite3_column_bytes(get.get(), 1));
    if (lpType)
        *lpType = type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    if (lpData && size > *lpcbData) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size > 0)
        std::memcpy(lpData, bytes, size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE *lpData,
                    DWORD cbData)
{
    if (!lpData && cbData > 0)
        return ERROR_NOACCESS;

    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.startCall();
    OpenKey key;
    LONG rc = s.valueKey(hKey, KEY_SET_VALUE, true, key);
    if (rc == ERROR_SUCCESS)
        rc = s.failure();
    if (rc != ERROR_SUCCESS)
        return rc;

    // One statement: outside a transaction it commits (synchronously) on its
    // own; inside one it waits for the transaction's commit.
    Statement put = s.statement(PutValue);
    if (!put.ok())
        return s.failed(ERROR_CANTWRITE);
    put.bind(1, key.path);
    put.bind(2, lpValueName ? lpValueName : "");
    sqlite3_bind_int64(put.get(), 3, dwType);
    if (cbData > 0) {
        sqlite3_bind_blob(put.get(), 4, lpData, static_cast<int>(cbData), SQLITE_TRANSIENT);
    } else {
        sqlite3_bind_zeroblob(put.get(), 4, 0);
    }
    const int step = put.step();
    return s.failed(step == SQLITE_DONE ? ERROR_SUCCESS : fromSqlite(step, ERROR_CANTWRITE));
}

LONG RegCloseKey(HKEY hKey)
{
    if (rootName(hKey))
        return ERROR_SUCCESS; // the predefined roots are never closed
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.removeHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG VnkRegBeginTransaction(DWORD timeoutMs)
{
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.beginTransaction(std::chrono::milliseconds(timeoutMs));
}

LONG VnkRegEndTransaction(int commit)
{
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.endTransaction(commit != 0);
}

LPCSTR VnkRegStorePath(void)
{
    const char *path = std::getenv(storeVariable);
    return path && *path ? path : systemStoreFile;
}

} // extern "C"
