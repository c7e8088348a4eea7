// The baseline of the guard service's benchmark: a process that does
// nothing but wake up every poll interval, as the service does, and so costs
// what any such loop costs (the wake-ups and the C++ runtime's memory).
#include <poll.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    const int intervalMs = argc > 1 ? std::atoi(argv[1]) : 100;
    for (;;)
        ::poll(nullptr, 0, intervalMs);
}
