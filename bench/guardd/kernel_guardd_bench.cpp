// The guard service's idle cost and reaction time on the whole USB path, in
// the kernel suite's VM: the real vnkestrix-guardd against the virtual
// controller (a USB gadget sending its input reports on its interrupt-IN
// endpoint) and the stand-in logind on a private D-Bus bus. One service at a
// time on the same board, in the same run: listening in report mode 0,
// listening in mode 1, and polling as the service did before it listened
// (VNKESTRIX_GUARDD_POLL=1), the baseline. Prints figures, asserts nothing.
// run_kernel_guardd_bench.sh boots the VM with it.
#include "virtual_controller.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

namespace {

const QString kWork = "/tmp/guardd-bench";
constexpr int kIdleSeconds = 20, kRounds = 8;

// A number from a "Key: value" line of /proc/PID/FILE, summed over the keys given.
long long procField(const QString &file, const QStringList &keys)
{
    QFile f(file);
    long long sum = 0;
    if (f.open(QIODevice::ReadOnly))
        for (const QString &line : QString::fromLatin1(f.readAll()).split('\n'))
            if (keys.contains(line.section(':', 0, 0)))
                sum += line.section(':', 1).simplified().section(' ', 0, 0).toLongLong();
    return sum;
}

// What the service has used so far: CPU (ns) and context switches, voluntary
// and not, of all its threads and of the main thread alone; and the main
// thread's voluntary ones alone (its waits: a preemption is no wake-up).
struct Usage {
    long long cpuNs = 0, switches = 0, mainSwitches = 0, mainWaits = 0;
};

Usage usageOf(qint64 pid)
{
    Usage u;
    const QString task = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList keys = {"voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"};
    for (const QString &thread : QDir(task).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(task + '/' + thread + "/schedstat");
        if (schedstat.open(QIODevice::ReadOnly))
            u.cpuNs += schedstat.readAll().split(' ').value(0).toLongLong();
        const long long switches = procField(task + '/' + thread + "/status", keys);
        u.switches += switches;
        if (thread.toLongLong() == pid)
            u.mainSwitches = switches, u.mainWaits = procField(task + '/' + thread + "/status", {keys[0]});
    }
    return u;
}

QStringList calls()
{
    QFile file(kWork + "/calls");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
}

double realtimeSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

void setLines(VirtualController &device, std::uint8_t levels)
{
    device.change([levels](sim::FirmwareModel &f) { f.inputLevels = levels; });
}

struct Phase {
    const char *name;
    int reportMode;
    bool polled;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDir().mkpath(kWork);
    qputenv("VNKESTRIX_REGISTRY", (kWork + "/registry.sqlite3").toUtf8());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + kWork + "/bus").toUtf8());
    QFile conf(kWork + "/guardd.conf");
    conf.open(QIODevice::WriteOnly);
    conf.write(("startup-grace-s = 0\nmetrics-directory = none\nstatus-file = " + kWork + "/status\n").toUtf8());
    conf.close();

    VirtualController device;
    QString error;
    QProcess bus, logind, cli;
    bus.start(VNK_DBUS_DAEMON, {"--session", "--address=unix:path=" + kWork + "/bus", "--nofork", "--nopidfile"});
    for (int i = 0; i < 1000 && !QFile::exists(kWork + "/bus"); ++i)
        QThread::msleep(10);
    logind.start(VNK_FAKE_LOGIND, {kWork + "/calls"});
    cli.start(VNK_CLI, {"guard", "set", "gpio3=1,shutdown"});
    if (!device.start(sim::FirmwareModel{}, 0x0100, error) || !logind.waitForReadyRead(20000)
        || !cli.waitForFinished(60000) || cli.exitCode() != 0) {
        std::fprintf(stderr, "BENCH failed: %s\n", qPrintable(error.isEmpty() ? "the bus, logind or the table" : error));
        return 1;
    }

    std::mt19937 random(7);
    const Phase phases[] = {{"mode 0", 0, false}, {"mode 1", 1, false}, {"polling", 0, true}};
    std::printf("BENCH idle over %d s, lines quiet, sample rate 50 ms, debounce 200 ms, poll interval 100 ms\n", kIdleSeconds);
    for (const Phase &phase : phases) {
        device.change([&](sim::FirmwareModel &f) {
            f.value(sim::Bank::Ram, sim::Param::ReportMode) = std::uint16_t(phase.reportMode);
            f.inputLevels = 0;
        });
        QFile::remove(kWork + "/status");
        QProcess service;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (phase.polled)
            env.insert("VNKESTRIX_GUARDD_POLL", "1");
        service.setProcessEnvironment(env);
        service.start(VNK_GUARDD, {"--config", kWork + "/guardd.conf"});
        for (int i = 0; i < 2000 && !QFile::exists(kWork + "/status"); ++i)
            QThread::msleep(10);
        QThread::sleep(2); // past start-up
        const qint64 pid = service.processId();
        using Clock = std::chrono::steady_clock;
        const Usage before = usageOf(pid);
        const unsigned transfers = device.reportTransfers(), reports = device.inputReportsSent();
        const Clock::time_point start = Clock::now();
        QThread::sleep(kIdleSeconds);
        const Usage after = usageOf(pid);
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        const QString status = QStringLiteral("/proc/%1/").arg(pid);
        // Private memory: Rss less the pages shared with another process,
        // clean and dirty (= Private_Clean + Private_Dirty). In the VM few
        // processes map the libraries, so their pages that only the service
        // maps count as private here: its own memory is the anonymous part.
        const QString rollup = status + "smaps_rollup";
        const long long rss = procField(rollup, {"Rss"}), shared = procField(rollup, {"Shared_Clean", "Shared_Dirty"}),
                        anonymous = procField(rollup, {"Anonymous"}), peak = procField(status + "status", {"VmHWM"});
        std::printf("BENCH %-7s wake-ups %.2f/s (voluntary and not, main thread %.2f/s, its waits %.2f/s), input reports %.2f/s, "
                    "control transfers %.2f/s, CPU %.3f %% of a core\n",
                    phase.name, (after.switches - before.switches) / t, (after.mainSwitches - before.mainSwitches) / t,
                    (after.mainWaits - before.mainWaits) / t, (device.inputReportsSent() - reports) / t, (device.reportTransfers() - transfers) / t,
                    100 * (after.cpuNs - before.cpuNs) / (t * 1e9));
        std::printf("BENCH %-7s private %.2f MiB (Rss %.2f less shared %.2f; anonymous %.2f), peak RSS %.2f MiB (aim: under 4)\n",
                    phase.name, (rss - shared) / 1024.0, rss / 1024.0, shared / 1024.0, anonymous / 1024.0, peak / 1024.0);

        // GPIO 3 goes high; the row fires after the debounce; the line goes
        // low again to re-arm it, and the next round starts at a random
        // point of the sampling.
        std::vector<double> latencies;
        for (int round = 0; round < kRounds; ++round) {
            const qsizetype before = calls().size();
            setLines(device, 0x08);
            const double changed = realtimeSeconds();
            for (int i = 0; i < 500 && calls().size() == before; ++i)
                QThread::msleep(5);
            if (calls().size() > before)
                latencies.push_back(1000 * (calls().constLast().section(" at=", 1).toDouble() - changed));
            setLines(device, 0);
            QThread::msleep(300 + random() % 200);
        }
        service.terminate();
        service.waitForFinished(10000);
        std::sort(latencies.begin(), latencies.end());
        const double bound = phase.polled ? 300 : 255;
        if (latencies.empty())
            std::printf("BENCH %-7s no logind call in %d rounds\n", phase.name, kRounds);
        else
            std::printf("BENCH %-7s line change to logind call, %zu of %d rounds: median %.1f ms, max %.1f ms; %s = %.0f ms "
                        "(max/bound %.2fx)\n",
                        phase.name, latencies.size(), kRounds, latencies[latencies.size() / 2], latencies.back(),
                        phase.polled ? "debounce + poll interval" : "debounce + one sampling + 5 ms", bound,
                        latencies.back() / bound);
        if (service.readAllStandardError().contains("polling") && !phase.polled)
            std::printf("BENCH %-7s the service fell back to polling\n", phase.name);
    }
    return 0;
}
