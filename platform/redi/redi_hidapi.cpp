// The controller's HID library over hidapi (hidraw back end on Linux).
//
// Devices are named by their hidapi path (/dev/hidrawN). Each path is opened
// once and its handle kept for the calls that follow, together with a
// descriptor of the library's own on the same node that carries the exchange
// lock: every exchange (a feature report sent and its reply read, an input
// report read, an output report written) holds it from start to end, so that
// another process's exchange cannot come in between. A call that fails
// closes the handle and forgets it, so the next call on that path opens the
// device afresh.
//
// The library remembers which controller (IDs, serial number, interface)
// each name it handed out stands for. When the board is unplugged and comes
// back, or resets itself, it comes back on a new node and the old one never
// works again: a call that fails because its device is gone finds the
// controller again, goes on the new node from then on under the old name,
// and is tried once more there. A device with another serial number is
// another board, never followed: the call fails, and Redi_LastFailure says
// which board took the place of which. The library keeps all its state in
// one State object, never throws across the C boundary and never prints.
//
// Input reports that the controller sends by itself are read on handles of
// their own, one set per thread: the kernel queues every report for every
// open descriptor, and a handle that is read while another thread exchanges
// on it could lose a reply. The wait for a report holds neither the
// exchange lock nor the library's own mutex (redi_internal.h), so a thread
// may wait while another thread exchanges feature reports.

#include "redi.h"
#include "redi_device_choice.h"
#include "redi_identity.h"
#include "redi_internal.h"
#include "redi_node.h"

#include <hidapi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

// How long an exchange waits for another process's exchange to finish.
constexpr int LockWaitMs = 2000;
// The usage page of the controller's vendor reports: a board that shows
// several HID interfaces with the controller's IDs is reached through it.
constexpr unsigned short ControllerUsagePage = 0xFF00;

// A device opened through hidapi, and a descriptor of the library's own on
// its node that carries the exchange lock and tells whether it is gone.
struct Handle {
    hid_device *device = nullptr;
    int nodeFd = -1;
};

// Open handles by node path.
struct Handles {
    std::map<std::string, Handle> byPath;

    Handle *find(const std::string &path)
    {
        const auto it = byPath.find(path);
        return it != byPath.end() ? &it->second : nullptr;
    }
    // The kept handle, or a newly opened one (then kept); null when the
    // device cannot be opened, e.g. when the user may not open the node.
    Handle *open(const std::string &path)
    {
        if (Handle *const kept = find(path))
            return kept;
        Handle handle{hid_open_path(path.c_str()), -1};
        if (handle.device)
            handle.nodeFd = redi::node::open(path);
        if (handle.nodeFd < 0) {
            if (handle.device)
                hid_close(handle.device);
            return nullptr;
        }
        return &byPath.emplace(path, handle).first->second;
    }
    void close(const std::string &path)
    {
        const auto it = byPath.find(path);
        if (it == byPath.end())
            return;
        hid_close(it->second.device);
        redi::node::close(it->second.nodeFd);
        byPath.erase(it);
    }
    void closeAll()
    {
        while (!byPath.empty())
            close(byPath.begin()->first);
    }
};

struct State {
    bool hidInitialised = false;
    Handles handles;                                  // for the exchanges
    std::map<std::string, redi::Identity> identities; // name handed out -> its controller
    std::map<std::string, std::string> aliases;       // name handed out -> the node it is on now
};

// Never destroyed: the handles stay reachable until the process ends and the
// kernel closes them, and no destructor runs after hidapi may be gone.
State &state()
{
    static State *const s = new State;
    return *s;
}

// Why the calling thread's last call failed, when the library knows more
// than the failure itself; each call starts it afresh.
std::string &lastFailure()
{
    static thread_local std::string text;
    return text;
}

bool initialiseHid()
{
    State &s = state();
    if (!s.hidInitialised)
        s.hidInitialised = hid_init() == 0;
    return s.hidInitialised;
}

Handle *openDevice(const std::string &path)
{
    return initialiseHid() ? state().handles.open(path) : nullptr;
}

void closeDevice(const std::string &path)
{
    state().handles.close(path);
}

std::string currentNode(const std::string &name)
{
    const auto &aliases = state().aliases;
    const auto it = aliases.find(name);
    return it != aliases.end() ? it->second : name;
}

std::wstring text(const wchar_t *serial)
{
    return serial ? serial : L"";
}

