// One poll of vnkestrix-guardd: read the lines, decide, act, serve the
// watchdog, and record the state for `vnkestrix-cli guard status`. The loop,
// the signals and systemd belong to main(); the time is passed in, so every
// rule can be tested without waiting.
#pragma once

#include "power_actions.h"
#include "service_config.h"
#include "trigger_engine.h"

#include <functional>
#include <optional>
#include <string>

enum class LogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

struct ServiceHooks {
    // Reads the table read-only; nothing and a reason when it cannot.
    std::function<std::optional<GuardTable>(std::string &error)> loadTable;
    std::function<void(LogPriority, const std::string &)> log;
    // Replaces the status file's text (see status_text.h).
    std::function<void(const std::string &)> writeStatus;
    // The wall-clock time as text, for the status.
    std::function<std::string()> wallTime;
};

class GuardService {
public:
    GuardService(const ServiceConfig &config, PowerActions &actions, ServiceHooks hooks,
                 Clock::time_point start);

    // Reads the table again at the next poll.
    void tableChanged()
    {
        tableChanged_ = true;
    }
    void poll(Clock::time_point now);

private:
    void reloadTable();
    bool connect(Clock::time_point now);
    LineLevels readLevels(Clock::time_point now);
    void serveWatchdog(Clock::time_point now);
    void act(const FiredRow &row);
    void publishStatus(const LineLevels &levels);

    ServiceConfig config_;
    PowerActions &actions_;
    ServiceHooks hooks_;
    TriggerEngine engine_;
    bool tableChanged_ = true;
    std::string tableProblem_;

    bool connected_ = false;
    std::string deviceName_;
    Clock::time_point nextAttempt_{};
    Clock::duration retryDelay_{};
    bool absenceLogged_ = false;

    std::optional<Clock::duration> servePeriod_;
    Clock::time_point nextServe_{};

    std::string lastFired_;
    std::string lastStatus_;
};
