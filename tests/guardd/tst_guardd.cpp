// The guard service's rules over the in-process controller simulator, with
// the time passed in: when rows fire, what is never acted on, the
// watchdog's serve rate, a controller that goes away, a table that changes.

#include "controller_sim.h"
#include "guard_service.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {

struct RecordedActions final : PowerActions {
    QStringList calls; // "t=<ms> standby|shutdown"
    Clock::time_point start;
    Clock::time_point now;
    bool request(GuardAction action, std::string &) override
    {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
        calls << QStringLiteral("%1:%2").arg(ms).arg(action == GuardAction::Shutdown ? "shutdown" : "standby");
        return true;
    }
};

// Runs the service for `steps` polls of 100 ms; `levelsAt(ms)` sets the
// simulator's input before each poll. The log lines are kept.
struct Run {
    ServiceConfig config;
    GuardTable table;
    std::optional<GuardTable> tableOnDisk;
    RecordedActions actions;
    QStringList log;
    std::string status;

    void go(int steps, const std::function<void(int ms, GuardService &)> &beforePoll)
    {
        actions.start = Clock::time_point{} + 1h;
        tableOnDisk = table;
        ServiceHooks hooks{[this](std::string &error) -> std::optional<GuardTable> {
                               if (!tableOnDisk)
                                   error = "corrupt";
                               return tableOnDisk;
                           },
                           [this](LogPriority, const std::string &line) { log << QString::fromStdString(line); },
                           [this](const std::string &text) { status = text; }, [] { return std::string("T"); }};
        GuardService service(config, actions, hooks, actions.start);
        for (int ms = 0; ms < steps * 100; ms += 100) {
            actions.now = actions.start + std::chrono::milliseconds(ms);
            beforePoll(ms, service);
            service.poll(actions.now);
        }
    }
};

// "ms:levels ms:levels ...": the input levels from each time on.
std::function<void(int, GuardService &)> timeline(const QString &text)
{
    QList<std::pair<int, int>> changes;
    for (const QString &step : text.split(' ', Qt::SkipEmptyParts))
        changes.append({step.section(':', 0, 0).toInt(), step.section(':', 1).toInt(nullptr, 0)});
    return [changes](int ms, GuardService &) {
        for (const auto &[at, levels] : changes) {
            if (at == ms)
                sim::setInputLevels(static_cast<std::uint8_t>(levels));
            if (at == ms && levels < 0)
                sim::setAbsent(true);
            if (at == ms && levels >= 0)
                sim::setAbsent(false);
        }
    };
}

} // namespace

