// The controller link and catalogue over the real libredi, hidapi, hidraw and
// the kernel's HID core, against the virtual controller on /dev/uhid. Runs
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

using Call = std::function<QString()>;
Q_DECLARE_METATYPE(Call)

namespace {

template <typename T>
Call getText(bool (*get)(T &))
{
    return [get] {
        T value{};
        return get(value) ? QString::number(static_cast<double>(value)) : QStringLiteral("failed");
    };
}

Call result(std::function<bool()> operation)
{
    return [operation] { return operation() ? QStringLiteral("ok") : QStringLiteral("failed"); };
}

QString featureSet(const char *hex, const char *verdict = "ok")
{
    return QStringLiteral("set-feature %1 %2").arg(VirtualController::reportHex(hex), QLatin1String(verdict));
}

QString featureGet(const char *replyHex)
{
    return QStringLiteral("get-feature %1 ok").arg(VirtualController::reportHex(replyHex));
}

// One parameter: a RAM set, a get of that value and a flash set.
struct ParameterCase {
    const char *name;
    Call setRam;
    const char *setRamHex;
    Call get;
    const char *getHex;
    const char *replyHex;
    const char *value;
    Call setFlash;
    const char *setFlashHex;
};

} // namespace

class KernelRediTest : public QObject
{
    Q_OBJECT

    VirtualController device;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(device.start({"--serial", "KSTRX-042", "--version", "0x0123", "--input-levels", "0xa5",
                               "--status", "0x02"},
                              error),
                 qPrintable(error));
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
        // hidapi reads the release number from the USB device above the HID
        // device (bcdDevice). A uhid device has none, so whatever version and
        // bus type the create request gives, hidapi reports 0 here. A number
        // that does arrive must be the one the device announced.
        const std::uint16_t release = controllerReleaseNumber();
        if (release != 0)
            QCOMPARE(release, std::uint16_t{0x0123});

