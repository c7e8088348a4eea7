// Reading and writing the controller's serial number from the command line.
// Where the system cannot read the number from the board itself, the number
// it reports is the one it noted at plug-in, which a write does not change:
// such a number is never presented as current, and never taken as a reason
// to skip a write.
#pragma once

#include <QString>

#include <string>

// The controller's serial number (Latin-1 bytes); a number that may be stale
// is said so on stderr. A failed read throws.
std::string readSerialNumber();

// Writes the number (Latin-1 bytes) to flash, except when the number just
// read from the board is that one already: flash takes only so many writes.
// Afterwards the number is read back where the board can tell it, and a
// different number throws; where it cannot, a note on stderr says so.
void writeSerialNumber(const std::string &latin1);

// A serial number as the command line prints it: UTF-8, control characters
// escaped.
QString serialNumberText(const std::string &latin1);
