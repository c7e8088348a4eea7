// The main window as a user drives it, over the in-process controller
// simulator and a registry store of each case's own. The cases are rows of
// window_cases.txt (its header explains the notation): each sets up the
// controller and the store, opens the window, takes the user's steps and
// compares what reached the controller, the boxes shown, and what the
// widgets and the store hold afterwards. A row that ends in a fatal stop is
// re-run in a child copy of this binary, which must die with the row's
// message right after the failed call, with that message in a box and no
// other; a row played by an outsider (a user who may read the store but not
// write it) is set up as root and played by a child copy under that user's
// id, and a row with the guard service installed by a child copy with a
// service beside it; each reports what it saw. A start-up row runs main's
// start, which decides whether there is a window at all.
#include "../support/case_table.h"
#include "../winreg/temp_store.h"
#include "controller_link.h"
#include "controller_sim.h"
#include "fatal_stop.h"
#include "guard_table.h"
#include "modal_box_catcher.h"
#include "registry.h"
#include "startup.h"
#include "vnkestrix.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QMetaEnum>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Row {
    QStringList before, steps; // before: applied before the window opens
    QString sent;              // requests and boxes, or ending in "fatal MESSAGE" for a stop
    QStringList shown;         // "name=value" read afterwards
};

QList<Row> rows()
{
    QList<Row> all;
    for (const QStringList &f : caseTable(WINDOW_CASES, 4)) {
        const auto items = [&f](int i) { return f[i].split("; ", Qt::SkipEmptyParts); };
        all.append({items(0), items(1), f[2], items(3)});
    }
    return all;
}

template <typename T>
T *widget(QWidget *window, const QString &name)
{
    T *w = window->findChild<T *>(name);
    if (!w)
        qFatal("no widget %s", qPrintable(name));
    return w;
}

// A library call as the rows spell it: "find", "in", "out 0x81", "action 1",
// "serial TEXT", "get KEY", "ram KEY=VALUE" or "flash KEY=VALUE" with the
// simulator's parameter keys (1-byte values in hex); " failed" after a call
// that failed.
QString spell(const sim::Call &call)
{
    const std::vector<std::uint8_t> &r = call.request;
    QString text = call.function == sim::Function::GetInReport ? "in" : "find";
    if (call.function == sim::Function::SendOutReport)
        text = QString::asprintf("out 0x%02x", r.at(1));
    else if (call.function == sim::Function::Feature && r.at(2) == 0x80)
        text = QString::asprintf("action %d", r.at(4));
    else if (call.function == sim::Function::Feature && r.at(3) == 20) {
        text = "serial ";
        for (std::size_t i = 13; i + 1 < r.size() && (r[i] || r[i + 1]); i += 2)
            text += QChar(r[i] | r[i + 1] << 8);
    } else if (call.function == sim::Function::Feature) {
        text = QString::asprintf("? %d/%d", r.at(3), r.at(4));
        for (const sim::ParamInfo &p : sim::parameters())
            if (p.length == r[3] && p.index == r[4])
                text = r[1] ? "get " + QString(p.key)
                            : QString::asprintf(p.length == 1 ? "%s %s=0x%02x" : "%s %s=%d", r[2] ? "flash" : "ram",
                                                p.key, r.at(6) | (p.length == 2 ? r.at(7) << 8 : 0));
    }
    return call.ok() ? text : text + " failed";
}

// The calls since the log was cleared, gets and searches left out unless
// `all` or they failed.
QStringList calls(bool all)
{
    QStringList log;
    for (const sim::Call &call : sim::calls())
        if (all || !call.ok() || (call.function != sim::Function::FindSensor &&
                                  (call.function != sim::Function::Feature || !call.request.at(1))))
            log << spell(call);
    return log;
}

// "box icon|title|text|buttons", the buttons sorted, the default one marked
// "*"; a box that is not over `window` is marked.
QStringList boxes(const ModalBoxCatcher &catcher, const QWidget *window)
{
    QStringList seen;
    for (const CaughtBox &box : catcher.boxes())
        seen << QStringLiteral("box %1|%2|%3|%4%5")
                    .arg(QString(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box.icon)).toLower(), box.title,
                         QString(box.text).replace(qEnvironmentVariable("VNKESTRIX_REGISTRY"), "STORE"),
                         box.buttons.join('/'), QString(box.parent == window ? "" : " (not over the window)"));
    return seen;
}

std::string storePath() { return qEnvironmentVariable("VNKESTRIX_REGISTRY").toStdString(); }

