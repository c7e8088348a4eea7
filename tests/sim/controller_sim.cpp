// The four library calls over the process-wide simulator, failure injection
// and the call log.
#include "sim_core.h"

#include <redi.h>

#include <algorithm>
#include <cstring>

namespace sim {

Simulator &simulator()
{
    static Simulator s;
    return s;
}

namespace {

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::uint8_t b : bytes)
        s += {digits[b >> 4], digits[b & 0xF]};
    return s;
}

std::string logName(const char *name) { return !name ? "(null)" : !*name ? "\"\"" : detail::escape(name); }

// The device name must be ours, and the controller present.
bool ours(const char *name) { return name && simulator().device == name && !simulator().absent; }

// Injection comes before any check, so that a rule fails even a call that
// would have been rejected. A rule fails one call.
bool injected(Function f, const unsigned char *request)
{
    std::vector<FailRule> &rules = simulator().failRules;
    for (auto rule = rules.begin(); rule != rules.end(); ++rule) {
        bool match = rule->function == f;
        for (std::size_t i = 0; i < 4 && match; ++i)
            match = rule->pattern[i] < 0 || (request && request[i + 1] == rule->pattern[i]);
        if (match) {
            rules.erase(rule);
            return true;
        }
    }
    return false;
}

// Every call starts here: the drop-in reads its configuration at the first.
Call begin(Function function, std::string device, std::string arguments)
{
    detail::beforeCall();
    Call call;
    call.function = function;
    call.device = std::move(device);
    call.arguments = std::move(arguments);
    return call;
}

int finish(Call &call, Result result)
{
    call.result = result;
    simulator().log.push_back(call);
    detail::afterCall(call);
    return result == Result::Ok ? 1 : 0;
}

} // namespace

std::string Call::line() const
{
    static const char *const functions[] = {"Usk_FindSensor_a", "Usk_Feature_a", "Usk_GetCurrentInReport_a",
                                            "Usk_SendOutReport_a"};
    static const char *const results[] = {"ok", "rejected", "injected"};
    std::string s = std::string(functions[int(function)]) + ' ' + device + ' ' + arguments + ' ' + results[int(result)];
    if (!request.empty())
        s += " req=" + hex(request);
    if (!reply.empty())
        s += " reply=" + hex(reply);
    return s;
}

std::string detail::escape(const std::string &s)
{
    std::string out;
    for (unsigned char c : s)
        out += c < 0x21 || c > 0x7E || c == '\\' ? "\\x" + hex({c}) : std::string(1, char(c));
    return out;
}

} // namespace sim

using namespace sim;

extern "C" {

int Usk_FindSensor_a(int selector, int reserved1, int reserved2, int reserved3, int reserved4, int reserved5,
                     int reserved6, RediDeviceRecord *record)
{
    Call call = begin(Function::FindSensor, "-", "sel=" + std::to_string(selector) + " args=");
    const char *separator = "";
    for (int r : {reserved1, reserved2, reserved3, reserved4, reserved5, reserved6}) {
        call.arguments += separator + std::to_string(r);
        separator = ",";
    }
    const Simulator &s = simulator();
    if (injected(Function::FindSensor, nullptr))
        return finish(call, Result::Injected);
    if (!record || selector != REDI_SELECT_BOARD_CONTROLLER || s.absent
        || (reserved1 | reserved2 | reserved3 | reserved4 | reserved5 | reserved6))
        return finish(call, Result::Rejected);

    std::memset(record, 0, sizeof *record);
    std::strncpy(record->deviceName, s.device.c_str(), sizeof record->deviceName - 1);
    record->releaseNumber[0] = static_cast<unsigned char>(s.release & 0xFF);
    record->releaseNumber[1] = static_cast<unsigned char>(s.release >> 8);
    std::strncpy(record->serialNumber, s.firmware.serial.c_str(), sizeof record->serialNumber - 1);
    record->flags = REDI_RECORD_SERIAL_LIVE; // the firmware's number as it is now
    return finish(call, Result::Ok);
}

int Usk_Feature_a(const char *deviceName, unsigned char *report, int get)
{
    Call call = begin(Function::Feature, logName(deviceName), "get=" + std::to_string(get));
    if (report)
        call.request.assign(report, report + ReportSize);
    if (injected(Function::Feature, report))
        return finish(call, Result::Injected);
    if (!ours(deviceName) || !simulator().firmware.handleFeature(report, get))
        return finish(call, Result::Rejected);
    if (get == 1)
        call.reply.assign(report, report + ReportSize);
    return finish(call, Result::Ok);
}

int Usk_GetCurrentInReport_a(const char *deviceName, unsigned char *report, int length)
{
    Call call = begin(Function::GetInReport, logName(deviceName), "len=" + std::to_string(length));
    if (injected(Function::GetInReport, nullptr))
        return finish(call, Result::Injected);
    if (!ours(deviceName) || !report || length != int(ReportSize))
        return finish(call, Result::Rejected);
    simulator().firmware.inputReport(report);
    call.reply.assign(report, report + ReportSize);
    return finish(call, Result::Ok);
}

int Usk_SendOutReport_a(const char *deviceName, unsigned char *report, int length, int timeoutMs)
{
    Call call = begin(Function::SendOutReport, logName(deviceName),
                      "len=" + std::to_string(length) + " timeout=" + std::to_string(timeoutMs));
    if (report && length > 0)
        call.request.assign(report, report + std::min(length, 64));
    if (injected(Function::SendOutReport, nullptr))
        return finish(call, Result::Injected);
    if (!ours(deviceName) || !simulator().firmware.outputReport(report, std::size_t(std::max(length, 0))))
        return finish(call, Result::Rejected);
    return finish(call, Result::Ok);
}

} // extern "C"
