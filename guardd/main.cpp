// vnkestrix-guardd: the guard service. It watches the board's lines through
// the controller and asks systemd-logind for standby or shutdown as the
// guard trigger table says; optionally it serves the controller's watchdog.
// Logs go to stderr, one line each; under the journal with syslog priority
// prefixes, which it reads as each line's priority.
#include "guard_service.h"
#include "guard_table.h"
#include "input_listener.h"
#include "metrics_file.h"
#include "store_watch.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#ifndef VNKESTRIX_VERSION
#define VNKESTRIX_VERSION "unknown"
#endif

namespace {

// Without a watch on the store's folder, how often the loop looks at it.
constexpr auto unwatchedStoreLook = std::chrono::seconds(1);

// systemd names the journal's stream in JOURNAL_STREAM as "device:inode".
// The variable alone proves nothing: started by hand from a shell that a
// service started, the program inherits it with stderr on a terminal.
bool stderrIsJournal()
{
    const char *stream = std::getenv("JOURNAL_STREAM");
    struct stat info {};
    if (!stream || ::fstat(STDERR_FILENO, &info) != 0)
        return false;
    const std::string mine = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    return mine == stream;
}

void log(LogPriority priority, const std::string &message)
{
    static const bool prefixed = stderrIsJournal();
    if (prefixed)
        std::fprintf(stderr, "<%d>%s\n", static_cast<int>(priority), message.c_str());
    else
        std::fprintf(stderr, "%s\n", message.c_str());
}

std::string wallTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Written aside and renamed, so that a reader never sees half a status.
void writeStatus(const std::string &path, const std::string &text)
{
    const std::string aside = path + ".tmp";
    FILE *out = std::fopen(aside.c_str(), "we");
    const bool written = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if ((out && std::fclose(out) != 0) || !written || std::rename(aside.c_str(), path.c_str()) != 0)
        log(LogPriority::Warning, "cannot write the status file " + path + ": " + std::strerror(errno));
}

// Read-only: a missing store or key is the table of defaults, Do Nothing
// everywhere. The wait for a writer is short, since the loop waits with it;
// a table that could not be read is read again later.
std::optional<GuardTable> loadTable(std::string &error)
{
    GuardTable table;
    long code = 0;
    if (readGuardTable(table, &code, 200) == GuardResult::Ok)
        return table;
    error = guardStoreName() + ": " + guardStoreCause(code, false);
    return std::nullopt;
}

// The file's text, opened without blocking and checked on the descriptor,
// so that a FIFO or a directory given as the file is refused instead of
// waited on or read as empty. Nothing, with the reason, when it cannot be had.
std::optional<std::string> regularFileText(const std::string &path, std::string &problem)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        problem = "not a regular file";
    std::string text;
    char buffer[4096];
    for (ssize_t got = 1; problem.empty() && got != 0;) {
        got = ::read(fd, buffer, sizeof buffer);
        if (got < 0)
            problem = std::strerror(errno);
        else
            text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (!problem.empty())
        return std::nullopt;
    return text;
}

std::optional<ServiceConfig> readConfig(const std::string &path, bool mustExist)
{
    // The default file may be absent (every key at its default); a file that
    // is there but cannot be read is an error, not a reason to use defaults.
    if (!mustExist && ::access(path.c_str(), F_OK) != 0 && errno == ENOENT)
        return ServiceConfig{};
    std::string problem;
    const std::optional<std::string> text = regularFileText(path, problem);
    if (!text) {
        log(LogPriority::Error, "cannot read " + path + ": " + problem);
        return std::nullopt;
    }
    std::vector<std::string> errors;
    auto config = parseServiceConfig(*text, errors);
    for (const std::string &error : errors)
        log(LogPriority::Error, path + ": " + error);
    return config;
}

int usage(int code)
{
    std::fprintf(code ? stderr : stdout,
                 "usage: vnkestrix-guardd [--config FILE] [--metrics-directory DIR|none]\n"
                 "Watches the board's lines and acts on the guard trigger table.\n"
                 "  --config FILE  configuration (default %s)\n"
                 "  --metrics-directory DIR|none  node-exporter's textfile directory (default %s)\n"
                 "  --help         this text\n  --version      the version\n",
                 defaultConfigPath, defaultMetricsDirectory);
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    // One malloc arena: the reader thread allocates a few bytes now and then,
    // and an arena of its own would hold a heap of its own for them.
    mallopt(M_ARENA_MAX, 1);
    std::string configPath = defaultConfigPath;
    bool configGiven = false;
    std::optional<std::string> metricsDirectory;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help")
            return usage(0);
        if (argument == "--version") {
            std::puts("vnkestrix-guardd " VNKESTRIX_VERSION);
            return 0;
        }
        const bool takesValue = argument == "--config" || argument == "--metrics-directory";
        if (!takesValue || i + 1 == argc) {
            std::fprintf(stderr, "vnkestrix-guardd: %s\n",
                         (takesValue ? argument + " needs a value" : "unknown option " + argument).c_str());
            return usage(2);
        }
        const std::string value = argv[++i];
        if (argument == "--config") {
            configPath = value;
            configGiven = true;
        } else if (value == "none") {
            metricsDirectory = "";
        } else if (!value.empty() && value.front() == '/') {
            metricsDirectory = value;
        } else {
            // As in the configuration: the service's working directory is no
            // place to look for node-exporter's folder.
            std::fprintf(stderr, "vnkestrix-guardd: --metrics-directory needs an absolute path or none\n");
            return usage(2);
        }
    }
    std::optional<ServiceConfig> config = readConfig(configPath, configGiven);
    if (!config)
        return 2;
    if (metricsDirectory)
        config->metricsDirectory = *metricsDirectory;
    // systemd wants a keep-alive every WatchdogSec; half of it leaves room
    // for one late wake-up.
    std::uint64_t watchdogUsec = 0;
    if (sd_watchdog_enabled(0, &watchdogUsec) > 0)
        config->keepAliveEvery = std::chrono::milliseconds(watchdogUsec / 2000);

    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

