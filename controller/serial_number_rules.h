// Which serial numbers the controller can store. The write request carries
// nine code units with a zero high byte, one per byte of text, and the
// controller reports the number back one byte per character: so a serial
// number is 1 to 9 Latin-1 characters. A NUL would end the number early on
// the controller, so it is refused too.
//
// Callers hold their text as UTF-8 (the command line's arguments, or a
// QString converted with toUtf8()); the controller works in Latin-1 bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

inline constexpr std::size_t maxSerialNumberCharacters = 9;

// The Latin-1 bytes to send for `utf8`, or nothing when the text is not
// storable: empty, longer than nine characters, not valid UTF-8, holding a
// character beyond U+00FF, or holding a NUL.
// The Latin-1 bytes to send for `utf8`, or nothing when the text is not
// storable: empty, longer than nine characters, not valid UTF-8, holding a
// character beyond U+00FF, or holding a NUL.
std::optional<std::string> storableSerialNumber(const std::string &utf8);

bool isStorableSerialNumber(const std::string &utf8);

// The controller's serial number (one Latin-1 byte per character) as UTF-8,
// for printing.
std::string serialNumberToUtf8(const std::string &latin1);
