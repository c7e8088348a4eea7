// The controller layer over the simulator: the golden bytes of every
// catalogue request, the values gets deliver, the range refusals that send
// nothing, the GPIO reports, the device record, and demo mode, which asks the
// library for nothing but the find.
#include "controller_link.h"
#include "controller_sim.h"
#include "parameter_catalogue.h"

#include <QTest>

#include <cmath>
#include <functional>

using Call = std::function<bool()>;
using Get = std::function<bool(double &)>;
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(Get)
Q_DECLARE_METATYPE(sim::Param)

namespace {

const QString findLine = QStringLiteral("Usk_FindSensor_a - sel=19 args=0,0,0,0,0,0 ok");

// The bytes given, then zeros up to the report's size, as hex.
QString golden(const char *hexBytes, int size = 33)
{
    return QString::fromLatin1(hexBytes).leftJustified(2 * size, QLatin1Char('0'));
}

QString featureLine(const char *device, int get, const char *hexBytes)
{
    return QStringLiteral("Usk_Feature_a %1 get=%2 ok req=%3").arg(device).arg(get).arg(golden(hexBytes));
}

// The calls since the log was last cleared, in the simulator's log format.
// What the simulator replied is its own business, so replies are left out.
QStringList loggedCalls()
{
    QStringList lines;
    for (const sim::Call &call : sim::calls())
        lines << QString::fromStdString(call.line()).section(QStringLiteral(" reply="), 0, 0);
    return lines;
}

// A getter of any value type, delivering into a double for the table.
template <typename T>
Get getter(bool (*get)(T &))
{
    return [get](double &out) {
        T value{};
        const bool ok = get(value);
        out = ok ? static_cast<double>(value) : out;
        return ok;
    };
}

} // namespace

class ControllerTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        sim::reset();
        setDemoMode(false);
        std::string name;
        QVERIFY(findController(name));
        sim::clearCalls();
    }
    void cleanup() { setDemoMode(false); }

    // Every set and action, and the values setters refuse (no request given)
    // before anything is sent; demo mode accepts what the controller would
    // and sends nothing either way.
    void setRequests_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<QString>("request");
        const auto row = [](const char *tag, Call call, const char *hex = nullptr) {
            QTest::newRow(tag) << call << (hex ? featureLine(sim::DefaultDeviceName, 0, hex) : QString());
        };

        row("report mode RAM", [] { return setReportMode(1, Ram); }, "00000001000001");
        row("report mode flash", [] { return setReportMode(0, Flash); }, "00000101000000");
        row("sample rate RAM", [] { return setSampleRate(100, Ram); }, "0000000201006400");
        row("sample rate flash", [] { return setSampleRate(0x1234, Flash); }, "0000010201003412");
        // Seconds become tenths rounded to the nearest: 0.7 s must not become 6.
        row("strobe 0.1 s", [] { return setWatchdogStrobe(0.1f, Ram); }, "0000000202000100");
        row("strobe 0.7 s", [] { return setWatchdogStrobe(0.7f, Ram); }, "0000000202000700");
        row("strobe 0.15 s", [] { return setWatchdogStrobe(0.15f, Flash); }, "0000010202000200");
        row("delay 1.0 s", [] { return setWatchdogDelay(1.0f, Ram); }, "0000000203000a00");
        row("delay 1.3 s", [] { return setWatchdogDelay(1.3f, Flash); }, "0000010203000d00");
        row("delay 6000 s", [] { return setWatchdogDelay(6000.0f, Ram); }, "00000002030060ea");
        row("S3 mode", [] { return setS3SignalizationMode(1, Flash); }, "00000101040001");
        row("watchdog mode", [] { return setWatchdogMode(2, Ram); }, "00000001050002");
        row("watchdog sources", [] { return setWatchdogSources(0xF1, Flash); }, "000001010600f1");
        row("power settings", [] { return setPowerSettings(0x1D, Ram); }, "0000000107001d");
        row("GPIO direction", [] { return setGpioDirection(0xF4, Ram); }, "000000010100f4");
        row("GPIO output mode", [] { return setGpioOutputMode(0x81, Flash); }, "00000101020081");
        row("GPIO standby mode", [] { return setGpioStandbyMode(0xFF, Ram); }, "000000010300ff");
        row("target 7 is flash", [] { return setGpioDirection(1, static_cast<Target>(7)); }, "00000101010001");
        row("reset THRM pin", resetThrmPin, "0000800000");
        row("serve watchdog", serveWatchdog, "0000800001");
        row("reset watchdog pin", resetWatchdogPin, "0000800002");
        row("serial A", [] { return setSerialNumber("A"); }, "000001140000555342534e14034100");
        row("serial of nine", [] { return setSerialNumber("123456789"); },
            "000001140000555342534e1403310032003300340035003600370038003900");

        row("refused report mode 2", [] { return setReportMode(2, Ram); });
        row("refused S3 mode 2", [] { return setS3SignalizationMode(2, Flash); });
        row("refused watchdog mode 3", [] { return setWatchdogMode(3, Ram); });
        row("refused sample rate 0", [] { return setSampleRate(0, Ram); });
        row("refused delay 0.5 s", [] { return setWatchdogDelay(0.5f, Ram); });
        row("refused delay 6000.1 s", [] { return setWatchdogDelay(6000.1f, Flash); });
        row("refused strobe 0.09 s", [] { return setWatchdogStrobe(0.09f, Ram); });
        row("refused strobe 6000.5 s", [] { return setWatchdogStrobe(6000.5f, Ram); });
        row("refused strobe NaN", [] { return setWatchdogStrobe(std::nanf(""), Ram); });
        row("refused delay infinity", [] { return setWatchdogDelay(HUGE_VALF, Ram); });
        row("refused empty serial", [] { return setSerialNumber(""); });
        row("refused serial of ten", [] { return setSerialNumber("0123456789"); });
    }

    void setRequests()
    {
        QFETCH(Call, call);
        QFETCH(QString, request);

        QCOMPARE(call(), !request.isEmpty());
        QCOMPARE(loggedCalls(), request.isEmpty() ? QStringList{} : QStringList{request});
        sim::clearCalls();
        setDemoMode(true);
        QCOMPARE(call(), !request.isEmpty());
        QCOMPARE(loggedCalls(), QStringList{});
    }

    void getRequests_data()
    {
        QTest::addColumn<Get>("get");
        QTest::addColumn<QString>("request");
        QTest::addColumn<sim::Param>("param");
        QTest::addColumn<int>("stored");
        QTest::addColumn<double>("delivered");
        QTest::addColumn<double>("demo"); // demo mode reads the request back
        const auto row = [](const char *tag, Get get, const char *hex, sim::Param param, int stored,
                            double delivered, double demo) {
            QTest::newRow(tag) << get << featureLine(sim::DefaultDeviceName, 1, hex) << param << stored
                               << delivered << demo;
        };
        using P = sim::Param;

        row("report mode", getter(getReportMode), "0001000100", P::ReportMode, 1, 1, 0);
        row("S3 mode", getter(getS3SignalizationMode), "0001000104", P::S3Mode, 1, 1, 0);
        row("watchdog mode", getter(getWatchdogMode), "0001000105", P::WatchdogMode, 2, 2, 0);
        row("watchdog sources", getter(getWatchdogSources), "0001000106", P::WatchdogSources, 0xF1, 241, 0);
        row("power settings", getter(getPowerSettings), "0001000107", P::PowerSettings, 0xE5, 229, 0);
        row("GPIO direction", getter(getGpioDirection), "0001000101", P::GpioDirection, 0xF0, 240, 0);
        row("GPIO output mode", getter(getGpioOutputMode), "0001000102", P::GpioOutputMode, 0x81, 129, 0);
        row("GPIO standby mode", getter(getGpioStandbyMode), "0001000103", P::GpioStandbyMode, 0x3C, 60, 0);
        row("sample rate", getter(getSampleRate), "0001000201", P::SampleRate, 0xEA60, 60000, 512);
        row("strobe", getter(getWatchdogStrobe), "0001000202", P::WatchdogStrobe, 12, double(1.2f), double(51.2f));
        row("delay", getter(getWatchdogDelay), "0001000203", P::WatchdogDelay, 60000, 6000, double(51.2f));
    }

    void getRequests()
    {
        QFETCH(Get, get);
        QFETCH(QString, request);
        QFETCH(sim::Param, param);
        QFETCH(int, stored);
        QFETCH(double, delivered);
        QFETCH(double, demo);

        // The reply comes from RAM; flash holds something else.
        sim::setRamValue(param, static_cast<std::uint16_t>(stored));
        sim::setFlashValue(param, 0);
        double value = -1;
        QVERIFY(get(value));
        QCOMPARE(value, delivered);
        QCOMPARE(loggedCalls(), QStringList{request});

        // A failed get leaves the caller's variable alone.
        sim::failNext(sim::Function::Feature);
        value = -1;
        QVERIFY(!get(value));
        QCOMPARE(value, -1.0);

        sim::clearCalls();
        setDemoMode(true);
        QVERIFY(get(value));
        QCOMPARE(value, demo);
        QCOMPARE(loggedCalls(), QStringList{});
    }

    void firmwareRevision_data()
    {
        QTest::addColumn<int>("release");
        QTest::addColumn<QString>("text");

        QTest::newRow("1.0") << 0x0100 << "1.0";
        QTest::newRow("1.23") << 0x0123 << "1.23";
        QTest::newRow("12.3") << 0x1230 << "12.3";
        QTest::newRow("1.1") << 0x0110 << "1.1";
        QTest::newRow("10.0") << 0x1000 << "10.0";
        QTest::newRow("0.0") << 0x0000 << "0.0";
        QTest::newRow("nibble above 9") << 0x01A0 << "1.:";
        QTest::newRow("both ends") << 0x9909 << "99.09";
    }

    void firmwareRevision()
    {
        QFETCH(int, release);
        QFETCH(QString, text);

        sim::setReleaseNumber(static_cast<std::uint16_t>(release));
        std::string serial;
        QVERIFY(getSerialNumber(serial)); // refreshes the device record
        QCOMPARE(QString::fromStdString(getFirmwareRevision()), text);
    }

    void serialNumberRefreshesTheRecord()
    {
        sim::setSerialNumber("NEW42");
        sim::setReleaseNumber(0x0123);
        sim::setDeviceName("/dev/hidraw7");
        std::string serial;
        QVERIFY(getSerialNumber(serial));
        QCOMPARE(serial, std::string("NEW42"));
        QCOMPARE(getFirmwareRevision(), std::string("1.23"));
        // Later requests go to the device the record now names.
        QVERIFY(serveWatchdog());
        QCOMPARE(loggedCalls(), (QStringList{findLine, featureLine("/dev/hidraw7", 0, "0000800001")}));
    }

    void failedFindLeavesNameAlone()
    {
        sim::setAbsent(true);
        std::string name = "kept";
        QVERIFY(!findController(name));
        QCOMPARE(name, std::string("kept"));
        std::string serial = "kept";
        QVERIFY(!getSerialNumber(serial));
        QCOMPARE(serial, std::string("kept"));
    }

    void gpioLevels_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<bool>("flag1");
        QTest::addColumn<bool>("flag5");

        QTest::newRow("bit 1") << 0x02 << false << true << false;
        QTest::newRow("bit 5") << 0x20 << false << false << true;
        QTest::newRow("both") << 0x22 << false << true << true;
        QTest::newRow("all other bits") << 0xDD << false << false << false;
        QTest::newRow("failed read writes nothing") << 0x22 << true << false << false;
    }

    // The levels are byte 3 of the input report, the flags bits 1 and 5 of
    // byte 10.
    void gpioLevels()
    {
        QFETCH(int, status);
        QFETCH(bool, fails);
        QFETCH(bool, flag1);
        QFETCH(bool, flag5);

        sim::setInputLevels(0xA5);
        sim::setOutputLevels(0x3C); // the output side must not leak in
        sim::setStatusByte(static_cast<std::uint8_t>(status));
        if (fails)
            sim::failNext(sim::Function::GetInReport);
        // Each flag starts opposite to what a successful read must leave.
        std::uint8_t levels = 7;
        bool bit1 = fails ? flag1 : !flag1, bit5 = fails ? flag5 : !flag5;
        QCOMPARE(readGpio(levels, bit1, bit5), !fails);
        QCOMPARE(levels, std::uint8_t(fails ? 7 : 0xA5));
        QCOMPARE(bit1, flag1);
        QCOMPARE(bit5, flag5);
        QCOMPARE(loggedCalls(), QStringList{QStringLiteral("Usk_GetCurrentInReport_a /dev/hidraw-sim len=33 ")
                                            + (fails ? "injected" : "ok")});
    }

    void writeGpioSendsThirteenBytes()
    {
        QVERIFY(writeGpio(0x81));
        QCOMPARE(loggedCalls(), QStringList{"Usk_SendOutReport_a /dev/hidraw-sim len=13 timeout=1000 ok req="
                                            + golden("0081", 13)});
    }

    void demoModeOnlyFinds()
    {
        sim::setReleaseNumber(0x0205); // what the record will say; demo mode says 1.0
        setDemoMode(true);
        std::string text;
        QVERIFY(findController(text));
        QVERIFY(getSerialNumber(text));
        QCOMPARE(text, std::string("012345678"));
        QCOMPARE(getFirmwareRevision(), std::string("1.0"));
        std::uint8_t levels = 0x55;
        bool flag1 = true, flag5 = true;
        QVERIFY(readGpio(levels, flag1, flag5));
        QCOMPARE(levels, std::uint8_t(0));
        QVERIFY(flag1 && flag5); // the flags are not written in demo mode
        QVERIFY(writeGpio(0x81));
        QCOMPARE(loggedCalls(), QStringList{findLine});
    }
};

QTEST_APPLESS_MAIN(ControllerTest)
#include "tst_controller.moc"
