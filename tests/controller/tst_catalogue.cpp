// Golden bytes of every catalogue request, the values gets deliver, and the
// range refusals that must send nothing.
#include "controller_link.h"
#include "controller_sim.h"
#include "golden.h"
#include "parameter_catalogue.h"

#include <QTest>

#include <cmath>
#include <functional>
#include <limits>

using Call = std::function<bool()>;
using Get = std::function<bool(double &)>;
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(Get)

namespace {

// A getter of any value type, delivering into a double for the table.
template <typename T>
Get getter(bool (*get)(T &))
{
    return [get](double &out) {
        T value{};
        if (!get(value))
            return false;
        out = static_cast<double>(value);
        return true;
    };
}

} // namespace

class CatalogueTest : public QObject
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

    void setRequests_data();
    void setRequests();
    void getRequests_data();
    void getRequests();
    void refusedValuesSendNothing_data();
    void refusedValuesSendNothing();
    void firmwareRevision_data();
    void firmwareRevision();
};

void CatalogueTest::setRequests_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QByteArray>("request");

    QTest::newRow("report mode RAM") << Call([] { return setReportMode(1, Ram); }) << golden("00000001000001");
    QTest::newRow("report mode flash") << Call([] { return setReportMode(0, Flash); }) << golden("00000101000000");
    QTest::newRow("sample rate RAM") << Call([] { return setSampleRate(100, Ram); }) << golden("0000000201006400");
    QTest::newRow("sample rate flash") << Call([] { return setSampleRate(0x1234, Flash); }) << golden("0000010201003412");
    QTest::newRow("strobe 0.1 s") << Call([] { return setWatchdogStrobe(0.1f, Ram); }) << golden("0000000202000100");
    QTest::newRow("strobe 0.7 s rounds") << Call([] { return setWatchdogStrobe(0.7f, Ram); }) << golden("0000000202000700");
    QTest::newRow("strobe 0.15 s rounds up") << Call([] { return setWatchdogStrobe(0.15f, Flash); }) << golden("0000010202000200");
    QTest::newRow("delay 1.0 s") << Call([] { return setWatchdogDelay(1.0f, Ram); }) << golden("0000000203000a00");
    QTest::newRow("delay 1.3 s rounds") << Call([] { return setWatchdogDelay(1.3f, Flash); }) << golden("0000010203000d00");
    QTest::newRow("delay 6000 s") << Call([] { return setWatchdogDelay(6000.0f, Ram); }) << golden("00000002030060ea");
    QTest::newRow("S3 mode") << Call([] { return setS3SignalizationMode(1, Flash); }) << golden("00000101040001");
    QTest::newRow("watchdog mode") << Call([] { return setWatchdogMode(2, Ram); }) << golden("00000001050002");
    QTest::newRow("watchdog sources") << Call([] { return setWatchdogSources(0xF1, Flash); }) << golden("000001010600f1");
    QTest::newRow("power settings") << Call([] { return setPowerSettings(0x1D, Ram); }) << golden("0000000107001d");
    QTest::newRow("GPIO direction") << Call([] { return setGpioDirection(0xF4, Ram); }) << golden("000000010100f4");
    QTest::newRow("GPIO output mode") << Call([] { return setGpioOutputMode(0x81, Flash); }) << golden("00000101020081");
    QTest::newRow("GPIO standby mode") << Call([] { return setGpioStandbyMode(0xFF, Ram); }) << golden("000000010300ff");
    QTest::newRow("any non-zero target is flash")
        << Call([] { return setGpioDirection(0x01, static_cast<Target>(7)); }) << golden("00000101010001");
    QTest::newRow("reset THRM pin") << Call(resetThrmPin) << golden("0000800000");
    QTest::newRow("serve watchdog") << Call(serveWatchdog) << golden("0000800001");
    QTest::newRow("reset watchdog pin") << Call(resetWatchdogPin) << golden("0000800002");
    QTest::newRow("serial A") << Call([] { return setSerialNumber("A"); })
                              << golden("000001140000555342534e14034100");
    QTest::newRow("serial nine bytes")
        << Call([] { return setSerialNumber("123456789"); })
        << golden("000001140000555342534e1403310032003300340035003600370038003900");
}

void CatalogueTest::setRequests()
{
    QFETCH(Call, call);
    QFETCH(QByteArray, request);

    QVERIFY(call());
    const auto calls = sim::calls(sim::Function::Feature);
    QCOMPARE(calls.size(), std::size_t(1));
    QCOMPARE(calls[0].get, 0);
    QCOMPARE(QByteArray::fromStdString(calls[0].device), QByteArray(sim::DefaultDeviceName));
    QCOMPARE(toByteArray(calls[0].request).toHex(), request.toHex());
}

