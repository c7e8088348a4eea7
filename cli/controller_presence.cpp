#include "controller_presence.h"

#include "cli_failure.h"
#include "controller_link.h"
#include "redi_device_choice.h"
#include "redi_device_ids.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The rule that lets ordinary users open the controller's hidraw node.
constexpr const char *udevRulePath = "/usr/lib/udev/rules.d/70-vnkestrix.rules";

// Both roots can be moved for tests, so a fake tree can stand in for the
// kernel's.
QString sysfsRoot()
{
    const QString root = qEnvironmentVariable("VNKESTRIX_SYSFS_ROOT");
    return root.isEmpty() ? QStringLiteral("/sys") : root;
}

QString devRoot()
{
    const QString root = qEnvironmentVariable("VNKESTRIX_DEV_ROOT");
    return root.isEmpty() ? QStringLiteral("/dev") : root;
}

// The HID device's uevent holds "HID_ID=<bus>:<vendor>:<product>", each part
// in hexadecimal (vendor and product zero-padded to eight digits).
bool hasControllerIds(const QString &ueventPath)
{
    QFile uevent(ueventPath);
    if (!uevent.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : uevent.readAll().split('\n')) {
        if (!line.startsWith("HID_ID="))
            continue;
        const QList<QByteArray> parts = line.mid(7).trimmed().split(':');
        bool vendorOk = false;
        bool productOk = false;
        return parts.size() == 3 && parts[1].toUInt(&vendorOk, 16) == REDI_VENDOR_ID && vendorOk
            && parts[2].toUInt(&productOk, 16) == REDI_PRODUCT_ID && productOk;
    }
    return false;
}

struct UnopenableNode {
    QString path;
    int error;
};

// The first hidraw node with the controller's IDs that this user cannot open
// for reading and writing, as the HID library must.
std::optional<UnopenableNode> unopenableControllerNode()
{
    const QDir hidraw(sysfsRoot() + QStringLiteral("/class/hidraw"));
    const QStringList nodes = hidraw.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &node : nodes) {
        if (!hasControllerIds(hidraw.filePath(node + QStringLiteral("/device/uevent"))))
            continue;
        const QString path = devRoot() + QLatin1Char('/') + node;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            continue;
        }
        return UnopenableNode{path, errno};
    }
    return std::nullopt;
}

// The device REDI_DEVICE names; a value that names nothing is a usage error,
// not an absent board.
redi::DeviceChoice deviceChoice()
{
    const redi::DeviceChoice choice = redi::deviceChoiceFromEnvironment();
    if (choice.kind == redi::DeviceChoice::Kind::Invalid)
        failUsage(QString::fromStdString(choice.reason));
    return choice;
}

} // namespace

std::optional<std::string> lookForController()
{
    deviceChoice();
    std::string deviceName;
    if (!findController(deviceName))
        return std::nullopt;
    return deviceName;
}

QString noControllerMessage()
{
    const redi::DeviceChoice choice = deviceChoice();
    const QString lookedFor = QString::fromStdString(redi::describeDeviceChoice(choice));
    if (choice.kind == redi::DeviceChoice::Kind::Path) {
        const QString path = QString::fromStdString(choice.path);
        if (!QFile::exists(path))
            return QStringLiteral("no controller found: %1 does not exist (see `list`)").arg(path);
        return QStringLiteral("no controller found at %1 (REDI_DEVICE): it cannot be opened "
                              "or is not a device with USB ID %2:%3")
            .arg(path)
            .arg(REDI_VENDOR_ID, 4, 16, QLatin1Char('0'))
            .arg(REDI_PRODUCT_ID, 4, 16, QLatin1Char('0'));
    }
    const std::optional<UnopenableNode> node = unopenableControllerNode();
    const bool otherIds = choice.vendorId != REDI_VENDOR_ID || choice.productId != REDI_PRODUCT_ID;
    if (!node || otherIds)
        return QStringLiteral("no controller found (%1); is the board connected?").arg(lookedFor);
    if (node->error == EACCES || node->error == EPERM) {
        return QStringLiteral("no controller found: %1 has the controller's USB IDs but this user "
                              "may not open it, a permission problem; install the udev rule %2 "
                              "and reconnect the board")
            .arg(node->path, QLatin1String(udevRulePath));
    }
    return QStringLiteral("no controller found: %1 has the controller's USB IDs but cannot be opened: %2")
        .arg(node->path, QString::fromLocal8Bit(std::strerror(node->error)));
}

void connectController(bool demo)
{
    if (demo) {
        setDemoMode(true);
        return;
    }
    if (!lookForController())
        throw CliFailure{ExitNoController, noControllerMessage()};
}
