// The registry calls over one SQLite file. README.md in this folder describes
// the file for the programs that read it.

#include "winreg.h"

#include "store_file.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
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
// How long a read may work beyond its wait for the lock: ample for a store
// of this size, and a bound on what a crafted file can cost a reader.
constexpr auto readWork = std::chrono::milliseconds(1000);
constexpr std::size_t maxValueNameLength = 16383;

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


// The store is written by group members and read by root: it is untrusted
// input. These bound what a crafted file can make SQLite do.
constexpr std::pair<int, int> limits[] = {
    {SQLITE_LIMIT_LENGTH, 1 << 22},       {SQLITE_LIMIT_SQL_LENGTH, 4096},
    {SQLITE_LIMIT_COLUMN, 16},            {SQLITE_LIMIT_EXPR_DEPTH, 32},
    {SQLITE_LIMIT_COMPOUND_SELECT, 4},    {SQLITE_LIMIT_VDBE_OP, 4096},
    {SQLITE_LIMIT_FUNCTION_ARG, 8},       {SQLITE_LIMIT_ATTACHED, 0},
    {SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 64}, {SQLITE_LIMIT_VARIABLE_NUMBER, 8},
    {SQLITE_LIMIT_TRIGGER_DEPTH, 1},      {SQLITE_LIMIT_WORKER_THREADS, 0},
};

// The schema as one text: sqlite_master's rows in name order.
constexpr const char *schemaText
    = "SELECT group_concat(type || ' ' || name || ' ' || tbl_name || ' ' || ifnull(sql, ''), char(10))"
      " FROM (SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name)";

LONG fromSqlite(int rc, LONG otherwise)
{
    // A link, FIFO or folder in place of the store or a journal shows in
    // SQLite only as a file it could not open.
    if (takeFileTypeRefusal() || rc == SQLITE_CANTOPEN_SYMLINK)
        return ERROR_BAD_FILE_TYPE;
    if (rc == SQLITE_READONLY_ROLLBACK)
        return ERROR_CANTREAD; // a killed writer's journal that this user may not roll back
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
    case SQLITE_INTERRUPT:
        return ERROR_TIMEOUT;
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

// The schema text of a store with the two tables and nothing else, as
// SQLite records it.
const std::string &expectedSchema()
{
    static const std::string text = [] {
        sqlite3 *db = nullptr;
        std::string result;
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
            && sqlite3_exec(db, schema, nullptr, nullptr, nullptr) == SQLITE_OK)
            firstColumn(db, schemaText, &result);
        sqlite3_close(db);
        return result;
    }();
    return text;
}

// Whether the file has the tables yet; SQLite's result when it cannot tell.
// A file with anything but exactly these two tables (another program's
// tables, an index, a trigger, a view, a computed column) is no store of
// ours: it is neither read nor extended (SQLITE_NOTADB).
int checkTables(sqlite3 *db, bool &exist)
{
    std::string found;
    int rc = firstColumn(db, schemaText, &found);
    exist = rc == SQLITE_OK && !found.empty() && found == expectedSchema();
    if ((rc == SQLITE_OK && !exist && !found.empty()) || (rc & 0xFF) == SQLITE_TOOBIG)
        rc = SQLITE_NOTADB;
    return rc;
}

// Settings of every connection, reader's or writer's, before it reads a
// byte: no triggers, views or functions from the file, tight limits.
void harden(sqlite3 *db)
{
    sqlite3_extended_result_codes(db, 1);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    for (const auto &[limit, value] : limits)
        sqlite3_limit(db, limit, value);
    firstColumn(db, "PRAGMA cell_size_check=ON");
}

