#include "fake_hidapi.h"

#include "redi_node.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <utility>

// What a handle stands for: the device path it was opened with.
struct hid_device_ {
    std::string path;
};

namespace fake {
namespace {

std::vector<Device> devices;
QStringList calls;
std::vector<unsigned char> written;
int handles = 0;
std::vector<std::string> nodes; // descriptor - 100 -> path, empty once closed

void note(const char *function, const std::string &path, size_t length = 0)
{
    calls << QString::fromStdString(function + (" " + path) + (length ? " " + std::to_string(length) : ""));
}

// A read: the reply as far as it fits, then junk. Byte 0 must come in as
// report ID 0, as hidapi expects of a device that does not number reports.
int read(hid_device *dev, const char *function, unsigned char *data, size_t length)
{
    note(function, dev->path, length);
    const Device &d = device(dev->path);
    if (d.failing == function || !d.present || data[0] != 0)
        return -1;
    const size_t n = std::min(length, d.reply.size());
    std::copy_n(d.reply.begin(), n, data);
    std::fill(data + n, data + length, junk);
    return static_cast<int>(n);
}

int write(hid_device *dev, const char *function, const unsigned char *data, size_t length)
{
    note(function, dev->path, length);
    written.assign(data, data + length);
    const Device &d = device(dev->path);
    return d.failing == function || !d.present ? -1 : static_cast<int>(length);
}

} // namespace

void reset(std::vector<Device> newDevices)
{
    devices = std::move(newDevices);
    calls.clear();
    written.clear();
    handles = 0;
    nodes.clear();
}

void plug(Device device) { devices.push_back(std::move(device)); }

Device &device(const std::string &path)
{
    const auto d = std::find_if(devices.begin(), devices.end(), [&](const Device &d) { return d.path == path; });
    return d != devices.end() ? *d : throw std::logic_error("no fake device " + path);
}

QStringList &log() { return calls; }
const std::vector<unsigned char> &lastWrite() { return written; }
int openHandles() { return handles; }
int openNodes() { return int(std::count_if(nodes.begin(), nodes.end(), [](const std::string &p) { return !p.empty(); })); }

} // namespace fake

using namespace fake;

extern "C" {

int hid_init(void)
{
    calls << QStringLiteral("hid_init");
    return 0;
}

int hid_exit(void) { return 0; }

hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    const std::string ids = QString::asprintf("%04x:%04x", vendor_id, product_id).toStdString();
    note("hid_enumerate", ids);
    hid_device_info *first = nullptr; // built from the back, so it keeps the table's order
    for (auto d = devices.rbegin(); d != devices.rend(); ++d) {
        if ((ids != "0000:0000" && ids != d->ids) || !d->present)
            continue;
        auto *info = new hid_device_info{};
        info->path = strdup(d->path.c_str());
        info->release_number = d->releaseNumber;
        info->serial_number = d->hasSerial ? wcsdup(d->serial.c_str()) : nullptr;
        info->usage_page = d->usagePage;
        info->interface_number = d->interface;
        info->next = std::exchange(first, info);
    }
    return first;
}

void hid_free_enumeration(hid_device_info *devs)
{
    while (hid_device_info *info = devs) {
        devs = info->next;
        free(info->path);
        free(info->serial_number);
        delete info;
    }
}

hid_device *hid_open_path(const char *path)
{
    note("hid_open_path", path);
    if (std::none_of(devices.begin(), devices.end(),
                     [&](const Device &d) { return d.path == path && d.openable && d.present; })) {
        errno = EACCES; // as hidraw's open(2) leaves it for a node without permission
        return nullptr;
    }
    ++handles;
    return new hid_device{path};
}

void hid_close(hid_device *dev)
{
    note("hid_close", dev->path);
    --handles;
    delete dev;
}

// The reads and writes, logged under their own names.
int hid_send_feature_report(hid_device *d, const unsigned char *p, size_t n) { return write(d, __func__, p, n); }
int hid_write(hid_device *d, const unsigned char *p, size_t n) { return write(d, __func__, p, n); }
int hid_get_feature_report(hid_device *d, unsigned char *p, size_t n) { return read(d, __func__, p, n); }
int hid_get_input_report(hid_device *d, unsigned char *p, size_t n) { return read(d, __func__, p, n); }

} // extern "C"

// The library opens a node only after hidapi opened it.
namespace redi::node {

int open(const std::string &path)
{
    nodes.push_back(path);
    return 99 + int(nodes.size());
}

void close(int fd) { nodes.at(size_t(fd - 100)).clear(); }
bool lock(int fd, int)
{
    note("lock", nodes.at(size_t(fd - 100)));
    return !device(nodes[size_t(fd - 100)]).locked;
}
void unlock(int fd) { note("unlock", nodes.at(size_t(fd - 100))); }
bool gone(int fd) { return !device(nodes.at(size_t(fd - 100))).present; }

std::string resolve(const std::string &path)
{
    const auto d = std::find_if(devices.begin(), devices.end(), [&](const Device &d) { return d.link == path; });
    return d != devices.end() ? d->path : path;
}

bool liveSerialNumber(const std::string &hidrawPath, std::wstring &serial)
{
    serial = device(hidrawPath).live;
    return !serial.empty();
}

} // namespace redi::node
