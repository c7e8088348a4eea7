// vnkestrix-guardd: the guard service. It watches the board's lines through
// the controller and asks systemd-logind for standby or shutdown as the
// guard trigger table says; optionally it serves the controller's watchdog.
// Logs go to stderr with syslog priority prefixes, which the journal reads.
#include "guard_service.h"
#include "guard_table.h"
#include "store_watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#ifndef VNKESTRIX_VERSION
#define VNKESTRIX_VERSION "unknown"
#endif

namespace {

void log(LogPriority priority, const std::string &message)
{
    std::fprintf(stderr, "<%d>%s\n", static_cast<int>(priority), message.c_str());
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
    std::ofstream out(aside, std::ios::trunc);
    out << text;
    out.close();
    if (!out || std::rename(aside.c_str(), path.c_str()) != 0)
        log(LogPriority::Warning, "cannot write the status file " + path + ": " + std::strerror(errno));
}

// Read-only: a missing store or key is the table of defaults, Do Nothing
// everywhere.
std::optional<GuardTable> loadTable(std::string &error)
{
    GuardTable table;
    long code = 0;
    if (readGuardTable(table, &code) == GuardResult::Ok)
        return table;
    error = guardStoreName() + ": " + guardStoreCause(code, false);
    return std::nullopt;
}

std::optional<ServiceConfig> readConfig(const std::string &path, bool mustExist)
{
    // The default file may be absent (every key at its default); a file that
    // is there but cannot be read is an error, not a reason to use defaults.
    if (!mustExist && ::access(path.c_str(), F_OK) != 0 && errno == ENOENT)
        return ServiceConfig{};
    std::ifstream in(path);
    if (!in) {
        log(LogPriority::Error, "cannot read " + path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::string> errors;
    auto config = parseServiceConfig(text.str(), errors);
    for (const std::string &error : errors)
        log(LogPriority::Error, path + ": " + error);
    return config;
}

int usage(int code)
{
    (code ? std::cerr : std::cout)
        << "usage: vnkestrix-guardd [--config FILE]\n"
           "Watches the board's lines and acts on the guard trigger table.\n"
           "  --config FILE  configuration (default " << defaultConfigPath << ")\n"
           "  --help         this text\n  --version      the version\n";
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    std::string configPath = defaultConfigPath;
    bool configGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help")
            return usage(0);
        if (argument == "--version") {
            std::cout << "vnkestrix-guardd " VNKESTRIX_VERSION "\n";
            return 0;
        }
        if (argument != "--config" || i + 1 == argc)
            return usage(2);
        configPath = argv[++i];
        configGiven = true;
    }
    const std::optional<ServiceConfig> config = readConfig(configPath, configGiven);
    if (!config)
        return 2;

    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

    LogindPowerActions actions;
    GuardService service(*config, actions,
                         {loadTable, log, [&](const std::string &text) { writeStatus(config->statusFile, text); },
                          wallTime},
                         Clock::now());
    StoreWatch store(guardStoreName());
    log(LogPriority::Info, "watching the guard table in " + guardStoreName());
    sd_notify(0, "READY=1");

    for (;;) {
        if (store.changed())
            service.tableChanged();
        service.poll(Clock::now());
        sd_notify(0, "WATCHDOG=1");
        pollfd wait{signalFd, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(config->pollInterval.count())) <= 0)
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
    log(LogPriority::Info, "stopped");
    return 0;
}
