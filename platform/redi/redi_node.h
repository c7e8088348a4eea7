// The library's own dealings with the operating system beside hidapi: the
// exchange lock on a device node, whether the device behind a descriptor is
// still there, where a symlink leads, and the serial number read from the
// USB device itself. The library's tests put a fake in its place.
#pragma once

#include <string>

namespace redi::node {

// A descriptor of the library's own on the hidraw node; -1 when it cannot be opened.
int open(const std::string &path);
void close(int fd);

// Takes the exclusive lock that every process using the library holds for
// one whole exchange with the device, waiting up to `timeoutMs` for another
// process to finish its exchange. False when it could not be had.
bool lock(int fd, int timeoutMs);
void unlock(int fd);

// True when the device behind `fd` is gone (unplugged, or re-enumerated
// after a reset); its node then never works again.
bool gone(int fd);

// `path` with every symlink resolved; `path` itself when it does not resolve.
std::string resolve(const std::string &path);

// The serial-number string descriptor, asked of the USB device above the
// hidraw node `hidrawPath` now, not the copy taken when it was plugged in.
// False when it cannot be read (no USB parent, no access, no serial string).
bool liveSerialNumber(const std::string &hidrawPath, std::wstring &serial);

} // namespace redi::node
