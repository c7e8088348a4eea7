// Spelled-out request bytes for the golden tables: the bytes given, then
// zeros up to the report's 33 bytes.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

inline QByteArray golden(const char *hexBytes, int size = 33)
{
    QByteArray bytes = QByteArray::fromHex(hexBytes);
    bytes.append(size - bytes.size(), '\0');
    return bytes;
}

inline QByteArray toByteArray(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
}
