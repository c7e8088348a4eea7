#include "trigger_engine.h"

#include <algorithm>

TriggerEngine::TriggerEngine(Clock::duration debounce, Clock::time_point graceEnd)
    : debounce_(debounce), graceEnd_(graceEnd)
{
}

bool TriggerEngine::watched(std::uint32_t level, std::uint32_t action)
{
    // Numbers outside the page's items (the store keeps any 32-bit value)
    // name no level or action: such a row is left alone.
    return level <= 1
        && (action == static_cast<std::uint32_t>(GuardAction::Standby)
            || action == static_cast<std::uint32_t>(GuardAction::Shutdown));
}

void TriggerEngine::setTable(const GuardTable &table)
{
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        if (table.levels[line] != table_.levels[line] || table.actions[line] != table_.actions[line]) {
            // The line's history stays: a line that was already at the new
            // level since start is still held to the grace period.
            const bool seenAway = lines_[line].seenAway;
            lines_[line] = LineState{};
            lines_[line].seenAway = seenAway;
        }
    }
    table_ = table;
}

std::vector<FiredRow> TriggerEngine::update(Clock::time_point now, const LineLevels &levels)
{
    std::vector<FiredRow> fired;
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        LineState &state = lines_[line];
        if (!levels[line]) {
            state.atLevelSince.reset();
            continue;
        }
        const bool atLevel = *levels[line] == (table_.levels[line] == 1);
        if (!atLevel) {
            state.atLevelSince.reset();
            state.armed = true;
            state.seenAway = true;
            continue;
        }
        if (!state.atLevelSince)
            state.atLevelSince = now;
        if (!watched(table_.levels[line], table_.actions[line]) || !state.armed || now < firesAt(state))
            continue;
        state.armed = false;
        fired.push_back({line, static_cast<GuardAction>(table_.actions[line])});
    }
    return fired;
}

Clock::time_point TriggerEngine::firesAt(const LineState &state) const
{
    const Clock::time_point held = *state.atLevelSince + debounce_;
    return state.seenAway ? held : std::max(held, graceEnd_);
}

Clock::time_point TriggerEngine::nextDue() const
{
    Clock::time_point due = Clock::time_point::max();
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        const LineState &state = lines_[line];
        if (state.atLevelSince && state.armed && watched(table_.levels[line], table_.actions[line]))
            due = std::min(due, firesAt(state));
    }
    return due;
}

bool TriggerEngine::stands(std::size_t line) const
{
    return lines_[line].atLevelSince && !lines_[line].armed;
}
