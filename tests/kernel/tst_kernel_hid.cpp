// libredi, the command line, the program and the guard service over the real
// hidapi, hidraw, usbhid and usbcore, against the virtual controller (a USB
// gadget). Runs inside the test VM only (run_kernel_suite.sh boots it). It
// shows what the fake hidapi of the unit tests cannot: the bytes on the
// wire, re-plugs (a new hidraw node), the serial number read live over
// usbfs while the kernel's copy is stale, bcdDevice, and several processes
// sharing one board.
#include "../support/case_table.h"
#include "controller_link.h"
#include "parameter_catalogue.h"
#include "redi_extension.h"
#include "virtual_controller.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <list>

namespace {

constexpr std::uint16_t kRate = 4321;
constexpr std::uint8_t kDirection = 0x5a;

// One of the two processes of getsFromTwoProcesses: 2000 gets of one
// parameter; exits with 1 at the first failed or wrong one.
int getLoop(bool rate)
{
    std::string name;
    bool bad = !findController(name);
    for (int i = 0; i < 2000 && !bad; ++i) {
        std::uint16_t value = 0;
        std::uint8_t direction = 0;
        bad = rate ? !getSampleRate(value) || value != kRate : !getGpioDirection(direction) || direction != kDirection;
    }
    return bad;
}

// What happens to the board while a program is held before an exchange:
// re-plugged; unplugged (and plugged in again after the run); or another
// board, with another serial number, put in its place (and the first one
// back after the run).
enum class Pause { Replug, Away, Swap };

struct Run {
    int exitCode;   // -1: crashed, -2: never reached its pause
    QString output; // stdout, then stderr
};

} // namespace

class KernelHidTest : public QObject
{
    Q_OBJECT

    VirtualController device;
    VirtualController other{1, 0x16c0, 0x05df}; // another HID device beside the controller
    QTemporaryDir home;
    QProcess bus, logind; // the guard service's D-Bus and the stand-in logind
    static constexpr const char *kStatus = "/tmp/guardd-status"; // as guardd.conf says

    // What the stand-in logind was asked, one call a line, without the times.
    QString called() const { return fileText(home.filePath("calls")).remove(QRegularExpression(" at=.*")); }

    // The guard service with guardd.conf, once it has written its status;
    // the private bus with the stand-in logind first, the first time.
    bool startService(QProcess &service)
    {
#ifdef VNK_GUARDD
        if (bus.state() == QProcess::NotRunning) {
            bus.start(VNK_DBUS_DAEMON, {"--session", "--address=unix:path=" + home.filePath("bus"), "--nofork", "--nopidfile"});
            for (int i = 0; i < 1000 && !QFile::exists(home.filePath("bus")); ++i)
                QThread::msleep(10);
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + home.filePath("bus").toUtf8());
            qputenv("VNKESTRIX_GUARDD_STATUS", kStatus);
            logind.start(VNK_FAKE_LOGIND, {home.filePath("calls")});
            if (!logind.waitForReadyRead(10000) || !logind.readAllStandardOutput().startsWith("ready"))
                return false;
        }
        QFile::remove(kStatus);
        service.start(VNK_GUARDD, {"--config", VNK_GUARDD_CONF});
        for (int i = 0; i < 1000 && !QFile::exists(kStatus); ++i)
            QThread::msleep(10);
#endif
        return QFile::exists(kStatus);
    }

    // The environment of a program the driver (program_driver.cpp) is preloaded into.
    static QProcessEnvironment driven()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", VNK_PRELOAD);
        // Under AddressSanitizer the driver is preloaded ahead of its runtime,
        // which the program itself links; the driver intercepts nothing it does.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        return env;
    }

    // `program` with the preload library (program_driver.cpp). With
    // `pauseAt`, it is held before its Nth exchange while `pause` happens.
    Run run(const QString &program, const QStringList &arguments, int pauseAt = 0, Pause pause = Pause::Replug)
    {
        QTemporaryDir dir;
        QProcessEnvironment env = driven();
        env.insert("VNK_PAUSE_FILE", dir.filePath("pause"));
        env.insert("VNK_PAUSE_AT", QString::number(pauseAt));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        bool paused = !pauseAt;
        for (int i = 0; i < 6000 && !paused; ++i, QThread::msleep(10))
            paused = QFile::exists(dir.filePath("pause.paused"));
        QString ignored; // what the program did shows it
        const auto serial = [this](const char *s) { device.change([s](sim::FirmwareModel &f) { f.serial = s; }); };
        if (pauseAt && pause == Pause::Swap)
            serial("OTHER0001");
        if (pauseAt)
            pause == Pause::Away ? device.plug(false, ignored) : device.replug(ignored);
        QFile(dir.filePath("pause")).open(QIODevice::WriteOnly);
        process.waitForFinished(150000);
        if (pause == Pause::Swap)
            serial("OLD000001");
        if (pause != Pause::Replug)
            pause == Pause::Away ? device.plug(true, ignored) : device.replug(ignored);
        return {!paused ? -2 : process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError()).trimmed()};
    }

