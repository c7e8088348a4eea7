// The board controller as a virtual USB HID device: the simulator's firmware
// model answering the kernel through /dev/uhid. Whatever the HID library sends
// through hidraw arrives here exactly as the kernel passes it on, so the log
// this device writes is the ground truth of the bytes on the wire.
//
// Log format, one line per report, written before the kernel gets the answer:
//   set-feature <33 bytes hex> ok|refused    a feature report sent to the device
//   get-feature <reply hex> ok | - refused   a feature report read back
//   get-input <33 bytes hex> ok              the current input report read
//   output <bytes hex> ok|refused            an output report written
// Reports of other types are logged as set-<type>/get-<type> and refused.
#pragma once

#include "firmware_model.h"

#include <linux/uhid.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace kernel_test {

struct DeviceIdentity {
    std::string name = "VnKestrix virtual controller";
    std::uint16_t bus = 0x03;        // BUS_USB
    std::uint16_t version = 0x0100;  // the release number the device announces (BCD)
};

class UhidController {
public:
    // `model` and `log` must outlive the controller.
    UhidController(sim::FirmwareModel &model, std::FILE *log);
    ~UhidController();
    UhidController(const UhidController &) = delete;
    UhidController &operator=(const UhidController &) = delete;

    // Opens /dev/uhid and creates the device; its uniq string is the model's
    // serial number. On failure `error` says why.
    bool create(const DeviceIdentity &identity, std::string &error);

    // Waits for the hidraw node the kernel makes for this device and returns
    // its path ("/dev/hidrawN"), or an empty string after `timeoutMs`.
    std::string waitForHidrawNode(int timeoutMs) const;

    // Answers the kernel's next event, waiting at most `timeoutMs` for it.
    // False when /dev/uhid failed; a wait that ends without an event is fine.
    bool serveOne(int timeoutMs);

private:
    void onSetReport(const uhid_set_report_req &request);
    void onGetReport(const uhid_get_report_req &request);
    void onOutput(const uhid_output_req &output);
    void send(const uhid_event &event);
    void logLine(const char *kind, const std::uint8_t *data, std::size_t size, bool ok);

    sim::FirmwareModel &model_;
    std::FILE *log_;
    int fd_ = -1;
    std::string name_;
    std::string uniq_;
    // The reply to the get request most recently sent, waiting for the read.
    std::optional<std::array<std::uint8_t, sim::ReportSize>> pendingReply_;
};

} // namespace kernel_test
