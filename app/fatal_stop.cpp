#include "fatal_stop.h"

#include "controller_link.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace {

QtMessageHandler previousHandler = nullptr;

// The box needs the GUI thread of a running QApplication; a stop from
// anywhere else, or one that comes while the box is up (the box's own event
// loop may run a page's slot), only goes to stderr.
bool canShowBox()
{
    static bool showing = false;
    const auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (showing || !app || QThread::currentThread() != app->thread())
        return false;
    showing = true;
    return true;
}

void stopWithBox(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg)
        return previousHandler(type, context, message);
    const std::string cause = controllerFailure();
    const QString text = cause.empty() ? message : message + QStringLiteral(": ") + QString::fromStdString(cause);
    if (canShowBox()) {
        // Nothing the window had under way may reach the controller once a
        // call failed: the box's event loop would deliver it, such as the
        // focus leaving a spin box, which writes its value again.
        for (QWidget *widget : QApplication::allWidgets())
            widget->blockSignals(true);
        QMessageBox::critical(nullptr, QStringLiteral("VnKestrix"), text);
    }
    previousHandler(type, context, text);
}

} // namespace

void installFatalStop()
{
    previousHandler = qInstallMessageHandler(stopWithBox);
}
