// The controller link and catalogue over the real libredi, hidapi, hidraw,
// usbhid and usbcore, against the virtual controller, a USB gadget. Runs
// inside the test VM only (run_kernel_suite.sh boots it); every row checks
// what the operation delivered and the exact bytes the device received.
#include "controller_link.h"
#include "controller_list.h"
#include "parameter_catalogue.h"
#include "redi.h"
#include "virtual_controller.h"

#include <algorithm>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <functional>
#include <vector>

using Operation = std::function<QString()>;
Q_DECLARE_METATYPE(Operation)

namespace {

QString verdict(bool ok) { return ok ? QStringLiteral("ok") : QStringLiteral("failed"); }

template <typename T>
Operation getter(bool (*get)(T &))
{
    return [get] {
        T value{};
        return get(value) ? QString::number(static_cast<double>(value)) : verdict(false);
    };
}

using Setter = std::function<QString(double, Target)>;

template <typename T>
Setter setter(bool (*set)(T, Target))
{
    return [set](double value, Target target) { return verdict(set(static_cast<T>(value), target)); };
}

Operation done(std::function<bool()> operation)
{
    return [operation] { return verdict(operation()); };
}

QString sent(const QString &hex, const char *verdict = "ok") { return deviceLine("set-feature", hex, verdict); }

// What the two processes of getsFromTwoProcesses read, each its own parameter.
constexpr std::uint16_t kRate = 4321;
constexpr std::uint8_t kDirection = 0x5a;
constexpr int kGetsPerProcess = 2000;

// The child's side: gets of one parameter over the device the library
// finds, counted as "wrong W failed F".
int getLoop(const QByteArray &which)
{
    std::string name;
    int wrong = 0, failed = findController(name) ? 0 : kGetsPerProcess;
    for (int i = failed; i < kGetsPerProcess; ++i) {
        std::uint16_t rate = 0;
        std::uint8_t direction = 0;
        const bool ok = which == "rate" ? getSampleRate(rate) : getGpioDirection(direction);
        failed += !ok;
        wrong += ok && (which == "rate" ? rate != kRate : direction != kDirection);
    }
    std::printf("wrong %d failed %d\n", wrong, failed);
    return 0;
}

struct CliRun {
    int exitCode;
    QString output; // stdout, then stderr
};

// vnkestrix-cli over the real libredi. With `pauseAt`, it is held before
// that exchange while `device` is unplugged and plugged in again.
CliRun runCli(const QStringList &arguments, VirtualController &device, int pauseAt = 0)
{
    QTemporaryDir dir;
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", preloadList({VNK_EXCHANGE_PAUSE}));
    env.insert("VNK_PAUSE_FILE", dir.filePath("pause"));
    env.insert("VNK_PAUSE_AT", QString::number(pauseAt)); // 0: never
    cli.setProcessEnvironment(env);
    cli.start(VNK_CLI, arguments);
    QString error;
    if (pauseAt && !replugAtPause(device, dir.filePath("pause"), error))
        qWarning("%s", qPrintable(error));
    cli.waitForFinished(60000);
    const QString output = QString::fromLocal8Bit(cli.readAllStandardOutput() + cli.readAllStandardError()).trimmed();
    return {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1, output};
}

// The record the library fills now, as "serial live|may-be-stale".
QString foundSerial()
{
    RediDeviceRecord record{};
    if (!(Usk_FindSensor_a(REDI_SELECT_BOARD_CONTROLLER, 0, 0, 0, 0, 0, 0, &record) & 0xFF))
        return QStringLiteral("not found");
    return QString::fromLatin1(record.serialNumber)
        + ((record.flags & REDI_RECORD_SERIAL_LIVE) ? QStringLiteral(" live") : QStringLiteral(" may-be-stale"));
}

// Descriptors of this process on device nodes that are gone.
QStringList deadDescriptors()
{
    QStringList dead;
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget().endsWith(" (deleted)"))
            dead << fd.symLinkTarget();
    return dead;
}

// One parameter: a RAM set and a get of that value, with the value the set
// is given and the value its request must carry.
struct ParameterCase {
    const char *name;
    int length, index;
    Setter set;
    Operation get;
    double ram;
    unsigned ramSent;
};

} // namespace

class KernelRediTest : public QObject
{
    Q_OBJECT

