// vnkestrix-cli's commands against simulated controllers: refusals that send
// nothing, what the values become in the controller, failures that the
// read-back catches, JSON against plain output, no controller, demo mode.
#include "cli_runner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <grp.h>
#include <unistd.h>

namespace {

QString plainText(const QJsonValue &value)
{
    if (value.isBool())
        return value.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    if (value.isArray()) {
        QStringList items;
        for (const QJsonValue &item : value.toArray())
            items.append(item.toString());
        return items.isEmpty() ? QStringLiteral("none") : items.join(QLatin1Char(','));
    }
    if (value.isObject())
        return QString::number(value[QLatin1String("level")].toInt()) + QLatin1Char(',')
            + value[QLatin1String("action")].toString();
    return value.toString();
}

const QByteArray variedState = "ram.report_mode=1\nram.sample_rate=250\nram.s3_mode=1\n"
                               "ram.watchdog_mode=2\nram.watchdog_delay=123\nram.watchdog_strobe=7\n"
                               "ram.watchdog_sources=0xfa\nram.power_settings=0x16\n"
                               "ram.gpio_direction=0x0f\nram.gpio_output_mode=0x81\n"
                               "ram.gpio_standby_mode=0x40\ninput_levels=0xa5\nserial=SN-4711\n";

} // namespace

