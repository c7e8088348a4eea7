// Notices when the guard store changes on disk, without a connection of its
// own (one kept open would keep a replaced store alive and keep a writer from
// converting it). Each look opens the file as the registry stand-in does (no
// link, only a regular file) and takes its identity (device, inode) and
// SQLite's file change counter, which every commit in rollback mode moves;
// while a store is still in WAL mode, the -wal file's size, time and salts
// too, which every commit there moves. A store that does not exist yet, is
// replaced by another file or cannot be looked at counts as a change when
// that happens.
//
// When to look: the store's folder is watched with inotify, so a commit wakes
// the service and an idle store costs no wake-up; a folder that cannot be
// watched (not there yet) is looked at every time the loop wakes instead.
#pragma once

#include <string>

class StoreWatch {
public:
    explicit StoreWatch(std::string storePath);
    StoreWatch(const StoreWatch &) = delete;
    StoreWatch &operator=(const StoreWatch &) = delete;
    ~StoreWatch();

    // Readable when something in the store's folder changed.
    int fd() const
    {
        return inotify_;
    }
    // Whether a change wakes fd(); if not, the caller looks now and then.
    bool watching() const
    {
        return folder_ >= 0;
    }
    // True when the store may differ from the last call (and at the first).
    bool changed();

private:
    void watchFolder();

    std::string path_;
    int inotify_ = -1;
    int folder_ = -1;
    std::string last_;
    bool first_ = true;
};
