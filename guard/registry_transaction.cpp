#include "registry_transaction.h"

#ifdef _WIN32

RegistryTransaction::~RegistryTransaction() = default;

LONG RegistryTransaction::begin(DWORD)
{
    return ERROR_SUCCESS;
}

LONG RegistryTransaction::beginReading(DWORD)
{
    return ERROR_SUCCESS;
}

LONG RegistryTransaction::commit()
{
    return ERROR_SUCCESS;
}

#else

RegistryTransaction::~RegistryTransaction()
{
    if (open_)
        VnkRegEndTransaction(0);
}

LONG RegistryTransaction::begin(DWORD timeoutMs)
{
    const LONG rc = VnkRegBeginTransaction(timeoutMs);
    open_ = rc == ERROR_SUCCESS;
    return rc;
}

LONG RegistryTransaction::beginReading(DWORD timeoutMs)
{
    const LONG rc = VnkRegBeginReadTransaction(timeoutMs);
    open_ = rc == ERROR_SUCCESS;
    return rc;
}

LONG RegistryTransaction::commit()
{
    open_ = false;
    return VnkRegEndTransaction(1);
}

#endif
