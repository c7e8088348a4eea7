// The in-process build keeps its call log in memory, reads no files and
// simulates one controller.
#include "sim_core.h"

void sim::detail::beforeCall(const char *) {}
void sim::detail::afterCall(const Call &) {}

std::vector<sim::detail::Listed> sim::detail::listed()
{
    const Simulator &s = simulator();
    if (s.absent)
        return {};
    return {{s.device, s.firmware.serial, s.release, 0}};
}
