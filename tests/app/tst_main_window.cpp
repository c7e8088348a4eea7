// Start-up and the main window: with a controller the window opens at once on
// the Misc tab after reading, never writing, the controller; without one the
// user chooses between demo mode and ending the program. The window opens
// large enough to show every page whole, and reopening the GPIO tab replaces
// edits the controller did not take.
#include "controller_link.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"
#include "startup.h"
#include "window_harness.h"

#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

using namespace harness;
using P = sim::Param;

namespace {

// Runs start-up; once the main window shows inside the event loop, notes
// its tab and the calls made by then, and closes it, which ends the loop.
int runAndCloseWindow(QString &seen)
{
    QTimer watcher;
    watcher.setInterval(10);
    QObject::connect(&watcher, &QTimer::timeout, [&seen] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (!qobject_cast<VnKestrix *>(top) || !top->isVisible())
                continue;
            seen = QStringLiteral("tab %1: ").arg(widget<QTabWidget>(top, "mainTab")->currentIndex()) +
                   calls().join(QLatin1Char(' '));
            top->close();
        }
    });
    watcher.start();
    return runVnKestrix(*qApp);
}

} // namespace

class MainWindowTest : public WindowTest
{
    Q_OBJECT

private slots:
    void startsWithController();
    void startsWithoutController_data();
    void startsWithoutController();
    void opensShowingEveryPageWhole();
    void reopeningGpioDiscardsWhatTheControllerDidNotTake();
};

void MainWindowTest::startsWithController()
{
    ModalBoxCatcher catcher;
    QString seen;
    QCOMPARE(runAndCloseWindow(seen), 0);
    QCOMPARE(catcher.count(), 0);
    QVERIFY(!isDemoMode());
    // Misc first (its tab is the current one), then GPIO.
    QCOMPARE(seen, QStringList({"tab 4: find find", get(P::ReportMode), get(P::SampleRate), get(P::S3Mode),
                                get(P::GpioDirection), get(P::GpioOutputMode), get(P::GpioStandbyMode)})
                       .join(QLatin1Char(' ')));
}

void MainWindowTest::startsWithoutController_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("demo");
    QTest::newRow("Yes") << int(ModalBoxCatcher::Answer::Yes) << true;
    QTest::newRow("Return") << int(ModalBoxCatcher::Answer::Return) << true;
    QTest::newRow("No") << int(ModalBoxCatcher::Answer::No) << false;
    QTest::newRow("Escape") << int(ModalBoxCatcher::Answer::Escape) << false;
}

// Demo mode shows the window without a single call after the failed search;
// declining ends with 1 before any window exists.
void MainWindowTest::startsWithoutController()
{
    QFETCH(int, answer);
    QFETCH(bool, demo);
    sim::setAbsent(true);
    ModalBoxCatcher catcher(static_cast<ModalBoxCatcher::Answer>(answer));
    QString seen;

    QCOMPARE(runAndCloseWindow(seen), demo ? 0 : 1);

    QCOMPARE(boxes(catcher, nullptr),
             QStringList{"question|No emmbedded controller found|The computer you are running this application on is "
                         "not a Vantrel Atom based system.\n\n Do you want to run the application  is demo mode?|"
                         "No/Yes"});
    QCOMPARE(catcher.last().defaultButton, QString("Yes"));
    QCOMPARE(isDemoMode(), demo);
    QCOMPARE(seen, QString(demo ? "tab 4: find failed" : ""));
}

// Every page gets at least the room its layout asks for, and no tab title
// is scrolled out of sight.
void MainWindowTest::opensShowingEveryPageWhole()
{
    auto window = openWindow();
    QTabWidget *pages = widget<QTabWidget>(window.get(), "mainTab");
    const QTabBar *bar = pages->tabBar();
    QVERIFY(window->width() >= 375 && window->height() >= 517);
    QVERIFY(bar->tabRect(0).left() >= 0);
    QVERIFY(bar->tabRect(bar->count() - 1).right() < bar->width());
    const QSize room = pages->currentWidget()->size();
    for (int i = 0; i < pages->count(); ++i) {
        const QSize asked = pages->widget(i)->minimumSizeHint();
        QVERIFY2(room.width() >= asked.width() && room.height() >= asked.height(), qPrintable(pages->tabText(i)));
    }
}

// Box 2 is sent but the controller keeps its direction, and its output mode
// changes meanwhile: coming back shows what the controller holds. The write
// and read rows belong to the user and stay as they were.
void MainWindowTest::reopeningGpioDiscardsWhatTheControllerDidNotTake()
{
    sim::setInputLevels(0x42);
    auto window = openWindow();
    openTab(window.get(), GpioTab);
    sim::setIgnoreWrites(true);
    steps({click("gpioDirection2CheckBox"), click("writeGPIO5Check"), click("readGpioButton")})(window.get());
    sim::setRamValue(P::GpioOutputMode, 0x11);
    clearCalls();

    QCOMPARE(openTab(window.get(), GpioTab),
             QStringList({get(P::GpioDirection), get(P::GpioOutputMode), get(P::GpioStandbyMode)}));
    QCOMPARE(shown(window.get()), QString("f0 11 00 20 42"));
}

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