// A widget as a row reads it; "%1" in a name makes a row of eight check
// boxes one hex byte, bit i from box i. "guard" is the guard combos that do
// not show item 0, "store" the registry store: its guard key and values,
// those not 0 as little-endian hex. "fits": every page gets the room its
// layout asks for, the last tab title shows, and every button of the page
// shown lies whole inside it. "status": the status bar's labels. "torn": of
// 100 windows opened while another process saves whole tables, those whose
// Guard page shows none.
QString readout(QWidget *window, const QString &name)
{
    if (name == "torn") {
        // A copy of this binary saves two whole tables in turn (see main);
        // "guard" without the names shows either, or no table saved yet.
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {"--writer"});
        const QStringList whole{"", QStringList(10, "=1").join(", "), QStringList(10, "=2, =1").join(", ")};
        int torn = 0;
        for (int i = 0; i < 100; ++i)
            torn += !whole.contains(readout(std::make_unique<VnKestrix>().get(), "guard").remove(QRegularExpression("\\w+(?==)")));
        writer.kill();
        writer.waitForFinished();
        return QString::number(torn);
    }
    if (name == "store")
        return QString::fromStdString(queryStore(storePath(), 
            "SELECT (SELECT count(*) FROM reg_keys WHERE path LIKE '%\\Vantrel\\Brivane') || ' key ' || "
            "count(*) || ' values' || ifnull(': ' || group_concat(CASE WHEN hex(data) <> '00000000' THEN "
            "name || '=' || hex(data) END, ', '), '') FROM reg_values"));
    if (name == "guard") {
        QStringList seen;
        for (const QComboBox *c : window->findChildren<QComboBox *>(QRegularExpression("^guard.*Combo$")))
            if (c->currentIndex())
                seen << c->objectName().mid(5).chopped(5) + '=' + QString::number(c->currentIndex());
        seen.sort();
        return seen.join(", ");
    }
    if (name == "fits") {
        const auto *tabs = widget<QTabWidget>(window, "mainTab");
        bool fits = tabs->tabBar()->tabRect(tabs->count() - 1).right() < tabs->tabBar()->width();
        for (int i = 0; i < tabs->count(); ++i)
            fits &= tabs->currentWidget()->size().expandedTo(tabs->widget(i)->minimumSizeHint()) == tabs->currentWidget()->size();
        for (const QAbstractButton *b : tabs->currentWidget()->findChildren<QAbstractButton *>())
            fits &= tabs->currentWidget()->rect().contains(QRect(b->mapTo(tabs->currentWidget(), QPoint()), b->size())) &&
                    b->size().expandedTo(b->minimumSizeHint()) == b->size();
        return QVariant(fits).toString();
    }
    if (name == "status") {
        QStringList labels;
        for (const QStatusBar *bar : window->findChildren<QStatusBar *>()) // none until it has something to say
            for (const QLabel *label : bar->findChildren<QLabel *>())
                labels << label->text();
        return labels.join(", ");
    }
    if (name.contains("%1")) {
        int bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= widget<QAbstractButton>(window, name.arg(i))->isChecked() << i;
        return QString::asprintf("%02x", bits);
    }
    const QWidget *w = widget<QWidget>(window, name);
    for (const char *property : {"checked", "currentIndex", "value"})
        if (const QVariant v = w->property(property); v.isValid())
            return v.toString();
    return w->property("text").toString();
}

