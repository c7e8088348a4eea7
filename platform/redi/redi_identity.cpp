#include "redi_identity.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace redi {

namespace {

bool tellsAnyNumber(const Identity &id)
{
    return std::any_of(id.serials.begin(), id.serials.end(), [](const std::wstring &s) { return !s.empty(); });
}

// The text goes to terminals and logs: control characters as \xNN, the rest
// as UTF-8, and a number that is missing as "(none)".
std::string printable(const std::wstring &serial)
{
    if (serial.empty())
        return "(none)";
    std::string out;
    for (const wchar_t w : serial) {
        const auto c = static_cast<unsigned long>(w);
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02lx", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
        } else if (c < 0x10000 && (c < 0xD800 || c > 0xDFFF)) {
            out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        } else if (c >= 0x10000 && c <= 0x10FFFF) {
            out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
                    static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            out += '?';
        }
    }
    return out;
}

} // namespace

bool Identity::isThisBoard(const std::wstring &serial, const std::vector<std::wstring> &present) const
{
    if (tellsAnyNumber(*this))
        return !serial.empty() && std::find(serials.begin(), serials.end(), serial) != serials.end();
    // A board that never told a number leaves nothing to compare: only a
    // lone device that tells none either can be no other board.
    return serial.empty() && std::count(present.begin(), present.end(), std::wstring()) == 1;
}

std::string Identity::whyNotFound(const std::vector<std::wstring> &present) const
{
    if (present.empty() || std::any_of(present.begin(), present.end(), [&](const std::wstring &s) { return isThisBoard(s, present); }))
        return {};
    if (!tellsAnyNumber(*this) && std::count(present.begin(), present.end(), std::wstring()) > 1)
        return "several boards tell no serial number: which one was this board cannot be told";
    // The latest number the board was known by: the one it has now, unless
    // another program changed it. The arrow is spelt in UTF-8 bytes, whatever
    // the compiler's character set.
    const auto latest = std::find_if(serials.rbegin(), serials.rend(), [](const std::wstring &s) { return !s.empty(); });
    return "board replaced: " + printable(latest != serials.rend() ? *latest : std::wstring()) + " \xE2\x86\x92 "
        + printable(present.front());
}

bool serialNumberWritten(const unsigned char *report, std::wstring &serial)
{
    // A set to flash of 20 bytes at index 0: the "USBSN" tag and a USB
    // string descriptor (length 20, type 3) of UTF-16LE code units.
    static const unsigned char head[] = {0, 0, 1, 20, 0, 0, 'U', 'S', 'B', 'S', 'N', 20, 3};
    if (std::memcmp(report, head, sizeof head) != 0)
        return false;
    serial.clear();
    for (std::size_t i = sizeof head; i + 1 < 33 && (report[i] | report[i + 1]); i += 2)
        serial.push_back(static_cast<wchar_t>(report[i] | report[i + 1] << 8));
    return true;
}

} // namespace redi
