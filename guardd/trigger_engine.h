// Decides when a row of the guard trigger table fires, from the levels the
// service reads on each poll. No I/O: the caller supplies the time and the
// levels, and carries out what fires.
#pragma once

#include "guard_table.h"

#include <array>
#include <chrono>
#include <optional>
#include <vector>

using Clock = std::chrono::steady_clock;

enum class GuardAction : std::uint32_t { DoNothing = 0, Standby = 1, Shutdown = 2 };

// One poll's levels: nothing for a line the service could not read or does
// not watch. A line without a level never fires and its debounce restarts.
using LineLevels = std::array<std::optional<bool>, guardLineCount>;

struct FiredRow {
    std::size_t line;
    GuardAction action;
};

class TriggerEngine {
public:
    TriggerEngine(Clock::duration debounce, Clock::time_point graceEnd);

    // A row whose level or action changed starts afresh; the others keep
    // their state, so a table rewritten with the same rows changes nothing.
    void setTable(const GuardTable &table);
    const GuardTable &table() const
    {
        return table_;
    }

    // The rows that fire at `now`. A row fires when its line has held the
    // row's level for the debounce time and in two samples at least (a
    // debounce of 0 fires at the second), and then not again until the line
    // has left that level: a board that resumes with the line still at its
    // level does not go straight back to standby. A line that is at its level
    // from the first reading on fires no earlier than the end of the
    // start-up grace.
    std::vector<FiredRow> update(Clock::time_point now, const LineLevels &levels);
    // Whether the row of `line` fired and its line is still at the level.
    bool stands(std::size_t line) const;

private:
    struct LineState {
        std::optional<Clock::time_point> atLevelSince;
        bool armed = true;
        bool seenAway = false; // left the level at least once since start
    };

    static bool watched(std::uint32_t level, std::uint32_t action);

    Clock::duration debounce_;
    Clock::time_point graceEnd_;
    GuardTable table_{};
    std::array<LineState, guardLineCount> lines_{};
};