// One set-up word or user step of a row; `window` is null before it opens.
void apply(const QString &step, QWidget *window)
{
    const QString verb = step.section(' ', 0, 0), name = step.section(' ', 1, 1), rest = step.section(' ', 2);
    if (verb == "click")
        widget<QAbstractButton>(window, name)->click();
    else if (verb == "key")
        QTest::keyClick(widget<QWidget>(window, name), QKeySequence::fromString(rest)[0].key());
    else if (verb == "focus")
        widget<QWidget>(window, name)->setFocus();
    else if (verb == "choose")
        widget<QComboBox>(window, name)->setCurrentIndex(rest.toInt());
    else if (verb == "type" || verb == "paste") {
        // Any character: one key event per code point, a character outside
        // the BMP whole, as a keyboard sends it. Pasting is the way a control
        // character ("\t") gets in.
        QWidget *field = widget<QWidget>(window, name);
        const QString text = QString(rest).replace("\\t", "\t");
        field->setFocus();
        QMetaObject::invokeMethod(field, "selectAll"); // a slot of line edits and spin boxes
        QTest::keyClick(field, Qt::Key_Backspace);
        QGuiApplication::clipboard()->setText(text);
        if (verb == "paste")
            QMetaObject::invokeMethod(field, "paste");
        else // "." is a whole code point
            for (const QString &key : text.split(QRegularExpression("(?<=.)(?=.)"), Qt::SkipEmptyParts))
                QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, key, Qt::NoModifier);
        QTest::keyClick(field, Qt::Key_Return);
    } else if (verb == "open") {
        // Coming from the Guard tab, which loads nothing, so the page loads
        // afresh; an index no tab has goes to the tab dispatch directly.
        const int tab = QStringList{"gpio", "watchdog", "power", "guard", "misc"}.indexOf(name);
        widget<QTabWidget>(window, "mainTab")->setCurrentIndex(3);
        widget<QTabWidget>(window, "mainTab")->setCurrentIndex(tab);
        if (tab < 0)
            QMetaObject::invokeMethod(window, "onTabChange", Q_ARG(int, name.toInt()));
    } else if (verb == "fail" && !sim::addFailRules(name.toStdString()))
        qFatal("bad failure rule %s", qPrintable(name));
    else if (verb == "demo")
        setDemoMode(true);
    else if (verb == "shrink")
        window->resize(window->minimumSize());
    else if (verb == "cached")
        sim::simulator().serialCached = true;
    else if (verb == "ignore-writes")
        sim::simulator().firmware.ignoreWrites = true;
    else if (verb == "stored" || verb == "store") {
        // The store file is made as the program makes it, then changed
        // behind its back: SQL of another program, the values' page (3) cut off
        // once all is in the file itself, or a path nobody can create.
        const RegistryKey key = Registry::instance().openKey(localMachineKey(), guardKeyPath, true);
        const QString value = step.section(' ', 1);
        if (verb == "stored" && !key.writeDword(value.section('=', 0, 0).toStdString(), value.section('=', 1).toUInt()))
            qFatal("cannot store %s", qPrintable(value));
        else if (name == "sql")
            queryStore(storePath(), rest.toStdString());
        else if (name == "corrupt" && queryStore(storePath(), "PRAGMA wal_checkpoint(TRUNCATE)") == "0")
            QFile::resize(QString::fromStdString(storePath()), 2 * 4096);
        else if (name == "unusable") // below a regular file, this program: no one can create it, root included
            qputenv("VNKESTRIX_REGISTRY", "/proc/self/exe/registry.sqlite3");
    } else if (verb != "fail" && verb != "service" && (!verb.contains('=') || !sim::loadStateText(step.toStdString())))
        qFatal("bad step %s", qPrintable(step));
}

// In a child that stops: every call made since the window opened and the
// boxes the row's catcher caught, on an unbuffered stdout.
const ModalBoxCatcher *rowCatcher = nullptr;
QtMessageHandler qtHandler = nullptr;

void reportStateBeforeFatal(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg)
        std::fputs(qPrintable((calls(true) + boxes(*rowCatcher, nullptr)).join("; ")), stdout);
    qtHandler(type, context, message);
}

// Start-up as main runs it, with a controller ("controller") or without
// one, the question answered `answer`: the boxes, the exit code and, once
// the window shows, the tab it is on and every call; the window is then
// closed, which ends the event loop.
QString startUp(const QString &answer)
{
    sim::simulator().absent = answer != "controller";
    const qsizetype given = QStringList{"Accept", "Yes", "No", "Escape"}.indexOf(answer);
    ModalBoxCatcher catcher(static_cast<ModalBoxCatcher::Answer>(std::max<qsizetype>(given, 0)));
    QString window;
    QTimer watcher;
    watcher.callOnTimeout([&window] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (qobject_cast<VnKestrix *>(top) && top->isVisible() && top->close())
                window = QStringLiteral(", window on tab %1 after: ").arg(widget<QTabWidget>(top, "mainTab")->currentIndex()) + calls(true).join("; ");
    });
    watcher.start(10);
    const int exitCode = runVnKestrix(*qApp);
    return (boxes(catcher, nullptr) << QStringLiteral("exit %1").arg(exitCode) + window + (isDemoMode() ? ", demo" : "")).join("; ");
}

