// Notices when the guard store changes on disk, without a connection of its
// own (one kept open would keep a replaced store alive and keep a writer from
// converting it). Each look opens the file as the registry stand-in does (no
// link, only a regular file) and takes its identity (device, inode) and
// SQLite's file change counter, which every commit in rollback mode moves;
// while a store is still in WAL mode, the -wal file's size, time and salts
// too, which every commit there moves. A store that does not exist yet, is
// replaced by another file or cannot be looked at counts as a change when
// that happens.
#pragma once

#include <string>

class StoreWatch {
public:
    explicit StoreWatch(std::string storePath);

    // True when the store may differ from the last call (and at the first).
    bool changed();

private:
    std::string path_;
    std::string last_;
    bool first_ = true;
};
