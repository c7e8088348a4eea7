#include "uhid_controller.h"

#include "redi_device_ids.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace kernel_test {

namespace {

// One application collection on a vendor-defined page, no report IDs:
// a 32-byte input report, a 12-byte output report and a 32-byte feature
// report. With the report-ID byte the host sees 33, 13 and 33 bytes.
constexpr std::uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF, // Usage Page (vendor defined 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x20,       //   Report Count (32)
    0x09, 0x02,       //   Usage (2)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x95, 0x0C,       //   Report Count (12)
    0x09, 0x03,       //   Usage (3)
    0x91, 0x02,       //   Output (Data, Variable, Absolute)
    0x95, 0x20,       //   Report Count (32)
    0x09, 0x04,       //   Usage (4)
    0xB1, 0x02,       //   Feature (Data, Variable, Absolute)
    0xC0,             // End Collection
};

const char *reportTypeName(std::uint8_t rtype)
{
    switch (rtype) {
    case UHID_FEATURE_REPORT:
        return "feature";
    case UHID_OUTPUT_REPORT:
        return "output";
    case UHID_INPUT_REPORT:
        return "input";
    }
    return "unknown";
}

void copyField(std::uint8_t *field, std::size_t size, const std::string &text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

UhidController::UhidController(sim::FirmwareModel &model, std::FILE *log)
    : model_(model), log_(log)
{
}

UhidController::~UhidController()
{
    if (fd_ < 0)
        return;
    uhid_event destroy{};
    destroy.type = UHID_DESTROY;
    send(destroy);
    ::close(fd_);
}

bool UhidController::create(const DeviceIdentity &identity, std::string &error)
{
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        error = std::string("cannot open /dev/uhid: ") + std::strerror(errno);
        return false;
    }
    name_ = identity.name;
    uniq_ = model_.serial();

    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req &req = event.u.create2;
    copyField(req.name, sizeof req.name, name_);
    copyField(req.phys, sizeof req.phys, "vnkestrix-kernel-test");
    copyField(req.uniq, sizeof req.uniq, uniq_);
    req.rd_size = sizeof kReportDescriptor;
    std::memcpy(req.rd_data, kReportDescriptor, sizeof kReportDescriptor);
    req.bus = identity.bus;
    req.vendor = REDI_VENDOR_ID;
    req.product = REDI_PRODUCT_ID;
    req.version = identity.version;
    if (::write(fd_, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
        error = std::string("UHID_CREATE2 failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

std::string UhidController::waitForHidrawNode(int timeoutMs) const
{
    // The kernel adds the device from a work queue, so the node comes a
    // little after UHID_CREATE2 returns. Ours is the one whose HID device
    // carries our name and uniq.
    const std::string wantName = "HID_NAME=" + name_ + "\n";
    const std::string wantUniq = "HID_UNIQ=" + uniq_ + "\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (DIR *dir = ::opendir("/sys/class/hidraw")) {
            std::string found;
            while (const dirent *entry = ::readdir(dir)) {
                const std::string node = entry->d_name;
                if (node.rfind("hidraw", 0) != 0)
                    continue;
                const std::string uevent = readFile("/sys/class/hidraw/" + node + "/device/uevent");
                if (uevent.find(wantName) != std::string::npos
                    && uevent.find(wantUniq) != std::string::npos
                    && ::access(("/dev/" + node).c_str(), F_OK) == 0)
                    found = "/dev/" + node;
            }
            ::closedir(dir);
            if (!found.empty())
                return found;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return {};
}

bool UhidController::serveOne(int timeoutMs)
{
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready < 0)
        return errno == EINTR;
    if (ready == 0)
        return true;

    uhid_event event{};
    const ssize_t n = ::read(fd_, &event, sizeof event);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    switch (event.type) {
    case UHID_SET_REPORT:
        onSetReport(event.u.set_report);
        break;
    case UHID_GET_REPORT:
        onGetReport(event.u.get_report);
        break;
    case UHID_OUTPUT:
        onOutput(event.u.output);
        break;
    default: // start, stop, open, close: nothing to answer
        break;
    }
    return true;
}

// A feature report is either a request the firmware carries out at once (a
// set, an action, the serial number) or a get request, whose reply waits for
// the read that follows. The kernel hands the data over with the report-ID
// byte in front, which is where the firmware expects byte 0.
void UhidController::onSetReport(const uhid_set_report_req &request)
{
    uhid_event reply{};
    reply.type = UHID_SET_REPORT_REPLY;
    reply.u.set_report_reply.id = request.id;

    bool ok = false;
    if (request.rtype == UHID_FEATURE_REPORT && request.size == sim::ReportSize) {
        std::array<std::uint8_t, sim::ReportSize> report{};
        std::memcpy(report.data(), request.data, report.size());
        pendingReply_.reset();
        if (report[1] == 1) {
            ok = model_.handleFeatureGet(report.data());
            if (ok)
                pendingReply_ = report;
        } else {
            ok = model_.handleFeatureSet(report.data());
        }
    }
    logLine((std::string("set-") + reportTypeName(request.rtype)).c_str(), request.data,
            std::min<std::size_t>(request.size, UHID_DATA_MAX), ok);
    reply.u.set_report_reply.err = ok ? 0 : EIO;
    send(reply);
}

// The reply must start with the report-ID byte: the kernel copies it to the
// caller's buffer as given.
void UhidController::onGetReport(const uhid_get_report_req &request)
{
    uhid_event reply{};
    reply.type = UHID_GET_REPORT_REPLY;
    reply.u.get_report_reply.id = request.id;
    std::uint8_t *data = reply.u.get_report_reply.data;

    bool ok = false;
    if (request.rtype == UHID_FEATURE_REPORT && request.rnum == 0 && pendingReply_) {
        std::memcpy(data, pendingReply_->data(), sim::ReportSize);
        pendingReply_.reset();
        ok = true;
    } else if (request.rtype == UHID_INPUT_REPORT && request.rnum == 0) {
        ok = model_.inputReport(data);
    }
    const std::size_t size = ok ? sim::ReportSize : 0;
    logLine((std::string("get-") + reportTypeName(request.rtype)).c_str(), data, size, ok);
    reply.u.get_report_reply.err = ok ? 0 : EIO;
    reply.u.get_report_reply.size = static_cast<std::uint16_t>(size);
    send(reply);
}

// Output reports get no answer: the writer has already returned.
void UhidController::onOutput(const uhid_output_req &output)
{
    const std::size_t size = std::min<std::size_t>(output.size, UHID_DATA_MAX);
    const bool ok = output.rtype == UHID_OUTPUT_REPORT && model_.outputReport(output.data, size);
    logLine("output", output.data, size, ok);
}

void UhidController::send(const uhid_event &event)
{
    // A reply the kernel no longer waits for (it gave up after its time-out)
    // is refused with EINVAL; nothing else can be done about it.
    [[maybe_unused]] const ssize_t n = ::write(fd_, &event, sizeof event);
}

void UhidController::logLine(const char *kind, const std::uint8_t *data, std::size_t size, bool ok)
{
    std::fprintf(log_, "%s", kind);
    if (size == 0)
        std::fprintf(log_, " -");
    for (std::size_t i = 0; i < size; ++i)
        std::fprintf(log_, " %02x", data[i]);
    std::fprintf(log_, " %s\n", ok ? "ok" : "refused");
    std::fflush(log_);
}

} // namespace kernel_test
