// Loaded with LD_PRELOAD into the programs the kernel suite starts.
//
// It holds a program between two controller exchanges, so that the test
// can re-plug the board there: with VNK_PAUSE_FILE=F and VNK_PAUSE_AT=N the
// Nth report call (Usk_Feature_a, Usk_GetCurrentInReport_a or
// Usk_SendOutReport_a) first creates F.paused, then waits (up to a minute)
// until F exists.
//
// In the unchanged vnkestrix, where there is no display to send input to, it
// also drives the window: once the main window is up it prints what three
// widgets show ("driver: value <objectName> <value>"), presses Return in
// the serial-number field without editing it, presses "Save Misc. Settings
// to Flash", prints the boxes that came ("driver: box <title> | <text>",
// each answered with OK) and closes the window, so the program ends with its
// own exit code.
#include "modal_box_catcher.h"
#include "redi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <dlfcn.h>

#include <cstdio>

namespace {

void drive(QWidget *window, const ModalBoxCatcher &catcher)
{
    for (const char *name : {"firmwareRevisionLabel", "serialEdit", "samplingRateSpinBox"}) {
        const QWidget *w = window->findChild<QWidget *>(QLatin1String(name));
        const char *property = w->property("value").isValid() ? "value" : "text";
        std::fprintf(stderr, "driver: value %s %s\n", name, qPrintable(w->property(property).toString()));
    }
    QTest::keyClick(window->findChild<QLineEdit *>(QStringLiteral("serialEdit")), Qt::Key_Return);
    window->findChild<QAbstractButton *>(QStringLiteral("saveMiscSettingsButton"))->click(); // the box is answered
    for (const CaughtBox &box : catcher.boxes())
        std::fprintf(stderr, "driver: box %s | %s\n", qPrintable(box.title), qPrintable(box.text));
    window->close();
}

void startDriver()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app->inherits("QApplication"))
        return; // the command line: only held, not driven
    auto *catcher = new ModalBoxCatcher(ModalBoxCatcher::Answer::Accept, app);
    auto *timer = new QTimer(app);
    QObject::connect(timer, &QTimer::timeout, app, [timer, catcher] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->inherits("VnKestrix") && window->isVisible() && !QApplication::activeModalWidget()) {
                timer->stop();
                return drive(window, *catcher);
            }
        }
    });
    timer->start(20);
}

void maybePause()
{
    static int calls = 0;
    const QString file = qEnvironmentVariable("VNK_PAUSE_FILE");
    if (++calls != qEnvironmentVariableIntValue("VNK_PAUSE_AT") || !QFile(file + ".paused").open(QIODevice::WriteOnly))
        return;
    for (int i = 0; i < 6000 && !QFile::exists(file); ++i)
        QThread::msleep(10);
}

template <typename... Args>
int next(const char *name, Args... args)
{
    maybePause();
    return reinterpret_cast<int (*)(Args...)>(::dlsym(RTLD_NEXT, name))(args...);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)

extern "C" {
int Usk_Feature_a(const char *device, unsigned char *report, int get) { return next(__func__, device, report, get); }
int Usk_GetCurrentInReport_a(const char *device, unsigned char *report, int n) { return next(__func__, device, report, n); }
int Usk_SendOutReport_a(const char *device, unsigned char *r, int n, int ms) { return next(__func__, device, r, n, ms); }
}
