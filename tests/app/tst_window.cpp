// The main window as a user drives it, over the in-process controller
// simulator and a registry store of each case's own. The cases are rows of
// window_cases.txt (its header explains the notation): each sets up the
// controller and the store, opens the window, takes the user's steps and
// compares what reached the controller, the boxes shown, and what the
// widgets and the store hold afterwards. Rows that end in a fatal stop run
// in a child copy of this binary, which must die with the row's message
// right after the failed call, before any box. Start-up and the window's
// size are tested on their own below.
#include "../winreg/temp_store.h"
#include "child_scenario.h"
#include "controller_link.h"
#include "controller_sim.h"
#include "guard_table.h"
#include "modal_box_catcher.h"
#include "registry.h"
#include "startup.h"
#include "vnkestrix.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QKeySequence>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>

#include <memory>

namespace {

struct Row {
    int line;
    QStringList before, steps; // before: applied before the window opens
    QString sent;              // requests and boxes; "fatal MESSAGE" for a stop
    QStringList shown;         // "name=value" read afterwards
};

const QList<Row> &rows()
{
    static QList<Row> all;
    QFile file(QStringLiteral(WINDOW_CASES));
    if (!all.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return all;
    QMap<QString, QString> names; // "@name = text" lines
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.contains(QRegularExpression(QStringLiteral("^@\\w+ = ")))) {
            names[line.section(" = ", 0, 0)] = line.section(" = ", 1);
            continue;
        }
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        for (auto name = names.keyValueBegin(); name != names.keyValueEnd(); ++name)
            line.replace(name->first, name->second);
        // Fields are split at a "|" with a space or the line's end on each side.
        const QStringList f = line.split(QRegularExpression(QStringLiteral("(?<=^|\\s)\\|(?=\\s|$)")));
        const auto items = [&f](int i) { return f.value(i).trimmed().split(QStringLiteral("; "), Qt::SkipEmptyParts); };
        all.append({i + 1, items(0), items(1), f.value(2).trimmed(), items(3)});
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
    QString text = QStringLiteral("find");
    if (call.function == sim::Function::GetInReport)
        text = QStringLiteral("in");
    else if (call.function == sim::Function::SendOutReport)
        text = QString::asprintf("out 0x%02x", r.at(1));
    else if (call.function == sim::Function::Feature && r.at(2) == 0x80)
        text = QString::asprintf("action %d", r.at(4));
    else if (call.function == sim::Function::Feature && r.at(3) == 20) {
        text = QStringLiteral("serial ");
        for (std::size_t i = 13; i + 1 < r.size() && (r[i] || r[i + 1]); i += 2)
            text += QChar(r[i] | r[i + 1] << 8);
    } else if (call.function == sim::Function::Feature) {
        text = QString::asprintf("? %d/%d", r.at(3), r.at(4));
        for (const sim::ParamInfo &p : sim::parameters())
            if (p.length == r[3] && p.index == r[4])
                text = r[1] ? QStringLiteral("get ") + QLatin1String(p.key)
                            : QString::asprintf(p.length == 1 ? "%s %s=0x%02x" : "%s %s=%d", r[2] ? "flash" : "ram",
                                                p.key, r.at(6) | (p.length == 2 ? r.at(7) << 8 : 0));
    }
    return call.ok() ? text : text + QStringLiteral(" failed");
}

// The calls since the log was cleared, gets and finds left out unless `all`.
QStringList calls(bool all)
{
    QStringList log;
    for (const sim::Call &call : sim::calls()) {
        const bool read = call.function == sim::Function::FindSensor ||
                          (call.function == sim::Function::Feature && call.request.at(1) == 1);
        if (all || !call.ok() || !read)
            log << spell(call);
    }
    return log;
}

// "box icon|title|text|buttons", the buttons sorted, the default one marked
// "*"; a box that is not over `window` is marked.
QStringList boxes(const ModalBoxCatcher &catcher, const QWidget *window)
{
    const char *const icons[] = {"none", "information", "warning", "critical", "question"};
    QStringList seen;
    for (const CaughtBox &box : catcher.boxes()) {
        QStringList buttons = box.buttons;
        buttons.sort();
        for (QString &button : buttons)
            button += button == box.defaultButton ? QStringLiteral("*") : QString();
        seen << QStringLiteral("box %1|%2|%3|%4").arg(QLatin1String(icons[box.icon]), box.title,
                                                     QString(box.text).replace('\n', QLatin1String("\\n")),
                                                     buttons.join('/')) +
                    (box.parent == window ? QString() : QStringLiteral(" (not over the window)"));
    }
    return seen;
}

// A widget as a row reads it; "%1" in a name makes a row of eight check
// boxes one hex byte, bit i from box i. "guard" is the guard combos that do
// not show item 0, "store" the registry store: its guard key and values,
// those not 0 as little-endian hex.
QString readout(QWidget *window, const QString &name, const TempStore &store)
{
    if (name == QLatin1String("store"))
        return QString::fromStdString(store.query(
            "SELECT (SELECT count(*) FROM reg_keys WHERE path LIKE '%\\Vantrel\\Brivane') || ' key ' || "
            "count(*) || ' values' || ifnull(': ' || group_concat(CASE WHEN hex(data) <> '00000000' THEN "
            "name || '=' || hex(data) END, ', '), '') FROM reg_values"));
    if (name == QLatin1String("guard")) {
        QStringList seen;
        for (const QComboBox *c : window->findChildren<QComboBox *>(QRegularExpression("^guard.*Combo$")))
            if (c->currentIndex())
                seen << c->objectName().mid(5).chopped(5) + '=' + QString::number(c->currentIndex());
        seen.sort();
        return seen.join(QLatin1String(", "));
    }
    if (name.contains(QLatin1String("%1"))) {
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

const QStringList tabNames{"gpio", "watchdog", "power", "guard", "misc"};

// One setup word or user step of a row; `window` is null before it opens.
void apply(const QString &step, QWidget *window, TempStore &store)
{
    const QString verb = step.section(' ', 0, 0), name = step.section(' ', 1, 1), rest = step.section(' ', 2);
    if (verb == QLatin1String("click"))
        widget<QAbstractButton>(window, name)->click();
    else if (verb == QLatin1String("key"))
        QTest::keyClick(widget<QWidget>(window, name), QKeySequence::fromString(rest)[0].key());
    else if (verb == QLatin1String("focus"))
        widget<QWidget>(window, name)->setFocus();
    else if (verb == QLatin1String("choose"))
        widget<QComboBox>(window, name)->setCurrentIndex(rest.toInt());
    else if (verb == QLatin1String("type") || verb == QLatin1String("paste")) {
        // Any character: one key event per code point, a character outside
        // the BMP whole, as a keyboard sends it. Pasting is the way a control
        // character ("\t") gets in.
        QWidget *field = widget<QWidget>(window, name);
        const QString text = QString(rest).replace(QLatin1String("\\t"), QLatin1String("\t"));
        field->setFocus();
        QMetaObject::invokeMethod(field, "selectAll"); // a slot of line edits and spin boxes
        QTest::keyClick(field, Qt::Key_Backspace);
        QGuiApplication::clipboard()->setText(text);
        if (verb == QLatin1String("paste"))
            QMetaObject::invokeMethod(field, "paste");
        for (qsizetype i = 0, n = 1; i < text.size() && verb == QLatin1String("type"); i += n) {
            n = text.at(i).isHighSurrogate() ? 2 : 1;
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
        }
        QTest::keyClick(field, Qt::Key_Return);
    } else if (verb == QLatin1String("open")) {
        // Coming from the Guard tab, which loads nothing, so the page loads
        // afresh; an index no tab has goes to the tab dispatch directly.
        const int tab = tabNames.contains(name) ? tabNames.indexOf(name) : name.toInt();
        auto *tabs = widget<QTabWidget>(window, QStringLiteral("mainTab"));
        tabs->setCurrentIndex(3);
        if (tab >= 0 && tab < tabs->count())
            tabs->setCurrentIndex(tab);
        else
            QMetaObject::invokeMethod(window, "onTabChange", Q_ARG(int, tab));
    } else if (verb == QLatin1String("fail")) {
        if (!sim::addFailRules(name.toStdString()))
            qFatal("bad failure rule %s", qPrintable(name));
    } else if (verb == QLatin1String("demo"))
        setDemoMode(true);
    else if (verb == QLatin1String("cached"))
        sim::setSerialCached(true);
    else if (verb == QLatin1String("ignore-writes"))
        sim::setIgnoreWrites(true);
    else if (verb == QLatin1String("stored") || verb == QLatin1String("store")) {
        // The store file is made as the program makes it, then changed
        // behind its back: a value it refuses, or a path nobody can create.
        const RegistryKey key = Registry::instance().openKey(localMachineKey(), guardKeyPath, true);
        const QString value = step.section(' ', 1);
        if (verb == QLatin1String("stored") && !key.writeDword(value.section('=', 0, 0).toStdString(), value.section('=', 1).toUInt()))
            qFatal("cannot store %s", qPrintable(value));
        else if (name == QLatin1String("refuses"))
            store.query(qPrintable("CREATE TRIGGER refuse BEFORE INSERT ON reg_values WHEN NEW.name = '" + rest +
                                   "' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        else if (name == QLatin1String("allows"))
            store.query("DROP TRIGGER refuse");
        else if (name == QLatin1String("unusable"))
            store.makeUnusable();
    } else if (!verb.contains('=') || !sim::loadStateText(step.toStdString()))
        qFatal("bad step %s", qPrintable(step));
}

// Sets the row up, opens the window and takes the steps.
std::unique_ptr<VnKestrix> play(const Row &row, TempStore &store)
{
    sim::reset();
    setDemoMode(false);
    std::string device;
    findController(device);
    for (const QString &step : row.before)
        apply(step, nullptr, store);
    auto window = std::make_unique<VnKestrix>();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("window not active");
    sim::clearCalls();
    for (const QString &step : row.steps)
        apply(step, window.get(), store);
    return window;
}

// Runs start-up; once the main window shows inside the event loop, notes its
// tab and the calls made by then, and closes it, which ends the loop.
int runAndCloseWindow(QString &seen)
{
    QTimer watcher;
    watcher.setInterval(10);
    QObject::connect(&watcher, &QTimer::timeout, [&seen] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (qobject_cast<VnKestrix *>(top) && top->isVisible()) {
                seen = QStringLiteral("tab %1: ").arg(widget<QTabWidget>(top, "mainTab")->currentIndex()) +
                       calls(true).join(QLatin1String("; "));
                top->close();
            }
        }
    });
    watcher.start();
    return runVnKestrix(*qApp);
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

public:
    static void runScenario(const QString &line)
    {
        for (const Row &row : rows()) {
            if (row.line != line.toInt())
                continue;
            TempStore store;
            const auto *catcher = new ModalBoxCatcher;
            setFatalStateReporter([catcher] {
                return (calls(true) << QStringLiteral("boxes %1").arg(catcher->count())).join(QLatin1String("; "));
            });
            play(row, store);
        }
    }

private slots:
    void rowsPlayed_data()
    {
        QTest::addColumn<int>("index");
        QVERIFY2(rows().size() > 100, WINDOW_CASES);
        for (int i = 0; i < rows().size(); ++i)
            QTest::addRow("line %d: %s", rows()[i].line, qPrintable(rows()[i].steps.join("; ").left(80))) << i;
    }

    void rowsPlayed()
    {
        QFETCH(int, index);
        const Row &row = rows()[index];
        if (row.sent.startsWith(QLatin1String("fatal "))) {
            const ChildOutcome child = runChildScenario(QString::number(row.line));
            QVERIFY2(child.crashed && child.errorOutput.split('\n').contains(row.sent.mid(6)),
                     qPrintable(child.errorOutput));
            // The one failed call, if a rule failed one, came last; then no box.
            const QStringList state = child.errorOutput.section(QLatin1String("STATE "), 1).section('\n', 0, 0).split("; ");
            const bool ruled = !row.steps.filter(QRegularExpression("^fail ")).isEmpty();
            QCOMPARE(state.filter(QLatin1String(" failed")).size(), ruled ? 1 : 0);
            QVERIFY2(!ruled || state.value(state.size() - 2).endsWith(QLatin1String(" failed")), qPrintable(state.join("; ")));
            QCOMPARE(state.last(), QStringLiteral("boxes 0"));
            return;
        }
        TempStore store;
        ModalBoxCatcher catcher;
        const auto window = play(row, store);
        QTest::qWait(20);
        QCOMPARE((calls(false) + boxes(catcher, window.get())).join(QLatin1String("; ")), row.sent);
        for (const QString &item : row.shown)
            QCOMPARE(item.section('=', 0, 0) + '=' + readout(window.get(), item.section('=', 0, 0), store), item);
    }

    void startUp_data()
    {
        QTest::addColumn<bool>("absent");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("seen");
        const QString question = "box question|No emmbedded controller found|The computer you are running this "
                                 "application on is not a Vantrel Atom based system.\\n\\n Do you want to run the "
                                 "application  is demo mode?|No/Yes*; ";
        QTest::newRow("controller") << false << 0 << 0
                                    << "tab 4: find; find; get report_mode; get sample_rate; get s3_mode; "
                                       "get gpio_direction; get gpio_output_mode; get gpio_standby_mode";
        QTest::newRow("Yes") << true << int(ModalBoxCatcher::Answer::Yes) << 0 << question + "tab 4: find failed";
        QTest::newRow("Return") << true << int(ModalBoxCatcher::Answer::Return) << 0 << question + "tab 4: find failed";
        QTest::newRow("No") << true << int(ModalBoxCatcher::Answer::No) << 1 << question;
        QTest::newRow("Escape") << true << int(ModalBoxCatcher::Answer::Escape) << 1 << question;
    }

    // With a controller the window opens at once on the Misc tab after
    // reading, never writing; without one the user chooses between demo
    // mode, with no call after the failed search, and ending with 1 before
    // any window exists.
    void startUp()
    {
        QFETCH(bool, absent);
        QFETCH(int, answer);
        QFETCH(int, exitCode);
        QFETCH(QString, seen);
        TempStore store;
        sim::reset();
        setDemoMode(false);
        sim::setAbsent(absent);
        ModalBoxCatcher catcher(static_cast<ModalBoxCatcher::Answer>(answer));
        QString window;
        QCOMPARE(runAndCloseWindow(window), exitCode);
        QCOMPARE((boxes(catcher, nullptr) << window).join(QLatin1String("; ")), seen);
        QCOMPARE(isDemoMode(), absent && !exitCode);
    }

    // The window opens large enough for every page and every tab title.
    void opensShowingEveryPageWhole()
    {
        TempStore store;
        const auto window = play(Row{}, store);
        const QTabWidget *pages = widget<QTabWidget>(window.get(), "mainTab");
        QVERIFY(pages->tabBar()->tabRect(pages->count() - 1).right() < pages->tabBar()->width());
        for (int i = 0; i < pages->count(); ++i)
            QVERIFY2(pages->currentWidget()->size().expandedTo(pages->widget(i)->minimumSizeHint()) ==
                         pages->currentWidget()->size(),
                     qPrintable(pages->tabText(i)));
    }
};

VNK_TEST_MAIN_WITH_SCENARIOS(WindowTest)
#include "tst_window.moc"
