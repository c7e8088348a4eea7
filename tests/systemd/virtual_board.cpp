// The kernel suite's virtual controller as a board that a shell script
// plugs in and out inside the systemd suite's guest. One command a line on
// standard input, each answered by a line on standard output once done:
//   plug          -> "plug /dev/hidrawN"
//   unplug        -> "unplug"
//   levels MASK   -> "levels MASK"  (the GPIO lines' levels, bit n is line n)
// A command that fails is answered "error COMMAND: WHY" and ends the program.
#include "virtual_controller.h"

#include <iostream>
#include <string>

int main()
{
    VirtualController board;
    bool built = false;
    for (std::string command; std::getline(std::cin, command);) {
        QString error = "cannot write the gadget's UDC";
        bool ok = true;
        if (command == "plug")
            ok = built ? board.plug(true, error) : (built = board.start(sim::FirmwareModel(), 0x0100, error));
        else if (command == "unplug")
            ok = board.plug(false, error);
        else if (command.rfind("levels ", 0) == 0)
            board.change([&](sim::FirmwareModel &f) { f.inputLevels = std::stoul(command.substr(7), nullptr, 0); });
        else
            ok = false, error = "unknown command";
        std::cout << (ok ? command + " " + board.hidrawPath().toStdString() : "error " + command + ": " + error.toStdString())
                  << std::endl;
        if (!ok)
            return 1;
    }
    return 0;
}
