#include "virtual_controller.h"

#include "redi_device_ids.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <linux/uhid.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
const char *const kName = "VnKestrix virtual controller";

// The kernel adds the device from a work queue, so its node comes a little
// after the create request returns. Ours is the one with our name and uniq.
QString waitForHidrawNode(const std::string &uniq)
{
    const QByteArray name = QByteArray("HID_NAME=") + kName + "\n", unique = "HID_UNIQ=" + QByteArray(uniq.c_str()) + "\n";
    QElapsedTimer clock;
    clock.start();
    do {
        for (const QString &node : QDir("/sys/class/hidraw").entryList({"hidraw*"}, QDir::AllEntries | QDir::System)) {
            QFile uevent("/sys/class/hidraw/" + node + "/device/uevent");
            const QByteArray text = uevent.open(QIODevice::ReadOnly) ? uevent.readAll() : QByteArray();
            if (text.contains(name) && text.contains(unique) && QFile::exists("/dev/" + node))
                return "/dev/" + node;
        }
        QThread::msleep(10);
    } while (clock.elapsed() < 10000);
    return {};
}

} // namespace

bool VirtualController::start(const sim::FirmwareModel &firmware, std::uint16_t release, QString &error)
{
    m_firmware = firmware;
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req &create = event.u.create2;
    std::strncpy(reinterpret_cast<char *>(create.name), kName, sizeof create.name - 1);
    std::strncpy(reinterpret_cast<char *>(create.uniq), firmware.serial.c_str(), sizeof create.uniq - 1);
    create.rd_size = sizeof kReportDescriptor;
    std::memcpy(create.rd_data, kReportDescriptor, sizeof kReportDescriptor);
    create.bus = 0x03; // USB
    create.vendor = REDI_VENDOR_ID;
    create.product = REDI_PRODUCT_ID;
    create.version = release;
    m_fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (m_fd < 0 || ::write(m_fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
        error = QStringLiteral("cannot create the device through /dev/uhid: %1").arg(std::strerror(errno));
        return false;
    }
    m_thread = std::thread(&VirtualController::serve, this);
    m_node = waitForHidrawNode(firmware.serial);
    if (m_node.isEmpty())
        error = QStringLiteral("no hidraw node appeared for the device");
    return !m_node.isEmpty();
}

// Closing /dev/uhid destroys the device.
void VirtualController::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
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
        pollfd ready{m_fd, POLLIN, 0};
        uhid_event event{};
        if (::poll(&ready, 1, 100) > 0 && ::read(m_fd, &event, sizeof event) > 0)
            answer(event);
    }
}

// A feature report is either a request the firmware carries out at once or a
// get request, whose reply waits for the read that follows.
void VirtualController::answer(const uhid_event &event)
{
    if (event.type == UHID_OUTPUT) { // no answer: the writer has already returned
        const std::size_t size = std::min<std::size_t>(event.u.output.size, UHID_DATA_MAX);
        log("output", event.u.output.data, size,
            event.u.output.rtype == UHID_OUTPUT_REPORT && m_firmware.outputReport(event.u.output.data, size));
        return;
    }
    uhid_event reply{};
    if (event.type == UHID_SET_REPORT) {
        const uhid_set_report_req &request = event.u.set_report;
        std::array<std::uint8_t, sim::ReportSize> report{};
        const bool feature = request.rtype == UHID_FEATURE_REPORT && request.size == report.size();
        std::memcpy(report.data(), request.data, feature ? report.size() : 0);
        const int get = report[1]; // the firmware answers a get in place
        const bool ok = feature && m_firmware.handleFeature(report.data(), get);
        m_pendingReply.reset();
        if (ok && get == 1)
            m_pendingReply = report;
        log(feature ? "set-feature" : "set-other", request.data, std::min<std::size_t>(request.size, UHID_DATA_MAX), ok);
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = request.id;
        reply.u.set_report_reply.err = ok ? 0 : EIO;
    } else if (event.type == UHID_GET_REPORT) {
        const uhid_get_report_req &request = event.u.get_report;
        std::uint8_t *data = reply.u.get_report_reply.data;
        const bool input = request.rtype == UHID_INPUT_REPORT, feature = request.rtype == UHID_FEATURE_REPORT;
        const bool ok = request.rnum == 0 && (input || (feature && m_pendingReply));
        if (ok && input)
            m_firmware.inputReport(data);
        else if (ok)
            std::memcpy(data, m_pendingReply->data(), sim::ReportSize);
        m_pendingReply.reset();
        log(input ? "get-input" : feature ? "get-feature" : "get-other", data, ok ? sim::ReportSize : 0, ok);
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = request.id;
        reply.u.get_report_reply.err = ok ? 0 : EIO;
        reply.u.get_report_reply.size = ok ? sim::ReportSize : 0;
    } else { // start, stop, open, close: nothing to answer
        return;
    }
    // A reply the kernel no longer waits for (it gave up after its time-out)
    // is refused; nothing can be done about that here.
    [[maybe_unused]] const ssize_t written = ::write(m_fd, &reply, sizeof reply);
}

void VirtualController::log(const char *kind, const std::uint8_t *data, std::size_t size, bool ok)
{
    const QByteArray hex = size ? QByteArray(reinterpret_cast<const char *>(data), int(size)).toHex() : "-";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines << QStringLiteral("%1 %2 %3").arg(kind, hex, ok ? "ok" : "refused");
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
