#include "service_config.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <algorithm>

namespace {

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A whole decimal number in [low, high], nothing else on the value.
std::optional<long> number(const std::string &value, long low, long high)
{
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    const long n = std::strtol(value.c_str(), nullptr, 10);
    if (errno != 0 || n < low || n > high)
        return std::nullopt;
    return n;
}

// "BYTE.BIT": a byte of the input report after the report ID, and a bit.
std::optional<InputBit> inputBit(const std::string &value)
{
    const auto dot = value.find('.');
    if (dot == std::string::npos)
        return std::nullopt;
    const auto byte = number(value.substr(0, dot), 1, 32);
    const auto bit = number(value.substr(dot + 1), 0, 7);
    if (!byte || !bit)
        return std::nullopt;
    return InputBit{static_cast<int>(*byte), static_cast<int>(*bit)};
}

using Setter = std::function<bool(ServiceConfig &, const std::string &)>;

Setter milliseconds(std::chrono::milliseconds ServiceConfig::*field, long low, long high)
{
    return [=](ServiceConfig &config, const std::string &value) {
        const auto n = number(value, low, high);
        if (n)
            config.*field = std::chrono::milliseconds(*n);
        return n.has_value();
    };
}

Setter bitOrNone(std::optional<InputBit> ServiceConfig::*field)
{
    return [=](ServiceConfig &config, const std::string &value) {
        if (value == "none") {
            config.*field = std::nullopt;
            return true;
        }
        const auto bit = inputBit(value);
        if (bit)
            config.*field = bit;
        return bit.has_value();
    };
}

struct Key {
    Setter set;
    const char *accepted;
};

const std::map<std::string, Key> &keys()
{
    static const std::map<std::string, Key> table = {
        {"poll-interval-ms",
         {milliseconds(&ServiceConfig::pollInterval, 10, longestPollInterval.count()), "10 to 10000"}},
        {"debounce-ms", {milliseconds(&ServiceConfig::debounce, 0, 60000), "0 to 60000"}},
        {"startup-grace-s",
         {[](ServiceConfig &c, const std::string &v) {
              const auto n = number(v, 0, 86400);
              if (n)
                  c.startupGrace = std::chrono::seconds(*n);
              return n.has_value();
          },
          "0 to 86400"}},
        {"serve-watchdog",
         {[](ServiceConfig &c, const std::string &v) {
              if (v != "yes" && v != "no")
                  return false;
              c.serveWatchdog = v == "yes";
              return true;
          },
          "yes or no"}},
        {"batlow-bit", {bitOrNone(&ServiceConfig::batlowBit), "none or BYTE.BIT (1-32.0-7)"}},
        {"pwrbtn-bit", {bitOrNone(&ServiceConfig::pwrbtnBit), "none or BYTE.BIT (1-32.0-7)"}},
        {"status-file",
         {[](ServiceConfig &c, const std::string &v) {
              if (v.empty() || v.front() != '/')
                  return false;
              c.statusFile = v;
              return true;
          },
          "an absolute path"}},
        {"metrics-directory",
         {[](ServiceConfig &c, const std::string &v) {
              if (v != "none" && (v.empty() || v.front() != '/'))
                  return false;
              c.metricsDirectory = v == "none" ? std::string() : v;
              return true;
          },
          "an absolute path or none"}},
    };
    return table;
}

} // namespace

std::optional<ServiceConfig> parseServiceConfig(const std::string &text,
                                                std::vector<std::string> &errors)
{
    ServiceConfig config;
    const std::size_t errorsBefore = errors.size();
    int number = 0;
    for (std::size_t start = 0; start < text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        const std::string where = "line " + std::to_string(number + 1) + ": ";
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            errors.push_back(where + "expected KEY = VALUE");
            continue;
        }
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        const auto it = keys().find(key);
        if (it == keys().end())
            errors.push_back(where + "unknown key \"" + key + "\"");
        else if (!it->second.set(config, value))
            errors.push_back(where + key + " takes " + it->second.accepted + ", not \"" + value + "\"");
    }
    if (errors.size() != errorsBefore)
        return std::nullopt;
    return config;
}
