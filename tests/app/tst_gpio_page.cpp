// The GPIO page over the controller simulator: the three configuration rows
// as bit sets, the requests and reports each user step sends, the line
// levels, and where a failed controller operation stops the program.
#include "child_scenario.h"
#include "controller_link.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"
#include "window_harness.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QTabWidget>

#include <functional>

using GpioStep = std::function<void(QWidget *)>;
Q_DECLARE_METATYPE(GpioStep)

namespace {

using harness::widget;
using sim::Bank;
using sim::Param;

constexpr int gpioTabIndex = 0;

// Object names of the five rows of boxes; %1 is the pin.
const char direction[] = "gpioDirection%1CheckBox";
const char outputMode[] = "gpioOutputMode%1CheckBox";
const char standbyMode[] = "gpioStanbdyMode%1CheckBox";
const char writeRow[] = "writeGPIO%1Check";
const char readRow[] = "readGPIO%1Check";

QCheckBox *box(QWidget *window, const char *row, int pin)
{
    return widget<QCheckBox>(window, QString::fromLatin1(row).arg(pin).toLatin1().constData());
}

int rowBits(QWidget *window, const char *row)
{
    int bits = 0;
    for (int pin = 0; pin < 8; ++pin)
        bits |= box(window, row, pin)->isChecked() ? 1 << pin : 0;
    return bits;
}

GpioStep toggle(const char *row, int pin)
{
    return [=](QWidget *w) { box(w, row, pin)->click(); };
}
GpioStep click(const char *name)
{
    return [=](QWidget *w) { widget<QAbstractButton>(w, name)->click(); };
}
GpioStep steps(std::initializer_list<GpioStep> list)
{
    const std::vector<GpioStep> all(list);
    return [=](QWidget *w) {
        for (const GpioStep &s : all)
            s(w);
    };
}

QList<int> levelsWritten()
{
    QList<int> levels;
    for (const sim::Call &call : sim::calls(sim::Function::SendOutReport))
        levels << call.request.at(1);
    return levels;
}

// The program's failure paths, each run in a child process that must stop.
struct FatalCase {
    const char *name;
    std::function<void()> arm;
    GpioStep step; // after the window is open; empty for a failure while it opens
    const char *message;
    QList<QByteArray> sent; // feature requests up to the failed one
    bool lastFailed;        // whether the last of them is the failure
};

const std::vector<FatalCase> &fatalCases()
{
    using harness::getRequest;
    using harness::setRequest;
    using P = sim::RequestPattern;
    const auto failing = [](P p) { return [p] { sim::failNext(p); }; };
    const GpioStep save = click("saveGpioSettingsButton");
    // The window loads the Misc page first.
    const QList<QByteArray> misc = {getRequest(Param::ReportMode), getRequest(Param::SampleRate),
                                    getRequest(Param::S3Mode)};
    // The controller holds direction 0xF0, output mode 0x81, standby mode 0x3C.
    static const std::vector<FatalCase> cases = {
        {"load direction", failing(P::get(Param::GpioDirection)), {}, "getting GPIO direction failed",
         misc + QList<QByteArray>{getRequest(Param::GpioDirection)}, true},
        {"load output mode", failing(P::get(Param::GpioOutputMode)), {}, "getting GPIO output mode failed",
         misc + QList<QByteArray>{getRequest(Param::GpioDirection), getRequest(Param::GpioOutputMode)}, true},
        {"load standby mode", failing(P::get(Param::GpioStandbyMode)), {}, "getting GPIO standby mode failed",
         misc + QList<QByteArray>{getRequest(Param::GpioDirection), getRequest(Param::GpioOutputMode),
                                  getRequest(Param::GpioStandbyMode)},
         true},
        {"change direction", failing(P::set(Param::GpioDirection, Bank::Ram)), toggle(direction, 2),
         "setting GPIO direction failed", {setRequest(Param::GpioDirection, Bank::Ram, 0xF4)}, true},
        {"change output mode", failing(P::set(Param::GpioOutputMode, Bank::Ram)), toggle(outputMode, 0),
         "setting the GPIO output mode failed", {setRequest(Param::GpioOutputMode, Bank::Ram, 0x80)}, true},
        {"change standby mode", failing(P::set(Param::GpioStandbyMode, Bank::Ram)), toggle(standbyMode, 1),
         "setting the GPIO standby mode failed", {setRequest(Param::GpioStandbyMode, Bank::Ram, 0x3E)}, true},
        {"save direction", failing(P::set(Param::GpioDirection, Bank::Flash)), save, "setting GPIO direction failed",
         {setRequest(Param::GpioDirection, Bank::Flash, 0xF0)}, true},
        {"save output mode", failing(P::set(Param::GpioOutputMode, Bank::Flash)), save,
         "setting the GPIO output mode failed",
         {setRequest(Param::GpioDirection, Bank::Flash, 0xF0), setRequest(Param::GpioOutputMode, Bank::Flash, 0x81)},
         true},
        {"save standby mode", failing(P::set(Param::GpioStandbyMode, Bank::Flash)), save,
         "setting the GPIO standby mode failed",
         {setRequest(Param::GpioDirection, Bank::Flash, 0xF0), setRequest(Param::GpioOutputMode, Bank::Flash, 0x81),
          setRequest(Param::GpioStandbyMode, Bank::Flash, 0x3C)},
         true},
        {"write", [] { sim::failNext(sim::Function::SendOutReport); }, click("writeGpioButton"),
         "writing GPIO failed", {}, false},
        {"read", [] { sim::failNext(sim::Function::GetInReport); }, click("readGpioButton"), "reading GPIO failed",
         {}, false},
    };
    return cases;
}

void setConfiguration(int directionBits, int outputModeBits, int standbyModeBits)
{
    sim::setValue(Param::GpioDirection, directionBits);
    sim::setValue(Param::GpioOutputMode, outputModeBits);
    sim::setValue(Param::GpioStandbyMode, standbyModeBits);
}

} // namespace

