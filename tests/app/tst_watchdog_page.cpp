// The Watchdog page over the controller simulator: what opening the tab
// shows, exactly which requests each user step sends, and where a failed
// controller operation stops the program.
#include "child_scenario.h"
#include "controller_link.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"
#include "window_harness.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QTabWidget>

#include <functional>

using PageStep = std::function<void(QWidget *)>;
Q_DECLARE_METATYPE(PageStep)

namespace {

using harness::widget;
using sim::Bank;
using sim::Param;
using Pattern = sim::RequestPattern;

constexpr int watchdogTabIndex = 1;
constexpr int guardTabIndex = 3; // selecting it loads nothing
const QStringList savedBox{QStringLiteral("Information"),
                           QStringLiteral("Your settings were successfully saved in flash memory."),
                           QStringLiteral("OK")};

void selectTab(QWidget *window, int index)
{
    widget<QTabWidget>(window, "mainTab")->setCurrentIndex(index);
}

// The page as "mode index, delay box, strobe box, source byte in hex", the
// source byte composed by the boxes' bit positions.
QString shown(QWidget *w)
{
    int sources = 0;
    const char *const boxes[] = {"sourceInterruptOutCheckBox", "sourceFeatureReportCheckBox",
                                 "sourceUsbPollingCheckBox", "sourceSchGpioCheckBox"};
    for (int bit = 0; bit < 4; ++bit)
        sources |= widget<QCheckBox>(w, boxes[bit])->isChecked() ? 1 << bit : 0;
    return QStringLiteral("%1, %2, %3, %4")
        .arg(widget<QComboBox>(w, "watchdogModeCombo")->currentIndex())
        .arg(widget<QDoubleSpinBox>(w, "watchdogDelaySpinBox")->text(),
             widget<QDoubleSpinBox>(w, "watchdogStrobeSpinBox")->text(), QString::asprintf("%02x", sources));
}

// Requests as featureRequests() spells them: bytes 1 to 5, then the value.
QByteArray set(Param p, Bank bank, int value)
{
    const sim::ParamInfo &i = sim::info(p);
    QString hex = QString::asprintf("00%02x%02x%02x00%02x", int(bank), i.length, i.index, value & 0xFF);
    if (i.length == 2)
        hex += QString::asprintf("%02x", value >> 8);
    return hex.toLatin1();
}
QByteArray ram(Param p, int value) { return set(p, Bank::Ram, value); }
QByteArray flash(Param p, int value) { return set(p, Bank::Flash, value); }
QByteArray action(sim::Action a) { return QString::asprintf("008000%02x00", int(a)).toLatin1(); }

PageStep click(const char *name)
{
    return [name](QWidget *w) { widget<QAbstractButton>(w, name)->click(); };
}
PageStep chooseMode(int index)
{
    return [index](QWidget *w) { widget<QComboBox>(w, "watchdogModeCombo")->setCurrentIndex(index); };
}
PageStep type(const char *name, const char *text)
{
    return [=](QWidget *w) { harness::typeAndReturn(widget<QWidget>(w, name), QString::fromLatin1(text)); };
}

const PageStep save = click("saveWatchdogSettingsButton");

// The program's failure paths, each run in a child process that must stop.
struct FatalCase {
    const char *name;
    Pattern failing;
    PageStep step; // after the tab is open; empty for a failed load
    const char *message;
};

const FatalCase fatalCases[] = {
    {"load mode", Pattern::get(Param::WatchdogMode), {}, "Getting the watchdog mode failed"},
    {"load delay", Pattern::get(Param::WatchdogDelay), {}, "getting watchdog delay failed"},
    {"load strobe", Pattern::get(Param::WatchdogStrobe), {}, "getting watchdog strobe failed"},
    {"load sources", Pattern::get(Param::WatchdogSources), {}, "getting watchdog sources failed"},
    {"change mode", Pattern::set(Param::WatchdogMode, Bank::Ram), chooseMode(2), "Setting the watchdog mode failed"},
    {"change delay", Pattern::set(Param::WatchdogDelay, Bank::Ram), type("watchdogDelaySpinBox", "300"),
     "setting watchdog delay failed"},
    {"change strobe", Pattern::set(Param::WatchdogStrobe, Bank::Ram), type("watchdogStrobeSpinBox", "2"),
     "setting watchdog strobe failed"},
    {"change sources", Pattern::set(Param::WatchdogSources, Bank::Ram), click("sourceSchGpioCheckBox"),
     "setting watchdog sources failed"},
    {"serve", Pattern::action(sim::Action::ServeWatchdog), click("serveWatchdogButton"), "Serve watchdog failed"},
    {"reset pin", Pattern::action(sim::Action::ResetWatchdogPin), click("resetWatchdogButton"),
     "reset watchdog pin failed"},
    {"save mode", Pattern::set(Param::WatchdogMode, Bank::Flash), save, "Setting the watchdog mode failed"},
    {"save delay", Pattern::set(Param::WatchdogDelay, Bank::Flash), save, "setting watchdog delay failed"},
    {"save strobe", Pattern::set(Param::WatchdogStrobe, Bank::Flash), save, "setting watchdog strobe failed"},
    {"save sources", Pattern::set(Param::WatchdogSources, Bank::Flash), save, "setting watchdog sources failed"},
};

} // namespace

