// libredi, the command line, the program and the guard service over the real
// hidapi, hidraw, usbhid and usbcore, against the virtual controller (a USB
// gadget). Runs inside the test VM only (run_kernel_suite.sh boots it). It
// shows what the fake hidapi of the unit tests cannot: the bytes on the
// wire, re-plugs (a new hidraw node), the serial number read live over
// usbfs while the kernel's copy is stale, bcdDevice, and several processes
// sharing one board.
#include "controller_link.h"
#include "parameter_catalogue.h"
#include "virtual_controller.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <dlfcn.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

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

    // `program` with the preload library (program_driver.cpp). With
    // `pauseAt`, it is held before its Nth exchange while the board is
    // re-plugged (`away`: unplugged, and plugged in again once it ended).
    Run run(const QString &program, const QStringList &arguments, int pauseAt = 0, bool away = false)
    {
        QTemporaryDir dir;
        QString preload = QStringLiteral(VNK_PRELOAD);
#if defined(__SANITIZE_ADDRESS__) // its runtime must come first
        Dl_info runtime{};
        if (dladdr(reinterpret_cast<void *>(&__asan_address_is_poisoned), &runtime) && runtime.dli_fname)
            preload.prepend(QString::fromLocal8Bit(runtime.dli_fname) + ':');
#endif
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", preload);
        env.insert("VNK_PAUSE_FILE", dir.filePath("pause"));
        env.insert("VNK_PAUSE_AT", QString::number(pauseAt));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        bool paused = !pauseAt;
        for (int i = 0; i < 6000 && !paused; ++i, QThread::msleep(10))
            paused = QFile::exists(dir.filePath("pause.paused"));
        QString ignored; // what the program did shows it
        if (pauseAt)
            away ? device.plug(false, ignored) : device.replug(ignored);
        QFile(dir.filePath("pause")).open(QIODevice::WriteOnly);
        process.waitForFinished(150000);
        if (away)
            device.plug(true, ignored);
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
    }

    // vnkestrix-cli, one process a row of command_line_cases.txt, in order,
    // with the reports the device received.
    void commandLine_data()
    {
        for (const char *column : {"condition", "arguments", "exitCode", "output", "deviceSaw"})
            QTest::addColumn<QString>(column);
        QFile cases(VNK_CASES);
        QVERIFY(cases.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList rows = QString::fromUtf8(cases.readAll()).split('\n').filter(QRegularExpression("^[^#]"));
        for (const QString &line : rows) {
            QStringList f = line.split(QStringLiteral(" | "));
            f.replaceInStrings(QRegularExpression("^-$"), QString()); // none
            QVERIFY2(f.size() == 6, qPrintable(line));
            QTest::newRow(qPrintable(f[0])) << f[1] << f[2] << f[3] << f[4].replace("\\n", "\n") << f[5];
        }
    }

    void commandLine()
    {
        QFETCH(QString, condition);
        QFETCH(QString, deviceSaw);
        QVERIFY(condition != "usbfs-away" || QDir("/dev").rename("bus", "bus.away"));
        device.change([&](sim::FirmwareModel &f) { f.ignoreWrites = condition == "ignores-writes"; });
        device.takeLines();
        QFETCH(QString, arguments); // N of "replug-at N" and "away-at N"; 0 for the others:
        const Run cli = run(VNK_CLI, arguments.split(' '), condition.section(' ', 1).toInt(), condition.startsWith("away"));
        device.change([](sim::FirmwareModel &f) { f.ignoreWrites = false; });
        QVERIFY(condition != "usbfs-away" || QDir("/dev").rename("bus.away", "bus"));
        QTEST(cli.output, "output");
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
        QStringList said = gui.output.split('\n').filter(
            QRegularExpression("^driver: (value (firmwareRevisionLabel|serialEdit|samplingRateSpinBox) |box )"));
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

    // REDI_DEVICE through a symlink (the revision from bcdDevice), and
    // another HID device's node refused; finding sends no report.
    void deviceChoice()
    {
        const QString link = home.filePath("controller");
        QVERIFY(QFile::link(device.hidrawPath(), link));
        const std::pair<QString, QString> choices[] = {{link, device.hidrawPath() + " 1.23"},
                                                       {other.hidrawPath(), "not found"}};
        for (const auto &[chosen, expected] : choices) {
            qputenv("REDI_DEVICE", chosen.toLocal8Bit());
            std::string name;
            const bool found = findController(name);
            qunsetenv("REDI_DEVICE");
            QCOMPARE(found ? QString::fromStdString(name + ' ' + getFirmwareRevision()) : "not found", expected);
        }
        QCOMPARE(device.takeLines(), QStringList{});
    }

    // The service polls the board while the command line reads from it, on
    // a private bus with the stand-in logind; then GPIO 3 goes high: exactly
    // one PowerOff, and SIGTERM ends the service with 0.
    void guardService()
    {
#ifndef VNK_GUARDD
        QSKIP("the guard service, the stand-in logind or dbus-daemon was not built");
#else
        device.change([](sim::FirmwareModel &f) { f.value(sim::Bank::Ram, sim::Param::SampleRate) = 60; });
        const auto path = [this](const char *name) { return home.filePath(name); };
        const auto contents = [](const QString &file) {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QProcess bus, logind, service;
        bus.start(VNK_DBUS_DAEMON, {"--session", "--address=unix:path=" + path("bus"), "--nofork", "--nopidfile"});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path("bus")), 10000);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + path("bus").toUtf8());
        qputenv("VNKESTRIX_GUARDD_STATUS", "/tmp/guardd-status"); // as guardd.conf says
        logind.start(VNK_FAKE_LOGIND, {path("calls")});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += logind.readAllStandardOutput()).contains("ready"), 10000);
        QCOMPARE(run(VNK_CLI, {"guard", "set", "gpio3=1,shutdown"}).exitCode, 0);
        service.start(VNK_GUARDD, {"--config", VNK_GUARDD_CONF});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("/tmp/guardd-status"), 10000);

        for (int i = 0; i < 20; ++i)
            QCOMPARE(run(VNK_CLI, {"get", "sample-rate"}).output, QStringLiteral("sample-rate=60"));
        QVERIFY(run(VNK_CLI, {"guard", "status"}).output.contains("gpio3=1,shutdown (now 0)"));
        QCOMPARE(contents(path("calls")), QByteArray());

        device.change([](sim::FirmwareModel &f) { f.inputLevels = 0x08; });
        QTRY_VERIFY_WITH_TIMEOUT(contents(path("calls")).contains("PowerOff"), 10000);
        QTest::qWait(300); // a row that fires again would within a few polls
        const QList<QByteArray> calls = contents(path("calls")).trimmed().split('\n');
        QCOMPARE(calls.size(), 1);
        QVERIFY(calls[0].startsWith("PowerOff interactive=0 "));
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000) && service.exitStatus() == QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
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