class TestGuardd : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        sim::reset();
    }

    // GPIO 3 "is 1" with the action of the row; debounce 200 ms, grace 1 s.
    void rowFires_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("levels"); // timeline; -1 = controller absent
        QTest::addColumn<QStringList>("fired");
        QTest::newRow("enters its level: once, after the debounce")
            << 2 << "0:0 1500:0x08" << QStringList{"1700:shutdown"};
        QTest::newRow("a glitch shorter than the debounce") << 2 << "0:0 1500:0x08 1600:0" << QStringList{};
        QTest::newRow("left its level during the grace: after the debounce")
            << 1 << "0:0x08 300:0 500:0x08" << QStringList{"700:standby"};
        QTest::newRow("at its level from the start: only after the grace")
            << 1 << "0:0x08" << QStringList{"1000:standby"};
        QTest::newRow("again only after leaving the level")
            << 1 << "0:0 1500:0x08 2500:0 2600:0x08" << QStringList{"1700:standby", "2800:standby"};
        QTest::newRow("other lines do not count") << 2 << "0:0 1500:0xF7" << QStringList{};
        QTest::newRow("do nothing is never acted on") << 0 << "0:0 1500:0x08" << QStringList{};
        QTest::newRow("never on a level it could not read")
            << 2 << "0:0 1500:0x08 1600:-1 2500:0x08" << QStringList{"2900:shutdown"};
    }
    void rowFires()
    {
        QFETCH(int, action);
        QFETCH(QString, levels);
        QFETCH(QStringList, fired);
        Run run;
        run.config.debounce = 200ms;
        run.config.startupGrace = 1s;
        run.table.levels[3] = 1;
        run.table.actions[3] = static_cast<std::uint32_t>(action);
        run.go(40, timeline(levels));
        QCOMPARE(run.actions.calls, fired);
    }

    // BATLOW# and PWRBTN# come from configured input-report bits only.
    void batlowAndPwrbtn_data()
    {
        QTest::addColumn<bool>("configured");
        QTest::addColumn<QStringList>("fired");
        QTest::newRow("not configured: logged, never acted on") << false << QStringList{};
        QTest::newRow("configured as byte 10 bit 1") << true << QStringList{"200:shutdown"};
    }
    void batlowAndPwrbtn()
    {
        QFETCH(bool, configured);
        QFETCH(QStringList, fired);
        Run run;
        run.config.startupGrace = 0s;
        if (configured)
            run.config.batlowBit = InputBit{10, 1};
        run.table.actions[8] = 2; // BATLOW# is 0: shutdown
        sim::setStatusByte(0xFD);
        run.go(5, [](int, GuardService &) { });
        QCOMPARE(run.actions.calls, fired);
        QCOMPARE(run.log.filter("BATLOW# is not watched").size(), configured ? 0 : 1);
        QCOMPARE(run.log.filter("PWRBTN# is not watched").size(), 1);
    }

    void watchdogIsServedAtHalfTheStrobe()
    {
        Run run;
        run.config.serveWatchdog = true;
        sim::setRamValue(sim::Param::WatchdogStrobe, 10); // 1.0 s: served every 0.5 s
        auto &serves = sim::simulator().firmware.actions[static_cast<int>(sim::Action::ServeWatchdog)];
        run.go(30, [](int, GuardService &) { });
        QCOMPARE(int(serves), 6); // at 0, 0.5, ... 2.5 s
        QVERIFY(run.status.find("watchdog=serving every 0.5 s") != std::string::npos);
    }

    void controllerGoneAndBack()
    {
        Run run;
        run.config.serveWatchdog = true;
        sim::setRamValue(sim::Param::WatchdogStrobe, 10);
        auto &serves = sim::simulator().firmware.actions[static_cast<int>(sim::Action::ServeWatchdog)];
        // Absent from 1 s to 5 s: looked for at 1.1, 2.1, 4.1 and 8.1 s.
        run.go(100, timeline("0:0 1000:-1 5000:0"));
        QCOMPARE(run.log.filter("lost the controller").size(), 1);
        QCOMPARE(run.log.filter("no controller found").size(), 1);
        QCOMPARE(run.log.filter("controller found").size(), 3); // "no controller found" too
        QVERIFY(run.status.find("controller=/dev/hidraw-sim") != std::string::npos);
        QCOMPARE(int(serves), 6); // at 0 and 0.5 s, then from 8.1 s on again
    }

    void tableChangesWithoutRestart()
    {
        Run run;
        run.config.startupGrace = 0s;
        run.go(30, [&run](int ms, GuardService &service) {
            if (ms == 1000) {
                run.tableOnDisk->actions[5] = 1; // GPIO 5 is 0: standby
                service.tableChanged();
            }
            if (ms == 1500) {
                run.tableOnDisk.reset(); // unreadable: the last good table stays
                service.tableChanged();
            }
        });
        QCOMPARE(run.actions.calls, QStringList{"1200:standby"});
        QCOMPARE(run.log.filter("keeping the last one read: corrupt").size(), 1);
        QVERIFY(run.status.find("table=stale: corrupt") != std::string::npos);
        QVERIFY(run.status.find("line.gpio5=0,1,0\n") != std::string::npos);
        QVERIFY(run.status.find("last-fired=gpio5 standby T\n") != std::string::npos);
    }

    // The shipped file shows every key at its default: uncommented, it must
    // parse to exactly the defaults the service has without it.
    void shippedConfigurationShowsTheDefaults()
    {
        QFile file(QStringLiteral(SHIPPED_CONFIG));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll()).replace(QRegularExpression("(?m)^#([a-z])"), "\\1");
        std::vector<std::string> errors;
        const auto config = parseServiceConfig(text.toStdString(), errors);
        QVERIFY2(config, errors.empty() ? "" : errors.front().c_str());
        const ServiceConfig defaults;
        QCOMPARE(config->pollInterval, defaults.pollInterval);
        QCOMPARE(config->debounce, defaults.debounce);
        QCOMPARE(config->startupGrace, defaults.startupGrace);
        QCOMPARE(config->serveWatchdog, defaults.serveWatchdog);
        QVERIFY(!config->batlowBit && !config->pwrbtnBit);
        QCOMPARE(config->statusFile, defaults.statusFile);
        QCOMPARE(text.count(QRegularExpression("(?m)^[a-z-]+ = ")), 7);
    }

    void configuration_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("every key")
            << "# comment\npoll-interval-ms = 50\ndebounce-ms=0\nstartup-grace-s=0\nserve-watchdog=yes\n"
               "batlow-bit = 10.1\npwrbtn-bit=none\nstatus-file=/tmp/s # trailing\n"
            << QStringList{};
        QTest::newRow("bad values, one line each")
            << "poll-interval-ms=5\ndebounce-ms=-1\nbatlow-bit=33.0\nserve-watchdog=1\nstatus-file=rel\nfoo=1\nx\n"
               "pwrbtn-bit=0.1"
            << QStringList{"line 1: poll-interval-ms takes 10 to 60000, not \"5\"",
                           "line 2: debounce-ms takes 0 to 60000, not \"-1\"",
                           "line 3: batlow-bit takes none or BYTE.BIT (1-32.0-7), not \"33.0\"",
                           "line 4: serve-watchdog takes yes or no, not \"1\"",
                           "line 5: status-file takes an absolute path, not \"rel\"",
                           "line 6: unknown key \"foo\"", "line 7: expected KEY = VALUE",
                           "line 8: pwrbtn-bit takes none or BYTE.BIT (1-32.0-7), not \"0.1\""};
    }
    void configuration()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, errors);
        std::vector<std::string> found;
        const auto config = parseServiceConfig(text.toStdString(), found);
        QStringList got;
        for (const std::string &e : found)
            got << QString::fromStdString(e);
        QCOMPARE(got, errors);
        QCOMPARE(config.has_value(), errors.isEmpty());
        if (config) {
            QCOMPARE(config->pollInterval, 50ms);
            QCOMPARE(config->batlowBit->byte * 10 + config->batlowBit->bit, 101);
            QVERIFY(config->serveWatchdog && !config->pwrbtnBit && config->statusFile == "/tmp/s");
        }
    }
};

QTEST_GUILESS_MAIN(TestGuardd)
#include "tst_guardd.moc"
