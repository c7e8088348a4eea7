// The main window: it opens large enough to show every page whole; opening
// a tab reloads its page from the controller (the Guard tab excepted), edits
// the controller did not take are replaced, and an index that names no tab
// stops the program.
#include "child_scenario.h"
#include "controller_link.h"
#include "controller_sim.h"
#include "window_harness.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QTabBar>
#include <QTabWidget>

namespace {

using harness::getRequest;
using harness::widget;
using sim::Param;

constexpr int gpioTabIndex = 0;
constexpr int guardTabIndex = 3;
constexpr int miscTabIndex = 4;

QTabWidget *tabs(QWidget *window)
{
    return widget<QTabWidget>(window, "mainTab");
}

QCheckBox *box(QWidget *window, const char *row, int pin)
{
    return widget<QCheckBox>(window, QString::fromLatin1(row).arg(pin).toLatin1().constData());
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

public:
    static void runScenario(const QString &name);

private slots:
    void initTestCase() { harness::useTemporaryRegistry(registryDir); }
    void init() { harness::resetController(); }

    void opensShowingEveryPageWhole();
    void openingTabLoadsItsPage_data();
    void openingTabLoadsItsPage();
    void reopeningGpioDiscardsWhatTheControllerDidNotTake();
    void unknownTabStops_data();
    void unknownTabStops();

private:
    QTemporaryDir registryDir;
};

// Every page gets at least the room its layout asks for, and no tab title
// is scrolled out of sight.
void MainWindowTest::opensShowingEveryPageWhole()
{
    auto window = harness::openWindow();
    QTabWidget *pages = tabs(window.get());
    const QTabBar *bar = pages->tabBar();

    QVERIFY(window->width() >= 375 && window->height() >= 517);
    QVERIFY(bar->tabRect(0).left() >= 0);
    QVERIFY(bar->tabRect(bar->count() - 1).right() < bar->width());
    const QSize room = pages->currentWidget()->size();
    for (int i = 0; i < pages->count(); ++i) {
        const QSize asked = pages->widget(i)->minimumSizeHint();
        QVERIFY2(room.width() >= asked.width() && room.height() >= asked.height(),
                 qPrintable(pages->tabText(i)));
    }
}

void MainWindowTest::openingTabLoadsItsPage_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QByteArrayList>("kinds");
    QTest::addColumn<QByteArrayList>("requests");

    QTest::newRow("GPIO") << miscTabIndex << gpioTabIndex << QByteArrayList{"get", "get", "get"}
                          << QByteArrayList{getRequest(Param::GpioDirection), getRequest(Param::GpioOutputMode),
                                            getRequest(Param::GpioStandbyMode)};
    QTest::newRow("Misc") << gpioTabIndex << miscTabIndex << QByteArrayList{"find", "get", "get", "get"}
                          << QByteArrayList{getRequest(Param::ReportMode), getRequest(Param::SampleRate),
                                            getRequest(Param::S3Mode)};
    QTest::newRow("Guard") << miscTabIndex << guardTabIndex << QByteArrayList{} << QByteArrayList{};
}

void MainWindowTest::openingTabLoadsItsPage()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QByteArrayList, kinds);
    QFETCH(QByteArrayList, requests);

    auto window = harness::openWindow();
    tabs(window.get())->setCurrentIndex(from);
    harness::clearCalls();

    tabs(window.get())->setCurrentIndex(to);

    QCOMPARE(harness::callKinds(), kinds);
    QCOMPARE(harness::featureRequests(), requests);
}

// Box 2 is sent but the controller keeps its direction, and its output mode
// changes meanwhile: coming back shows what the controller holds. The write
// and read rows belong to the user and stay as they were.
void MainWindowTest::reopeningGpioDiscardsWhatTheControllerDidNotTake()
{
    sim::setInputLevels(0x42);
    auto window = harness::openWindow();
    tabs(window.get())->setCurrentIndex(gpioTabIndex);
    sim::setIgnoreWrites(true);
    box(window.get(), "gpioDirection%1CheckBox", 2)->click();
    box(window.get(), "writeGPIO%1Check", 5)->click();
    widget<QAbstractButton>(window.get(), "readGpioButton")->click();
    sim::setRamValue(Param::GpioOutputMode, 0x11);

    tabs(window.get())->setCurrentIndex(miscTabIndex);
    harness::clearCalls();
    tabs(window.get())->setCurrentIndex(gpioTabIndex);

    QCOMPARE(harness::featureRequests(),
             (QByteArrayList{getRequest(Param::GpioDirection), getRequest(Param::GpioOutputMode),
                             getRequest(Param::GpioStandbyMode)}));
    for (int pin = 0; pin < 8; ++pin) {
        QCOMPARE(box(window.get(), "gpioDirection%1CheckBox", pin)->isChecked(), pin >= 4);
        QCOMPARE(box(window.get(), "gpioOutputMode%1CheckBox", pin)->isChecked(), pin == 0 || pin == 4);
        QCOMPARE(box(window.get(), "writeGPIO%1Check", pin)->isChecked(), pin == 5);
        QCOMPARE(box(window.get(), "readGPIO%1Check", pin)->isChecked(), pin == 1 || pin == 6);
    }
}

void MainWindowTest::unknownTabStops_data()
{
    QTest::addColumn<QString>("message");

    QTest::newRow("7") << QStringLiteral("Unknown tab was opened (index = 7");
    QTest::newRow("5") << QStringLiteral("Unknown tab was opened (index = 5");
    QTest::newRow("-1") << QStringLiteral("Unknown tab was opened (index = -1");
}

void MainWindowTest::unknownTabStops()
{
    QFETCH(QString, message);

    const ChildOutcome child = runChildScenario(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY2(harness::stoppedWith(child, message), qPrintable(child.errorOutput));
}

// The scenario's name is the index handed to the dispatch, as the tab widget
// would report it.
void MainWindowTest::runScenario(const QString &name)
{
    harness::resetController();
    auto window = harness::openWindow();
    QMetaObject::invokeMethod(window.get(), "onTabChange", Qt::DirectConnection, Q_ARG(int, name.toInt()));
}

VNK_TEST_MAIN_WITH_SCENARIOS(MainWindowTest)
#include "tst_main_window.moc"
