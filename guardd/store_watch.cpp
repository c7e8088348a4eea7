#include "store_watch.h"

#include <sqlite3.h>
#include <sys/stat.h>

StoreWatch::StoreWatch(std::string storePath) : path_(std::move(storePath)) { }

StoreWatch::~StoreWatch()
{
    close();
}

void StoreWatch::close()
{
    sqlite3_close(db_);
    db_ = nullptr;
    inode_ = 0;
    version_ = -1;
}

bool StoreWatch::changed()
{
    const bool first = first_;
    first_ = false;
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        const bool wasThere = db_ != nullptr;
        close();
        return first || wasThere;
    }
    if (db_ && info.st_ino != inode_)
        close();
    const bool opened = !db_;
    if (!db_) {
        if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            close();
            return true; // the table's own read will say what is wrong
        }
        inode_ = info.st_ino;
    }
    sqlite3_stmt *stmt = nullptr;
    long long version = -1;
    if (sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &stmt, nullptr) == SQLITE_OK
        && sqlite3_step(stmt) == SQLITE_ROW)
        version = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    const bool changed = first || opened || version != version_ || version < 0;
    version_ = version;
    return changed;
}
