#include "power_actions.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace {

// How long a call may go unanswered before it counts as lost and may be sent
// again. Long on purpose: a logind that is only slow still acts on the first
// call, and a second PowerOff queued behind it would act once more.
constexpr std::uint64_t callTimeoutUsec = 120'000'000;

int onReply(sd_bus_message *reply, void *userdata, sd_bus_error *)
{
    auto *call = static_cast<LogindPowerActions::Call *>(userdata);
    const sd_bus_error *error = sd_bus_message_get_error(reply);
    std::string text;
    if (error)
        text = std::string("logind refused ") + call->method + ": "
            + (error->message ? error->message : error->name ? error->name : "no reason given");
    // Taken off the list before the answer runs: it may be the last use.
    PowerActions::Answer answer = std::move(call->answer);
    call->answer = nullptr;
    answer(text);
    return 0;
}

} // namespace

LogindPowerActions::~LogindPowerActions()
{
    // Flushed: a request already sent reaches logind even though no one
    // waits for its answer any more.
    sd_bus_flush_close_unref(bus_);
}

void LogindPowerActions::request(GuardAction action, Answer answer)
{
    const char *method = action == GuardAction::Shutdown ? "PowerOff" : "Suspend";
    // One connection for the service's life: connecting and the calls never
    // block, and a bus that went away is replaced at the next request.
    int rc = 0;
    if (!bus_) {
        rc = sd_bus_open_system(&bus_);
        if (rc >= 0)
            rc = sd_bus_set_method_call_timeout(bus_, callTimeoutUsec);
        if (rc < 0) {
            bus_ = sd_bus_close_unref(bus_);
            answer(std::string("cannot connect to the system bus: ") + strerror(-rc));
            return;
        }
    }
    calls_.push_back({method, std::move(answer)});
    // A floating slot: sd-bus frees it after the reply, or with the bus.
    rc = sd_bus_call_method_async(bus_, nullptr, "org.freedesktop.login1", "/org/freedesktop/login1",
                                  "org.freedesktop.login1.Manager", method, onReply, &calls_.back(), "b", 0);
    if (rc < 0) {
        Answer failed = std::move(calls_.back().answer);
        calls_.pop_back();
        failed(std::string("cannot ask logind for ") + method + ": " + strerror(-rc));
    }
}

pollfd LogindPowerActions::waitFor() const
{
    if (!bus_)
        return {-1, 0, 0};
    const int events = sd_bus_get_events(bus_);
    return {sd_bus_get_fd(bus_), static_cast<short>(events < 0 ? 0 : events), 0};
}

void LogindPowerActions::process()
{
    // Answered calls leave the list here, never inside sd-bus's own
    // dispatch of the reply that answered them.
    calls_.remove_if([](const Call &call) { return !call.answer; });
    if (!bus_)
        return;
    int rc = 0;
    while ((rc = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (rc < 0 || sd_bus_is_open(bus_) <= 0)
        dropBus(std::string("the connection to the system bus was lost: ") + strerror(rc < 0 ? -rc : ECONNRESET));
}

void LogindPowerActions::dropBus(const std::string &why)
{
    bus_ = sd_bus_close_unref(bus_);
    std::list<Call> lost;
    lost.swap(calls_);
    for (Call &call : lost)
        if (call.answer)
            call.answer(why);
}
