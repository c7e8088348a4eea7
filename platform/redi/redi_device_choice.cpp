#include "redi_device_choice.h"

#include "redi_device_ids.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace redi {

namespace {

bool isHex(char c)
{
    return std::strchr("0123456789abcdefABCDEF", c) != nullptr && c != '\0';
}

#ifdef _WIN32
// Device interface paths as hidapi lists them: \\?\hid#vid_...#{guid}.
const char *const PathSeparators = "/\\";
const char *const ExamplePath = "\\\\?\\hid#vid_vvvv&pid_pppp#...";
#else
const char *const PathSeparators = "/";
const char *const ExamplePath = "/dev/hidraw0";
#endif

} // namespace

// A value is a path when it contains a path separator. Anything else must be
// IDs: a bare word such as "hidraw3" or "1234:zz" is a mistake, not a file
// name relative to wherever the program happened to start.
DeviceChoice parseDeviceChoice(const char *value)
{
    DeviceChoice choice;
    choice.vendorId = REDI_VENDOR_ID;
    choice.productId = REDI_PRODUCT_ID;
    if (!value || !*value)
        return choice;
    if (std::strpbrk(value, PathSeparators)) {
        choice.kind = DeviceChoice::Kind::Path;
        choice.path = value;
        return choice;
    }
    const size_t length = std::strlen(value);
    bool ids = length == 9 && value[4] == ':';
    for (size_t i = 0; ids && i < length; ++i)
        ids = i == 4 || isHex(value[i]);
    if (!ids) {
        choice.kind = DeviceChoice::Kind::Invalid;
        choice.reason = std::string("REDI_DEVICE \"") + value
            + "\" is not valid: expected USB IDs as vvvv:pppp (four hex digits each) or a device "
              "path such as "
            + ExamplePath;
        return choice;
    }
    choice.kind = DeviceChoice::Kind::Ids;
    choice.vendorId = static_cast<unsigned short>(std::strtoul(value, nullptr, 16));
    choice.productId = static_cast<unsigned short>(std::strtoul(value + 5, nullptr, 16));
    return choice;
}

DeviceChoice deviceChoiceFromEnvironment()
{
    return parseDeviceChoice(std::getenv("REDI_DEVICE"));
}

std::string describeDeviceChoice(const DeviceChoice &choice)
{
    if (choice.kind == DeviceChoice::Kind::Invalid)
        return choice.reason;
    if (choice.kind == DeviceChoice::Kind::Path)
        return "device " + choice.path;
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB ID %04x:%04x", choice.vendorId, choice.productId);
    return ids;
}

} // namespace redi
