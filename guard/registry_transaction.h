// A transaction of the registry stand-in: the registry calls made while a
// write transaction is open are committed together, or not at all; those
// made in a read transaction all see one committed state. The Windows
// registry has no such thing for these calls, so there it does nothing and
// each call stands alone.
#pragma once

#include "registry_api.h"

class RegistryTransaction {
public:
    RegistryTransaction() = default;
    RegistryTransaction(const RegistryTransaction &) = delete;
    RegistryTransaction &operator=(const RegistryTransaction &) = delete;
    // Rolls back a transaction that was begun and not committed.
    ~RegistryTransaction();

    // Waits at most `timeoutMs` in all for other writers, for this call and
    // every call until the commit.
    LONG begin(DWORD timeoutMs);
    // A read transaction: waits at most `timeoutMs` for a writer's commit.
    LONG beginReading(DWORD timeoutMs);
    LONG commit();

private:
    bool open_ = false;
};
