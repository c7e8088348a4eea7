// Notices when the guard store changes on disk: its file and its SQLite
// write-ahead log are compared by inode, size and modification time. Two
// stat() calls a poll cost less than keeping the store open, and also see a
// store that is created, replaced or removed while the service runs.
#pragma once

#include <string>

class StoreWatch {
public:
    explicit StoreWatch(std::string storePath);
    // True when the store looks different from the last call (and at the
    // first call).
    bool changed();

private:
    std::string path_;
    std::string signature_;
    bool first_ = true;
};
