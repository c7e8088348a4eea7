#include "guard_service.h"

#include "controller_link.h"
#include "parameter_catalogue.h"

#include <unistd.h>

#include <algorithm>
#include <sstream>

namespace {

using namespace std::chrono_literals;

constexpr Clock::duration firstRetryDelay = 1s;
constexpr Clock::duration longestRetryDelay = 30s;

const char *actionWord(GuardAction action)
{
    return action == GuardAction::Shutdown ? "shutdown" : "standby";
}

std::optional<bool> bitOf(const InputReport &report, const std::optional<InputBit> &where)
{
    if (!where)
        return std::nullopt;
    return (report[static_cast<std::size_t>(where->byte)] >> where->bit & 1) != 0;
}

std::string seconds(Clock::duration d)
{
    std::ostringstream text;
    text << std::chrono::duration<double>(d).count() << " s";
    return text.str();
}

} // namespace

GuardService::GuardService(const ServiceConfig &config, PowerActions &actions, ServiceHooks hooks,
                           Clock::time_point start)
    : config_(config), actions_(actions), hooks_(std::move(hooks)),
      engine_(config.debounce, start + config.startupGrace)
{
    for (const auto &[bit, name] : {std::pair{config.batlowBit, "BATLOW#"}, {config.pwrbtnBit, "PWRBTN#"}}) {
        if (!bit)
            hooks_.log(LogPriority::Notice,
                       std::string(name) + " is not watched: no input-report bit is configured for it");
    }
}

void GuardService::poll(Clock::time_point now)
{
    if (tableChanged_)
        reloadTable();
    const LineLevels levels = readLevels(now);
    for (const FiredRow &row : engine_.update(now, levels))
        act(row);
    if (connected_)
        serveWatchdog(now);
    publishStatus(levels);
}

void GuardService::reloadTable()
{
    tableChanged_ = false;
    std::string error;
    const std::optional<GuardTable> table = hooks_.loadTable(error);
    if (!table) {
        if (error != tableProblem_)
            hooks_.log(LogPriority::Error, "cannot read the guard table, keeping the last one read: " + error);
        tableProblem_ = error;
        return;
    }
    if (!tableProblem_.empty() || table->levels != engine_.table().levels
        || table->actions != engine_.table().actions)
        hooks_.log(LogPriority::Info, "guard table read");
    tableProblem_.clear();
    engine_.setTable(*table);
}

bool GuardService::connect(Clock::time_point now)
{
    if (connected_)
        return true;
    if (now < nextAttempt_)
        return false;
    if (!findController(deviceName_)) {
        if (!absenceLogged_)
            hooks_.log(LogPriority::Warning, "no controller found; looking again with growing pauses");
        absenceLogged_ = true;
        retryDelay_ = std::clamp(retryDelay_ * 2, firstRetryDelay, longestRetryDelay);
        nextAttempt_ = now + retryDelay_;
        return false;
    }
    connected_ = true;
    absenceLogged_ = false;
    retryDelay_ = {};
    hooks_.log(LogPriority::Info, "controller found at " + deviceName_);
    servePeriod_.reset();
    if (config_.serveWatchdog) {
        float strobe = 0;
        if (getWatchdogStrobe(strobe) && strobe > 0) {
            // Half the strobe interval leaves a whole poll's worth of slack.
            servePeriod_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(strobe / 2.0));
            nextServe_ = now;
            hooks_.log(LogPriority::Info, "serving the watchdog every " + seconds(*servePeriod_));
        } else {
            hooks_.log(LogPriority::Error, "cannot read the watchdog's strobe interval; not serving it");
        }
    }
    return true;
}

LineLevels GuardService::readLevels(Clock::time_point now)
{
    LineLevels levels{};
    InputReport report{};
    if (!connect(now))
        return levels;
    if (!readInputReport(report)) {
        // Never act on a level that could not be read: every line is unknown
        // until the controller answers again.
        hooks_.log(LogPriority::Warning, "lost the controller at " + deviceName_);
        connected_ = false;
        nextAttempt_ = now;
        return levels;
    }
    for (std::size_t line = 0; line < 8; ++line)
        levels[line] = (report[InputByte::Levels] >> line & 1) != 0;
    levels[8] = bitOf(report, config_.batlowBit);
    levels[9] = bitOf(report, config_.pwrbtnBit);
    return levels;
}

void GuardService::serveWatchdog(Clock::time_point now)
{
    if (!servePeriod_ || now < nextServe_)
        return;
    if (!::serveWatchdog()) {
        hooks_.log(LogPriority::Error, "serving the watchdog failed");
        return; // tried again at the next poll
    }
    nextServe_ = now + *servePeriod_;
}

void GuardService::act(const FiredRow &row)
{
    const std::string what = std::string(guardLineLabels[row.line]) + " is "
        + std::to_string(engine_.table().levels[row.line]) + ": asking for " + actionWord(row.action);
    hooks_.log(LogPriority::Notice, what);
    std::string error;
    if (!actions_.request(row.action, error))
        hooks_.log(LogPriority::Error, error);
    lastFired_ = std::string(guardLineKeys[row.line]) + " " + actionWord(row.action) + " " + hooks_.wallTime()
        + (error.empty() ? "" : " failed");
}

void GuardService::publishStatus(const LineLevels &levels)
{
    std::ostringstream text;
    text << "pid=" << ::getpid() << "\ncontroller=" << (connected_ ? deviceName_ : "") << "\ntable="
         << (tableProblem_.empty() ? "ok" : "stale: " + tableProblem_) << "\nwatchdog="
         << (servePeriod_ && connected_ ? "serving every " + seconds(*servePeriod_) : "not served") << '\n';
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        const GuardTable &table = engine_.table();
        text << "line." << guardLineKeys[line] << '=' << table.levels[line] << ',' << table.actions[line] << ','
             << (levels[line] ? (*levels[line] ? "1" : "0") : "unknown") << '\n';
    }
    if (!lastFired_.empty())
        text << "last-fired=" << lastFired_ << '\n';
    if (text.str() != lastStatus_) {
        lastStatus_ = text.str();
        hooks_.writeStatus(lastStatus_);
    }
}
