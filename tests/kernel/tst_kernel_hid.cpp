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

#include <algorithm>
#include <list>

namespace {

// One of the two getting processes of "beside self --get-loop": 2000 gets
// of one parameter ("rate" or "direction"); exits with 1 at the first one
// that fails or is not `expected`.
int getLoop(const QByteArray &parameter, unsigned expected)
{
    std::string name;
    bool bad = !findController(name);
    for (int i = 0; i < 2000 && !bad; ++i) {
        std::uint16_t rate = 0;
        std::uint8_t direction = 0;
        bad = parameter == "rate" ? !getSampleRate(rate) || rate != expected : !getGpioDirection(direction) || direction != expected;
    }
    return bad;
}

// How a program ended, as a step tells it: the exit code (-1: crashed or did
// not end), then its output (stdout, then stderr), "\n" for a line break. Of
// the window's output only the driver's lines count, of the guard service's
// only what it said of polling the controller and of stopping.
QString finished(QProcess &process)
{
    const bool ended = process.waitForFinished(150000);
    const int code = ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const QString said = process.program() == VNK_PROGRAM ? "^driver: " : process.program() == VNK_GUARDD ? "polling|stopped:" : "";
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError()).trimmed();
    return (QString::number(code) + ' ' + out.split('\n').filter(QRegularExpression(said)).join("\\n")).trimmed();
}