class TestCliCommands : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString registry() const { return dir.filePath(QStringLiteral("registry.sqlite3")); }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        QDir(dir.path()).removeRecursively();
        QVERIFY(QDir().mkpath(dir.path()));
    }

    void refusedCommandSendsNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("problem");
        auto row = [](const char *name, QStringList arguments, const char *problem) {
            QTest::newRow(name) << arguments << QString::fromUtf8(problem);
        };
        row("no command", {}, "no command given");
        row("unknown command", {"reboot"}, "not a command");
        row("option of another command", {"get", "--save"}, "save");
        row("set without values", {"set"}, "usage");
        row("unknown setting", {"set", "watchdog.timeout=5"}, "watchdog.timeout");
        row("sample rate 0", {"set", "sample-rate=0"}, "from 1 to 65535");
        row("delay below 1 s", {"set", "watchdog.delay=0.9"}, "from 1.0 to 6000.0");
        row("strobe above 6000 s", {"set", "watchdog.strobe=6000.1"}, "from 0.1 to 6000.0");
        row("strobe not a number", {"set", "watchdog.strobe=nan"}, "watchdog.strobe");
        row("mode not a word", {"set", "report-mode=sometimes"}, "after-sampling, after-change");
        row("mask beyond a byte", {"set", "gpio.direction=0x100"}, "gpio.direction");
        row("line beyond 7", {"set", "gpio.output-mode=0,8"}, "lines 0 to 7");
        row("one bad value among good ones", {"set", "sample-rate=100", "power.board-option=maybe", "--save"},
            "power.board-option: \"maybe\" is not accepted: it takes on or off");
        row("setting given twice", {"set", "sample-rate=100", "sample-rate=200"}, "twice");
        row("unknown name to get", {"get", "gpio.levels"}, "gpio.levels");
        row("serial of ten characters", {"serial", "ABCDEFGHIJ"}, "1 to 9 Latin-1");
        row("serial beyond Latin-1", {"serial", "SN\u20ac1"}, "1 to 9 Latin-1");
        row("unknown action", {"action", "reboot"}, "serve-watchdog");
        row("gpio write beyond a byte", {"gpio", "write", "0x1ff"}, "0x00 to 0xff");
        row("guard line unknown", {"guard", "set", "gpio8=1,shutdown"}, "gpio8");
        row("guard level 2", {"guard", "set", "gpio3=2,shutdown"}, "LEVEL 0 or 1");
        row("guard action unknown", {"guard", "set", "batlow=0,reboot"}, "do-nothing");
        row("profile that is not there", {"import", "/nonexistent/profile.json"}, "cannot be read");
    }

    void refusedCommandSendsNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, problem);
        const SimulatedBoard board(dir, QStringLiteral("board"));
        const CliRun run = runCli(arguments, board, registry());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(problem), qPrintable(run.err));
        for (const QString &line : run.errorLines())
            QVERIFY2(line.startsWith(QLatin1String("vnkestrix-cli: ")), qPrintable(line));
        QCOMPARE(board.log(), QStringList());
        QVERIFY(!QFile::exists(registry()));
    }

    void valueReachesTheController_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("power switch keeps the other power bits")
            << QByteArray("ram.power_settings=0x12\n")
            << QStringList{"set", "power.restart-after-power-failure=on"} << "ram.power_settings" << "22";
        QTest::newRow("boot mode clears bits 5-7 as the window does")
            << QByteArray("ram.power_settings=0xe5\n") << QStringList{"set", "power.boot-mode=always-start"}
            << "ram.power_settings" << "6";
        QTest::newRow("delay to the nearest tenth") << QByteArray() << QStringList{"set", "watchdog.delay=1.25"}
                                                    << "ram.watchdog_delay" << "13";
        QTest::newRow("strobe of 0.1 s") << QByteArray() << QStringList{"set", "watchdog.strobe=0.1"}
                                         << "ram.watchdog_strobe" << "1";
        QTest::newRow("sources by name") << QByteArray()
                                         << QStringList{"set", "watchdog.sources=usb-polling,sch-gpio"}
                                         << "ram.watchdog_sources" << "12";
        QTest::newRow("lines as a list") << QByteArray() << QStringList{"set", "gpio.direction=0,7"}
                                         << "ram.gpio_direction" << "129";
        QTest::newRow("--save reaches flash") << QByteArray() << QStringList{"set", "sample-rate=100", "--save"}
                                              << "flash.sample_rate" << "100";
        QTest::newRow("save copies RAM to flash") << QByteArray("ram.watchdog_mode=2\nram.power_settings=0xe5\n")
                                                  << QStringList{"save"} << "flash.power_settings" << "229";
        QTest::newRow("Latin-1 serial number") << QByteArray() << QStringList{"serial", "J\u00fcrgen"}
                                               << "serial" << "J\\xfcrgen";
        QTest::newRow("gpio levels") << QByteArray() << QStringList{"gpio", "write", "0,7"} << "output_levels"
                                     << "129";
        QTest::newRow("action") << QByteArray() << QStringList{"action", "serve-watchdog"}
                                << "actions.serve_watchdog" << "1";
    }

    void valueReachesTheController()
    {
        QFETCH(QByteArray, state);
        QFETCH(QStringList, arguments);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const SimulatedBoard board(dir, QStringLiteral("board"));
        board.writeState(state);
        const CliRun run = runCli(arguments, board, registry());
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(board.state().value(key), expected);
    }

    void failedWriteIsReported_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("problem");
        QTest::newRow("ignored write") << QByteArray() << QStringList{"REDI_SIM_IGNORE_WRITES=1"}
                                       << QStringList{"set", "watchdog.delay=300", "--save"}
                                       << "watchdog.delay: wrote 300.0 but the controller reads back 120.0";
        QTest::newRow("ignored write of one power bit")
            << QByteArray() << QStringList{"REDI_SIM_IGNORE_WRITES=1"}
            << QStringList{"set", "power.restart-after-temperature-failure=on"}
            << "power.restart-after-temperature-failure: wrote on but the controller reads back off";
        QTest::newRow("failed read before a partial write")
            << QByteArray() << QStringList{"REDI_SIM_FAIL=feature@get/*/1/7"}
            << QStringList{"set", "power.board-option=on", "--save"} << "reading the power settings failed";
        QTest::newRow("failed RAM write") << QByteArray() << QStringList{"REDI_SIM_FAIL=feature@set/ram/2/1"}
                                          << QStringList{"set", "sample-rate=100", "--save"}
                                          << "writing the sample rate to RAM failed";
        QTest::newRow("RAM value out of range is not saved")
            << QByteArray("ram.watchdog_mode=3\n") << QStringList() << QStringList{"save"}
            << "the watchdog mode in RAM is out of range";
    }

    void failedWriteIsReported()
    {
        QFETCH(QByteArray, state);
        QFETCH(QStringList, environment);
        QFETCH(QStringList, arguments);
        QFETCH(QString, problem);
        const SimulatedBoard board(dir, QStringLiteral("board"));
        board.writeState(state);
        const CliRun run = runCli(arguments, board, registry(), environment);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.errorLines().size(), 1);
        QVERIFY2(run.err.contains(problem), qPrintable(run.err));
        QVERIFY(board.log().filter(QRegularExpression(QStringLiteral(" get=0 ok req=000001"))).isEmpty());
    }

    void getShowsTheControllerValues()
    {
        const SimulatedBoard board(dir, QStringLiteral("board"));
        board.writeState(variedState);
        const CliRun run = runCli({"get"}, board, registry());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 QStringList({"report-mode=after-change", "sample-rate=250", "s3-mode=s3-with-s5",
                              "watchdog.mode=show-only", "watchdog.delay=12.3", "watchdog.strobe=0.7",
                              "watchdog.sources=feature-report,sch-gpio", "power.boot-mode=always-start",
                              "power.restart-after-power-failure=on",
                              "power.restart-after-temperature-failure=off", "power.board-option=on",
                              "gpio.direction=0x0f", "gpio.output-mode=0x81", "gpio.standby-mode=0x40"}));
    }

    void jsonHoldsThePlainValues_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("bareValueKey"); // for commands that print one bare value
        QTest::newRow("get") << QStringList{"get"} << QString();
        QTest::newRow("get some") << QStringList{"get", "watchdog.sources", "watchdog.delay"} << QString();
        QTest::newRow("info") << QStringList{"info"} << QString();
        QTest::newRow("guard get") << QStringList{"guard", "get"} << QString();
        QTest::newRow("gpio read") << QStringList{"gpio", "read"} << "levels";
    }

    void jsonHoldsThePlainValues()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, bareValueKey);
        const SimulatedBoard board(dir, QStringLiteral("board"));
        board.writeState(variedState);
        QCOMPARE(runCli({"guard", "set", "gpio3=1,shutdown", "pwrbtn=0,standby"}, board, registry()).exitCode, 0);

        const CliRun plain = runCli(arguments, board, registry());
        const CliRun json = runCli(arguments + QStringList{"--json"}, board, registry());
        QCOMPARE(plain.exitCode, 0);
        QCOMPARE(json.exitCode, 0);
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(json.out, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);

        QMap<QString, QString> lines = keyValueLines(plain.out);
        if (!bareValueKey.isEmpty())
            lines = {{bareValueKey, QString::fromUtf8(plain.out).trimmed()}};
        QCOMPARE(QStringList(object.keys()), QStringList(lines.keys()));
        for (auto it = lines.begin(); it != lines.end(); ++it) {
            const QJsonValue value = object.value(it.key());
            if (value.isDouble())
                QCOMPARE(it.value().toDouble(), value.toDouble());
            else
                QCOMPARE(it.value(), plainText(value));
        }
    }

    void noControllerExitsWithThree_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("hidId"); // of a hidraw node this user cannot open; empty: none
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("permissionProblem");
        QTest::newRow("no hidraw node") << QStringList{"get"} << QByteArray() << QStringList{"no controller found"}
                                        << false;
        QTest::newRow("controller's node not openable")
            << QStringList{"set", "sample-rate=100"} << QByteArray("0003:00001209:00004B58")
            << QStringList{"hidraw3", "permission", "/usr/lib/udev/rules.d/70-vnkestrix.rules"} << true;
        QTest::newRow("another device's node not openable")
            << QStringList{"get"} << QByteArray("0003:0000046D:0000C077") << QStringList{"no controller found"}
            << false;
        QTest::newRow("info says so") << QStringList{"info"} << QByteArray() << QStringList{"no controller found"}
                                      << false;
    }

    void noControllerExitsWithThree()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, hidId);
        QFETCH(QStringList, expected);
        QFETCH(bool, permissionProblem);
        // A fake kernel tree: /sys/class/hidraw/hidraw3/device/uevent and
        // /dev/hidraw3, a node nobody may open. Root may open anything, so
        // under root the program runs as nobody.
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                      | QFile::ReadOther | QFile::ExeOther));
        const QString sys = dir.filePath(QStringLiteral("sys"));
        const QString dev = dir.filePath(QStringLiteral("dev"));
        QVERIFY(QDir().mkpath(sys + QStringLiteral("/class/hidraw/hidraw3/device")));
        QVERIFY(QDir().mkpath(dev));
        if (!hidId.isEmpty()) {
            QFile uevent(sys + QStringLiteral("/class/hidraw/hidraw3/device/uevent"));
            QVERIFY(uevent.open(QIODevice::WriteOnly));
            uevent.write("DRIVER=hid-generic\nHID_ID=" + hidId + "\nHID_NAME=board\n");
            uevent.close();
            QFile node(dev + QStringLiteral("/hidraw3"));
            QVERIFY(node.open(QIODevice::WriteOnly));
            node.close();
            QVERIFY(node.setPermissions(QFileDevice::Permissions()));
        }

        const SimulatedBoard board(dir, QStringLiteral("board"));
        QProcessEnvironment environment = cliEnvironment(
            board, registry(), {"REDI_SIM_ABSENT=1", "VNKESTRIX_SYSFS_ROOT=" + sys, "VNKESTRIX_DEV_ROOT=" + dev});
        // The simulator keeps no files here: nobody could not write them.
        environment.remove(QStringLiteral("REDI_SIM_STATE"));
        environment.remove(QStringLiteral("REDI_SIM_LOG"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setChildProcessModifier([] {
            if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(127);
        });
        process.start(cliPath(), arguments);
        const bool finished = process.waitForFinished(30000);
        if (::geteuid() == 0 && (!finished || process.exitCode() == 127))
            QSKIP("the user nobody cannot run the program from this build tree");
        QVERIFY(finished);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 3);
        QCOMPARE(err.count(QLatin1Char('\n')), 1);
        for (const QString &part : expected)
            QVERIFY2(err.contains(part), qPrintable(err));
        QCOMPARE(err.contains(QLatin1String("permission")), permissionProblem);
    }

    void demoModeNeedsNoController_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output");
        auto row = [](const char *name, QStringList arguments, const char *output) {
            QTest::newRow(name) << arguments << QString::fromUtf8(output);
        };
        row("info", {"info"}, "serial=012345678");
        row("get", {"get", "--json"}, "\"watchdog.delay\": 51.2");
        row("set and save", {"set", "watchdog.mode=reset-system", "--save"}, "");
        row("save", {"save"}, "");
        row("serial", {"serial"}, "012345678");
        row("serial write", {"serial", "ABC"}, "");
        row("action", {"action", "reset-thrm-pin"}, "");
        row("gpio read", {"gpio", "read"}, "0x00");
        row("gpio write", {"gpio", "write", "0x81"}, "");
        row("export", {"export", "-"}, "\"sample-rate\": 512");
        row("import", {"import", "PROFILE", "--save"}, "");
        row("import dry run", {"import", "PROFILE", "--dry-run"}, "watchdog.mode: off -> show-only");
    }

    void demoModeNeedsNoController()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        const QString profile = dir.filePath(QStringLiteral("profile.json"));
        QFile file(profile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"version": 1, "settings": {"watchdog.mode": "show-only", "watchdog.delay": 300}})");
        file.close();
        arguments.replaceInStrings(QStringLiteral("PROFILE"), profile);

        const SimulatedBoard board(dir, QStringLiteral("board"));
        const CliRun run = runCli(arguments + QStringList{"--demo"}, board, registry(), {"REDI_SIM_ABSENT=1"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY2(run.out.contains(output.toUtf8()), run.out.constData());
        QCOMPARE(board.log(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCliCommands)
#include "tst_cli_commands.moc"
