#include "guard_service.h"

#include "controller_link.h"
#include "parameter_catalogue.h"
#include "serial_number_rules.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

using namespace std::chrono_literals;

constexpr Clock::duration firstRetryDelay = 1s;
constexpr Clock::duration longestRetryDelay = 30s;
// With no report for this long the service asks for the current one, so a
// controller that reports only changes is still read now and then.
constexpr Clock::duration quietReadAfter = 5s;
constexpr Clock::duration reportSlack = 500ms;

Clock::duration longer(Clock::duration pause)
{
    return std::clamp(pause * 2, firstRetryDelay, longestRetryDelay);
}

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
    char text[32];
    std::snprintf(text, sizeof text, "%g s", std::chrono::duration<double>(d).count());
    return text;
}

} // namespace

GuardService::GuardService(const ServiceConfig &config, PowerActions &actions, ServiceHooks hooks,
                           Clock::time_point start)
    : config_(config), hooks_(std::move(hooks)), engine_(config.debounce, start + config.startupGrace),
      requests_(actions, hooks_.log)
{
    for (const auto &[bit, name] : {std::pair{config.batlowBit, "BATLOW#"}, {config.pwrbtnBit, "PWRBTN#"}}) {
        if (!bit)
            hooks_.log(LogPriority::Notice,
                       std::string(name) + " is not watched: no input-report bit is configured for it");
    }
}

void GuardService::reportArrived(Clock::time_point at, const InputReport &report)
{
    if (!answered_)
        return; // sent before the controller was lost: its lines are unknown now
    if (!listening_) {
        reportsTrouble_.recovered("input reports come from the controller at " + deviceName_ + " again; no longer polling",
                                  hooks_.log);
        listening_ = true;
    }
    reportHeard_ = true;
    nextSample_ = at + quietReadAfter;
    expectReport(at);
    take(at, report);
}

void GuardService::reportsFailed(Clock::time_point now)
{
    if (!answered_ || !listening_)
        return;
    // The wait failing does not prove the controller gone: the current
    // report says. A controller that never sent a report before the failure
    // is polled, so that a wait that fails at once cannot spin.
    const bool heard = reportHeard_;
    sample(now);
    if (!answered_)
        return;
    if (heard && hooks_.listen(deviceName_))
        reportHeard_ = false;
    else
        fallBack(now, "waiting for its input reports failed");
}

Clock::time_point GuardService::poll(Clock::time_point now)
{
    if (tableChanged_ && now >= tableDue_)
        reloadTable(now);
    if (listening_ && reportDeadline_ && now >= *reportDeadline_)
        reportsOverdue(now);
    if (now >= nextSample_)
        sample(now);
    for (const FiredRow &row : engine_.update(now, levels_))
        act(now, row);
    serveWatchdog(now);
    keepAlive(now);
    Clock::time_point due = std::min({nextSample_, engine_.nextDue(),
                                      requests_.service(now, [this](std::size_t line) { return engine_.stands(line); })});
    if (listening_ && reportDeadline_)
        due = std::min(due, *reportDeadline_);
    if (tableChanged_)
        due = std::min(due, tableDue_);
    if (servePeriod_ && connected_)
        due = std::min(due, nextServe_);
    if (config_.keepAliveEvery.count() > 0)
        due = std::min(due, nextKeepAlive_);
    publishStatus();
    if (publishMetrics_) {
        metrics_.controllerPresent = connected_ && answered_;
        metrics_.levels = levels_;
        metrics_.table = engine_.table();
        metrics_.service = counts_;
        publishMetrics_(metrics_, now);
    }
    return due;
}

void GuardService::reloadTable(Clock::time_point now)
{
    std::string error;
    const std::optional<GuardTable> table = hooks_.loadTable(error);
    if (!table) {
        // The last good table stays in force; a store held by a writer or
        // damaged is looked at again with growing pauses.
        tableProblem_ = error;
        tableTrouble_.failed(now, "cannot read the guard table, keeping the last one read: " + error,
                             LogPriority::Error, hooks_.log);
        tablePause_ = longer(tablePause_);
        tableDue_ = now + tablePause_;
        return;
    }
    tableChanged_ = false;
    tablePause_ = {};
    tableProblem_.clear();
    if (tableTrouble_.failing())
        tableTrouble_.recovered("guard table read again", hooks_.log);
    else if (table->levels != engine_.table().levels || table->actions != engine_.table().actions)
        hooks_.log(LogPriority::Info, "guard table read");
    engine_.setTable(*table);
}

