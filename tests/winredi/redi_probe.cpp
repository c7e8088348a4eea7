// Drives redi.dll's Windows exchange lock and its reading of REDI_DEVICE
// without a device, for winredi_wine.sh under Wine:
//   redi_probe hold PATH   takes the lock, says "held", keeps it until a line
//                          comes on stdin, then says "released"
//   redi_probe take PATH   says "taken" when the lock is free, or "busy" and
//                          waits for it (a minute at most) and says "taken"
//   redi_probe choice      for each "VALUE => ..." row on stdin, the value and
//                          what the programs say they looked for
#include "redi_device_choice.h"
#include "redi_node.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

int say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
    return 0;
}

int hold(const std::string &path)
{
    const int fd = redi::node::open(path);
    if (fd < 0 || !redi::node::lock(fd, 0))
        return say("not held"), 1;
    say("held");
    std::string line;
    std::getline(std::cin, line);
    redi::node::unlock(fd);
    return say("released");
}

int take(const std::string &path)
{
    const int fd = redi::node::open(path);
    if (fd < 0)
        return say("no lock"), 1;
    if (!redi::node::lock(fd, 0)) {
        say("busy");
        if (!redi::node::lock(fd, 60000))
            return say("still busy"), 1;
    }
    redi::node::unlock(fd);
    return say("taken");
}

int choice()
{
    std::string row;
    while (std::getline(std::cin, row)) {
        if (row.empty() || row[0] == '#') {
            std::printf("%s\n", row.c_str());
            continue;
        }
        std::string value = row.substr(0, row.find(" => "));
        const redi::DeviceChoice parsed = redi::parseDeviceChoice(value == "(unset)" ? nullptr : value.c_str());
        std::string said = redi::describeDeviceChoice(parsed);
        if (parsed.kind == redi::DeviceChoice::Kind::Path)
            said += " = " + redi::node::resolve(parsed.path);
        std::printf("%s => %s\n", value.c_str(), said.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "hold" && argc == 3)
        return hold(argv[2]);
    if (command == "take" && argc == 3)
        return take(argv[2]);
    if (command == "choice" && argc == 2)
        return choice();
    std::fprintf(stderr, "usage: redi_probe hold PATH | take PATH | choice\n");
    return 2;
}