class GpioPageTest : public QObject
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
    void read_data();
    void read();
    void failureStops_data();
    void failureStops();

private:
    QTemporaryDir registryDir;
};

void GpioPageTest::load_data()
{
    QTest::addColumn<bool>("demo");
    QTest::addColumn<int>("directionBits");
    QTest::addColumn<int>("outputModeBits");
    QTest::addColumn<int>("standbyModeBits");

    QTest::newRow("factory") << false << 0xF0 << 0x00 << 0x00;
    QTest::newRow("mixed") << false << 0x5A << 0x81 << 0xFF;
    QTest::newRow("demo") << true << 0x00 << 0x00 << 0x00;
}

// The rows show the controller's bytes bit by bit (demo mode: all clear,
// whatever a controller would hold), and showing them writes nothing back.
void GpioPageTest::load()
{
    QFETCH(bool, demo);
    QFETCH(int, directionBits);
    QFETCH(int, outputModeBits);
    QFETCH(int, standbyModeBits);

    setConfiguration(0x5A, 0x81, 0xFF);
    if (!demo)
        setConfiguration(directionBits, outputModeBits, standbyModeBits);
    setDemoMode(demo);
    auto window = harness::openWindow();
    widget<QTabWidget>(window.get(), "mainTab")->setCurrentIndex(gpioTabIndex);

    QCOMPARE(rowBits(window.get(), direction), directionBits);
    QCOMPARE(rowBits(window.get(), outputMode), outputModeBits);
    QCOMPARE(rowBits(window.get(), standbyMode), standbyModeBits);
    QCOMPARE(rowBits(window.get(), writeRow), 0);
    QCOMPARE(rowBits(window.get(), readRow), 0);
    const QByteArrayList kinds = harness::callKinds();
    QVERIFY(!kinds.contains("set") && !kinds.contains("out"));
}

void GpioPageTest::userStep_data()
{
    using harness::setRequest;
    QTest::addColumn<GpioStep>("step");
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<QList<int>>("levels");
    QTest::addColumn<bool>("confirmed");

    // The controller holds direction 0xF0, output mode 0x81, standby mode 0x3C.
    const GpioStep save = click("saveGpioSettingsButton");
    const GpioStep write = click("writeGpioButton");
    QTest::newRow("direction 2 checked") << toggle(direction, 2)
                                         << QByteArrayList{setRequest(Param::GpioDirection, Bank::Ram, 0xF4)}
                                         << QList<int>{} << false;
    QTest::newRow("direction 2 checked, unchecked")
        << steps({toggle(direction, 2), toggle(direction, 2)})
        << QByteArrayList{setRequest(Param::GpioDirection, Bank::Ram, 0xF4),
                          setRequest(Param::GpioDirection, Bank::Ram, 0xF0)}
        << QList<int>{} << false;
    QTest::newRow("output mode 0 unchecked") << toggle(outputMode, 0)
                                             << QByteArrayList{setRequest(Param::GpioOutputMode, Bank::Ram, 0x80)}
                                             << QList<int>{} << false;
    QTest::newRow("standby mode 1 checked") << toggle(standbyMode, 1)
                                            << QByteArrayList{setRequest(Param::GpioStandbyMode, Bank::Ram, 0x3E)}
                                            << QList<int>{} << false;
    QTest::newRow("write and read boxes toggled")
        << steps({toggle(writeRow, 3), toggle(readRow, 4)}) << QByteArrayList{} << QList<int>{} << false;
    QTest::newRow("Write with 0 and 7") << steps({toggle(writeRow, 0), toggle(writeRow, 7), write})
                                        << QByteArrayList{} << QList<int>{0x81} << false;
    QTest::newRow("Write, 3 added, Write")
        << steps({toggle(writeRow, 0), toggle(writeRow, 7), write, toggle(writeRow, 3), write}) << QByteArrayList{}
        << QList<int>{0x81, 0x89} << false;
    QTest::newRow("Write with none") << write << QByteArrayList{} << QList<int>{0x00} << false;
    QTest::newRow("save, write row set")
        << steps({toggle(writeRow, 5), save})
        << QByteArrayList{setRequest(Param::GpioDirection, Bank::Flash, 0xF0),
                          setRequest(Param::GpioOutputMode, Bank::Flash, 0x81),
                          setRequest(Param::GpioStandbyMode, Bank::Flash, 0x3C)}
        << QList<int>{} << true;
    QTest::newRow("save after a change")
        << steps({toggle(direction, 2), save})
        << QByteArrayList{setRequest(Param::GpioDirection, Bank::Ram, 0xF4),
                          setRequest(Param::GpioDirection, Bank::Flash, 0xF4),
                          setRequest(Param::GpioOutputMode, Bank::Flash, 0x81),
                          setRequest(Param::GpioStandbyMode, Bank::Flash, 0x3C)}
        << QList<int>{} << true;
}

