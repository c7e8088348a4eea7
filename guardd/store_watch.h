// Notices when the guard store changes on disk: a read-only connection of
// its own asks SQLite for the store's data version, which moves with every
// commit of another connection, so no change is missed however quickly the
// commits follow each other. A store that does not exist yet, or is
// replaced by another file, counts as a change when that happens.
#pragma once

#include <sys/types.h>

#include <string>

struct sqlite3;

class StoreWatch {
public:
    explicit StoreWatch(std::string storePath);
    ~StoreWatch();
    StoreWatch(const StoreWatch &) = delete;
    StoreWatch &operator=(const StoreWatch &) = delete;

    // True when the store may differ from the last call (and at the first).
    bool changed();

private:
    void close();

    std::string path_;
    sqlite3 *db_ = nullptr;
    ino_t inode_ = 0;
    long long version_ = -1;
    bool first_ = true;
};
