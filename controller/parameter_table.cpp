#include "parameter_table.h"

#include "controller_link.h"

#include <cmath>

namespace {

// The strobe's lower bound is the single-precision 0.1 widened to double, so
// that a strobe of 0.1 s typed into a single-precision field passes.
constexpr double minimumStrobeSeconds = static_cast<double>(0.1f);

constexpr Parameter table[parameterCount] = {
    {ParameterId::ReportMode, 1, 0, Encoding::Byte, 0, 1},
    {ParameterId::SampleRate, 2, 1, Encoding::Word, 1, 65535},
    {ParameterId::WatchdogStrobe, 2, 2, Encoding::Tenths, minimumStrobeSeconds, 6000.0},
    {ParameterId::WatchdogDelay, 2, 3, Encoding::Tenths, 1.0, 6000.0},
    {ParameterId::S3SignalizationMode, 1, 4, Encoding::Byte, 0, 1},
    {ParameterId::WatchdogMode, 1, 5, Encoding::Byte, 0, 2},
    {ParameterId::WatchdogSources, 1, 6, Encoding::Byte, 0, 255},
    {ParameterId::PowerSettings, 1, 7, Encoding::Byte, 0, 255},
    {ParameterId::GpioDirection, 1, 1, Encoding::Byte, 0, 255},
    {ParameterId::GpioOutputMode, 1, 2, Encoding::Byte, 0, 255},
    {ParameterId::GpioStandbyMode, 1, 3, Encoding::Byte, 0, 255},
};

FeatureReport request(const Parameter &p, std::uint8_t direction)
{
    FeatureReport report{};
    report[ReportByte::Direction] = direction;
    report[ReportByte::Length] = p.length;
    report[ReportByte::Index] = p.index;
    return report;
}

} // namespace

const Parameter &parameter(ParameterId id)
{
    return table[static_cast<int>(id)];
}

bool acceptsValue(const Parameter &p, double value)
{
    return value >= p.minimum && value <= p.maximum;
}

std::uint16_t secondsToTenths(float seconds)
{
    return static_cast<std::uint16_t>(std::lround(static_cast<double>(seconds) * 10.0));
}

float tenthsToSeconds(std::uint16_t tenths)
{
    return static_cast<float>(tenths / 10.0);
}

bool readParameter(const Parameter &p, std::uint16_t &raw)
{
    FeatureReport report = request(p, ReportCode::DirectionGet);
    if (!exchangeFeature(report, true))
        return false;
    raw = report[ReportByte::ReplyValue];
    if (p.length == 2)
        raw = static_cast<std::uint16_t>(raw | (report[ReportByte::ReplyValue + 1] << 8));
    return true;
}

bool writeParameter(const Parameter &p, std::uint16_t raw, Target target)
{
    FeatureReport report = request(p, ReportCode::DirectionSet);
    report[ReportByte::Target] = target != Ram ? Flash : Ram;
    report[ReportByte::Value] = static_cast<std::uint8_t>(raw & 0xFF);
    if (p.length == 2)
        report[ReportByte::Value + 1] = static_cast<std::uint8_t>(raw >> 8);
    return exchangeFeature(report, false);
}
