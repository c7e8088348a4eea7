// The controller layer's golden bytes: every request it builds, as the
// simulator saw it leave, and what it makes of the replies (values, tenths,
// firmware text, input levels), from the table in requests.txt. Each row runs
// again in demo mode, which must answer without sending anything. And the
// simulator's own interrupt-in reports on its clock, from the case blocks of
// tests/sim/input_reports.txt (the notation is there).
#include "../support/case_table.h"
#include "controller_link.h"
#include "controller_sim.h"
#include "parameter_catalogue.h"

#include <redi.h>

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <functional>
#include <map>

namespace {

struct Entry {
    std::function<bool(double &)> get;
    std::function<bool(const QString &, Target)> set;
};

double number(const QString &text) { return std::strtod(text.toLatin1().constData(), nullptr); }

template <typename T> Entry param(bool (*get)(T &), bool (*set)(T, Target))
{
    return {[get](double &out) { T v{}; const bool ok = get(v); out = ok ? double(v) : out; return ok; },
            [set](const QString &v, Target t) { return set(static_cast<T>(number(v)), t); }};
}

#define PARAM(name) {#name, param(get##name, set##name)}
#define ACTION(name) {#name, {{}, [](const QString &, Target) { return name(); }}}
const std::map<QString, Entry> entries = {
    PARAM(ReportMode), PARAM(SampleRate), PARAM(WatchdogStrobe), PARAM(WatchdogDelay), PARAM(S3SignalizationMode),
    PARAM(WatchdogMode), PARAM(WatchdogSources), PARAM(PowerSettings), PARAM(GpioDirection), PARAM(GpioOutputMode),
    PARAM(GpioStandbyMode), ACTION(resetThrmPin), ACTION(serveWatchdog), ACTION(resetWatchdogPin),
    {"SerialNumber", {{}, [](const QString &v, Target) { return setSerialNumber(QString(v).remove('"').toStdString()); }}},
    {"Gpio", {{}, [](const QString &v, Target) { return writeGpio(static_cast<std::uint8_t>(number(v))); }}}};

// What a call returned and delivered, then the requests that left, as the
// drop-in logs them, without the replies and the zero bytes at the end.
QString observe(QStringList call)
{
    // Set-up words first: state-file lines, "absent", and "failing" (the next
    // feature request and the next input report fail).
    while (call[0].contains('=') || call[0] == "absent" || call[0] == "failing") {
        const QString word = call.takeFirst();
        if (word == "absent")
            sim::simulator().absent = true;
        else if (!(word == "failing" ? sim::addFailRules("feature input") : sim::loadStateText(word.toStdString())))
            return "bad set-up " + word;
    }
    const Entry entry = entries.count(call.value(1)) ? entries.at(call[1]) : Entry{};
    QString seen;
    if (call[0] == "set") {
        seen = QString::number(entry.set(call[2], static_cast<Target>(call[3] == "flash" ? 1 : number(call[3]))));
    } else if (call[0] == "get") {
        double value = -1;
        seen = QString::number(entry.get(value));
        seen += ' ' + QString::number(value);
    } else if (call[0] == "input") { // levels are byte 3, the flags bits 1 and 5 of byte 10
        std::uint8_t levels = 7;
        bool bit1 = false, bit5 = true;
        seen = QString::number(readGpio(levels, bit1, bit5));
        seen += QStringLiteral(" %1 %2 %3").arg(levels).arg(bit1).arg(bit5);
    } else if (call[0] == "record") { // a serial-number read refreshes the record the find gave
        std::string name = "kept", serial = "kept";
        seen = QString::number(findController(name));
        seen += ' ' + QString::number(getSerialNumber(serial));
        seen += QString::fromStdString(' ' + name + ' ' + serial + ' ' + getFirmwareRevision());
        serveWatchdog(); // goes to the device the record names
    }
    for (const sim::Call &c : sim::calls())
        seen += " ; " + QString::fromStdString(c.line()).section(" reply=", 0, 0).remove(QRegularExpression("(00)+$"));
    return seen;
}

} // namespace

class ControllerTest : public QObject
{
    Q_OBJECT

private slots:
    // Rows: the call, what it did, and what it did in demo mode, split at " | ".
    void requests_data()
    {
        QTest::addColumn<QStringList>("row");
        for (const QStringList &row : caseTable(REQUESTS, 3))
            QTest::newRow(qPrintable(row[0])) << row;
    }

    void requests()
    {
        QFETCH(QStringList, row);
        sim::reset();
        setDemoMode(false);
        std::string name;
        QVERIFY(findController(name));
        for (const bool demo : {false, true}) {
            sim::clearCalls();
            setDemoMode(demo);
            QCOMPARE(observe(row[0].split(' ')), row[demo ? 2 : 1]);
        }
    }

    void inputReports_data()
    {
        QTest::addColumn<QStringList>("steps");
        for (const auto &[title, steps] : caseBlocks(fileText(INPUT_REPORTS)))
            QTest::newRow(qPrintable(title)) << steps;
    }

    void inputReports()
    {
        QFETCH(QStringList, steps);
        sim::reset();
        sim::Simulator &s = sim::simulator();
        for (const QString &line : steps) {
            const QStringList w = line.section(" -> ", 0, 0).split(' ');
            QString result;
            if (w[0] == "state")
                QVERIFY(sim::loadStateText(w.mid(1).join('\n').toStdString()));
            else if (w[0] == "clock")
                s.clockMs = w[1].toULongLong();
            else if (w[0] == "mute")
                s.firmware.sendsInputReports = false;
            else if (w[0] == "queued")
                result = " -> " + QString::number(s.inputQueue.size());
            else if (w[0] == "fail")
                QVERIFY(sim::addFailRules(w[1].toStdString()));
            else { // the log line's result and reply, without the zero bytes at the end
                unsigned char report[sim::ReportSize];
                const int got = Redi_ReadInputReport(w.value(3, "/dev/hidraw-sim").toLatin1(), report, w.value(2, "33").toInt(), w[1].toInt());
                result = QStringLiteral(" -> %1 @%2 ").arg(got).arg(s.clockMs)
                    + QString::fromStdString(sim::calls().back().line()).section(' ', 4).remove("reply=").remove(QRegularExpression(" ?(00)+$"));
            }
            QCOMPARE(line.section(" -> ", 0, 0) + result, line);
        }
    }
};

QTEST_APPLESS_MAIN(ControllerTest)
#include "tst_controller.moc"
