#include "virtual_controller.h"

#include "redi_device_ids.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <dlfcn.h>
#include <endian.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

// One application collection on a vendor-defined page, no report IDs: a
// 32-byte input report, a 12-byte output report and a 32-byte feature report.
constexpr std::uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, // usage page 0xFF00, usage 1, application collection
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, // bytes: logical 0 to 255, 8 bits each
    0x95, 0x20, 0x09, 0x02, 0x81, 0x02,       // 32 of usage 2: input
    0x95, 0x0C, 0x09, 0x03, 0x91, 0x02,       // 12 of usage 3: output
    0x95, 0x20, 0x09, 0x04, 0xB1, 0x02,       // 32 of usage 4: feature
    0xC0,                                     // end of the collection
};

// A HID interface, its HID class descriptor (HID 1.11, one report
// descriptor) and its interrupt-IN endpoint, as one speed lists them.
struct __attribute__((packed)) SpeedDescriptors {
    usb_interface_descriptor interface{USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 1, USB_CLASS_HID, 0, 0, 0};
    std::uint8_t hid[9] = {9, 0x21, 0x11, 0x01, 0, 1, 0x22, sizeof kReportDescriptor, 0};
    usb_endpoint_descriptor_no_audio endpoint;
};

struct __attribute__((packed)) Descriptors {
    usb_functionfs_descs_head_v2 header;
    std::uint32_t fsCount, hsCount;
    SpeedDescriptors fs, hs;
};

Descriptors descriptors()
{
    Descriptors d{};
    d.header = {htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2), htole32(sizeof d),
                htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC)};
    d.fsCount = d.hsCount = htole32(3);
    // Interval in frames at full speed, as 2^(n-1) microframes at high speed.
    d.fs.endpoint = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, USB_DIR_IN | 1, USB_ENDPOINT_XFER_INT, htole16(32), 10};
    d.hs.endpoint = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, USB_DIR_IN | 1, USB_ENDPOINT_XFER_INT, htole16(32), 7};
    return d;
}

// No string descriptors of the function's own.
const usb_functionfs_strings_head kStrings = {htole32(FUNCTIONFS_STRINGS_MAGIC), htole32(sizeof kStrings), 0, 0};