private slots:
    void initTestCase()
    {
        sim::FirmwareModel firmware;
        firmware.serial = "OLD000001"; // the kernel's copy, until a serial number is written
        firmware.inputLevels = 0xa5;
        firmware.status = 0x02;
        QString error;
        QVERIFY2(device.start(firmware, 0x0123, error), qPrintable(error));
        QVERIFY2(other.start(sim::FirmwareModel{}, 0x0100, error), qPrintable(error));
        qputenv("VNKESTRIX_REGISTRY", home.filePath("registry.sqlite3").toLocal8Bit());
        QVERIFY(QFile::link(device.hidrawPath(), home.filePath("controller")));
    }

    // vnkestrix-cli, one process a row of command_line_cases.txt, in order,
    // with the reports the device received. In a row, $NODE is the
    // controller's hidraw node, $LINK a symlink to it made at the start, and
    // $OTHER the node of another HID device.
    void commandLine_data()
    {
        for (const char *column : {"condition", "arguments", "exitCode", "output", "deviceSaw"})
            QTest::addColumn<QString>(column);
        for (const QStringList &f : caseTable(VNK_CASES, 6))
            QTest::newRow(qPrintable(f[0])) << f[1] << f[2] << f[3] << f[4] << f[5];
    }

    void commandLine()
    {
        QFETCH(QString, condition);
        QFETCH(QString, deviceSaw);
        QVERIFY(condition != "usbfs-away" || QDir("/dev").rename("bus", "bus.away"));
        device.change([&](sim::FirmwareModel &f) { f.ignoreWrites = condition == "ignores-writes"; });
        device.takeLines();
        QFETCH(QString, arguments);
        QFETCH(QString, output);
        const auto place = [this](QString text) {
            return text.replace("$NODE", device.hidrawPath()).replace("$LINK", home.filePath("controller"))
                .replace("$OTHER", other.hidrawPath());
        };
        // N of "replug-at N", "away-at N" and "swap-at N"; 0 for the others:
        const Pause pause = condition.startsWith("away") ? Pause::Away : condition.startsWith("swap") ? Pause::Swap : Pause::Replug;
        const Run cli = run(VNK_CLI, place(arguments).split(' '), condition.section(' ', 1).toInt(), pause);
        device.change([](sim::FirmwareModel &f) { f.ignoreWrites = false; });
        QVERIFY(condition != "usbfs-away" || QDir("/dev").rename("bus.away", "bus"));
        QCOMPARE(cli.output, place(output));
        QTEST(QString::number(cli.exitCode), "exitCode");
        QCOMPARE(device.takeLines(deviceSaw.isEmpty() ? 0 : deviceSaw.count("; ") + 1).join("; "), deviceSaw);
    }

    // Two processes, each getting its own parameter over one node: a get is
    // two transfers, and the other's pair must never come in between.
    void getsFromTwoProcesses()
    {
        std::string name;
        QVERIFY(findController(name) && setSampleRate(kRate, Ram) && setGpioDirection(kDirection, Ram));
        QProcess children[2];
        for (int i = 0; i < 2; ++i)
            children[i].start(QCoreApplication::applicationFilePath(), {"--get-loop", i ? "direction" : "rate"});
        for (QProcess &child : children) {
            QVERIFY(child.waitForFinished(120000));
            QCOMPARE(child.exitCode(), 0);
        }
    }

    // Interrupt-in reports through the wait of libredi, found as the service
    // finds it, and the service itself listening to them, one case a block of
    // input_report_cases.txt (the notation is there). The board is plugged in
    // afresh with its first serial number and its lines low.
    void inputReports_data()
    {
        QTest::addColumn<QStringList>("steps");
        for (const auto &[title, steps] : caseBlocks(fileText(VNK_INPUT_CASES)))
            QTest::newRow(qPrintable(title)) << steps;
    }

    void inputReports()
    {
        QFETCH(QStringList, steps);
        const RediReadInputReportFunction wait = rediReadInputReport();
        QVERIFY(wait);
        QString error;
        device.change([](sim::FirmwareModel &f) { f.inputLevels = 0; });
        const auto board = [&](const char *serial) { device.change([&](sim::FirmwareModel &f) { f.serial = serial; }); return device.replug(error); };
        std::string name;
        QVERIFY(board("OLD000001") && findController(name));
        std::list<QProcess> beside; // joined in the order they were started
        QProcess service;
        QFile(home.filePath("calls")).resize(0);
        unsigned transfers = device.reportTransfers();
        for (const QString &line : steps) {
            const QStringList w = line.section(" -> ", 0, 0).split(' ');
            const auto set = [&](sim::Param p, int at) { device.change([&](sim::FirmwareModel &f) { f.value(sim::Bank::Ram, p) = w[at].toUShort(nullptr, 0); }); };
            std::uint8_t report[sim::ReportSize] = {};
            QString result;
            if (w[0] == "mode")
                set(sim::Param::ReportMode, 1), set(sim::Param::SampleRate, 3);
            else if (w[0] == "levels")
                device.change([&](sim::FirmwareModel &f) { f.inputLevels = std::uint8_t(w[1].toUInt(nullptr, 0)); });
            else if (w[0] == "settle") // what was sampled before is taken and dropped
                for (QThread::msleep(500); wait(name.c_str(), report, sim::ReportSize, 0) == 1;) {}
            else if (w[0] == "replug" || w[0] == "swap" || w[0] == "unswap")
                QVERIFY2(board(w[0] == "swap" ? "OTHER0001" : "OLD000001"), qPrintable(error));
            else if (w[0] == "beside" && w[1] == "window") {
                beside.emplace_back().setProcessEnvironment(driven());
                beside.back().start(VNK_PROGRAM, QStringList());
            } else if (w[0] == "beside") {
                beside.emplace_back().start(VNK_CLI, w.mid(1));
            } else if (w[0] == "joined") { // the output is read once the process has ended
                // The window's: the boxes it showed (the driver writes them to stderr).
                QProcess &done = beside.front();
                const bool window = done.program() == VNK_PROGRAM;
                done.setReadChannel(window ? QProcess::StandardError : QProcess::StandardOutput);
                const bool ended = done.waitForFinished(120000);
                const QString out = QString::fromLocal8Bit(done.readAll()).trimmed();
                result = !ended ? "-1" : (QString::number(done.exitCode()) + ' ' + (window ? out.split('\n').filter("driver: box").join("\\n") : QString(out).replace('\n', "\\n"))).trimmed();
                beside.pop_front();
            } else if (w[0] == "guardd" && w[1] == "start") {
#ifndef VNK_GUARDD
                QSKIP("the guard service, the stand-in logind or dbus-daemon was not built");
#endif
                result = startService(service) ? "up" : "down";
            } else if (w[0] == "guardd") { // its exit code and any line saying that it polls
                service.terminate();
                result = service.waitForFinished(10000) && service.exitStatus() == QProcess::NormalExit ? QString::number(service.exitCode()) : "-1";
                for (const QString &said : QString::fromLocal8Bit(service.readAllStandardError()).split('\n').filter("polling"))
                    result += ' ' + said;
            } else if (w[0] == "called") { // the first call, and a second to show whether another one follows
                for (int i = 0; i < 1000 && called().isEmpty(); ++i)
                    QThread::msleep(10);
                QThread::msleep(1000);
                result = called().trimmed().replace('\n', "; ");
                QFile(home.filePath("calls")).resize(0);
            } else if (w[0] == "transfers") {
                result = QString::number(device.reportTransfers() - std::exchange(transfers, device.reportTransfers()));
            } else if (const int got = wait(name.c_str(), report, sim::ReportSize, w[1].toInt()); got == 1)
                result = QStringLiteral("1 %1").arg(report[3], 2, 16, QChar('0'));
            else
                result = QString::number(got) + (*Redi_LastFailure() ? QStringLiteral(" (%1)").arg(QString::fromUtf8(Redi_LastFailure())) : "");
            QCOMPARE(line.section(" -> ", 0, 0) + (result.isNull() ? "" : " -> " + result), line);
        }
        device.change([](sim::FirmwareModel &f) { f.inputLevels = 0xa5, f.ram = sim::factoryValues(); });
    }

    // The unchanged vnkestrix, offscreen, with a 12-character serial number:
    // it shows it whole (the field takes nine), a bare Return on it writes
    // nothing, and the save reaches the board although it was re-plugged
    // between the loads and the save.
    void program()
    {
        device.change([](sim::FirmwareModel &f) {
            f.serial = "ABCDEFGHIJKL";
            const std::pair<sim::Param, std::uint16_t> held[] = {
                {sim::Param::ReportMode, 1},       {sim::Param::SampleRate, 250},      {sim::Param::S3Mode, 1},
                {sim::Param::GpioDirection, 0x5a}, {sim::Param::GpioOutputMode, 0x0f}, {sim::Param::GpioStandbyMode, 0x81}};
            for (const auto &[param, value] : held)
                f.value(sim::Bank::Ram, param) = value;
        });
        QString error;
        QVERIFY2(device.replug(error), qPrintable(error));
        device.takeLines();
        const Run gui = run(VNK_PROGRAM, {}, 7); // held before the save's first write
        QStringList said = gui.output.split('\n').filter(QRegularExpression("^driver: "));
        said.sort();
        QCOMPARE(said, QStringList({"driver: box Information | Your settings were successfully saved in flash memory.",
                                    "driver: value firmwareRevisionLabel Firmware revision: 1.23",
                                    "driver: value samplingRateSpinBox 250", "driver: value serialEdit ABCDEFGHIJKL"}));
        QCOMPARE(gui.exitCode, 0);
        // The Misc page's loads, the GPIO page's, the Misc values to flash.
        QCOMPARE(device.takeLines(), QStringList({
            "set-feature 00010001 ok", "get-feature 000001 ok", "set-feature 0001000201 ok", "get-feature 0000fa ok",
            "set-feature 0001000104 ok", "get-feature 000001 ok", "set-feature 0001000101 ok", "get-feature 00005a ok",
            "set-feature 0001000102 ok", "get-feature 00000f ok", "set-feature 0001000103 ok", "get-feature 000081 ok",
            "set-feature 00000101000001 ok", "set-feature 000001020100fa ok", "set-feature 00000101040001 ok"}));
    }

    // The real service on a private bus with the stand-in logind, reading the
    // board and serving its watchdog while the command line reads from it. A
    // configuration file named but missing stops it with exit code 2. Up, it
    // shows in `guard status`; GPIO 3 going high gives exactly one PowerOff,
    // and a row the command line adds while it runs fires without a restart.
    // SIGTERM stops it cleanly: exit code 0, the status file gone, and a
    // warning that the watchdog is no longer served.
    void guardService()
    {
#ifndef VNK_GUARDD
        QSKIP("the guard service, the stand-in logind or dbus-daemon was not built");
#else
        device.change([](sim::FirmwareModel &f) {
            f.value(sim::Bank::Ram, sim::Param::SampleRate) = 60;
            f.value(sim::Bank::Ram, sim::Param::WatchdogStrobe) = 4; // 0.4 s, served every 0.2 s
        });
        QFile(home.filePath("calls")).resize(0);
        QProcess service;
        QCOMPARE(run(VNK_CLI, {"guard", "set", "gpio3=1,shutdown"}).exitCode, 0);
        service.start(VNK_GUARDD, {"--config", home.filePath("missing.conf")});
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitCode(), 2);
        QVERIFY(startService(service));

        for (int i = 0; i < 20; ++i)
            QCOMPARE(run(VNK_CLI, {"get", "sample-rate"}).output, QStringLiteral("sample-rate=60"));
        const QStringList shown = run(VNK_CLI, {"guard", "status"}).output.split('\n');
        for (const QString &line : {"service: running, pid " + QString::number(service.processId()),
                                    QStringLiteral("gpio3=1,shutdown (now 0)"), QStringLiteral("watchdog: serving every 0.2 s")})
            QVERIFY2(shown.contains(line), qPrintable(shown.join('\n')));
        QCOMPARE(called(), QString());

        device.change([](sim::FirmwareModel &f) { f.inputLevels = 0x08; });
        QTRY_COMPARE_WITH_TIMEOUT(called(), QStringLiteral("PowerOff interactive=0\n"), 10000);
        QCOMPARE(run(VNK_CLI, {"guard", "set", "gpio2=0,standby"}).exitCode, 0);
        QTRY_VERIFY_WITH_TIMEOUT(called().contains("Suspend"), 10000);
        QTest::qWait(300); // a row that fires again would within a few polls
        QCOMPARE(called(), QStringLiteral("PowerOff interactive=0\nSuspend interactive=0\n"));

        unsigned serves = 0;
        device.change([&serves](sim::FirmwareModel &f) { serves = f.actions[int(sim::Action::ServeWatchdog)]; });
        QVERIFY2(serves >= 5, qPrintable(QString::number(serves))); // over a second at one serve in 0.2 s
        service.terminate();
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QVERIFY(!QFile::exists(kStatus));
        QVERIFY(service.readAllStandardError().contains("stopped: the controller's watchdog is no longer served"));
#endif
    }
};

// Started again by getsFromTwoProcesses with --get-loop, it is one of the
// two getting processes instead.
int main(int argc, char *argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--get-loop")
        return getLoop(QByteArray(argv[2]) == "rate");
    QCoreApplication app(argc, argv);
    KernelHidTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_kernel_hid.moc"
