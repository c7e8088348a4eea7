// vnkestrix-guardd's work, without the loop: read the lines, decide, act,
// serve the controller's watchdog, tell systemd the service is alive, and
// record the state for `vnkestrix-cli guard status`. The loop, the signals
// and the bus connection belong to main(); the time is passed in, so every
// rule can be tested without waiting.
#pragma once

#include "metrics_text.h"
#include "power_requests.h"
#include "repeated_failure.h"
#include "service_config.h"
#include "trigger_engine.h"

#include <functional>
#include <optional>
#include <string>

struct ServiceHooks {
    // Reads the table read-only; nothing and a reason when it cannot.
    std::function<std::optional<GuardTable>(std::string &error)> loadTable;
    LogFunction log;
    // Replaces the status file's text (see status_text.h).
    std::function<void(const std::string &)> writeStatus;
    // The wall-clock time as text, for the status.
    std::function<std::string()> wallTime;
    // Tells systemd the service is alive; false when that failed.
    std::function<bool()> keepAlive;
};

class GuardService {
public:
    GuardService(const ServiceConfig &config, PowerActions &actions, ServiceHooks hooks,
                 Clock::time_point start);

    // Reads the table again when it is next due.
    void tableChanged()
    {
        tableChanged_ = true;
    }
    // Does what is due at `now`: a sample, a request sent again, a keep-alive,
    // a watchdog serve, a table read. Returns when something is next due,
    // which is never later than the next sample.
    Clock::time_point poll(Clock::time_point now);
    // Hands the board's state to `publish` after every poll.
    void publishMetrics(std::function<void(const BoardMetrics &, Clock::time_point)> publish)
    {
        publishMetrics_ = std::move(publish);
    }

private:
    void reloadTable(Clock::time_point now);
    bool connect(Clock::time_point now);
    void backOff(Clock::time_point now);
    LineLevels readLevels(Clock::time_point now);
    void startServing(Clock::time_point now);
    void serveWatchdog(Clock::time_point now);
    void keepAlive(Clock::time_point now);
    void act(Clock::time_point now, const FiredRow &row);
    void publishStatus();

    ServiceConfig config_;
    ServiceHooks hooks_;
    TriggerEngine engine_;
    PowerRequests requests_;

    bool tableChanged_ = true;
    std::string tableProblem_;
    RepeatedFailure tableTrouble_;
    Clock::time_point tableDue_{};
    Clock::duration tablePause_{};

    bool connected_ = false;
    bool answered_ = false; // the controller answered since it was found
    std::string deviceName_;
    Clock::time_point nextAttempt_{};
    Clock::duration retryDelay_{};
    RepeatedFailure controllerTrouble_;

    Clock::time_point nextSample_{};
    LineLevels levels_{};

    std::optional<Clock::duration> servePeriod_;
    Clock::time_point nextServe_{};
    RepeatedFailure serveTrouble_;

    Clock::time_point nextKeepAlive_{};
    RepeatedFailure keepAliveTrouble_;

    std::string lastFired_;
    std::size_t lastFiredLine_ = 0;
    std::string lastStatus_;

    BoardMetrics metrics_;
    ServiceCounts counts_;
    std::function<void(const BoardMetrics &, Clock::time_point)> publishMetrics_;
};
