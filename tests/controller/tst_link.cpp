// The controller link: what reaches the library, what demo mode answers
// without it, and the device record's refresh.
#include "controller_link.h"
#include "controller_sim.h"
#include "golden.h"
#include "parameter_catalogue.h"

#include <QTest>

class LinkTest : public QObject
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

    void demoModeNeverCallsTheLibrary();
    void findIsAskedInDemoModeToo();
    void readGpioTakesByteThreeAndTwoFlags_data();
    void readGpioTakesByteThreeAndTwoFlags();
    void failedReadGpioWritesNothing();
    void writeGpioSendsThirteenBytes();
    void serialNumberRefreshesTheRecord();
    void failedFindLeavesNameAlone();
};

void LinkTest::demoModeNeverCallsTheLibrary()
{
    setDemoMode(true);
    std::uint8_t byte = 0xAA;
    std::uint16_t word = 0;
    float delay = 0, strobe = 0;
    std::string serial;

    QVERIFY(getGpioDirection(byte));
    QCOMPARE(byte, std::uint8_t(0)); // a get reads its own request back
    QVERIFY(getSampleRate(word));
    QCOMPARE(word, std::uint16_t(512));
    QVERIFY(getWatchdogDelay(delay) && getWatchdogStrobe(strobe));
    QCOMPARE(delay, 51.2f);
    QCOMPARE(strobe, 51.2f);
    QVERIFY(getSerialNumber(serial));
    QCOMPARE(serial, std::string("012345678"));
    QCOMPARE(getFirmwareRevision(), std::string("1.0"));

    QVERIFY(setPowerSettings(0xFF, Flash) && serveWatchdog() && setSerialNumber("X"));
    std::uint8_t levels = 0x55;
    bool flag1 = true, flag5 = true;
    QVERIFY(readGpio(levels, flag1, flag5));
    QCOMPARE(levels, std::uint8_t(0));
    QVERIFY(flag1 && flag5); // the flags are not written in demo mode
    QVERIFY(writeGpio(0x81));

    QVERIFY(sim::calls().empty());
}

void LinkTest::findIsAskedInDemoModeToo()
{
    setDemoMode(true);
    std::string name;
    QVERIFY(findController(name));
    QCOMPARE(sim::calls(sim::Function::FindSensor).size(), std::size_t(1));
    QCOMPARE(sim::calls()[0].selector, 19);
}

void LinkTest::readGpioTakesByteThreeAndTwoFlags_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("flag1");
    QTest::addColumn<bool>("flag5");

    QTest::newRow("bit 1") << 0x02 << true << false;
    QTest::newRow("bit 5") << 0x20 << false << true;
    QTest::newRow("both") << 0x22 << true << true;
    QTest::newRow("all other bits") << 0xDD << false << false;
}

void LinkTest::readGpioTakesByteThreeAndTwoFlags()
{
    QFETCH(int, status);
    QFETCH(bool, flag1);
    QFETCH(bool, flag5);

    sim::setInputLevels(0xA5);
    sim::setOutputLevels(0x3C); // byte 1 of the output side must not leak in
    sim::setStatusByte(static_cast<std::uint8_t>(status));
    std::uint8_t levels = 0;
    bool bit1 = !flag1, bit5 = !flag5;
    QVERIFY(readGpio(levels, bit1, bit5));
    QCOMPARE(levels, std::uint8_t(0xA5));
    QCOMPARE(bit1, flag1);
    QCOMPARE(bit5, flag5);
    const auto calls = sim::calls(sim::Function::GetInReport);
    QCOMPARE(calls.size(), std::size_t(1));
    QCOMPARE(calls[0].length, 33);
}

void LinkTest::failedReadGpioWritesNothing()
{
    sim::setInputLevels(0xFF);
    sim::setStatusByte(0x22);
    sim::failNext(sim::Function::GetInReport);
    std::uint8_t levels = 7;
    bool bit1 = false, bit5 = false;
    QVERIFY(!readGpio(levels, bit1, bit5));
    QCOMPARE(levels, std::uint8_t(7));
    QVERIFY(!bit1 && !bit5);
}

void LinkTest::writeGpioSendsThirteenBytes()
{
    QVERIFY(writeGpio(0x81));
    const auto calls = sim::calls(sim::Function::SendOutReport);
    QCOMPARE(calls.size(), std::size_t(1));
    QCOMPARE(calls[0].length, 13);
    QCOMPARE(calls[0].timeout, 1000);
    QCOMPARE(toByteArray(calls[0].request).toHex(), golden("0081", 13).toHex());
    QCOMPARE(sim::outputLevels(), std::uint8_t(0x81));
}

void LinkTest::serialNumberRefreshesTheRecord()
{
    sim::setSerialNumber("NEW42");
    sim::setReleaseNumber(0x0123);
    sim::setDeviceName("/dev/hidraw7");
    std::string serial;
    QVERIFY(getSerialNumber(serial));
    QCOMPARE(serial, std::string("NEW42"));
    QCOMPARE(getFirmwareRevision(), std::string("1.23"));
    QCOMPARE(sim::calls(sim::Function::FindSensor).size(), std::size_t(1));

    // Later requests go to the device the record now names.
    QVERIFY(serveWatchdog());
    QCOMPARE(sim::calls(sim::Function::Feature).back().device, std::string("/dev/hidraw7"));
}

void LinkTest::failedFindLeavesNameAlone()
{
    sim::setAbsent(true);
    std::string name = "kept";
    QVERIFY(!findController(name));
    QCOMPARE(name, std::string("kept"));
    std::string serial = "kept";
    QVERIFY(!getSerialNumber(serial));
    QCOMPARE(serial, std::string("kept"));
}

QTEST_APPLESS_MAIN(LinkTest)
#include "tst_link.moc"
