// Settings profiles between simulated controllers: an exported profile
// makes another controller equal, a refused profile sends nothing, a dry run
// writes nothing, and the guard table travels through the store.
#include "cli_runner.h"

#include <QtTest>

namespace {

// Every parameter away from its factory value, in both banks.
QByteArray sourceState()
{
    const QByteArray values = "report_mode=1\nsample_rate=250\ns3_mode=1\nwatchdog_mode=1\n"
                              "watchdog_delay=3005\nwatchdog_strobe=7\nwatchdog_sources=10\n"
                              "power_settings=29\ngpio_direction=90\ngpio_output_mode=15\n"
                              "gpio_standby_mode=129\n";
    QByteArray state = "serial=BOARD-A7\n";
    for (const QByteArray &line : values.split('\n')) {
        if (!line.isEmpty())
            state += "ram." + line + "\nflash." + line + "\n";
    }
    return state;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestCliProfiles : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        QDir(dir.path()).removeRecursively();
        QVERIFY(QDir().mkpath(dir.path()));
    }

    void profileMakesControllersEqual_data()
    {
        QTest::addColumn<QStringList>("exportOptions");
        QTest::addColumn<QStringList>("importOptions");
        QTest::newRow("RAM") << QStringList() << QStringList();
        QTest::newRow("RAM and flash") << QStringList() << QStringList{"--save"};
        QTest::newRow("with the serial number") << QStringList{"--serial"} << QStringList{"--save"};
    }

    void profileMakesControllersEqual()
    {
        QFETCH(QStringList, exportOptions);
        QFETCH(QStringList, importOptions);
        const SimulatedBoard source(dir, QStringLiteral("source"));
        const SimulatedBoard target(dir, QStringLiteral("target"));
        source.writeState(sourceState());
        QCOMPARE(runCli({"info"}, target, path("registry")).exitCode, 0);
        const QMap<QString, QString> factoryFlash = target.bank(QStringLiteral("flash."));
        const QString factorySerial = target.state().value(QStringLiteral("serial"));

        const CliRun exported = runCli(QStringList{"export", path("profile.json")} + exportOptions, source,
                                       path("registry"));
        QVERIFY2(exported.exitCode == 0, qPrintable(exported.err));
        const CliRun imported = runCli(QStringList{"import", path("profile.json")} + importOptions, target,
                                       path("registry"));
        QVERIFY2(imported.exitCode == 0, qPrintable(imported.err));

        QCOMPARE(target.bank(QStringLiteral("ram.")), source.bank(QStringLiteral("ram.")));
        const bool saved = importOptions.contains(QStringLiteral("--save"));
        QCOMPARE(target.bank(QStringLiteral("flash.")),
                 saved ? source.bank(QStringLiteral("flash.")) : factoryFlash);
        QCOMPARE(target.state().value(QStringLiteral("serial")),
                 exportOptions.contains(QStringLiteral("--serial")) ? QStringLiteral("BOARD-A7") : factorySerial);
    }