// Among `devices`, those `accept` takes, the first that opens: first those
// on the controller's vendor page, then the others.
template <typename Accept>
const hid_device_info *firstThatOpens(const hid_device_info *devices, Accept accept)
{
    for (const bool vendorPage : {true, false})
        for (const hid_device_info *d = devices; d; d = d->next)
            if (d->path && (d->usage_page == ControllerUsagePage) == vendorPage && accept(*d) && openDevice(d->path))
                return d;
    return nullptr;
}

// Finds the controller that `name` stood for again, by its IDs and its
// serial number, and puts `name` on its node. Another board in its place
// is no controller of this name: the call fails and says so.
bool relocate(const std::string &name)
{
    State &s = state();
    const auto known = s.identities.find(name);
    if (known == s.identities.end() || !initialiseHid())
        return false;
    const redi::Identity &id = known->second;
    hid_device_info *const devices = hid_enumerate(id.vendorId, id.productId);
    std::vector<std::wstring> present;
    for (const hid_device_info *d = devices; d; d = d->next)
        if (d->path && d->interface_number == id.interfaceNumber)
            present.push_back(text(d->serial_number));
    const hid_device_info *found = firstThatOpens(devices, [&](const hid_device_info &d) {
        return d.interface_number == id.interfaceNumber && id.isThisBoard(text(d.serial_number), present);
    });
    if (!found)
        lastFailure() = id.whyNotFound(present);
    else if (name == found->path)
        s.aliases.erase(name);
    else
        s.aliases[name] = found->path;
    hid_free_enumeration(devices);
    return found != nullptr;
}

enum class Outcome { Done, Failed, Gone };

// One exchange on the device at `path` under the exchange lock.
template <typename Io>
Outcome attempt(const std::string &path, Io io)
{
    Handle *const handle = openDevice(path);
    if (!handle)
        return Outcome::Gone;
    if (!redi::node::lock(handle->nodeFd, LockWaitMs))
        return Outcome::Failed;
    const bool ok = io(handle->device);
    redi::node::unlock(handle->nodeFd);
    if (ok)
        return Outcome::Done;
    const bool gone = redi::node::gone(handle->nodeFd);
    closeDevice(path);
    return gone ? Outcome::Gone : Outcome::Failed;
}

// Runs `io` on the device that `name` stands for. A controller the library
// found whose node is not open is looked up again first: its old node may
// belong to another device by now. When the device turns out to be gone, the
// controller is looked up again and `io` tried once more.
template <typename Io>
bool withDevice(const char *name, Io io)
{
    const bool known = state().identities.count(name) != 0;
    if (known && !state().handles.find(currentNode(name)) && !relocate(name))
        return false;
    Outcome outcome = attempt(currentNode(name), io);
    if (outcome == Outcome::Gone && known && relocate(name))
        outcome = attempt(currentNode(name), io);
    return outcome == Outcome::Done;
}

