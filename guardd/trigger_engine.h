// Decides when a row of the guard trigger table fires, from the levels the
// controller reports. No I/O: the caller supplies the time and the levels,
// and carries out what fires.
#pragma once

#include "guard_table.h"

#include <array>
#include <chrono>
#include <optional>
#include <vector>

using Clock = std::chrono::steady_clock;

enum class GuardAction : std::uint32_t { DoNothing = 0, Standby = 1, Shutdown = 2 };

// The lines as last reported: nothing for a line the service could not read
// or does not watch. A line without a level never fires and its debounce
// restarts.
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

    // The rows that fire at `now`, with `levels` known since `now` at the
    // latest. A row fires when its line has held the row's level for the
    // debounce time, counted from the first reading that showed the level
    // (a controller that reports only changes sends no second one), and then
    // not again until the line has left that level: a board that resumes
    // with the line still at its level does not go straight back to standby.
    // A line that is at its level from the first reading on fires no earlier
    // than the end of the start-up grace.
    std::vector<FiredRow> update(Clock::time_point now, const LineLevels &levels);
    // When the next row fires if no line changes; max() when none would.
    Clock::time_point nextDue() const;
    // Whether the row of `line` fired and its line is still at the level.
    bool stands(std::size_t line) const;

private:
    struct LineState {
        std::optional<Clock::time_point> atLevelSince;
        bool armed = true;
        bool seenAway = false; // left the level at least once since start
    };

    static bool watched(std::uint32_t level, std::uint32_t action);
    // When a row whose line is at its level fires.
    Clock::time_point firesAt(const LineState &state) const;

    Clock::duration debounce_;
    Clock::time_point graceEnd_;
    GuardTable table_{};
    std::array<LineState, guardLineCount> lines_{};
};