    void refusedProfileSendsNothing_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QStringList>("problems");
        QTest::newRow("newer version") << QByteArray(R"({"version": 2, "settings": {"sample-rate": 100}})")
                                       << QStringList{"version: 2 is not known"};
        QTest::newRow("no version") << QByteArray(R"({"settings": {"sample-rate": 100}})")
                                    << QStringList{"version: missing"};
        QTest::newRow("unknown key") << QByteArray(R"({"version": 1, "setting": {}})")
                                     << QStringList{"setting: unknown key"};
        QTest::newRow("unknown setting") << QByteArray(R"({"version": 1, "settings": {"sample_rate": 100}})")
                                         << QStringList{"settings.sample_rate: unknown setting"};
        QTest::newRow("number as a string") << QByteArray(R"({"version": 1, "settings": {"sample-rate": "100"}})")
                                            << QStringList{"settings.sample-rate: must be a JSON number"};
        QTest::newRow("fraction of a millisecond")
            << QByteArray(R"({"version": 1, "settings": {"sample-rate": 100.5}})")
            << QStringList{"settings.sample-rate: 100.5 is not accepted"};
        QTest::newRow("delay out of range") << QByteArray(R"({"version": 1, "settings": {"watchdog.delay": 0.5}})")
                                            << QStringList{"settings.watchdog.delay", "from 1.0 to 6000.0"};
        QTest::newRow("sources not a list")
            << QByteArray(R"({"version": 1, "settings": {"watchdog.sources": "usb-polling"}})")
            << QStringList{"settings.watchdog.sources: must be a JSON list"};
        QTest::newRow("every problem named")
            << QByteArray(R"({"version": 1, "settings": {"report-mode": "often", "gpio.direction": "0x1ff"},
                              "guard": {"gpio9": {"level": 0, "action": "standby"}}})")
            << QStringList{"settings.report-mode", "settings.gpio.direction", "guard.gpio9"};
        QTest::newRow("guard action unknown")
            << QByteArray(R"({"version": 1, "guard": {"batlow": {"level": 0, "action": "reboot"}}})")
            << QStringList{"guard.batlow"};
        QTest::newRow("serial too long") << QByteArray(R"({"version": 1, "serial": "ABCDEFGHIJ"})")
                                         << QStringList{"serial: must be a string of 1 to 9 Latin-1"};
        QTest::newRow("not JSON") << QByteArray(R"({"version": 1,)") << QStringList{"not valid JSON"};
    }

    void refusedProfileSendsNothing()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QStringList, problems);
        writeFile(path("profile.json"), profile);
        const SimulatedBoard target(dir, QStringLiteral("target"));
        const CliRun run = runCli({"import", path("profile.json"), "--save"}, target, path("registry"));
        QCOMPARE(run.exitCode, 2);
        for (const QString &line : run.errorLines())
            QVERIFY2(line.startsWith("vnkestrix-cli: " + path("profile.json") + ": "), qPrintable(line));
        for (const QString &problem : problems)
            QVERIFY2(run.err.contains(problem), qPrintable(run.err));
        QCOMPARE(target.log(), QStringList());
        QVERIFY(!QFile::exists(target.statePath));
        QVERIFY(!QFile::exists(path("registry")));
    }

    void dryRunOnlyPrintsChanges()
    {
        writeFile(path("profile.json"), R"({"version": 1,
            "settings": {"sample-rate": 50, "watchdog.mode": "show-only", "gpio.direction": "4,5,6,7"},
            "guard": {"gpio3": {"level": 1, "action": "shutdown"}}})");
        const SimulatedBoard target(dir, QStringLiteral("target"));
        const CliRun run = runCli({"import", path("profile.json"), "--dry-run", "--save"}, target, path("registry"));
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.mid(0, 2), QStringList({"watchdog.mode: off -> show-only",
                                               "guard.gpio3: 0,do-nothing -> 1,shutdown"}));
        QCOMPARE(target.writeCount(), 0);
        QVERIFY(runCli({"guard", "get"}, target, path("registry")).out.contains("gpio3=0,do-nothing"));
    }

    void guardTableTravelsThroughTheStore()
    {
        const SimulatedBoard board(dir, QStringLiteral("board"));
        const QString first = path("first-registry");
        QCOMPARE(runCli({"guard", "set", "gpio3=1,shutdown", "pwrbtn=0,standby"}, board, first).exitCode, 0);
        QCOMPARE(runCli({"guard", "set", "batlow=0,standby"}, board, first).exitCode, 0);
        const CliRun stored = runCli({"guard", "get"}, board, first);
        const QMap<QString, QString> rows = keyValueLines(stored.out);
        QCOMPARE(rows.size(), 10);
        QCOMPARE(rows.value("gpio3"), QStringLiteral("1,shutdown"));
        QCOMPARE(rows.value("batlow"), QStringLiteral("0,standby"));
        QCOMPARE(rows.value("pwrbtn"), QStringLiteral("0,standby"));
        QCOMPARE(rows.value("gpio0"), QStringLiteral("0,do-nothing"));

        const QString second = path("second-registry");
        QCOMPARE(runCli({"export", path("profile.json"), "--guard"}, board, first).exitCode, 0);
        QCOMPARE(runCli({"import", path("profile.json")}, board, second).exitCode, 0);
        QCOMPARE(runCli({"guard", "get"}, board, second).out, stored.out);
    }
};

QTEST_GUILESS_MAIN(TestCliProfiles)
#include "tst_cli_profiles.moc"
