#include "store_file.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local bool refusedType = false;
thread_local StoreFileId lastOpened;

// SQLite's unix VFS calls its "open" with these arguments.
int sqliteOpen(const char *path, int flags, int mode)
{
    // SQLite's own two devices: randomness, and /dev/null parked on
    // descriptors 0 to 2 when the process started with them closed.
    if (std::strcmp(path, "/dev/urandom") == 0 || std::strcmp(path, "/dev/null") == 0)
        return ::open(path, flags | O_CLOEXEC, mode);
    // A folder only where SQLite syncs one: read-only, never made. Database
    // and journal files are opened for writing first (a folder refuses that
    // with EISDIR), so a folder never passes for one.
    const bool folderSync = (flags & O_ACCMODE) == O_RDONLY && !(flags & O_CREAT);
    return openStoreFile(path, flags, static_cast<mode_t>(mode), folderSync);
}

} // namespace

int openStoreFile(const char *path, int flags, mode_t mode, bool folderToo)
{
    const int fd = ::open(path, flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
    if (fd < 0) {
        refusedType = refusedType || errno == ELOOP || errno == EISDIR || errno == ENXIO;
        return -1;
    }
    struct stat info {};
    const bool allowed = ::fstat(fd, &info) == 0
        && (S_ISREG(info.st_mode) || (folderToo && S_ISDIR(info.st_mode)));
    if (!allowed) {
        ::close(fd);
        refusedType = true;
        errno = ENXIO;
        return -1;
    }
    // Blocking again: O_NONBLOCK served only to open a FIFO without waiting.
    if (!(flags & O_NONBLOCK))
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (S_ISREG(info.st_mode))
        lastOpened = StoreFileId{info.st_dev, info.st_ino};
    return fd;
}

bool takeFileTypeRefusal()
{
    const bool refused = refusedType;
    refusedType = false;
    return refused;
}

StoreFileId takeLastOpenedFile()
{
    const StoreFileId id = lastOpened;
    lastOpened = StoreFileId{};
    return id;
}

void guardSqliteOpens()
{
    static std::once_flag once;
    std::call_once(once, [] {
        sqlite3_vfs *vfs = sqlite3_vfs_find("unix");
        if (vfs && vfs->xSetSystemCall)
            vfs->xSetSystemCall(vfs, "open", reinterpret_cast<sqlite3_syscall_ptr>(sqliteOpen));
    });
}
