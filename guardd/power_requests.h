// The requests of fired rows, from firing until logind has taken them.
// A request still waiting for its answer is never sent again: logind may yet
// act on it, and a second PowerOff queued behind the first would power off
// again after the next start. A request that was refused or never reached
// logind is sent again with growing pauses, for as long as its row stands.
#pragma once

#include "power_actions.h"
#include "repeated_failure.h"

#include <functional>
#include <list>

class PowerRequests {
public:
    PowerRequests(PowerActions &actions, LogFunction log);

    void add(Clock::time_point now, std::size_t line, GuardAction action);
    // Sends what is due, settles what was answered, gives up on rows that no
    // longer stand; returns when it next has something to do.
    Clock::time_point service(Clock::time_point now, const std::function<bool(std::size_t line)> &stands);
    // Whether the last answer for `line` was a refusal (asked again later).
    bool refused(std::size_t line) const;

private:
    struct Request {
        std::size_t line = 0;
        GuardAction action = GuardAction::DoNothing;
        unsigned id = 0;
        bool inFlight = false;
        bool answered = false;
        bool lateLogged = false;
        std::string error;
        Clock::time_point at{}; // sent at, or to be sent at
        Clock::duration pause{};
        RepeatedFailure trouble;
    };

    void send(Clock::time_point now, Request &request);
    // False when the request is settled and leaves the list.
    bool settle(Clock::time_point now, Request &request);

    PowerActions &actions_;
    LogFunction log_;
    std::list<Request> requests_;
    unsigned nextId_ = 0;
};
