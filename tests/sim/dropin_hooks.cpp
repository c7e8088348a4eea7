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

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace {

// What the drop-in keeps beside the simulator is never destroyed, as the
// real library's state is not: a program may end while one of its threads
// is inside a call (the guard service's wait for input reports is never
// interrupted), and that call must not find the exit's destructors have
// freed what it reads.
struct Kept {
    std::string logPath;
    std::string file, otherFile; // the state files of the current controller and of the other
    std::map<std::string, std::string> lastWritten; // what the simulator last wrote to each
    sim::Simulator other;
};
Kept &kept = *new Kept;
bool hasSecond = false;
bool secondCurrent = false;
long replacedAt = 0; // REDI_SIM_REPLACED_AT; 0: never

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
    const std::string text = sim::stateText(), temp = kept.file + ".tmp." + std::to_string(::getpid());
    if (kept.file.empty() || text == kept.lastWritten[kept.file])
        return;
    const bool written = static_cast<bool>(std::ofstream(temp, std::ios::binary) << text << std::flush);
    std::error_code renamed;
    if (!written || (std::filesystem::rename(temp, kept.file, renamed), renamed))
        die("cannot write " + kept.file + ": " + (renamed ? renamed.message() : std::strerror(errno)));
    kept.lastWritten[kept.file] = text;
}

// Applies the current controller's state file when it differs from what the
// simulator last wrote: at the first call, and whenever a test has replaced
// it while the program runs (to change the input levels under a running
// service, say). No file yet means the factory state.
void loadState()
{
    std::ifstream in(kept.file, std::ios::binary);
    std::ostringstream text;
    std::string error;
    if (in && (text << in.rdbuf()) && text.str() != kept.lastWritten[kept.file] && !sim::loadStateText(text.str(), &error))
        die(kept.file + ": " + error);
}

void swapControllers()
{
    std::swap(sim::simulator(), kept.other);
    std::swap(sim::simulator().failRules, kept.other.failRules);
    std::swap(kept.file, kept.otherFile);
    secondCurrent = !secondCurrent;
}

// The controller that `device` names, else the first, with its state file read.
void makeCurrent(const char *device)
{
    const std::string &second = secondCurrent ? sim::simulator().device : kept.other.device;
    if (hasSecond && (device && second == device) != secondCurrent)
        swapControllers();
    loadState();
}

void configure()
{
    sim::Simulator &s = sim::simulator();
    kept.logPath = variable("REDI_SIM_LOG");
    s.absent = flag("REDI_SIM_ABSENT");
    s.firmware.ignoreWrites = flag("REDI_SIM_IGNORE_WRITES");
    s.serialCached = flag("REDI_SIM_SERIAL_CACHED");
    s.firmware.sendsInputReports = !flag("REDI_SIM_NO_INPUT_REPORTS");
    kept.other = s; // the second controller's factory state, flags as the first's
    kept.other.device = "/dev/hidraw-sim2";
    kept.other.firmware.serial = kept.other.pluggedSerial = "SIM000002";
    kept.other.absent = flag("REDI_SIM_SECOND_DENIED"); // listed as refusing to open; refuses every call
    const std::string at = variable("REDI_SIM_REPLACED_AT");
    char *end = nullptr;
    replacedAt = std::strtol(at.c_str(), &end, 10);
    if (*end || replacedAt < 0)
        die("REDI_SIM_REPLACED_AT=" + at + ": want a call number");
    std::string error;
    if (!sim::addFailRules(variable("REDI_SIM_FAIL"), &error))
        die("REDI_SIM_FAIL: " + error);
    kept.file = variable("REDI_SIM_STATE");
    kept.otherFile = variable("REDI_SIM_SECOND_STATE");
    hasSecond = !kept.otherFile.empty();
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
    makeCurrent(device);
    static long calls = 0;
    if (++calls == replacedAt) // another board, as the firmware's state goes
        simulator().firmware.serial = simulator().pluggedSerial = "SIM000003";
}

// The line is on disk before the call returns, so it survives the program's
// abort; the log in memory would only grow. Binary: the same lines on Windows.
void sim::detail::afterCall(const Call &call)
{
    if (!kept.logPath.empty() && !(std::ofstream(kept.logPath, std::ios::app | std::ios::binary) << call.line() << std::endl))
        die("cannot append to " + kept.logPath);
    writeState();
    clearCalls();
}

// The real clock: a wait for an input report sleeps, and a test changes the
// input levels in the state file meanwhile.
std::uint64_t sim::detail::nowMs()
{
    using namespace std::chrono;
    return std::uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The caller holds the call mutex (controller_sim.cpp's handle): it is let
// go for the sleep, so that another thread's calls go on meanwhile.
void sim::detail::sleepUntil(std::uint64_t ms, const char *device)
{
    callMutex.unlock();
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms)));
    callMutex.lock();
    makeCurrent(device);
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
    const std::lock_guard<std::mutex> hold(sim::detail::callMutex);
    sim::detail::beforeCall(nullptr);
    RediControllerInfo found[2] = {};
    int count = 0;
    for (const sim::Simulator *s : {&sim::simulator(), hasSecond ? &kept.other : nullptr})
        if (s && (s == &kept.other || !s->absent)) {
            sim::detail::describe(found[count], *s, s->firmware.serial);
            found[count++].openError = s->absent ? EACCES : 0;
        }
    std::copy_n(found, std::min(count, capacity), list);
    return count;
}
