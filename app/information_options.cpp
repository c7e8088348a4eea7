#include "information_options.h"

#include <cstdio>
#include <cstring>

namespace {

const char helpText[]
    = "Usage: vnkestrix [Qt options]\n"
      "Sets up a board's embedded controller (watchdog, GPIO lines, power-on behaviour,\n"
      "serial number) and the guard service's trigger table, in a window.\n"
      "\n"
      "  -h, --help     Print this help and exit.\n"
      "  --version      Print the version and exit.\n"
      "Every other argument goes to the Qt toolkit (-platform, -style, -display, ...).\n"
      "\n"
      "Environment:\n"
      "  REDI_DEVICE         the controller to use when several are attached: its\n"
      "                      device node or its USB IDs (vvvv:pppp)\n"
      "  VNKESTRIX_REGISTRY  the guard store's file, instead of\n"
      "                      /var/lib/vnkestrix/registry.sqlite3\n"
      "  VNKESTRIX_TRACE     1 traces every report exchanged with the controller\n"
      "                      on stderr, in hex, with its timing\n"
      "\n"
      "vnkestrix-cli does the same from the command line. See vnkestrix(1).\n";

} // namespace

std::optional<int> answerInformationOptions(int argc, const char *const argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            std::fputs(helpText, stdout);
            return 0;
        }
        if (std::strcmp(argument, "--version") == 0) {
            std::printf("vnkestrix %s\n", VNKESTRIX_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}
