// The Misc page over the controller simulator: what a load shows, exactly
// which requests each user step sends, the serial number's guard against
// text the controller cannot store and against needless flash writes, and
// where a failed controller operation stops the program.
#include "child_scenario.h"
#include "controller_link.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"
#include "window_harness.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>

#include <functional>

using MiscStep = std::function<void(QWidget *)>;
Q_DECLARE_METATYPE(MiscStep)

namespace {

using harness::widget;
using sim::Bank;
using sim::Param;

constexpr int gpioTabIndex = 0;
constexpr int miscTabIndex = 4;
const QString loadedSerial = QStringLiteral("SIM000001");

QLineEdit *serialEdit(QWidget *window)
{
    return widget<QLineEdit>(window, "serialEdit");
}

void reopenMiscTab(QWidget *window)
{
    auto *tabs = widget<QTabWidget>(window, "mainTab");
    tabs->setCurrentIndex(gpioTabIndex);
    tabs->setCurrentIndex(miscTabIndex);
}

// Moves the focus on, as the Tab key would.
void leaveSerialField(QWidget *window)
{
    widget<QWidget>(window, "reportModeCombo")->setFocus();
}

MiscStep press(const char *name, Qt::Key key)
{
    return [=](QWidget *w) { QTest::keyClick(widget<QWidget>(w, name), key); };
}
MiscStep click(const char *name)
{
    return [=](QWidget *w) { widget<QAbstractButton>(w, name)->click(); };
}
MiscStep typeSerial(const QString &text)
{
    return [=](QWidget *w) { harness::replaceTextAndReturn(serialEdit(w), text); };
}
// The controller's value changes behind the page, which is then reopened.
MiscStep controllerHolds(Param p, int value)
{
    return [=](QWidget *w) {
        sim::setValue(p, value);
        reopenMiscTab(w);
        harness::clearCalls();
    };
}
MiscStep steps(std::initializer_list<MiscStep> list)
{
    const std::vector<MiscStep> all(list);
    return [=](QWidget *w) {
        for (const MiscStep &s : all)
            s(w);
    };
}

// The texts of the serial-number writes sent since the log was cleared.
QStringList serialsWritten()
{
    QStringList texts;
    for (const sim::Call &call : sim::featureCalls(sim::RequestPattern::serialWrite())) {
        QString text;
        for (std::size_t i = 13; i + 1 < call.request.size() && call.request[i]; i += 2)
            text += QChar(call.request[i] | call.request[i + 1] << 8);
        texts << text;
    }
    return texts;
}

QByteArray serialWriteRequest(const QString &text)
{
    QByteArray bytes = QByteArray::fromHex("000114000055534253" "4e1403");
    for (QChar c : text)
        bytes.append(char(c.unicode())).append('\0');
    return bytes.leftJustified(32, '\0').toHex();
}

// The program's failure paths, each run in a child process that must stop.
struct FatalCase {
    const char *name;
    std::function<void()> arm;
    MiscStep step; // after the window is open; empty for a failure while it opens
    const char *message;
    QList<QByteArray> sent; // feature requests up to the failed one, which is last
};

const std::vector<FatalCase> &fatalCases()
{
    using P = sim::RequestPattern;
    const auto failing = [](P p) { return [p] { sim::failNext(p); }; };
    const MiscStep save = click("saveMiscSettingsButton");
    static const std::vector<FatalCase> cases = {
        {"load serial", [] { sim::failNext(sim::Function::FindSensor); }, {}, "getting serial number failed", {}},
        {"load report mode", failing(P::get(Param::ReportMode)), {}, "getting report mode failed",
         {harness::getRequest(Param::ReportMode)}},
        {"load sample rate", failing(P::get(Param::SampleRate)), {}, "getting sample rate failed",
         {harness::getRequest(Param::ReportMode), harness::getRequest(Param::SampleRate)}},
        {"load S3 mode", failing(P::get(Param::S3Mode)), {}, "getting S3 signalization mode failed",
         {harness::getRequest(Param::ReportMode), harness::getRequest(Param::SampleRate),
          harness::getRequest(Param::S3Mode)}},
        {"change report mode", failing(P::set(Param::ReportMode, Bank::Ram)),
         press("reportModeCombo", Qt::Key_Down), "setting report mode failed",
         {harness::setRequest(Param::ReportMode, Bank::Ram, 1)}},
        {"change sample rate", failing(P::set(Param::SampleRate, Bank::Ram)),
         press("samplingRateSpinBox", Qt::Key_Return), "setting sample rate failed",
         {harness::setRequest(Param::SampleRate, Bank::Ram, 50)}},
        {"change S3 mode", failing(P::set(Param::S3Mode, Bank::Ram)), press("s3SignalizationModeCombo", Qt::Key_Down),
         "setting the S3 signalization mode failed", {harness::setRequest(Param::S3Mode, Bank::Ram, 1)}},
        {"change serial", failing(P::serialWrite()), typeSerial(QStringLiteral("NEW-01")),
         "setting serial number failed", {serialWriteRequest(QStringLiteral("NEW-01"))}},
        {"reset THRM pin", failing(P::action(sim::Action::ResetThrmPin)), click("resetThrmPinButton"),
         "resetting the THRM pin failed", {harness::actionRequest(sim::Action::ResetThrmPin)}},
        {"save report mode", failing(P::set(Param::ReportMode, Bank::Flash)), save, "setting report mode failed",
         {harness::setRequest(Param::ReportMode, Bank::Flash, 0)}},
        {"save sample rate", failing(P::set(Param::SampleRate, Bank::Flash)), save, "setting sample rate failed",
         {harness::setRequest(Param::ReportMode, Bank::Flash, 0), harness::setRequest(Param::SampleRate, Bank::Flash, 50)}},
        {"save S3 mode", failing(P::set(Param::S3Mode, Bank::Flash)), save, "setting the S3 signalization mode failed",
         {harness::setRequest(Param::ReportMode, Bank::Flash, 0), harness::setRequest(Param::SampleRate, Bank::Flash, 50),
          harness::setRequest(Param::S3Mode, Bank::Flash, 0)}},
    };
    return cases;
}

} // namespace