bool writeFile(const QString &path, const QByteArray &text, QString &error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    if (!ok)
        error = QStringLiteral("cannot write %1 to %2: %3").arg(QString::fromLatin1(text), path, std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// The hidraw node of a HID device with `hidId` ("0003:0000VVVV:0000PPPP")
// other than `except`, once the kernel has added it; empty after 10 s.
// The hidraw node with `hidId` under the USB host `host` (dummy_hcd.N, the
// host side of device controller dummy_udc.N), other than `except`.
QString waitForHidrawNode(const QByteArray &hidId, const QString &host, const QString &except)
{
    QElapsedTimer clock;
    clock.start();
    do {
        for (const QString &node : QDir("/sys/class/hidraw").entryList({"hidraw*"}, QDir::AllEntries | QDir::System)) {
            QFile uevent("/sys/class/hidraw/" + node + "/device/uevent");
            const QByteArray text = uevent.open(QIODevice::ReadOnly) ? uevent.readAll() : QByteArray();
            const bool ours = QFileInfo("/sys/class/hidraw/" + node).canonicalFilePath().contains("/" + host + "/");
            if (ours && "/dev/" + node != except && text.contains("HID_ID=" + hidId + "\n")
                && QFile::exists("/dev/" + node))
                return "/dev/" + node;
        }
        QThread::msleep(10);
    } while (clock.elapsed() < 10000);
    return {};
}

} // namespace

VirtualController::VirtualController(int udc, QString ids)
    : m_udc(QStringLiteral("dummy_udc.%1").arg(udc)),
      m_ids(ids.isEmpty() ? QString::asprintf("%04x:%04x", REDI_VENDOR_ID, REDI_PRODUCT_ID) : ids)
{
    // Unique in the VM: a gadget is not taken down when it stops, so a second
    // one on the same device controller needs names of its own.
    static int instances = 0;
    const QString name = QStringLiteral("vnk%1_%2_%3").arg(::getpid()).arg(udc).arg(instances++);
    m_gadget = "/sys/kernel/config/usb_gadget/" + name;
    m_mount = "/dev/ffs-" + name;
}

bool VirtualController::start(const sim::FirmwareModel &firmware, std::uint16_t release, QString &error)
{
    m_firmware = firmware;
    m_servedSerial = firmware.serial;
    const QDir gadget(m_gadget);
    const QString function = "functions/ffs." + m_mount.section('-', -1);
    if (!QDir().mkpath(m_gadget + "/strings/0x409") || !gadget.mkpath("configs/c.1") || !gadget.mkpath(function)) {
        error = "cannot create the gadget " + m_gadget + " (is configfs mounted, libcomposite loaded?)";
        return false;
    }
    const QList<std::pair<const char *, QByteArray>> attributes = {
        {"idVendor", "0x" + m_ids.left(4).toLatin1()},
        {"idProduct", "0x" + m_ids.mid(5).toLatin1()},
        {"bcdDevice", QString::asprintf("0x%04x", release).toLatin1()},
        {"bcdUSB", "0x0200"},
        {"strings/0x409/manufacturer", "VnKestrix tests"},
        {"strings/0x409/product", "VnKestrix virtual controller"},
        {"strings/0x409/serialnumber", QByteArray::fromStdString(firmware.serial)},
    };
    for (const auto &[name, value] : attributes)
        if (!writeFile(gadget.filePath(name), value, error))
            return false;
    const Descriptors d = descriptors();
    if (::symlink(QFile::encodeName(gadget.filePath(function)).constData(),
                  QFile::encodeName(gadget.filePath("configs/c.1/" + function.section('/', -1))).constData())
            != 0
        || !QDir().mkpath(m_mount)
        || ::mount(QFile::encodeName(m_mount.section('-', -1)).constData(), QFile::encodeName(m_mount).constData(),
                   "functionfs", 0, nullptr)
            != 0
        || (m_ep0 = ::open(QFile::encodeName(m_mount + "/ep0").constData(), O_RDWR | O_CLOEXEC)) < 0
        || ::write(m_ep0, &d, sizeof d) != sizeof d || ::write(m_ep0, &kStrings, sizeof kStrings) != sizeof kStrings) {
        error = QStringLiteral("cannot set up FunctionFS at %1: %2").arg(m_mount, std::strerror(errno));
        return false;
    }
    m_thread = std::thread(&VirtualController::serve, this);
    return plug(true, error);
}

bool VirtualController::plug(bool in, QString &error)
{
    const QString old = m_node;
    if (!writeFile(m_gadget + "/UDC", in ? m_udc.toLatin1() : QByteArray("\n"), error))
        return false;
    // Unplugged once the kernel has let the node go.
    for (int i = 0; !in && i < 1000 && !old.isEmpty() && QFile::exists("/sys/class/hidraw/" + old.mid(5)); ++i)
        QThread::msleep(10);
    if (!in) {
        m_node.clear();
        return true;
    }
    const QByteArray hidId = QByteArray("0003:0000") + m_ids.left(4).toUpper().toLatin1() + ":0000"
        + m_ids.mid(5).toUpper().toLatin1();
    m_node = waitForHidrawNode(hidId, QString(m_udc).replace("dummy_udc", "dummy_hcd"), old);
    if (m_node.isEmpty())
        error = QStringLiteral("no hidraw node appeared for the device");
    return !m_node.isEmpty();
}

bool VirtualController::replug(QString &error)
{
    return plug(false, error) && plug(true, error);
}

// Unplugs first: the host must not see the function vanish under it. The
// gadget's configfs entries stay; the VM ends with the run.
void VirtualController::stop()
{
    if (m_ep0 < 0)
        return;
    QString ignored;
    plug(false, ignored);
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_ep0);
    m_ep0 = -1;
}

QStringList VirtualController::takeLines(int atLeast, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_lines.size() >= atLeast || clock.elapsed() >= timeoutMs)
                return std::exchange(m_lines, {});
        }
        QThread::msleep(5);
    }
}

void VirtualController::serve()
{
    while (!m_stop) {
        pollfd ready{m_ep0, POLLIN, 0};
        usb_functionfs_event events[4];
        const ssize_t n = ::poll(&ready, 1, 100) > 0 ? ::read(m_ep0, events, sizeof events) : 0;
        for (ssize_t i = 0; i < n / ssize_t(sizeof events[0]); ++i)
            if (events[i].type == FUNCTIONFS_SETUP)
                answerSetup(reinterpret_cast<const std::uint8_t *>(&events[i].u.setup));
    }
}

