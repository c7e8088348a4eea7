#include "store_watch.h"

#include "store_file.h"

#include <fcntl.h>
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

StoreWatch::StoreWatch(std::string storePath) : path_(std::move(storePath)) { }

bool StoreWatch::changed()
{
    // The file change counter is at offset 24 of the header; a WAL's salts at
    // offset 16 of its own header change whenever it starts over.
    const std::string now = stateOf(path_, 24, 4) + '/' + stateOf(path_ + "-wal", 16, 8);
    const bool changed = first_ || now != last_ || now.find('?') != std::string::npos;
    first_ = false;
    last_ = now;
    return changed;
}
