// Self test of the simulator, only where a fault would mislead every other
// test: the get reply layout, request validation, failure injection, and the
// drop-in's state file, log format and environment (through redi_sim_probe).
#include "controller_sim.h"

#include <redi.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <cstring>

using Report = std::array<unsigned char, REDI_REPORT_SIZE>;

namespace {

Report request(int dir, int target, int len, int index, unsigned value = 0)
{
    Report r{};
    r[1] = static_cast<unsigned char>(dir);
    r[2] = static_cast<unsigned char>(target);
    r[3] = static_cast<unsigned char>(len);
    r[4] = static_cast<unsigned char>(index);
    if (dir == 0 && target != 0x80) {
        r[6] = static_cast<unsigned char>(value & 0xFF);
        if (len == 2)
            r[7] = static_cast<unsigned char>(value >> 8);
    }
    return r;
}

int feature(Report &r, int get) { return Usk_Feature_a(sim::DefaultDeviceName, r.data(), get); }

struct ProbeRun {
    int exitCode = -1;
    QString out;
};

} // namespace

class SimSelfTest : public QObject {
    Q_OBJECT

private slots:
    void init() { sim::reset(); }

    void getReplyLayout()
    {
        sim::setRamValue(sim::Param::SampleRate, 0x1234);
        sim::setFlashValue(sim::Param::SampleRate, 0x0777);
        Report r = request(1, 0, 2, 1);
        QCOMPARE(feature(r, 1), 1);
        Report want{};
        want[2] = 0x34;
        want[3] = 0x12;
        QCOMPARE(r, want);

        r = request(1, 0, 1, 1); // index 1 at length 1: GPIO direction, factory 0xF0
        QCOMPARE(feature(r, 1), 1);
        want = Report{};
        want[2] = 0xF0;
        QCOMPARE(r, want);

        const auto log = sim::calls();
        QCOMPARE(log.size(), size_t(2));
        const Report sent = request(1, 0, 1, 1);
        QCOMPARE(log[1].request, std::vector<unsigned char>(sent.begin(), sent.end()));
        QCOMPARE(log[1].reply, std::vector<unsigned char>(want.begin(), want.end()));
    }

    void setWritesNamedBankAndPowerCycleRestoresFlash()
    {
        Report r = request(0, 1, 2, 3, 600); // watchdog delay to flash
        QCOMPARE(feature(r, 0), 1);
        r = request(0, 0, 1, 4, 1); // S3 mode to RAM
        QCOMPARE(feature(r, 0), 1);
        QCOMPARE(sim::flashValue(sim::Param::WatchdogDelay), 600);
        QCOMPARE(sim::ramValue(sim::Param::WatchdogDelay), 1200);
        QCOMPARE(sim::ramValue(sim::Param::S3Mode), 1);
        sim::powerCycle();
        QCOMPARE(sim::ramValue(sim::Param::WatchdogDelay), 600);
        QCOMPARE(sim::ramValue(sim::Param::S3Mode), 0);

        sim::setIgnoreWrites(true);
        r = request(0, 0, 2, 1, 99);
        QCOMPARE(feature(r, 0), 1);
        QCOMPARE(sim::ramValue(sim::Param::SampleRate), 50);
    }

    void malformedRequestsFailAndChangeNothing()
    {
        const std::string before = sim::stateText();
        std::vector<Report> bad = {
            request(1, 0, 1, 8),      // no (1, 8)
            request(1, 0, 2, 0),      // no (2, 0)
            request(0, 2, 1, 0, 1),   // target 2
            request(0, 0x80, 0, 3),   // action 3
            request(0, 0, 1, 0, 1),   // (patched below: value byte past the length)
        };
        bad[4][7] = 1;
        for (Report r : bad) {
            const Report sent = r;
            QCOMPARE(feature(r, r[1]), 0);
            QCOMPARE(r, sent);
        }
        Report r = request(1, 0, 1, 0);
        QCOMPARE(feature(r, 0), 0); // get request sent without the get flag
        QCOMPARE(Usk_Feature_a("/dev/hidraw0", r.data(), 1), 0);
        QCOMPARE(sim::stateText(), before);
        for (const sim::Call &c : sim::calls())
            QCOMPARE(c.result, sim::Result::Rejected);
    }

