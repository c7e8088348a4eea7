// Drives redi.dll's Windows exchange lock and its reading of REDI_DEVICE
// without a device, for winredi_wine.sh under Wine:
//   redi_probe hold PATH   takes the lock, says "held", keeps it until stdin
//                          brings a line (or ends), then says "released"
//   redi_probe take PATH   says "taken" when the lock is free, or "busy" and
//                          waits for it (a minute at most) and says "taken"
//   redi_probe choice      for each "VALUE => ..." row on stdin, the value and
//                          what the programs say they looked for
#include "redi_device_choice.h"
#include "redi_node.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

int say(const char *line, int code = 0)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
    return code;
}

int lockAndSay(const std::string &command, const std::string &path)
{
    const int fd = redi::node::open(path);
    if (command == "hold") {
        if (fd < 0 || !redi::node::lock(fd, 0))
            return say("not held", 1);
        say("held");
        std::cin.get(); // the test's line, or the end of its input
    } else if (fd < 0 || (!redi::node::lock(fd, 0) && (say("busy"), !redi::node::lock(fd, 60000)))) {
        return say("still busy", 1);
    }
    redi::node::unlock(fd);
    return say(command == "hold" ? "released" : "taken");
}

} // namespace

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if ((command == "hold" || command == "take") && argc == 3)
        return lockAndSay(command, argv[2]);
    if (command != "choice")
        return std::fprintf(stderr, "usage: redi_probe hold PATH | take PATH | choice\n"), 2;
    for (std::string row; std::getline(std::cin, row);) {
        const std::string value = row.substr(0, row.find(" => "));
        const auto parsed = redi::parseDeviceChoice(value == "(unset)" ? nullptr : value.c_str());
        std::string said = redi::describeDeviceChoice(parsed);
        if (parsed.kind == redi::DeviceChoice::Kind::Path)
            said += " = " + redi::node::resolve(parsed.path);
        std::printf("%s\n", row.empty() || row[0] == '#' ? row.c_str() : (value + " => " + said).c_str());
    }
    return 0;
}