// Plays a row over a simulator as it starts: sets it up, opens the window
// and takes the steps. What it ends with: the calls and the boxes, then each
// shown item as read; for a start-up row what startUp sees. An outsider's
// row starts after "outsider": root has set up what comes before.
QStringList outcome(const Row &row)
{
    sim::reset();
    setDemoMode(false);
    if (row.before.value(0).startsWith("start "))
        return {startUp(row.before[0].section(' ', 1))};
    ModalBoxCatcher catcher;
    rowCatcher = &catcher;
    for (const QString &step : row.before.mid(row.before.indexOf("outsider") + 1))
        apply(step, nullptr);
    const auto window = std::make_unique<VnKestrix>();
    window->show();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window.get()); // the focus steps need an active window
    sim::clearCalls();
    for (const QString &step : row.steps)
        apply(step, window.get());
    QTest::qWait(20);
    QStringList seen{(calls(false) + boxes(catcher, window.get())).join("; ")};
    for (const QString &item : row.shown)
        seen << item.section('=', 0, 0) + '=' + readout(window.get(), item.section('=', 0, 0));
    return seen;
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void rowsPlayed_data()
    {
        QTest::addColumn<int>("index");
        const QList<Row> all = rows();
        for (int i = 0; i < all.size(); ++i)
            QTest::addRow("row %d: %s", i + 1, qPrintable((all[i].before + all[i].steps).join("; ").left(80))) << i;
    }

    void rowsPlayed()
    {
        QFETCH(int, index);
        const Row row = rows()[index];
        TempStore store;
        const qsizetype outsider = row.before.indexOf("outsider");
        const QString stop = row.sent.section("fatal ", 1); // a fatal row's message
        const bool service = row.before.contains("service");
        if (stop.isEmpty() && outsider < 0 && !service) {
            QCOMPARE(outcome(row), QStringList{row.sent} + row.shown);
            return;
        }
        // Root's store as others find it: a folder they may enter, files
        // they may read.
        for (const QString &step : row.before.mid(0, std::max<qsizetype>(outsider, 0)))
            apply(step, nullptr);
        ::chmod(QFile::encodeName(QFileInfo(qEnvironmentVariable("VNKESTRIX_REGISTRY")).path()), 0755);
        for (const char *suffix : {"", "-wal", "-shm"})
            ::chmod(qgetenv("VNKESTRIX_REGISTRY") + suffix, 0644);
        // An installed service: this binary as PREFIX/bin/tst_window (a hard
        // link where it can be) beside PREFIX/sbin/vnkestrix-guardd.
        QString program = QCoreApplication::applicationFilePath();
        const QTemporaryDir prefix(program + "-prefix-XXXXXX");
        if (service) {
            const QString copy = prefix.filePath("bin/tst_window");
            QVERIFY(QDir(prefix.path()).mkpath("bin") && QDir(prefix.path()).mkpath("sbin") &&
                    QFile::link("/bin/true", prefix.filePath("sbin/vnkestrix-guardd")) &&
                    (::link(qPrintable(program), qPrintable(copy)) == 0 || QFile::copy(program, copy)));
            program = copy;
        }
        // The child is told the row to play; an abort is a fatal row's
        // expected end, not a sanitizer finding.
        QProcess child;
        qputenv("ASAN_OPTIONS", "handle_abort=0:detect_leaks=0");
        child.start("setpriv", QString(outsider < 0 ? "" : "--reuid=65534 --regid=65534 --clear-groups").split(' ', Qt::SkipEmptyParts)
                                   << program << "--row" << QString::number(index));
        QVERIFY(child.waitForFinished(60000));
        if (outsider >= 0 && (::geteuid() != 0 || child.exitCode() >= 126))
            QSKIP("only root can play a row as another user, who must be able to run this binary");
        const QString out = QString::fromLocal8Bit(child.readAllStandardError());
        QVERIFY2(stop.isEmpty() || (child.exitStatus() == QProcess::CrashExit && out.split('\n').contains(stop)), qPrintable(out));
        const QString sent = stop.isEmpty() ? row.sent : row.sent.section("fatal ", 0, 0) + "box critical|VnKestrix|" + stop + "|OK*";
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), (QStringList{sent} + row.shown).join('\n'));
    }
};

int main(int argc, char **argv)
{
    // The writer of "torn": every level 1 and every action Shutdown, then 0
    // and Standby, in turn.
    for (GuardTable table; argc == 2 && argv[1] == std::string("--writer"); saveGuardTable(table)) {
        table.levels.fill(1 - table.levels[0]);
        table.actions.fill(1 + table.levels[0]);
    }
    QApplication app(argc, argv);
    if (app.arguments().value(1) == "--row") { // a child playing a row
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        qtHandler = qInstallMessageHandler(reportStateBeforeFatal);
        installFatalStop();
        return std::fputs(qPrintable(outcome(rows()[app.arguments().value(2).toInt()]).join('\n')), stdout) < 0;
    }
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