QString orNone(const QString &text) { return text.isEmpty() ? "none" : text; }

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
        if (bus.state() == QProcess::NotRunning) {
            // It prints its address once it listens there.
            bus.start(VNK_DBUS_DAEMON, {"--session", "--address=unix:path=" + home.filePath("bus"), "--nofork", "--nopidfile", "--print-address"});
            bus.waitForReadyRead(10000);
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
        return QFile::exists(kStatus);
    }

    // Starts `command`, "cli ARGS", "window" or "self ARGS" (this program);
    // the first two with the driver (program_driver.cpp) preloaded. With
    // `holdAt` N it is held before its Nth exchange until the file "pause"
    // exists; true once it is held there.
    bool start(QProcess &process, const QStringList &command, const QString &holdAt)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (command[0] != "self")
            env.insert("LD_PRELOAD", VNK_PRELOAD);
        // Under AddressSanitizer the driver is preloaded ahead of its runtime,
        // which the program itself links; the driver intercepts nothing it does.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        env.insert("VNK_PAUSE_FILE", home.filePath("pause"));
        env.insert("VNK_PAUSE_AT", holdAt);
        QFile::remove(home.filePath("pause"));
        QFile::remove(home.filePath("pause.paused"));
        process.setProcessEnvironment(env);
        process.start(command[0] == "cli" ? VNK_CLI : command[0] == "window" ? VNK_PROGRAM : QCoreApplication::applicationFilePath(),
                      command.mid(1));
        for (int i = 0; i < 6000 && !holdAt.isEmpty() && !QFile::exists(home.filePath("pause.paused")); ++i)
            QThread::msleep(10);
        return QFile::exists(home.filePath("pause.paused"));
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(device.start(sim::FirmwareModel{}, 0x0123, error), qPrintable(error));
        QVERIFY2(other.start(sim::FirmwareModel{}, 0x0100, error), qPrintable(error));
        qputenv("VNKESTRIX_REGISTRY", home.filePath("registry.sqlite3").toLocal8Bit());
    }

    // One case a block of step_cases.txt (the notation is there): the
    // command line's exchanges, interrupt-in reports through the wait of
    // libredi, found as the guard service finds it, programs beside each
    // other on one board, the window, the guard service.
    void steps_data()
    {
        QTest::addColumn<QStringList>("steps");
        for (const auto &[title, steps] : caseBlocks(fileText(VNK_STEP_CASES)))
            QTest::newRow(qPrintable(title)) << steps;
    }

    void steps()
    {
        QFETCH(QStringList, steps);
        const RediReadInputReportFunction wait = rediReadInputReport();
        QVERIFY(wait);
        QString error;
        device.change([](sim::FirmwareModel &f) {
            f.serial = "OLD000001";
            f.inputLevels = 0;
            f.status = 0x02;
            f.ram = sim::factoryValues();
            f.actions = {};
            f.ignoreWrites = false;
        });
        std::string name;
        QVERIFY2(device.replug(error) && findController(name), qPrintable(error));
        QFile::remove(home.filePath("controller"));
        QVERIFY(QFile::link(device.hidrawPath(), home.filePath("controller")));
        device.takeLines();
        std::list<QProcess> beside; // joined in the order they were started
        QProcess service;
        QFile(home.filePath("calls")).resize(0);
        unsigned transfers = device.reportTransfers();
        QString holdAt;
        for (const QString &line : steps) {
            const QString step = QString(line).replace("$GUARDD", QString::number(service.processId()))
                .replace("$NODE", device.hidrawPath()).replace("$LINK", home.filePath("controller")).replace("$OTHER", other.hidrawPath());
            const QString arrow = step.contains(" => ") ? " => " : " -> ";
            const QStringList w = step.section(arrow, 0, 0).split(' ');
            std::uint8_t report[sim::ReportSize] = {};
            QString result;
            if (w[0] == "ram") {
                const auto &all = sim::parameters();
                const auto p = std::find_if(all.begin(), all.end(), [&](const sim::ParamInfo &i) { return w[1] == i.key; });
                QVERIFY2(p != all.end(), qPrintable(step));
                device.change([&](sim::FirmwareModel &f) { f.ram[p - all.begin()] = w[2].toUShort(nullptr, 0); });
            } else if (w[0] == "levels") {
                device.change([&](sim::FirmwareModel &f) { f.inputLevels = std::uint8_t(w[1].toUInt(nullptr, 0)); });
            } else if (w[0] == "writes") {
                device.change([&](sim::FirmwareModel &f) { f.ignoreWrites = w[1] == "ignored"; });
            } else if (w[0] == "usbfs") {
                QVERIFY(w[1] == "away" ? QDir("/dev").rename("bus", "bus.away") : QDir("/dev").rename("bus.away", "bus"));
            } else if (w[0] == "settle") { // what was sampled before is taken and dropped
                for (QThread::msleep(500); wait(name.c_str(), report, sim::ReportSize, 0) == 1;) {}
            } else if (w[0] == "replug") {
                device.change([&](sim::FirmwareModel &f) { f.serial = w.value(1, QString::fromStdString(f.serial)).toStdString(); });
                QVERIFY2(device.replug(error), qPrintable(error));
            } else if (w[0] == "unplug" || w[0] == "plug") {
                QVERIFY2(device.plug(w[0] == "plug", error), qPrintable(error));
            } else if (w[0] == "hold") {
                holdAt = w[1];
            } else if (w[0] == "release") {
                QFile(home.filePath("pause")).open(QIODevice::WriteOnly);
            } else if (w[0] == "beside") {
                const bool held = start(beside.emplace_back(), w.mid(1), holdAt);
                if (!std::exchange(holdAt, {}).isEmpty())
                    result = held ? "held" : "not held";
            } else if (w[0] == "joined") {
                result = finished(beside.front());
                beside.pop_front();
            } else if (w[0] == "cli" || w[0] == "window") {
                QProcess process;
                start(process, w, {});
                result = finished(process);
            } else if (w[0] == "device") { // an output report reaches the device after its writer has ended
                const QString named = step.section(arrow, 1);
                result = orNone(device.takeLines(named == "none" ? 0 : named.count("; ") + 1).join("; "));
            } else if (w[0] == "guardd" && !*VNK_GUARDD) {
                QSKIP("the guard service, the stand-in logind or dbus-daemon was not built");
            } else if (w[0] == "guardd" && w[1] == "start") {
                result = startService(service) ? "up" : "down";
            } else if (w[0] == "guardd" && w[1] == "stop") { // the exit code on a line of its own
                service.terminate();
                const QString done = finished(service);
                result = done.section(' ', 0, 0) + (QFile::exists(kStatus) ? " status file left" : "") + "\\n" + done.section(' ', 1);
            } else if (w[0] == "guardd") { // with a configuration file that is not there
                service.start(VNK_GUARDD, {"--config", home.filePath(w[1])});
                result = finished(service);
            } else if (w[0] == "called") { // the first call, and a second to show whether another one follows
                for (int i = 0; i < 1000 && called().isEmpty(); ++i)
                    QThread::msleep(10);
                QThread::msleep(1000);
                result = orNone(called().trimmed().replace('\n', "; "));
                QFile(home.filePath("calls")).resize(0);
            } else if (w[0] == "served") {
                unsigned serves = 0;
                device.change([&serves](sim::FirmwareModel &f) { serves = f.actions[int(sim::Action::ServeWatchdog)]; });
                result = serves >= w[3].toUInt() ? "yes" : "only " + QString::number(serves);
            } else if (w[0] == "transfers") {
                result = QString::number(device.reportTransfers() - std::exchange(transfers, device.reportTransfers()));
            } else if (const int got = wait(name.c_str(), report, sim::ReportSize, w.value(1).toInt()); got == 1) {
                result = QStringLiteral("1 %1").arg(report[3], 2, 16, QChar('0'));
            } else {
                result = QString::number(got) + (*Redi_LastFailure() ? QStringLiteral(" (%1)").arg(QString::fromUtf8(Redi_LastFailure())) : "");
            }
            if (arrow == " => ") { // of the output, only the lines the step names
                QStringList lines = result.split("\\n");
                lines.removeIf([&](const QString &l) { return !step.section(arrow, 1).split("\\n").contains(l); });
                result = lines.join("\\n");
            }
            QCOMPARE(step.section(arrow, 0, 0) + (result.isNull() ? "" : arrow + result), step);
        }
    }
};

// Started again by the step "beside self --get-loop", it is one of two
// getting processes instead.
int main(int argc, char *argv[])
{
    if (argc == 4 && QByteArray(argv[1]) == "--get-loop")
        return getLoop(argv[2], QByteArray(argv[3]).toUInt(nullptr, 0));
    QCoreApplication app(argc, argv);
    KernelHidTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_kernel_hid.moc"
