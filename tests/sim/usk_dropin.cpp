// The four redi functions of the drop-in build (redi_sim, libredi.so.1):
// configured through the environment at first use, the state file written
// back and one log line appended after every call. Variables and formats:
// README.md. A configuration error (unreadable or malformed state file, bad
// REDI_SIM_FAIL, unwritable state or log file) is a fault of the test, not
// of the program under test: it prints "redi-sim: ..." on stderr and aborts.
#include "sim_core.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Config {
    std::string statePath;
    std::string logPath;
    std::string lastWritten;
};

std::mutex g_mutex; // orders log lines and state writes
Config g_config;
std::once_flag g_once;

[[noreturn]] void die(const std::string &msg)
{
    std::fprintf(stderr, "redi-sim: %s\n", msg.c_str());
    std::fflush(stderr);
    std::abort();
}

bool flagVariable(const char *name)
{
    const char *v = std::getenv(name);
    if (!v || !*v || std::strcmp(v, "0") == 0)
        return false;
    if (std::strcmp(v, "1") == 0)
        return true;
    die(std::string(name) + "=" + v + ": want 0 or 1");
}

void writeState()
{
    if (g_config.statePath.empty())
        return;
    const std::string text = sim::stateText();
    if (text == g_config.lastWritten)
        return;
    // Write aside and rename, so that a reader never sees half a file.
    const std::string tmp = g_config.statePath + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out)
            die("cannot write " + tmp);
    }
    if (std::rename(tmp.c_str(), g_config.statePath.c_str()) != 0)
        die("cannot rename " + tmp + " to " + g_config.statePath + ": " + std::strerror(errno));
    g_config.lastWritten = text;
}

void load()
{
    if (const char *p = std::getenv("REDI_SIM_STATE"); p && *p) {
        g_config.statePath = p;
        if (::access(p, F_OK) == 0) { // a missing file means the factory state
            std::ifstream in(g_config.statePath, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            if (!in)
                die("cannot read " + g_config.statePath);
            std::string error;
            if (!sim::loadStateText(text.str(), &error))
                die(g_config.statePath + ": " + error);
        }
    }
    if (flagVariable("REDI_SIM_POWER_CYCLE"))
        sim::powerCycle();
    if (const char *p = std::getenv("REDI_SIM_LOG"); p && *p)
        g_config.logPath = p;
    sim::setAbsent(flagVariable("REDI_SIM_ABSENT"));
    sim::setIgnoreWrites(flagVariable("REDI_SIM_IGNORE_WRITES"));
    if (const char *p = std::getenv("REDI_SIM_FAIL"); p && *p) {
        std::string error;
        if (!sim::addFailRules(p, &error))
            die(std::string("REDI_SIM_FAIL: ") + error);
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    writeState(); // a missing file is created, with the factory state
}

void ensureLoaded() { std::call_once(g_once, load); }

int after(int result, const sim::Call &call)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_config.logPath.empty()) {
        const std::string line = call.line() + '\n';
        const int fd = ::open(g_config.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            die("cannot open " + g_config.logPath + ": " + std::strerror(errno));
        const ssize_t n = ::write(fd, line.data(), line.size());
        ::close(fd);
        if (n != static_cast<ssize_t>(line.size()))
            die("cannot append to " + g_config.logPath);
    }
    writeState();
    sim::clearCalls(); // the drop-in keeps its log in the file only
    return result;
}

} // namespace

extern "C" {

int Usk_FindSensor_a(int selector, int reserved1, int reserved2, int reserved3, int reserved4,
                     int reserved5, int reserved6, RediDeviceRecord *record)
{
    ensureLoaded();
    sim::Call call;
    const int r = sim::detail::findSensor(selector, reserved1, reserved2, reserved3, reserved4,
                                          reserved5, reserved6, record, &call);
    return after(r, call);
}

int Usk_Feature_a(const char *deviceName, unsigned char *report, int get)
{
    ensureLoaded();
    sim::Call call;
    const int r = sim::detail::feature(deviceName, report, get, &call);
    return after(r, call);
}

int Usk_GetCurrentInReport_a(const char *deviceName, unsigned char *report, int length)
{
    ensureLoaded();
    sim::Call call;
    const int r = sim::detail::getInReport(deviceName, report, length, &call);
    return after(r, call);
}

int Usk_SendOutReport_a(const char *deviceName, unsigned char *report, int length, int timeoutMs)
{
    ensureLoaded();
    sim::Call call;
    const int r = sim::detail::sendOutReport(deviceName, report, length, timeoutMs, &call);
    return after(r, call);
}

} // extern "C"
