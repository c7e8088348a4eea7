// Stand-ins for hidapi and for the library's system calls (redi_node.h),
// linked in their place: a table of fake devices and a log of every call
// that reaches them, with the lengths they got.
#pragma once

#include <QStringList>

#include <string>
#include <vector>

namespace fake {

struct Device {
    std::string path;
    std::string ids; // "vvvv:pppp", lowercase
    unsigned short releaseNumber = 0;
    std::wstring serial;
    bool hasSerial = true; // false: hidapi reports no serial (null)
    bool openable = true;  // false: hid_open_path refuses, as for a node without permission
    std::vector<unsigned char> reply; // what both report reads return
    std::string failing;   // a hidapi function that returns -1 on this device
    unsigned short usagePage = 0xFF00;
    int interface = 0;
    bool present = true;   // false: unplugged, every call on it fails
    std::string link;      // a symlink that leads to the node
    std::wstring live;     // the serial number the device tells when asked; empty: cannot be asked
    bool locked = false;   // another process holds the exchange lock
};

// What a read leaves in the buffer behind the reply it copied, standing for
// whatever the buffer held; the library must not pass it on.
constexpr unsigned char junk = 0xEE;

void reset(std::vector<Device> devices = {});
// Adds a device, as when a board comes back on a new node.
void plug(Device device);
Device &device(const std::string &path);
// The calls in order, as "function path" plus the length for reads and
// writes ("hid_write /dev/hidraw0 13"); hid_enumerate gives "vvvv:pppp";
// taking and leaving the exchange lock are "lock path" and "unlock path".
QStringList &log();
// The bytes of the last write (feature report or output report).
const std::vector<unsigned char> &lastWrite();
int openHandles();
// Descriptors of the library's own on nodes, open now.
int openNodes();

} // namespace fake
