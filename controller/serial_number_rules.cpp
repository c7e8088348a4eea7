#include "serial_number_rules.h"

#include <cstdio>

namespace {

bool isControlCharacter(unsigned code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

} // namespace

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
        if (isControlCharacter(character) || latin1.size() == maxSerialNumberCharacters)
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

std::string withControlCharactersEscaped(const std::string &utf8)
{
    std::string shown;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned code = static_cast<unsigned char>(utf8[i]);
        const unsigned next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
        // U+0080 to U+009F are the two bytes C2 80 to C2 9F.
        const bool wide = code == 0xC2 && next >= 0x80 && next <= 0x9F;
        if (!wide && (code >= 0x80 || !isControlCharacter(code))) {
            shown.push_back(utf8[i]);
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", wide ? next : code);
        shown += escaped;
        i += wide ? 1 : 0;
    }
    return shown;
}
