// The simulator's process-wide state, the four library calls over the
// firmware model, and the control API of controller_sim.h.
#include "sim_core.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>

namespace sim {

namespace {

struct Rule {
    detail::FailRule rule;
    int seen = 0;
    bool spent = false;
};

struct Simulator {
    std::mutex mutex;
    FirmwareModel model;
    std::string device = DefaultDeviceName;
    std::uint16_t release = DefaultReleaseNumber;
    bool absent = false;
    std::vector<Rule> rules;
    std::vector<Call> log;

    void resetAll()
    {
        model.reset();
        device = DefaultDeviceName;
        release = DefaultReleaseNumber;
        absent = false;
        rules.clear();
        log.clear();
    }

    // Counts the call against every live rule; true when one of them fires.
    bool injectFailure(Function f, const unsigned char *request)
    {
        bool fire = false;
        for (Rule &r : rules) {
            if (r.spent || r.rule.function != f)
                continue;
            if (r.rule.hasPattern) {
                if (!request)
                    continue;
                const RequestPattern &p = r.rule.pattern;
                if ((p.direction >= 0 && p.direction != request[1]) || (p.target >= 0 && p.target != request[2])
                    || (p.length >= 0 && p.length != request[3]) || (p.index >= 0 && p.index != request[4]))
                    continue;
            }
            ++r.seen;
            if (r.rule.every) {
                fire = true;
            } else if (r.seen == r.rule.n) {
                fire = true;
                r.spent = true;
            }
        }
        return fire;
    }

    // True when `name` names this device.
    bool isOurs(const char *name) const { return name && device == name; }

