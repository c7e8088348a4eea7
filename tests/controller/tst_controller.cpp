// The controller layer's golden bytes: every request it builds, as the
// simulator saw it leave, and what it makes of the replies (values, tenths,
// firmware text, input levels), from the table in requests.txt. Each row runs
// again in demo mode, which must answer without sending anything. And the
// simulator's own interrupt-in reports on its clock, from the case blocks of
// tests/sim/input_reports.txt (the notation is there). One interpreter takes
// the steps of both.
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

// A parameter's get, giving what it returned and, when it worked, the
// value (else -1), and its set; an action's and the other calls' set.
struct Entry {
    std::function<QString()> get;
    std::function<bool(const QString &, Target)> set;
};

double number(const QString &text) { return std::strtod(text.toLatin1().constData(), nullptr); }

template <typename T> Entry param(bool (*get)(T &), bool (*set)(T, Target))
{
    return {[get] { T v{}; return get(v) ? "1 " + QString::number(double(v)) : QString("0 -1"); },
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

// One step of a row or a case, as words: set-up gives nothing, or "bad
// set-up" when it cannot be applied; a call what it returned and delivered.
QString step(const QStringList &w)
{
    bool applied = true;
    if (w[0] == "state" || w[0].contains('=')) // "state" is the input-report cases' word
        applied = sim::loadStateText(w.mid(w[0] == "state").join('\n').toStdString());
    else if (w[0] == "fail")
        applied = sim::addFailRules(w[1].toStdString());
    else if (w[0] == "absent")
        sim::simulator().absent = true;
    else if (w[0] == "clock")
        sim::simulator().clockMs = w[1].toULongLong();
    else if (w[0] == "mute")
        sim::simulator().firmware.sendsInputReports = false;
    else if (w[0] == "queued")
        return QString::number(sim::simulator().inputQueue.size());
    else if (w[0] == "set")
        return QString::number(entries.at(w[1]).set(w[2], static_cast<Target>(w[3] == "flash" ? 1 : number(w[3]))));
    else if (w[0] == "get")
        return entries.at(w[1]).get();
    else if (w[0] == "input") { // levels are byte 3, the flags bits 1 and 5 of byte 10
        std::uint8_t levels = 7;
        bool bit1 = false, bit5 = true;
        const bool ok = readGpio(levels, bit1, bit5);
        return QStringLiteral("%1 %2 %3 %4").arg(ok).arg(levels).arg(bit1).arg(bit5);
    } else if (w[0] == "record") { // a serial-number read refreshes the record the find gave
        std::string name = "kept", serial = "kept";
        const bool found = findController(name);
        const bool read = getSerialNumber(serial);
        const QString seen = QStringLiteral("%1 %2 ").arg(found).arg(read) + QString::fromStdString(name + ' ' + serial + ' ' + getFirmwareRevision());
        serveWatchdog(); // goes to the device the record names
        return seen;
    } else if (w[0] == "wait") { // the log line's result and reply, without the zero bytes at the end
        unsigned char report[sim::ReportSize];
        const int got = Redi_ReadInputReport(w.value(3, "/dev/hidraw-sim").toLatin1(), report, w.value(2, "33").toInt(), w[1].toInt());
        return QStringLiteral("%1 @%2 ").arg(got).arg(sim::simulator().clockMs)
            + QString::fromStdString(sim::calls().back().line()).section(' ', 4).remove("reply=").remove(QRegularExpression(" ?(00)+$"));
    } else
        applied = false;
    return applied ? QString() : "bad set-up " + w.join(' ');
}

} // namespace

class ControllerTest : public QObject
{
    Q_OBJECT

private slots:
    // Rows: the steps, what the last did and what it did in demo mode, split
    // at " | "; what a step did is followed by the requests that left, as
    // the drop-in logs them, without the replies and the zero bytes at the
    // end.
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
            QString seen;
            for (const QString &words : row[0].split("; "))
                seen += step(words.split(' '));
            for (const sim::Call &c : sim::calls())
                seen += " ; " + QString::fromStdString(c.line()).section(" reply=", 0, 0).remove(QRegularExpression("(00)+$"));
            QCOMPARE(seen, row[demo ? 2 : 1]);
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
        for (const QString &line : steps) {
            const QString result = step(line.section(" -> ", 0, 0).split(' '));
            QCOMPARE(line.section(" -> ", 0, 0) + (result.isEmpty() ? "" : " -> " + result), line);
        }
    }
};

QTEST_APPLESS_MAIN(ControllerTest)
#include "tst_controller.moc"
