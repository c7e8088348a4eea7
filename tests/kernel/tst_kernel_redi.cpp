// The controller link and catalogue over the real libredi, hidapi, hidraw,
// usbhid and usbcore, against the virtual controller, a USB gadget. Runs
// inside the test VM only (run_kernel_suite.sh boots it); every row checks
// what the operation delivered and the exact bytes the device received.
#include "controller_link.h"
#include "parameter_catalogue.h"
#include "redi.h"
#include "virtual_controller.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
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

// One parameter: a RAM set, a get of that value and a flash set, each with
// the value it is given and the value its request must carry.
struct ParameterCase {
    const char *name;
    int length, index;
    Setter set;
    Operation get;
    double ram;
    unsigned ramSent;
    double flash;
    unsigned flashSent;
};

} // namespace

class KernelRediTest : public QObject
{
    Q_OBJECT

    VirtualController device;

private slots:
    void initTestCase()
    {
        sim::FirmwareModel firmware;
        firmware.serial = "KSTRX-042";
        firmware.inputLevels = 0xa5;
        firmware.status = 0x02;
        QString error;
        QVERIFY2(device.start(firmware, 0x0123, error), qPrintable(error));
    }

    void cleanupTestCase() { device.stop(); }

    // A row that failed half-way leaves its reports behind; they are not the next row's.
    void init() { device.takeLines(); }

    void findsTheVirtualController()
    {
        std::string name;
        QVERIFY(findController(name));
        QCOMPARE(QString::fromStdString(name), device.hidrawPath());
        QCOMPARE(controllerSerialNumber(), std::string("KSTRX-042"));
        QCOMPARE(controllerReleaseNumber(), std::uint16_t{0x0123}); // the device's bcdDevice
        QCOMPARE(QString::fromStdString(getFirmwareRevision()), QStringLiteral("1.23"));

        std::string serial;
        QVERIFY(getSerialNumber(serial));
        QCOMPARE(serial, std::string("KSTRX-042"));
        QCOMPARE(device.takeLines(), QStringList{}); // finding sends no report
    }

    void operationsReachTheDevice_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("deviceSaw");

        const std::vector<ParameterCase> parameters = {
            {"report mode", 1, 0, setter(setReportMode), getter(getReportMode), 1, 1, 0, 0},
            {"sample rate", 2, 1, setter(setSampleRate), getter(getSampleRate), 250, 250, 0x1234, 0x1234},
            {"watchdog strobe", 2, 2, setter(setWatchdogStrobe), getter(getWatchdogStrobe), 0.7, 7, 0.1, 1},
            {"watchdog delay", 2, 3, setter(setWatchdogDelay), getter(getWatchdogDelay), 1.3, 13, 6000, 60000},
            {"S3 mode", 1, 4, setter(setS3SignalizationMode), getter(getS3SignalizationMode), 1, 1, 0, 0},
            {"watchdog mode", 1, 5, setter(setWatchdogMode), getter(getWatchdogMode), 2, 2, 1, 1},
            {"watchdog sources", 1, 6, setter(setWatchdogSources), getter(getWatchdogSources), 0xF1, 0xF1, 0x0C, 0x0C},
            {"power settings", 1, 7, setter(setPowerSettings), getter(getPowerSettings), 0x1D, 0x1D, 0x80, 0x80},
            {"GPIO direction", 1, 1, setter(setGpioDirection), getter(getGpioDirection), 0xF4, 0xF4, 0x0F, 0x0F},
            {"GPIO output mode", 1, 2, setter(setGpioOutputMode), getter(getGpioOutputMode), 0x81, 0x81, 0x7E, 0x7E},
            {"GPIO standby mode", 1, 3, setter(setGpioStandbyMode), getter(getGpioStandbyMode), 0xFF, 0xFF, 0, 0},
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
        for (const ParameterCase &p : parameters)
            QTest::addRow("%s: set flash", p.name) << Operation([p] { return p.set(p.flash, Flash); }) << "ok"
                                                   << QStringList{sent(requestHex(0, 1, p.length, p.index, p.flashSent))};

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

    void timesOneGet()
    {
        constexpr int rounds = 200;
        std::vector<qint64> nanoseconds;
        QElapsedTimer clock;
        for (int i = 0; i < rounds; ++i) {
            std::uint16_t rate = 0;
            clock.start();
            const bool ok = getSampleRate(rate);
            nanoseconds.push_back(clock.nsecsElapsed());
            QVERIFY(ok);
            QCOMPARE(rate, std::uint16_t{250});
        }
        std::sort(nanoseconds.begin(), nanoseconds.end());
        qInfo("one get (request and reply) through hidraw and USB: median %.3f ms, fastest %.3f ms, "
              "slowest %.3f ms over %d gets",
              nanoseconds[rounds / 2] / 1e6, nanoseconds.front() / 1e6, nanoseconds.back() / 1e6, rounds);
        QCOMPARE(device.takeLines(2 * rounds).size(), 2 * rounds);
    }
};

QTEST_GUILESS_MAIN(KernelRediTest)
#include "tst_kernel_redi.moc"