void GpioPageTest::userStep()
{
    QFETCH(GpioStep, step);
    QFETCH(QByteArrayList, requests);
    QFETCH(QList<int>, levels);
    QFETCH(bool, confirmed);

    setConfiguration(0xF0, 0x81, 0x3C);
    auto window = harness::openWindow();
    widget<QTabWidget>(window.get(), "mainTab")->setCurrentIndex(gpioTabIndex);
    harness::clearCalls();

    ModalBoxCatcher catcher(ModalBoxCatcher::Answer::Accept);
    step(window.get());

    QCOMPARE(harness::featureRequests(), requests);
    QCOMPARE(levelsWritten(), levels);
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

void GpioPageTest::read_data()
{
    QTest::addColumn<bool>("demo");
    QTest::addColumn<int>("levels");
    QTest::addColumn<int>("checkedByHand");
    QTest::addColumn<int>("shown");

    QTest::newRow("0xA5") << false << 0xA5 << 0x00 << 0xA5;
    QTest::newRow("0x00 over boxes checked by hand") << false << 0x00 << 0x13 << 0x00;
    QTest::newRow("demo") << true << 0xA5 << 0x13 << 0x00;
}

// Read replaces the whole read row with the levels; the status flags that
// come with them change nothing on the page.
void GpioPageTest::read()
{
    QFETCH(bool, demo);
    QFETCH(int, levels);
    QFETCH(int, checkedByHand);
    QFETCH(int, shown);

    sim::setInputLevels(levels);
    sim::setStatusByte(0x22);
    setDemoMode(demo);
    auto window = harness::openWindow();
    widget<QTabWidget>(window.get(), "mainTab")->setCurrentIndex(gpioTabIndex);
    for (int pin = 0; pin < 8; ++pin)
        box(window.get(), readRow, pin)->setChecked(checkedByHand & 1 << pin);
    const int configuration = rowBits(window.get(), direction) | rowBits(window.get(), outputMode) << 8 |
                              rowBits(window.get(), standbyMode) << 16;
    harness::clearCalls();

    widget<QAbstractButton>(window.get(), "readGpioButton")->click();

    QCOMPARE(rowBits(window.get(), readRow), shown);
    QCOMPARE(harness::callKinds(), demo ? QByteArrayList{} : QByteArrayList{"in"});
    QCOMPARE(rowBits(window.get(), direction) | rowBits(window.get(), outputMode) << 8 |
                 rowBits(window.get(), standbyMode) << 16,
             configuration);
}

void GpioPageTest::failureStops_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("state");
    for (const FatalCase &c : fatalCases()) {
        QStringList state;
        for (const QByteArray &request : c.sent)
            state << QString::fromLatin1(request);
        if (c.lastFailed)
            state.last() += QStringLiteral(" failed");
        QTest::newRow(c.name) << QString::fromLatin1(c.message) << (state << QStringLiteral("boxes 0"));
    }
}

// The child stops with the message right after the failed request: no later
// request, and no Information box.
void GpioPageTest::failureStops()
{
    QFETCH(QString, message);
    QFETCH(QStringList, state);

    const ChildOutcome child = runChildScenario(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY2(harness::stoppedWith(child, message), qPrintable(child.errorOutput));
    QCOMPARE(harness::fatalState(child), state);
}

void GpioPageTest::runScenario(const QString &name)
{
    for (const FatalCase &c : fatalCases()) {
        if (name != QLatin1String(c.name))
            continue;
        harness::resetController();
        setConfiguration(0xF0, 0x81, 0x3C);
        auto *catcher = new ModalBoxCatcher(ModalBoxCatcher::Answer::Accept);
        harness::reportRequestsAtFatalStop(catcher);
        if (!c.step)
            c.arm();
        auto window = harness::openWindow();
        widget<QTabWidget>(window.get(), "mainTab")->setCurrentIndex(gpioTabIndex);
        harness::clearCalls();
        if (c.step) {
            c.arm();
            c.step(window.get());
        }
    }
}

VNK_TEST_MAIN_WITH_SCENARIOS(GpioPageTest)
#include "tst_gpio_page.moc"
