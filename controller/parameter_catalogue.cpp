#include "parameter_catalogue.h"

#include "controller_link.h"
#include "parameter_table.h"

namespace {

bool getByte(ParameterId id, std::uint8_t &value)
{
    std::uint16_t raw = 0;
    if (!readParameter(parameter(id), raw))
        return false;
    value = static_cast<std::uint8_t>(raw);
    return true;
}

bool getWord(ParameterId id, std::uint16_t &value)
{
    return readParameter(parameter(id), value);
}

bool getSeconds(ParameterId id, float &seconds)
{
    std::uint16_t tenths = 0;
    if (!readParameter(parameter(id), tenths))
        return false;
    seconds = tenthsToSeconds(tenths);
    return true;
}

bool setNumber(ParameterId id, std::uint16_t value, Target target)
{
    const Parameter &p = parameter(id);
    return acceptsValue(p, value) && writeParameter(p, value, target);
}

bool setSeconds(ParameterId id, float seconds, Target target)
{
    const Parameter &p = parameter(id);
    return acceptsValue(p, static_cast<double>(seconds))
        && writeParameter(p, secondsToTenths(seconds), target);
}

enum class Action : std::uint8_t { ResetThrmPin = 0, ServeWatchdog = 1, ResetWatchdogPin = 2 };

bool runAction(Action action)
{
    FeatureReport report{};
    report[ReportByte::Direction] = ReportCode::DirectionSet;
    report[ReportByte::Target] = ReportCode::TargetAction;
    report[ReportByte::Index] = static_cast<std::uint8_t>(action);
    return exchangeFeature(report, false);
}

} // namespace

bool getReportMode(std::uint8_t &value) { return getByte(ParameterId::ReportMode, value); }
bool setReportMode(std::uint8_t value, Target target) { return setNumber(ParameterId::ReportMode, value, target); }
bool getSampleRate(std::uint16_t &value) { return getWord(ParameterId::SampleRate, value); }
bool setSampleRate(std::uint16_t value, Target target) { return setNumber(ParameterId::SampleRate, value, target); }
bool getWatchdogStrobe(float &seconds) { return getSeconds(ParameterId::WatchdogStrobe, seconds); }
bool setWatchdogStrobe(float seconds, Target target) { return setSeconds(ParameterId::WatchdogStrobe, seconds, target); }
bool getWatchdogDelay(float &seconds) { return getSeconds(ParameterId::WatchdogDelay, seconds); }
bool setWatchdogDelay(float seconds, Target target) { return setSeconds(ParameterId::WatchdogDelay, seconds, target); }
bool getS3SignalizationMode(std::uint8_t &value) { return getByte(ParameterId::S3SignalizationMode, value); }
bool setS3SignalizationMode(std::uint8_t value, Target target) { return setNumber(ParameterId::S3SignalizationMode, value, target); }
bool getWatchdogMode(std::uint8_t &value) { return getByte(ParameterId::WatchdogMode, value); }
bool setWatchdogMode(std::uint8_t value, Target target) { return setNumber(ParameterId::WatchdogMode, value, target); }
bool getWatchdogSources(std::uint8_t &value) { return getByte(ParameterId::WatchdogSources, value); }
bool setWatchdogSources(std::uint8_t value, Target target) { return setNumber(ParameterId::WatchdogSources, value, target); }
bool getPowerSettings(std::uint8_t &value) { return getByte(ParameterId::PowerSettings, value); }
bool setPowerSettings(std::uint8_t value, Target target) { return setNumber(ParameterId::PowerSettings, value, target); }
bool getGpioDirection(std::uint8_t &value) { return getByte(ParameterId::GpioDirection, value); }
bool setGpioDirection(std::uint8_t value, Target target) { return setNumber(ParameterId::GpioDirection, value, target); }
bool getGpioOutputMode(std::uint8_t &value) { return getByte(ParameterId::GpioOutputMode, value); }
bool setGpioOutputMode(std::uint8_t value, Target target) { return setNumber(ParameterId::GpioOutputMode, value, target); }
bool getGpioStandbyMode(std::uint8_t &value) { return getByte(ParameterId::GpioStandbyMode, value); }
bool setGpioStandbyMode(std::uint8_t value, Target target) { return setNumber(ParameterId::GpioStandbyMode, value, target); }

bool resetThrmPin() { return runAction(Action::ResetThrmPin); }
bool serveWatchdog() { return runAction(Action::ServeWatchdog); }
bool resetWatchdogPin() { return runAction(Action::ResetWatchdogPin); }
