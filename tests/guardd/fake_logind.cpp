// A stand-in for systemd-logind on a private bus: owns org.freedesktop.login1,
// answers Manager.Suspend(b) and Manager.PowerOff(b), and appends each call
// ("Suspend interactive=0 at=<seconds since the epoch>") to the file named by
// its argument. It prints "ready" once it serves and runs until it is killed.
//   fake_logind CALL-LOG   (the bus: DBUS_SYSTEM_BUS_ADDRESS)
#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const char *logPath = nullptr;

int record(sd_bus_message *message, void *, sd_bus_error *) {
    int interactive = 0;
    const int rc = sd_bus_message_read(message, "b", &interactive);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (FILE *log = rc < 0 ? nullptr : std::fopen(logPath, "a")) {
        std::fprintf(log, "%s interactive=%d at=%lld.%09ld\n", sd_bus_message_get_member(message), interactive,
                     static_cast<long long>(now.tv_sec), now.tv_nsec);
        std::fclose(log);
    }
    return rc < 0 ? rc : sd_bus_reply_method_return(message, nullptr);
}

const sd_bus_vtable manager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Suspend", "b", "", record, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PowerOff", "b", "", record, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

} // namespace

int main(int argc, char **argv) {
    sd_bus *bus = nullptr;
    logPath = argc == 2 ? argv[1] : "/dev/stderr";
    int rc = sd_bus_open_system(&bus);
    if (rc >= 0)
        rc = sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                      manager, nullptr);
    if (rc >= 0)
        rc = sd_bus_request_name(bus, "org.freedesktop.login1", 0);
    std::printf("%s\n", rc < 0 ? std::strerror(-rc) : "ready");
    std::fflush(stdout);
    while (rc >= 0)
        if ((rc = sd_bus_process(bus, nullptr)) == 0)
            rc = sd_bus_wait(bus, UINT64_MAX);
    return 1;
}
