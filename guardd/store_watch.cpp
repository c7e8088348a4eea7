#include "store_watch.h"

#include <sys/stat.h>

namespace {

std::string signatureOf(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "-";
    return std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) + ':'
        + std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

} // namespace

StoreWatch::StoreWatch(std::string storePath) : path_(std::move(storePath)) { }

bool StoreWatch::changed()
{
    std::string now = signatureOf(path_) + ' ' + signatureOf(path_ + "-wal");
    const bool changed = first_ || now != signature_;
    first_ = false;
    signature_ = std::move(now);
    return changed;
}
