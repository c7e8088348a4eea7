// Start-up as main() runs it: with a controller the window opens at once on
// the Misc tab after reading, never writing, the controller; without one the
// user chooses between demo mode and ending the program.
#include "controller_link.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"
#include "startup.h"
#include "window_harness.h"

#include <QTabWidget>
#include <QTimer>

#include <algorithm>

namespace {

using harness::getRequest;
using sim::Param;

// What the event loop found when the main window first showed.
struct WindowSeen {
    bool shown = false;
    int tab = -1;
    QByteArrayList kinds;
    QByteArrayList requests;
};

// Runs start-up; once the main window shows inside the event loop, records
// what had happened by then and closes the window, which ends the loop.
int runAndCloseWindow(WindowSeen &seen)
{
    QTimer watcher;
    watcher.setInterval(10);
    QObject::connect(&watcher, &QTimer::timeout, [&seen] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *window = qobject_cast<VnKestrix *>(top);
            if (!window || !window->isVisible())
                continue;
            seen.shown = true;
            seen.tab = harness::widget<QTabWidget>(window, "mainTab")->currentIndex();
            seen.kinds = harness::callKinds();
            seen.requests = harness::featureRequests();
            window->close();
        }
    });
    watcher.start();
    return runVnKestrix(*qApp);
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { harness::useTemporaryRegistry(registryDir); }
    void init() { harness::resetController(); }

    void withController();
    void withoutController_data();
    void withoutController();

private:
    QTemporaryDir registryDir;
};

void StartupTest::withController()
{
    ModalBoxCatcher catcher(ModalBoxCatcher::Answer::Accept);
    WindowSeen seen;

    QCOMPARE(runAndCloseWindow(seen), 0);

    QCOMPARE(catcher.count(), 0);
    QVERIFY(seen.shown);
    QCOMPARE(seen.tab, 4);
    QVERIFY(!isDemoMode());
    QCOMPARE(seen.kinds, (QByteArrayList{"find", "find", "get", "get", "get", "get", "get", "get"}));
    QCOMPARE(seen.requests,
             (QByteArrayList{getRequest(Param::ReportMode), getRequest(Param::SampleRate), getRequest(Param::S3Mode),
                             getRequest(Param::GpioDirection), getRequest(Param::GpioOutputMode),
                             getRequest(Param::GpioStandbyMode)}));
}

void StartupTest::withoutController_data()
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
void StartupTest::withoutController()
{
    QFETCH(int, answer);
    QFETCH(bool, demo);

    sim::setAbsent(true);
    ModalBoxCatcher catcher(static_cast<ModalBoxCatcher::Answer>(answer));
    WindowSeen seen;

    QCOMPARE(runAndCloseWindow(seen), demo ? 0 : 1);

    QCOMPARE(catcher.count(), 1);
    const CaughtBox &box = catcher.last();
    QCOMPARE(box.title, QStringLiteral("No emmbedded controller found"));
    QCOMPARE(box.text, QStringLiteral("The computer you are running this application on is not a Vantrel Atom "
                                      "based system.\n\n Do you want to run the application  is demo mode?"));
    QStringList buttons = box.buttons;
    std::sort(buttons.begin(), buttons.end());
    QCOMPARE(buttons, (QStringList{QStringLiteral("No"), QStringLiteral("Yes")}));
    QCOMPARE(box.defaultButton, QStringLiteral("Yes"));
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.parent, nullptr);
    QCOMPARE(isDemoMode(), demo);
    QCOMPARE(seen.shown, demo);
    QCOMPARE(seen.shown ? seen.tab : 4, 4);
    QCOMPARE(harness::callKinds(), QByteArrayList{"find"});
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
