// A failure that repeats on every poll would fill the journal with the same
// line. It is logged once when it starts, then as a count at growing
// intervals, and its end is logged once.
#pragma once

#include <chrono>
#include <functional>
#include <string>

using Clock = std::chrono::steady_clock;

enum class LogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };
using LogFunction = std::function<void(LogPriority, const std::string &)>;

class RepeatedFailure {
public:
    // `text` happened at `now`: logged at once when it differs from the
    // failure before, else counted and summed up as "TEXT (again, N times in
    // the last S s)" once the interval has passed (10 s, doubling to 10 min).
    void failed(Clock::time_point now, const std::string &text, LogPriority priority, const LogFunction &log);
    // Logs `text` when something had failed, and forgets the failure.
    void recovered(const std::string &text, const LogFunction &log);
    bool failing() const
    {
        return !text_.empty();
    }

private:
    std::string text_;
    unsigned unreported_ = 0;
    Clock::time_point lastLine_{};
    Clock::duration gap_{};
};
