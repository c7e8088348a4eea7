#include "metrics_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace {

using namespace std::chrono_literals;

// node-exporter reads only *.prom, so a file on its way is never scraped.
std::string asideName()
{
    static std::mt19937_64 random{std::random_device{}()};
    return std::string(".") + metricsFileName + "." + std::to_string(::getpid()) + "."
        + std::to_string(random() % 1000000000);
}

bool writeAll(int fd, const std::string &text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

MetricsFile::MetricsFile(std::string directory, LogFunction log)
    : directory_(std::move(directory)), log_(std::move(log))
{
}

void MetricsFile::offer(const std::string &text, Clock::time_point now)
{
    if (directory_.empty() || now < nextWrite_ || (everWritten_ && text == written_))
        return;
    nextWrite_ = now + 1s;
    if (write(text)) {
        written_ = text;
        everWritten_ = true;
    }
}

void MetricsFile::remove()
{
    if (!everWritten_)
        return;
    const int dir = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir >= 0) {
        ::unlinkat(dir, metricsFileName, 0);
        ::close(dir);
    }
}

bool MetricsFile::write(const std::string &text)
{
    const int dir = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (dir < 0 || ::fstat(dir, &info) != 0) {
        // A link is not followed: whoever may change it would choose where
        // root writes.
        struct stat link {};
        const bool isLink = ::lstat(directory_.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        trouble(directory_ + ": " + (isLink ? "a symbolic link, not followed" : std::strerror(errno)));
        if (dir >= 0)
            ::close(dir);
        return false;
    }
    // Whoever else may write there could rename the file away or fill the
    // directory; the metrics would then say what that user wants.
    if (info.st_mode & (S_IWGRP | S_IWOTH)) {
        ::close(dir);
        trouble(directory_ + ": writable by others than its owner");
        return false;
    }
    const std::string aside = asideName();
    const int fd = ::openat(dir, aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool done = fd >= 0 && ::fchmod(fd, 0644) == 0 && writeAll(fd, text);
    int cause = errno;
    if (fd >= 0 && ::close(fd) != 0 && done)
        done = false, cause = errno;
    if (done && ::renameat(dir, aside.c_str(), dir, metricsFileName) != 0)
        done = false, cause = errno;
    if (!done) {
        if (fd >= 0)
            ::unlinkat(dir, aside.c_str(), 0);
        trouble(directory_ + "/" + metricsFileName + ": " + std::strerror(cause));
    } else if (!problem_.empty()) {
        log_(LogPriority::Notice, "metrics written to " + directory_ + " again");
        problem_.clear();
    }
    ::close(dir);
    return done;
}

void MetricsFile::trouble(const std::string &problem)
{
    if (problem == problem_)
        return;
    problem_ = problem;
    log_(LogPriority::Warning, "no metrics for node-exporter: " + problem);
}
