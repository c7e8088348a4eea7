// Every controller setting, action and the serial number, one free function
// per operation. Each builds one feature report; setters check the value's
// range before anything is sent (in demo mode too).
#pragma once

#include "feature_report.h"

#include <cstdint>
#include <string>

bool getReportMode(std::uint8_t &value);
bool setReportMode(std::uint8_t value, Target target);
bool getSampleRate(std::uint16_t &value);
bool setSampleRate(std::uint16_t value, Target target);
bool getWatchdogStrobe(float &seconds);
bool setWatchdogStrobe(float seconds, Target target);
bool getWatchdogDelay(float &seconds);
bool setWatchdogDelay(float seconds, Target target);
bool getS3SignalizationMode(std::uint8_t &value);
bool setS3SignalizationMode(std::uint8_t value, Target target);
bool getWatchdogMode(std::uint8_t &value);
bool setWatchdogMode(std::uint8_t value, Target target);
bool getWatchdogSources(std::uint8_t &value);
bool setWatchdogSources(std::uint8_t value, Target target);
bool getPowerSettings(std::uint8_t &value);
bool setPowerSettings(std::uint8_t value, Target target);
bool getGpioDirection(std::uint8_t &value);
bool setGpioDirection(std::uint8_t value, Target target);
bool getGpioOutputMode(std::uint8_t &value);
bool setGpioOutputMode(std::uint8_t value, Target target);
bool getGpioStandbyMode(std::uint8_t &value);
bool setGpioStandbyMode(std::uint8_t value, Target target);

bool resetThrmPin();
bool serveWatchdog();
bool resetWatchdogPin();

// Looks the controller up again (refreshing the device record) and returns
// its serial number; "012345678" in demo mode.
bool getSerialNumber(std::string &text);
// Whether the number the last getSerialNumber returned is the controller's
// current one (read from the device, or demo mode's fixed one). When not, it
// may be stale until the board is reconnected: it must never be taken as
// proof that the controller already holds a number.
bool serialNumberIsLive();
// Writes 1 to 9 bytes of text to flash as a USB string descriptor.
bool setSerialNumber(const std::string &text);

// The record's BCD release number as text: 0x0100 gives "1.0".
std::string getFirmwareRevision();
// A BCD release number as getFirmwareRevision shows it ("1.0").
std::string releaseNumberText(std::uint16_t bcd);
