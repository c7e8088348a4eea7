// vnk-uhid-controller: runs the virtual controller until SIGTERM or SIGINT.
//
//   vnk-uhid-controller --log FILE [--serial TEXT] [--version BCD] [--bus N]
//                       [--input-levels N] [--status N] [PARAM=VALUE ...]
//
// PARAM is a parameter's key in the simulator's state file (sample_rate,
// gpio_direction, ...); the value goes to both RAM and flash. Numbers may be
// decimal or 0x-prefixed hex. Once the kernel has made the device's hidraw
// node, the program prints "ready /dev/hidrawN" on stdout.
#include "uhid_controller.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

[[noreturn]] void usage(const char *problem)
{
    std::fprintf(stderr, "vnk-uhid-controller: %s\n", problem);
    std::exit(2);
}

unsigned long number(const char *text, unsigned long max)
{
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (!*text || *end || value > max)
        usage((std::string("not a number in range: ") + text).c_str());
    return value;
}

void setParameter(sim::FirmwareModel &model, const std::string &assignment)
{
    const std::size_t eq = assignment.find('=');
    const std::string key = assignment.substr(0, eq);
    for (const sim::ParamInfo &info : sim::parameters()) {
        if (eq != std::string::npos && key == info.key) {
            const auto value = static_cast<std::uint16_t>(number(assignment.c_str() + eq + 1, 0xFFFF));
            model.setValue(sim::Bank::Ram, info.param, value);
            model.setValue(sim::Bank::Flash, info.param, value);
            return;
        }
    }
    usage(("unknown parameter: " + assignment).c_str());
}

} // namespace

int main(int argc, char **argv)
{
    sim::FirmwareModel model;
    kernel_test::DeviceIdentity identity;
    const char *logPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--log" && hasValue)
            logPath = argv[++i];
        else if (arg == "--serial" && hasValue)
            model.setSerial(argv[++i]);
        else if (arg == "--version" && hasValue)
            identity.version = static_cast<std::uint16_t>(number(argv[++i], 0xFFFF));
        else if (arg == "--bus" && hasValue)
            identity.bus = static_cast<std::uint16_t>(number(argv[++i], 0xFFFF));
        else if (arg == "--input-levels" && hasValue)
            model.setInputLevels(static_cast<std::uint8_t>(number(argv[++i], 0xFF)));
        else if (arg == "--status" && hasValue)
            model.setStatus(static_cast<std::uint8_t>(number(argv[++i], 0xFF)));
        else if (arg.rfind("--", 0) != 0)
            setParameter(model, arg);
        else
            usage(("unknown option: " + arg).c_str());
    }
    if (!logPath)
        usage("--log FILE is required");
    std::FILE *log = std::fopen(logPath, "w");
    if (!log)
        usage((std::string("cannot write ") + logPath).c_str());

    struct sigaction stop {};
    stop.sa_handler = requestStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    kernel_test::UhidController device(model, log);
    std::string error;
    if (!device.create(identity, error)) {
        std::fprintf(stderr, "vnk-uhid-controller: %s\n", error.c_str());
        return 1;
    }
    const std::string node = device.waitForHidrawNode(10000);
    if (node.empty()) {
        std::fprintf(stderr, "vnk-uhid-controller: no hidraw node appeared for the device\n");
        return 1;
    }
    std::printf("ready %s\n", node.c_str());
    std::fflush(stdout);

    while (!stopRequested) {
        if (!device.serveOne(100)) {
            std::fprintf(stderr, "vnk-uhid-controller: /dev/uhid failed: %s\n", std::strerror(errno));
            return 1;
        }
    }
    return 0;
}
