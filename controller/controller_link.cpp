#include "controller_link.h"

#include "redi.h"

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

bool findController(std::string &deviceName)
{
    if (!succeeded(Usk_FindSensor_a(REDI_SELECT_BOARD_CONTROLLER, 0, 0, 0, 0, 0, 0, &record)))
        return false;
    deviceName.assign(record.deviceName, strnlen(record.deviceName, sizeof record.deviceName));
    return true;
}

bool exchangeFeature(FeatureReport &report, bool get)
{
    if (demoMode)
        return true;
    return succeeded(Usk_Feature_a(record.deviceName, report.data(), get ? 1 : 0));
}

bool readInputReport(InputReport &report)
{
    InputReport input{};
    if (!demoMode && !succeeded(Usk_GetCurrentInReport_a(record.deviceName, input.data(), REDI_REPORT_SIZE)))
        return false;
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
    return succeeded(Usk_SendOutReport_a(record.deviceName, output, REDI_OUTPUT_REPORT_SIZE,
                                         OutputWriteTimeoutMs));
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
