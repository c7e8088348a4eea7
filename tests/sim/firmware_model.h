// The board controller's firmware as the simulator models it: plain C++ with
// no HID transport, so that the same model answers the simulated library
// calls (controller_sim.cpp) and the kernel suite's USB device. Its state is
// plain data that tests and the state file set directly. It is strict about
// every byte of a request, so that a request the program builds wrongly fails
// instead of passing silently. Byte layouts: README.md.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr std::size_t ReportSize = 33;       // feature and input reports, report ID included
constexpr std::size_t OutputReportSize = 13; // an output report, report ID included
constexpr const char *FactorySerial = "SIM000001";

// The eleven parameters, in the order of parameters(). The firmware names a
// parameter by (length, index) together. SampleRate is in milliseconds, the
// watchdog's strobe and delay in tenths of a second.
enum class Param : std::uint8_t {
    ReportMode, GpioDirection, GpioOutputMode, GpioStandbyMode, S3Mode, WatchdogMode, WatchdogSources, PowerSettings,
    SampleRate, WatchdogStrobe, WatchdogDelay,
};
constexpr std::size_t ParamCount = 11;

struct ParamInfo {
    std::uint8_t length;   // request byte 3
    std::uint8_t index;    // request byte 4
    const char *key;       // name in the drop-in's state file
    std::uint16_t factory; // in both banks
};
const std::array<ParamInfo, ParamCount> &parameters();

enum class Bank : std::uint8_t { Ram = 0, Flash = 1 };
enum class Action : std::uint8_t { ResetThrmPin = 0, ServeWatchdog = 1, ResetWatchdogPin = 2 };

using Values = std::array<std::uint16_t, ParamCount>;
Values factoryValues();

using InputReport = std::array<std::uint8_t, ReportSize>; // report ID first

// How many reports the host's kernel keeps for a reader that is behind (as
// hidraw does for each open descriptor): older samplings cannot matter.
constexpr std::size_t InputQueueSize = 64;

struct FirmwareModel {
    Values ram = factoryValues();
    Values flash = factoryValues();
    std::string serial = FactorySerial; // written through the serial-number request
    std::uint8_t inputLevels = 0;       // byte 3 of the input report
    std::uint8_t status = 0;            // byte 10 of the input report
    std::uint8_t outputLevels = 0;      // byte 1 of the last output report taken
    std::array<unsigned, 3> actions{};  // how often each Action was requested
    // Parameter and serial-number writes succeed but change nothing, for
    // testing the program's read-back checks. Actions and outputs still act.
    bool ignoreWrites = false;

    // Interrupt-in reporting, on a clock in milliseconds that the caller
    // keeps. The firmware samples its input lines every SampleRate ms (the
    // RAM value, 0 taken as 1, a new one counting from the last sampling)
    // and sends an input report after every sampling in ReportMode 0, and in
    // any other mode only after a sampling that saw other levels than the
    // one before. The sampling starts at startSampling(); sendsInputReports
    // false makes a controller that samples but never sends.
    bool sendsInputReports = true;
    std::uint64_t lastSamplingMs = 0;
    std::uint8_t sampledLevels = 0; // at the last sampling
    std::uint64_t samplingPeriodMs() const { return std::max<std::uint16_t>(ram[std::size_t(Param::SampleRate)], 1); }
    std::uint64_t nextSamplingMs() const { return lastSamplingMs + samplingPeriodMs(); }

    std::uint16_t &value(Bank bank, Param p) { return (bank == Bank::Ram ? ram : flash)[static_cast<std::size_t>(p)]; }

    // A feature report as Usk_Feature_a passes it. get = 1: a get request,
    // answered in `report`; get = 0: a set, an action or the serial-number
    // write. False for anything the firmware refuses, and then nothing
    // changes, not even the buffer.
    bool handleFeature(std::uint8_t *report, int get);
    // The current input report (ReportSize bytes).
    void inputReport(std::uint8_t *out) const;
    // An output report; false unless it is well formed.
    bool outputReport(const std::uint8_t *data, std::size_t size);

    void startSampling(std::uint64_t nowMs);
    // Runs the samplings due by `nowMs`, with the input levels as they are
    // now, and appends the reports they send to `sent`, oldest first. Of a
    // longer backlog only the last InputQueueSize samplings run.
    void sampleUntil(std::uint64_t nowMs, std::vector<InputReport> &sent);
};

} // namespace sim
