#include "serial_number_rules.h"

std::optional<std::string> storableSerialNumber(const std::string &utf8)
{
    std::string latin1;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        unsigned char character = 0;
        if (lead < 0x80) {
            character = lead;
        } else if ((lead == 0xC2 || lead == 0xC3) && i + 1 < utf8.size()
                   && (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
            // U+0080 to U+00FF are the only two-byte sequences that fit; any
            // other lead byte is a wider character or not UTF-8 at all.
            character = static_cast<unsigned char>(((lead & 0x1F) << 6)
                                                   | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
            ++i;
        } else {
            return std::nullopt;
        }
        if (character == 0 || latin1.size() == maxSerialNumberCharacters)
            return std::nullopt;
        latin1.push_back(static_cast<char>(character));
    }
    if (latin1.empty())
        return std::nullopt;
    return latin1;
}

bool isStorableSerialNumber(const std::string &utf8)
{
    return storableSerialNumber(utf8).has_value();
}

// The controller's serial number (one Latin-1 byte per character) as UTF-8,
// for printing.
std::string serialNumberToUtf8(const std::string &latin1)
{
    std::string utf8;
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8.push_back(c);
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return utf8;
}
