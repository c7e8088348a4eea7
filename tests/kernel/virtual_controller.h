// The board controller as a real USB device inside the test VM: a configfs
// gadget on dummy_hcd whose one function is FunctionFS, served from a thread
// of the test process by the simulator's firmware model. usbcore enumerates
// it, usbhid and hidraw bind it, and the HID library reaches it through the
// same kernel path as a real board; the device descriptor's bcdDevice and
// serial string are what the host reads at plug-in.
//
// Whatever reaches the device is logged, one line per report, before it is
// answered (or, for a write, once its data has arrived):
//   set-feature <hex> ok|refused   a feature report sent to the device
//   get-feature <hex> ok           a feature report read back (hex "-" when refused)
//   get-input <hex> ok             the current input report read
//   output <hex> ok|refused        an output report written
// usbhid leaves out report ID 0 on the wire; the device puts it back in
// front, so the lines show the library's 33- and 13-byte buffers.
//
// Serial number: like a real firmware, the device serves its string
// descriptor from the number it holds, so a serial-number write shows in
// the next GET_DESCRIPTOR at once, while the host's copy taken at plug-in
// (HID_UNIQ) stays old until the next enumeration.
#pragma once

#include "firmware_model.h"

#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

class VirtualController
{
public:
    // `udc` picks dummy_hcd's device controller (the VM has two), `ids`
    // the USB IDs ("vvvv:pppp"); by default the controller's.
    explicit VirtualController(int udc = 0, QString ids = {});
    ~VirtualController() { stop(); }
    VirtualController(const VirtualController &) = delete;
    VirtualController &operator=(const VirtualController &) = delete;

    // Creates the gadget with `release` as bcdDevice and the firmware's serial
    // number, plugs it in and waits for its hidraw node. False, with the
    // reason in `error`, when it did not come up.
    bool start(const sim::FirmwareModel &firmware, std::uint16_t release, QString &error);
    void stop();
    // Unplugs the device and plugs it in again (a new enumeration and a new
    // hidraw node); false, with the reason, when it did not come back.
    bool replug(QString &error);
    // Unplugs the device (in = false) or plugs it in again.
    bool plug(bool in, QString &error);
    QString hidrawPath() const { return m_node; }
    // The firmware, for changes between exchanges (the serving thread reads it under the lock).
    template <typename F>
    void changeFirmware(F change)
    {
        std::string serial;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            change(m_firmware);
            serial = m_firmware.serial;
        }
        serveSerial(serial);
    }

    // The log lines since the last call. Output reports reach the device
    // after the writer has returned, so this waits up to `timeoutMs` for at
    // least `atLeast` lines.
    QStringList takeLines(int atLeast = 0, int timeoutMs = 3000);

private:
    void serve();
    void answerSetup(const std::uint8_t *setup);
    void serveSerial(const std::string &serial);
    void log(const char *kind, const std::uint8_t *data, std::size_t size, bool ok);

    QString m_gadget, m_udc, m_ids, m_mount;
    sim::FirmwareModel m_firmware; // guarded by m_mutex
    std::string m_servedSerial;    // in the gadget's string descriptor
    int m_ep0 = -1;
    QString m_node;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex; // guards m_firmware, m_lines, m_pendingReply
    QStringList m_lines;
    std::optional<std::array<std::uint8_t, sim::ReportSize>> m_pendingReply; // a get's, until it is read
};

// Waits until a program started with VNK_PAUSE_FILE=`pauseFile` holds
// between two exchanges (exchange_pause.cpp), re-plugs `device` and lets the
// program go on.
bool replugAtPause(VirtualController &device, const QString &pauseFile, QString &error);

// LD_PRELOAD's value for `libraries`; a sanitized build needs its runtime
// loaded ahead of them, the one this process runs with.
QString preloadList(QStringList libraries);

// The log line of a report of `size` bytes that starts with `hex` and is
// zero after it.
QString deviceLine(const char *kind, const QString &hex, const char *verdict = "ok", int size = sim::ReportSize);
// A feature request as hex: direction, target, length, index, 0, then the
// value's `length` bytes, low byte first.
QString requestHex(int direction, int target, int length, int index, unsigned value = 0);
// `length` bytes of `value`, low byte first, as hex.
QString valueHex(unsigned value, int length);
