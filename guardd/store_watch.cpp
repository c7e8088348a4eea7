#include "store_watch.h"

#include "store_file.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What identifies one state of a file: its device, inode, size and
// modification time, and `length` bytes of it from `offset`. Empty when there
// is no such file; "?" and errno when it cannot be looked at.
std::string stateOf(const std::string &path, off_t offset, std::size_t length)
{
    const int fd = openStoreFile(path.c_str(), O_RDONLY, 0);
    if (fd < 0)
        return errno == ENOENT ? std::string() : "?" + std::to_string(errno);
    struct stat info {};
    char bytes[16] = {};
    const bool read = ::fstat(fd, &info) == 0 && ::pread(fd, bytes, length, offset) >= 0;
    ::close(fd);
    if (!read)
        return "?";
    return std::to_string(info.st_dev) + ':' + std::to_string(info.st_ino) + ':'
        + std::to_string(info.st_size) + ':' + std::to_string(info.st_mtim.tv_sec) + '.'
        + std::to_string(info.st_mtim.tv_nsec) + ':' + std::string(bytes, length);
}

} // namespace

StoreWatch::StoreWatch(std::string storePath) : path_(std::move(storePath)), inotify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    watchFolder();
}

StoreWatch::~StoreWatch()
{
    if (inotify_ >= 0)
        ::close(inotify_);
}

void StoreWatch::watchFolder()
{
    const auto slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
    // Every way a commit, a journal or a rename shows in the folder; the
    // folder itself removed or moved ends the watch (IN_IGNORED).
    folder_ = inotify_ < 0 ? -1
                           : inotify_add_watch(inotify_, folder.c_str(),
                                               IN_CREATE | IN_DELETE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO
                                                   | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

bool StoreWatch::changed()
{
    alignas(inotify_event) char events[4096];
    for (ssize_t got; inotify_ >= 0 && (got = ::read(inotify_, events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            if (event->wd == folder_ && event->mask & (IN_IGNORED | IN_MOVE_SELF)) {
                // A moved folder is no longer the one the path names.
                inotify_rm_watch(inotify_, folder_);
                folder_ = -1;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (folder_ < 0)
        watchFolder();

    // The file change counter is at offset 24 of the header; a WAL's salts at
    // offset 16 of its own header change whenever it starts over.
    const std::string now = stateOf(path_, 24, 4) + '/' + stateOf(path_ + "-wal", 16, 8);
    const bool changed = first_ || now != last_ || now.find('?') != std::string::npos;
    first_ = false;
    last_ = now;
    return changed;
}