void CatalogueTest::getRequests_data()
{
    QTest::addColumn<Get>("get");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("param");
    QTest::addColumn<int>("stored");
    QTest::addColumn<double>("delivered");

    auto p = [](sim::Param param) { return static_cast<int>(param); };
    QTest::newRow("report mode") << getter(getReportMode) << golden("0001000100") << p(sim::Param::ReportMode) << 1 << 1.0;
    QTest::newRow("S3 mode") << getter(getS3SignalizationMode) << golden("0001000104") << p(sim::Param::S3Mode) << 1 << 1.0;
    QTest::newRow("watchdog mode") << getter(getWatchdogMode) << golden("0001000105") << p(sim::Param::WatchdogMode) << 2 << 2.0;
    QTest::newRow("watchdog sources") << getter(getWatchdogSources) << golden("0001000106") << p(sim::Param::WatchdogSources) << 0xF1 << 241.0;
    QTest::newRow("power settings") << getter(getPowerSettings) << golden("0001000107") << p(sim::Param::PowerSettings) << 0xE5 << 229.0;
    QTest::newRow("GPIO direction") << getter(getGpioDirection) << golden("0001000101") << p(sim::Param::GpioDirection) << 0xF0 << 240.0;
    QTest::newRow("GPIO output mode") << getter(getGpioOutputMode) << golden("0001000102") << p(sim::Param::GpioOutputMode) << 0x81 << 129.0;
    QTest::newRow("GPIO standby mode") << getter(getGpioStandbyMode) << golden("0001000103") << p(sim::Param::GpioStandbyMode) << 0x3C << 60.0;
    QTest::newRow("sample rate") << getter(getSampleRate) << golden("0001000201") << p(sim::Param::SampleRate) << 0xEA60 << 60000.0;
    QTest::newRow("strobe in seconds") << getter(getWatchdogStrobe) << golden("0001000202") << p(sim::Param::WatchdogStrobe) << 12 << double(1.2f);
    QTest::newRow("delay in seconds") << getter(getWatchdogDelay) << golden("0001000203") << p(sim::Param::WatchdogDelay) << 60000 << 6000.0;
}

void CatalogueTest::getRequests()
{
    QFETCH(Get, get);
    QFETCH(QByteArray, request);
    QFETCH(int, param);
    QFETCH(int, stored);
    QFETCH(double, delivered);

    // The reply comes from RAM; flash holds something else.
    sim::setRamValue(static_cast<sim::Param>(param), static_cast<std::uint16_t>(stored));
    sim::setFlashValue(static_cast<sim::Param>(param), 0);

    double value = -1;
    QVERIFY(get(value));
    QCOMPARE(value, delivered);
    const auto calls = sim::calls(sim::Function::Feature);
    QCOMPARE(calls.size(), std::size_t(1));
    QCOMPARE(calls[0].get, 1);
    QCOMPARE(toByteArray(calls[0].request).toHex(), request.toHex());

    // A failed get leaves the caller's variable alone.
    sim::failNext(sim::Function::Feature);
    value = -1;
    QVERIFY(!get(value));
    QCOMPARE(value, -1.0);
}

void CatalogueTest::refusedValuesSendNothing_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<bool>("demo");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char *name;
        Call call;
    } refused[] = {
        {"report mode 2", [] { return setReportMode(2, Ram); }},
        {"S3 mode 2", [] { return setS3SignalizationMode(2, Flash); }},
        {"watchdog mode 3", [] { return setWatchdogMode(3, Ram); }},
        {"sample rate 0", [] { return setSampleRate(0, Ram); }},
        {"delay 0.5 s", [] { return setWatchdogDelay(0.5f, Ram); }},
        {"delay 6000.1 s", [] { return setWatchdogDelay(6000.1f, Flash); }},
        {"strobe 0.09 s", [] { return setWatchdogStrobe(0.09f, Ram); }},
        {"strobe 6000.5 s", [] { return setWatchdogStrobe(6000.5f, Ram); }},
        {"strobe NaN", [nan] { return setWatchdogStrobe(nan, Ram); }},
        {"delay infinity", [] { return setWatchdogDelay(std::numeric_limits<float>::infinity(), Ram); }},
        {"empty serial", [] { return setSerialNumber(""); }},
        {"ten-byte serial", [] { return setSerialNumber("0123456789"); }},
    };
    for (const auto &row : refused) {
        QTest::addRow("%s, hardware", row.name) << row.call << false;
        QTest::addRow("%s, demo", row.name) << row.call << true;
    }
}

void CatalogueTest::refusedValuesSendNothing()
{
    QFETCH(Call, call);
    QFETCH(bool, demo);

    setDemoMode(demo);
    const bool accepted = call();
    setDemoMode(false);
    QVERIFY(!accepted);
    QVERIFY(sim::calls().empty());
}

void CatalogueTest::firmwareRevision_data()
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

void CatalogueTest::firmwareRevision()
{
    QFETCH(int, release);
    QFETCH(QString, text);

    sim::setReleaseNumber(static_cast<std::uint16_t>(release));
    std::string serial;
    QVERIFY(getSerialNumber(serial)); // refreshes the device record
    QCOMPARE(QString::fromStdString(getFirmwareRevision()), text);
}

QTEST_APPLESS_MAIN(CatalogueTest)
#include "tst_catalogue.moc"