    int finish(Call &call, Result result, Call *logged)
    {
        call.result = result;
        log.push_back(call);
        if (logged)
            *logged = call;
        return result == Result::Ok ? 1 : 0;
    }
};

Simulator &S()
{
    static Simulator s;
    return s;
}

using Lock = std::lock_guard<std::mutex>;

} // namespace

// ---- The four calls -------------------------------------------------------------

namespace detail {

int findSensor(int selector, int r1, int r2, int r3, int r4, int r5, int r6, RediDeviceRecord *record,
               Call *logged)
{
    Simulator &s = S();
    Lock lock(s.mutex);
    Call call;
    call.function = Function::FindSensor;
    call.selector = selector;
    const int reserved[6] = {r1, r2, r3, r4, r5, r6};
    std::memcpy(call.reserved, reserved, sizeof reserved);

    if (s.injectFailure(Function::FindSensor, nullptr))
        return s.finish(call, Result::Injected, logged);
    if (!record || selector != REDI_SELECT_BOARD_CONTROLLER || r1 || r2 || r3 || r4 || r5 || r6 || s.absent)
        return s.finish(call, Result::Rejected, logged);

    std::memset(record, 0, sizeof *record);
    std::strncpy(record->deviceName, s.device.c_str(), sizeof record->deviceName - 1);
    record->releaseNumber[0] = static_cast<unsigned char>(s.release & 0xFF);
    record->releaseNumber[1] = static_cast<unsigned char>(s.release >> 8);
    std::strncpy(record->serialNumber, s.model.serial().c_str(), sizeof record->serialNumber - 1);
    return s.finish(call, Result::Ok, logged);
}

int feature(const char *deviceName, unsigned char *report, int get, Call *logged)
{
    Simulator &s = S();
    Lock lock(s.mutex);
    Call call;
    call.function = Function::Feature;
    call.device = deviceName ? deviceName : "(null)";
    call.get = get;
    if (report)
        call.request.assign(report, report + ReportSize);

    if (s.injectFailure(Function::Feature, report))
        return s.finish(call, Result::Injected, logged);
    if (!s.isOurs(deviceName) || !report || s.absent || !s.model.handleFeature(report, get))
        return s.finish(call, Result::Rejected, logged);
    if (get == 1)
        call.reply.assign(report, report + ReportSize);
    return s.finish(call, Result::Ok, logged);
}

int getInReport(const char *deviceName, unsigned char *report, int length, Call *logged)
{
    Simulator &s = S();
    Lock lock(s.mutex);
    Call call;
    call.function = Function::GetInReport;
    call.device = deviceName ? deviceName : "(null)";
    call.length = length;

    if (s.injectFailure(Function::GetInReport, nullptr))
        return s.finish(call, Result::Injected, logged);
    if (!s.isOurs(deviceName) || !report || length != static_cast<int>(ReportSize) || s.absent
        || !s.model.inputReport(report))
        return s.finish(call, Result::Rejected, logged);
    call.reply.assign(report, report + ReportSize);
    return s.finish(call, Result::Ok, logged);
}

int sendOutReport(const char *deviceName, unsigned char *report, int length, int timeoutMs, Call *logged)
{
    Simulator &s = S();
    Lock lock(s.mutex);
    Call call;
    call.function = Function::SendOutReport;
    call.device = deviceName ? deviceName : "(null)";
    call.length = length;
    call.timeout = timeoutMs;
    if (report && length > 0)
        call.request.assign(report, report + (length < 64 ? length : 64));

    if (s.injectFailure(Function::SendOutReport, nullptr))
        return s.finish(call, Result::Injected, logged);
    if (!s.isOurs(deviceName) || !report || length <= 0 || s.absent
        || !s.model.outputReport(report, static_cast<std::size_t>(length)))
        return s.finish(call, Result::Rejected, logged);
    return s.finish(call, Result::Ok, logged);
}

} // namespace detail

// ---- Control API ------------------------------------------------------------------

void reset()
{
    Lock lock(S().mutex);
    S().resetAll();
}

std::uint16_t ramValue(Param p)
{
    Lock lock(S().mutex);
    return S().model.value(Bank::Ram, p);
}
std::uint16_t flashValue(Param p)
{
    Lock lock(S().mutex);
    return S().model.value(Bank::Flash, p);
}
void setRamValue(Param p, std::uint16_t v)
{
    Lock lock(S().mutex);
    S().model.setValue(Bank::Ram, p, v);
}
void setFlashValue(Param p, std::uint16_t v)
{
    Lock lock(S().mutex);
    S().model.setValue(Bank::Flash, p, v);
}
void setValue(Param p, std::uint16_t v)
{
    Lock lock(S().mutex);
    S().model.setValue(Bank::Ram, p, v);
    S().model.setValue(Bank::Flash, p, v);
}
void powerCycle()
{
    Lock lock(S().mutex);
    S().model.powerCycle();
}

std::string serialNumber()
{
    Lock lock(S().mutex);
    return S().model.serial();
}
void setSerialNumber(const std::string &text)
{
    Lock lock(S().mutex);
    S().model.setSerial(text);
}
std::uint16_t releaseNumber()
{
    Lock lock(S().mutex);
    return S().release;
}
void setReleaseNumber(std::uint16_t bcd)
{
    Lock lock(S().mutex);
    S().release = bcd;
}
std::string deviceName()
{
    Lock lock(S().mutex);
    return S().device;
}
void setDeviceName(const std::string &name)
{
    Lock lock(S().mutex);
    S().device = name.substr(0, REDI_DEVICE_NAME_SIZE - 1);
}

std::uint8_t inputLevels()
{
    Lock lock(S().mutex);
    return S().model.inputLevels();
}
void setInputLevels(std::uint8_t levels)
{
    Lock lock(S().mutex);
    S().model.setInputLevels(levels);
}
std::uint8_t statusByte()
{
    Lock lock(S().mutex);
    return S().model.status();
}
void setStatusByte(std::uint8_t status)
{
    Lock lock(S().mutex);
    S().model.setStatus(status);
}
std::uint8_t outputLevels()
{
    Lock lock(S().mutex);
    return S().model.outputLevels();
}
void setOutputLevels(std::uint8_t levels)
{
    Lock lock(S().mutex);
    S().model.setOutputLevels(levels);
}

unsigned actionCount(Action a)
{
    Lock lock(S().mutex);
    return S().model.actionCount(a);
}
void resetActionCounts()
{
    Lock lock(S().mutex);
    for (std::size_t i = 0; i < ActionCount; ++i)
        S().model.setActionCount(static_cast<Action>(i), 0);
}

void setAbsent(bool absent)
{
    Lock lock(S().mutex);
    S().absent = absent;
}
bool isAbsent()
{
    Lock lock(S().mutex);
    return S().absent;
}

void setIgnoreWrites(bool on)
{
    Lock lock(S().mutex);
    S().model.setIgnoreWrites(on);
}
bool ignoreWrites()
{
    Lock lock(S().mutex);
    return S().model.ignoreWrites();
}

FirmwareModel &model() { return S().model; }

// ---- Failures ---------------------------------------------------------------------

namespace {
void addRule(const detail::FailRule &r)
{
    Lock lock(S().mutex);
    S().rules.push_back(Rule{r, 0, false});
}
} // namespace

void failNext(Function f, int n)
{
    detail::FailRule r;
    r.function = f;
    r.n = n < 1 ? 1 : n;
    addRule(r);
}
void failNext(const RequestPattern &p, int n)
{
    detail::FailRule r;
    r.function = Function::Feature;
    r.hasPattern = true;
    r.pattern = p;
    r.n = n < 1 ? 1 : n;
    addRule(r);
}
void failEvery(Function f)
{
    detail::FailRule r;
    r.function = f;
    r.every = true;
    addRule(r);
}
void failEvery(const RequestPattern &p)
{
    detail::FailRule r;
    r.function = Function::Feature;
    r.hasPattern = true;
    r.pattern = p;
    r.every = true;
    addRule(r);
}
bool addFailRules(const std::string &text, std::string *error)
{
    std::vector<detail::FailRule> rules;
    if (!detail::parseFailRules(text, rules, error))
        return false;
    for (const detail::FailRule &r : rules)
        addRule(r);
    return true;
}
void clearFailures()
{
    Lock lock(S().mutex);
    S().rules.clear();
}
int pendingFailures()
{
    Lock lock(S().mutex);
    int n = 0;
    for (const Rule &r : S().rules)
        n += r.spent ? 0 : 1;
    return n;
}

// ---- Call log ---------------------------------------------------------------------

std::vector<Call> calls()
{
    Lock lock(S().mutex);
    return S().log;
}
std::vector<Call> calls(Function f)
{
    Lock lock(S().mutex);
    std::vector<Call> out;
    for (const Call &c : S().log)
        if (c.function == f)
            out.push_back(c);
    return out;
}
std::vector<Call> featureCalls(const RequestPattern &p)
{
    Lock lock(S().mutex);
    std::vector<Call> out;
    for (const Call &c : S().log)
        if (c.matches(p))
            out.push_back(c);
    return out;
}
void clearCalls()
{
    Lock lock(S().mutex);
    S().log.clear();
}

// ---- State text ---------------------------------------------------------------------

namespace {
const char *const kActionKeys[ActionCount] = {"actions.reset_thrm_pin", "actions.serve_watchdog",
                                              "actions.reset_watchdog_pin"};
}

std::string stateText()
{
    Lock lock(S().mutex);
    const Simulator &s = S();
    std::ostringstream o;
    char release[8];
    std::snprintf(release, sizeof release, "0x%04x", s.release);
    o << "# controller simulator state (tests/sim/README.md)\n";
    o << "device=" << detail::escape(s.device) << '\n';
    o << "release=" << release << '\n';
    o << "serial=" << detail::escape(s.model.serial()) << '\n';
    for (Bank bank : {Bank::Ram, Bank::Flash})
        for (const ParamInfo &pi : parameters())
            o << (bank == Bank::Ram ? "ram." : "flash.") << pi.key << '=' << s.model.value(bank, pi.param) << '\n';
    o << "input_levels=" << unsigned(s.model.inputLevels()) << '\n';
    o << "status=" << unsigned(s.model.status()) << '\n';
    o << "output_levels=" << unsigned(s.model.outputLevels()) << '\n';
    for (std::size_t i = 0; i < ActionCount; ++i)
        o << kActionKeys[i] << '=' << s.model.actionCount(static_cast<Action>(i)) << '\n';
    return o.str();
}

bool loadStateText(const std::string &text, std::string *error)
{
    // Build the new state aside; commit only when every line parsed.
    FirmwareModel m;
    std::string device = DefaultDeviceName;
    std::uint16_t release = DefaultReleaseNumber;

    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    auto bad = [&](const std::string &why) {
        if (error)
            *error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line[b] == '#')
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            return bad("no '=' in '" + line + "'");
        std::string key = line.substr(b, eq - b);
        key.erase(key.find_last_not_of(" \t") + 1);
        const std::string value = line.substr(eq + 1);
        unsigned long n = 0;

        if (key == "device" || key == "serial") {
            std::string v;
            if (!detail::unescape(value, v))
                return bad("bad escape in '" + value + "'");
            if (key == "device") {
                if (v.empty() || v.size() >= REDI_DEVICE_NAME_SIZE)
                    return bad("device name empty or too long");
                device = v;
            } else {
                if (v.size() >= REDI_RECORD_SIZE - 264)
                    return bad("serial number too long");
                m.setSerial(v);
            }
            continue;
        }
        if (key == "release") {
            if (!detail::parseNumber(value, 0xFFFF, n))
                return bad("bad release number '" + value + "'");
            release = static_cast<std::uint16_t>(n);
            continue;
        }
        if (key == "input_levels" || key == "status" || key == "output_levels") {
            if (!detail::parseNumber(value, 0xFF, n))
                return bad("bad byte value '" + value + "' for " + key);
            const auto v = static_cast<std::uint8_t>(n);
            if (key == "input_levels")
                m.setInputLevels(v);
            else if (key == "status")
                m.setStatus(v);
            else
                m.setOutputLevels(v);
            continue;
        }
        bool known = false;
        for (std::size_t i = 0; i < ActionCount && !known; ++i) {
            if (key == kActionKeys[i]) {
                if (!detail::parseNumber(value, 0xFFFFFFFFul, n))
                    return bad("bad count '" + value + "' for " + key);
                m.setActionCount(static_cast<Action>(i), static_cast<unsigned>(n));
                known = true;
            }
        }
        for (const ParamInfo &pi : parameters()) {
            if (known)
                break;
            for (Bank bank : {Bank::Ram, Bank::Flash}) {
                if (key != std::string(bank == Bank::Ram ? "ram." : "flash.") + pi.key)
                    continue;
                if (!detail::parseNumber(value, pi.length == 1 ? 0xFFul : 0xFFFFul, n))
                    return bad("bad value '" + value + "' for " + key);
                m.setValue(bank, pi.param, static_cast<std::uint16_t>(n));
                known = true;
                break;
            }
        }
        if (!known)
            return bad("unknown key '" + key + "'");
    }

    Lock lock(S().mutex);
    const bool ignore = S().model.ignoreWrites();
    S().model = m;
    S().model.setIgnoreWrites(ignore);
    S().device = device;
    S().release = release;
    return true;
}

} // namespace sim
