// Internals shared by the two builds of the simulator. Each build defines the
// two hooks: the in-process one does nothing, the drop-in reads its
// configuration at the first call and writes its files after each call.
#pragma once

#include "controller_sim.h"

#include <string>
#include <vector>

namespace sim::detail {

// `device` is the controller the call is for: a call's device name, or for
// a find the node REDI_DEVICE names; null for the first controller. The
// drop-in, which can simulate a second controller, makes that one current.
void beforeCall(const char *device);
void afterCall(const Call &call);

// The controllers a listing reports, in order; openError 0 or an errno value.
struct Listed {
    std::string device, serial;
    std::uint16_t release;
    int openError;
};
std::vector<Listed> listed();

// A name or text as the log and the state file write it: bytes below 0x21,
// above 0x7E and the backslash become \xNN.
std::string escape(const std::string &s);

} // namespace sim::detail
