// vnkestrix-cli as a child process, over the controller simulator's drop-in
// library with a guard store of the test's own: refusals that send nothing,
// what the values become in the controller, failures that the read-back
// catches, JSON against plain output, no controller, demo mode, and settings
// profiles between controllers.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <grp.h>
#include <sqlite3.h>
#include <unistd.h>

#include <memory>
#include <optional>

namespace {

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QString err;
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// `key=value` lines whose keys start with `prefix`, without it; lines that
// start with '#' are comments.
QMap<QString, QString> keyValues(const QByteArray &text, const QString &prefix = {})
{
    QMap<QString, QString> values;
    for (const QString &line : QString::fromUtf8(text).split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (!line.startsWith('#') && equals > prefix.size() && line.startsWith(prefix))
            values.insert(line.mid(prefix.size(), equals - prefix.size()), line.mid(equals + 1));
    }
    return values;
}

// A simulated controller: the state file the simulator starts from and
// rewrites, and its call log.
struct Board {
    QString statePath;
    QString logPath;
    QMap<QString, QString> state(const QString &prefix = {}) const { return keyValues(contents(statePath), prefix); }
    QStringList log() const { return QString::fromUtf8(contents(logPath)).split('\n', Qt::SkipEmptyParts); }
};

// A JSON value as the plain output writes it.
QString plainText(const QJsonValue &value)
{
    if (value.isObject()) // a guard row
        return QString::number(value["level"].toInt()) + ',' + value["action"].toString();
    if (value.isBool())
        return value.toBool() ? "yes" : "no";
    return value.isDouble() ? QString::number(value.toDouble()) : value.toVariant().toStringList().join(',');
}

// Root may open anything, so a case that needs another user runs the program
// as nobody; exit code 127 says it could not become nobody.
void runAsNobody(QProcess &process)
{
    process.setChildProcessModifier([] {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(127);
    });
}

// Runs `sql` on the file with a connection of the test's own, which stays
// open (holding any transaction it began) until it is closed.
sqlite3 *openStore(const QString &file, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open(file.toLocal8Bit().constData(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    return db;
}

const QByteArray variedState = "ram.report_mode=1\nram.sample_rate=250\nram.s3_mode=1\n"
                               "ram.watchdog_mode=2\nram.watchdog_delay=123\nram.watchdog_strobe=7\n"
                               "ram.watchdog_sources=0xfa\nram.power_settings=0x16\n"
                               "ram.gpio_direction=0x0f\nram.gpio_output_mode=0x81\n"
                               "ram.gpio_standby_mode=0x40\ninput_levels=0xa5\nserial=SN-4711\n";

} // namespace

class TestCli : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dir;
    QString path(const QString &name) const { return dir->filePath(name); }

    // A board of this test's, starting from `state` (key=value lines; none
    // given: the factory state).
    Board newBoard(const QString &name, const QByteArray &state = {}) const
    {
        const Board board{path(name + ".state"), path(name + ".log")};
        writeFile(board.statePath, state);
        return board;
    }

    // The drop-in library and the board's files, a registry file of this
    // test's, and `extra` variables (KEY=VALUE; an empty value unsets).
    QProcessEnvironment environment(const Board &board, const QStringList &extra, const QString &registry) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_LIBRARY_PATH", SIM_DROPIN_DIR);
        env.insert("REDI_SIM_STATE", board.statePath);
        env.insert("REDI_SIM_LOG", board.logPath);
        env.insert("VNKESTRIX_REGISTRY", path(registry));
        for (const QString &variable : extra)
            if (!variable.isEmpty())
                env.insert(variable.section('=', 0, 0), variable.section('=', 1));
        return env;
    }

