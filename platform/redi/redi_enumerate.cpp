// This library's extension beyond the four functions: every attached
// controller with its node, release number, serial number and whether this
// process may open it (redi.h). It opens each node only to learn that and
// closes it at once, so it neither keeps nor disturbs the handles of the
// four functions.

#include "redi.h"
#include "redi_device_ids.h"
#include "redi_internal.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

std::string latin1(const wchar_t *text)
{
    std::string out;
    for (; text && *text; ++text)
        out += static_cast<char>(static_cast<unsigned long>(*text) <= 0xFF ? *text : L'?');
    return out;
}

void copyText(char *out, std::size_t size, const std::string &text)
{
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// hidapi's hidraw back end opens the node with open(2) and leaves its errno;
// a refusal without one still counts as a refusal.
int openError(const char *path)
{
    errno = 0;
    hid_device *const dev = hid_open_path(path);
    if (!dev)
        return errno != 0 ? errno : EIO;
    hid_close(dev);
    return 0;
}

void describe(const hid_device_info &device, RediControllerInfo &info)
{
    info = RediControllerInfo{};
    copyText(info.deviceName, sizeof info.deviceName, device.path);
    info.releaseNumber[0] = static_cast<unsigned char>(device.release_number & 0xFF);
    info.releaseNumber[1] = static_cast<unsigned char>(device.release_number >> 8);
    copyText(info.serialNumber, sizeof info.serialNumber, latin1(device.serial_number));
    info.openError = openError(device.path);
}

} // namespace

extern "C" int Redi_EnumerateControllers(RediControllerInfo *list, int capacity)
{
    try {
        const std::lock_guard<std::mutex> hold(redi::libraryMutex());
        if (capacity < 0 || (capacity > 0 && !list) || hid_init() != 0)
            return -1;
        hid_device_info *const devices = hid_enumerate(REDI_VENDOR_ID, REDI_PRODUCT_ID);
        int count = 0;
        for (const hid_device_info *d = devices; d; d = d->next) {
            if (!d->path)
                continue;
            if (count < capacity)
                describe(*d, list[count]);
            ++count;
        }
        hid_free_enumeration(devices);
        return count;
    } catch (...) {
        return -1;
    }
}