class MiscPageTest : public QObject
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
    void refusedSerialNumber_data();
    void refusedSerialNumber();
    void serialWrittenOnlyWhenChanged_data();
    void serialWrittenOnlyWhenChanged();
    void failureStops_data();
    void failureStops();

private:
    QTemporaryDir registryDir;
};

void MiscPageTest::load_data()
{
    QTest::addColumn<bool>("demo");
    QTest::addColumn<int>("reportModeValue");
    QTest::addColumn<int>("s3ModeValue");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("reportMode");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<QString>("s3Mode");
    QTest::addColumn<QString>("revision");

    QTest::newRow("controller") << false << 1 << 1 << QStringLiteral("AB-7") << QStringLiteral("After Change") << 300
                                << QStringLiteral("S3 Signal Together With S5")
                                << QStringLiteral("Firmware revision: 2.31");
    QTest::newRow("modes without an item") << false << 2 << 0xFF << QStringLiteral("AB-7") << QString() << 300
                                           << QString() << QStringLiteral("Firmware revision: 2.31");
    QTest::newRow("demo") << true << 1 << 1 << QStringLiteral("012345678") << QStringLiteral("After Sampling") << 512
                          << QStringLiteral("Normal") << QStringLiteral("Firmware revision: 1.0");
}

// The controller holds other values than the window's first load saw: the
// reload shows them, the revision comes from the fresh device record, and
// nothing is written back.
void MiscPageTest::load()
{
    QFETCH(bool, demo);
    QFETCH(int, reportModeValue);
    QFETCH(int, s3ModeValue);
    QFETCH(QString, serial);
    QFETCH(QString, reportMode);
    QFETCH(int, sampleRate);
    QFETCH(QString, s3Mode);
    QFETCH(QString, revision);

    setDemoMode(demo);
    auto window = harness::openWindow();
    sim::setSerialNumber("AB-7");
    sim::setReleaseNumber(0x0231);
    sim::setRamValue(Param::ReportMode, reportModeValue);
    sim::setRamValue(Param::SampleRate, 300);
    sim::setRamValue(Param::S3Mode, s3ModeValue);
    reopenMiscTab(window.get());

    QCOMPARE(serialEdit(window.get())->text(), serial);
    QCOMPARE(widget<QComboBox>(window.get(), "reportModeCombo")->currentText(), reportMode);
    QCOMPARE(widget<QSpinBox>(window.get(), "samplingRateSpinBox")->value(), sampleRate);
    QCOMPARE(widget<QComboBox>(window.get(), "s3SignalizationModeCombo")->currentText(), s3Mode);
    QCOMPARE(widget<QLabel>(window.get(), "firmwareRevisionLabel")->text(), revision);
    QVERIFY(!harness::callKinds().contains("set"));
}

