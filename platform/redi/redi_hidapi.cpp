// The controller's HID library over hidapi (hidraw back end on Linux).
//
// Devices are named by their hidapi path (/dev/hidrawN). Each path is opened
// once and its handle kept for the calls that follow; a call that fails
// closes the handle and forgets it, so the next call on that path opens the
// device afresh. The library keeps all its state in one State object, never
// throws across the C boundary and never prints.

#include "redi.h"
#include "redi_device_ids.h"
#include "redi_internal.h"

#include <hidapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>

namespace {

struct State {
    bool hidInitialised = false;
    std::map<std::string, hid_device *> handles; // path -> open handle
};

// Never destroyed: the handles stay reachable until the process ends and the
// kernel closes them, and no destructor runs after hidapi may be gone.
State &state()
{
    static State *const s = new State;
    return *s;
}

bool initialiseHid()
{
    State &s = state();
    if (!s.hidInitialised)
        s.hidInitialised = hid_init() == 0;
    return s.hidInitialised;
}

// The kept handle for `path`, or a newly opened one (then kept); null when
// the device cannot be opened, e.g. when the user may not open the node.
hid_device *openDevice(const char *path)
{
    if (!initialiseHid())
        return nullptr;
    auto &handles = state().handles;
    const auto it = handles.find(path);
    if (it != handles.end())
        return it->second;
    hid_device *const dev = hid_open_path(path);
    if (dev)
        handles.emplace(path, dev);
    return dev;
}

void closeDevice(const char *path)
{
    auto &handles = state().handles;
    const auto it = handles.find(path);
    if (it == handles.end())
        return;
    hid_close(it->second);
    handles.erase(it);
}

// Runs `io` on the device's handle; when it fails the handle is closed.
template <typename Io>
bool withDevice(const char *path, Io io)
{
    hid_device *const dev = openDevice(path);
    if (!dev)
        return false;
    if (io(dev))
        return true;
    closeDevice(path);
    return false;
}

// The C boundary: a result of 1 or 0, and no exception ever leaves.
template <typename F>
int guarded(F f) noexcept
{
    try {
        return f() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

bool validName(const char *deviceName)
{
    return deviceName && *deviceName;
}

// A report length the library accepts: at least the report-ID byte, at most
// a full report.
bool validLength(int length)
{
    return length >= 1 && length <= REDI_REPORT_SIZE;
}

// Reads a report into `report` (`length` bytes) through `read`, one of
// hidapi's report reads. Byte 0 goes in as report ID 0; bytes after a short
// reply are zeroed; the caller's buffer is only written on success.
template <typename Read>
bool readReport(hid_device *dev, unsigned char *report, int length, Read read)
{
    unsigned char buffer[REDI_REPORT_SIZE] = {};
    const int n = read(dev, buffer, static_cast<size_t>(length));
    if (n < 0)
        return false;
    std::fill(buffer + std::min(n, length), buffer + length, 0);
    std::memcpy(report, buffer, static_cast<size_t>(length));
    return true;
}

// Copies a string to `out` (capacity `size`, NUL included), truncating.
void copyText(char *out, size_t size, const char *text)
{
    const size_t n = std::min(std::strlen(text), size - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

// One byte per character: Latin-1 as is, anything else as '?'. An absent
// string gives an empty one.
void copyLatin1(char *out, size_t size, const wchar_t *text)
{
    size_t n = 0;
    for (; text && text[n] != L'\0' && n < size - 1; ++n) {
        const auto c = static_cast<unsigned long>(text[n]);
        out[n] = static_cast<char>(c <= 0xFF ? c : '?');
    }
    out[n] = '\0';
}

// Parses "vvvv:pppp" (four hex digits each).
bool parseIds(const char *text, unsigned short &vendorId, unsigned short &productId)
{
    static const char hex[] = "0123456789abcdefABCDEF";
    if (std::strlen(text) != 9 || text[4] != ':' || std::strspn(text, hex) != 4
        || std::strspn(text + 5, hex) != 4)
        return false;
    vendorId = static_cast<unsigned short>(std::strtoul(text, nullptr, 16));
    productId = static_cast<unsigned short>(std::strtoul(text + 5, nullptr, 16));
    return true;
}

// Enumerates the devices that REDI_DEVICE names (IDs or a path), or else
// the controller's IDs, and fills `record` from the first one that opens.
bool findDevice(RediDeviceRecord &record)
{
    if (!initialiseHid())
        return false;
    unsigned short vendorId = REDI_VENDOR_ID;
    unsigned short productId = REDI_PRODUCT_ID;
    const char *path = std::getenv("REDI_DEVICE");
    if (path && (!*path || parseIds(path, vendorId, productId)))
        path = nullptr;
    if (path)
        vendorId = productId = 0; // all devices, filtered by path below

    hid_device_info *const devices = hid_enumerate(vendorId, productId);
    const hid_device_info *found = nullptr;
    for (const hid_device_info *d = devices; d && !found; d = d->next) {
        if (d->path && (!path || std::strcmp(d->path, path) == 0) && openDevice(d->path))
            found = d;
    }
    if (found) {
        copyText(record.deviceName, sizeof record.deviceName, found->path);
        record.releaseNumber[0] = static_cast<unsigned char>(found->release_number & 0xFF);
        record.releaseNumber[1] = static_cast<unsigned char>(found->release_number >> 8);
        copyLatin1(record.serialNumber, sizeof record.serialNumber, found->serial_number);
    }
    hid_free_enumeration(devices);
    return found != nullptr;
}

} // namespace

void redi::closeAllDevices() noexcept
{
    State &s = state();
    for (const auto &entry : s.handles)
        hid_close(entry.second);
    s.handles.clear();
    if (s.hidInitialised)
        hid_exit();
    s.hidInitialised = false;
}

extern "C" {

int Usk_FindSensor_a(int selector, int, int, int, int, int, int, RediDeviceRecord *record)
{
    return guarded([&] {
        if (selector != REDI_SELECT_BOARD_CONTROLLER || !record)
            return false;
        // Filled aside so that a failed search leaves the caller's record as it was.
        RediDeviceRecord found{};
        if (!findDevice(found))
            return false;
        *record = found;
        return true;
    });
}

int Usk_Feature_a(const char *deviceName, unsigned char *report, int get)
{
    return guarded([&] {
        if (!validName(deviceName) || !report || (get != 0 && get != 1))
            return false;
        return withDevice(deviceName, [&](hid_device *dev) {
            if (hid_send_feature_report(dev, report, REDI_REPORT_SIZE) < 0)
                return false;
            return !get || readReport(dev, report, REDI_REPORT_SIZE, hid_get_feature_report);
        });
    });
}

int Usk_GetCurrentInReport_a(const char *deviceName, unsigned char *report, int length)
{
    return guarded([&] {
        if (!validName(deviceName) || !report || !validLength(length))
            return false;
        return withDevice(deviceName, [&](hid_device *dev) {
            return readReport(dev, report, length, hid_get_input_report);
        });
    });
}

// `timeoutMs` is accepted for the caller's sake but not applied: hidapi's
// hid_write has no time-out and blocks until the kernel has sent the report
// (or given up on it with its own USB time-out).
int Usk_SendOutReport_a(const char *deviceName, unsigned char *report, int length, int timeoutMs)
{
    static_cast<void>(timeoutMs);
    return guarded([&] {
        if (!validName(deviceName) || !report || !validLength(length))
            return false;
        return withDevice(deviceName, [&](hid_device *dev) {
            return hid_write(dev, report, static_cast<size_t>(length)) >= 0;
        });
    });
}

} // extern "C"
