// What REDI_DEVICE asks for: the controller's own IDs when it is unset or
// empty, other IDs as "vvvv:pppp", or a device node (a path, which may be a
// symlink such as one a udev rule made). Plain C++, shared by the library
// and the programs that explain a failed search.
#pragma once

#include <string>

namespace redi {

struct DeviceChoice {
    enum class Kind { Default, Ids, Path, Invalid } kind = Kind::Default;
    unsigned short vendorId = 0, productId = 0; // Default and Ids
    std::string path; // Path
    std::string reason; // Invalid: the value and why, for the user
};

DeviceChoice parseDeviceChoice(const char *value);
// REDI_DEVICE's value, parsed.
DeviceChoice deviceChoiceFromEnvironment();
// What was looked for, for a "not found" message: "USB ID 1209:4b58" or
// "device /dev/vnkestrix"; for a malformed value, the reason.
std::string describeDeviceChoice(const DeviceChoice &choice);

} // namespace redi