// Prepares a write connection: a rollback journal, full synchronous commits,
// the tables. Taking the write lock also proves that this process may write
// the file. A store still in WAL mode is converted when no other connection
// has it open; until then it stays in WAL mode, its WAL kept for readers.
int setUpWritable(sqlite3 *db, int (*wait)(void *, int), void *waiter)
{
    bool ours = false;
    int rc = checkTables(db, ours);
    if (rc != SQLITE_OK)
        return rc;
    std::string mode;
    sqlite3_busy_handler(db, nullptr, nullptr); // try the conversion without waiting
    firstColumn(db, "PRAGMA journal_mode=DELETE", &mode);
    sqlite3_busy_handler(db, wait, waiter);
    if (mode == "wal") {
        int persist = 1;
        sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    }
    rc = firstColumn(db, "PRAGMA synchronous=FULL");
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = checkTables(db, ours);
    if (rc == SQLITE_OK && !ours)
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
        takeFileTypeRefusal();
        if (!inTransaction_)
            setDeadline(busyTimeout, readWork);
    }

    // Makes sure a connection to the file in effect is open, able to write
    // when `write` is set, and that the file is still a store of ours.
    // Reading never makes the file: one that does not exist yet counts as an
    // empty registry. A connection whose path now names another file (a
    // restored backup, say) is replaced by one to that file.
    LONG connect(bool write)
    {
        const std::string wanted = wantedStorePath();
        if (wanted != path_) {
            if (inTransaction_)
                return ERROR_INVALID_PARAMETER; // the transaction belongs to the other file
            close();
            path_ = wanted;
        }
        if (inTransaction_)
            return write && !writable_ ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
        if (db_ && (replaced() || (write && !writable_)))
            close();
        if (!db_) {
            const LONG rc = write ? openWritable() : openReadable();
            if (rc != ERROR_SUCCESS || !db_)
                return rc;
        }
        const int rc = checkTables(db_, hasTables_);
        return rc == SQLITE_OK ? ERROR_SUCCESS : fromSqlite(rc, ERROR_CANTREAD);
    }

    // A write transaction, or with `reading` a read transaction: one
    // snapshot of the store for every call until the end.
    LONG beginTransaction(std::chrono::milliseconds timeout, bool reading)
    {
        if (inTransaction_)
            return ERROR_INVALID_PARAMETER;
        takeFileTypeRefusal();
        // A save keeps to its time-out in all; a read may work a little
        // beyond its wait.
        setDeadline(timeout, reading ? readWork : Clock::duration::zero());
        LONG rc = connect(!reading);
        if (rc == ERROR_SUCCESS && db_) {
            int begun = exec(reading ? "BEGIN" : "BEGIN IMMEDIATE");
            // Checked within the transaction, so that what is read is what
            // was checked; a read transaction starts its snapshot here.
            if (begun == SQLITE_OK)
                begun = checkTables(db_, hasTables_);
            if (begun != SQLITE_OK) {
                exec("ROLLBACK");
                rc = fromSqlite(begun, reading ? ERROR_CANTREAD : ERROR_CANTWRITE);
            }
        }
        inTransaction_ = rc == ERROR_SUCCESS;
        failure_ = ERROR_SUCCESS;
        if (!inTransaction_)
            close();
        return rc;
    }

    LONG endTransaction(bool commit)
    {
        if (!inTransaction_)
            return ERROR_INVALID_PARAMETER;
        inTransaction_ = false;
        LONG rc = commit ? failure_ : ERROR_SUCCESS;
        if (commit && rc == ERROR_SUCCESS && db_) {
            const int committed = exec("COMMIT");
            rc = committed == SQLITE_OK ? ERROR_SUCCESS : fromSqlite(committed, ERROR_CANTWRITE);
        }
        if (db_ && (!commit || rc != ERROR_SUCCESS))
            exec("ROLLBACK"); // fails harmlessly when SQLite rolled back already
        // Not kept open: a long-lived connection would keep a replaced store
        // alive and keep a writer from converting a WAL store.
        close();
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
    bool hasTables() const
    {
        return db_ && hasTables_;
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
    void setDeadline(Clock::duration wait, Clock::duration work)
    {
        deadline_ = Clock::now() + wait;
        workDeadline_ = deadline_ + work;
    }

    static int waitForLock(void *self, int)
    {
        const Clock::time_point deadline = static_cast<Store *>(self)->deadline_;
        if (Clock::now() >= deadline)
            return 0;
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(2), deadline - Clock::now()));
        return 1;
    }

    // Interrupts a statement that works past the deadline, whatever the file
    // makes it do.
    static int stopAtDeadline(void *self)
    {
        return Clock::now() >= static_cast<Store *>(self)->workDeadline_ ? 1 : 0;
    }

    // Whether the path names another file than the connection has open, or
    // none.
    bool replaced() const
    {
        struct stat info {};
        return ::lstat(path_.c_str(), &info) != 0 || !(StoreFileId{info.st_dev, info.st_ino} == id_);
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

    // Opens the file no matter what user: never through a link, only a
    // regular file (see store_file.h), with the limits set before anything
    // is read.
    int open(int flags, sqlite3 *&db)
    {
        guardSqliteOpens();
        takeLastOpenedFile();
        int rc = sqlite3_open_v2(path_.c_str(), &db, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
        if (rc != SQLITE_OK) {
            rc = db ? sqlite3_extended_errcode(db) : rc;
            sqlite3_close(db);
            db = nullptr;
            return rc;
        }
        id_ = takeLastOpenedFile();
        struct stat info {};
        if (id_ == StoreFileId{} && ::lstat(path_.c_str(), &info) == 0)
            id_ = StoreFileId{info.st_dev, info.st_ino}; // SQLite reused a descriptor it had
        harden(db);
        sqlite3_busy_handler(db, waitForLock, this);
        sqlite3_progress_handler(db, 100, stopAtDeadline, this);
        return SQLITE_OK;
    }

    LONG openWritable()
    {
        if (path_ == systemStoreFile)
            mkdir(systemStoreDir, 0755);
        sqlite3 *db = nullptr;
        int rc = open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, db);
        if (rc == SQLITE_OK) {
            rc = sqlite3_db_readonly(db, "main") == 0 ? setUpWritable(db, waitForLock, this)
                                                      : SQLITE_READONLY;
        }
        if (rc != SQLITE_OK) {
            sqlite3_close(db);
            return fromSqlite(rc, ERROR_CANTWRITE);
        }
        db_ = db;
        writable_ = true;
        return ERROR_SUCCESS;
    }

    // Opened for writing where the user may, without creating anything, so
    // that a journal left by a killed writer is rolled back; SQLite falls
    // back to reading only where the user may not write.
    LONG openReadable()
    {
        struct stat info {};
        if (::lstat(path_.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR))
            return ERROR_SUCCESS; // empty registry
        sqlite3 *db = nullptr;
        const int rc = open(SQLITE_OPEN_READWRITE, db);
        if (rc != SQLITE_OK)
            return fromSqlite(rc, ERROR_CANTREAD);
        db_ = db;
        return ERROR_SUCCESS;
    }

    std::string path_;
    sqlite3 *db_ = nullptr;
    StoreFileId id_;
    bool writable_ = false;
    bool hasTables_ = false;
    sqlite3_stmt *stmts_[SqlCount] = {};
    std::map<std::uintptr_t, OpenKey> handles_;
    std::uintptr_t lastHandle_ = 0x1000;
    Clock::time_point deadline_;
    Clock::time_point workDeadline_;
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
    // The parent handle's own rights do not matter here (one opened with
    // KEY_READ may create below it), as in Wine's registry; the store must
    // be writable.
    if (rc == ERROR_FILE_NOT_FOUND) {
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
    // Windows' limit on value names; longer ones would be values that no
    // Windows program could write.
    if (lpValueName && std::strlen(lpValueName) > maxValueNameLength)
        return ERROR_INVALID_PARAMETER;

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
    return s.beginTransaction(std::chrono::milliseconds(timeoutMs), false);
}

LONG VnkRegBeginReadTransaction(DWORD timeoutMs)
{
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.beginTransaction(std::chrono::milliseconds(timeoutMs), true);
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