bool GuardService::connect(Clock::time_point now)
{
    if (connected_)
        return true;
    if (now < nextAttempt_)
        return false;
    if (!findController(deviceName_)) {
        controllerTrouble_.failed(now, "no controller found; looking again with growing pauses",
                                  LogPriority::Warning, hooks_.log);
        backOff(now);
        return false;
    }
    connected_ = true;
    metrics_.firmware = getFirmwareRevision();
    metrics_.serialNumber = serialNumberToUtf8(controllerSerialNumber());
    return true;
}

void GuardService::backOff(Clock::time_point now)
{
    retryDelay_ = longer(retryDelay_);
    nextAttempt_ = now + retryDelay_;
}

void GuardService::sample(Clock::time_point now)
{
    nextSample_ = now + config_.pollInterval;
    InputReport report{};
    if (!connect(now)) {
        levels_ = {};
        return;
    }
    if (!readInputReport(report)) {
        ++counts_.failedExchanges;
        controllerFailed(now);
        return;
    }
    if (!answered_) {
        answered_ = true;
        retryDelay_ = {};
        const std::string found = "controller found at " + deviceName_;
        if (controllerTrouble_.failing())
            controllerTrouble_.recovered(found, hooks_.log);
        else
            hooks_.log(LogPriority::Info, found);
        startServing(now);
        startListening(now);
    } else if (listening_ && reporting_.mode == 1 && report != report_) {
        // A change that no report announced: one should follow within a
        // sample, else the controller does not send them.
        expectReport(now, true);
    }
    if (listening_)
        nextSample_ = now + quietReadAfter;
    take(now, report);
}

void GuardService::controllerFailed(Clock::time_point now)
{
    // Never act on a level that could not be read: every line is unknown
    // until the controller answers again.
    levels_ = {};
    connected_ = false;
    listening_ = false;
    if (answered_) {
        const std::string cause = controllerFailure();
        hooks_.log(LogPriority::Warning, "lost the controller at " + deviceName_ + (cause.empty() ? "" : ": " + cause));
        answered_ = false;
        retryDelay_ = {};
        nextAttempt_ = now;
    } else {
        controllerTrouble_.failed(now, "the controller at " + deviceName_
                                      + " was found but does not answer; trying again with growing pauses",
                                  LogPriority::Warning, hooks_.log);
        backOff(now);
    }
}

void GuardService::take(Clock::time_point now, const InputReport &report)
{
    report_ = report;
    for (std::size_t line = 0; line < 8; ++line)
        levels_[line] = (report[InputByte::Levels] >> line & 1) != 0;
    levels_[8] = bitOf(report, config_.batlowBit);
    levels_[9] = bitOf(report, config_.pwrbtnBit);
    for (const FiredRow &row : engine_.update(now, levels_))
        act(now, row);
}

void GuardService::startListening(Clock::time_point now)
{
    listening_ = false;
    reportDeadline_.reset();
    if (!hooks_.listen || !hooks_.listen(deviceName_))
        return;
    reportHeard_ = false;
    if (!learnReporting()) {
        fallBack(now, "its report mode cannot be read");
        return;
    }
    listening_ = true;
    expectReport(now);
}

bool GuardService::learnReporting()
{
    std::uint8_t mode = 0;
    std::uint16_t sampleMs = 0;
    if (!getReportMode(mode) || !getSampleRate(sampleMs))
        return false;
    reporting_ = {mode, sampleMs};
    return true;
}

void GuardService::expectReport(Clock::time_point from, bool changed)
{
    // Two samples and some slack for the bus and the scheduler: a report
    // late by that much is not coming. In report mode 1 a quiet controller
    // rightly sends nothing, so only a change makes a report due.
    reportDeadline_.reset();
    if (reporting_.mode == 0 || changed)
        reportDeadline_ = from + 2 * std::chrono::milliseconds(reporting_.sampleMs) + reportSlack;
}

