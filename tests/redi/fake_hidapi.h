// A stand-in for hidapi, linked in its place: a table of fake devices and a
// log of every call that reaches it, with the buffers and lengths it got.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace fake {

struct Device {
    std::string path;
    unsigned short vendorId = 0;
    unsigned short productId = 0;
    unsigned short releaseNumber = 0;
    std::wstring serial;
    bool hasSerial = true;     // false: hidapi reports no serial (null)
    bool openable = true;      // false: hid_open_path refuses, as for a node without permission
    std::vector<unsigned char> featureReply; // what hid_get_feature_report returns
    std::vector<unsigned char> inputReport;  // what hid_get_input_report returns
    std::set<std::string> failing;           // hidapi functions that return -1 on this device
};

// One call into the fake. `data` holds the bytes the buffer held on entry
// (the whole `length` for writes, byte 0 only for reads).
struct Call {
    std::string function;
    std::string path; // device path, or for hid_enumerate the IDs as "vvvv:pppp"
    std::vector<unsigned char> data;
    size_t length = 0;
};

// Bytes that a read leaves behind the reply it copied, standing for whatever
// the buffer held; the library must not pass them on.
constexpr unsigned char kJunk = 0xEE;

void reset(std::vector<Device> devices = {});
Device &device(const std::string &path);
const std::vector<Call> &calls();
void clearCalls();
// The functions called, in order, as "function path" (reads and writes also
// give the length: "hid_write /dev/hidraw0 13").
std::vector<std::string> callSummary();
int count(const std::string &function);
int openHandles();
int liveEnumerations();

} // namespace fake
