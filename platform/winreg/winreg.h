// The five ANSI registry calls of advapi32 that the program uses, for
// platforms without Windows. Types, constants and signatures are those of the
// Windows SDK; the data lives in one SQLite file (see README.md next to this
// header). Only the build for platforms other than Windows has this header on
// its include path; Windows builds include <windows.h> instead.
#pragma once

#include <cstdint>

// Handles and integer types, with the sizes they have on Windows.
struct HKEY__ {
    int unused;
};
using HKEY = HKEY__ *;
using PHKEY = HKEY *;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using LPBYTE = BYTE *;
using LPDWORD = DWORD *;
using LPSTR = char *;
using LPCSTR = const char *;
using ACCESS_MASK = DWORD;
using REGSAM = ACCESS_MASK;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    void *lpSecurityDescriptor;
    int bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES *;

// The predefined root keys: 0x80000000 and up, sign-extended to pointer width
// as on 64-bit Windows.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(INT32_MIN) + 0))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(INT32_MIN) + 1))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(INT32_MIN) + 2))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(INT32_MIN) + 3))

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_EXECUTE = 0x20019;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Options of RegCreateKeyExA and its dispositions.
inline constexpr DWORD REG_OPTION_RESERVED = 0;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_OPTION_VOLATILE = 1;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// Result codes (winerror.h).
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_DISK_FULL = 112;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_BUSY = 170;
inline constexpr LONG ERROR_BAD_FILE_TYPE = 222;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NOACCESS = 998;
inline constexpr LONG ERROR_BADDB = 1009;
inline constexpr LONG ERROR_CANTREAD = 1012;
inline constexpr LONG ERROR_CANTWRITE = 1013;
inline constexpr LONG ERROR_NOT_REGISTRY_FILE = 1017;
inline constexpr LONG ERROR_TIMEOUT = 1460;

extern "C" {

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition);

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                    DWORD cbData);

LONG RegCloseKey(HKEY hKey);

// Not in advapi32: the stand-in's own calls, for code that runs only where
// the stand-in is built (README.md, "Transactions").

// Takes the store's write lock, waiting at most `timeoutMs` in all for other
// writers, and opens a transaction that every registry call of the process
// takes part in until VnkRegEndTransaction.
LONG VnkRegBeginTransaction(DWORD timeoutMs);

// Opens a read transaction instead: every call until VnkRegEndTransaction
// reads one committed state of the store, waiting at most `timeoutMs` for a
// writer's commit to finish. Writes are refused meanwhile. A missing store
// reads as an empty registry and is not made.
LONG VnkRegBeginReadTransaction(DWORD timeoutMs);

// Commits the transaction (`commit` not 0) or rolls it back. A commit after a
// failed write in the transaction rolls back and returns that write's result.
// The connection closes with it, so that no process keeps a store open that
// was replaced or that a writer would convert.
LONG VnkRegEndTransaction(int commit);

// The path of the store file in effect.
LPCSTR VnkRegStorePath(void);

} // extern "C"