    VirtualController device;
    VirtualController other{1, "16c0:05df"}; // another HID device beside the controller

private slots:
    void initTestCase()
    {
        sim::FirmwareModel firmware;
        firmware.serial = "KSTRX-042";
        firmware.inputLevels = 0xa5;
        firmware.status = 0x02;
        QString error;
        QVERIFY2(device.start(firmware, 0x0123, error), qPrintable(error));
        QVERIFY2(other.start(sim::FirmwareModel{}, 0x0100, error), qPrintable(error));
        std::string name;
        QVERIFY(findController(name));
    }

    // A row that failed half-way leaves its reports behind; they are not the next row's.
    void init() { device.takeLines(); }

    void operationsReachTheDevice_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("deviceSaw");

        const std::vector<ParameterCase> parameters = {
            {"report mode", 1, 0, setter(setReportMode), getter(getReportMode), 1, 1},
            {"sample rate", 2, 1, setter(setSampleRate), getter(getSampleRate), 0x1234, 0x1234},
            {"watchdog strobe", 2, 2, setter(setWatchdogStrobe), getter(getWatchdogStrobe), 0.7, 7},
            {"watchdog delay", 2, 3, setter(setWatchdogDelay), getter(getWatchdogDelay), 1.3, 13},
            {"S3 mode", 1, 4, setter(setS3SignalizationMode), getter(getS3SignalizationMode), 1, 1},
            {"watchdog mode", 1, 5, setter(setWatchdogMode), getter(getWatchdogMode), 2, 2},
            {"watchdog sources", 1, 6, setter(setWatchdogSources), getter(getWatchdogSources), 0xF1, 0xF1},
            {"power settings", 1, 7, setter(setPowerSettings), getter(getPowerSettings), 0x1D, 0x1D},
            {"GPIO direction", 1, 1, setter(setGpioDirection), getter(getGpioDirection), 0xF4, 0xF4},
            {"GPIO output mode", 1, 2, setter(setGpioOutputMode), getter(getGpioOutputMode), 0x81, 0x81},
            {"GPIO standby mode", 1, 3, setter(setGpioStandbyMode), getter(getGpioStandbyMode), 0xFF, 0xFF},
        };
        // Every RAM set before any get, so that a get which reached the wrong
        // parameter (indexes 1 to 3 exist at both lengths) reads another's
        // value. The get delivers what the RAM set gave.
        for (const ParameterCase &p : parameters)
            QTest::addRow("%s: set RAM", p.name) << Operation([p] { return p.set(p.ram, Ram); }) << "ok"
                                                 << QStringList{sent(requestHex(0, 0, p.length, p.index, p.ramSent))};
        // Length 1, index 9 names no parameter. The device's refusal (a
        // stalled reply) must come back as a failure, not as a success with a
        // stale buffer; the gets after it show that the next request works
        // again. A set cannot be refused on the wire: its data is taken
        // before the firmware sees it.
        const std::string path = device.hidrawPath().toStdString();
        QTest::addRow("refused get") << Operation([path] {
            unsigned char report[REDI_REPORT_SIZE] = {0, 1, 0, 1, 9};
            return verdict(Usk_Feature_a(path.c_str(), report, 1) & 0xFF);
        }) << "failed" << QStringList{sent(requestHex(1, 0, 1, 9), "refused"), deviceLine("get-feature", "-", "refused", 0)};
        for (const ParameterCase &p : parameters)
            QTest::addRow("%s: get", p.name)
                << p.get << QString::number(p.ram)
                << QStringList{sent(requestHex(1, 0, p.length, p.index)),
                               deviceLine("get-feature", "0000" + valueHex(p.ramSent, p.length))};

        const std::pair<const char *, bool (*)()> actions[] = {
            {"reset THRM pin", resetThrmPin}, {"serve watchdog", serveWatchdog}, {"reset watchdog pin", resetWatchdogPin}};
        for (int a = 0; a < 3; ++a)
            QTest::newRow(actions[a].first) << done(actions[a].second) << "ok"
                                            << QStringList{sent(requestHex(0, 0x80, 0, a))};

        QTest::newRow("serial number") << done([] { return setSerialNumber("KV-7"); }) << "ok"
                                       << QStringList{sent("000001140000555342534e14034b0056002d003700")};
        QTest::newRow("nine-letter serial number")
            << done([] { return setSerialNumber("ABCDEFGHI"); }) << "ok"
            << QStringList{sent("000001140000555342534e1403410042004300440045004600470048004900")};

