#include "guard_table.h"

#include "registry.h"
#include "registry_transaction.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// Long enough for other saves to finish, short enough for a person waiting
// at the window.
constexpr DWORD saveTimeoutMs = 5000;

GuardResult outcome(GuardResult result, LONG rc, long *error)
{
    if (error)
        *error = rc;
    return result;
}

// Calls `use(name, number)` for the 20 values in the store's order: the
// levels, then the actions.
template <typename Table, typename Use> void forEachValue(Table &table, Use use)
{
    for (std::size_t i = 0; i < guardLineCount; ++i)
        use(guardValueNames[i], table.levels[i]);
    for (std::size_t i = 0; i < guardLineCount; ++i)
        use(guardActionNames[i], table.actions[i]);
}

// Reads the levels, then the actions. A missing value, or one too long for a
// REG_DWORD, only keeps its number; the first failure of the store itself is
// the result.
LONG readValues(const RegistryKey &key, GuardTable &table)
{
    LONG failure = ERROR_SUCCESS;
    const auto read = [&](const char *name, std::uint32_t &number) {
        LONG rc = ERROR_SUCCESS;
        key.readDword(name, number, &rc);
        if (failure == ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && rc != ERROR_MORE_DATA)
            failure = rc;
    };
    forEachValue(table, read);
    return failure;
}

// Writes all 20 values, even after a failure; the first failure is the result.
LONG writeValues(const RegistryKey &key, const GuardTable &table)
{
    LONG failure = ERROR_SUCCESS;
    const auto write = [&](const char *name, std::uint32_t number) {
        LONG rc = ERROR_SUCCESS;
        if (!key.writeDword(name, number, &rc) && failure == ERROR_SUCCESS)
            failure = rc;
    };
    forEachValue(table, write);
    return failure;
}

RegistryKey openGuardKey(LONG &rc)
{
    return Registry::instance().openKey(localMachineKey(), guardKeyPath, true, &rc);
}

// Saves `table` in one transaction, with `change` first reading it from the
// store and editing it. Another writer holding the store past the time-out
// fails the save, as a write that could not be made.
GuardResult rewrite(GuardTable table, const std::function<void(GuardTable &)> *change, long *error)
{
    RegistryTransaction transaction;
    LONG rc = transaction.begin(saveTimeoutMs);
    if (rc != ERROR_SUCCESS) {
        return outcome(rc == ERROR_ACCESS_DENIED ? GuardResult::KeyNotOpened : GuardResult::WriteFailed,
                       rc, error);
    }
    const RegistryKey key = openGuardKey(rc);
    if (!key.isOpen())
        return outcome(GuardResult::KeyNotOpened, rc, error);
    if (change) {
        rc = readValues(key, table);
        if (rc != ERROR_SUCCESS)
            return outcome(GuardResult::ReadFailed, rc, error);
        (*change)(table);
    }
    rc = writeValues(key, table);
    if (rc == ERROR_SUCCESS)
        rc = transaction.commit();
    return outcome(rc == ERROR_SUCCESS ? GuardResult::Ok : GuardResult::WriteFailed, rc, error);
}

} // namespace

// All 20 values from one snapshot of the store, so that a save going on
// meanwhile shows whole or not at all.
GuardResult readGuardTable(GuardTable &table, long *error, unsigned lockWaitMs)
{
    RegistryTransaction snapshot;
    LONG rc = snapshot.beginReading(lockWaitMs);
    if (rc != ERROR_SUCCESS)
        return outcome(GuardResult::KeyNotOpened, rc, error);
    const RegistryKey key
        = Registry::instance().openKeyForReading(localMachineKey(), guardKeyPath, &rc);
    if (rc == ERROR_FILE_NOT_FOUND)
        return outcome(GuardResult::Ok, ERROR_SUCCESS, error);
    if (!key.isOpen())
        return outcome(GuardResult::KeyNotOpened, rc, error);
    rc = readValues(key, table);
    return outcome(rc == ERROR_SUCCESS ? GuardResult::Ok : GuardResult::ReadFailed, rc, error);
}

GuardResult saveGuardTable(const GuardTable &table, long *error)
{
    return rewrite(table, nullptr, error);
}

GuardResult updateGuardTable(const std::function<void(GuardTable &)> &change, long *error)
{
    return rewrite(GuardTable{}, &change, error);
}

std::string guardStoreName()
{
#ifdef _WIN32
    return std::string("HKEY_LOCAL_MACHINE\\") + guardKeyPath;
#else
    return VnkRegStorePath();
#endif
}

std::string guardStoreCause(long error, bool writing)
{
    switch (error) {
    case ERROR_BUSY:
        return "busy: another program held its write lock until the time-out; try again";
    case ERROR_ACCESS_DENIED:
        if (!writing)
            return "not readable by this user";
#ifndef _WIN32
        if (::geteuid() != 0) {
            return std::string("read-only for this user (members of group ") + guardStoreGroup
                + " may change it: sudo adduser $USER " + guardStoreGroup + ", then log in again)";
        }
#endif
        return "access denied";
    case ERROR_BAD_FILE_TYPE:
        return "not a regular file (a link, a FIFO or a folder in its place is never used)";
    case ERROR_TIMEOUT:
        return writing ? "timed out writing the store" : "timed out reading the store";
    case ERROR_CANTREAD:
        return "could not be read (a save was interrupted that only a user who may write the "
               "store can undo, or the disk failed)";
    case ERROR_CANTWRITE:
        return "could not be written (the disk failed)";
    case ERROR_DISK_FULL:
        return "disk full";
    case ERROR_NOT_REGISTRY_FILE:
        return "not a registry store (the file belongs to another program)";
    case ERROR_BADDB:
        return "corrupt";
    case ERROR_OUTOFMEMORY:
        return "out of memory";
    default:
        return "registry error " + std::to_string(error);
    }
}
