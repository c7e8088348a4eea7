// vnkestrix-guardd's configuration: /etc/vnkestrix/guardd.conf, one
// "key = value" per line, '#' starts a comment. Every key is optional; the
// defaults are those of a fresh install.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// A bit of the controller's 33-byte input report (byte 0 is the report ID).
struct InputBit {
    int byte = 0;
    int bit = 0;
};

// A line is read at least this often. The keep-alive for systemd and the
// watchdog serves keep their own times whatever the interval; this bound
// keeps the reaction to a line within seconds, and the loop's sleep short.
inline constexpr std::chrono::milliseconds longestPollInterval{10000};

struct ServiceConfig {
    std::chrono::milliseconds pollInterval{100};
    // How long a line must hold a row's level before the row fires.
    std::chrono::milliseconds debounce{200};
    // A line already at its level when the service starts fires only after
    // this time, so that a table which shuts the board down can still be
    // changed after boot.
    std::chrono::seconds startupGrace{120};
    bool serveWatchdog = false;
    // Where BATLOW# and PWRBTN# reach the input report, if they do at all;
    // it depends on the board, so there is no default.
    std::optional<InputBit> batlowBit;
    std::optional<InputBit> pwrbtnBit;
    std::string statusFile = "/run/vnkestrix/guardd.status";
    // node-exporter's textfile directory; empty: no metrics.
    std::string metricsDirectory = "/var/lib/prometheus/node-exporter";
    // Not from the file: how often systemd wants to hear from the service
    // (half its WatchdogSec), zero when it does not watch.
    std::chrono::milliseconds keepAliveEvery{0};
};

inline constexpr const char *defaultConfigPath = "/etc/vnkestrix/guardd.conf";

// Parses the file's text. Unknown keys and bad values are errors, one line
// each ("line N: ..."), and then the whole file is refused.
std::optional<ServiceConfig> parseServiceConfig(const std::string &text,
                                                std::vector<std::string> &errors);
