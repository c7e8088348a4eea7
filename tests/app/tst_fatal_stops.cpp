// Every controller failure the program cannot go on from stops it with its
// own message, right after the failed call: no later request, and no
// "Information" box for a save that did not finish. Each case runs in a
// child copy of this binary, which must die.
#include "child_scenario.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"
#include "window_harness.h"

using namespace harness;

namespace {

struct FatalCase {
    const char *name;
    int tab;          // opened after the failure is armed
    const char *fail; // the simulator's failure rule
    Step step;        // after the tab is open; empty when its load fails
    const char *message;
};

// The index handed to the tab dispatch, as the tab widget would report it.
Step dispatch(int index)
{
    return [index](QWidget *w) { QMetaObject::invokeMethod(w, "onTabChange", Q_ARG(int, index)); };
}

// Rules are the simulator's; "get/..." and "set/..." name a feature request
// by direction/bank/length/index.
const std::vector<FatalCase> &fatalCases()
{
    const Step saveMisc = click("saveMiscSettingsButton");
    const Step saveGpio = click("saveGpioSettingsButton");
    const Step saveWatchdog = click("saveWatchdogSettingsButton");
    const char *const powerFailed = "saving the power management settings failed";
    static const std::vector<FatalCase> cases = {
        {"Misc load serial", MiscTab, "find", {}, "getting serial number failed"},
        {"Misc load report mode", MiscTab, "get/*/1/0", {}, "getting report mode failed"},
        {"Misc load sample rate", MiscTab, "get/*/2/1", {}, "getting sample rate failed"},
        {"Misc load S3 mode", MiscTab, "get/*/1/4", {}, "getting S3 signalization mode failed"},
        {"change report mode", MiscTab, "set/ram/1/0", press("reportModeCombo", Qt::Key_Down),
         "setting report mode failed"},
        {"change sample rate", MiscTab, "set/ram/2/1", press("samplingRateSpinBox", Qt::Key_Return),
         "setting sample rate failed"},
        {"change S3 mode", MiscTab, "set/ram/1/4", press("s3SignalizationModeCombo", Qt::Key_Down),
         "setting the S3 signalization mode failed"},
        {"change serial", MiscTab, "set/flash/20/0", type("serialEdit", "NEW-01"), "setting serial number failed"},
        {"reset THRM pin", MiscTab, "set/action/0/0", click("resetThrmPinButton"), "resetting the THRM pin failed"},
        {"Misc save report mode", MiscTab, "set/flash/1/0", saveMisc, "setting report mode failed"},
        {"Misc save sample rate", MiscTab, "set/flash/2/1", saveMisc, "setting sample rate failed"},
        {"Misc save S3 mode", MiscTab, "set/flash/1/4", saveMisc, "setting the S3 signalization mode failed"},

        {"GPIO load direction", GpioTab, "get/*/1/1", {}, "getting GPIO direction failed"},
        {"GPIO load output mode", GpioTab, "get/*/1/2", {}, "getting GPIO output mode failed"},
        {"GPIO load standby mode", GpioTab, "get/*/1/3", {}, "getting GPIO standby mode failed"},
        {"change direction", GpioTab, "set/ram/1/1", click("gpioDirection2CheckBox"), "setting GPIO direction failed"},
        {"change output mode", GpioTab, "set/ram/1/2", click("gpioOutputMode0CheckBox"),
         "setting the GPIO output mode failed"},
        {"change standby mode", GpioTab, "set/ram/1/3", click("gpioStanbdyMode1CheckBox"),
         "setting the GPIO standby mode failed"},
        {"GPIO save direction", GpioTab, "set/flash/1/1", saveGpio, "setting GPIO direction failed"},
        {"GPIO save output mode", GpioTab, "set/flash/1/2", saveGpio, "setting the GPIO output mode failed"},
        {"GPIO save standby mode", GpioTab, "set/flash/1/3", saveGpio, "setting the GPIO standby mode failed"},
        {"Write", GpioTab, "output", click("writeGpioButton"), "writing GPIO failed"},
        {"Read", GpioTab, "input", click("readGpioButton"), "reading GPIO failed"},

        {"Watchdog load mode", WatchdogTab, "get/*/1/5", {}, "Getting the watchdog mode failed"},
        {"Watchdog load delay", WatchdogTab, "get/*/2/3", {}, "getting watchdog delay failed"},
        {"Watchdog load strobe", WatchdogTab, "get/*/2/2", {}, "getting watchdog strobe failed"},
        {"Watchdog load sources", WatchdogTab, "get/*/1/6", {}, "getting watchdog sources failed"},
        {"change watchdog mode", WatchdogTab, "set/ram/1/5", press("watchdogModeCombo", Qt::Key_Down),
         "Setting the watchdog mode failed"},
        {"change delay", WatchdogTab, "set/ram/2/3", type("watchdogDelaySpinBox", "300"),
         "setting watchdog delay failed"},
        {"change strobe", WatchdogTab, "set/ram/2/2", type("watchdogStrobeSpinBox", "2"),
         "setting watchdog strobe failed"},
        {"change sources", WatchdogTab, "set/ram/1/6", click("sourceSchGpioCheckBox"),
         "setting watchdog sources failed"},
        {"serve", WatchdogTab, "set/action/0/1", click("serveWatchdogButton"), "Serve watchdog failed"},
        {"reset watchdog pin", WatchdogTab, "set/action/0/2", click("resetWatchdogButton"),
         "reset watchdog pin failed"},
        {"Watchdog save mode", WatchdogTab, "set/flash/1/5", saveWatchdog, "Setting the watchdog mode failed"},
        {"Watchdog save delay", WatchdogTab, "set/flash/2/3", saveWatchdog, "setting watchdog delay failed"},
        {"Watchdog save strobe", WatchdogTab, "set/flash/2/2", saveWatchdog, "setting watchdog strobe failed"},
        {"Watchdog save sources", WatchdogTab, "set/flash/1/6", saveWatchdog, "setting watchdog sources failed"},

        {"Power load", PowerTab, "get/*/1/7", {}, "getting the power management setting failed"},
        {"change boot mode", PowerTab, "set/ram/1/7", press("bootModeCombo", Qt::Key_Down), powerFailed},
        {"change bridge box", PowerTab, "set/ram/1/7", click("disableUsbToSataBridgeCheckBox"), powerFailed},
        {"Power save", PowerTab, "set/flash/1/7", click("savePowerSettingsButton"), powerFailed},

        {"tab index 5", GuardTab, "", dispatch(5), "Unknown tab was opened (index = 5"},
        {"tab index -1", GuardTab, "", dispatch(-1), "Unknown tab was opened (index = -1"},
    };
    return cases;
}

// The lines a child printed between STATE BEGIN and STATE END.
QStringList fatalState(const ChildOutcome &child)
{
    const QStringList lines = child.errorOutput.split(QLatin1Char('\n'));
    const qsizetype begin = lines.indexOf(QStringLiteral("STATE BEGIN"));
    const qsizetype end = lines.indexOf(QStringLiteral("STATE END"));
    return begin < 0 || end <= begin ? QStringList{} : lines.mid(begin + 1, end - begin - 1);
}

} // namespace

