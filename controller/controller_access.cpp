#include "controller_access.h"

#include "controller_list.h"
#include "redi_device_ids.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *installedRule = "/usr/lib/udev/rules.d/70-vnkestrix.rules";
constexpr const char *triggerLine = "sudo udevadm trigger --subsystem-match=hidraw --action=change";

// Tests move the kernel's trees and the rule, so that a fake tree stands in.
std::string fromEnvironment(const char *variable, const char *fallback)
{
    const char *value = std::getenv(variable);
    return value && *value ? value : fallback;
}

// Where to look at a node the library named: under a moved /dev when tests
// moved it.
std::string visiblePath(const std::string &node)
{
    const std::string devRoot = fromEnvironment("VNKESTRIX_DEV_ROOT", "/dev");
    return node.rfind("/dev/", 0) == 0 ? devRoot + node.substr(4) : node;
}

// The rule file in force (a copy in /etc overrides the package's), empty
// when neither is there.
std::string udevRule()
{
    if (const char *rule = std::getenv("VNKESTRIX_UDEV_RULE"); rule && *rule)
        return access(rule, F_OK) == 0 ? rule : "";
    for (const char *path : {"/etc/udev/rules.d/70-vnkestrix.rules", installedRule}) {
        if (access(path, F_OK) == 0)
            return path;
    }
    return {};
}

// The group the rule gives the hidraw node; plugdev, as installed.
std::string ruleGroup(const std::string &rule)
{
    std::ifstream file(rule);
    static const std::regex group("SUBSYSTEM==\"hidraw\".*GROUP=\"([^\"]+)\"");
    std::smatch match;
    for (std::string line; std::getline(file, line);) {
        if (std::regex_search(line, match, group))
            return match[1];
    }
    return "plugdev";
}

std::string ownerText(const struct stat &status)
{
    char mode[11] = "----------";
    mode[0] = S_ISCHR(status.st_mode) ? 'c' : S_ISREG(status.st_mode) ? '-' : '?';
    const char *letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) {
        if (status.st_mode & (0400u >> bit))
            mode[1 + bit] = letters[bit];
    }
    const passwd *owner = getpwuid(status.st_uid);
    const group *grp = getgrgid(status.st_gid);
    return std::string(mode) + ' ' + (owner ? owner->pw_name : std::to_string(status.st_uid)) + ':'
        + (grp ? grp->gr_name : std::to_string(status.st_gid));
}

bool opens(const std::string &path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::string missingAccess(const std::string &path)
{
    const bool read = opens(path, O_RDONLY), write = opens(path, O_WRONLY);
    if (read && !write)
        return "may read it but not write it";
    if (write && !read)
        return "may write it but not read it";
    return "may not read or write it";
}

bool processHasGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
    const int count = getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    }
    return false;
}

// The group database lists this user in the group: it was joined, but the
// session started before and does not carry it yet.
bool userJoined(const group &grp)
{
    const passwd *user = getpwuid(getuid());
    if (!user)
        return false;
    if (user->pw_gid == grp.gr_gid)
        return true;
    for (char **member = grp.gr_mem; member && *member; ++member) {
        if (std::strcmp(*member, user->pw_name) == 0)
            return true;
    }
    return false;
}

// The likely cause of a refusal by permissions, told by what the node
// shows: without the rule's group and mode the rule never reached it.
std::string permissionCause(const std::string &path)
{
    const std::string rule = udevRule();
    if (rule.empty())
        return std::string("the udev rule is not installed: install ") + installedRule + " and reconnect the board";
    const std::string groupName = ruleGroup(rule);
    const group *grp = getgrnam(groupName.c_str());
    struct stat status {};
    const bool seen = ::stat(path.c_str(), &status) == 0;
    if (seen && (!grp || status.st_gid != grp->gr_gid || (status.st_mode & 0060) != 0060)) {
        return "the udev rule " + rule + " has not been applied to it (a board not reconnected since the rule "
               "arrived): reconnect the board or run `" + triggerLine + "`";
    }
    if (grp && !processHasGroup(grp->gr_gid) && userJoined(*grp))
        return "this user joined group " + groupName + " after this session began: log in again";
    return "this session is not at the machine's seat (over ssh, say), so the rule's seat access does not "
           "reach it: join group " + groupName + " (`sudo adduser $USER " + groupName
        + "`, then log in again) or use a session at the machine";
}

