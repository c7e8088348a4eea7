// The in-process build keeps its call log in memory and reads no files.
#include "sim_core.h"

void sim::detail::beforeCall() {}
void sim::detail::afterCall(const Call &) {}
