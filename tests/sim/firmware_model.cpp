#include "firmware_model.h"

#include <cstring>

namespace sim {

namespace {

const std::array<ParamInfo, ParamCount> kParams = {{
    {1, 0, "report_mode", 0},
    {1, 1, "gpio_direction", 0xF0},
    {1, 2, "gpio_output_mode", 0},
    {1, 3, "gpio_standby_mode", 0},
    {1, 4, "s3_mode", 0},
    {1, 5, "watchdog_mode", 0},
    {1, 6, "watchdog_sources", 0x03},
    {1, 7, "power_settings", 0},
    {2, 1, "sample_rate", 50},
    {2, 2, "watchdog_strobe", 100},
    {2, 3, "watchdog_delay", 1200},
}};

// Request bytes (controller/feature_report.h names the same ones).
constexpr std::size_t kDirection = 1, kTarget = 2, kLength = 3, kIndex = 4, kIndexHigh = 5, kValue = 6;
constexpr std::uint8_t kTargetAction = 0x80;

// The firmware is strict about padding, so that a request the program
// builds wrongly fails instead of passing silently.
bool zeroFrom(const std::uint8_t *r, std::size_t from, std::size_t to = ReportSize)
{
    for (std::size_t i = from; i < to; ++i)
        if (r[i] != 0)
            return false;
    return true;
}

// The parameter that (length, index) names, or -1.
int findParam(std::uint8_t length, std::uint8_t index)
{
    for (std::size_t i = 0; i < ParamCount; ++i)
        if (kParams[i].length == length && kParams[i].index == index)
            return static_cast<int>(i);
    return -1;
}

} // namespace

const std::array<ParamInfo, ParamCount> &parameters() { return kParams; }

Values factoryValues()
{
    Values v{};
    for (std::size_t i = 0; i < ParamCount; ++i)
        v[i] = kParams[i].factory;
    return v;
}

bool FirmwareModel::handleFeature(std::uint8_t *r, int get)
{
    if (!r || r[0] != 0 || r[kDirection] != get || r[kIndexHigh] != 0)
        return false;
    return get == 1 ? handleGet(r) : get == 0 && handleSet(r);
}

bool FirmwareModel::handleGet(std::uint8_t *r) const
{
    const int p = findParam(r[kLength], r[kIndex]);
    if (r[kTarget] != 0 || p < 0 || !zeroFrom(r, kValue))
        return false;
    const std::uint16_t v = ram[static_cast<std::size_t>(p)];
    std::memset(r, 0, ReportSize);
    r[2] = static_cast<std::uint8_t>(v & 0xFF);
    if (kParams[static_cast<std::size_t>(p)].length == 2)
        r[3] = static_cast<std::uint8_t>(v >> 8);
    return true;
}

bool FirmwareModel::handleSet(const std::uint8_t *r)
{
    if (r[kTarget] == kTargetAction) {
        if (r[kLength] != 0 || r[kIndex] >= actions.size() || !zeroFrom(r, kValue))
            return false;
        ++actions[r[kIndex]];
        return true;
    }
    if (r[kTarget] == 1 && r[kLength] == 20 && r[kIndex] == 0)
        return handleSerialWrite(r);

    const int p = findParam(r[kLength], r[kIndex]);
    if (r[kTarget] > 1 || p < 0 || !zeroFrom(r, kValue + r[kLength]))
        return false;
    const auto v = static_cast<std::uint16_t>(r[kValue] | (r[kLength] == 2 ? r[kValue + 1] << 8 : 0));
    if (!ignoreWrites)
        value(static_cast<Bank>(r[kTarget]), static_cast<Param>(p)) = v;
    return true;
}

// Bytes 6 to 12 are fixed; from byte 13 come up to nine UTF-16LE code units,
// ended by a zero unit, with nothing after it. Only units below 0x100 are
// taken, as the device record holds one byte per character.
bool FirmwareModel::handleSerialWrite(const std::uint8_t *r)
{
    if (std::memcmp(r + 6, "USBSN\x14\x03", 7) != 0)
        return false;
    std::string text;
    std::size_t at = 13;
    for (; at < 31 && (r[at] || r[at + 1]); at += 2) {
        if (r[at + 1] != 0)
            return false;
        text.push_back(static_cast<char>(r[at]));
    }
    if (text.empty() || !zeroFrom(r, at))
        return false;
    if (!ignoreWrites)
        serial = text;
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

} // namespace sim
