// What a fired row asks of the system.
#pragma once

#include "trigger_engine.h"

#include <string>

class PowerActions {
public:
    virtual ~PowerActions() = default;
    // Asks for standby (suspend) or shutdown (power-off). False, with the
    // reason in `error`, when the request was refused or not delivered.
    virtual bool request(GuardAction action, std::string &error) = 0;
};

// systemd-logind on the system bus (DBUS_SYSTEM_BUS_ADDRESS names another
// bus): org.freedesktop.login1.Manager's Suspend and PowerOff, not
// interactive, so that no one is asked for a password.
class LogindPowerActions final : public PowerActions {
public:
    bool request(GuardAction action, std::string &error) override;
};
