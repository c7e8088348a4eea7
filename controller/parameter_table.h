// The controller's parameters as one table: how each is addressed in a
// feature report (value length and index), how its value is encoded, and the
// range a setter accepts. The typed get and set functions of the catalogue
// are thin wrappers over the generic routines declared here.
#pragma once

#include "feature_report.h"

#include <cstdint>

enum class ParameterId {
    ReportMode,
    SampleRate,
    WatchdogStrobe,
    WatchdogDelay,
    S3SignalizationMode,
    WatchdogMode,
    WatchdogSources,
    PowerSettings,
    GpioDirection,
    GpioOutputMode,
    GpioStandbyMode,
};
constexpr int parameterCount = 11;

enum class Encoding {
    Byte,   // unsigned 8-bit
    Word,   // unsigned 16-bit, low byte first
    Tenths, // unsigned 16-bit count of tenths; callers use seconds
};

struct Parameter {
    ParameterId id;
    std::uint8_t length; // value bytes; one- and two-byte parameters share index numbers
    std::uint8_t index;
    Encoding encoding;
    // Accepted range in the caller's unit (the raw number, or seconds for
    // Tenths). Setters refuse anything outside it before sending.
    double minimum;
    double maximum;
};

const Parameter &parameter(ParameterId id);

// Whether a setter accepts `value` (in the caller's unit). NaN is refused.
bool acceptsValue(const Parameter &p, double value);

// Seconds to the controller's tenths, rounded to the nearest tenth, and back.
std::uint16_t secondsToTenths(float seconds);
float tenthsToSeconds(std::uint16_t tenths);

// One get or set exchange of a raw (already encoded) value.
bool readParameter(const Parameter &p, std::uint16_t &raw);
bool writeParameter(const Parameter &p, std::uint16_t raw, Target target);