    // Runs `command`: its words split at spaces, PROFILE standing for the
    // path of this test's profile file.
    // "COMMAND < FILE" gives the program FILE as its standard input.
    CliRun run(const QString &command, const Board &board, const QStringList &extra = {},
               const QString &registry = "registry", bool asNobody = false) const
    {
        QProcess process;
        process.setProcessEnvironment(environment(board, extra, registry));
        if (command.contains(" < "))
            process.setStandardInputFile(command.section(" < ", 1));
        if (asNobody)
            runAsNobody(process);
        process.start(CLI_PATH, command.section(" < ", 0, 0).split(' ', Qt::SkipEmptyParts).replaceInStrings(
                                    "PROFILE", path("profile.json")));
        const bool exited = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
        return {exited ? process.exitCode() : -1, process.readAllStandardOutput(),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // The guard table as `guard get` prints it: line -> LEVEL,ACTION.
    QMap<QString, QString> guardTable(const Board &board, const QString &registry = "registry") const
    {
        return keyValues(run("guard get", board, {}, registry).out);
    }

    QString mounted; // a small tmpfs to unmount after the case

private slots:
    void init() { QVERIFY(dir.emplace().isValid()); }
    void cleanup()
    {
        if (!mounted.isEmpty())
            QProcess::execute("umount", {std::exchange(mounted, QString())});
    }

    // Bad usage and bad values, on the command line or in a profile, exit
    // with 2 and one message naming each problem; nothing is sent and the
    // guard store is not touched.
    void refusedCommandSendsNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("problems"); // parts of the message, split at '|'
        QTest::addColumn<QByteArray>("profile");
        const auto row = [](const char *tag, const char *command, const char *problems,
                            const QByteArray &profile = {}) {
            QTest::newRow(tag) << QString::fromUtf8(command) << QString::fromUtf8(problems) << profile;
        };
        row("no command", "", "no command given");
        row("unknown command", "reboot", "not a command");
        row("option of another command", "get --save", "save");
        row("set without values", "set", "usage");
        row("unknown setting", "set watchdog.timeout=5", "watchdog.timeout");
        row("sample rate 0", "set sample-rate=0", "from 1 to 65535");
        row("delay below 1 s", "set watchdog.delay=0.9", "from 1.0 to 6000.0");
        row("strobe above 6000 s", "set watchdog.strobe=6000.1", "from 0.1 to 6000.0");
        row("strobe not a number", "set watchdog.strobe=nan", "watchdog.strobe");
        row("mode not a word", "set report-mode=sometimes", "after-sampling, after-change");
        row("mask beyond a byte", "set gpio.direction=0x100", "gpio.direction");
        row("line beyond 7", "set gpio.output-mode=0,8", "lines 0 to 7");
        row("one bad value among good ones", "set sample-rate=100 power.board-option=maybe --save",
            "power.board-option: \"maybe\" is not accepted: it takes on or off");
        row("setting given twice", "set sample-rate=100 sample-rate=200", "twice");
        row("unknown name to get", "get gpio.levels", "gpio.levels");
        row("serial of ten characters", "serial ABCDEFGHIJ", "1 to 9 Latin-1");
        row("serial beyond Latin-1", "serial SN\u20ac1", "1 to 9 Latin-1");
        row("serial with a control character", "serial SN\t01", "\"SN\\x0901\" is not accepted|no control");
        row("unknown action", "action reboot", "serve-watchdog");
        row("gpio write beyond a byte", "gpio write 0x1ff", "0x00 to 0xff");
        row("guard line unknown", "guard set gpio8=1,shutdown", "gpio8");
        row("guard level 2", "guard set gpio3=2,shutdown", "LEVEL 0 or 1");
        row("guard action unknown", "guard set batlow=0,reboot", "do-nothing");
        row("profile that is not there", "import /nonexistent/profile.json", "cannot be read");
        row("REDI_DEVICE not IDs nor a path", "REDI_DEVICE=garbage get", "REDI_DEVICE \"garbage\" is not valid");
        row("REDI_DEVICE with a bad hex digit", "REDI_DEVICE=1234:zz info", "REDI_DEVICE \"1234:zz\"|vvvv:pppp");

        const char *import = "import PROFILE --save";
        row("profile of a newer version", import, "PROFILE: version: 2 is not known", R"({"version": 2})");
        row("profile without a version", import, "PROFILE: version: missing", R"({"settings": {}})");
        row("unknown key", import, "PROFILE: setting: unknown key", R"({"version": 1, "setting": {}})");
        row("fraction of a millisecond", import, "PROFILE: settings.sample-rate: 100.5 is not accepted",
            R"({"version": 1, "settings": {"sample-rate": 100.5}})");
        row("every problem named", import,
            "PROFILE: settings.report-mode|PROFILE: settings.gpio.direction|PROFILE: guard.gpio9|"
            "PROFILE: settings.sample_rate: unknown setting|PROFILE: settings.sample-rate: must be a JSON number|"
            "PROFILE: settings.watchdog.sources: must be a JSON list",
            R"({"version": 1, "settings": {"report-mode": "often", "gpio.direction": "0x1ff", "sample_rate": 100,
                "sample-rate": "100", "watchdog.sources": "usb-polling"},
                "guard": {"gpio9": {"level": 0, "action": "standby"}}})");
        row("accepted parts and a refused serial", import, "PROFILE: serial: must be a string of 1 to 9 Latin-1",
            R"({"version": 1, "settings": {"sample-rate": 100}, "serial": "ABCDEFGHIJ",
                "guard": {"gpio0": {"level": 1, "action": "standby"}}})");
        row("serial with a control character in a profile", import, "PROFILE: serial: must be a string of 1 to 9 Latin-1",
            R"({"version": 1, "serial": "SN\u000a01"})");
        row("not JSON", import, "PROFILE: not valid JSON", R"({"version": 1,)");
        row("key given twice", import, "PROFILE: settings: \"sample-rate\" is given twice",
            R"({"version": 1, "settings": {"sample-rate": 0, "sample-rate": 20}})");
        row("invalid escape", import, "PROFILE: serial: invalid escape", R"({"version": 1, "serial": "A\q"})");
        row("raw control character", import, "PROFILE: serial: control character", "{\"version\": 1, \"serial\": \"A\tB\"}");
        row("unpaired surrogate", import, "PROFILE: serial: unpaired surrogate", R"({"version": 1, "serial": "\ud800A"})");
        row("guard level not a whole number", import, "PROFILE: guard.gpio0: must be",
            R"({"version": 1, "guard": {"gpio0": {"level": 0.9999999, "action": "standby"}}})");
        row("long value cut short", import, "PROFILE: settings.report-mode: \"xxxxxxxxxx",
            "{\"version\": 1, \"settings\": {\"report-mode\": \"" + QByteArray(50000, 'x') + "\"}}");
        QByteArray manyKeys = "{\"version\": 1";
        for (int i = 0; i < 1000; ++i)
            manyKeys += ", \"k" + QByteArray::number(i) + "\": 0";
        row("many problems counted", import, "PROFILE: k0: unknown key|and 980 more problems", manyKeys + "}");
        const QByteArray big = "{\"version\": 1, \"serial\": \"SN1\", \"x\": \"" + QByteArray(1 << 20, ' ') + "\"}";
        row("profile above 1 MiB", import, "PROFILE: larger than 1 MiB", big);
        row("endless standard input", "import - < /dev/zero", "-: larger than 1 MiB");
    }

    void refusedCommandSendsNothing()
    {
        QFETCH(QString, command);
        QFETCH(QString, problems);
        QFETCH(QByteArray, profile);
        writeFile(path("profile.json"), profile);
        const Board board = newBoard("board");
        const QString device = command.startsWith("REDI_DEVICE=") ? command.section(' ', 0, 0) : QString();
        const CliRun run = this->run(command.mid(device.isEmpty() ? 0 : device.size() + 1), board, {device});
        QCOMPARE(run.exitCode, 2);
        // Input is echoed cut short, and the list of problems is capped.
        QVERIFY2(run.err.count('\n') <= 21, qPrintable(run.err.left(2000)));
        for (const QString &line : run.err.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith("vnkestrix-cli: ") && line.size() < 300, qPrintable(line.left(2000)));
        for (const QString &problem : problems.replace("PROFILE", path("profile.json")).split('|'))
            QVERIFY2(run.err.contains(problem), qPrintable(run.err));
        QCOMPARE(board.log(), QStringList());
        QVERIFY(!QFile::exists(path("registry")));
    }

    // What commands (separated by " ; ", each but the last succeeding) leave
    // in the controller ("key=value" of its state, then '|' and parts of what
    // the last one prints), or, with exit code 1, the one line the last
    // prints when a call fails or a value reads back different; no parameter
    // reaches flash then.
    void commandEffect_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("environment");
        const auto row = [](const char *tag, int exitCode, const char *state, const char *command,
                            const QString &expected, const char *environment = "") {
            QTest::newRow(tag) << exitCode << QByteArray(state) << QString::fromUtf8(command) << expected
                               << QString(environment);
        };
        const char *ignoreWrites = "REDI_SIM_IGNORE_WRITES=1";
        const char *cached = "REDI_SIM_SERIAL_CACHED=1"; // the kernel's number of the plug-in
        const QString stale = "may be stale until the board is reconnected";
        row("power bit keeps the others", 0, "ram.power_settings=0x12", "set power.restart-after-power-failure=on",
            "ram.power_settings=22");
        row("boot mode clears bits 5-7 as the window does", 0, "ram.power_settings=0xe5",
            "set power.boot-mode=always-start", "ram.power_settings=6");
        row("delay to the nearest tenth", 0, "", "set watchdog.delay=1.25", "ram.watchdog_delay=13");
        row("strobe of 0.1 s", 0, "", "set watchdog.strobe=0.1", "ram.watchdog_strobe=1");
        row("sources by name", 0, "", "set watchdog.sources=usb-polling,sch-gpio", "ram.watchdog_sources=12");
        row("lines as a list", 0, "", "set gpio.direction=0,7", "ram.gpio_direction=129");
        row("--save reaches flash", 0, "", "set sample-rate=100 --save", "flash.sample_rate=100");
        row("save copies RAM to flash", 0, "ram.power_settings=0xe5", "save", "flash.power_settings=229");
        row("Latin-1 serial number", 0, "", "serial J\u00fcrgen", "serial=J\\xfcrgen");
        row("serial written, not readable live", 0, "", "serial NEW000002", "serial=NEW000002|" + stale, cached);
        row("serial read in a new process, not live", 0, "", "serial NEW000002 ; serial",
            "serial=NEW000002|SIM000001|" + stale, cached);
        row("info with a number that may be stale", 0, "", "serial NEW000002 ; info",
            "serial=NEW000002|serial=SIM000001|" + stale, cached);
        row("old serial written back, not live", 0, "", "serial NEW000002 ; serial SIM000001", "serial=SIM000001",
            cached);
        row("control characters held are shown escaped", 0, "serial=A\\x0aB\\x85", "info",
            "serial=A\\x0aB\\x85|serial=A\\x0aB\\x85");
        row("gpio levels", 0, "", "gpio write 0,7", "output_levels=129");
        row("action", 0, "", "action serve-watchdog", "actions.serve_watchdog=1");
        row("ignored write", 1, "", "set watchdog.delay=300 --save",
            "watchdog.delay: wrote 300.0 but the controller reads back 120.0", ignoreWrites);
        row("ignored serial write", 1, "", "serial NEW000002",
            "serial: wrote NEW000002 but the controller reads back SIM000001", ignoreWrites);
        row("ignored write of one power bit", 1, "", "set power.restart-after-temperature-failure=on",
            "power.restart-after-temperature-failure: wrote on but the controller reads back off", ignoreWrites);
        row("failed read before a partial write", 1, "", "set power.board-option=on --save",
            "reading the power settings failed", "REDI_SIM_FAIL=feature@get/*/1/7");
        row("failed RAM write", 1, "", "set sample-rate=100 --save", "writing the sample rate to RAM failed",
            "REDI_SIM_FAIL=feature@set/ram/2/1");
        row("RAM value out of range is not saved", 1, "ram.watchdog_mode=3", "save",
            "the watchdog mode in RAM is out of range");
    }

    void commandEffect()
    {
        QFETCH(int, exitCode);
        QFETCH(QByteArray, state);
        QFETCH(QString, command);
        QFETCH(QString, expected);
        QFETCH(QString, environment);
        const Board board = newBoard("board", state);
        const QStringList commands = command.split(" ; ");
        CliRun run;
        for (const QString &each : commands) {
            run = this->run(each, board, environment.split(' ', Qt::SkipEmptyParts));
            QVERIFY2(run.exitCode == 0 || &each == &commands.last(), qPrintable(run.err));
        }
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        if (exitCode == 0) {
            QStringList parts = expected.split('|');
            const QString held = parts.takeFirst();
            QCOMPARE(board.state().value(held.section('=', 0, 0)), held.section('=', 1));
            for (const QString &part : parts)
                QVERIFY2((run.out + run.err.toUtf8()).contains(part.toUtf8()), qPrintable(run.out + run.err));
        } else {
            QCOMPARE(run.err.count('\n'), 1);
            QVERIFY2(run.err.contains(expected), qPrintable(run.err));
            QCOMPARE(board.log().filter(QRegularExpression(" get=0 ok req=0000010[12]")), QStringList());
        }
    }

    // --json holds the values of the plain output; `plain` is that output
    // where the row gives it.
    void jsonHoldsThePlainValues_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("plain");
        QTest::newRow("get") << "get"
                             << "report-mode=after-change\nsample-rate=250\ns3-mode=s3-with-s5\n"
                                "watchdog.mode=show-only\nwatchdog.delay=12.3\nwatchdog.strobe=0.7\n"
                                "watchdog.sources=feature-report,sch-gpio\npower.boot-mode=always-start\n"
                                "power.restart-after-power-failure=on\npower.restart-after-temperature-failure=off\n"
                                "power.board-option=on\ngpio.direction=0x0f\ngpio.output-mode=0x81\n"
                                "gpio.standby-mode=0x40\n";
        QTest::newRow("info") << "info" << QString();
        QTest::newRow("guard get") << "guard get" << QString();
        QTest::newRow("gpio read") << "gpio read" << "0xa5\n";
    }

    void jsonHoldsThePlainValues()
    {
        QFETCH(QString, command);
        QFETCH(QString, plain);
        const Board board = newBoard("board", variedState);
        QCOMPARE(run("guard set gpio3=1,shutdown pwrbtn=0,standby", board).exitCode, 0);
        const CliRun text = run(command, board);
        const CliRun json = run(command + " --json", board);
        QVERIFY2(text.exitCode == 0 && json.exitCode == 0, qPrintable(text.err + json.err));
        if (!plain.isEmpty())
            QCOMPARE(QString::fromUtf8(text.out), plain);
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(json.out, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        // A command that prints one bare value holds it under its one key.
        QMap<QString, QString> lines = keyValues(text.out);
        if (lines.isEmpty())
            lines.insert(object.keys().value(0), QString::fromUtf8(text.out).trimmed());
        QCOMPARE(object.keys(), lines.keys());
        for (auto it = lines.begin(); it != lines.end(); ++it) {
            const QJsonValue value = object.value(it.key());
            QCOMPARE(value.isDouble() ? QString::number(it.value().toDouble()) : it.value(), plainText(value));
        }
    }

    // Over a fake kernel tree (sys/class/hidraw/hidraw3/device/uevent and
    // dev/hidraw3, a node nobody may open), a permission problem is told only
    // for the controller's IDs. Under root the program runs as nobody, and the
    // simulator keeps no files.
    void noControllerExitsWithThree_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("hidId"); // of the node; empty: no node
        QTest::addColumn<QString>("message");  // parts, split at '|'
        QTest::newRow("no hidraw node") << "get" << QByteArray() << "no controller found (USB ID 1209:4b58)";
        QTest::newRow("REDI_DEVICE path not there")
            << "REDI_DEVICE=/dev/vnkestrix get" << QByteArray("0003:00001209:00004B58")
            << "/dev/vnkestrix does not exist";
        QTest::newRow("REDI_DEVICE IDs not there") << "REDI_DEVICE=16c0:05df get" << QByteArray() << "USB ID 16c0:05df";
        QTest::newRow("controller's node not openable")
            << "set sample-rate=100" << QByteArray("0003:00001209:00004B58")
            << "hidraw3|permission|/usr/lib/udev/rules.d/70-vnkestrix.rules";
        QTest::newRow("another device's node not openable") << "info" << QByteArray("0003:0000046D:0000C077")
                                                            << "no controller found";
    }

    void noControllerExitsWithThree()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, hidId);
        QFETCH(QString, message);
        QVERIFY(QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                       | QFile::ReadOther | QFile::ExeOther));
        QVERIFY(QDir().mkpath(path("sys/class/hidraw/hidraw3/device")) && QDir().mkpath(path("dev")));
        if (!hidId.isEmpty()) {
            writeFile(path("sys/class/hidraw/hidraw3/device/uevent"), "HID_ID=" + hidId + "\nHID_NAME=board\n");
            writeFile(path("dev/hidraw3"), {});
            QVERIFY(QFile::setPermissions(path("dev/hidraw3"), {}));
        }
        QProcess process;
        const QString device = command.startsWith("REDI_DEVICE=") ? command.section(' ', 0, 0) : QString();
        process.setProcessEnvironment(environment({}, {"REDI_SIM_ABSENT=1", "VNKESTRIX_SYSFS_ROOT=" + path("sys"),
                                                       "VNKESTRIX_DEV_ROOT=" + path("dev"), device}, "registry"));
        command = command.mid(device.isEmpty() ? 0 : device.size() + 1);
        runAsNobody(process);
        process.start(CLI_PATH, command.split(' '));
        const bool finished = process.waitForFinished(30000);
        if (::geteuid() == 0 && (!finished || process.exitCode() == 127))
            QSKIP("the user nobody cannot run the program from this build tree");
        QVERIFY(finished);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 3);
        QCOMPARE(err.count('\n'), 1);
        for (const QString &part : message.split('|'))
            QVERIFY2(err.contains(part), qPrintable(err));
        QCOMPARE(err.contains("permission"), message.contains("permission"));
    }

    // Every command works in demo mode without the library being called.
    void demoModeNeedsNoController_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("output"); // part of it
        const auto row = [](const char *command, const char *output) { QTest::newRow(command) << command << output; };
        row("info", "serial=012345678");
        row("get --json", "\"watchdog.delay\": 51.2");
        row("set watchdog.mode=reset-system --save", "");
        row("save", "");
        row("serial", "012345678");
        row("serial ABC", "");
        row("action reset-thrm-pin", "");
        row("gpio read", "0x00");
        row("gpio write 0x81", "");
        row("export -", "\"sample-rate\": 512");
        row("import PROFILE --save", "");
        row("import PROFILE --dry-run", "watchdog.mode: off -> show-only");
    }

    void demoModeNeedsNoController()
    {
        QFETCH(QString, command);
        QFETCH(QString, output);
        writeFile(path("profile.json"), R"({"version": 1, "settings": {"watchdog.mode": "show-only"}})");
        const Board board = newBoard("board");
        const CliRun run = this->run(command + " --demo", board, {"REDI_SIM_ABSENT=1"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY2(run.out.contains(output.toUtf8()), run.out.constData());
        QCOMPARE(board.log(), QStringList());
    }

    // An exported profile makes another controller equal: RAM, flash with
    // --save, and the serial number when exported with it.
    void profileMakesControllersEqual_data()
    {
        QTest::addColumn<QString>("exportOptions");
        QTest::addColumn<QString>("importOptions");
        QTest::newRow("RAM") << "" << "";
        QTest::newRow("RAM and flash") << "" << " --save";
        QTest::newRow("with the serial number") << " --serial" << " --save";
    }

    void profileMakesControllersEqual()
    {
        QFETCH(QString, exportOptions);
        QFETCH(QString, importOptions);
        QByteArray state = "serial=BOARD-A7\n"; // every parameter away from its factory value, in both banks
        for (const char *value : {"report_mode=1", "sample_rate=250", "s3_mode=1", "watchdog_mode=1",
                                  "watchdog_delay=3005", "watchdog_strobe=7", "watchdog_sources=10",
                                  "power_settings=29", "gpio_direction=90", "gpio_output_mode=15",
                                  "gpio_standby_mode=129"})
            state += "ram." + QByteArray(value) + "\nflash." + value + "\n";
        const Board source = newBoard("source", state), target = newBoard("target");
        QCOMPARE(run("info", target).exitCode, 0);
        const QMap<QString, QString> factoryFlash = target.state("flash.");
        const QString factorySerial = target.state().value("serial");

        const CliRun exported = run("export PROFILE" + exportOptions, source);
        const CliRun imported = run("import PROFILE" + importOptions, target);
        QVERIFY2(exported.exitCode == 0 && imported.exitCode == 0, qPrintable(exported.err + imported.err));
        QCOMPARE(target.state("ram."), source.state("ram."));
        QCOMPARE(target.state("flash."), importOptions.isEmpty() ? factoryFlash : source.state("flash."));
        QCOMPARE(target.state().value("serial"), exportOptions.isEmpty() ? factorySerial : "BOARD-A7");
    }

    // Two controllers at once: list shows both and whether each may be
    // opened, --device picks one by node or serial number, and --verbose
    // traces the reports. `effect` is a key=value the second one must hold
    // and the first must not.
    void severalControllers_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("environment");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // part of stdout and stderr together
        QTest::addColumn<QString>("effect");
        const auto row = [](const char *tag, const char *command, const char *environment, int exitCode,
                            const char *output, const char *effect = "") {
            QTest::newRow(tag) << command << environment << exitCode << output << effect;
        };
        row("list", "list", "", 0, "/dev/hidraw-sim\tSIM000001\t1.0\tyes\n/dev/hidraw-sim2\tTWO\t2.5\tyes\n");
        row("list, second not permitted", "list --json", "REDI_SIM_SECOND_DENIED=1", 0,
            "\"access\": false,\n            \"device\": \"/dev/hidraw-sim2\",\n            \"firmware\": \"2.5\",\n"
            "            \"problem\": \"permission denied: install the udev rule");
        row("by serial number", "--device TWO set sample-rate=77", "", 0, "", "ram.sample_rate=77");
        row("by node, after the command", "set sample-rate=78 --device /dev/hidraw-sim2", "", 0, "",
            "ram.sample_rate=78");
        row("--device over REDI_DEVICE", "--device TWO serial", "REDI_DEVICE=/dev/hidraw-sim", 0, "TWO\n");
        row("REDI_DEVICE alone", "serial", "REDI_DEVICE=/dev/hidraw-sim2", 0, "TWO\n");
        row("no such serial number", "--device THREE info", "", 3, "\"THREE\"");
        row("no such node", "--device /dev/hidraw9 info", "", 3, "/dev/hidraw9 does not exist");
        row("verbose", "--verbose --device TWO gpio write 0x81", "", 0,
            "ms output report ok ", "output_levels=129");
        row("demo needs no device", "--demo --device THREE serial", "REDI_SIM_ABSENT=1", 0, "012345678");
    }

    void severalControllers()
    {
        QFETCH(QString, command);
        QFETCH(QString, environment);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, effect);
        const Board first = newBoard("first"), second = newBoard("second", "serial=TWO\nrelease=0x0250\n");
        const CliRun run = this->run(command, first,
                                     environment.split(' ', Qt::SkipEmptyParts) << "REDI_SIM_SECOND_STATE=" + second.statePath);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        QVERIFY2((run.out + run.err.toUtf8()).contains(output.toUtf8()), qPrintable(run.out + run.err));
        if (!effect.isEmpty()) {
            QCOMPARE(second.state().value(effect.section('=', 0, 0)), effect.section('=', 1));
            QVERIFY(first.state().value(effect.section('=', 0, 0)) != effect.section('=', 1));
        }
    }

    void dryRunOnlyPrintsChanges()
    {
        writeFile(path("profile.json"), R"({"version": 1,
            "settings": {"sample-rate": 50, "watchdog.mode": "show-only", "gpio.direction": "4,5,6,7"},
            "guard": {"gpio3": {"level": 1, "action": "shutdown"}}})");
        const Board target = newBoard("target");
        const CliRun dryRun = run("import PROFILE --dry-run --save", target);
        QVERIFY2(dryRun.exitCode == 0, qPrintable(dryRun.err));
        // The factory's sample rate and GPIO directions are the profile's: no change to print.
        QCOMPARE(QString::fromUtf8(dryRun.out),
                 "watchdog.mode: off -> show-only\nguard.gpio3: 0,do-nothing -> 1,shutdown\n"
                 "with --save, the profile's settings would also be written to flash\n");
        QCOMPARE(target.log().filter(" get=0 "), QStringList());
        // Reads open the store for reading only: a missing store is an empty
        // table, and none of them makes the file.
        QVERIFY(run("guard get", target).out.contains("gpio3=0,do-nothing"));
        QVERIFY(run("export - --guard", target).out.contains("\"gpio3\": {"));
        QVERIFY(!QFile::exists(path("registry")));
    }

    // Writers started together take turns: rows that different writers
    // change all arrive, and a table that each writer sets whole is one
    // writer's afterwards, never a mix.
    void parallelWritersTakeTurns_data()
    {
        QTest::addColumn<bool>("wholeTables");
        QTest::newRow("each its own row") << false;
        QTest::newRow("each a whole table") << true;
    }

    void parallelWritersTakeTurns()
    {
        QFETCH(bool, wholeTables);
        const Board board = newBoard("board");
        const QStringList actions{"do-nothing", "standby", "shutdown"}, lines = guardTable(board).keys();
        const int writers = wholeTables ? 4 : 8;
        for (int round = 0; round < 10; ++round) {
            std::vector<std::unique_ptr<QProcess>> processes;
            for (int w = 0; w < writers; ++w) {
                QStringList rows{"guard", "set"};
                for (int line = 0; line < lines.size(); ++line) {
                    if (wholeTables)
                        rows << QStringLiteral("%1=%2,%3").arg(lines[line]).arg(w % 2).arg(actions[w % 3]);
                    else if (line == w)
                        rows << QStringLiteral("%1=%2,%3").arg(lines[line]).arg(round % 2).arg(actions[1 + round % 2]);
                }
                processes.push_back(std::make_unique<QProcess>());
                processes.back()->setProcessEnvironment(environment(board, {}, "registry"));
                processes.back()->start(CLI_PATH, rows);
            }
            for (const auto &process : processes)
                QVERIFY2(process->waitForFinished(30000) && process->exitCode() == 0, process->readAllStandardError());
            const QMap<QString, QString> table = guardTable(board);
            for (int line = 0; line < lines.size(); ++line) {
                const QString expected = wholeTables ? table.first()
                    : line < writers                 ? QStringLiteral("%1,%2").arg(round % 2).arg(actions[1 + round % 2])
                                                     : "0,do-nothing";
                QVERIFY2(table.value(lines[line]) == expected, qPrintable(QStringLiteral("round %1: %2=%3, not %4")
                                                                           .arg(round).arg(lines[line], table.value(lines[line]), expected)));
            }
        }
    }

    // A store that cannot be used fails the command with exit code 1 and one
    // line naming the file and the cause; the table in it stays as it was.
    // Rows for another user run the program as nobody, which needs root.
    void storeFaultFailsTheCommand_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // part of stderr, or of stdout on success
        const auto row = [](const char *tag, const char *fault, const char *command, int exitCode, const char *message) {
            QTest::newRow(tag) << fault << command << exitCode << message;
        };
        row("corrupt store, read", "corrupt", "guard get", 1, "corrupt");
        row("corrupt store, export", "corrupt", "export - --guard --demo", 1, "corrupt");
        row("corrupt store, write", "corrupt", "guard set gpio0=1,standby", 1, "corrupt");
        row("another program's file, read", "foreign", "guard get", 1, "not a registry store");
        row("another program's file, write", "foreign", "import PROFILE", 1, "not a registry store");
        row("unreadable for another user", "unreadable", "guard get", 1, "not readable");
        row("world-readable for another user, read", "readable", "guard get", 0, "gpio3=1,shutdown");
        row("world-readable for another user, dry run", "readable", "import PROFILE --dry-run", 0,
            "guard.gpio0: 0,do-nothing -> 1,standby");
        row("world-readable for another user, write", "readable", "guard set gpio0=1,standby", 1, "read-only");
        row("write lock held", "locked", "guard set gpio0=1,standby", 1, "busy");
        row("disk full", "full", "import PROFILE", 1, "disk full");
    }

    void storeFaultFailsTheCommand()
    {
        QFETCH(QString, fault);
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const bool root = ::geteuid() == 0, otherUser = fault == "readable" || fault == "unreadable";
        if (fault == "readable" && !root)
            QSKIP("only root can run the program as another user");
        QString registry = "registry";
        if (fault == "full") {
            if (!root)
                QSKIP("a full disk is made with a small tmpfs, which needs root");
            registry = "small/registry";
            QVERIFY(QDir().mkpath(path("small")));
            if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", path("small")}) != 0)
                QSKIP("no tmpfs could be mounted here");
            mounted = path("small");
        }
        const QString store = path(registry);
        writeFile(path("profile.json"), R"({"version": 1, "guard": {"gpio0": {"level": 1, "action": "standby"}}})");
        const Board board = newBoard("board");
        QCOMPARE(run("guard set gpio3=1,shutdown", board, {}, registry).exitCode, 0);
        const QMap<QString, QString> before = guardTable(board, registry);

        sqlite3 *other = nullptr;
        if (fault == "corrupt") { // page 3, the values, once they are in the file itself
            sqlite3_close(openStore(store, "PRAGMA wal_checkpoint(TRUNCATE)"));
            QFile file(store);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.size() >= 3 * 4096 && file.seek(2 * 4096));
            file.write(QByteArray(4096, '\x5a'));
        } else if (fault == "foreign") {
            for (const char *suffix : {"", "-wal", "-shm"})
                QFile::remove(store + suffix);
            sqlite3_close(openStore(store, "CREATE TABLE photos(id INTEGER PRIMARY KEY, name TEXT)"));
        } else if (otherUser) {
            QVERIFY(QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                           | QFile::ReadOther | QFile::ExeOther));
            for (const char *suffix : {"", "-wal", "-shm"}) {
                QFile::setPermissions(store + suffix, fault == "unreadable" ? QFile::Permissions()
                                                                           : QFile::ReadOwner | QFile::WriteOwner
                                                                                 | QFile::ReadOther);
            }
        } else if (fault == "locked") {
            other = openStore(store, "BEGIN IMMEDIATE");
        } else if (fault == "full") {
            QFile filler(path("small/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) { }
        }

        const CliRun run = this->run(command, board, {}, registry, otherUser && root);
        if (otherUser && root && run.exitCode == 127)
            QSKIP("the user nobody cannot run the program from this build tree");
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        if (exitCode == 0) {
            QVERIFY2(run.out.contains(message.toUtf8()), run.out.constData());
        } else {
            QCOMPARE(run.err.count('\n'), 1);
            QVERIFY2(run.err.contains(store + ": ") && run.err.contains(message), qPrintable(run.err));
        }

        sqlite3_close(other);
        QFile::remove(path("small/filler"));
        if (fault == "foreign") {
            const QString tables = "SELECT group_concat(name) FROM sqlite_master";
            sqlite3 *db = openStore(store, "");
            sqlite3_stmt *stmt = nullptr;
            sqlite3_prepare_v2(db, tables.toUtf8().constData(), -1, &stmt, nullptr);
            QCOMPARE(sqlite3_step(stmt), SQLITE_ROW);
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))), "photos");
            sqlite3_finalize(stmt);
            sqlite3_close(db);
        } else if (fault != "corrupt") {
            QCOMPARE(guardTable(board, registry), before);
        }
    }

    void guardTableTravelsThroughTheStore()
    {
        const Board board = newBoard("board");
        QCOMPARE(run("guard set gpio3=1,shutdown pwrbtn=0,standby", board, {}, "first").exitCode, 0);
        QCOMPARE(run("guard set batlow=0,standby", board, {}, "first").exitCode, 0);
        const CliRun stored = run("guard get", board, {}, "first");
        QStringList rows = QString::fromUtf8(stored.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 10);
        rows.removeIf([](const QString &row) { return row.endsWith("=0,do-nothing"); });
        QCOMPARE(rows, QStringList({"gpio3=1,shutdown", "batlow=0,standby", "pwrbtn=0,standby"}));

        QCOMPARE(run("export PROFILE --guard", board, {}, "first").exitCode, 0);
        QCOMPARE(run("import PROFILE", board, {}, "second").exitCode, 0);
        QCOMPARE(run("guard get", board, {}, "second").out, stored.out);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
