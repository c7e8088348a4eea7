// The board controller as a real USB device inside the test VM: a configfs
// gadget on dummy_hcd whose one function is FunctionFS, answered from a
// thread of the test process by the simulator's firmware model. usbcore
// enumerates it, usbhid and hidraw bind it, so the HID library reaches it
// through the same kernel path as a real board. bcdDevice and the serial
// string are what the host reads at plug-in; like a real firmware, the
// device serves its serial string from the number it holds now, while the
// host's copy (HID_UNIQ) stays as it was at plug-in.
//
// Like the firmware, the device samples its input lines and sends input
// reports on its interrupt-IN endpoint (FunctionFS ep1) as the report mode
// and the sample rate say; usbhid polls the endpoint while a hidraw node is
// open and hidraw hands each report to every open descriptor. The endpoint
// holds one report at a time: one that the host has not taken by the next
// report is replaced, as a firmware's endpoint buffer would be.
//
// Every report that reaches the device is logged, one line each, as
// "<kind> <hex> ok|refused" (kind: set-feature, get-feature, get-input,
// output). usbhid leaves report ID 0 out on the wire; the device puts it
// back, so the hex is the library's buffer, trailing zero bytes left off
// ("-" when nothing was sent back). A refused get is a stalled transfer;
// a set cannot be refused on the wire, its data is taken first.
#pragma once

#include "firmware_model.h"
#include "redi_device_ids.h"

#include <QDir>
#include <QStringList>
#include <QThread>

#include <linux/usb/functionfs.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

class VirtualController
{
public:
    // On dummy_hcd's device controller `udc`, with these USB IDs.
    explicit VirtualController(int udc = 0, unsigned vendor = REDI_VENDOR_ID, unsigned product = REDI_PRODUCT_ID)
        : m_udc(QByteArray("dummy_udc.") + QByteArray::number(udc)), m_vendor(vendor), m_product(product),
          m_name(QStringLiteral("vnk%1_%2").arg(::getpid()).arg(udc)), m_gadget("/sys/kernel/config/usb_gadget/" + m_name)
    {
    }
    // Unplugged first: the host must not see the function vanish under it.
    ~VirtualController()
    {
        QString ignored;
        if (!m_thread.joinable())
            return;
        plug(false, ignored); // a report the host never took fails now
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_sampled.notify_all();
        m_thread.join();
        m_reporter.join();
        ::close(m_ep1);
    }

    // Builds the gadget with `release` as bcdDevice, plugs it in and waits for its hidraw node.
    bool start(const sim::FirmwareModel &firmware, std::uint16_t release, QString &error)
    {
        m_firmware = firmware;
        const QString function = m_gadget + "/functions/ffs." + m_name, mount = "/dev/ffs-" + m_name;
        const bool ok = QDir().mkpath(m_gadget + "/strings/0x409") && QDir().mkpath(m_gadget + "/configs/c.1")
            && QDir().mkpath(function) && put(m_gadget + "/idVendor", QByteArray::number(m_vendor))
            && put(m_gadget + "/idProduct", QByteArray::number(m_product))
            && put(m_gadget + "/bcdDevice", QByteArray::number(release)) && serveSerial()
            && QFile::link(function, m_gadget + "/configs/c.1/ffs." + m_name) && QDir().mkpath(mount)
            && ::mount(qPrintable(m_name), qPrintable(mount), "functionfs", 0, nullptr) == 0
            && (m_ep0 = ::open(qPrintable(mount + "/ep0"), O_RDWR | O_CLOEXEC)) >= 0
            && ::write(m_ep0, kDescriptors, kStringsAt) == kStringsAt
            && ::write(m_ep0, kDescriptors + kStringsAt, sizeof kDescriptors - kStringsAt) == 16
            // Without O_NONBLOCK a write would wait for the endpoint while the device is unplugged.
            && (m_ep1 = ::open(qPrintable(mount + "/ep1"), O_WRONLY | O_CLOEXEC | O_NONBLOCK)) >= 0;
        if (!ok) {
            error = "cannot set up the gadget " + m_gadget + ": " + std::strerror(errno);
            return false;
        }
        m_thread = std::thread([this] { serve(); });
        m_reporter = std::thread([this] { sendInputReports(); });
        return plug(true, error);
    }