// The HID class requests on the control pipe. A write's data arrives
// through read(ep0), a reply leaves through write(ep0); a transfer in the
// wrong direction stalls the request, which is how the device refuses one.
void VirtualController::answerSetup(const std::uint8_t *raw)
{
    usb_ctrlrequest setup;
    std::memcpy(&setup, raw, sizeof setup);
    const unsigned value = le16toh(setup.wValue), length = le16toh(setup.wLength);
    const unsigned reportType = value >> 8;
    const auto stall = [this, &setup] {
        std::uint8_t none = 0;
        return (setup.bRequestType & USB_DIR_IN) ? ::read(m_ep0, &none, 0) : ::write(m_ep0, &none, 0);
    };
    std::array<std::uint8_t, 64> report{}; // report ID 0 in front, then what the wire carries
    if (setup.bRequestType == 0x81 && setup.bRequest == USB_REQ_GET_DESCRIPTOR && reportType == 0x22) {
        ::write(m_ep0, kReportDescriptor, std::min<size_t>(length, sizeof kReportDescriptor));
    } else if (setup.bRequestType == 0x21 && setup.bRequest == 0x0A) { // SET_IDLE
        ::read(m_ep0, report.data(), 0);
    } else if (setup.bRequestType == 0x21 && setup.bRequest == 0x09) { // SET_REPORT
        const ssize_t n = ::read(m_ep0, report.data() + 1, std::min<size_t>(length, report.size() - 1));
        const std::size_t size = n < 0 ? 1 : std::size_t(n) + 1;
        bool ok = false;
        std::string serial;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const bool feature = reportType == 3 && size == sim::ReportSize;
            if (feature) {
                const int get = report[1]; // the firmware answers a get in place
                std::array<std::uint8_t, sim::ReportSize> reply;
                std::copy_n(report.begin(), reply.size(), reply.begin());
                ok = m_firmware.handleFeature(reply.data(), get);
                m_pendingReply.reset();
                if (ok && get == 1)
                    m_pendingReply = reply;
            } else if (reportType == 2) {
                ok = m_firmware.outputReport(report.data(), size);
            }
            serial = m_firmware.serial;
        }
        log(reportType == 3 ? "set-feature" : reportType == 2 ? "output" : "set-other", report.data(), size, ok);
        serveSerial(serial);
    } else if (setup.bRequestType == 0xA1 && setup.bRequest == 0x01) { // GET_REPORT
        const bool input = reportType == 1, feature = reportType == 3;
        bool ok = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ok = (value & 0xFF) == 0 && (input || (feature && m_pendingReply));
            if (ok && input)
                m_firmware.inputReport(report.data());
            else if (ok)
                std::copy(m_pendingReply->begin(), m_pendingReply->end(), report.begin());
            m_pendingReply.reset();
        }
        log(input ? "get-input" : feature ? "get-feature" : "get-other", report.data(), ok ? sim::ReportSize : 0, ok);
        if (ok)
            ::write(m_ep0, report.data() + 1, std::min<size_t>(length, sim::ReportSize - 1));
        else
            stall();
    } else {
        stall();
    }
}

// The string descriptor serves the number the firmware holds now.
void VirtualController::serveSerial(const std::string &serial)
{
    QString ignored;
    if (serial != std::exchange(m_servedSerial, serial))
        writeFile(m_gadget + "/strings/0x409/serialnumber", QByteArray::fromStdString(serial), ignored);
}

void VirtualController::log(const char *kind, const std::uint8_t *data, std::size_t size, bool ok)
{
    const QByteArray hex = size ? QByteArray(reinterpret_cast<const char *>(data), int(size)).toHex() : "-";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines << QStringLiteral("%1 %2 %3").arg(kind, hex, ok ? "ok" : "refused");
}

QString preloadList(QStringList libraries)
{
#if defined(__SANITIZE_ADDRESS__)
    Dl_info library{};
    if (dladdr(reinterpret_cast<void *>(&__asan_address_is_poisoned), &library) && library.dli_fname)
        libraries.prepend(QString::fromLocal8Bit(library.dli_fname));
#endif
    return libraries.join(QLatin1Char(':'));
}

bool replugAtPause(VirtualController &device, const QString &pauseFile, QString &error)
{
    for (int i = 0; i < 6000 && !QFile::exists(pauseFile + ".paused"); ++i)
        QThread::msleep(10);
    if (!QFile::exists(pauseFile + ".paused")) {
        error = QStringLiteral("the program never reached its pause");
        return false;
    }
    const bool ok = device.replug(error);
    QFile(pauseFile).open(QIODevice::WriteOnly);
    return ok;
}

QString deviceLine(const char *kind, const QString &hex, const char *verdict, int size)
{
    return QStringLiteral("%1 %2 %3").arg(kind, hex.leftJustified(2 * size, '0'), verdict);
}

QString requestHex(int direction, int target, int length, int index, unsigned value)
{
    return QString::asprintf("00%02x%02x%02x%02x00", direction, target, length, index) + valueHex(value, length);
}

QString valueHex(unsigned value, int length)
{
    QString hex;
    for (int i = 0; i < length; ++i)
        hex += QString::asprintf("%02x", (value >> (8 * i)) & 0xFF);
    return hex;
}
