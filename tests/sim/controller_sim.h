// The controller simulator for in-process tests: link the static library
// `controller_sim` instead of `redi`; it provides the four Usk_ functions of
// redi.h and the wait for an input report over one process-wide simulator,
// which the functions here set up and read. The calls are serialised (the
// guard service waits for reports on a thread of its own); the state that
// tests set directly is not locked. See README.md.
#pragma once

#include "firmware_model.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

enum class Function : std::uint8_t { FindSensor, Feature, GetInReport, SendOutReport, ReadInputReport };

// One library call as the simulator saw it.
struct Call {
    Function function = Function::Feature;
    std::string device;                // as the log shows it: "-" for a find, "(null)", "\"\"", escaped
    std::string arguments;             // the other arguments, as the log shows them ("get=1")
    std::vector<std::uint8_t> request; // a feature request or output report as sent
    std::vector<std::uint8_t> reply;   // what a successful get or input report returned
    // "ok"; "none": a wait that no input report ended; "rejected": a wrong
    // device name, argument or request, or the controller is absent;
    // "injected": failed by a failure rule.
    std::string result = "ok";

    bool ok() const { return result == "ok"; }
    std::string line() const; // the drop-in's log line, without the newline
};

// Fails the next call of `function` that matches, once. For Usk_Feature_a a
// pattern names request bytes 1 to 4; -1 matches any value.
struct FailRule {
    Function function = Function::Feature;
    std::array<int, 4> pattern = {-1, -1, -1, -1};
};

struct Simulator {
    FirmwareModel firmware;
    std::string device = "/dev/hidraw-sim"; // what a find reports and later calls must name
    std::uint16_t release = 0x0100; // BCD, firmware 1.0
    bool absent = false; // every call fails; a failed find leaves the record alone
    // The serial number the kernel read when the board was plugged in. With
    // serialCached a find reports it, flag REDI_RECORD_SERIAL_LIVE clear, as
    // a library does that cannot ask the device: a number written since the
    // plug-in then shows only after a re-plug. Otherwise a find reports the
    // firmware's number with the flag set.
    std::string pluggedSerial = FactorySerial;
    bool serialCached = false;
    // The plug-in number the last find saw ("" before any). A board put in
    // the controller's place plugs in with another number: every other call
    // then fails, and lastFailure() says "board replaced: FOUND → NOW", until
    // a find takes the new board.
    std::string foundSerial;
    std::vector<FailRule> failRules;
    std::vector<Call> log;
    // Interrupt-in reports. The first wait opens the pipe: the firmware's
    // sampling starts then, and its reports queue up to InputQueueSize until
    // a wait takes them. In process the clock is clockMs, which tests set
    // and each wait moves on to the report it returns or to its limit; the
    // drop-in's clock is the real one.
    std::uint64_t clockMs = 0;
    bool inputOpen = false;
    std::vector<InputReport> inputQueue;
};

Simulator &simulator();

inline void reset() { simulator() = Simulator{}; }

// Adds rules in the REDI_SIM_FAIL syntax (README.md); false, with *error
// set, at the first bad one.
bool addFailRules(const std::string &text, std::string *error = nullptr);

inline const std::vector<Call> &calls() { return simulator().log; }
// Why the last call failed, as the real library's Redi_LastFailure tells it.
const std::string &lastFailure();
inline void clearCalls() { simulator().log.clear(); }

// The drop-in's state file: the firmware, device name and release number
// as key=value lines. Loading applies the lines given to the current state,
// all or, with *error set, none.
std::string stateText();
bool loadStateText(const std::string &text, std::string *error = nullptr);

namespace detail {
// Held for every call, never while a wait sleeps.
inline std::mutex callMutex;
// The simulator's clock in milliseconds, and a wait's sleep until `ms` on
// it, for the controller `device`: the drop-in lets other calls in meanwhile
// and makes that controller current again after it. In process the sleep
// only moves the clock on.
#ifdef SIM_DROPIN
constexpr bool RealClock = true;
#else
constexpr bool RealClock = false;
#endif
std::uint64_t nowMs();
void sleepUntil(std::uint64_t ms, const char *device);
// What the drop-in does around every call: at the first it reads its
// configuration; before each it makes current the controller `device` names
// (a call's device name, for a find the node REDI_DEVICE names, else null
// for the first) and reloads a changed state file; after each it appends
// the log line and writes the state file. The in-process build does nothing.
void beforeCall(const char *device);
void afterCall(const Call &call);
// A device record or a listing's entry: the name, the release number (BCD,
// low byte first) and the serial number.
template <typename Entry>
void describe(Entry &e, const Simulator &s, const std::string &serial)
{
    std::strncpy(e.deviceName, s.device.c_str(), sizeof e.deviceName - 1);
    e.releaseNumber[0] = static_cast<unsigned char>(s.release & 0xFF);
    e.releaseNumber[1] = static_cast<unsigned char>(s.release >> 8);
    std::strncpy(e.serialNumber, serial.c_str(), sizeof e.serialNumber - 1);
}
} // namespace detail

} // namespace sim
