// The board controller's firmware as the simulator models it: plain C++, no
// Qt, no HID transport. The Usk_ layer (controller_sim.cpp) puts it behind the
// four redi functions; the same class can sit behind a virtual /dev/uhid
// device. Byte layouts: README.md.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

constexpr std::size_t ReportSize = 33;      // feature and input reports, report ID included
constexpr std::size_t OutputReportSize = 13; // bytes of an output report
constexpr std::size_t MaxSerialLength = 9;   // code units of the serial-number descriptor

// The eleven parameters. A parameter is named by (length, index) together.
enum class Param : std::uint8_t {
    ReportMode,       // length 1, index 0
    GpioDirection,    // length 1, index 1
    GpioOutputMode,   // length 1, index 2
    GpioStandbyMode,  // length 1, index 3
    S3Mode,           // length 1, index 4
    WatchdogMode,     // length 1, index 5
    WatchdogSources,  // length 1, index 6
    PowerSettings,    // length 1, index 7
    SampleRate,       // length 2, index 1 (milliseconds)
    WatchdogStrobe,   // length 2, index 2 (tenths of a second)
    WatchdogDelay,    // length 2, index 3 (tenths of a second)
};
constexpr std::size_t ParamCount = 11;

struct ParamInfo {
    Param param;
    std::uint8_t length;   // report byte 3
    std::uint8_t index;    // report byte 4
    const char *key;       // name in the drop-in's state file
    std::uint16_t factory; // factory default (RAM and flash)
};
const std::array<ParamInfo, ParamCount> &parameters();
const ParamInfo &info(Param p);
// The parameter that (length, index) names; false when there is none.
bool findParam(std::uint8_t length, std::uint8_t index, Param &out);

enum class Bank : std::uint8_t { Ram = 0, Flash = 1 };

enum class Action : std::uint8_t { ResetThrmPin = 0, ServeWatchdog = 1, ResetWatchdogPin = 2 };
constexpr std::size_t ActionCount = 3;

// Factory values of what is not a parameter.
constexpr const char *FactorySerial = "SIM000001";

class FirmwareModel {
public:
    FirmwareModel() { reset(); }

    // Back to the factory state: both banks at the defaults, serial
    // FactorySerial, levels, status and action counts 0, ignoreWrites off.
    void reset();

    // ---- HID side. Each returns false for a request the firmware does not
    // accept, and then changes nothing (not even the buffer).

    // A feature report sent without reading a reply: a parameter set, an
    // action or the serial-number write. Byte 1 must be 0.
    bool handleFeatureSet(const std::uint8_t *report33);
    // A get: `report33` holds the request (byte 1 = 1) and receives the reply:
    // all zeros except the RAM value at byte 2 (low) and byte 3 (high).
    bool handleFeatureGet(std::uint8_t *report33) const;
    // Either of the above by `get` (0 or 1, as Usk_Feature_a's argument);
    // also fails when `get` and byte 1 disagree.
    bool handleFeature(std::uint8_t *report33, int get);

    // The current interrupt-in report: all zeros except byte 3 (input levels)
    // and byte 10 (status byte).
    bool inputReport(std::uint8_t *out33) const;
    // An output report of OutputReportSize bytes: byte 0 = 0, byte 1 = the
    // levels to drive, the rest 0.
    bool outputReport(const std::uint8_t *data, std::size_t n);

    // ---- Firmware state.
    void powerCycle(); // RAM := flash (the serial number lives in flash anyway)

    std::uint16_t value(Bank bank, Param p) const { return bank == Bank::Ram ? ram_[idx(p)] : flash_[idx(p)]; }
    // Stores `v` (one-byte parameters keep the low 8 bits). Not affected by ignoreWrites.
    void setValue(Bank bank, Param p, std::uint16_t v);

    const std::string &serial() const { return serial_; }
    void setSerial(const std::string &s) { serial_ = s; }

    std::uint8_t inputLevels() const { return inputLevels_; }
    void setInputLevels(std::uint8_t v) { inputLevels_ = v; }
    std::uint8_t status() const { return status_; }
    void setStatus(std::uint8_t v) { status_ = v; }
    std::uint8_t outputLevels() const { return outputLevels_; }
    void setOutputLevels(std::uint8_t v) { outputLevels_ = v; }

    unsigned actionCount(Action a) const { return actions_[static_cast<std::size_t>(a)]; }
    void setActionCount(Action a, unsigned n) { actions_[static_cast<std::size_t>(a)] = n; }

    // While on, parameter sets and the serial-number write are accepted and
    // succeed but change nothing. Actions and output reports are not affected.
    bool ignoreWrites() const { return ignoreWrites_; }
    void setIgnoreWrites(bool on) { ignoreWrites_ = on; }

private:
    static std::size_t idx(Param p) { return static_cast<std::size_t>(p); }
    bool handleSerialWrite(const std::uint8_t *r);

    std::array<std::uint16_t, ParamCount> ram_{};
    std::array<std::uint16_t, ParamCount> flash_{};
    std::string serial_;
    std::uint8_t inputLevels_ = 0;
    std::uint8_t status_ = 0;
    std::uint8_t outputLevels_ = 0;
    std::array<unsigned, ActionCount> actions_{};
    bool ignoreWrites_ = false;
};

} // namespace sim
