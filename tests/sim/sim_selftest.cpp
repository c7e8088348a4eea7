// The simulator's own faults that would mislead every suite built on it:
// requests it takes that the firmware refuses (or the other way round), get
// replies from the wrong bank, failure rules that fail the wrong call, and
// state text that does not read back. The drop-in's files and variables are
// exercised by the command-line and end-to-end suites.
#include "controller_sim.h"

#include <redi.h>

#include <QtTest>

namespace {

// `hex`, then zeros up to `size` bytes.
QByteArray report(const QString &hex, int size = REDI_REPORT_SIZE)
{
    return QByteArray::fromHex(hex.toLatin1()).leftJustified(size, '\0');
}

unsigned char *bytes(QByteArray &b) { return reinterpret_cast<unsigned char *>(b.data()); }

// The state lines that `after` has and `before` has not.
QString changedLines(const std::string &before, const std::string &after)
{
    const QStringList old = QString::fromStdString(before).split('\n');
    QStringList changed;
    for (const QString &line : QString::fromStdString(after).split('\n'))
        if (!old.contains(line))
            changed << line;
    return changed.join(' ');
}

} // namespace

class SimSelfTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { sim::reset(); }

    // `result`: the reply of a get, "ok" for a set, "rejected" when the
    // firmware must refuse it (and change neither the state nor the buffer).
    void featureRequests_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<int>("get");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("changed");
        const QString serial = "000001140000555342534e1403";

        QTest::newRow("get of 2 bytes, from RAM") << "0001000201" << 1 << "00003412" << "";
        QTest::newRow("get of 1 byte") << "0001000101" << 1 << "0000f0" << "";
        QTest::newRow("set RAM") << "00000001040001" << 0 << "ok" << "ram.s3_mode=1";
        QTest::newRow("set flash") << "0000010203005802" << 0 << "ok" << "flash.watchdog_delay=600";
        QTest::newRow("action") << "0000800001" << 0 << "ok" << "actions.serve_watchdog=1";
        QTest::newRow("serial number") << serial + "41004200" << 0 << "ok" << "serial=AB";
        QTest::newRow("serial of nine") << serial + "310032003300340035003600370038003900" << 0 << "ok"
                                        << "serial=123456789";

        QTest::newRow("no parameter (1, 8)") << "0001000108" << 1 << "rejected" << "";
        QTest::newRow("no parameter (2, 0)") << "0001000200" << 1 << "rejected" << "";
        QTest::newRow("get from flash") << "0001010101" << 1 << "rejected" << "";
        QTest::newRow("get flag on a set") << "00000001040001" << 1 << "rejected" << "";
        QTest::newRow("set flag on a get") << "0001000104" << 0 << "rejected" << "";
        QTest::newRow("report ID") << "01000001040001" << 0 << "rejected" << "";
        QTest::newRow("index high byte") << "00000001040101" << 0 << "rejected" << "";
        QTest::newRow("target 2") << "00000201040001" << 0 << "rejected" << "";
        QTest::newRow("value past its length") << "0000000104000101" << 0 << "rejected" << "";
        QTest::newRow("get with a value") << "000100020100ff" << 1 << "rejected" << "";
        QTest::newRow("action 3") << "0000800003" << 0 << "rejected" << "";
        QTest::newRow("action with a value") << "000080000100ff" << 0 << "rejected" << "";
        QTest::newRow("serial, other tag") << "000001140000555342534f14034100" << 0 << "rejected" << "";
        QTest::newRow("serial, unit above 0xff") << serial + "4101" << 0 << "rejected" << "";
        QTest::newRow("serial, bytes after its end") << serial + "410000004200" << 0 << "rejected" << "";
        QTest::newRow("serial, empty") << serial << 0 << "rejected" << "";
    }

    void featureRequests()
    {
        QFETCH(QString, request);
        QFETCH(int, get);
        QFETCH(QString, result);
        QFETCH(QString, changed);

        sim::setRamValue(sim::Param::SampleRate, 0x1234);
        sim::setFlashValue(sim::Param::SampleRate, 0x0777);
        const std::string before = sim::stateText();
        QByteArray buffer = report(request);
        QCOMPARE(Usk_Feature_a(sim::DefaultDeviceName, bytes(buffer), get), result == "rejected" ? 0 : 1);
        QCOMPARE(buffer, get == 1 && result != "rejected" ? report(result) : report(request));
        QCOMPARE(changedLines(before, sim::stateText()), changed);
    }

    void outputReports_data()
    {
        QTest::addColumn<QString>("hex");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("levels"); // -1: refused
        QTest::newRow("levels") << "00a5" << 13 << 0xa5;
        QTest::newRow("report ID") << "01a5" << 13 << -1;
        QTest::newRow("padding") << "00a500000000000000000000" "01" << 13 << -1;
        QTest::newRow("12 bytes") << "00a5" << 12 << -1;
    }

    void outputReports()
    {
        QFETCH(QString, hex);
        QFETCH(int, length);
        QFETCH(int, levels);
        QByteArray buffer = report(hex, 13);
        QCOMPARE(Usk_SendOutReport_a(sim::DefaultDeviceName, bytes(buffer), length, 1000), levels >= 0 ? 1 : 0);
        QCOMPARE(int(sim::simulator().firmware.outputLevels), levels >= 0 ? levels : 0);
    }

    // Which calls of a fixed sequence each rule list fails ('x'); "bad" when
    // the list must be refused, adding nothing.
    void failRules_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QString>("fails");
        QTest::newRow("find") << "find" << "x-------";
        QTest::newRow("the next feature call") << "feature" << "-x------";
        QTest::newRow("two rules, two calls") << "feature, feature" << "-xx-----";
        QTest::newRow("report-mode get") << "feature@get/*/1/0" << "-x------";
        QTest::newRow("sample rate to flash") << "feature@set/flash/2/1" << "---x----";
        QTest::newRow("by numbers") << "feature@0/0/2/1" << "--x-----";
        QTest::newRow("first flash write only") << "feature@set/flash/*/*" << "---x----";
        QTest::newRow("serve watchdog") << "feature@set/action/0/1" << "----x---";
        QTest::newRow("serial number") << "feature@set/flash/20/0" << "-----x--";
        QTest::newRow("input and output") << "input;output" << "------xx";
        QTest::newRow("unknown function") << "feature input nonsense" << "bad";
        QTest::newRow("three fields") << "feature@get/ram/1" << "bad";
        QTest::newRow("five fields") << "feature@get/ram/1/0/0" << "bad";
        QTest::newRow("unknown word") << "feature@got/*/1/0" << "bad";
        QTest::newRow("word out of place") << "feature@ram/get/1/0" << "bad";
        QTest::newRow("byte above 255") << "feature@get/*/256/0" << "bad";
        QTest::newRow("pattern on input") << "input@get/ram/1/0" << "bad";
    }

    void failRules()
    {
        QFETCH(QString, rules);
        QFETCH(QString, fails);

        std::string error;
        QCOMPARE(sim::addFailRules(rules.toStdString(), &error), fails != "bad");
        QCOMPARE(error.empty(), fails != "bad");
        RediDeviceRecord record;
        const char *device = sim::DefaultDeviceName;
        const char *const requests[] = {"0001000100", "000000020100", "000001020100", "0000800001",
                                        "000001140000555342534e14034100"};
        QString seen = Usk_FindSensor_a(19, 0, 0, 0, 0, 0, 0, &record) ? "-" : "x";
        for (const char *hex : requests) {
            QByteArray r = report(hex);
            seen += Usk_Feature_a(device, bytes(r), r[1]) ? "-" : "x";
        }
        QByteArray in = report(""), out = report("", 13);
        seen += Usk_GetCurrentInReport_a(device, bytes(in), REDI_REPORT_SIZE) ? "-" : "x";
        seen += Usk_SendOutReport_a(device, bytes(out), REDI_OUTPUT_REPORT_SIZE, 1000) ? "-" : "x";
        QCOMPARE(seen, fails == "bad" ? "--------" : fails);
    }

    void stateTextReadsBack()
    {
        sim::setFlashValue(sim::Param::WatchdogStrobe, 65535);
        sim::setSerialNumber("a b\\c\n");
        sim::setDeviceName("/dev/x");
        sim::setReleaseNumber(0x0210);
        sim::setStatusByte(0x22);
        sim::simulator().firmware.actions[2] = 7;
        const std::string text = sim::stateText();
        QVERIFY(text.find("\nserial=a\\x20b\\x5cc\\x0a\n") != std::string::npos);
        sim::reset();
        std::string error;
        QVERIFY2(sim::loadStateText(text, &error), error.c_str());
        QCOMPARE(sim::stateText(), text);
    }

    void badStateLinesChangeNothing_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("one-byte parameter above 255") << "ram.report_mode=256";
        QTest::newRow("two-byte parameter above 65535") << "flash.sample_rate=0x10000";
        QTest::newRow("unknown key") << "ram.sample_rat=1";
        QTest::newRow("no value") << "status";
        QTest::newRow("not a number") << "status=1a";
        QTest::newRow("bad escape") << "serial=a\\x4";
        QTest::newRow("empty device name") << "device=";
        QTest::newRow("serial too long") << "serial=" + QString(2020, 'x');
    }

    void badStateLinesChangeNothing()
    {
        QFETCH(QString, line);
        const std::string before = sim::stateText();
        std::string error;
        QVERIFY(!sim::loadStateText("status=0x22\n" + line.toStdString() + "\n", &error));
        QVERIFY(error.find("line 2") != std::string::npos);
        QCOMPARE(sim::stateText(), before);
    }
};

QTEST_GUILESS_MAIN(SimSelfTest)
#include "sim_selftest.moc"
