// What a fired row asks of the system.
#pragma once

#include "trigger_engine.h"

#include <poll.h>

#include <functional>
#include <list>
#include <string>

struct sd_bus;

class PowerActions {
public:
    // Called once with the answer: empty when the request was taken, else
    // why it was refused or not delivered.
    using Answer = std::function<void(const std::string &error)>;

    virtual ~PowerActions() = default;
    // Asks for standby (suspend) or shutdown (power-off) without waiting for
    // the answer, so that a slow or stopped logind never holds up the loop.
    virtual void request(GuardAction action, Answer answer) = 0;
};

// systemd-logind on the system bus (DBUS_SYSTEM_BUS_ADDRESS names another
// bus): org.freedesktop.login1.Manager's Suspend and PowerOff, not
// interactive, so that no one is asked for a password. The answers come in
// through process(), which the loop calls whenever waitFor() is ready.
class LogindPowerActions final : public PowerActions {
public:
    LogindPowerActions() = default;
    LogindPowerActions(const LogindPowerActions &) = delete;
    LogindPowerActions &operator=(const LogindPowerActions &) = delete;
    ~LogindPowerActions() override;

    void request(GuardAction action, Answer answer) override;
    // The bus connection to wait on; fd -1 while there is none.
    pollfd waitFor() const;
    void process();

    struct Call {
        const char *method;
        Answer answer;
    };

private:
    void dropBus(const std::string &why);

    sd_bus *bus_ = nullptr;
    std::list<Call> calls_;
};