class FatalStopTest : public QObject
{
    Q_OBJECT

public:
    static void runScenario(const QString &name);

private slots:
    void failureStops_data();
    void failureStops();
};

void FatalStopTest::failureStops_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("controllerFails");
    for (const FatalCase &c : fatalCases())
        QTest::newRow(c.name) << QString(c.message) << (*c.fail != '\0');
}

void FatalStopTest::failureStops()
{
    QFETCH(QString, message);
    QFETCH(bool, controllerFails);

    const ChildOutcome child = runChildScenario(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY2(child.crashed && child.errorOutput.split(QLatin1Char('\n')).contains(message),
             qPrintable(child.errorOutput));
    // The calls made in the child, the failed one last, then "boxes 0".
    const QStringList state = fatalState(child);
    const QStringList failed = state.filter(QStringLiteral(" failed"));
    QCOMPARE(failed.size(), controllerFails ? 1 : 0);
    QVERIFY2(!controllerFails || state.indexOf(failed.value(0)) == state.size() - 2, qPrintable(child.errorOutput));
    QCOMPARE(state.value(state.size() - 1), QStringLiteral("boxes 0"));
}

void FatalStopTest::runScenario(const QString &name)
{
    for (const FatalCase &c : fatalCases()) {
        if (name != QLatin1String(c.name))
            continue;
        QTemporaryDir registryDir;
        useTemporaryRegistry(registryDir);
        resetController();
        auto window = openWindow();
        clearCalls();
        // At the stop the child prints its calls, then how many boxes it showed.
        const auto *catcher = new ModalBoxCatcher;
        setFatalStateReporter([catcher] {
            return (calls() << QStringLiteral("boxes %1").arg(catcher->count())).join(QLatin1Char('\n'));
        });
        const QString rule = QString::fromLatin1(c.fail);
        if (!sim::addFailRules((rule.contains('/') ? "feature@" + rule : rule).toStdString()))
            qFatal("bad rule %s", c.fail);
        openTab(window.get(), c.tab);
        if (c.step)
            c.step(window.get());
    }
}

VNK_TEST_MAIN_WITH_SCENARIOS(FatalStopTest)
#include "tst_fatal_stops.moc"
