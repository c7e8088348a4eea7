// The four library calls and the wait for an input report over the
// process-wide simulator, failure injection,
// the call log and the text formats tests write: the state file and the
// failure rules. Formats: README.md.
#include "controller_sim.h"

#include <redi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace sim {

// Never destroyed: a call may still be running on another thread when the
// program ends (see dropin_hooks.cpp).
Simulator &simulator()
{
    static Simulator *const s = new Simulator;
    return *s;
}

namespace {

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    std::string s;
    for (std::uint8_t b : bytes)
        s += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0xF]};
    return s;
}

// A text as the log and the state file show it: bytes below 0x21, above 0x7E
// and the backslash as \xNN; a number in decimal.
std::string show(const std::string &s)
{
    std::string out;
    for (unsigned char c : s)
        out += c < 0x21 || c > 0x7E || c == '\\' ? "\\x" + hex({c}) : std::string(1, char(c));
    return out;
}
std::string show(unsigned long number) { return std::to_string(number); }

std::string logName(const char *name) { return !name ? "(null)" : !*name ? "\"\"" : show(name); }

thread_local std::string failure; // lastFailure()

// The device name must be ours, and the controller present.
bool ours(const char *name) { return name && simulator().device == name && !simulator().absent; }

// Every call: the drop-in's hooks around it, injection before any check (so
// that a rule fails even a call that would have been rejected; a rule fails
// one call), the call itself, and the log with the request as sent and the
// reply as returned. `take` gives 1 (done), 0 (rejected) or -1 (no input
// report came); handle gives 1, 0 when no report came, else -1.
template <typename Take>
int handle(Function function, const char *target, std::string device, std::string arguments, const unsigned char *request,
           std::size_t size, const unsigned char *reply, Take take)
{
    const std::lock_guard<std::mutex> hold(detail::callMutex);
    detail::beforeCall(target);
    failure.clear();
    Call call{function, device, arguments, {request, request + (request ? size : 0)}, {}, "ok"};
    Simulator &s = simulator(); // the same object when the drop-in swaps its controllers
    const auto rule = std::find_if(s.failRules.begin(), s.failRules.end(), [&](const FailRule &r) {
        for (std::size_t i = 0; i < 4; ++i)
            if (r.pattern[i] >= 0 && (call.request.size() <= i + 1 || call.request[i + 1] != r.pattern[i]))
                return false;
        return r.function == call.function;
    });
    if (rule != s.failRules.end()) {
        s.failRules.erase(rule);
        call.result = "injected";
    } else if (function != Function::FindSensor && ours(target) && !s.foundSerial.empty() && s.foundSerial != s.pluggedSerial) {
        call.result = "rejected";
        failure = "board replaced: " + s.foundSerial + " \xE2\x86\x92 " + s.pluggedSerial;
    } else if (const int taken = int(take()); taken <= 0) {
        call.result = taken < 0 ? "none" : "rejected";
    }
    call.reply.assign(reply, reply && call.ok() ? reply + ReportSize : reply);
    s.log.push_back(call);
    detail::afterCall(call);
    return call.ok() ? 1 : call.result == "none" ? 0 : -1;
}

// The wait: the samplings due by now, then the oldest report queued, else
// a sleep until the next sampling or the limit. 1 with a report, else -1.
int waitForInput(const char *target, std::uint8_t *report, int timeoutMs)
{
    Simulator &s = simulator(); // a sleep may swap the drop-in's controllers: the object stays
    const std::uint64_t deadline = detail::nowMs() + std::uint64_t(std::max(timeoutMs, 0));
    if (!s.inputOpen)
        s.firmware.startSampling(detail::nowMs());
    s.inputOpen = true;
    for (bool waited = false;; waited = true) {
        s.firmware.sampleUntil(detail::nowMs(), s.inputQueue);
        if (s.inputQueue.size() > InputQueueSize) // the kernel drops the newest that do not fit
            s.inputQueue.resize(InputQueueSize);
        if (!s.inputQueue.empty()) {
            std::memcpy(report, s.inputQueue.front().data(), ReportSize);
            s.inputQueue.erase(s.inputQueue.begin());
            return 1;
        }
        // In process nothing changes while a wait sleeps: a wait without
        // limit that one sampling did not end would never end.
        if (timeoutMs == 0 || (timeoutMs > 0 && detail::nowMs() >= deadline) || (timeoutMs < 0 && waited && !detail::RealClock))
            return -1;
        detail::sleepUntil(timeoutMs < 0 ? s.firmware.nextSamplingMs() : std::min(deadline, s.firmware.nextSamplingMs()), target);
    }
}

