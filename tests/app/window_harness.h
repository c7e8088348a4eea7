// Shared set-up of the widget tests: the main window over the in-process
// controller simulator, with the guard table in a temporary store.
#pragma once

#include "firmware_model.h"
#include "vnkestrix.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <initializer_list>
#include <memory>

class ModalBoxCatcher;

// Something a user does to the open window.
using Step = std::function<void(QWidget *window)>;
Q_DECLARE_METATYPE(Step)

namespace harness {

enum Tab { GpioTab = 0, WatchdogTab = 1, PowerTab = 2, GuardTab = 3, MiscTab = 4 };

// Points the guard store at a fresh temporary file; call before any window
// exists.
void useTemporaryRegistry(const QTemporaryDir &dir);
// Factory state, hardware mode, the device record filled as start-up leaves
// it, and an empty call log.
void resetController();
// Puts the controller into a state given as the simulator's state-file
// lines, separated by spaces ("ram.power_settings=0x16 input_levels=0xa5");
// everything not named is at its factory value. The word "demo" turns demo
// mode on; without it the program is in hardware mode.
void setController(const QString &state);

// Base of the window tests: a guard store of the test's own, and a factory
// controller for every test function.
class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useTemporaryRegistry(registryDir); }
    void init() { resetController(); }

private:
    QTemporaryDir registryDir;
};

// Opens the main window as the active window.
std::unique_ptr<VnKestrix> openWindow();
// Selects `tab`, coming from the Guard tab (which loads nothing), so the
// page is loaded afresh. Returns the calls made since the log was last
// cleared, and clears it.
QStringList openTab(QWidget *window, int tab);

template <typename T>
T *widget(QWidget *window, const QString &name)
{
    T *w = window->findChild<T *>(name);
    if (!w)
        qFatal("no widget %s", qPrintable(name));
    return w;
}

// The current page as a user reads it:
//   GPIO      "f0 81 3c 00 00"  direction, output mode, standby mode, write
//                               and read rows, one hex byte each
//   Watchdog  "Off, 51.2 s, 51.2 s, 03"  mode, delay, strobe, source bits
//   Power     "Auto, 0010"      boot mode, then the power, temperature,
//                               bridge and booster boxes
//   Misc      "SIM000001, After Sampling, 50 ms, Normal, Firmware revision: 1.0"
// A combo without a current item shows as an empty text.
QString shown(QWidget *window);

// Every library call since the log was last cleared: "find", "in",
// "out XX" (the levels) and feature requests as hex of the bytes that tell
// them apart ("dir target len index 00 value..."); " failed" follows a
// call that failed.
QStringList calls();
void clearCalls();
// Whether `log` holds a parameter, serial-number, action or output write.
bool anyWrite(const QStringList &log);
// Feature requests as calls() spells them.
QString get(sim::Param p);
QString ram(sim::Param p, int value);
QString flash(sim::Param p, int value);
QString action(sim::Action a);

// The boxes `catcher` answered, as "icon|title|text|buttons" with the
// buttons in alphabetical order; a box whose parent is not `window` is
// marked " (not over the window)".
QStringList boxes(const ModalBoxCatcher &catcher, const QWidget *window);
extern const QString savedToFlashBox;

// Steps for the tables. type() selects all of a spin box or line edit,
// types `text` and presses Return.
Step click(const QString &name);
Step press(const QString &name, Qt::Key key);
Step type(const QString &name, const QString &text);
Step focus(const QString &name);
Step steps(std::initializer_list<Step> list);

} // namespace harness