void MiscPageTest::userStep_data()
{
    using harness::setRequest;
    QTest::addColumn<MiscStep>("step");
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<bool>("confirmed");

    // The controller starts at report mode 1, 300 ms and S3 mode 1.
    const MiscStep save = click("saveMiscSettingsButton");
    QTest::newRow("After Sampling") << press("reportModeCombo", Qt::Key_Up)
                                    << QByteArrayList{setRequest(Param::ReportMode, Bank::Ram, 0)} << false;
    QTest::newRow("Normal") << press("s3SignalizationModeCombo", Qt::Key_Up)
                            << QByteArrayList{setRequest(Param::S3Mode, Bank::Ram, 0)} << false;
    QTest::newRow("rate 65535") << MiscStep([](QWidget *w) {
        harness::typeAndReturn(widget<QWidget>(w, "samplingRateSpinBox"), QStringLiteral("65535"));
    }) << QByteArrayList{setRequest(Param::SampleRate, Bank::Ram, 65535)} << false;
    QTest::newRow("rate, Return alone") << press("samplingRateSpinBox", Qt::Key_Return)
                                        << QByteArrayList{setRequest(Param::SampleRate, Bank::Ram, 300)} << false;
    QTest::newRow("reset THRM pin") << click("resetThrmPinButton")
                                    << QByteArrayList{harness::actionRequest(sim::Action::ResetThrmPin)} << false;
    QTest::newRow("save") << save
                          << QByteArrayList{setRequest(Param::ReportMode, Bank::Flash, 1),
                                            setRequest(Param::SampleRate, Bank::Flash, 300),
                                            setRequest(Param::S3Mode, Bank::Flash, 1)}
                          << true;
    QTest::newRow("save after an edit")
        << steps({press("reportModeCombo", Qt::Key_Up), save})
        << QByteArrayList{setRequest(Param::ReportMode, Bank::Ram, 0), setRequest(Param::ReportMode, Bank::Flash, 0),
                          setRequest(Param::SampleRate, Bank::Flash, 300), setRequest(Param::S3Mode, Bank::Flash, 1)}
        << true;
    // A mode the combo has no item for stays as the controller holds it.
    QTest::newRow("save, report mode 2")
        << steps({controllerHolds(Param::ReportMode, 2), save})
        << QByteArrayList{setRequest(Param::SampleRate, Bank::Flash, 300), setRequest(Param::S3Mode, Bank::Flash, 1)}
        << true;
    QTest::newRow("save, S3 mode 9")
        << steps({controllerHolds(Param::S3Mode, 9), save})
        << QByteArrayList{setRequest(Param::ReportMode, Bank::Flash, 1), setRequest(Param::SampleRate, Bank::Flash, 300)}
        << true;
}

void MiscPageTest::userStep()
{
    QFETCH(MiscStep, step);
    QFETCH(QByteArrayList, requests);
    QFETCH(bool, confirmed);

    sim::setValue(Param::ReportMode, 1);
    sim::setValue(Param::SampleRate, 300);
    sim::setValue(Param::S3Mode, 1);
    auto window = harness::openWindow();
    harness::clearCalls();

    ModalBoxCatcher catcher(ModalBoxCatcher::Answer::Accept);
    step(window.get());

    QCOMPARE(harness::featureRequests(), requests);
    for (const sim::Call &call : sim::calls())
        QVERIFY(call.ok());
    QCOMPARE(catcher.count(), confirmed ? 1 : 0);
    if (confirmed) {
        QCOMPARE(catcher.last().title, QStringLiteral("Information"));
        QCOMPARE(catcher.last().text, QStringLiteral("Your settings were successfully saved in flash memory."));
        QCOMPARE(catcher.last().buttons, QStringList{QStringLiteral("OK")});
        QCOMPARE(catcher.last().parent, window.get());
    }
}

void MiscPageTest::refusedSerialNumber_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("typed");

    QTest::newRow("emptied") << QString() << QString();
    QTest::newRow("euro sign") << QString() << QStringLiteral("SN\u20AC42");
    QTest::newRow("outside the BMP") << QString() << QStringLiteral("A\U0001F600");
    QTest::newRow("emptied after a write") << QStringLiteral("NEW-01") << QString();
}