    void serialWriteAndFind()
    {
        Report r = request(0, 1, 20, 0);
        std::memcpy(&r[6], "USBSN", 5);
        r[11] = 20;
        r[12] = 3;
        r[13] = 'A';
        r[15] = 'B';
        QCOMPARE(feature(r, 0), 1);
        sim::setReleaseNumber(0x0123);
        RediDeviceRecord rec;
        std::memset(&rec, 0x5A, sizeof rec);
        QCOMPARE(Usk_FindSensor_a(19, 0, 0, 0, 0, 0, 0, &rec), 1);
        QCOMPARE(rec.deviceName, "/dev/hidraw-sim");
        QCOMPARE(rec.releaseNumber[0], 0x23);
        QCOMPARE(rec.releaseNumber[1], 0x01);
        QCOMPARE(rec.serialNumber, "AB");

        sim::setAbsent(true);
        std::memset(&rec, 0x5A, sizeof rec);
        QCOMPARE(Usk_FindSensor_a(19, 0, 0, 0, 0, 0, 0, &rec), 0);
        QCOMPARE(static_cast<unsigned char>(rec.deviceName[0]), 0x5A);
    }

    void failureInjection()
    {
        sim::failNext(sim::Function::Feature, 2);
        sim::failNext(sim::RequestPattern::set(sim::Param::GpioDirection, sim::Bank::Flash));
        Report r = request(0, 1, 1, 1, 0x0F); // GPIO direction to flash: rule 2 fires
        QCOMPARE(feature(r, 0), 0);
        r = request(0, 1, 1, 1, 0x0F); // 2nd feature call: rule 1 fires
        QCOMPARE(feature(r, 0), 0);
        QCOMPARE(sim::flashValue(sim::Param::GpioDirection), 0xF0);
        QCOMPARE(sim::pendingFailures(), 0);
        r = request(0, 1, 1, 1, 0x0F);
        QCOMPARE(feature(r, 0), 1);
        QCOMPARE(sim::flashValue(sim::Param::GpioDirection), 0x0F);
        QCOMPARE(sim::calls()[0].result, sim::Result::Injected);

        std::string error;
        QVERIFY(sim::addFailRules("find#2, feature@get/*/2/*#*", &error));
        QVERIFY(!sim::addFailRules("feature@get/ram/1", &error));
        QVERIFY(!sim::addFailRules("input@get/ram/1/0", &error));
        QCOMPARE(sim::pendingFailures(), 2);
    }

    void stateTextRoundTrip()
    {
        sim::setFlashValue(sim::Param::WatchdogStrobe, 65535);
        sim::setSerialNumber("a b\\c\n");
        sim::setDeviceName("/dev/x");
        sim::setReleaseNumber(0x0210);
        sim::setStatusByte(0x22);
        const std::string text = sim::stateText();
        sim::reset();
        std::string error;
        QVERIFY2(sim::loadStateText(text, &error), error.c_str());
        QCOMPARE(sim::stateText(), text);
        QVERIFY(text.find("serial=a\\x20b\\x5cc\\x0a\n") != std::string::npos);
        QVERIFY(!sim::loadStateText("ram.report_mode=256\n", &error));
        QVERIFY(!sim::loadStateText("ram.sample_rat=1\n", &error));
        QCOMPARE(sim::stateText(), text); // a bad load changes nothing
    }

    // ---- drop-in, through the probe -------------------------------------------------

