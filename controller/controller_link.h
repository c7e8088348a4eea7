// The only code that calls the HID library: the demo flag, detection of the
// controller, one feature-report exchange, and the GPIO level reports.
//
// Operations never report to the user: each returns a success flag, and an
// out-argument is written only on success; controllerFailure() tells why
// the last one failed, when the library knows.
#pragma once

#include "feature_report.h"

#include <array>
#include <cstdint>
#include <string>

// The controller's 33-byte input report, byte 0 the report ID.
using InputReport = std::array<std::uint8_t, 33>;
namespace InputByte {
constexpr std::size_t Levels = 3; // the eight GPIO lines, bit n = line n
constexpr std::size_t Status = 10;
} // namespace InputByte

void setDemoMode(bool on);
bool isDemoMode();

// Why the last call to the library failed, for the user: "board replaced:
// OLD → NEW" (UTF-8) when another board took the controller's place. "" when
// the call succeeded, the cause is not known, or the library cannot tell
// (the vendor's has no such entry point).
std::string controllerFailure();

// Asks the library for the controller, also in demo mode. On success the
// device record is refreshed and `deviceName` receives the device's name.
bool findController(std::string &deviceName);

// Sends `report`; with `get` the reply replaces it. In demo mode nothing is
// sent and the buffer stays as built, so a get reads its own request back.
bool exchangeFeature(FeatureReport &report, bool get);

// The current input report; in demo mode all zeros, without a library call.
bool readInputReport(InputReport &report);

// GPIO levels from the current input report (byte 3) and the two status
// flags of byte 10 (bits 1 and 5).
bool readGpio(std::uint8_t &levels, bool &flagBit1, bool &flagBit5);
bool writeGpio(std::uint8_t levels);

// The record fields the catalogue reads: the firmware release as BCD and the
// serial number the library reported at the last successful find.
std::uint16_t controllerReleaseNumber();
void setControllerReleaseNumber(std::uint16_t bcd);
std::string controllerSerialNumber();
// Whether the last successful find read the serial number from the device
// itself. When not, the number is the one the system noted when the board
// was plugged in, and a number written since then does not show in it.
bool controllerSerialNumberIsLive();