    // in = false unplugs the device (and waits for its node to go), true
    // plugs it in again: a new enumeration and a new hidraw node.
    bool plug(bool in, QString &error)
    {
        const QString old = m_node.isEmpty() ? QString() : "/sys/class/hidraw/" + m_node.mid(5);
        const bool written = put(m_gadget + "/UDC", in ? m_udc : "\n");
        m_node.clear();
        for (int i = 0; written && i < 1000 && (in ? m_node.isEmpty() : QFile::exists(old)); ++i) {
            QThread::msleep(10);
            const auto nodes = QDir("/sys/class/hidraw").entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
            for (const QFileInfo &n : nodes)
                if (in && n.canonicalFilePath().contains(QString(m_udc).replace("udc", "hcd") + '/')
                    && QFile::exists("/dev/" + n.fileName()))
                    m_node = "/dev/" + n.fileName();
        }
        if (in && m_node.isEmpty())
            error = written ? "no hidraw node appeared for the device" : "cannot write the gadget's UDC";
        return written && (!in || !m_node.isEmpty());
    }
    bool replug(QString &error) { return plug(false, error) && plug(true, error); }
    QString hidrawPath() const { return m_node; }

    // Changes the firmware between exchanges.
    template <typename F>
    void change(F change)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            change(m_firmware);
            serveSerial();
        }
        m_sampled.notify_all(); // a new sample rate counts from now
    }

    // How many GET_REPORT and SET_REPORT requests reached the device, and how
    // many input reports the host took from its interrupt-IN endpoint.
    unsigned reportTransfers() const { return m_reportTransfers; }
    unsigned inputReportsSent() const { return m_inputReportsSent; }

    // The log lines since the last call. An output report reaches the device
    // after its writer has returned: this waits up to 3 s for `atLeast` lines.
    QStringList takeLines(int atLeast = 0)
    {
        for (int i = 0;; ++i, QThread::msleep(5)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_lines.size() >= atLeast || i == 600)
                return std::exchange(m_lines, {});
        }
    }

