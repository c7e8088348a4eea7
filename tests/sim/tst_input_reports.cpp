// The simulator's interrupt-in reports on its own clock, from the table
// input_reports.txt: when the firmware model sends a report in each report
// mode and at each sample rate, what it holds, what the kernel's queue keeps,
// and how a wait for one moves the clock.
//
// A case ("# title", then "##" comments) is steps: "state LINES" loads
// state-file lines (comma-separated), "clock MS" sets the clock, "fail RULES"
// adds failure rules, "queued" shows how many reports wait, "mute" makes a controller that sends no reports, and "wait TIMEOUT [LENGTH [DEVICE]]" waits (the
// length 33 and the simulator's device unless given). After "->" the wait's
// result, the clock after it, the call's result in the log and its reply
// there with the zero bytes at the end left off.
#include "../support/case_table.h"
#include "controller_sim.h"

#include <redi.h>

#include <QtTest>

class TestInputReports : public QObject {
    Q_OBJECT

private slots:
    void waits_data()
    {
        QTest::addColumn<QStringList>("steps");
        for (const auto &[title, steps] : caseBlocks(fileText(INPUT_REPORTS)))
            QTest::newRow(qPrintable(title)) << steps;
    }

    void waits()
    {
        QFETCH(QStringList, steps);
        sim::reset();
        for (const QString &line : steps) {
            const QStringList w = line.section(" -> ", 0, 0).split(' ');
            QString result;
            if (w[0] == "state")
                QVERIFY(sim::loadStateText(w[1].split(',').join('\n').toStdString()));
            else if (w[0] == "clock")
                sim::simulator().clockMs = w[1].toULongLong();
            else if (w[0] == "queued")
                result = " -> " + QString::number(sim::simulator().inputQueue.size());
            else if (w[0] == "mute")
                sim::simulator().firmware.sendsInputReports = false;
            else if (w[0] == "fail")
                QVERIFY(sim::addFailRules(w[1].toStdString()));
            else { // the log line's result and reply, without the zero bytes at the end
                sim::clearCalls();
                unsigned char report[sim::ReportSize];
                const int got = Redi_ReadInputReport(w.value(3, "/dev/hidraw-sim").toLatin1(), report, w.value(2, "33").toInt(), w[1].toInt());
                result = QStringLiteral(" -> %1 @%2 ").arg(got).arg(sim::simulator().clockMs)
                    + QString::fromStdString(sim::calls().back().line()).section(' ', 4).remove("reply=").remove(QRegularExpression(" ?(00)+$"));
            }
            QCOMPARE(line.section(" -> ", 0, 0) + result, line);
        }
    }
};

QTEST_APPLESS_MAIN(TestInputReports)
#include "tst_input_reports.moc"
