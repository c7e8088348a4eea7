#include "redi_node.h"

#include <linux/hidraw.h>
#include <linux/usbdevice_fs.h>

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>

namespace redi::node {

namespace {

std::string readLine(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// A control transfer to the device as a whole, which needs no claim on any
// of its interfaces. The number of bytes read, or -1.
int getDescriptor(int fd, unsigned short value, unsigned short index, unsigned char *data,
                  unsigned short size)
{
    usbdevfs_ctrltransfer transfer{};
    transfer.bRequestType = 0x80; // device to host, standard, device
    transfer.bRequest = 6; // GET_DESCRIPTOR
    transfer.wValue = value;
    transfer.wIndex = index;
    transfer.wLength = size;
    transfer.timeout = 1000;
    transfer.data = data;
    return ::ioctl(fd, USBDEVFS_CONTROL, &transfer);
}

// The usbfs node (/dev/bus/usb/BBB/DDD) of the USB device that the hidraw
// node hangs under: the nearest sysfs ancestor with a bus and device number.
std::string usbDeviceNode(const std::string &hidrawPath)
{
    const std::string real = resolve(hidrawPath);
    const std::string name = real.substr(real.rfind('/') + 1);
    std::string dir = resolve("/sys/class/hidraw/" + name + "/device");
    for (; dir.size() > 1; dir.erase(dir.rfind('/'))) {
        const std::string bus = readLine(dir + "/busnum"), device = readLine(dir + "/devnum");
        if (!bus.empty() && !device.empty()) {
            char node[64];
            std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(bus.c_str()),
                          std::atoi(device.c_str()));
            return node;
        }
    }
    return {};
}

// Processes waiting for the exchange lock say so with a shared record lock
// on the node's byte 1 (open file description locks, which are independent
// of the flock that is the exchange lock itself).
void markWaiting(int fd, bool waiting)
{
    struct flock mark{};
    mark.l_type = waiting ? F_RDLCK : F_UNLCK;
    mark.l_whence = SEEK_SET;
    mark.l_start = 1;
    mark.l_len = 1;
    ::fcntl(fd, F_OFD_SETLK, &mark);
}

bool othersWaiting(int fd)
{
    struct flock probe{};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 1;
    probe.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

} // namespace

int open(const std::string &path)
{
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

void close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

// Polls: a blocking flock cannot be given up after a while. Another
// process's exchange takes a millisecond or two, so the wait is short.
bool lock(int fd, int timeoutMs)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    markWaiting(fd, true);
    bool locked = false;
    while (!locked) {
        locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked && ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline))
            break;
        if (!locked)
            ::usleep(500);
    }
    markWaiting(fd, false);
    return locked;
}

void unlock(int fd)
{
    ::flock(fd, LOCK_UN);
    // A process that exchanges back to back would otherwise take the lock
    // again before a waiting one wakes up to look, over and over, until the
    // waiting one gives up: hand it over first (a few milliseconds at most).
    for (int i = 0; i < 20 && othersWaiting(fd); ++i)
        ::usleep(250);
}

bool gone(int fd)
{
    hidraw_devinfo info{};
    return ::ioctl(fd, HIDIOCGRAWINFO, &info) < 0;
}

std::string resolve(const std::string &path)
{
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

bool liveSerialNumber(const std::string &hidrawPath, std::wstring &serial)
{
    const std::string node = usbDeviceNode(hidrawPath);
    int fd = node.empty() ? -1 : ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && !node.empty())
        fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // usbfs reads the device descriptor first; byte 16 is the serial string's index.
    unsigned char device[18] = {}, languages[255] = {}, text[255] = {};
    const bool haveIndex = ::read(fd, device, sizeof device) == sizeof device && device[16] != 0;
    const int languageBytes
        = haveIndex ? getDescriptor(fd, 0x0300, 0, languages, sizeof languages) : -1;
    const unsigned short language
        = languageBytes >= 4 ? (languages[2] | languages[3] << 8) : 0x0409;
    const int n
        = haveIndex ? getDescriptor(fd, 0x0300 | device[16], language, text, sizeof text) : -1;
    ::close(fd);
    if (n < 2 || text[1] != 3) // a string descriptor
        return false;
    serial.clear();
    for (int i = 2; i + 1 < std::min<int>(n, text[0]); i += 2)
        serial.push_back(static_cast<wchar_t>(text[i] | text[i + 1] << 8));
    return true;
}

} // namespace redi::node
