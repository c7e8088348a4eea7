#include "firmware_model.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

const std::array<ParamInfo, ParamCount> kParams = {{
    {1, 0, "report_mode", 0}, {1, 1, "gpio_direction", 0xF0}, {1, 2, "gpio_output_mode", 0},
    {1, 3, "gpio_standby_mode", 0}, {1, 4, "s3_mode", 0}, {1, 5, "watchdog_mode", 0},
    {1, 6, "watchdog_sources", 0x03}, {1, 7, "power_settings", 0}, {2, 1, "sample_rate", 50},
    {2, 2, "watchdog_strobe", 100}, {2, 3, "watchdog_delay", 1200},
}};

// Request bytes (controller/feature_report.h names the same ones).
constexpr std::size_t kDirection = 1, kTarget = 2, kLength = 3, kIndex = 4, kIndexHigh = 5, kValue = 6;

// Bytes from..to-1 are all zero (none when from is past to).
bool zeroFrom(const std::uint8_t *r, std::size_t from, std::size_t to = ReportSize)
{
    return std::all_of(r + std::min(from, to), r + to, [](std::uint8_t b) { return b == 0; });
}

} // namespace

const std::array<ParamInfo, ParamCount> &parameters() { return kParams; }

Values factoryValues()
{
    Values v{};
    std::transform(kParams.begin(), kParams.end(), v.begin(), [](const ParamInfo &p) { return p.factory; });
    return v;
}

bool FirmwareModel::handleFeature(std::uint8_t *r, int get)
{
    if (!r || r[0] != 0 || r[kDirection] != get || (get != 0 && get != 1) || r[kIndexHigh] != 0)
        return false;
    const auto param = std::find_if(kParams.begin(), kParams.end(),
                                    [&](const ParamInfo &p) { return p.length == r[kLength] && p.index == r[kIndex]; });
    const auto p = static_cast<std::size_t>(param - kParams.begin());
    if (get == 1) {
        if (r[kTarget] != 0 || param == kParams.end() || !zeroFrom(r, kValue))
            return false;
        std::memset(r, 0, ReportSize);
        r[2] = static_cast<std::uint8_t>(ram[p] & 0xFF);
        r[3] = static_cast<std::uint8_t>(param->length == 2 ? ram[p] >> 8 : 0);
        return true;
    }
    if (r[kTarget] == 0x80) { // an action, counted
        if (r[kLength] != 0 || r[kIndex] >= actions.size() || !zeroFrom(r, kValue))
            return false;
        ++actions[r[kIndex]];
        return true;
    }
    if (r[kTarget] == 1 && r[kLength] == 20 && r[kIndex] == 0) {
        // The serial number: bytes 6 to 12 are fixed; from byte 13 come one
        // to nine UTF-16LE code units below 0x100 (the device record holds
        // one byte per character), ended by a zero unit, nothing after it.
        std::string text;
        std::size_t at = 13;
        for (; at < 31 && (r[at] || r[at + 1]); at += 2)
            text += r[at + 1] == 0 ? static_cast<char>(r[at]) : '\0';
        if (std::memcmp(r + 6, "USBSN\x14\x03", 7) != 0 || text.empty() || text.find('\0') != std::string::npos || !zeroFrom(r, at))
            return false;
        if (!ignoreWrites)
            serial = text;
        return true;
    }
    if (r[kTarget] > 1 || param == kParams.end() || !zeroFrom(r, kValue + r[kLength]))
        return false;
    if (!ignoreWrites)
        (r[kTarget] ? flash : ram)[p] = static_cast<std::uint16_t>(r[kValue] | (r[kLength] == 2 ? r[kValue + 1] << 8 : 0));
    return true;
}

void FirmwareModel::inputReport(std::uint8_t *out) const
{
    std::memset(out, 0, ReportSize);
    out[3] = inputLevels;
    out[10] = status;
}

bool FirmwareModel::outputReport(const std::uint8_t *data, std::size_t size)
{
    if (!data || size != OutputReportSize || data[0] != 0 || !zeroFrom(data, 2, size))
        return false;
    outputLevels = data[1];
    return true;
}

void FirmwareModel::startSampling(std::uint64_t nowMs)
{
    lastSamplingMs = nowMs;
    sampledLevels = inputLevels;
}

void FirmwareModel::sampleUntil(std::uint64_t nowMs, std::vector<InputReport> &sent)
{
    const std::uint64_t period = samplingPeriodMs();
    if (nowMs >= lastSamplingMs + (InputQueueSize + 1) * period) // the levels stayed as they are now all along
        lastSamplingMs += ((nowMs - lastSamplingMs) / period - InputQueueSize) * period;
    for (; lastSamplingMs + period <= nowMs; lastSamplingMs += period) {
        const bool changed = inputLevels != sampledLevels;
        sampledLevels = inputLevels;
        if (sendsInputReports && (ram[std::size_t(Param::ReportMode)] == 0 || changed)) {
            sent.emplace_back();
            inputReport(sent.back().data());
        }
    }
}

} // namespace sim
