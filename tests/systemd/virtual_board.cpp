// The kernel suite's virtual controller as a board that a shell script
// plugs in and out inside the systemd suite's guest, its GPIO lines at the
// levels given (bit n is line n; 0 when not given). One command a line on
// standard input, each answered by a line on standard output once done:
//   plug    -> "plug /dev/hidrawN"
//   unplug  -> "unplug"
// A command that fails is answered "error COMMAND: WHY" and ends the program.
//   vnk_virtual_board [LEVELS]
#include "virtual_controller.h"

#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    VirtualController board;
    sim::FirmwareModel firmware;
    firmware.inputLevels = static_cast<std::uint8_t>(argc > 1 ? std::stoul(argv[1], nullptr, 0) : 0);
    bool built = false;
    for (std::string command; std::getline(std::cin, command);) {
        QString error = command == "plug" || command == "unplug" ? "cannot write the gadget's UDC" : "unknown command";
        const bool ok = command == "plug" ? built ? board.plug(true, error) : (built = board.start(firmware, 0x0100, error))
                                          : command == "unplug" && board.plug(false, error);
        std::cout << (ok ? command + " " + board.hidrawPath().toStdString() : "error " + command + ": " + error.toStdString())
                  << std::endl;
        if (!ok)
            return 1;
    }
    return 0;
}
