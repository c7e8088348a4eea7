// The guard service's rules over the in-process controller simulator, with
// the time passed in: when rows fire, what is never acted on, the watchdog's
// serve rate, a controller that goes away, a table that changes, and the
// configuration file. The cases are the rows of guardd_cases.txt (the
// notation is described there).

#include "../support/case_table.h"
#include "controller_sim.h"
#include "guard_service.h"

#include <QtTest>

#include <map>
#include <utility>

class TestGuardd : public QObject {
    Q_OBJECT

private slots:
    void scenario_data() {
        QTest::addColumn<QStringList>("row");
        for (const QStringList &row : caseTable(GUARDD_CASES, 5))
            QTest::newRow(qPrintable(row[0])) << row;
    }

    void scenario() {
        QFETCH(QStringList, row);
        const QString &config = row[1], &events = row[2], &heard = row[3], &shows = row[4];
        sim::reset();
        sim::simulator().firmware.value(sim::Bank::Ram, sim::Param::WatchdogStrobe) = 10;
        struct Recorder final : PowerActions {
            QStringList heard, log;
            int ms = 0, keepAlives = 0;
            QString logind = "answers"; // or "refuses", "silent" (answers held until it answers)
            std::vector<Answer> held;
            void request(GuardAction action, Answer answer) override {
                heard << QStringLiteral("%1:%2").arg(ms).arg(action == GuardAction::Shutdown ? "shutdown" : "standby");
                if (logind == "silent")
                    held.push_back(std::move(answer));
                else
                    answer(logind == "refuses" ? "Access denied" : "");
            }
        } recorder;
        std::vector<std::string> errors;
        auto parsed = parseServiceConfig("debounce-ms = 200\nstartup-grace-s = 1\n" + config.toStdString(), errors);
        for (const std::string &error : errors) // a refused configuration: heard are its errors
            recorder.heard << QString::fromStdString(error);
        if (!parsed) {
            QCOMPARE(recorder.heard.join(" ; "), heard);
            return;
        }
        parsed->keepAliveEvery = std::chrono::seconds(1); // as under WatchdogSec=2s
        std::optional<GuardTable> onDisk = GuardTable{};
        bool locked = false, canListen = true, listening = false, reporting = true;
        // The events that turn something on (yes) or off (no).
        const std::map<QString, bool *> switches{{"reports", &reporting}, {"listen", &canListen}, {"locked", &locked},
                                                 {"gone", &sim::simulator().absent}};
        int polls = 0;
        InputReport sent{}, current{}; // the last report the controller sent, its lines now
        const auto ram = [](sim::Param p) -> std::uint16_t & { return sim::simulator().firmware.value(sim::Bank::Ram, p); };
        std::string status;
        const ServiceHooks hooks{[&](std::string &error) { error = locked ? "busy" : "corrupt"; return locked ? std::nullopt : onDisk; },
                                 [&recorder](LogPriority priority, const std::string &line) {
                                     recorder.log << QString::fromStdString(line);
                                     if (priority <= LogPriority::Warning)
                                         recorder.heard << QStringLiteral("%1:%2").arg(recorder.ms).arg(recorder.log.last());
                                 },
                                 [&status](const std::string &text) { status = text; }, [] { return std::string("T"); },
                                 [&recorder] { return ++recorder.keepAlives > 0; },
                                 [&](const std::string &) { return listening = canListen; }};
        const Clock::time_point start{std::chrono::hours(1)};
        GuardService service(*parsed, recorder, hooks, start);
        std::map<int, QStringList> due; // the events by time; the service adds when it is next due
        for (const QString &event : events.split(' ', Qt::SkipEmptyParts))
            due[event.section(':', 0, 0).toInt()] << event.section(':', 1);
        const int end = std::max(10000, due.empty() ? 0 : due.rbegin()->first + 1000);
        while (recorder.ms < end) {
            for (const QString &what : due[recorder.ms]) {
                const auto line = std::find(guardLineKeys.begin(), guardLineKeys.end(), what.section('=', 1, 1));
                if (switches.count(what.section('=', 0, 0)))
                    *switches.at(what.section('=', 0, 0)) = what.section('=', 1) == "yes";
                else if (what.startsWith("logind=")) {
                    recorder.logind = what.mid(7);
                    for (PowerActions::Answer &answer : std::exchange(recorder.held, {}))
                        answer(recorder.logind == "refuses" ? "Access denied" : "");
                } else if (what.startsWith("fail="))
                    sim::addFailRules(what.mid(5).toStdString());
                else if (what == "table=")
                    onDisk.reset();
                else if (what.startsWith("table=")) {
                    onDisk->levels.at(line - guardLineKeys.begin()) = what.section('=', 2).section(',', 0, 0).toUInt();
                    onDisk->actions.at(line - guardLineKeys.begin()) = what.section(',', 1).toUInt();
                } else // a line of the simulator's state file
                    QVERIFY2(sim::loadStateText(what.toStdString()), qPrintable(what));
                if (what.startsWith("table="))
                    service.tableChanged();
            }
            // The controller samples on its own clock: in report mode 0 it
            // sends every sample, in mode 1 the first sample after a change.
            const int rate = ram(sim::Param::SampleRate);
            sim::simulator().firmware.inputReport(current.data());
            const bool news = reporting && (ram(sim::Param::ReportMode) == 0 || current != sent);
            const Clock::time_point at = start + std::chrono::milliseconds(recorder.ms);
            if (listening && sim::simulator().absent) {
                listening = false;
                service.reportsFailed(at);
            } else if (recorder.ms % rate == 0 && listening && news) {
                service.reportArrived(at, current);
            }
            if (recorder.ms % rate == 0)
                sent = current;
            const auto next = std::chrono::ceil<std::chrono::milliseconds>(service.poll(at) - start);
            ++polls;
            const int was = recorder.ms; // a service that asks to run again at once spins: the test would never end
            recorder.ms = std::min<int>({int(next.count()), due.upper_bound(recorder.ms) == due.end() ? end : due.upper_bound(recorder.ms)->first,
                                         listening && news ? (recorder.ms / rate + 1) * rate : end});
            QVERIFY2(recorder.ms > was, qPrintable(QStringLiteral("at %1 ms the service asks to run again at once").arg(was)));
        }
        QCOMPARE(recorder.heard.join(" ; "), heard);
        const QString seen = QString::fromStdString(status) + recorder.log.join('\n')
            + QStringLiteral("\nreads=%5\nwakes=%6\nserves=%1\nkeepalives=%4\npoll-interval-ms=%2\nstatus-file=%3\n")
                  .arg(sim::simulator().firmware.actions[static_cast<int>(sim::Action::ServeWatchdog)])
                  .arg(parsed->pollInterval.count()).arg(QString::fromStdString(parsed->statusFile)).arg(recorder.keepAlives)
                  .arg(std::count_if(sim::calls().begin(), sim::calls().end(), [](const sim::Call &c) { return c.function == sim::Function::GetInReport; }))
                  .arg(polls);
        for (const QString &text : shows.split(" ; ", Qt::SkipEmptyParts))
            QVERIFY2(seen.contains(text.mid(text.startsWith('!'))) != text.startsWith('!'), qPrintable(text + " in:\n" + seen));
    }

    // Uncommented, the shipped file shows every key, at the defaults.
    void shippedConfigurationShowsTheDefaults() {
        const QString text = fileText(SHIPPED_CONFIG).replace(QRegularExpression("(?m)^#([a-z])"), "\\1");
        QCOMPARE(text.count(QRegularExpression("(?m)^[a-z-]+ = ")), 8);
        std::vector<std::string> errors;
        const auto shipped = parseServiceConfig(text.toStdString(), errors);
        const auto fields = [](const ServiceConfig &c) {
            return std::tuple(c.pollInterval, c.debounce, c.startupGrace, c.serveWatchdog, !c.batlowBit, !c.pwrbtnBit,
                              c.statusFile, c.metricsDirectory);
        };
        QVERIFY(shipped && fields(*shipped) == fields(ServiceConfig{}));
    }
};

QTEST_GUILESS_MAIN(TestGuardd)
#include "tst_guardd.moc"
