// redi_sim_probe: issues redi calls from the command line, one step per
// argument group, against whatever libredi.so.1 it loads (built against the
// drop-in, so by default the simulator). For the drop-in's self test and for
// shell scripts; usage in README.md. Prints one line per step; exit code 0
// when every call succeeded, 1 at the first failed call, 2 on bad usage.
#include <redi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string g_device = "/dev/hidraw-sim";

int usage()
{
    std::fprintf(stderr,
                 "usage: redi_sim_probe STEP...\n"
                 "  find                         Usk_FindSensor_a(19, 0...)\n"
                 "  get LEN INDEX                feature get; prints the value\n"
                 "  set ram|flash LEN INDEX VAL  feature set\n"
                 "  action N                     action request N\n"
                 "  serial TEXT                  serial-number write\n"
                 "  raw get|set HEX              feature report from hex (up to 33 bytes)\n"
                 "  in                           input report; prints levels and status\n"
                 "  out LEVELS                   13-byte output report\n"
                 "  device NAME                  device name for later steps\n");
    return 2;
}

bool number(const char *s, unsigned long max, unsigned long &out)
{
    char *end = nullptr;
    out = std::strtoul(s, &end, 0);
    return *s && end && *end == 0 && out <= max;
}

int failed(const char *what)
{
    std::printf("%s failed\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    int i = 1;
    auto need = [&](int n) { return i + n <= argc; }; // n more arguments present
    while (i < argc) {
        const std::string step = argv[i++];
        unsigned char r[REDI_REPORT_SIZE] = {};
        unsigned long a, b, c;
        if (step == "find") {
            RediDeviceRecord rec;
            std::memset(&rec, 0, sizeof rec);
            if (!(Usk_FindSensor_a(REDI_SELECT_BOARD_CONTROLLER, 0, 0, 0, 0, 0, 0, &rec) & 0xFF))
                return failed("find");
            g_device = rec.deviceName;
            std::printf("found %s release=0x%02x%02x serial=%s\n", rec.deviceName, rec.releaseNumber[1],
                        rec.releaseNumber[0], rec.serialNumber);
        } else if (step == "get" && need(2) && number(argv[i], 255, a) && number(argv[i + 1], 255, b)) {
            i += 2;
            r[1] = 1;
            r[3] = static_cast<unsigned char>(a);
            r[4] = static_cast<unsigned char>(b);
            if (!(Usk_Feature_a(g_device.c_str(), r, 1) & 0xFF))
                return failed("get");
            std::printf("%u\n", a == 2 ? r[2] + 256u * r[3] : r[2]);
        } else if (step == "set" && need(4) && (!std::strcmp(argv[i], "ram") || !std::strcmp(argv[i], "flash"))
                   && number(argv[i + 1], 2, a) && number(argv[i + 2], 255, b)
                   && number(argv[i + 3], a == 2 ? 0xFFFF : 0xFF, c)) {
            r[2] = std::strcmp(argv[i], "flash") == 0 ? 1 : 0;
            r[3] = static_cast<unsigned char>(a);
            r[4] = static_cast<unsigned char>(b);
            r[6] = static_cast<unsigned char>(c & 0xFF);
            r[7] = static_cast<unsigned char>(c >> 8);
            i += 4;
            if (!(Usk_Feature_a(g_device.c_str(), r, 0) & 0xFF))
                return failed("set");
            std::printf("ok\n");
        } else if (step == "action" && need(1) && number(argv[i], 255, a)) {
            ++i;
            r[2] = 0x80;
            r[4] = static_cast<unsigned char>(a);
            if (!(Usk_Feature_a(g_device.c_str(), r, 0) & 0xFF))
                return failed("action");
            std::printf("ok\n");
        } else if (step == "serial" && need(1) && std::strlen(argv[i]) <= 9) {
            const char *text = argv[i++];
            r[2] = 1;
            r[3] = 20;
            std::memcpy(r + 6, "USBSN", 5);
            r[11] = 20;
            r[12] = 3;
            for (std::size_t k = 0; text[k]; ++k)
                r[13 + 2 * k] = static_cast<unsigned char>(text[k]);
            if (!(Usk_Feature_a(g_device.c_str(), r, 0) & 0xFF))
                return failed("serial");
            std::printf("ok\n");
        } else if (step == "raw" && need(2) && (!std::strcmp(argv[i], "get") || !std::strcmp(argv[i], "set"))) {
            const int get = std::strcmp(argv[i], "get") == 0;
            const std::string hex = argv[i + 1];
            i += 2;
            if (hex.size() % 2 || hex.size() > 2 * REDI_REPORT_SIZE)
                return usage();
            for (std::size_t k = 0; k < hex.size() / 2; ++k) {
                if (!number(("0x" + hex.substr(2 * k, 2)).c_str(), 255, a))
                    return usage();
                r[k] = static_cast<unsigned char>(a);
            }
            if (!(Usk_Feature_a(g_device.c_str(), r, get) & 0xFF))
                return failed("raw");
            for (unsigned char byte : r)
                std::printf("%02x", byte);
            std::printf("\n");
        } else if (step == "in") {
            if (!(Usk_GetCurrentInReport_a(g_device.c_str(), r, REDI_REPORT_SIZE) & 0xFF))
                return failed("in");
            std::printf("levels=0x%02x status=0x%02x\n", r[3], r[10]);
        } else if (step == "out" && need(1) && number(argv[i], 255, a)) {
            ++i;
            r[1] = static_cast<unsigned char>(a);
            if (!(Usk_SendOutReport_a(g_device.c_str(), r, REDI_OUTPUT_REPORT_SIZE, 1000) & 0xFF))
                return failed("out");
            std::printf("ok\n");
        } else if (step == "device" && need(1)) {
            g_device = argv[i++];
        } else {
            return usage();
        }
    }
    return 0;
}
