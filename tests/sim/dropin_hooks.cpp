// The drop-in libredi.so.1 is configured through the environment at its
// first call, appends every call to a log file and keeps the state in a
// file, so that a black-box test sees both after the program has ended.
// Variables and formats: README.md. A configuration error is the test's
// fault, not the program's: it prints "redi-sim: ..." and aborts.
//
// With REDI_SIM_SECOND_STATE it simulates a second controller with a state
// file of its own. One controller is current at a time: the other one and
// its file wait aside and are swapped in when a call is for it; the failure
// rules stay with the calls, whichever controller they are for.
#include "controller_sim.h"

#include <redi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include <unistd.h>

namespace {

struct StateFile {
    std::string path;
    std::string written; // what the simulator last wrote there
};
bool hasSecond = false;
bool secondCurrent = false;
std::string logPath;
long replacedAt = 0; // REDI_SIM_REPLACED_AT; 0: never
StateFile file, otherFile;
sim::Simulator other;

[[noreturn]] void die(const std::string &why)
{
    std::fprintf(stderr, "redi-sim: %s\n", why.c_str());
    std::abort();
}

std::string variable(const char *name) { return std::getenv(name) ? std::getenv(name) : ""; }

bool flag(const char *name)
{
    const std::string value = variable(name);
    if (value != "" && value != "0" && value != "1")
        die(std::string(name) + "=" + value + ": want 0 or 1");
    return value == "1";
}

// Written aside and renamed, so that a reader never sees half a file. The
// file is closed first and renamed by the filesystem library: Windows
// renames neither an open file nor, with rename(), over an existing one.
void writeState()
{
    const std::string text = sim::stateText(), temp = file.path + ".tmp." + std::to_string(::getpid());
    if (file.path.empty() || text == file.written)
        return;
    const bool written = static_cast<bool>(std::ofstream(temp, std::ios::binary) << text << std::flush);
    std::error_code renamed;
    if (!written || (std::filesystem::rename(temp, file.path, renamed), renamed))
        die("cannot write " + file.path + ": " + (renamed ? renamed.message() : std::strerror(errno)));
    file.written = text;
}

// Applies the current controller's state file when it differs from what the
// simulator last wrote: at the first call, and whenever a test has replaced
// it while the program runs (to change the input levels under a running
// service, say). No file yet means the factory state.
void loadState()
{
    std::ifstream in(file.path, std::ios::binary);
    std::ostringstream text;
    std::string error;
    if (in && (text << in.rdbuf()) && text.str() != file.written && !sim::loadStateText(text.str(), &error))
        die(file.path + ": " + error);
}

void swapControllers()
{
    std::swap(sim::simulator(), other);
    std::swap(sim::simulator().failRules, other.failRules);
    std::swap(file, otherFile);
    secondCurrent = !secondCurrent;
}

void configure()
{
    sim::Simulator &s = sim::simulator();
    logPath = variable("REDI_SIM_LOG");
    s.absent = flag("REDI_SIM_ABSENT");
    s.firmware.ignoreWrites = flag("REDI_SIM_IGNORE_WRITES");
    s.serialCached = flag("REDI_SIM_SERIAL_CACHED");
    other = s; // the second controller's factory state, flags as the first's
    other.device = "/dev/hidraw-sim2";
    other.firmware.serial = other.pluggedSerial = "SIM000002";
    other.absent = flag("REDI_SIM_SECOND_DENIED"); // listed as refusing to open; refuses every call
    const std::string at = variable("REDI_SIM_REPLACED_AT");
    char *end = nullptr;
    replacedAt = std::strtol(at.c_str(), &end, 10);
    if (*end || replacedAt < 0)
        die("REDI_SIM_REPLACED_AT=" + at + ": want a call number");
    std::string error;
    if (!sim::addFailRules(variable("REDI_SIM_FAIL"), &error))
        die("REDI_SIM_FAIL: " + error);
    file.path = variable("REDI_SIM_STATE");
    otherFile.path = variable("REDI_SIM_SECOND_STATE");
    hasSecond = !otherFile.path.empty();
    for (int i = 0; i < 2; ++i) { // both controllers; a missing file gets created
        loadState();
        writeState();
        swapControllers();
    }
}

} // namespace

void sim::detail::beforeCall(const char *device)
{
    static std::once_flag configured;
    std::call_once(configured, configure);
    const std::string &second = secondCurrent ? simulator().device : other.device;
    if (hasSecond && (device && second == device) != secondCurrent)
        swapControllers();
    loadState();
    static long calls = 0;
    if (++calls == replacedAt) // another board, as the firmware's state goes
        simulator().firmware.serial = simulator().pluggedSerial = "SIM000003";
}

// The line is on disk before the call returns, so it survives the program's
// abort; the log in memory would only grow. Binary: the same lines on Windows.
void sim::detail::afterCall(const Call &call)
{
    if (!logPath.empty() && !(std::ofstream(logPath, std::ios::app | std::ios::binary) << call.line() << std::endl))
        die("cannot append to " + logPath);
    writeState();
    clearCalls();
}

// The drop-in's failure text, as the real library's; the in-process build
// has none, for the same reason as the listing below.
extern "C" const char *Redi_LastFailure(void)
{
    return sim::lastFailure().c_str();
}

// The drop-in's listing, as the real library's: both controllers, the first
// unless REDI_SIM_ABSENT=1, the second as refusing to open with
// REDI_SIM_SECOND_DENIED=1 (a node without the udev rule). It is not logged:
// a listing exchanges nothing with a controller. The in-process build has
// none, as the program finds it only in a shared library.
extern "C" int Redi_EnumerateControllers(RediControllerInfo *list, int capacity)
{
    if (capacity < 0 || (capacity > 0 && !list))
        return -1;
    sim::detail::beforeCall(nullptr);
    int count = 0;
    for (const sim::Simulator *s : {&sim::simulator(), hasSecond ? &other : nullptr})
        if (s && (s == &other || !s->absent)) {
            if (count < capacity) {
                list[count] = RediControllerInfo{};
                sim::detail::describe(list[count], *s, s->firmware.serial);
                list[count].openError = s->absent ? EACCES : 0;
            }
            ++count;
        }
    return count;
}
