#include "trigger_engine.h"

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
        if (!state.atLevelSince) {
            // A single reading never fires, whatever the debounce: a later
            // sample must find the line still there.
            state.atLevelSince = now;
            continue;
        }
        if (!watched(table_.levels[line], table_.actions[line]) || !state.armed)
            continue;
        if (now - *state.atLevelSince < debounce_ || (!state.seenAway && now < graceEnd_))
            continue;
        state.armed = false;
        fired.push_back({line, static_cast<GuardAction>(table_.actions[line])});
    }
    return fired;
}

bool TriggerEngine::stands(std::size_t line) const
{
    return lines_[line].atLevelSince && !lines_[line].armed;
}