class WatchdogPageTest : public QObject
{
    Q_OBJECT

public:
    static void runScenario(const QString &name);

private slots:
    void initTestCase() { harness::useTemporaryRegistry(registryDir); }
    void init() { harness::resetController(); }

    void load_data();
    void load();
    void userStep_data();
    void userStep();
    void strobeKeepsTypedTenth_data();
    void strobeKeepsTypedTenth();
    void failureStops_data();
    void failureStops();

private:
    QTemporaryDir registryDir;
};

void WatchdogPageTest::load_data()
{
    QTest::addColumn<bool>("demo");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("delayTenths");
    QTest::addColumn<int>("strobeTenths");
    QTest::addColumn<int>("sources");
    QTest::addColumn<QString>("page");

    QTest::newRow("sources 0x0A") << false << 1 << 3000 << 13 << 0x0A << QStringLiteral("1, 300.0 s, 1.3 s, 0a");
    QTest::newRow("sources 0xF1") << false << 2 << 10 << 1 << 0xF1 << QStringLiteral("2, 1.0 s, 0.1 s, 01");
    QTest::newRow("mode above 2") << false << 3 << 1200 << 100 << 0 << QStringLiteral("-1, 120.0 s, 10.0 s, 00");
    QTest::newRow("out of range") << false << 0 << 0 << 65535 << 0x0F << QStringLiteral("0, 1.0 s, 6000.0 s, 0f");
    QTest::newRow("demo") << true << 1 << 1200 << 100 << 0x0F << QStringLiteral("0, 51.2 s, 51.2 s, 00");
}

void WatchdogPageTest::load()
{
    QFETCH(bool, demo);
    QFETCH(int, mode);
    QFETCH(int, delayTenths);
    QFETCH(int, strobeTenths);
    QFETCH(int, sources);
    QFETCH(QString, page);

    sim::setRamValue(Param::WatchdogMode, mode);
    sim::setRamValue(Param::WatchdogDelay, delayTenths);
    sim::setRamValue(Param::WatchdogStrobe, strobeTenths);
    sim::setRamValue(Param::WatchdogSources, sources);
    setDemoMode(demo);
    auto window = harness::openWindow();
    harness::clearCalls();
    selectTab(window.get(), watchdogTabIndex);

    QCOMPARE(shown(window.get()), page);
    QVERIFY(!harness::callKinds().contains("set"));
}

void WatchdogPageTest::userStep_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("sources");
    QTest::addColumn<PageStep>("step");
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<bool>("confirmed");

    const PageStep delayThenLeave = [](QWidget *w) {
        type("watchdogDelaySpinBox", "300")(w);
        widget<QWidget>(w, "watchdogStrobeSpinBox")->setFocus();
    };
    const PageStep arrowUp = [](QWidget *w) {
        QTest::keyClick(widget<QWidget>(w, "watchdogDelaySpinBox"), Qt::Key_Up);
    };
    using List = QByteArrayList;

    QTest::newRow("USB Host Polling added to 0x0A")
        << 0 << 0x0A << click("sourceUsbPollingCheckBox") << List{ram(Param::WatchdogSources, 0x0E)} << false;
    QTest::newRow("Show Only") << 0 << 0 << chooseMode(2) << List{ram(Param::WatchdogMode, 2)} << false;
    QTest::newRow("Off") << 2 << 0 << chooseMode(0) << List{ram(Param::WatchdogMode, 0)} << false;
    QTest::newRow("delay 300, Return, focus out")
        << 0 << 0 << delayThenLeave << List{ram(Param::WatchdogDelay, 3000), ram(Param::WatchdogDelay, 3000)}
        << false;
    QTest::newRow("arrow alone") << 0 << 0 << arrowUp << List{} << false;
    QTest::newRow("serve") << 0 << 0 << click("serveWatchdogButton") << List{action(sim::Action::ServeWatchdog)}
                           << false;
    QTest::newRow("reset pin") << 0 << 0 << click("resetWatchdogButton")
                               << List{action(sim::Action::ResetWatchdogPin)} << false;
    QTest::newRow("save 0xF1") << 1 << 0xF1 << save
                               << List{flash(Param::WatchdogMode, 1), flash(Param::WatchdogDelay, 1200),
                                       flash(Param::WatchdogStrobe, 100), flash(Param::WatchdogSources, 0x01)}
                               << true;
    QTest::newRow("mode above 2, delay change")
        << 3 << 0 << type("watchdogDelaySpinBox", "300") << List{ram(Param::WatchdogDelay, 3000)} << false;
    QTest::newRow("mode above 2, save")
        << 3 << 0x03 << save
        << List{flash(Param::WatchdogDelay, 1200), flash(Param::WatchdogStrobe, 100),
                flash(Param::WatchdogSources, 0x03)}
        << true;
}

