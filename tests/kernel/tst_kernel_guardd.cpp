// vnkestrix-guardd over the real USB and HID stack in the test VM, beside the
// command line: a private D-Bus bus with the stand-in logind, a guard table
// that shuts down when GPIO 3 is 1, the service polling the virtual
// controller while vnkestrix-cli reads settings from it, and then GPIO 3
// going high on the device: the service must ask logind to power off, once,
// and every CLI read must have succeeded with the right value meanwhile.
#include "virtual_controller.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

namespace {

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class KernelGuarddTest : public QObject
{
    Q_OBJECT

    VirtualController device;
    QTemporaryDir work;
    QProcess bus, logind, service;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    QString path(const char *name) const { return work.filePath(QLatin1String(name)); }

    void startBackground(QProcess &process, const QString &program, const QStringList &arguments)
    {
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        QVERIFY2(process.waitForStarted(10000), qPrintable(program + ": " + process.errorString()));
    }

    // vnkestrix-cli ARGUMENTS; its exit code and standard output.
    std::pair<int, QString> cli(const QStringList &arguments)
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VNK_CLI), arguments);
        process.waitForFinished(60000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()).trimmed()
                    + QString::fromUtf8(process.readAllStandardError()).trimmed()};
    }

private slots:
    void initTestCase()
    {
        sim::FirmwareModel firmware;
        firmware.serial = "KSTRX-077";
        firmware.value(sim::Bank::Ram, sim::Param::SampleRate) = 60;
        QString error;
        QVERIFY2(device.start(firmware, 0x0123, error), qPrintable(error));

        // dbus-daemon wants a machine ID and looks its clients' users up;
        // the VM has neither of its own.
        for (const auto &[file, text] : {std::pair{"/etc/machine-id", "0123456789abcdef0123456789abcdef\n"},
                                        {"/etc/passwd", "root:x:0:0:root:/tmp:/bin/sh\n"},
                                        {"/etc/group", "root:x:0:\n"}}) {
            QFile f(QString::fromLatin1(file));
            if (!f.exists())
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) > 0);
        }
        QFile config(path("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>custom</type><listen>unix:path=" + path("bus").toUtf8()
                     + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                       "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
        config.close();
        startBackground(bus, QStringLiteral(VNK_DBUS_DAEMON),
                        {"--config-file=" + path("bus.conf"), "--nofork", "--nopidfile"});
        QVERIFY2(waitFor([&] { return QFile::exists(path("bus")); }, 10000),
                 bus.readAllStandardError().constData());
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + path("bus"));
        env.insert("VNKESTRIX_REGISTRY", path("registry.sqlite3"));
        env.insert("VNKESTRIX_GUARDD_STATUS", path("status"));
        logind.setProcessChannelMode(QProcess::MergedChannels);
        startBackground(logind, QStringLiteral(VNK_FAKE_LOGIND), {path("calls")});
        QByteArray said;
        QVERIFY2(waitFor([&] { logind.waitForReadyRead(50); said += logind.readAll(); return said.contains("ready"); },
                         10000),
                 ("the stand-in logind did not start: " + said + bus.readAllStandardError()).constData());

        QCOMPARE(cli({"guard", "set", "gpio3=1,shutdown"}).first, 0);
        QFile conf(path("guardd.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("poll-interval-ms = 20\ndebounce-ms = 100\nstartup-grace-s = 0\nstatus-file = " + path("status").toUtf8()
                   + "\n");
        conf.close();
        startBackground(service, QStringLiteral(VNK_GUARDD), {"--config", path("guardd.conf")});
        QVERIFY2(waitFor([&] { return QFile::exists(path("status")); }, 10000), "the service wrote no status");
    }

    void cleanupTestCase()
    {
        for (QProcess *p : {&service, &logind, &bus}) {
            p->kill();
            p->waitForFinished(5000);
        }
        device.stop();
    }

    // The service polls the controller all the while: each of the CLI's
    // exchanges still gets its own reply.
    void cliWorksBesideTheService()
    {
        for (int i = 0; i < 20; ++i)
            QCOMPARE(cli({"get", "sample-rate"}), std::make_pair(0, QStringLiteral("sample-rate=60")));
        const auto [code, status] = cli({"guard", "status"});
        QCOMPARE(code, 0);
        QVERIFY2(status.contains("gpio3=1,shutdown (now 0)"), qPrintable(status));
        QVERIFY(contents(path("calls")).isEmpty());
    }

    void lineTriggersAShutdown()
    {
        device.changeFirmware([](sim::FirmwareModel &f) { f.inputLevels = 0x08; });
        QVERIFY2(waitFor([&] { return contents(path("calls")).contains("PowerOff"); }, 10000),
                 service.readAllStandardError().constData());
        QTest::qWait(300);
        const QList<QByteArray> calls = contents(path("calls")).trimmed().split('\n');
        QCOMPARE(calls.size(), 1);
        QVERIFY(calls[0].startsWith("PowerOff interactive=0 "));

        ::kill(static_cast<pid_t>(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(KernelGuarddTest)
#include "tst_kernel_guardd.moc"
