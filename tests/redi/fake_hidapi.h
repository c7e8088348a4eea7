// A stand-in for hidapi, linked in its place: a table of fake devices and a
// log of every call that reaches it, with the lengths it got.
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
};

// What a read leaves in the buffer behind the reply it copied, standing for
// whatever the buffer held; the library must not pass it on.
constexpr unsigned char junk = 0xEE;

void reset(std::vector<Device> devices = {});
Device &device(const std::string &path);
// The calls in order, as "function path" plus the length for reads and
// writes ("hid_write /dev/hidraw0 13"); hid_enumerate gives "vvvv:pppp".
QStringList &log();
// The bytes of the last write (feature report or output report).
const std::vector<unsigned char> &lastWrite();
int openHandles();

} // namespace fake
