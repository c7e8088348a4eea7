// What the exchange lock costs a get, and what a re-plug costs the call
// after it, on the whole USB path (libredi, hidapi, hidraw, usbhid, usbcore)
// against the virtual controller, a USB gadget in the kernel suite's VM.
// Baselines come from the same run: a get through hidapi alone, without the
// library and its lock, and a call with the board left in place.
#include "redi.h"
#include "virtual_controller.h"

#include <hidapi.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsOf(const std::function<bool()> &call, bool &ok)
{
    const auto start = Clock::now();
    ok = call() && ok;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A get of the sample rate: length 2, index 1.
void getRequest(unsigned char *report)
{
    std::fill(report, report + REDI_REPORT_SIZE, 0);
    report[1] = 1;
    report[3] = 2;
    report[4] = 1;
}

} // namespace

int main()
{
    VirtualController device;
    QString error;
    if (!device.start(sim::FirmwareModel{}, 0x0100, error)) {
        std::fprintf(stderr, "BENCH failed: %s\n", qPrintable(error));
        return 1;
    }
    RediDeviceRecord record{};
    hid_device *const bare = (Usk_FindSensor_a(REDI_SELECT_BOARD_CONTROLLER, 0, 0, 0, 0, 0, 0, &record) & 0xFF)
        ? hid_open_path(record.deviceName)
        : nullptr;
    if (!bare) {
        std::fprintf(stderr, "BENCH failed: the controller was not found\n");
        return 1;
    }
    unsigned char report[REDI_REPORT_SIZE];
    const auto locked = [&] {
        getRequest(report);
        return (Usk_Feature_a(record.deviceName, report, 1) & 0xFF) != 0;
    };
    const auto unlocked = [&] {
        getRequest(report);
        return hid_send_feature_report(bare, report, REDI_REPORT_SIZE) == REDI_REPORT_SIZE
            && hid_get_feature_report(bare, report, REDI_REPORT_SIZE) > 0;
    };

    // Alternating blocks, so that a change in the machine's load hits both.
    bool ok = true;
    std::vector<double> withLock, withoutLock;
    for (int block = 0; block < 20; ++block) {
        for (int i = 0; i < 25; ++i)
            withoutLock.push_back(millisecondsOf(unlocked, ok));
        for (int i = 0; i < 25; ++i)
            withLock.push_back(millisecondsOf(locked, ok));
        device.takeLines();
    }
    hid_close(bare);
    std::printf("BENCH get, median of %zu: through hidapi alone %.3f ms, through libredi with the lock %.3f ms, "
                "ratio %.2fx\n",
                withLock.size(), median(withoutLock), median(withLock), median(withLock) / median(withoutLock));
    // The two system calls the lock adds to an uncontended exchange, alone:
    // the ratio above also holds the library's own work and the USB timing.
    const int fd = ::open(record.deviceName, O_RDONLY | O_CLOEXEC);
    constexpr int pairs = 2000;
    const auto start = Clock::now();
    for (int i = 0; i < pairs; ++i)
        ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::flock(fd, LOCK_UN) == 0 && ok;
    const double pair = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / pairs;
    ::close(fd);
    std::printf("BENCH lock and unlock alone: %.4f ms, %.1f%% of a get through hidapi alone\n", pair,
                100 * pair / median(withoutLock));

    // The call after a re-plug finds the old node gone, the controller again
    // and repeats itself there.
    std::vector<double> normal, afterReplug;
    for (int round = 0; round < 7 && ok; ++round) {
        normal.push_back(millisecondsOf(locked, ok));
        ok = device.replug(error) && ok;
        afterReplug.push_back(millisecondsOf(locked, ok));
        device.takeLines();
    }
    if (!ok) {
        std::fprintf(stderr, "BENCH failed: a call failed %s\n", qPrintable(error));
        return 1;
    }
    std::printf("BENCH call after a re-plug, median of %zu: %.3f ms against %.3f ms for a call before it, "
                "ratio %.1fx\n",
                afterReplug.size(), median(afterReplug), median(normal), median(afterReplug) / median(normal));
    return 0;
}
