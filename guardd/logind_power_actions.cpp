#include "power_actions.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <memory>

namespace {

struct BusDeleter {
    void operator()(sd_bus *bus) const
    {
        sd_bus_flush_close_unref(bus);
    }
};

} // namespace

bool LogindPowerActions::request(GuardAction action, std::string &error)
{
    const char *method = action == GuardAction::Shutdown ? "PowerOff" : "Suspend";
    // A connection for each request: requests are rare, and a bus that
    // restarted in between costs nothing this way.
    sd_bus *raw = nullptr;
    int rc = sd_bus_open_system(&raw);
    const std::unique_ptr<sd_bus, BusDeleter> bus(raw);
    if (rc < 0) {
        error = std::string("cannot connect to the system bus: ") + strerror(-rc);
        return false;
    }
    sd_bus_error busError = SD_BUS_ERROR_NULL;
    rc = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", method, &busError, nullptr, "b", 0);
    if (rc < 0)
        error = std::string("logind refused ") + method + ": "
            + (busError.message ? busError.message : strerror(-rc));
    sd_bus_error_free(&busError);
    return rc >= 0;
}