        std::string serial;
        QVERIFY(getSerialNumber(serial));
        QCOMPARE(serial, std::string("KSTRX-042"));
        QCOMPARE(device.takeLines(), QStringList{}); // finding sends no report
    }

    void operationsReachTheDevice_data()
    {
        QTest::addColumn<Call>("operation");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("deviceSaw");

        const std::vector<ParameterCase> parameters = {
            {"report mode", result([] { return setReportMode(1, Ram); }), "00000001000001",
             getText(getReportMode), "0001000100", "000001", "1",
             result([] { return setReportMode(0, Flash); }), "00000101000000"},
            {"sample rate", result([] { return setSampleRate(250, Ram); }), "000000020100fa00",
             getText(getSampleRate), "0001000201", "0000fa00", "250",
             result([] { return setSampleRate(0x1234, Flash); }), "0000010201003412"},
            {"watchdog strobe", result([] { return setWatchdogStrobe(0.7f, Ram); }), "0000000202000700",
             getText(getWatchdogStrobe), "0001000202", "00000700", "0.7",
             result([] { return setWatchdogStrobe(0.1f, Flash); }), "0000010202000100"},
            {"watchdog delay", result([] { return setWatchdogDelay(1.3f, Ram); }), "0000000203000d00",
             getText(getWatchdogDelay), "0001000203", "00000d00", "1.3",
             result([] { return setWatchdogDelay(6000.0f, Flash); }), "00000102030060ea"},
            {"S3 mode", result([] { return setS3SignalizationMode(1, Ram); }), "00000001040001",
             getText(getS3SignalizationMode), "0001000104", "000001", "1",
             result([] { return setS3SignalizationMode(0, Flash); }), "00000101040000"},
            {"watchdog mode", result([] { return setWatchdogMode(2, Ram); }), "00000001050002",
             getText(getWatchdogMode), "0001000105", "000002", "2",
             result([] { return setWatchdogMode(1, Flash); }), "00000101050001"},
            {"watchdog sources", result([] { return setWatchdogSources(0xF1, Ram); }), "000000010600f1",
             getText(getWatchdogSources), "0001000106", "0000f1", "241",
             result([] { return setWatchdogSources(0x0C, Flash); }), "0000010106000c"},
            {"power settings", result([] { return setPowerSettings(0x1D, Ram); }), "0000000107001d",
             getText(getPowerSettings), "0001000107", "00001d", "29",
             result([] { return setPowerSettings(0x80, Flash); }), "00000101070080"},
            {"GPIO direction", result([] { return setGpioDirection(0xF4, Ram); }), "000000010100f4",
             getText(getGpioDirection), "0001000101", "0000f4", "244",
             result([] { return setGpioDirection(0x0F, Flash); }), "0000010101000f"},
            {"GPIO output mode", result([] { return setGpioOutputMode(0x81, Ram); }), "00000001020081",
             getText(getGpioOutputMode), "0001000102", "000081", "129",
             result([] { return setGpioOutputMode(0x7E, Flash); }), "0000010102007e"},
            {"GPIO standby mode", result([] { return setGpioStandbyMode(0xFF, Ram); }), "000000010300ff",
             getText(getGpioStandbyMode), "0001000103", "0000ff", "255",
             result([] { return setGpioStandbyMode(0x00, Flash); }), "00000101030000"},
        };
        // Every RAM set before any get, so that a get which reached the wrong
        // parameter (indexes 1 to 3 exist at both lengths) reads another's value.
        for (const ParameterCase &p : parameters)
            QTest::addRow("%s: set RAM", p.name) << p.setRam << "ok" << QStringList{featureSet(p.setRamHex)};
        for (const ParameterCase &p : parameters)
            QTest::addRow("%s: get", p.name)
                << p.get << p.value << QStringList{featureSet(p.getHex), featureGet(p.replyHex)};
        for (const ParameterCase &p : parameters)
            QTest::addRow("%s: set flash", p.name)
                << p.setFlash << "ok" << QStringList{featureSet(p.setFlashHex)};

        QTest::newRow("reset THRM pin") << result(resetThrmPin) << "ok" << QStringList{featureSet("0000800000")};
        QTest::newRow("serve watchdog") << result(serveWatchdog) << "ok" << QStringList{featureSet("0000800001")};
        QTest::newRow("reset watchdog pin")
            << result(resetWatchdogPin) << "ok" << QStringList{featureSet("0000800002")};

        QTest::newRow("serial number")
            << result([] { return setSerialNumber("KV-7"); }) << "ok"
            << QStringList{featureSet("000001140000555342534e14034b0056002d003700")};
        QTest::newRow("nine-letter serial number")
            << result([] { return setSerialNumber("ABCDEFGHI"); }) << "ok"
            << QStringList{featureSet("000001140000555342534e1403410042004300440045004600470048004900")};

        QTest::newRow("read GPIO")
            << Call([] {
                   std::uint8_t levels = 0;
                   bool bit1 = false, bit5 = true;
                   if (!readGpio(levels, bit1, bit5))
                       return QStringLiteral("failed");
                   return QStringLiteral("%1 %2 %3").arg(levels, 2, 16, QLatin1Char('0')).arg(int{bit1}).arg(int{bit5});
               })
            << "a5 1 0"
            << QStringList{QStringLiteral("get-input %1 ok").arg(VirtualController::reportHex("000000a500000000000002"))};
        QTest::newRow("write GPIO")
            << result([] { return writeGpio(0x3C); }) << "ok"
            << QStringList{QStringLiteral("output %1 ok").arg(VirtualController::reportHex("003c", 13))};
    }

    void operationsReachTheDevice()
    {
        QFETCH(Call, operation);
        QFETCH(QString, expected);
        QFETCH(QStringList, deviceSaw);
        QCOMPARE(operation(), expected);
        QCOMPARE(device.takeLines(deviceSaw.size()), deviceSaw);
    }

    // A request the device refuses must come back as a failure, not as a
    // success with a stale buffer, and the next request must work again.
    void refusedRequestIsAFailure_data()
    {
        QTest::addColumn<int>("get");
        QTest::newRow("set") << 0;
        QTest::newRow("get") << 1;
    }

    void refusedRequestIsAFailure()
    {
        QFETCH(int, get);
        std::string name;
        QVERIFY(findController(name));
        // Length 1, index 9: no such parameter.
        unsigned char report[REDI_REPORT_SIZE] = {0, static_cast<unsigned char>(get), 0, 1, 9};
        QCOMPARE(Usk_Feature_a(name.c_str(), report, get) & 0xFF, 0);
        QCOMPARE(device.takeLines(1), QStringList{featureSet(get ? "0001000109" : "0000000109", "refused")});

        std::uint8_t mode = 0xEE;
        QVERIFY(getReportMode(mode));
        QCOMPARE(mode, std::uint8_t{1});
        device.takeLines(2);
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
        qInfo("one get (request and reply) through hidraw and uhid: median %.3f ms, fastest %.3f ms, "
              "slowest %.3f ms over %d gets",
              nanoseconds[rounds / 2] / 1e6, nanoseconds.front() / 1e6, nanoseconds.back() / 1e6, rounds);
        QCOMPARE(device.takeLines(2 * rounds).size(), 2 * rounds);
    }
};

QTEST_GUILESS_MAIN(KernelRediTest)
#include "tst_kernel_redi.moc"