private:
    // No report IDs: a 32-byte input, a 12-byte output and a 32-byte feature
    // report on a vendor page.
    static constexpr std::uint8_t kReport[] = {
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x20, 0x09,
        0x02, 0x81, 0x02, 0x95, 0x0C, 0x09, 0x03, 0x91, 0x02, 0x95, 0x20, 0x09, 0x04, 0xB1, 0x02, 0xC0};
    // FunctionFS v2, little-endian: header (magic, length, full and high
    // speed), three descriptors at each speed (a HID interface, its HID 1.11
    // class descriptor naming the report descriptor, an interrupt-IN
    // endpoint polled every 10 frames or 2^6 microframes); then the strings
    // header: none of the function's own.
    static constexpr int kStringsAt = 70;
    static constexpr std::uint8_t kDescriptors[] = {
        3, 0, 0, 0, 70, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0,
        9, 4, 0, 0, 1, 3, 0, 0, 0, 9, 0x21, 0x11, 1, 0, 1, 0x22, sizeof kReport, 0, 7, 5, 0x81, 3, 32, 0, 10,
        9, 4, 0, 0, 1, 3, 0, 0, 0, 9, 0x21, 0x11, 1, 0, 1, 0x22, sizeof kReport, 0, 7, 5, 0x81, 3, 32, 0, 7,
        2, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

    static bool put(const QString &path, const QByteArray &text)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(text) == text.size();
    }

    void serve()
    {
        usb_functionfs_event events[4];
        for (pollfd ready{m_ep0, POLLIN, 0}; !m_stop;) {
            const ssize_t n = ::poll(&ready, 1, 100) > 0 ? ::read(m_ep0, events, sizeof events) : 0;
            for (ssize_t i = 0; i < n / ssize_t(sizeof *events); ++i)
                if (events[i].type == FUNCTIONFS_SETUP)
                    answer(events[i].u.setup);
        }
    }

    // A SET_REPORT's data arrives through read(ep0), a reply leaves through
    // write(ep0); a transfer in the wrong direction stalls the request.
    void answer(const usb_ctrlrequest &setup)
    {
        // A transfer that fails stalls the request, which the host sees: the
        // counts themselves are nothing to this side.
        const auto transferred = [](ssize_t) {};
        const unsigned type = setup.wValue >> 8, length = setup.wLength; // the VM is little-endian
        std::uint8_t r[64] = {}, reply[64]; // report ID 0, then what the wire carries
        std::lock_guard<std::mutex> lock(m_mutex);
        if (setup.bRequestType == 0x81 && setup.bRequest == USB_REQ_GET_DESCRIPTOR && type == 0x22) {
            transferred(::write(m_ep0, kReport, std::min<size_t>(length, sizeof kReport)));
        } else if (setup.bRequestType == 0x21 && setup.bRequest == 0x09) { // SET_REPORT
            ++m_reportTransfers;
            const std::size_t size = std::max<ssize_t>(::read(m_ep0, r + 1, std::min(length, 63u)), 0) + 1;
            std::memcpy(reply, r, sizeof r);
            const bool ok = type == 2 ? m_firmware.outputReport(r, size)
                                      : type == 3 && size == sim::ReportSize && m_firmware.handleFeature(reply, r[1]);
            m_reply = ok && type == 3 && r[1] == 1 ? QByteArray(reinterpret_cast<char *>(reply), sim::ReportSize) : "";
            log(type == 2 ? "output" : "set-feature", r, size, ok);
            serveSerial();
        } else if (setup.bRequestType == 0xA1 && setup.bRequest == 0x01) { // GET_REPORT
            ++m_reportTransfers;
            const bool ok = (setup.wValue & 0xFF) == 0 && (type == 1 || (type == 3 && !m_reply.isEmpty()));
            if (ok && type == 1)
                m_firmware.inputReport(r);
            else if (ok)
                std::memcpy(r, m_reply.constData(), sim::ReportSize);
            m_reply.clear();
            log(type == 1 ? "get-input" : "get-feature", r, ok ? sim::ReportSize : 0, ok);
            transferred(ok ? ::write(m_ep0, r + 1, std::min<size_t>(length, sim::ReportSize - 1)) : ::read(m_ep0, r, 0));
        } else { // SET_IDLE among them
            transferred((setup.bRequestType & USB_DIR_IN) ? ::read(m_ep0, r, 0) : ::write(m_ep0, r, 0));
        }
    }

    // The firmware's sampling loop on the real clock. A write to the endpoint
    // waits until the host takes the report (or the device is unplugged);
    // the samplings due meanwhile then leave only their last report to send.
    void sendInputReports()
    {
        using namespace std::chrono;
        const auto now = [] { return std::uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count()); };
        std::vector<sim::InputReport> due;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_firmware.startSampling(now());
        while (!m_stop) {
            m_firmware.sampleUntil(now(), due);
            if (due.empty()) {
                m_sampled.wait_until(lock, steady_clock::time_point(milliseconds(m_firmware.nextSamplingMs())));
                continue;
            }
            const sim::InputReport report = due.back();
            due.clear();
            lock.unlock();
            // Not plugged in or not configured yet: the report waits for the host.
            ssize_t written = ::write(m_ep1, report.data() + 1, sim::ReportSize - 1);
            for (; written < 0 && errno == EAGAIN && !m_stop; written = ::write(m_ep1, report.data() + 1, sim::ReportSize - 1))
                std::this_thread::sleep_for(milliseconds(10));
            m_inputReportsSent += written == ssize_t(sim::ReportSize - 1);
            lock.lock();
        }
    }

    // Under m_mutex: the serial string tells the number the firmware holds.
    bool serveSerial()
    {
        return put(m_gadget + "/strings/0x409/serialnumber", QByteArray::fromStdString(m_firmware.serial));
    }

    void log(const char *kind, const std::uint8_t *data, std::size_t size, bool ok)
    {
        while (size && !data[size - 1])
            --size;
        const QByteArray hex = size ? QByteArray(reinterpret_cast<const char *>(data), int(size)).toHex() : "-";
        m_lines << QStringLiteral("%1 %2 %3").arg(kind, hex, ok ? "ok" : "refused");
    }

    QByteArray m_udc;
    unsigned m_vendor, m_product;
    QString m_name, m_gadget, m_node;
    std::mutex m_mutex; // guards the three below, and m_stop's change
    std::condition_variable m_sampled; // the reporter's wait for its next sampling
    sim::FirmwareModel m_firmware;
    QStringList m_lines;
    QByteArray m_reply; // a get's, until it is read
    int m_ep0 = -1, m_ep1 = -1;
    std::thread m_thread, m_reporter;
    std::atomic<bool> m_stop{false};
    std::atomic<unsigned> m_reportTransfers{0}, m_inputReportsSent{0};
};
