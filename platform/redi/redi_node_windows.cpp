// The library's dealings with Windows beside hidapi: the exchange lock is a
// named mutex per device, a device is gone when the HID class driver no
// longer answers on a handle of the library's own, device paths are compared
// in one spelling, and the serial number is the one the device tells when it
// is opened afresh.
#include "redi_node.h"

#include <hidapi.h>

#include <windows.h>
// After windows.h, which they need; mingw's hidsdi.h declares C functions
// without saying so.
extern "C" {
#include <hidsdi.h>
}
#include <sddl.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace redi::node {

namespace {

struct Slot {
    HANDLE mutex = nullptr; // null: the slot is free
    HANDLE device = INVALID_HANDLE_VALUE;
};

// The library is used from one thread at a time, as on Linux.
std::vector<Slot> &slots()
{
    static std::vector<Slot> *const all = new std::vector<Slot>;
    return *all;
}

Slot *slotOf(int fd)
{
    auto &all = slots();
    return fd >= 0 && static_cast<std::size_t>(fd) < all.size() && all[fd].mutex ? &all[fd] : nullptr;
}

// The mutex's name is a digest of the device path, which is too long for a
// name and holds backslashes that a name may not.
//
// "Local\" is the namespace of the logon session the program runs in: every
// program of the user at the desktop (elevated or not) shares it, and that is
// where both the window and the CLI run. "Global\" would reach other sessions
// too (a second user switched in, a remote desktop, services), but an object
// there can be made first by any program of any user, with rights of its
// choosing, and would then keep every other session from its controller.
// Exchanges from two different sessions at once are left unserialised.
std::wstring mutexName(const std::string &path)
{
    std::uint64_t hash = 0xcbf29ce484222325u; // FNV-1a
    for (const char c : resolve(path))
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\vnkestrix-redi-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

// An elevated program and a normal one of the same user take turns on the
// same controller, but an object made by an elevated program is closed to
// the normal one by default: everyone in the session may wait for the mutex
// and release it, at medium integrity; nobody may change its rights.
HANDLE openMutex(const std::wstring &name)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;ME)",
                                                              SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const HANDLE mutex = CreateMutexExW(&attributes, name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    LocalFree(descriptor);
    return mutex;
}

} // namespace

int open(const std::string &path)
{
    Slot slot;
    slot.mutex = openMutex(mutexName(path));
    if (!slot.mutex)
        return -1;
    // No access rights: enough to ask the HID class driver about the device,
    // and never refused for want of rights.
    slot.device = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    auto &all = slots();
    std::size_t fd = 0;
    while (fd < all.size() && all[fd].mutex)
        ++fd;
    if (fd == all.size())
        all.emplace_back();
    all[fd] = slot;
    return static_cast<int>(fd);
}

void close(int fd)
{
    Slot *const slot = slotOf(fd);
    if (!slot)
        return;
    CloseHandle(slot->mutex);
    if (slot->device != INVALID_HANDLE_VALUE)
        CloseHandle(slot->device);
    *slot = Slot{};
}

// A process that died holding the mutex (killed mid-exchange) leaves it
// abandoned: the wait then succeeds and the exchange it was in is over, as
// a later get sends its own request before it reads. A release hands the
// mutex straight to a waiting process, so one that exchanges back to back
// cannot keep another out.
bool lock(int fd, int timeoutMs)
{
    const Slot *const slot = slotOf(fd);
    if (!slot)
        return false;
    const DWORD result = WaitForSingleObject(slot->mutex, static_cast<DWORD>(timeoutMs));
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void unlock(int fd)
{
    if (const Slot *const slot = slotOf(fd))
        ReleaseMutex(slot->mutex);
}

// A board that is unplugged leaves its handles dead even when it comes back
// under the same path (the same USB port): the driver then refuses every
// request on them.
bool gone(int fd)
{
    const Slot *const slot = slotOf(fd);
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    return slot && slot->device != INVALID_HANDLE_VALUE && !HidD_GetAttributes(slot->device, &attributes);
}

// Windows compares device paths without regard to case, and takes "\\.\" for
// "\\?\": REDI_DEVICE, hidapi and another process may spell one device
// differently.
std::string resolve(const std::string &path)
{
    std::string same = path;
    for (char &c : same)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (same.rfind("\\\\.\\", 0) == 0)
        same[2] = '?';
    return same;
}

// hidapi asks the device for its strings whenever it opens it; a handle kept
// from earlier would tell the number as it was then.
bool liveSerialNumber(const std::string &hidrawPath, std::wstring &serial)
{
    hid_device *const device = hid_open_path(hidrawPath.c_str());
    if (!device)
        return false;
    wchar_t text[128] = {};
    const bool ok = hid_get_serial_number_string(device, text, 128) == 0 && text[0] != L'\0';
    hid_close(device);
    if (ok)
        serial = text;
    return ok;
}

} // namespace redi::node
