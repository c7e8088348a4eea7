// The guard service's metrics as a file in node-exporter's textfile
// directory. The service runs as root and the directory may belong to
// someone else, so the file is only ever made new there (never opened
// through a name someone could have planted) and renamed into place; a
// directory that others may write is refused.
#pragma once

#include "repeated_failure.h"

#include <string>

inline constexpr const char *defaultMetricsDirectory = "/var/lib/prometheus/node-exporter";
inline constexpr const char *metricsFileName = "vnkestrix.prom";

class MetricsFile {
public:
    // An empty directory: no metrics.
    MetricsFile(std::string directory, LogFunction log);

    // Writes `text` when it differs from what the file holds, at most once
    // a second: a change within the second is written by a later offer.
    void offer(const std::string &text, Clock::time_point now);
    // A stopped service has no state to show: the file goes.
    void remove();

private:
    bool write(const std::string &text);
    void trouble(const std::string &problem);

    std::string directory_;
    LogFunction log_;
    std::string written_;
    bool everWritten_ = false;
    Clock::time_point nextWrite_{};
    std::string problem_; // the last one logged; each is logged once
};
