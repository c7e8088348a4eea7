#include "metrics_text.h"

#include <cstdio>

namespace {

// A label value as the text format wants it: backslash, quote and line
// break escaped. The serial number is written by whoever had the board.
std::string labelValue(const std::string &text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return '"' + escaped + '"';
}

class Writer {
public:
    void family(const char *name, const char *type, const char *help)
    {
        name_ = name;
        text_ += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    // LABELS is "" or `a="x",b="y"`.
    void sample(const std::string &labels, const std::string &value)
    {
        text_ += name_ + (labels.empty() ? "" : '{' + labels + '}') + ' ' + value + '\n';
    }
    std::string text() const { return text_; }

private:
    std::string name_;
    std::string text_;
};

std::string lineLabel(std::size_t line)
{
    return "line=" + labelValue(guardLineKeys[line]);
}

std::string actionWord(std::uint32_t action)
{
    return action < guardActionKeys.size() ? guardActionKeys[action] : std::to_string(action);
}

} // namespace

std::string metricsText(const BoardMetrics &metrics)
{
    Writer out;
    out.family("vnkestrix_build_info", "gauge",
               "The program's version and the controller's firmware revision and serial number.");
    out.sample("version=" + labelValue(metrics.version) + ",firmware=" + labelValue(metrics.firmware)
                   + ",serial=" + labelValue(metrics.serialNumber),
               "1");
    out.family("vnkestrix_controller_present", "gauge", "1 while the controller answers, else 0.");
    out.sample("", metrics.controllerPresent ? "1" : "0");
    out.family("vnkestrix_line_level", "gauge",
               "Each watched line's level as last read; a line not read has no sample.");
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        if (metrics.levels[line])
            out.sample(lineLabel(line), *metrics.levels[line] ? "1" : "0");
    }
    out.family("vnkestrix_guard_row_info", "gauge",
               "The guard trigger table: when the line is at the level, the service takes the action.");
    for (std::size_t line = 0; line < guardLineCount; ++line)
        out.sample(lineLabel(line) + ",level=" + labelValue(std::to_string(metrics.table.levels[line]))
                       + ",action=" + labelValue(actionWord(metrics.table.actions[line])),
                   "1");
    if (!metrics.service)
        return out.text();

    const ServiceCounts &service = *metrics.service;
    char start[32];
    std::snprintf(start, sizeof start, "%.3f", service.startTime);
    out.family("vnkestrix_service_start_time_seconds", "gauge",
               "When the guard service started, in seconds since the Unix epoch.");
    out.sample("", start);
    out.family("vnkestrix_guard_fires_total", "counter",
               "Standby and shutdown requests made by the table's rows since the service started.");
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        for (std::size_t action = 0; action < 2; ++action)
            out.sample(lineLabel(line) + ",action=" + labelValue(guardActionKeys[action + 1]),
                       std::to_string(service.fires[line][action]));
    }
    out.family("vnkestrix_controller_exchange_failures_total", "counter",
               "Reads of the lines and watchdog serves that the controller did not answer.");
    out.sample("", std::to_string(service.failedExchanges));
    out.family("vnkestrix_watchdog_serves_total", "counter", "Times the service served the controller's watchdog.");
    out.sample("", std::to_string(service.watchdogServes));
    return out.text();
}
