#include "power_requests.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

// logind answers within milliseconds; longer than this is worth a line.
constexpr Clock::duration answerExpectedWithin = 1s;
constexpr Clock::duration firstPause = 1s;
constexpr Clock::duration longestPause = 30s;

const char *method(GuardAction action)
{
    return action == GuardAction::Shutdown ? "PowerOff" : "Suspend";
}

} // namespace

PowerRequests::PowerRequests(PowerActions &actions, LogFunction log) : actions_(actions), log_(std::move(log)) { }

void PowerRequests::add(Clock::time_point now, std::size_t line, GuardAction action)
{
    Request &request = requests_.emplace_back();
    request.line = line;
    request.action = action;
    request.id = nextId_++;
    request.at = now;
}

Clock::time_point PowerRequests::service(Clock::time_point now,
                                         const std::function<bool(std::size_t line)> &stands)
{
    Clock::time_point due = Clock::time_point::max();
    for (auto it = requests_.begin(); it != requests_.end();) {
        Request &request = *it;
        if (!request.inFlight && !stands(request.line)) {
            if (request.trouble.failing())
                log_(LogPriority::Notice, std::string(guardLineLabels[request.line])
                         + " no longer stands: not asking for " + method(request.action) + " again");
            it = requests_.erase(it);
            continue;
        }
        if (!request.inFlight && now >= request.at)
            send(now, request);
        if (!settle(now, request)) {
            it = requests_.erase(it);
            continue;
        }
        if (!request.inFlight)
            due = std::min(due, request.at);
        else if (!request.lateLogged)
            due = std::min(due, request.at + answerExpectedWithin);
        ++it;
    }
    return due;
}

void PowerRequests::send(Clock::time_point now, Request &request)
{
    request.inFlight = true;
    request.lateLogged = false;
    request.at = now;
    const unsigned id = request.id;
    actions_.request(request.action, [this, id](const std::string &error) {
        const auto it = std::find_if(requests_.begin(), requests_.end(), [id](const Request &r) { return r.id == id; });
        if (it != requests_.end()) {
            it->answered = true;
            it->error = error;
        }
    });
}

bool PowerRequests::settle(Clock::time_point now, Request &request)
{
    if (!request.answered) {
        if (request.inFlight && !request.lateLogged && now - request.at >= answerExpectedWithin) {
            log_(LogPriority::Warning, std::string("logind has not answered ") + method(request.action)
                     + " within 1 s; waiting for its answer rather than asking twice");
            request.lateLogged = true;
        }
        return true;
    }
    request.answered = false;
    request.inFlight = false;
    if (request.error.empty()) {
        if (request.trouble.failing() || request.lateLogged)
            log_(LogPriority::Notice, std::string("logind took ") + method(request.action));
        return false;
    }
    request.trouble.failed(now, request.error, LogPriority::Error, log_);
    request.pause = std::clamp(request.pause * 2, firstPause, longestPause);
    request.at = now + request.pause;
    return true;
}

bool PowerRequests::refused(std::size_t line) const
{
    return std::any_of(requests_.begin(), requests_.end(),
                       [line](const Request &r) { return r.line == line && r.trouble.failing(); });
}