struct UnopenableNode {
    std::string path;
    int error;
};

bool hasControllerIds(const std::string &ueventPath)
{
    std::ifstream uevent(ueventPath);
    unsigned bus = 0, vendor = 0, product = 0;
    for (std::string line; std::getline(uevent, line);) {
        if (line.rfind("HID_ID=", 0) == 0)
            return std::sscanf(line.c_str() + 7, "%x:%x:%x", &bus, &vendor, &product) == 3
                && vendor == REDI_VENDOR_ID && product == REDI_PRODUCT_ID;
    }
    return false;
}

// A controller's node that this user may not open, from the library's
// listing, or where the library has none (the vendor's), from the kernel's
// hidraw nodes with the controller's IDs.
// With `onlyNode`, that node only, by its name or the name a link leads to.
std::optional<UnopenableNode> unopenableController(const std::string &onlyNode)
{
    char resolved[PATH_MAX];
    const std::string target = realpath(visiblePath(onlyNode).c_str(), resolved) ? resolved : onlyNode;
    std::vector<AttachedController> controllers;
    if (listControllers(controllers) == Listing::Listed) {
        for (const AttachedController &controller : controllers) {
            if (controller.openError != 0
                && (onlyNode.empty() || controller.device == onlyNode || visiblePath(controller.device) == target))
                return UnopenableNode{controller.device, controller.openError};
        }
    }
    const std::string sysfs = fromEnvironment("VNKESTRIX_SYSFS_ROOT", "/sys") + "/class/hidraw";
    const std::string dev = fromEnvironment("VNKESTRIX_DEV_ROOT", "/dev");
    std::vector<std::string> nodes;
    if (DIR *dir = opendir(sysfs.c_str())) {
        while (const dirent *entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                nodes.emplace_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(nodes.begin(), nodes.end());
    for (const std::string &node : nodes) {
        const std::string path = dev + '/' + node;
        if ((!onlyNode.empty() && target != path && visiblePath(onlyNode) != path) || !hasControllerIds(sysfs + '/' + node + "/device/uevent"))
            continue;
        if (!opens(path, O_RDWR))
            return UnopenableNode{path, errno};
    }
    return std::nullopt;
}

std::string hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

} // namespace

std::string controllerAccessProblem(const std::string &node, int error)
{
    if (error != EACCES && error != EPERM)
        return std::strerror(error);
    const std::string path = visiblePath(node);
    struct stat status {};
    const std::string shown = ::stat(path.c_str(), &status) == 0 ? " (" + ownerText(status) + ")" : "";
    return "permission denied: this user " + missingAccess(path) + shown + "; " + permissionCause(path);
}

std::string missingControllerMessage(const redi::DeviceChoice &choice)
{
    const std::string ids = hex4(REDI_VENDOR_ID) + ':' + hex4(REDI_PRODUCT_ID);
    if (choice.kind == redi::DeviceChoice::Kind::Path) {
        if (access(visiblePath(choice.path).c_str(), F_OK) != 0)
            return "no controller found: " + choice.path + " does not exist (see `vnkestrix-cli list`)";
        if (const auto blocked = unopenableController(choice.path))
            return "no controller found at " + choice.path + ": " + controllerAccessProblem(blocked->path, blocked->error);
        return "no controller found at " + choice.path + " (REDI_DEVICE): it cannot be opened or is not a device "
               "with USB ID " + ids;
    }
    const bool otherIds = choice.vendorId != REDI_VENDOR_ID || choice.productId != REDI_PRODUCT_ID;
    const auto blocked = otherIds ? std::nullopt : unopenableController({});
    if (!blocked)
        return "no controller found (" + redi::describeDeviceChoice(choice) + "); is the board connected?";
    return "no controller found: " + blocked->path + " has the controller's USB IDs but cannot be opened: "
        + controllerAccessProblem(blocked->path, blocked->error);
}