        QTest::newRow("read GPIO") << Operation([] {
            std::uint8_t levels = 0;
            bool bit1 = false, bit5 = true;
            return readGpio(levels, bit1, bit5) ? QString::asprintf("%02x %d %d", levels, bit1, bit5)
                                                : QStringLiteral("failed");
        }) << "a5 1 0" << QStringList{deviceLine("get-input", "000000a500000000000002")};
        QTest::newRow("write GPIO") << done([] { return writeGpio(0x3C); }) << "ok"
                                    << QStringList{deviceLine("output", "003c", "ok", REDI_OUTPUT_REPORT_SIZE)};
    }

    void operationsReachTheDevice()
    {
        QFETCH(Operation, operation);
        QFETCH(QString, expected);
        QFETCH(QStringList, deviceSaw);
        QCOMPARE(operation(), expected);
        QCOMPARE(device.takeLines(deviceSaw.size()), deviceSaw);
    }

    // Two processes, each reading its own parameter over one node: a get is
    // two transfers, and another process's pair must never come in between.
    void getsFromTwoProcesses()
    {
        QVERIFY(setSampleRate(kRate, Ram));
        QVERIFY(setGpioDirection(kDirection, Ram));
        QProcess children[2];
        children[0].start(QCoreApplication::applicationFilePath(), {"--get-loop", "rate"});
        children[1].start(QCoreApplication::applicationFilePath(), {"--get-loop", "direction"});
        for (QProcess &child : children) {
            QVERIFY(child.waitForFinished(120000));
            QCOMPARE(QString::fromLatin1(child.readAllStandardOutput()).trimmed(), QStringLiteral("wrong 0 failed 0"));
        }
        device.takeLines(8 * kGetsPerProcess, 5000);
    }

    // Each kind of exchange right after a re-plug (a new hidraw node) and
    // while the board is away; the name the caller holds stays the old one.
    void replugBeforeAnExchange_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("away"); // unplugged during the first try, then back
        const Operation input = [] {
            std::uint8_t levels = 0;
            bool bit1 = false, bit5 = false;
            return readGpio(levels, bit1, bit5) ? QString::asprintf("%02x", levels) : QStringLiteral("failed");
        };
        QTest::newRow("re-plug, get") << getter(getSampleRate) << QString::number(kRate) << false;
        QTest::newRow("re-plug, set") << done([] { return setReportMode(1, Ram); }) << "ok" << false;
        QTest::newRow("re-plug, input report") << input << "a5" << false;
        QTest::newRow("re-plug, output report") << done([] { return writeGpio(0x0F); }) << "ok" << false;
        QTest::newRow("board away, get") << getter(getSampleRate) << QString::number(kRate) << true;
    }

    void replugBeforeAnExchange()
    {
        QFETCH(Operation, operation);
        QFETCH(QString, expected);
        QFETCH(bool, away);
        std::string name;
        QVERIFY(findController(name));
        QVERIFY(setSampleRate(kRate, Ram));
        QString error;
        QVERIFY2(away ? device.plug(false, error) : device.replug(error), qPrintable(error));
        if (away) {
            QCOMPARE(operation(), QStringLiteral("failed"));
            QVERIFY2(device.plug(true, error), qPrintable(error));
        }
        QCOMPARE(operation(), expected);
        QCOMPARE(deadDescriptors(), QStringList{});
    }

    // The CLI held between a set and its read-back while the board is re-plugged.
    void cliGoesOnAfterReplug()
    {
        const CliRun run = runCli({"set", "sample-rate=77"}, device, 2);
        QCOMPARE(run.output, QString());
        QCOMPARE(run.exitCode, 0);
    }

    // The serial number comes from the device's string descriptor, which
    // the firmware serves from the number it holds, in this process and in
    // a new one; with the USB device node out of reach, the plug-in copy is
    // marked as possibly stale.
    void serialNumberIsReadLive()
    {
        device.changeFirmware([](sim::FirmwareModel &f) { f.serial = "OLD000001"; });
        QString error;
        QVERIFY2(device.replug(error), qPrintable(error)); // the host's copy is OLD000001 now
        QCOMPARE(foundSerial(), QStringLiteral("OLD000001 live"));
        QVERIFY(setSerialNumber("NEW000002"));
        std::string serial;
        QVERIFY(getSerialNumber(serial));
        QCOMPARE(serial, std::string("NEW000002"));
        QCOMPARE(foundSerial(), QStringLiteral("NEW000002 live"));
        QCOMPARE(runCli({"serial"}, device).output, QStringLiteral("NEW000002"));

        // The old number back: sent, not skipped as unchanged.
        device.takeLines();
        QCOMPARE(runCli({"serial", "OLD000001"}, device).exitCode, 0);
        QCOMPARE(device.takeLines(1).filter("set-feature").size(), 1);

        QVERIFY(QDir("/dev").rename("bus", "bus.away"));
        const QString hidden = foundSerial();
        QVERIFY(QDir("/dev").rename("bus.away", "bus"));
        QCOMPARE(hidden, QStringLiteral("OLD000001 may-be-stale"));
    }

    // A serial-number write the controller ignores is caught by the CLI's
    // read-back of the live number.
    void cliCatchesAnIgnoredSerialWrite()
    {
        device.changeFirmware([](sim::FirmwareModel &f) { f.ignoreWrites = true; });
        const CliRun ignored = runCli({"serial", "IGNORED01"}, device);
        device.changeFirmware([](sim::FirmwareModel &f) { f.ignoreWrites = false; });
        QCOMPARE(ignored.exitCode, 1);
    }

    // REDI_DEVICE as a path: resolved, and only the controller counts.
    void deviceChoice_data()
    {
        QTest::addColumn<QString>("env"); // "other" stands for the other device's node
        QTest::addColumn<bool>("found");
        QTest::newRow("a symlink to it") << "/tmp/vnkestrix" << true;
        QTest::newRow("another HID device's node") << "other" << false;
    }

    void deviceChoice()
    {
        QFETCH(QString, env);
        QFETCH(bool, found);
        QFile::remove("/tmp/vnkestrix");
        QVERIFY(QFile::link(device.hidrawPath(), "/tmp/vnkestrix"));
        const QString value = env == "other" ? other.hidrawPath() : env;
        qputenv("REDI_DEVICE", value.toLocal8Bit());
        std::string name;
        const bool ok = findController(name);
        qunsetenv("REDI_DEVICE");
        QCOMPARE(ok, found);
        QCOMPARE(device.takeLines(), QStringList{}); // finding sends no report
        if (found) {
            QCOMPARE(QString::fromStdString(name), device.hidrawPath());
            QCOMPARE(getFirmwareRevision(), std::string("1.23")); // from the device's bcdDevice
        }
    }

    // Two controllers: the library's listing names both with their nodes
    // (the first one's serial number is whatever the serial rows left), and
    // the one REDI_DEVICE names is the one found. The second board takes the
    // other device's place on dummy_hcd's second device controller.
    void listsTwoControllers()
    {
        other.stop();
        sim::FirmwareModel firmware;
        firmware.serial = "KSTRX-043";
        VirtualController second{1};
        QString error;
        QVERIFY2(second.start(firmware, 0x0123, error), qPrintable(error));
        std::vector<AttachedController> controllers;
        QCOMPARE(int(listControllers(controllers)), int(Listing::Listed));
        QStringList listed;
        for (const AttachedController &c : controllers)
            listed << QString::fromStdString(c.device + ' ' + std::to_string(c.openError));
        listed.sort();
        QStringList expected{device.hidrawPath() + " 0", second.hidrawPath() + " 0"};
        expected.sort();
        QVERIFY2(listed == expected, qPrintable("listed: " + listed.join(", ") + "; want: " + expected.join(", ")));
        QVERIFY(std::any_of(controllers.begin(), controllers.end(),
                            [](const AttachedController &c) { return c.serialNumber == "KSTRX-043"; }));

        qputenv("REDI_DEVICE", second.hidrawPath().toLocal8Bit());
        std::string name;
        const bool found = findController(name);
        qunsetenv("REDI_DEVICE");
        QVERIFY(found);
        QCOMPARE(QString::fromStdString(name), second.hidrawPath());
        QCOMPARE(controllerSerialNumber(), std::string("KSTRX-043"));
    }
};

// Started again by getsFromTwoProcesses with --get-loop, it is one of the
// two getting processes instead.
int main(int argc, char *argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--get-loop")
        return getLoop(argv[2]);
    QCoreApplication app(argc, argv);
    KernelRediTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_kernel_redi.moc"
