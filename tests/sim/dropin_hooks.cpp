// The drop-in libredi.so.1 is configured through the environment at its
// first call, appends every call to a log file and keeps the state in a
// file, so that a black-box test sees both after the program has ended.
// Variables and formats: README.md. A configuration error is the test's
// fault, not the program's: it prints "redi-sim: ..." and aborts.
#include "sim_core.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {

bool configured = false;
std::string statePath, logPath, lastWritten;

[[noreturn]] void die(const std::string &why)
{
    std::fprintf(stderr, "redi-sim: %s\n", why.c_str());
    std::abort();
}

std::string variable(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool flag(const char *name)
{
    const std::string value = variable(name);
    if (value != "" && value != "0" && value != "1")
        die(std::string(name) + "=" + value + ": want 0 or 1");
    return value == "1";
}

// Written aside and renamed, so that a reader never sees half a file.
void writeState()
{
    if (statePath.empty())
        return;
    const std::string text = sim::stateText();
    if (text == lastWritten)
        return;
    const std::string aside = statePath + ".tmp." + std::to_string(::getpid());
    std::ofstream out(aside, std::ios::binary);
    out << text;
    out.close();
    if (!out)
        die("cannot write " + aside);
    if (std::rename(aside.c_str(), statePath.c_str()) != 0)
        die("cannot rename " + aside + ": " + std::strerror(errno));
    lastWritten = text;
}

// Applies the state file when it differs from what the simulator last wrote:
// at the first call, and whenever a test has rewritten it while the program
// runs (to change the input levels under a running service, say).
void loadStateFile()
{
    if (statePath.empty() || ::access(statePath.c_str(), F_OK) != 0) // none yet: the factory state
        return;
    std::ifstream in(statePath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str() == lastWritten)
        return;
    std::string error;
    if (!in || !sim::loadStateText(text.str(), &error))
        die(statePath + ": " + (error.empty() ? "cannot read" : error));
}

} // namespace

void sim::detail::beforeCall()
{
    if (configured) {
        loadStateFile();
        writeState();
        return;
    }
    configured = true;
    statePath = variable("REDI_SIM_STATE");
    logPath = variable("REDI_SIM_LOG");
    loadStateFile();
    setAbsent(flag("REDI_SIM_ABSENT"));
    setIgnoreWrites(flag("REDI_SIM_IGNORE_WRITES"));
    setSerialCached(flag("REDI_SIM_SERIAL_CACHED"));
    std::string error;
    if (!addFailRules(variable("REDI_SIM_FAIL"), &error))
        die("REDI_SIM_FAIL: " + error);
    writeState();
}

// The line is on disk before the call returns, so it survives the program's
// abort; the log in memory would only grow.
void sim::detail::afterCall(const Call &call)
{
    if (!logPath.empty()) {
        std::ofstream log(logPath, std::ios::app);
        log << call.line() << '\n';
        log.close();
        if (!log)
            die("cannot append to " + logPath);
    }
    writeState();
    clearCalls();
}
