// Control API of the controller simulator, for in-process tests that link the
// static library `controller_sim` (which also provides the four Usk_
// functions of redi.h). Everything here acts on one process-wide simulator;
// all functions are thread-safe. See tests/sim/README.md.
#pragma once

#include "firmware_model.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr const char *DefaultDeviceName = "/dev/hidraw-sim";
constexpr std::uint16_t DefaultReleaseNumber = 0x0100; // BCD, firmware 1.0

// ---- Whole state -----------------------------------------------------------

// Factory state: both banks at the factory defaults, serial "SIM000001",
// release 0x0100, device "/dev/hidraw-sim", present, levels/status/action
// counts 0, ignore-writes off, no failure rules, empty call log.
void reset();

// ---- Firmware values --------------------------------------------------------

std::uint16_t ramValue(Param p);
std::uint16_t flashValue(Param p);
void setRamValue(Param p, std::uint16_t v);
void setFlashValue(Param p, std::uint16_t v);
void setValue(Param p, std::uint16_t v); // both banks
void powerCycle();                       // RAM := flash

std::string serialNumber();
void setSerialNumber(const std::string &text);
std::uint16_t releaseNumber(); // BCD, reported by Usk_FindSensor_a
void setReleaseNumber(std::uint16_t bcd);
std::string deviceName();
void setDeviceName(const std::string &name); // no spaces; at most 259 bytes

std::uint8_t inputLevels(); // byte 3 of the input report
void setInputLevels(std::uint8_t levels);
std::uint8_t statusByte(); // byte 10 of the input report (the program reads bits 1 and 5)
void setStatusByte(std::uint8_t status);
std::uint8_t outputLevels(); // byte 1 of the last accepted output report
void setOutputLevels(std::uint8_t levels);

unsigned actionCount(Action a);
void resetActionCounts();

// Usk_FindSensor_a fails (leaving the record untouched), and so does every
// other call, while absent.
void setAbsent(bool absent);
bool isAbsent();

// Sets (parameters and the serial number) succeed but change nothing.
void setIgnoreWrites(bool on);
bool ignoreWrites();

// Direct access to the model, for anything not covered above. Not locked:
// use only while no other thread calls the simulator.
FirmwareModel &model();

// ---- Failure injection -------------------------------------------------------
// A failing call returns 0 and changes nothing (no state, no buffer); it is
// logged with result Injected.

enum class Function : std::uint8_t { FindSensor, Feature, GetInReport, SendOutReport };
const char *functionName(Function f); // "Usk_FindSensor_a", ...

// Matches a feature request by its bytes 1 to 4; -1 matches anything.
struct RequestPattern {
    int direction = -1; // byte 1: 0 set/action, 1 get
    int target = -1;    // byte 2: 0 RAM, 1 flash, 0x80 action
    int length = -1;    // byte 3
    int index = -1;     // byte 4

    static RequestPattern get(int length, int index) { return {1, 0, length, index}; }
    static RequestPattern set(Bank bank, int length, int index) { return {0, static_cast<int>(bank), length, index}; }
    static RequestPattern set(Param p, Bank bank) { return set(bank, info(p).length, info(p).index); }
    static RequestPattern get(Param p) { return get(info(p).length, info(p).index); }
    static RequestPattern action(Action a) { return {0, 0x80, 0, static_cast<int>(a)}; }
    static RequestPattern serialWrite() { return {0, 1, 20, 0}; }
};

// The n-th next call of `f` (n = 1: the very next one) fails, once.
void failNext(Function f, int n = 1);
// The n-th next Usk_Feature_a call whose request matches fails, once.
void failNext(const RequestPattern &p, int n = 1);
// Every call of `f` / every matching feature call fails until clearFailures().
void failEvery(Function f);
void failEvery(const RequestPattern &p);
// Adds the rules of a REDI_SIM_FAIL rule list (README); false and *error on a
// syntax error (then nothing is added).
bool addFailRules(const std::string &text, std::string *error = nullptr);
void clearFailures();
// Rules still waiting to fire (one-shot rules not yet used, plus every-call rules).
int pendingFailures();

// ---- Call log -----------------------------------------------------------------

enum class Result : std::uint8_t {
    Ok,       // the call succeeded
    Rejected, // bad device name / arguments / request, or absent
    Injected, // failed by a failure rule
};

struct Call {
    Function function = Function::Feature;
    std::string device;     // deviceName argument ("" for FindSensor; "(null)" for a null pointer)
    int selector = 0;       // FindSensor: selector
    int reserved[6] = {};   // FindSensor: the six reserved integers
    int get = 0;            // Feature: the get flag
    int length = 0;         // GetInReport / SendOutReport: length argument
    int timeout = 0;        // SendOutReport: timeout argument
    std::vector<std::uint8_t> request; // Feature: the 33 bytes as sent; SendOutReport: `length` bytes (at most 64)
    std::vector<std::uint8_t> reply;   // Feature get / GetInReport, on success: the 33 bytes returned
    Result result = Result::Ok;

    bool ok() const { return result == Result::Ok; }
    // Feature: the request's direction/target/length/index bytes.
    int direction() const { return request.size() > 1 ? request[1] : -1; }
    int target() const { return request.size() > 2 ? request[2] : -1; }
    int requestLength() const { return request.size() > 3 ? request[3] : -1; }
    int index() const { return request.size() > 4 ? request[4] : -1; }
    bool matches(const RequestPattern &p) const;
    // The call as one line of the drop-in's REDI_SIM_LOG (no newline).
    std::string line() const;
};

std::vector<Call> calls();
std::vector<Call> calls(Function f);
std::vector<Call> featureCalls(const RequestPattern &p);
void clearCalls();

// ---- State text (the drop-in's REDI_SIM_STATE format) --------------------------

// The persistent state (banks, serial, release, device name, levels, status,
// action counts) as key=value lines.
std::string stateText();
// Applies key=value lines on top of the factory state (keys not given keep
// the factory value). False and *error on a bad line (then nothing changes).
bool loadStateText(const std::string &text, std::string *error = nullptr);

// Lowercase hex of bytes, no separators.
std::string hex(const std::vector<std::uint8_t> &bytes);

} // namespace sim
