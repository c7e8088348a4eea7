#include "repeated_failure.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

constexpr Clock::duration firstGap = 10s;
constexpr Clock::duration longestGap = 10min;

} // namespace

void RepeatedFailure::failed(Clock::time_point now, const std::string &text, LogPriority priority,
                             const LogFunction &log)
{
    if (text != text_) {
        text_ = text;
        unreported_ = 0;
        lastLine_ = now;
        gap_ = firstGap;
        log(priority, text);
        return;
    }
    ++unreported_;
    if (now - lastLine_ < gap_)
        return;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - lastLine_).count();
    log(priority, text + " (again, " + std::to_string(unreported_) + (unreported_ == 1 ? " time" : " times")
                      + " in the last " + std::to_string(seconds) + " s)");
    unreported_ = 0;
    lastLine_ = now;
    gap_ = std::min(gap_ * 2, longestGap);
}

void RepeatedFailure::recovered(const std::string &text, const LogFunction &log)
{
    if (!failing())
        return;
    log(LogPriority::Notice, text);
    text_.clear();
}
