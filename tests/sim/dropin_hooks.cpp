// The drop-in libredi.so.1 is configured through the environment at its
// first call, appends every call to a log file and keeps the state in a
// file, so that a black-box test sees both after the program has ended.
// Variables and formats: README.md. A configuration error is the test's
// fault, not the program's: it prints "redi-sim: ..." and aborts.
//
// With REDI_SIM_SECOND_STATE it simulates a second controller with a state
// file of its own. One controller is current at a time: the other's
// firmware, names and file wait aside and are swapped in when a call is
// for it.
#include "sim_core.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {

bool configured = false;
std::string statePath, logPath, lastWritten;

// The controller that is not current, when there are two.
struct Aside {
    sim::FirmwareModel firmware;
    std::string device = "/dev/hidraw-sim2";
    std::uint16_t release = sim::DefaultReleaseNumber;
    std::string statePath, lastWritten;
};
bool hasSecond = false, secondCurrent = false;
bool firstAbsent = false, secondDenied = false;
Aside aside;

[[noreturn]] void die(const std::string &why)
{
    std::fprintf(stderr, "redi-sim: %s\n", why.c_str());
    std::abort();
}

std::string variable(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool flag(const char *name)
{
    const std::string value = variable(name);
    if (value != "" && value != "0" && value != "1")
        die(std::string(name) + "=" + value + ": want 0 or 1");
    return value == "1";
}

// Written aside and renamed, so that a reader never sees half a file.
void writeState()
{
    if (statePath.empty())
        return;
    const std::string text = sim::stateText();
    if (text == lastWritten)
        return;
    const std::string aside = statePath + ".tmp." + std::to_string(::getpid());
    std::ofstream out(aside, std::ios::binary);
    out << text;
    out.close();
    if (!out)
        die("cannot write " + aside);
    if (std::rename(aside.c_str(), statePath.c_str()) != 0)
        die("cannot rename " + aside + ": " + std::strerror(errno));
    lastWritten = text;
}

// Applies the current controller's state file when it differs from what the
// simulator last wrote: at the first call, and whenever a test has rewritten
// it while the program runs (to change the input levels under a running
// service, say). No file yet means the factory state.
void loadState()
{
    if (statePath.empty() || ::access(statePath.c_str(), F_OK) != 0)
        return;
    std::ifstream in(statePath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str() == lastWritten)
        return;
    std::string error;
    if (!in || !sim::loadStateText(text.str(), &error))
        die(statePath + ": " + (error.empty() ? "cannot read" : error));
}

void swapControllers()
{
    sim::Simulator &s = sim::simulator();
    std::swap(s.firmware, aside.firmware);
    std::swap(s.device, aside.device);
    std::swap(s.release, aside.release);
    std::swap(statePath, aside.statePath);
    std::swap(lastWritten, aside.lastWritten);
    secondCurrent = !secondCurrent;
    s.absent = secondCurrent ? secondDenied : firstAbsent;
}

void configure()
{
    statePath = variable("REDI_SIM_STATE");
    logPath = variable("REDI_SIM_LOG");
    loadState();
    firstAbsent = flag("REDI_SIM_ABSENT");
    sim::setAbsent(firstAbsent);
    sim::setIgnoreWrites(flag("REDI_SIM_IGNORE_WRITES"));
    sim::setSerialCached(flag("REDI_SIM_SERIAL_CACHED"));
    std::string error;
    if (!sim::addFailRules(variable("REDI_SIM_FAIL"), &error))
        die("REDI_SIM_FAIL: " + error);
    writeState();

    aside.statePath = variable("REDI_SIM_SECOND_STATE");
    secondDenied = flag("REDI_SIM_SECOND_DENIED");
    hasSecond = !aside.statePath.empty();
    if (!hasSecond)
        return;
    aside.firmware.serial = "SIM000002";
    aside.firmware.ignoreWrites = sim::simulator().firmware.ignoreWrites;
    swapControllers();
    loadState();
    if (sim::simulator().device == aside.device)
        die("REDI_SIM_SECOND_STATE: both controllers are " + aside.device);
    writeState();
    swapControllers();
}

} // namespace

void sim::detail::beforeCall(const char *device)
{
    if (!configured) {
        configured = true;
        configure();
    }
    if (hasSecond) {
        const std::string &second = secondCurrent ? simulator().device : aside.device;
        if ((device && second == device) != secondCurrent)
            swapControllers();
    }
    loadState();
}

// Both controllers, the first first, whichever is current; the second one
// refuses to open with REDI_SIM_SECOND_DENIED=1, as a node without the udev
// rule would.
std::vector<sim::detail::Listed> sim::detail::listed()
{
    const Simulator &s = simulator();
    Listed first{s.device, s.firmware.serial, s.release, 0};
    Listed second{aside.device, aside.firmware.serial, aside.release, 0};
    if (secondCurrent)
        std::swap(first, second);
    second.openError = secondDenied ? EACCES : 0;
    std::vector<Listed> controllers;
    if (!firstAbsent)
        controllers.push_back(first);
    if (hasSecond)
        controllers.push_back(second);
    return controllers;
}

// The line is on disk before the call returns, so it survives the program's
// abort; the log in memory would only grow.
void sim::detail::afterCall(const Call &call)
{
    if (!logPath.empty()) {
        std::ofstream log(logPath, std::ios::app);
        log << call.line() << '\n';
        log.close();
        if (!log)
            die("cannot append to " + logPath);
    }
    writeState();
    clearCalls();
}
