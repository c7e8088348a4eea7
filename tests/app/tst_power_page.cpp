// The Power Management page over the controller simulator: how the
// power-settings byte is shown, which byte each user step sends, and where a
// failed controller operation stops the program.
#include "child_scenario.h"
#include "controller_link.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"
#include "window_harness.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QTabWidget>

#include <functional>

using PageStep = std::function<void(QWidget *)>;
Q_DECLARE_METATYPE(PageStep)

namespace {

using harness::widget;

constexpr int powerTabIndex = 2;
const QStringList savedBox{QStringLiteral("Information"),
                           QStringLiteral("Your settings were successfully saved in flash memory."),
                           QStringLiteral("OK")};

void selectTab(QWidget *window, int index)
{
    widget<QTabWidget>(window, "mainTab")->setCurrentIndex(index);
}

// The page as "combo index, then power, temperature, bridge and booster boxes
// as 0/1", e.g. "2 1010".
QString shown(QWidget *w)
{
    QString boxes;
    for (const char *name : {"restartAfterPowerFailureCheckBox", "restartAfterTempFailureCheckBox",
                             "disableUsbToSataBridgeCheckBox", "enable5vBoosterCheckBox"})
        boxes += widget<QCheckBox>(w, name)->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
    return QString::number(widget<QComboBox>(w, "bootModeCombo")->currentIndex()) + QLatin1Char(' ') + boxes;
}

// The power-settings write as featureRequests() spells it.
QByteArray sent(sim::Bank bank, int byte)
{
    return QString::asprintf("00%02x010700%02x", int(bank), byte).toLatin1();
}

PageStep click(const char *name)
{
    return [name](QWidget *w) { widget<QAbstractButton>(w, name)->click(); };
}
PageStep chooseBootMode(int index)
{
    return [index](QWidget *w) { widget<QComboBox>(w, "bootModeCombo")->setCurrentIndex(index); };
}

struct FatalCase {
    const char *name;
    sim::RequestPattern failing;
    PageStep step; // after the tab is open; empty for a failed load
    const char *message;
};

const char setFailed[] = "saving the power management settings failed";
const sim::RequestPattern ramWrite = sim::RequestPattern::set(sim::Param::PowerSettings, sim::Bank::Ram);

const FatalCase fatalCases[] = {
    {"load", sim::RequestPattern::get(sim::Param::PowerSettings), {}, "getting the power management setting failed"},
    {"boot mode", ramWrite, chooseBootMode(1), setFailed},
    {"power failure box", ramWrite, click("restartAfterPowerFailureCheckBox"), setFailed},
    {"temperature box", ramWrite, click("restartAfterTempFailureCheckBox"), setFailed},
    {"bridge box", ramWrite, click("disableUsbToSataBridgeCheckBox"), setFailed},
    {"booster box", ramWrite, click("enable5vBoosterCheckBox"), setFailed},
    {"save", sim::RequestPattern::set(sim::Param::PowerSettings, sim::Bank::Flash), click("savePowerSettingsButton"),
     setFailed},
};

} // namespace

class PowerPageTest : public QObject
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
    void failureStops_data();
    void failureStops();

private:
    QTemporaryDir registryDir;
};

void PowerPageTest::load_data()
{
    QTest::addColumn<bool>("demo");
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("page");

    QTest::newRow("0x16") << false << 0x16 << QStringLiteral("2 1001");
    QTest::newRow("0xE5") << false << 0xE5 << QStringLiteral("1 1010");
    QTest::newRow("boot mode 3") << false << 0x0B << QStringLiteral("-1 0110");
    QTest::newRow("demo") << true << 0x1F << QStringLiteral("0 0010");
}

void PowerPageTest::load()
{
    QFETCH(bool, demo);
    QFETCH(int, byte);
    QFETCH(QString, page);

    sim::setRamValue(sim::Param::PowerSettings, byte);
    setDemoMode(demo);
    auto window = harness::openWindow();
    harness::clearCalls();
    selectTab(window.get(), powerTabIndex);

    QCOMPARE(shown(window.get()), page);
    QVERIFY(!harness::callKinds().contains("set"));
}

void PowerPageTest::userStep_data()
{
    using sim::Bank;
    QTest::addColumn<int>("byte");
    QTest::addColumn<PageStep>("step");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("confirmed");

    const PageStep save = click("savePowerSettingsButton");
    const PageStep bridge = click("disableUsbToSataBridgeCheckBox");
    const PageStep booster = click("enable5vBoosterCheckBox");

    QTest::newRow("0x16, temperature box") << 0x16 << click("restartAfterTempFailureCheckBox") << sent(Bank::Ram, 0x1E)
                                           << false;
    QTest::newRow("0xE5, save") << 0xE5 << save << sent(Bank::Flash, 0x05) << true;
    QTest::newRow("Wait For Button") << 0x1C << chooseBootMode(1) << sent(Bank::Ram, 0x1D) << false;
    QTest::newRow("bridge disabled") << 0x10 << bridge << sent(Bank::Ram, 0x00) << false;
    QTest::newRow("bridge enabled") << 0x00 << bridge << sent(Bank::Ram, 0x10) << false;
    QTest::newRow("booster enabled") << 0x00 << booster << sent(Bank::Ram, 0x10) << false;
    QTest::newRow("booster disabled") << 0x10 << booster << sent(Bank::Ram, 0x00) << false;
    QTest::newRow("boot mode 3, power failure box")
        << 0x03 << click("restartAfterPowerFailureCheckBox") << sent(Bank::Ram, 0x07) << false;
    QTest::newRow("boot mode 3, bridge") << 0xEB << bridge << sent(Bank::Ram, 0x1B) << false;
    QTest::newRow("boot mode 3, save") << 0x03 << save << sent(Bank::Flash, 0x03) << true;
    QTest::newRow("boot mode 3, Auto chosen") << 0x07 << chooseBootMode(0) << sent(Bank::Ram, 0x04) << false;
}

void PowerPageTest::userStep()
{
    QFETCH(int, byte);
    QFETCH(PageStep, step);
    QFETCH(QByteArray, request);
    QFETCH(bool, confirmed);

    sim::setRamValue(sim::Param::PowerSettings, byte);
    auto window = harness::openWindow();
    selectTab(window.get(), powerTabIndex);
    harness::clearCalls();

    ModalBoxCatcher catcher(ModalBoxCatcher::Answer::Accept);
    step(window.get());

    QCOMPARE(harness::featureRequests(), QByteArrayList{request});
    QVERIFY(sim::calls().front().ok());
    // One bit, two boxes: they must never agree.
    const QString page = shown(window.get());
    QVERIFY2(page.at(page.size() - 2) != page.back(), qPrintable(page));
    QCOMPARE(catcher.count(), confirmed ? 1 : 0);
    if (confirmed) {
        const CaughtBox &box = catcher.last();
        QCOMPARE(QStringList({box.title, box.text}) + box.buttons, savedBox);
        QCOMPARE(box.parent, window.get());
    }
}

void PowerPageTest::failureStops_data()
{
    QTest::addColumn<QString>("message");
    for (const FatalCase &c : fatalCases)
        QTest::newRow(c.name) << QString::fromLatin1(c.message);
}

// The child must stop with the message, after nothing but the failed
// request, and without the Information box.
void PowerPageTest::failureStops()
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

void PowerPageTest::runScenario(const QString &name)
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
    selectTab(window.get(), powerTabIndex);
    if (scenario->step)
        scenario->step(window.get());
}

VNK_TEST_MAIN_WITH_SCENARIOS(PowerPageTest)
#include "tst_power_page.moc"