void GuardService::reportsOverdue(Clock::time_point now)
{
    // The window or the CLI may have changed the report mode or the sample
    // rate since the service asked: then the wait was for the wrong thing.
    const Reporting expected = reporting_;
    if (!learnReporting())
        fallBack(now, "its report mode cannot be read");
    else if (reporting_ != expected)
        expectReport(now);
    else
        fallBack(now, "it sends no input reports");
}

void GuardService::fallBack(Clock::time_point now, const std::string &why)
{
    listening_ = false;
    reportDeadline_.reset();
    nextSample_ = std::min(nextSample_, now + config_.pollInterval);
    reportsTrouble_.failed(now,
                           "polling the controller at " + deviceName_ + " every "
                               + std::to_string(config_.pollInterval.count()) + " ms: " + why,
                           LogPriority::Warning, hooks_.log);
}

void GuardService::startServing(Clock::time_point now)
{
    servePeriod_.reset();
    if (!config_.serveWatchdog)
        return;
    float strobe = 0;
    if (getWatchdogStrobe(strobe) && strobe > 0) {
        // Half the strobe interval leaves a whole serve's worth of slack.
        servePeriod_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(strobe / 2.0));
        nextServe_ = now;
        hooks_.log(LogPriority::Info, "serving the watchdog every " + seconds(*servePeriod_));
    } else {
        hooks_.log(LogPriority::Error, "cannot read the watchdog's strobe interval; not serving it");
    }
}

void GuardService::serveWatchdog(Clock::time_point now)
{
    if (!servePeriod_ || !connected_ || now < nextServe_)
        return;
    if (!::serveWatchdog()) {
        ++counts_.failedExchanges;
        serveTrouble_.failed(now, "serving the watchdog failed", LogPriority::Error, hooks_.log);
        nextServe_ = now + std::min<Clock::duration>(*servePeriod_, config_.pollInterval);
        return;
    }
    ++counts_.watchdogServes;
    serveTrouble_.recovered("serving the watchdog again", hooks_.log);
    nextServe_ = now + *servePeriod_;
}

void GuardService::keepAlive(Clock::time_point now)
{
    if (config_.keepAliveEvery.count() <= 0 || now < nextKeepAlive_)
        return;
    nextKeepAlive_ = now + config_.keepAliveEvery;
    if (hooks_.keepAlive())
        keepAliveTrouble_.recovered("systemd hears from the service again", hooks_.log);
    else
        keepAliveTrouble_.failed(now, "cannot tell systemd that the service is alive", LogPriority::Error,
                                 hooks_.log);
}

void GuardService::act(Clock::time_point now, const FiredRow &row)
{
    hooks_.log(LogPriority::Notice, std::string(guardLineLabels[row.line]) + " is "
                   + std::to_string(engine_.table().levels[row.line]) + ": asking for " + actionWord(row.action));
    requests_.add(now, row.line, row.action);
    ++counts_.fires[row.line][row.action == GuardAction::Shutdown];
    lastFiredLine_ = row.line;
    lastFired_ = std::string(guardLineKeys[row.line]) + " " + actionWord(row.action) + " " + hooks_.wallTime();
}

void GuardService::publishStatus()
{
    // Without streams: the C++ locale they set up costs the service more
    // memory than all its own data.
    std::string text = "pid=" + std::to_string(::getpid()) + "\ncontroller=" + (connected_ ? deviceName_ : "")
        + "\ntable=" + (tableProblem_.empty() ? "ok" : "stale: " + tableProblem_) + "\nwatchdog="
        + (servePeriod_ && connected_ ? "serving every " + seconds(*servePeriod_) : "not served") + '\n';
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        const GuardTable &table = engine_.table();
        text += "line." + std::string(guardLineKeys[line]) + '=' + std::to_string(table.levels[line]) + ','
            + std::to_string(table.actions[line]) + ',' + (levels_[line] ? (*levels_[line] ? "1" : "0") : "unknown")
            + '\n';
    }
    if (!lastFired_.empty())
        text += "last-fired=" + lastFired_ + (requests_.refused(lastFiredLine_) ? " failed" : "") + '\n';
    if (text != lastStatus_) {
        lastStatus_ = text;
        hooks_.writeStatus(lastStatus_);
    }
}
