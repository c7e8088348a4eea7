// Which serial numbers the controller can store. The write request carries
// nine code units with a zero high byte, one per byte of text, and the
// controller reports the number back one byte per character: so a serial
// number is 1 to 9 Latin-1 characters. Control characters are refused: a NUL
// would end the number early on the controller, and the others would break
// every line the number is printed on, from labels to the command line's
// output.
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
// character beyond U+00FF, or holding a control character (U+0000 to U+001F,
// U+007F to U+009F).
std::optional<std::string> storableSerialNumber(const std::string &utf8);

bool isStorableSerialNumber(const std::string &utf8);

// The controller's serial number (one Latin-1 byte per character) as UTF-8,
// for printing.
std::string serialNumberToUtf8(const std::string &latin1);

// `utf8` with each control character written as \xNN, so that a number the
// controller already holds, or one a user typed, prints on one line.
std::string withControlCharactersEscaped(const std::string &utf8);
