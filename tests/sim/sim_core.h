// Internals shared by the two builds of the simulator: the call handlers
// behind the Usk_ entry points (usk_static.cpp, usk_dropin.cpp) and the text
// helpers. Not for tests; tests use controller_sim.h.
#pragma once

#include "controller_sim.h"

#include <redi.h>

#include <string>
#include <vector>

namespace sim::detail {

// The four library calls. Each returns 1 or 0 as the library does and, when
// `logged` is given, copies the logged call there.
int findSensor(int selector, int r1, int r2, int r3, int r4, int r5, int r6,
               RediDeviceRecord *record, Call *logged);
int feature(const char *deviceName, unsigned char *report, int get, Call *logged);
int getInReport(const char *deviceName, unsigned char *report, int length, Call *logged);
int sendOutReport(const char *deviceName, unsigned char *report, int length, int timeoutMs,
                  Call *logged);

// One failure rule as parsed from a rule list.
struct FailRule {
    Function function = Function::Feature;
    bool hasPattern = false;
    RequestPattern pattern;
    int n = 1;          // the n-th matching call fails ...
    bool every = false; // ... or every matching call
};
bool parseFailRules(const std::string &text, std::vector<FailRule> &out, std::string *error);

// Text values in the state file and the log: bytes below 0x21, above 0x7E
// and the backslash become \xNN.
std::string escape(const std::string &s);
bool unescape(const std::string &s, std::string &out);

// Unsigned number, decimal or 0x-prefixed hex, at most `max`.
bool parseNumber(const std::string &s, unsigned long max, unsigned long &out);

} // namespace sim::detail
