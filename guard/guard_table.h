// The guard service's trigger table: for each of ten lines (GPIO 0 to 7,
// BATLOW#, PWRBTN#) the level that triggers and the action taken, kept as 20
// REG_DWORD values under HKEY_LOCAL_MACHINE\SOFTWARE\Vantrel\Brivane.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

inline constexpr const char *guardKeyPath = "SOFTWARE\\Vantrel\\Brivane";

// The group whose members may change the guard store without root.
inline constexpr const char *guardStoreGroup = "vnkestrix";

inline constexpr std::size_t guardLineCount = 10;

// The lines' short names on the command line, in profiles and in the guard
// service's status, and their labels as the Guard page shows them.
inline constexpr std::array<const char *, guardLineCount> guardLineKeys
    = {"gpio0", "gpio1", "gpio2", "gpio3", "gpio4", "gpio5", "gpio6", "gpio7", "batlow", "pwrbtn"};
inline constexpr std::array<const char *, guardLineCount> guardLineLabels
    = {"GPIO 0", "GPIO 1", "GPIO 2", "GPIO 3", "GPIO 4", "GPIO 5", "GPIO 6", "GPIO 7", "BATLOW#", "PWRBTN#"};

// The actions' words on the command line, in profiles and in the metrics,
// indexed by the stored number.
inline constexpr std::array<const char *, 3> guardActionKeys = {"do-nothing", "standby", "shutdown"};

// Level numbers: 0 "is 0", 1 "is 1".
inline constexpr std::array<const char *, guardLineCount> guardValueNames
    = {"GPIO0 Value", "GPIO1 Value", "GPIO2 Value", "GPIO3 Value",  "GPIO4 Value",
       "GPIO5 Value", "GPIO6 Value", "GPIO7 Value", "BATLOW Value", "PWRBTN Value"};

// Action numbers: 0 "Do Nothing", 1 "Standby", 2 "Shutdown".
inline constexpr std::array<const char *, guardLineCount> guardActionNames
    = {"GPIO0 Action", "GPIO1 Action", "GPIO2 Action", "GPIO3 Action",  "GPIO4 Action",
       "GPIO5 Action", "GPIO6 Action", "GPIO7 Action", "BATLOW Action", "PWRBTN Action"};

// The numbers of the table, index i belonging to guardValueNames[i] and
// guardActionNames[i]. Any 32-bit number is kept as it is; nothing checks
// ranges.
struct GuardTable {
    std::array<std::uint32_t, guardLineCount> levels{};
    std::array<std::uint32_t, guardLineCount> actions{};
};

enum class GuardResult {
    Ok,
    KeyNotOpened, // the key could not be opened (or made) as the operation needs
    ReadFailed, // the store failed while a value was read; a missing value is no failure
    WriteFailed, // saving only: the table was not written
};

// Each operation can hand back the registry's result code of its failure
// (`error`, ERROR_SUCCESS when it succeeded), for messages that say why.
//
// Where the store is the registry stand-in, a save is one transaction: all
// 20 values or none, and the wait for other writers is one time-out (a few
// seconds) for the whole save. On Windows the 20 values are written one by
// one, all attempted even when one fails.

// How long a reader or a save waits for another program's write lock.
inline constexpr unsigned guardLockWaitMs = 5000;

// Reads the table with read access only, all 20 values from one committed
// state of the store: a save going on meanwhile shows whole or not at all. A
// missing key or store is a table of defaults (Ok, `table` as it was), and
// so is a value that is missing, not a REG_DWORD or not four bytes long.
// Nothing is made. `lockWaitMs` bounds the wait for a writer's commit (the
// guard service asks for less).
GuardResult readGuardTable(GuardTable &table, long *error = nullptr,
                           unsigned lockWaitMs = guardLockWaitMs);

// Opens the key (making it when missing) and writes the 20 values, levels
// first.
GuardResult saveGuardTable(const GuardTable &table, long *error = nullptr);

// Reads the table, lets `change` edit it and saves it, all in one transaction
// of the stand-in: concurrent updates take turns and none is lost.
GuardResult updateGuardTable(const std::function<void(GuardTable &)> &change,
                             long *error = nullptr);

// Where the table is kept, for messages: the stand-in's store file, or the
// key's path on Windows.
std::string guardStoreName();

// Why the store failed, in the user's words, from an operation's `error`.
std::string guardStoreCause(long error, bool writing);
