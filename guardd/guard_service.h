// vnkestrix-guardd's work, without the loop: learn the lines, decide, act,
// serve the controller's watchdog, tell systemd the service is alive, and
// record the state for `vnkestrix-cli guard status`. The loop, the signals,
// the bus connection and the thread that waits for input reports belong to
// main(); the time is passed in, so every rule can be tested without waiting.
//
// The lines come from the input reports the controller sends by itself
// (every sample in report mode 0, on a change in mode 1), so an idle board
// costs no wake-up and no control transfer. The service asks for the current
// report at a (re)connect and after a few quiet seconds. A controller that
// sends nothing where its report mode says it should, or a library that
// cannot wait for reports, is polled every poll interval instead.
#pragma once

#include "controller_link.h"
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
    // Waits for the input reports of the controller at the device given from
    // now on; false when the service cannot wait for them (and polls).
    std::function<bool(const std::string &device)> listen;
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
    // An input report the controller sent, received at `at`.
    void reportArrived(Clock::time_point at, const InputReport &report);
    // The wait for input reports failed at `now` (the device went away).
    void reportsFailed(Clock::time_point now);
    // Does what is due at `now`: a row that fires, a read of the current
    // report, a request sent again, a keep-alive, a watchdog serve, a table
    // read. Returns when something is next due.
    Clock::time_point poll(Clock::time_point now);
    // Hands the board's state to `publish` after every poll.
    void publishMetrics(std::function<void(const BoardMetrics &, Clock::time_point)> publish)
    {
        publishMetrics_ = std::move(publish);
    }

private:
    // What the controller was set to send when the service last asked.
    struct Reporting {
        std::uint8_t mode = 0;
        std::uint16_t sampleMs = 0;
        bool operator!=(const Reporting &o) const
        {
            return mode != o.mode || sampleMs != o.sampleMs;
        }
    };

    void reloadTable(Clock::time_point now);
    bool connect(Clock::time_point now);
    void backOff(Clock::time_point now);
    void sample(Clock::time_point now);
    void controllerFailed(Clock::time_point now);
    void take(Clock::time_point now, const InputReport &report);
    void startListening(Clock::time_point now);
    bool learnReporting();
    void expectReport(Clock::time_point from, bool changed = false);
    void reportsOverdue(Clock::time_point now);
    void fallBack(Clock::time_point now, const std::string &why);
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
    InputReport report_{};
    LineLevels levels_{};

    bool listening_ = false; // the lines come from the controller's reports
    bool reportHeard_ = false; // since the service began to listen
    Reporting reporting_;
    // A report must have come by then if the controller sends any.
    std::optional<Clock::time_point> reportDeadline_;
    RepeatedFailure reportsTrouble_;

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
