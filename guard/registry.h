// A small layer over the registry: an owned key handle and an accessor that
// opens keys. Nothing here throws; a call's Windows result code is handed
// back only where the caller asks for it (`result`).
#pragma once

#include "registry_api.h"

#include <cstdint>
#include <string>

// Owns one open key handle; the handle 0 means "not open". Move-only.
// Destruction closes the handle, except 0 and the four predefined roots
// HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and HKEY_USERS.
class RegistryKey {
public:
    RegistryKey() noexcept = default;
    explicit RegistryKey(HKEY handle) noexcept : handle_(handle) { }
    RegistryKey(RegistryKey &&other) noexcept;
    RegistryKey &operator=(RegistryKey &&other) noexcept;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    ~RegistryKey();

    bool isOpen() const noexcept
    {
        return handle_ != nullptr;
    }
    HKEY handle() const noexcept
    {
        return handle_;
    }

    // True, with the number in `value`, only for a REG_DWORD of exactly four
    // bytes; otherwise `value` keeps what it held.
    bool readDword(const std::string &name, std::uint32_t &value, LONG *result = nullptr) const;
    // Stores `value` as a REG_DWORD, replacing a value of any type.
    bool writeDword(const std::string &name, std::uint32_t value, LONG *result = nullptr) const;

private:
    void close() noexcept;

    HKEY handle_ = nullptr;
};

// Stateless; one process-wide instance.
class Registry {
public:
    static Registry &instance();

    // With `create`, opens the key or makes it together with every missing
    // parent; without, opens an existing key only. Full access either way.
    // The result is not open when that fails.
    RegistryKey openKey(const RegistryKey &parent, const std::string &subKeyPath, bool create,
                        LONG *result = nullptr) const;
    // Opens an existing key with read access only (KEY_READ).
    RegistryKey openKeyForReading(const RegistryKey &parent, const std::string &subKeyPath,
                                  LONG *result = nullptr) const;

    Registry(const Registry &) = delete;
    Registry &operator=(const Registry &) = delete;

private:
    Registry() = default;
};

// The process-wide key object for HKEY_LOCAL_MACHINE; never closed.
const RegistryKey &localMachineKey();
