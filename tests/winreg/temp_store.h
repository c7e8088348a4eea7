// A registry store of its own for one test: while a TempStore lives,
// VNKESTRIX_REGISTRY names a file in a fresh temporary directory. query()
// looks at that file as another process would.
#pragma once

#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <string>

class TempStore {
public:
    TempStore() { use(dir_.filePath(QStringLiteral("registry.sqlite3"))); }

    // Points the variable at a file that nobody can create, root included:
    // its parent is a regular file.
    void makeUnusable() {
        QFile(dir_.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly);
        use(dir_.filePath(QStringLiteral("file/registry.sqlite3")));
    }

    // Runs `sql` with a connection of its own; the first column of the first
    // row as text ("" when there is none), or "error: ..." when SQLite refuses.
    std::string query(const char *sql) const {
        sqlite3 *db = nullptr;
        sqlite3_stmt *stmt = nullptr;
        std::string result;
        int rc = sqlite3_open_v2(path_.toLocal8Bit().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc == SQLITE_OK && (rc = sqlite3_busy_timeout(db, 5000)) == SQLITE_OK)
            rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        for (const unsigned char *text; rc == SQLITE_OK || rc == SQLITE_ROW;)
            if ((rc = sqlite3_step(stmt)) == SQLITE_ROW && (text = sqlite3_column_text(stmt, 0)) && result.empty())
                result = reinterpret_cast<const char *>(text);
        sqlite3_finalize(stmt);
        result = rc == SQLITE_DONE ? result : "error: " + std::string(sqlite3_errmsg(db));
        sqlite3_close(db);
        return result;
    }

private:
    void use(const QString &path) { qputenv("VNKESTRIX_REGISTRY", (path_ = path).toLocal8Bit()); }

    QTemporaryDir dir_;
    QString path_;
};
