// The board controller as a virtual USB HID device: the simulator's firmware
// model answering the kernel through /dev/uhid, from a thread of the test
// process. Whatever the HID library sends through hidraw arrives here as the
// kernel passes it on, so the device's log is the ground truth of the bytes
// on the wire. One line per report, logged before the kernel gets the answer:
//   set-feature <hex> ok|refused   a feature report sent to the device
//   get-feature <hex> ok           a feature report read back (hex "-" when refused)
//   get-input <hex> ok             the current input report read
//   output <hex> ok|refused        an output report written
// The kernel hands over SET_REPORT and OUTPUT data with the report-ID byte in
// front, and a GET_REPORT reply must start with it too: the 33 and 13 bytes of
// the library's buffers.
#pragma once

#include "firmware_model.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

struct uhid_event;

class VirtualController
{
public:
    VirtualController() = default;
    ~VirtualController() { stop(); }
    VirtualController(const VirtualController &) = delete;
    VirtualController &operator=(const VirtualController &) = delete;

    // Creates the device, with the firmware's serial number as its uniq
    // string, and waits for its hidraw node. False, with the reason in
    // `error`, when it did not come up.
    bool start(const sim::FirmwareModel &firmware, std::uint16_t release, QString &error);
    void stop();
    QString hidrawPath() const { return m_node; }

    // The log lines since the last call. Output reports reach the device
    // after the writer has returned, so this waits up to `timeoutMs` for at
    // least `atLeast` lines.
    QStringList takeLines(int atLeast = 0, int timeoutMs = 3000);

private:
    void serve();
    void answer(const uhid_event &event);
    void log(const char *kind, const std::uint8_t *data, std::size_t size, bool ok);

    sim::FirmwareModel m_firmware; // the serving thread's once started
    int m_fd = -1;
    QString m_node;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex; // guards m_lines
    QStringList m_lines;
    std::optional<std::array<std::uint8_t, sim::ReportSize>> m_pendingReply; // a get's, until it is read
};

// The log line of a report of `size` bytes that starts with `hex` and is
// zero after it.
QString deviceLine(const char *kind, const QString &hex, const char *verdict = "ok", int size = sim::ReportSize);
// A feature request as hex: direction, target, length, index, 0, then the
// value's `length` bytes, low byte first.
QString requestHex(int direction, int target, int length, int index, unsigned value = 0);
// `length` bytes of `value`, low byte first, as hex.
QString valueHex(unsigned value, int length);
