// The guard service's trigger table: for each of ten lines (GPIO 0 to 7,
// BATLOW#, PWRBTN#) the level that triggers and the action taken, kept as 20
// REG_DWORD values under HKEY_LOCAL_MACHINE\SOFTWARE\Vantrel\Brivane.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr const char *guardKeyPath = "SOFTWARE\\Vantrel\\Brivane";

inline constexpr std::size_t guardLineCount = 10;

// The lines' short names on the command line, in profiles and in the guard
// service's status, and their labels as the Guard page shows them.
inline constexpr std::array<const char *, guardLineCount> guardLineKeys
    = {"gpio0", "gpio1", "gpio2", "gpio3", "gpio4", "gpio5", "gpio6", "gpio7", "batlow", "pwrbtn"};
inline constexpr std::array<const char *, guardLineCount> guardLineLabels
    = {"GPIO 0", "GPIO 1", "GPIO 2", "GPIO 3", "GPIO 4", "GPIO 5", "GPIO 6", "GPIO 7", "BATLOW#", "PWRBTN#"};

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
    KeyNotOpened, // the key could be neither opened nor created with full access
    WriteFailed, // saving only: at least one of the 20 writes failed
};

// Opens the key (creating it when missing) and reads the 20 values. A value
// that is missing, not a REG_DWORD or not four bytes long leaves its number
// in `table` as it was.
GuardResult loadGuardTable(GuardTable &table);

// Opens the key (creating it when missing) and writes the 20 values, levels
// first, each in its own write; all 20 are attempted even when one fails.
GuardResult saveGuardTable(const GuardTable &table);