void WatchdogPageTest::userStep()
{
    QFETCH(int, mode);
    QFETCH(int, sources);
    QFETCH(PageStep, step);
    QFETCH(QByteArrayList, requests);
    QFETCH(bool, confirmed);

    sim::setRamValue(Param::WatchdogMode, mode);
    sim::setRamValue(Param::WatchdogSources, sources);
    auto window = harness::openWindow();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    selectTab(window.get(), watchdogTabIndex);
    harness::clearCalls();

    ModalBoxCatcher catcher(ModalBoxCatcher::Answer::Accept);
    step(window.get());

    QCOMPARE(harness::featureRequests(), requests);
    for (const sim::Call &call : sim::calls())
        QVERIFY(call.ok());
    QCOMPARE(catcher.count(), confirmed ? 1 : 0);
    if (confirmed) {
        const CaughtBox &box = catcher.last();
        QCOMPARE(QStringList({box.title, box.text}) + box.buttons, savedBox);
        QCOMPARE(box.parent, window.get());
    }
}

// Single-precision seconds such as 1.3 lie just below the tenth; the
// controller must still get that tenth, and the next load must show it.
void WatchdogPageTest::strobeKeepsTypedTenth_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("tenths");

    QTest::newRow("1.3") << QStringLiteral("1.3") << 13;
    QTest::newRow("0.7") << QStringLiteral("0.7") << 7;
    QTest::newRow("4.1") << QStringLiteral("4.1") << 41;
}

void WatchdogPageTest::strobeKeepsTypedTenth()
{
    QFETCH(QString, typed);
    QFETCH(int, tenths);

    auto window = harness::openWindow();
    selectTab(window.get(), watchdogTabIndex);
    auto *strobe = widget<QDoubleSpinBox>(window.get(), "watchdogStrobeSpinBox");
    harness::typeAndReturn(strobe, typed);
    QCOMPARE(int(sim::ramValue(Param::WatchdogStrobe)), tenths);

    // Leaving the box would write it; only the reload may change it now.
    strobe->clearFocus();
    strobe->setValue(99.0);
    selectTab(window.get(), guardTabIndex);
    selectTab(window.get(), watchdogTabIndex);
    QCOMPARE(strobe->value(), typed.toDouble());
}

void WatchdogPageTest::failureStops_data()
{
    QTest::addColumn<QString>("message");
    for (const FatalCase &c : fatalCases)
        QTest::newRow(c.name) << QString::fromLatin1(c.message);
}

// The child must stop with the message, after nothing but the failed
// request, and without the Information box.
void WatchdogPageTest::failureStops()
{
    QFETCH(QString, message);

    const ChildOutcome child = runChildScenario(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY2(harness::stoppedWith(child, message), qPrintable(child.errorOutput));
    const QStringList state = harness::fatalState(child);
    QVERIFY2(state.size() >= 2, qPrintable(child.errorOutput));
    QCOMPARE(state.filter(QStringLiteral(" failed")).size(), 1);
    QVERIFY2(state.at(state.size() - 2).endsWith(QStringLiteral(" failed")), qPrintable(child.errorOutput));
    QCOMPARE(state.last(), QStringLiteral("boxes 0"));
}

void WatchdogPageTest::runScenario(const QString &name)
{
    const FatalCase *scenario = nullptr;
    for (const FatalCase &c : fatalCases)
        scenario = name == QLatin1String(c.name) ? &c : scenario;
    if (!scenario)
        return;
    QTemporaryDir registryDir;
    harness::useTemporaryRegistry(registryDir);
    harness::resetController();
    auto window = harness::openWindow();
    harness::reportRequestsAtFatalStop(new ModalBoxCatcher(ModalBoxCatcher::Answer::Accept));
    harness::clearCalls();
    sim::failNext(scenario->failing);
    selectTab(window.get(), watchdogTabIndex);
    if (scenario->step)
        scenario->step(window.get());
}

VNK_TEST_MAIN_WITH_SCENARIOS(WatchdogPageTest)
#include "tst_watchdog_page.moc"
