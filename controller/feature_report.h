// The 33-byte feature report exchanged with the board controller, and the
// positions of its fields.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using FeatureReport = std::array<std::uint8_t, 33>;

// Where a set request writes: RAM takes effect at once and is lost at
// power-off, flash is kept.
enum Target : std::uint8_t { Ram = 0, Flash = 1 };

namespace ReportByte {
// Byte 0 is the HID report ID. The controller does not number its reports,
// so it is always 0; the HID layer still expects it in front of the data.
constexpr std::size_t ReportId = 0;
constexpr std::size_t Direction = 1;  // 1 get, 0 set or action
constexpr std::size_t Target = 2;     // 0 RAM, 1 flash; 0x80 marks an action
constexpr std::size_t Length = 3;     // number of value bytes
constexpr std::size_t Index = 4;      // parameter or action number
constexpr std::size_t IndexHigh = 5;  // always 0
constexpr std::size_t Value = 6;      // request value, least significant byte first
constexpr std::size_t ReplyValue = 2; // a get's reply carries the value from here
} // namespace ReportByte

namespace ReportCode {
constexpr std::uint8_t DirectionSet = 0;
constexpr std::uint8_t DirectionGet = 1;
constexpr std::uint8_t TargetAction = 0x80;
} // namespace ReportCode
