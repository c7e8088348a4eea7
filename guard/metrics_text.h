// The board's state as Prometheus's text format, for node-exporter's
// textfile collector: written by the guard service, printed by
// `vnkestrix-cli metrics`. Plain data in, text out, so that both show the
// same names with the same meaning.
#pragma once

#include "guard_table.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// What only a running service counts.
struct ServiceCounts {
    double startTime = 0; // seconds since the Unix epoch
    // Requests the table's rows made, by line and by action (standby, shutdown).
    std::array<std::array<std::uint64_t, 2>, guardLineCount> fires{};
    std::uint64_t failedExchanges = 0; // reads and serves the controller did not answer
    std::uint64_t watchdogServes = 0;
};

struct BoardMetrics {
    std::string version;
    bool controllerPresent = false;
    std::string firmware;     // empty while no controller was found
    std::string serialNumber; // UTF-8
    std::array<std::optional<bool>, guardLineCount> levels{}; // nothing: not known or not watched
    GuardTable table;
    std::optional<ServiceCounts> service;
};

std::string metricsText(const BoardMetrics &metrics);