// A number of the state file (decimal or 0x hex, at most max) or a text (\xNN
// is the byte NN; one to max bytes).
template <typename T>
bool parse(const std::string &text, unsigned long max, T &out)
{
    const std::size_t from = text.rfind("0x", 0) == 0 ? 2 : 0;
    char *end = nullptr;
    const unsigned long n = std::strtoul(text.c_str() + from, &end, from ? 16 : 10);
    if (!std::isxdigit(static_cast<unsigned char>(text.c_str()[from])) || *end || n > max)
        return false;
    out = static_cast<T>(n);
    return true;
}
bool parse(const std::string &text, unsigned long max, std::string &out)
{
    static const std::regex badEscape(R"(\\(?!x[0-9a-fA-F]{2}))");
    if (std::regex_search(text, badEscape))
        return false;
    std::string s;
    for (std::size_t i = 0; i < text.size(); i += text[i] == '\\' ? 4 : 1)
        s += text[i] == '\\' ? static_cast<char>(std::stoul(text.substr(i + 2, 2), nullptr, 16)) : text[i];
    if (s.empty() || s.size() > max)
        return false;
    out = s;
    return true;
}

// Calls f(key, field, max) for each key of the state file, in its order; max
// is a number's largest value or a text's longest length.
template <typename F>
void forEachKey(Simulator &s, F f)
{
    static const char *const actions[] = {"reset_thrm_pin", "serve_watchdog", "reset_watchdog_pin"};
    f("device", s.device, REDI_DEVICE_NAME_SIZE - 1);
    f("serial", s.firmware.serial, sizeof(RediDeviceRecord::serialNumber) - 1);
    f("plugged_serial", s.pluggedSerial, sizeof(RediDeviceRecord::serialNumber) - 1);
    f("release", s.release, 0xFFFF);
    for (const char *bank : {"ram.", "flash."})
        for (std::size_t i = 0; i < ParamCount; ++i)
            f(bank + std::string(parameters()[i].key), (*bank == 'r' ? s.firmware.ram : s.firmware.flash)[i],
              parameters()[i].length == 1 ? 0xFF : 0xFFFF);
    f("input_levels", s.firmware.inputLevels, 0xFF);
    f("status", s.firmware.status, 0xFF);
    f("output_levels", s.firmware.outputLevels, 0xFF);
    for (std::size_t i = 0; i < 3; ++i)
        f(std::string("actions.") + actions[i], s.firmware.actions[i], 0xFFFFFFFF);
}

// Sets *error, when wanted, and gives false.
bool fail(std::string *error, const std::string &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

const std::string &lastFailure() { return failure; }

std::string Call::line() const
{
    static const char *const functions[] = {"Usk_FindSensor_a", "Usk_Feature_a", "Usk_GetCurrentInReport_a", "Usk_SendOutReport_a",
                                            "Redi_ReadInputReport"};
    return std::string(functions[int(function)]) + ' ' + device + ' ' + arguments + ' ' + result
        + (request.empty() ? "" : " req=" + hex(request)) + (reply.empty() ? "" : " reply=" + hex(reply));
}

#ifndef SIM_DROPIN
void detail::beforeCall(const char *) {}
void detail::afterCall(const Call &) {}
std::uint64_t detail::nowMs() { return simulator().clockMs; }
void detail::sleepUntil(std::uint64_t ms, const char *) { simulator().clockMs = std::max(simulator().clockMs, ms); }
#endif

std::string stateText()
{
    std::string text = "# controller simulator state (tests/sim/README.md)\n";
    forEachKey(simulator(), [&](const std::string &key, auto &field, unsigned long) { text += key + '=' + show(field) + '\n'; });
    return text;
}

bool loadStateText(const std::string &text, std::string *error)
{
    Simulator loaded = simulator();
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        bool ok = line.empty() || line[0] == '#';
        forEachKey(loaded, [&](const std::string &key, auto &field, unsigned long max) {
            ok = ok || (eq != std::string::npos && line.substr(0, eq) == key && parse(line.substr(eq + 1), max, field));
        });
        if (!ok)
            return fail(error, "unknown key or bad value in '" + line + "'");
        if (line.rfind("serial=", 0) == 0) // a board given a serial number alone was plugged in with it
            loaded.pluggedSerial = loaded.firmware.serial;
    }
    simulator() = loaded;
    return true;
}

