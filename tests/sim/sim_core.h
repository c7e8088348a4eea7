// Internals shared by the two builds of the simulator. Each build defines the
// two hooks: the in-process one does nothing, the drop-in reads its
// configuration at the first call and writes its files after each call.
#pragma once

#include "controller_sim.h"

#include <string>

namespace sim::detail {

void beforeCall();
void afterCall(const Call &call);

// A name or text as the log and the state file write it: bytes below 0x21,
// above 0x7E and the backslash become \xNN.
std::string escape(const std::string &s);

} // namespace sim::detail