    void dropinStateFileAndLog()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString state = dir.filePath("state"), log = dir.filePath("log");
        ProbeRun run = probe({"find", "set", "flash", "2", "1", "100", "set", "ram", "1", "1", "0x0f",
                              "get", "2", "1", "out", "0xa5", "action", "1"},
                             {{"REDI_SIM_STATE", state}, {"REDI_SIM_LOG", log}});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QString("found /dev/hidraw-sim release=0x0100 serial=SIM000001\nok\nok\n50\nok\nok\n"));

        QString text = readFile(state);
        QVERIFY(text.contains("\nflash.sample_rate=100\n"));
        QVERIFY(text.contains("\nram.sample_rate=50\n"));
        QVERIFY(text.contains("\nram.gpio_direction=15\n"));
        QVERIFY(text.contains("\noutput_levels=165\n"));
        QVERIFY(text.contains("\nactions.serve_watchdog=1\n"));

        const QStringList want = {
            "Usk_FindSensor_a - sel=19 args=0,0,0,0,0,0 ok",
            "Usk_Feature_a /dev/hidraw-sim get=0 ok req=" + hexReport({0, 0, 1, 2, 1, 0, 0x64}),
            "Usk_Feature_a /dev/hidraw-sim get=0 ok req=" + hexReport({0, 0, 0, 1, 1, 0, 0x0f}),
            "Usk_Feature_a /dev/hidraw-sim get=1 ok req=" + hexReport({0, 1, 0, 2, 1}) + " reply="
                + hexReport({0, 0, 50}),
            "Usk_SendOutReport_a /dev/hidraw-sim len=13 timeout=1000 ok req=00a5" + QString(22, '0'),
            "Usk_Feature_a /dev/hidraw-sim get=0 ok req=" + hexReport({0, 0, 0x80, 0, 1}),
        };
        QCOMPARE(readFile(log).split('\n', Qt::SkipEmptyParts), want);

        // A second run starts from the state the first one left.
        sim::reset();
        text.replace("input_levels=0", "input_levels=0x81");
        QFile f(state);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8() + "status=0x22\n");
        f.close();
        run = probe({"get", "1", "1", "in"}, {{"REDI_SIM_STATE", state}});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QString("15\nlevels=0x81 status=0x22\n"));
    }

    void dropinAbsentAndFail()
    {
        QTemporaryDir dir;
        const QString state = dir.filePath("state"), log = dir.filePath("log");
        ProbeRun run = probe({"find"}, {{"REDI_SIM_ABSENT", "1"}, {"REDI_SIM_LOG", log}});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(readFile(log), QString("Usk_FindSensor_a - sel=19 args=0,0,0,0,0,0 rejected\n"));

        run = probe({"set", "ram", "1", "0", "1", "set", "flash", "2", "3", "10"},
                    {{"REDI_SIM_STATE", state}, {"REDI_SIM_FAIL", "feature@set/flash/2/3"}});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QString("ok\nset failed\n"));
        QVERIFY(readFile(state).contains("\nflash.watchdog_delay=1200\n"));

        run = probe({"find"}, {{"REDI_SIM_FAIL", "nonsense"}});
        QVERIFY(run.exitCode != 0 && run.exitCode != 1); // aborted: a test fault, not a device failure
    }

private:
    // 33 bytes as lowercase hex: `head`, then zeros.
    static QString hexReport(std::initializer_list<int> head)
    {
        QString out;
        for (int b : head)
            out += QString::asprintf("%02x", b);
        return out.leftJustified(2 * REDI_REPORT_SIZE, '0');
    }

    static QString readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    static ProbeRun probe(const QStringList &args, const QList<QPair<QString, QString>> &env)
    {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char *v : {"REDI_SIM_STATE", "REDI_SIM_LOG", "REDI_SIM_ABSENT", "REDI_SIM_FAIL",
                              "REDI_SIM_IGNORE_WRITES"})
            e.remove(v);
        for (const auto &kv : env)
            e.insert(kv.first, kv.second);
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(REDI_SIM_PROBE, args);
        ProbeRun run;
        if (!p.waitForFinished(30000))
            return run;
        run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        run.out = QString::fromUtf8(p.readAllStandardOutput());
        return run;
    }
};

QTEST_GUILESS_MAIN(SimSelfTest)
#include "sim_selftest.moc"
