// Shared set-up of the widget tests: the main window over the in-process
// controller simulator, with the guard table in a temporary store.
#pragma once

#include "firmware_model.h"
#include "vnkestrix.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class ModalBoxCatcher;
struct ChildOutcome;

namespace harness {

// Points the guard store at a fresh temporary file; call once per test
// process, before any window exists.
void useTemporaryRegistry(const QTemporaryDir &dir);

// Factory state, hardware mode, the device record filled as start-up leaves
// it, and an empty call log.
void resetController();

std::unique_ptr<VnKestrix> openWindow();

template <typename T>
T *widget(QWidget *window, const char *name)
{
    T *w = window->findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

// The feature requests sent since the log was last cleared, as hex of the
// bytes 1 to 7 that tell them apart ("dir target len index 00 value..."),
// e.g. "00000101000001" for "set report mode 1 in flash".
QList<QByteArray> featureRequests();
// Requests spelt the same way, for comparing with featureRequests().
QByteArray getRequest(sim::Param p);
QByteArray setRequest(sim::Param p, sim::Bank bank, int value);
QByteArray actionRequest(sim::Action a);
// Every library call since the log was last cleared, one short word each:
// "find", "get", "set", "in", "out".
QList<QByteArray> callKinds();
void clearCalls();

// Types `text` into a spin box or line edit and presses Return.
void typeAndReturn(QWidget *field, const QString &text);
// Empties the field, types `text` one character at a time (any character:
// the stock key helpers type Latin-1 only) and presses Return. An empty
// `text` leaves the field empty.
void replaceTextAndReturn(QWidget *field, const QString &text);

// In a child scenario: at the fatal stop, print one line per feature request
// sent since the log was last cleared (hex as featureRequests() spells it,
// followed by " failed" when the call failed), then "boxes N", the number of
// modal boxes `catcher` has answered by then.
void reportRequestsAtFatalStop(const ModalBoxCatcher *catcher);
// The lines a child printed between STATE BEGIN and STATE END; empty when it
// printed none.
QStringList fatalState(const ChildOutcome &child);
// Whether the child stopped abnormally with `message` as one whole line of
// its error output.
bool stoppedWith(const ChildOutcome &child, const QString &message);

} // namespace harness
