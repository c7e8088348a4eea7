#include "registry.h"

#include <utility>

namespace {

bool isPredefinedRoot(HKEY handle)
{
    return handle == HKEY_CLASSES_ROOT || handle == HKEY_CURRENT_USER
        || handle == HKEY_LOCAL_MACHINE || handle == HKEY_USERS;
}

LONG handOn(LONG rc, LONG *result)
{
    if (result)
        *result = rc;
    return rc;
}

} // namespace

RegistryKey::RegistryKey(RegistryKey &&other) noexcept
    : handle_(std::exchange(other.handle_, nullptr))
{
}

RegistryKey &RegistryKey::operator=(RegistryKey &&other) noexcept
{
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

RegistryKey::~RegistryKey()
{
    close();
}

void RegistryKey::close() noexcept
{
    if (handle_ && !isPredefinedRoot(handle_))
        RegCloseKey(handle_);
    handle_ = nullptr;
}

// REG_DWORD is little-endian on every platform; the bytes are assembled by
// hand so that the stored layout does not depend on the host.
bool RegistryKey::readDword(const std::string &name, std::uint32_t &value, LONG *result) const
{
    DWORD type = REG_NONE;
    BYTE bytes[4] = {};
    DWORD size = sizeof bytes;
    if (handOn(RegQueryValueExA(handle_, name.c_str(), nullptr, &type, bytes, &size), result)
            != ERROR_SUCCESS
        || type != REG_DWORD || size != sizeof bytes) {
        return false;
    }
    value = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16
        | std::uint32_t{bytes[3]} << 24;
    return true;
}

bool RegistryKey::writeDword(const std::string &name, std::uint32_t value, LONG *result) const
{
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    return handOn(RegSetValueExA(handle_, name.c_str(), 0, REG_DWORD, bytes, sizeof bytes), result)
        == ERROR_SUCCESS;
}

Registry &Registry::instance()
{
    static Registry registry;
    return registry;
}

RegistryKey Registry::openKey(const RegistryKey &parent, const std::string &subKeyPath, bool create,
                              LONG *result) const
{
    HKEY handle = nullptr;
    const LONG rc = create
        ? RegCreateKeyExA(parent.handle(), subKeyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &handle, nullptr)
        : RegOpenKeyExA(parent.handle(), subKeyPath.c_str(), 0, KEY_ALL_ACCESS, &handle);
    return RegistryKey(handOn(rc, result) == ERROR_SUCCESS ? handle : nullptr);
}

RegistryKey Registry::openKeyForReading(const RegistryKey &parent, const std::string &subKeyPath,
                                        LONG *result) const
{
    HKEY handle = nullptr;
    const LONG rc = RegOpenKeyExA(parent.handle(), subKeyPath.c_str(), 0, KEY_READ, &handle);
    return RegistryKey(handOn(rc, result) == ERROR_SUCCESS ? handle : nullptr);
}

const RegistryKey &localMachineKey()
{
    static const RegistryKey key(HKEY_LOCAL_MACHINE);
    return key;
}
