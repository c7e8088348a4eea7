#include "fake_hidapi.h"

#include <hidapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

struct hid_device_ {
    std::string path;
};

namespace fake {
namespace {

std::vector<Device> g_devices;
std::vector<Call> g_calls;
int g_openHandles = 0;
int g_liveEnumerations = 0;

Device *find(const std::string &path)
{
    for (Device &d : g_devices)
        if (d.path == path)
            return &d;
    return nullptr;
}

void log(const char *function, const std::string &path, const unsigned char *data = nullptr,
         size_t dataSize = 0, size_t length = 0)
{
    g_calls.push_back({function, path,
                       data ? std::vector<unsigned char>(data, data + dataSize)
                            : std::vector<unsigned char>{},
                       length});
}

bool failing(const Device &d, const char *function)
{
    return d.failing.count(function) != 0;
}

// A read of `length` bytes into `data`: the reply is copied as far as it fits
// and the rest of the buffer gets junk.
int read(hid_device *dev, const char *function, const std::vector<unsigned char> Device::*reply,
         unsigned char *data, size_t length)
{
    log(function, dev->path, data, length ? 1 : 0, length);
    const Device &d = device(dev->path);
    if (failing(d, function))
        return -1;
    const std::vector<unsigned char> &bytes = d.*reply;
    const size_t n = std::min(length, bytes.size());
    std::copy_n(bytes.begin(), n, data);
    std::fill(data + n, data + length, kJunk);
    return static_cast<int>(n);
}

int write(hid_device *dev, const char *function, const unsigned char *data, size_t length)
{
    log(function, dev->path, data, length, length);
    return failing(device(dev->path), function) ? -1 : static_cast<int>(length);
}

wchar_t *copyOf(const std::wstring &text)
{
    auto *out = new wchar_t[text.size() + 1];
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = L'\0';
    return out;
}

} // namespace

void reset(std::vector<Device> devices)
{
    g_devices = std::move(devices);
    g_calls.clear();
    g_openHandles = 0;
    g_liveEnumerations = 0;
}

Device &device(const std::string &path)
{
    Device *d = find(path);
    if (!d)
        throw std::logic_error("no fake device " + path);
    return *d;
}

const std::vector<Call> &calls()
{
    return g_calls;
}

void clearCalls()
{
    g_calls.clear();
}

std::vector<std::string> callSummary()
{
    std::vector<std::string> out;
    for (const Call &c : g_calls) {
        std::string line = c.function;
        if (!c.path.empty())
            line += " " + c.path;
        if (c.length)
            line += " " + std::to_string(c.length);
        out.push_back(line);
    }
    return out;
}

int count(const std::string &function)
{
    return static_cast<int>(std::count_if(g_calls.begin(), g_calls.end(),
                                          [&](const Call &c) { return c.function == function; }));
}

int openHandles()
{
    return g_openHandles;
}

int liveEnumerations()
{
    return g_liveEnumerations;
}

} // namespace fake

using namespace fake;

extern "C" {

int hid_init(void)
{
    log("hid_init", {});
    return 0;
}

int hid_exit(void)
{
    log("hid_exit", {});
    return 0;
}

hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    char ids[10];
    std::snprintf(ids, sizeof ids, "%04x:%04x", vendor_id, product_id);
    log("hid_enumerate", ids);
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    for (const Device &d : g_devices) {
        if ((vendor_id && vendor_id != d.vendorId) || (product_id && product_id != d.productId))
            continue;
        auto *info = new hid_device_info{};
        info->path = new char[d.path.size() + 1];
        std::strcpy(info->path, d.path.c_str());
        info->vendor_id = d.vendorId;
        info->product_id = d.productId;
        info->release_number = d.releaseNumber;
        info->serial_number = d.hasSerial ? copyOf(d.serial) : nullptr;
        *next = info;
        next = &info->next;
    }
    if (first)
        ++g_liveEnumerations;
    return first;
}

void hid_free_enumeration(hid_device_info *devs)
{
    if (devs)
        --g_liveEnumerations;
    while (devs) {
        hid_device_info *next = devs->next;
        delete[] devs->path;
        delete[] devs->serial_number;
        delete devs;
        devs = next;
    }
}

hid_device *hid_open_path(const char *path)
{
    log("hid_open_path", path);
    const Device *d = find(path);
    if (!d || !d->openable)
        return nullptr;
    ++g_openHandles;
    return new hid_device{path};
}

void hid_close(hid_device *dev)
{
    log("hid_close", dev->path);
    --g_openHandles;
    delete dev;
}

int hid_send_feature_report(hid_device *dev, const unsigned char *data, size_t length)
{
    return write(dev, "hid_send_feature_report", data, length);
}

int hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    return write(dev, "hid_write", data, length);
}

int hid_get_feature_report(hid_device *dev, unsigned char *data, size_t length)
{
    return read(dev, "hid_get_feature_report", &Device::featureReply, data, length);
}

int hid_get_input_report(hid_device *dev, unsigned char *data, size_t length)
{
    return read(dev, "hid_get_input_report", &Device::inputReport, data, length);
}

} // extern "C"