    // VNKESTRIX_GUARDD_POLL=1 polls as a library without the wait does: the
    // baseline of the service's benchmark.
    const char *forcePolling = std::getenv("VNKESTRIX_GUARDD_POLL");
    const bool forced = forcePolling && std::string(forcePolling) == "1";
    static InputListener *const listener = forced ? nullptr : InputListener::start();
    if (!listener)
        log(LogPriority::Notice, std::string(forced ? "VNKESTRIX_GUARDD_POLL=1" : "the HID library cannot wait for input reports")
                + ": polling the controller every " + std::to_string(config->pollInterval.count()) + " ms");
    LogindPowerActions actions;
    GuardService service(*config, actions,
                         {loadTable, log, [&](const std::string &text) { writeStatus(config->statusFile, text); },
                          wallTime, [] { return sd_notify(0, "WATCHDOG=1") >= 0; },
                          [](const std::string &device) {
                              if (listener)
                                  listener->listen(device);
                              return listener != nullptr;
                          }},
                         Clock::now());
    MetricsFile metrics(config->metricsDirectory, log);
    const double started = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    service.publishMetrics([&](const BoardMetrics &state, Clock::time_point now) {
        BoardMetrics board = state;
        board.version = VNKESTRIX_VERSION;
        board.service->startTime = started;
        metrics.offer(metricsText(board), now);
    });
    StoreWatch store(guardStoreName());
    log(LogPriority::Info, "watching the guard table in " + guardStoreName());
    sd_notify(0, "READY=1");

    // One wait for everything: a signal, logind's answers, an input report,
    // a change in the store's folder, and the time the service next has
    // something to do. Nothing in the loop waits on logind or the controller.
    for (;;) {
        actions.process();
        if (listener) {
            for (const InputArrival &arrival : listener->take()) {
                if (arrival.report)
                    service.reportArrived(arrival.at, *arrival.report);
                else
                    service.reportsFailed(arrival.at);
            }
        }
        if (store.changed())
            service.tableChanged();
        Clock::time_point due = service.poll(Clock::now());
        if (!store.watching())
            due = std::min(due, Clock::now() + unwatchedStoreLook);
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
        pollfd ready[4] = {{signalFd, POLLIN, 0}, actions.waitFor(), {listener ? listener->fd() : -1, POLLIN, 0},
                           {store.fd(), POLLIN, 0}};
        const auto waitMs = std::clamp<std::int64_t>(wait.count(), 0, std::numeric_limits<int>::max());
        if (::poll(ready, 4, static_cast<int>(waitMs)) <= 0 || !(ready[0].revents & POLLIN))
            continue;
        signalfd_siginfo info{};
        if (::read(signalFd, &info, sizeof info) != sizeof info)
            continue;
        if (info.ssi_signo == SIGHUP) {
            service.tableChanged();
            continue;
        }
        break;
    }
    sd_notify(0, "STOPPING=1");
    if (config->serveWatchdog)
        log(LogPriority::Warning, "stopped: the controller's watchdog is no longer served");
    std::remove(config->statusFile.c_str());
    metrics.remove();
    log(LogPriority::Info, "stopped");
    return 0;
}
