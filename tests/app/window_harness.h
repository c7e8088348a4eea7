// Shared set-up of the widget tests: the main window over the in-process
// controller simulator, with the guard table in a temporary store.
#pragma once

#include "vnkestrix.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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
// Every library call since the log was last cleared, one short word each:
// "find", "get", "set", "in", "out".
QList<QByteArray> callKinds();
void clearCalls();

// Types `text` into a spin box or line edit and presses Return.
void typeAndReturn(QWidget *field, const QString &text);

} // namespace harness
