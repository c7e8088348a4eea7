#include "controller_link.h"

#include "redi.h"
#include "redi_extension.h"
#include "report_trace.h"

#include <cstdio>
#include <cstring>

namespace {

bool demoMode = false;
RediDeviceRecord record{};

// The library's result carries the success flag in its low byte only.
bool succeeded(int result)
{
    return (result & 0xFF) != 0;
}

constexpr std::uint8_t StatusFlagBit1 = 0x02;
constexpr std::uint8_t StatusFlagBit5 = 0x20;
constexpr std::size_t OutputLevelsByte = 1;
constexpr int OutputWriteTimeoutMs = 1000;

} // namespace

void setDemoMode(bool on)
{
    demoMode = on;
}

bool isDemoMode()
{
    return demoMode;
}

std::string controllerFailure()
{
    static const auto lastFailure = rediExtension<RediLastFailureFunction>(REDI_LAST_FAILURE_SYMBOL);
    const char *const text = lastFailure ? lastFailure() : nullptr;
    return text ? text : "";
}

bool findController(std::string &deviceName)
{
    TracedCall trace("find");
    if (!succeeded(Usk_FindSensor_a(REDI_SELECT_BOARD_CONTROLLER, 0, 0, 0, 0, 0, 0, &record))) {
        trace.finish(false);
        return false;
    }
    deviceName.assign(record.deviceName, strnlen(record.deviceName, sizeof record.deviceName));
    char release[8];
    std::snprintf(release, sizeof release, "%04x", static_cast<unsigned>(controllerReleaseNumber()));
    trace.finish(true, nullptr, 0, deviceName + " release " + release + " serial " + controllerSerialNumber());
    return true;
}

bool exchangeFeature(FeatureReport &report, bool get)
{
    if (demoMode)
        return true;
    TracedCall trace(get ? "feature get" : "feature set", report.data(), report.size());
    const bool ok = succeeded(Usk_Feature_a(record.deviceName, report.data(), get ? 1 : 0));
    trace.finish(ok, get && ok ? report.data() : nullptr, report.size());
    return ok;
}

bool readInputReport(InputReport &report)
{
    InputReport input{};
    if (!demoMode) {
        TracedCall trace("input report");
        const bool ok = succeeded(Usk_GetCurrentInReport_a(record.deviceName, input.data(), REDI_REPORT_SIZE));
        trace.finish(ok, ok ? input.data() : nullptr, input.size());
        if (!ok)
            return false;
    }
    report = input;
    return true;
}

bool readGpio(std::uint8_t &levels, bool &flagBit1, bool &flagBit5)
{
    if (demoMode) {
        levels = 0;
        return true;
    }
    InputReport input;
    if (!readInputReport(input))
        return false;
    levels = input[InputByte::Levels];
    flagBit1 = (input[InputByte::Status] & StatusFlagBit1) != 0;
    flagBit5 = (input[InputByte::Status] & StatusFlagBit5) != 0;
    return true;
}

bool writeGpio(std::uint8_t levels)
{
    if (demoMode)
        return true;
    unsigned char output[REDI_REPORT_SIZE] = {};
    output[OutputLevelsByte] = levels;
    TracedCall trace("output report", output, REDI_OUTPUT_REPORT_SIZE);
    const bool ok = succeeded(
        Usk_SendOutReport_a(record.deviceName, output, REDI_OUTPUT_REPORT_SIZE, OutputWriteTimeoutMs));
    trace.finish(ok);
    return ok;
}

std::uint16_t controllerReleaseNumber()
{
    return static_cast<std::uint16_t>(record.releaseNumber[0] | (record.releaseNumber[1] << 8));
}

void setControllerReleaseNumber(std::uint16_t bcd)
{
    record.releaseNumber[0] = static_cast<unsigned char>(bcd & 0xFF);
    record.releaseNumber[1] = static_cast<unsigned char>(bcd >> 8);
}

std::string controllerSerialNumber()
{
    return std::string(record.serialNumber, strnlen(record.serialNumber, sizeof record.serialNumber));
}

bool controllerSerialNumberIsLive()
{
    return (record.flags & REDI_RECORD_SERIAL_LIVE) != 0;
}
