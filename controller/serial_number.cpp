// The serial number and the firmware revision: both come from the device
// record that the library fills when it finds the controller, and the serial
// number is written with a request of its own shape.
#include "parameter_catalogue.h"

#include "controller_link.h"

#include <cstring>

namespace {

const char demoSerialNumber[] = "012345678";
constexpr std::uint16_t demoReleaseNumber = 0x0100;
constexpr std::size_t maxSerialLength = 9;

// The controller takes the serial number as a fixed-size USB string
// descriptor behind a "USBSN" tag, always stored in flash.
constexpr std::uint8_t serialRequestLength = 20;
constexpr std::size_t serialTagByte = 6;
constexpr char serialTag[] = "USBSN";
constexpr std::size_t descriptorLengthByte = 11;
constexpr std::size_t descriptorTypeByte = 12;
constexpr std::size_t descriptorTextByte = 13;
constexpr std::uint8_t descriptorLength = 20;
constexpr std::uint8_t stringDescriptorType = 3;

} // namespace

bool getSerialNumber(std::string &text)
{
    if (isDemoMode()) {
        text = demoSerialNumber;
        return true;
    }
    std::string deviceName;
    if (!findController(deviceName))
        return false;
    text = controllerSerialNumber();
    return true;
}

bool serialNumberIsLive()
{
    return isDemoMode() || controllerSerialNumberIsLive();
}

bool setSerialNumber(const std::string &text)
{
    if (text.empty() || text.size() > maxSerialLength)
        return false;
    FeatureReport report{};
    report[ReportByte::Direction] = ReportCode::DirectionSet;
    report[ReportByte::Target] = Flash;
    report[ReportByte::Length] = serialRequestLength;
    std::memcpy(&report[serialTagByte], serialTag, sizeof serialTag - 1);
    report[descriptorLengthByte] = descriptorLength;
    report[descriptorTypeByte] = stringDescriptorType;
    // One UTF-16LE code unit per byte of text, high byte zero.
    for (std::size_t i = 0; i < text.size(); ++i)
        report[descriptorTextByte + 2 * i] = static_cast<std::uint8_t>(text[i]);
    return exchangeFeature(report, false);
}

std::string getFirmwareRevision()
{
    if (isDemoMode())
        setControllerReleaseNumber(demoReleaseNumber);
    return releaseNumberText(controllerReleaseNumber());
}

std::string releaseNumberText(std::uint16_t bcd)
{
    const unsigned r = bcd;
    // Four BCD digits, major.minor, with at most one zero dropped at each
    // end. A nibble above 9 is not BCD; it shows as the character after '9'.
    std::string text = "00.00";
    text[0] = static_cast<char>('0' + (r >> 12));
    text[1] = static_cast<char>('0' + ((r >> 8) & 0xF));
    text[3] = static_cast<char>('0' + ((r >> 4) & 0xF));
    text[4] = static_cast<char>('0' + (r & 0xF));
    if (text.back() == '0')
        text.pop_back();
    if (text.front() == '0')
        text.erase(0, 1);
    return text;
}