bool addFailRules(const std::string &text, std::string *error)
{
    static const std::regex syntax(R"((find|feature|input|output|read)(@(set|get)/(ram|flash|action|\*)/(\d{1,3})/(\d{1,3}))?)");
    static const std::map<std::string, int> words = {{"find", 0}, {"feature", 1}, {"input", 2}, {"output", 3}, {"read", 4}, {"*", -1},
                                                     {"set", 0},  {"get", 1},     {"ram", 0},   {"flash", 1},  {"action", 0x80}};
    std::istringstream in(std::regex_replace(text, std::regex("[,;]"), " "));
    std::smatch m;
    for (std::string word; in >> word;) {
        if (!std::regex_match(word, m, syntax) || (m[2].matched && m[1] != "feature"))
            return fail(error, "bad failure rule '" + word + "'");
        FailRule &rule = simulator().failRules.emplace_back(FailRule{Function(words.at(m[1]))});
        for (std::size_t i = 0; i < 4 && m[2].matched; ++i)
            rule.pattern[i] = words.count(m[i + 3]) ? words.at(m[i + 3]) : std::stoi(m[i + 3]);
    }
    return true;
}

} // namespace sim

using namespace sim;

extern "C" {

int Usk_FindSensor_a(int selector, int reserved1, int reserved2, int reserved3, int reserved4, int reserved5,
                     int reserved6, RediDeviceRecord *record)
{
    // REDI_DEVICE naming a node picks that controller, as in the real library.
    const char *wanted = std::getenv("REDI_DEVICE");
    wanted = wanted && std::strchr(wanted, '/') ? wanted : nullptr;
    const std::string arguments = "sel=" + std::to_string(selector) + " args=" + std::to_string(reserved1) + ',' + std::to_string(reserved2) + ','
        + std::to_string(reserved3) + ',' + std::to_string(reserved4) + ',' + std::to_string(reserved5) + ',' + std::to_string(reserved6);
    return 0 < handle(Function::FindSensor, wanted, "-", arguments, nullptr, 0, nullptr, [&] {
        Simulator &s = simulator();
        if (!record || selector != REDI_SELECT_BOARD_CONTROLLER || s.absent || (wanted && s.device != wanted)
            || (reserved1 | reserved2 | reserved3 | reserved4 | reserved5 | reserved6))
            return false;
        std::memset(record, 0, sizeof *record);
        detail::describe(*record, s, s.serialCached ? s.pluggedSerial : s.firmware.serial);
        record->flags = s.serialCached ? 0 : REDI_RECORD_SERIAL_LIVE;
        s.foundSerial = s.pluggedSerial;
        return true;
    });
}

int Usk_Feature_a(const char *deviceName, unsigned char *report, int get)
{
    return 0 < handle(Function::Feature, deviceName, logName(deviceName), "get=" + std::to_string(get), report, ReportSize,
                  get == 1 ? report : nullptr, [&] { return ours(deviceName) && simulator().firmware.handleFeature(report, get); });
}

int Usk_GetCurrentInReport_a(const char *deviceName, unsigned char *report, int length)
{
    return 0 < handle(Function::GetInReport, deviceName, logName(deviceName), "len=" + std::to_string(length), nullptr, 0, report, [&] {
        if (!ours(deviceName) || !report || length != int(ReportSize))
            return false;
        simulator().firmware.inputReport(report);
        return true;
    });
}

int Usk_SendOutReport_a(const char *deviceName, unsigned char *report, int length, int timeoutMs)
{
    const std::string arguments = "len=" + std::to_string(length) + " timeout=" + std::to_string(timeoutMs);
    return 0 < handle(Function::SendOutReport, deviceName, logName(deviceName), arguments, report, std::size_t(std::clamp(length, 0, 64)), nullptr, [&] {
        return ours(deviceName) && simulator().firmware.outputReport(report, std::size_t(std::max(length, 0)));
    });
}

// The wait for an input report, in process for the tests that link the
// simulator: the program looks it up only in a shared library.
int Redi_ReadInputReport(const char *deviceName, unsigned char *report, int length, int timeoutMs)
{
    const std::string arguments = "len=" + std::to_string(length) + " timeout=" + std::to_string(timeoutMs);
    return handle(Function::ReadInputReport, deviceName, logName(deviceName), arguments, nullptr, 0, report, [&] {
        return ours(deviceName) && report && length == int(ReportSize) ? waitForInput(deviceName, report, timeoutMs) : 0;
    });
}

} // extern "C"