// The C boundary: a result of 1 or 0, and no exception ever leaves.
template <typename F>
int guarded(F f) noexcept
{
    try {
        lastFailure().clear();
        const std::lock_guard<std::mutex> hold(redi::libraryMutex());
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

// Enumerates the devices that REDI_DEVICE names (IDs or a path, which must
// carry the controller's IDs), or else the controller's IDs, and fills
// `record` from the first one that opens. The serial number is asked of the
// device itself where it can be; otherwise it is the system's copy from
// plug-in time, and the record says so.
bool findDevice(RediDeviceRecord &record)
{
    const redi::DeviceChoice choice = redi::deviceChoiceFromEnvironment();
    if (!initialiseHid() || choice.kind == redi::DeviceChoice::Kind::Invalid)
        return false;
    const std::string wanted = choice.kind == redi::DeviceChoice::Kind::Path ? redi::node::resolve(choice.path) : "";
    hid_device_info *const devices = hid_enumerate(choice.vendorId, choice.productId);
    const hid_device_info *found = firstThatOpens(devices, [&](const hid_device_info &d) {
        return wanted.empty() || redi::node::resolve(d.path) == wanted;
    });
    if (found) {
        copyText(record.deviceName, sizeof record.deviceName, found->path);
        record.releaseNumber[0] = static_cast<unsigned char>(found->release_number & 0xFF);
        record.releaseNumber[1] = static_cast<unsigned char>(found->release_number >> 8);
        std::wstring live;
        const bool isLive = redi::node::liveSerialNumber(found->path, live);
        copyLatin1(record.serialNumber, sizeof record.serialNumber, isLive ? live.c_str() : found->serial_number);
        record.flags = isLive ? REDI_RECORD_SERIAL_LIVE : 0;
        State &s = state();
        redi::Identity &id = s.identities[record.deviceName];
        id = {choice.vendorId, choice.productId, found->interface_number, {text(found->serial_number)}};
        if (isLive)
            id.serials.push_back(live);
        s.aliases.erase(record.deviceName);
    }
    hid_free_enumeration(devices);
    return found != nullptr;
}

// The calling thread's input handles; closed when it ends.
struct InputHandles : Handles {
    ~InputHandles() { closeAll(); }
};

InputHandles &inputHandles()
{
    static thread_local InputHandles handles;
    return handles;
}

// The calling thread's input handle on the device that `name` stands for,
// opened when there is none. As for an exchange, a controller the library
// found whose node is open nowhere is looked up again first; `relocateFirst`
// asks for that look-up whatever is open (after the device went away).
Handle *inputHandle(const std::string &name, std::string &node, bool relocateFirst)
{
    State &s = state();
    const std::lock_guard<std::mutex> hold(redi::libraryMutex());
    const bool known = s.identities.count(name) != 0;
    node = currentNode(name);
    const bool open = inputHandles().find(node) || s.handles.find(node);
    if (known && (relocateFirst || !open) && !relocate(name))
        return nullptr;
    node = currentNode(name);
    return initialiseHid() ? inputHandles().open(node) : nullptr;
}

// Waits for one report on `handle` until `deadline` (none: without limit).
// hidapi leaves out the report ID when the device does not number its
// reports, as this controller does: it goes back in as byte 0.
int readInput(Handle &handle, unsigned char *report, int length,
              const std::chrono::steady_clock::time_point *deadline)
{
    using namespace std::chrono;
    const long long left = deadline ? std::max<long long>(0, duration_cast<milliseconds>(*deadline - steady_clock::now()).count()) : -1;
    unsigned char buffer[REDI_REPORT_SIZE] = {};
    const int n = hid_read_timeout(handle.device, buffer + 1, REDI_REPORT_SIZE - 1, static_cast<int>(left));
    if (n <= 0)
        return n < 0 ? -1 : 0;
    std::fill(buffer + 1 + n, buffer + REDI_REPORT_SIZE, 0);
    std::memcpy(report, buffer, static_cast<size_t>(length));
    return 1;
}

// Redi_ReadInputReport's work: a device that went away is looked up again
// once, and the wait goes on there for what is left of the time.
int waitForInput(const std::string &name, unsigned char *report, int length, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (bool again = false;; again = true) {
        std::string node;
        Handle *const handle = inputHandle(name, node, again);
        if (!handle)
            return -1;
        const int got = readInput(*handle, report, length, timeoutMs < 0 ? nullptr : &deadline);
        if (got >= 0)
            return got;
        const bool gone = redi::node::gone(handle->nodeFd);
        inputHandles().close(node);
        if (gone) { // and for the exchanges too, which are looked up again then
            const std::lock_guard<std::mutex> hold(redi::libraryMutex());
            closeDevice(node);
        }
        if (!gone || again)
            return -1;
    }
}

} // namespace

std::mutex &redi::libraryMutex()
{
    static std::mutex *const m = new std::mutex; // never destroyed, as the State
    return *m;
}

void redi::closeAllDevices() noexcept
{
    inputHandles().closeAll();
    State &s = state();
    const std::lock_guard<std::mutex> hold(redi::libraryMutex());
    s.handles.closeAll();
    s.identities.clear();
    s.aliases.clear();
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
        // The board comes back with a number written to it: from the write
        // on, and already when the write itself makes the board start anew.
        const auto known = state().identities.find(deviceName);
        std::wstring written;
        const bool writes = !get && known != state().identities.end() && redi::serialNumberWritten(report, written);
        if (writes)
            known->second.serials.push_back(written);
        const bool ok = withDevice(deviceName, [&](hid_device *dev) {
            if (hid_send_feature_report(dev, report, REDI_REPORT_SIZE) < 0)
                return false;
            return !get || readReport(dev, report, REDI_REPORT_SIZE, hid_get_feature_report);
        });
        if (writes && !ok)
            known->second.serials.pop_back();
        return ok;
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

const char *Redi_LastFailure(void)
{
    return lastFailure().c_str();
}

int Redi_ReadInputReport(const char *deviceName, unsigned char *report, int length, int timeoutMs)
{
    try {
        lastFailure().clear();
        if (!validName(deviceName) || !report || !validLength(length))
            return -1;
        return waitForInput(deviceName, report, length, timeoutMs);
    } catch (...) {
        return -1;
    }
}

} // extern "C"
