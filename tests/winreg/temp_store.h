// A registry store of its own for one test: while a TempStore lives,
// VNKESTRIX_REGISTRY names a file in a fresh temporary directory.
#pragma once

#include <sqlite3.h>

#include <string>

// Runs `sql` on the store file `path` with a connection of its own: the first
// column of the first row as text ("" when there is none), or "error: ..."
// when SQLite refuses.
inline std::string queryStore(const std::string &path, const std::string &sql) {
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    std::string result;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK && (rc = sqlite3_busy_timeout(db, 5000)) == SQLITE_OK)
        rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    for (const unsigned char *text; rc == SQLITE_OK || rc == SQLITE_ROW;)
        if ((rc = sqlite3_step(stmt)) == SQLITE_ROW && (text = sqlite3_column_text(stmt, 0)) && result.empty())
            result = reinterpret_cast<const char *>(text);
    sqlite3_finalize(stmt);
    result = rc == SQLITE_DONE ? result : "error: " + std::string(sqlite3_errmsg(db));
    sqlite3_close(db);
    return result;
}

// The registry conformance program shares queryStore, without Qt.
#ifdef QT_CORE_LIB
#include <QTemporaryDir>

struct TempStore {
    QTemporaryDir dir;
    TempStore() { qputenv("VNKESTRIX_REGISTRY", dir.filePath(QStringLiteral("registry.sqlite3")).toLocal8Bit()); }
};
#endif