// A number the controller cannot store is refused with a warning; the field
// goes back to the number the controller holds, and leaving the field
// afterwards neither writes nor warns again.
void MiscPageTest::refusedSerialNumber()
{
    QFETCH(QString, written);
    QFETCH(QString, typed);

    auto window = harness::openWindow();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    const QString held = written.isEmpty() ? loadedSerial : written;
    if (!written.isEmpty())
        harness::replaceTextAndReturn(serialEdit(window.get()), written);
    harness::clearCalls();

    ModalBoxCatcher catcher(ModalBoxCatcher::Answer::Accept);
    harness::replaceTextAndReturn(serialEdit(window.get()), typed);
    QTRY_COMPARE(catcher.count(), 1);
    leaveSerialField(window.get());
    QTest::qWait(50);

    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.last().title, QStringLiteral("Serial Number"));
    QCOMPARE(catcher.last().text,
             QStringLiteral("The serial number must be 1 to 9 characters long and use only Latin-1 characters."));
    QCOMPARE(catcher.last().icon, QMessageBox::Warning);
    QCOMPARE(catcher.last().buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(catcher.last().parent, window.get());
    QCOMPARE(serialEdit(window.get())->text(), held);
    QCOMPARE(harness::featureRequests(), QByteArrayList{});
    QCOMPARE(QString::fromStdString(sim::serialNumber()), held);
}

void MiscPageTest::serialWrittenOnlyWhenChanged_data()
{
    QTest::addColumn<MiscStep>("step");
    QTest::addColumn<QStringList>("written");

    const MiscStep leave = [](QWidget *w) { leaveSerialField(w); };
    const MiscStep returnKey = [](QWidget *w) { QTest::keyClick(serialEdit(w), Qt::Key_Return); };
    const QString latin1 = QStringLiteral("\u00C5bo-42");

    QTest::newRow("Return, then focus moves on")
        << steps({typeSerial(QStringLiteral("NEW-01")), leave}) << QStringList{QStringLiteral("NEW-01")};
    QTest::newRow("Return twice") << steps({typeSerial(QStringLiteral("NEW-01")), returnKey})
                                  << QStringList{QStringLiteral("NEW-01")};
    QTest::newRow("Return without an edit") << returnKey << QStringList{};
    QTest::newRow("passing through") << MiscStep([](QWidget *w) {
        serialEdit(w)->setFocus();
        leaveSerialField(w);
    }) << QStringList{};
    QTest::newRow("retyped as loaded") << typeSerial(loadedSerial) << QStringList{};
    QTest::newRow("changed and changed back")
        << steps({typeSerial(QStringLiteral("NEW-01")), typeSerial(loadedSerial)})
        << QStringList{QStringLiteral("NEW-01"), loadedSerial};
    QTest::newRow("Latin-1 beyond ASCII") << steps({typeSerial(latin1), leave}) << QStringList{latin1};
    QTest::newRow("changed by someone else, then Return") << MiscStep([returnKey](QWidget *w) {
        sim::setSerialNumber("OTHER");
        reopenMiscTab(w);
        returnKey(w);
    }) << QStringList{};
}

void MiscPageTest::serialWrittenOnlyWhenChanged()
{
    QFETCH(MiscStep, step);
    QFETCH(QStringList, written);

    auto window = harness::openWindow();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    harness::clearCalls();

    step(window.get());

    QCOMPARE(serialsWritten(), written);
    QCOMPARE(harness::callKinds().count("set"), written.size());
    for (const sim::Call &call : sim::calls())
        QVERIFY(call.ok());
    if (!written.isEmpty())
        QCOMPARE(QString::fromLatin1(sim::serialNumber().c_str()), written.last());
}

void MiscPageTest::failureStops_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("state");
    for (const FatalCase &c : fatalCases()) {
        QStringList state;
        for (const QByteArray &request : c.sent)
            state << QString::fromLatin1(request);
        if (!state.isEmpty())
            state.last() += QStringLiteral(" failed");
        QTest::newRow(c.name) << QString::fromLatin1(c.message) << (state << QStringLiteral("boxes 0"));
    }
}

// The child stops with the message right after the failed request: no later
// request, and no Information box.
void MiscPageTest::failureStops()
{
    QFETCH(QString, message);
    QFETCH(QStringList, state);

    const ChildOutcome child = runChildScenario(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY2(harness::stoppedWith(child, message), qPrintable(child.errorOutput));
    QCOMPARE(harness::fatalState(child), state);
}

void MiscPageTest::runScenario(const QString &name)
{
    for (const FatalCase &c : fatalCases()) {
        if (name != QLatin1String(c.name))
            continue;
        harness::resetController();
        auto *catcher = new ModalBoxCatcher(ModalBoxCatcher::Answer::Accept);
        harness::reportRequestsAtFatalStop(catcher);
        if (!c.step)
            c.arm();
        auto window = harness::openWindow();
        harness::clearCalls();
        if (c.step) {
            c.arm();
            c.step(window.get());
        }
    }
}

VNK_TEST_MAIN_WITH_SCENARIOS(MiscPageTest)
#include "tst_misc_page.moc"
