// The library's dealings with the system on Windows, where this build has
// none of its own yet: no exchange lock between processes (the vendor's
// library or a later version of this one must add one, on a named mutex
// say), no re-plug detection beyond a failing call, paths taken as they are,
// and the serial number as the HID layer reports it.
#include "redi_node.h"

namespace redi::node {

int open(const std::string &)
{
    return 0;
}

void close(int) { }

bool lock(int, int)
{
    return true;
}

void unlock(int) { }

bool gone(int)
{
    return false;
}

std::string resolve(const std::string &path)
{
    return path;
}

bool liveSerialNumber(const std::string &, std::wstring &)
{
    return false;
}

} // namespace redi::node
