// The store and its journal files are opened as untrusted input: whoever may
// write the store's folder may put a link, a FIFO or a folder in their place,
// and root must neither follow the one nor hang on the other.
#pragma once

#include <sys/types.h>

// Opens `path` without following a symbolic link in its last part and
// without blocking on a FIFO, and keeps the descriptor only when it is a
// regular file (or a folder, with `folderToo`). A refused file is closed and
// gives -1 with errno ELOOP (a link), EISDIR or ENXIO (anything else);
// takeFileTypeRefusal() then says so.
int openStoreFile(const char *path, int flags, mode_t mode, bool folderToo = false);

// Whether an openStoreFile() of this thread refused a file for what it is
// since the last time this was asked.
bool takeFileTypeRefusal();

// The device and inode of the last file that openStoreFile() of this thread
// kept, so that an open connection can tell when its path names another
// file; {0, 0} after it was taken.
struct StoreFileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const StoreFileId &other) const
    {
        return device == other.device && inode == other.inode;
    }
};
StoreFileId takeLastOpenedFile();

// Sends every open of SQLite's unix files through openStoreFile, once for
// the whole process. SQLite opens a folder only read-only, to sync it.
void guardSqliteOpens();
