// The catalogue's own cost per operation, over the in-process simulator.
// Each operation is timed against a baseline measured in the same run: the
// bare library call with a request built once, so the ratio shows what the
// catalogue adds (range check, report building, reply decoding).
#include "controller_link.h"
#include "controller_sim.h"
#include "parameter_catalogue.h"
#include "redi.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Median of several rounds of `iterations` calls, in nanoseconds per call.
double nanosecondsPerCall(const std::function<void()> &operation, int iterations)
{
    std::vector<double> rounds;
    for (int round = 0; round < 7; ++round) {
        sim::clearCalls();
        const auto start = Clock::now();
        for (int i = 0; i < iterations; ++i)
            operation();
        const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
        rounds.push_back(elapsed.count() / iterations);
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

} // namespace

int main()
{
    sim::reset();
    std::string deviceName;
    if (!findController(deviceName)) {
        std::fprintf(stderr, "simulator not found\n");
        return 1;
    }
    // The call log would otherwise grow with every exchange.
    const int iterations = 2000;

    unsigned char request[REDI_REPORT_SIZE] = {0, 1, 0, 1, 1};
    const double baseline = nanosecondsPerCall(
        [&] { Usk_Feature_a(deviceName.c_str(), request, 1); }, iterations);

    std::uint8_t byte = 0;
    std::uint16_t word = 0;
    float seconds = 0;
    const struct {
        const char *name;
        std::function<void()> operation;
    } operations[] = {
        {"getGpioDirection", [&] { getGpioDirection(byte); }},
        {"setGpioDirection", [&] { setGpioDirection(0xF4, Ram); }},
        {"getSampleRate", [&] { getSampleRate(word); }},
        {"setSampleRate", [&] { setSampleRate(100, Flash); }},
        {"getWatchdogDelay", [&] { getWatchdogDelay(seconds); }},
        {"setWatchdogDelay", [&] { setWatchdogDelay(1.3f, Ram); }},
        {"setReportMode (refused)", [&] { setReportMode(2, Ram); }},
        {"serveWatchdog", [&] { serveWatchdog(); }},
        {"setSerialNumber", [&] { setSerialNumber("123456789"); }},
        {"getFirmwareRevision", [&] { getFirmwareRevision(); }},
    };

    std::printf("%-26s %12s %10s\n", "operation", "ns/call", "ratio");
    std::printf("%-26s %12.0f %10.2f\n", "baseline: Usk_Feature_a", baseline, 1.0);
    for (const auto &op : operations) {
        const double ns = nanosecondsPerCall(op.operation, iterations);
        std::printf("%-26s %12.0f %10.2f\n", op.name, ns, ns / baseline);
    }
    return 0;
}
