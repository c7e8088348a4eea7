#include "firmware_model.h"

#include <cstring>

namespace sim {

namespace {

const std::array<ParamInfo, ParamCount> kParams = {{
    {Param::ReportMode, 1, 0, "report_mode", 0},
    {Param::GpioDirection, 1, 1, "gpio_direction", 0xF0},
    {Param::GpioOutputMode, 1, 2, "gpio_output_mode", 0x00},
    {Param::GpioStandbyMode, 1, 3, "gpio_standby_mode", 0x00},
    {Param::S3Mode, 1, 4, "s3_mode", 0},
    {Param::WatchdogMode, 1, 5, "watchdog_mode", 0},
    {Param::WatchdogSources, 1, 6, "watchdog_sources", 0x03},
    {Param::PowerSettings, 1, 7, "power_settings", 0x00},
    {Param::SampleRate, 2, 1, "sample_rate", 50},
    {Param::WatchdogStrobe, 2, 2, "watchdog_strobe", 100},
    {Param::WatchdogDelay, 2, 3, "watchdog_delay", 1200},
}};

// Byte positions (controller/feature_report.h names the same ones).
constexpr std::size_t kId = 0, kDir = 1, kTarget = 2, kLen = 3, kIndex = 4, kIndexHigh = 5, kValue = 6;
constexpr std::uint8_t kDirSet = 0, kDirGet = 1, kTargetAction = 0x80;

bool zeroFrom(const std::uint8_t *r, std::size_t from, std::size_t to = ReportSize)
{
    for (std::size_t i = from; i < to; ++i)
        if (r[i] != 0)
            return false;
    return true;
}

} // namespace

const std::array<ParamInfo, ParamCount> &parameters() { return kParams; }

const ParamInfo &info(Param p) { return kParams[static_cast<std::size_t>(p)]; }

bool findParam(std::uint8_t length, std::uint8_t index, Param &out)
{
    for (const ParamInfo &pi : kParams) {
        if (pi.length == length && pi.index == index) {
            out = pi.param;
            return true;
        }
    }
    return false;
}

void FirmwareModel::reset()
{
    for (const ParamInfo &pi : kParams) {
        ram_[idx(pi.param)] = pi.factory;
        flash_[idx(pi.param)] = pi.factory;
    }
    serial_ = FactorySerial;
    inputLevels_ = status_ = outputLevels_ = 0;
    actions_ = {};
    ignoreWrites_ = false;
}

void FirmwareModel::setValue(Bank bank, Param p, std::uint16_t v)
{
    if (info(p).length == 1)
        v &= 0xFF;
    (bank == Bank::Ram ? ram_ : flash_)[idx(p)] = v;
}

void FirmwareModel::powerCycle() { ram_ = flash_; }

bool FirmwareModel::handleFeatureSet(const std::uint8_t *r)
{
    if (!r || r[kId] != 0 || r[kDir] != kDirSet || r[kIndexHigh] != 0)
        return false;

    if (r[kTarget] == kTargetAction) {
        // Action: length 0, action number 0..2, nothing after it.
        if (r[kLen] != 0 || r[kIndex] >= ActionCount || !zeroFrom(r, kValue))
            return false;
        ++actions_[r[kIndex]];
        return true;
    }

    if (r[kTarget] == 1 && r[kLen] == 20 && r[kIndex] == 0)
        return handleSerialWrite(r);

    if (r[kTarget] > 1)
        return false;
    Param p;
    if (!findParam(r[kLen], r[kIndex], p))
        return false;
    const std::size_t len = r[kLen];
    if (!zeroFrom(r, kValue + len)) // value bytes beyond the length must be 0
        return false;
    std::uint16_t v = r[kValue];
    if (len == 2)
        v = static_cast<std::uint16_t>(v | (r[kValue + 1] << 8));
    if (!ignoreWrites_)
        setValue(r[kTarget] == 1 ? Bank::Flash : Bank::Ram, p, v);
    return true;
}

bool FirmwareModel::handleSerialWrite(const std::uint8_t *r)
{
    static const std::uint8_t kTag[5] = {'U', 'S', 'B', 'S', 'N'};
    if (std::memcmp(r + 6, kTag, sizeof kTag) != 0 || r[11] != 20 || r[12] != 3)
        return false;
    // Bytes 13..30: nine UTF-16LE code units; the text ends at the first zero
    // unit and everything after it must be zero. Only units below 0x100 are
    // accepted (the record holds one byte per character).
    std::string text;
    std::size_t i = 0;
    for (; i < MaxSerialLength; ++i) {
        const std::uint8_t lo = r[13 + 2 * i], hi = r[14 + 2 * i];
        if (lo == 0 && hi == 0)
            break;
        if (hi != 0)
            return false;
        text.push_back(static_cast<char>(lo));
    }
    if (text.empty() || !zeroFrom(r, 13 + 2 * i))
        return false;
    if (!ignoreWrites_)
        serial_ = text;
    return true;
}

bool FirmwareModel::handleFeatureGet(std::uint8_t *r) const
{
    if (!r || r[kId] != 0 || r[kDir] != kDirGet || r[kTarget] != 0 || r[kIndexHigh] != 0
        || !zeroFrom(r, kValue))
        return false;
    Param p;
    if (!findParam(r[kLen], r[kIndex], p))
        return false;
    const std::uint16_t v = ram_[idx(p)];
    std::memset(r, 0, ReportSize);
    r[2] = static_cast<std::uint8_t>(v & 0xFF);
    if (info(p).length == 2)
        r[3] = static_cast<std::uint8_t>(v >> 8);
    return true;
}

bool FirmwareModel::handleFeature(std::uint8_t *r, int get)
{
    if (get == 1)
        return handleFeatureGet(r);
    if (get == 0)
        return handleFeatureSet(r);
    return false;
}

bool FirmwareModel::inputReport(std::uint8_t *out) const
{
    if (!out)
        return false;
    std::memset(out, 0, ReportSize);
    out[3] = inputLevels_;
    out[10] = status_;
    return true;
}

bool FirmwareModel::outputReport(const std::uint8_t *data, std::size_t n)
{
    if (!data || n != OutputReportSize || data[0] != 0 || !zeroFrom(data, 2, n))
        return false;
    outputLevels_ = data[1];
    return true;
}

} // namespace sim
