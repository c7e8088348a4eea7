#include "controller_link.h"
#include "information_options.h"
#include "startup.h"

#include <QApplication>

namespace {

QtMessageHandler qtHandler = nullptr;

// A failed controller call stops the window with a message that names the
// step ("getting GPIO direction failed"); the library's cause, when it knows
// one, goes with it, so the stop says what happened to the board.
void withControllerCause(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const std::string cause = type == QtFatalMsg ? controllerFailure() : std::string();
    qtHandler(type, context, cause.empty() ? message : message + QStringLiteral(": ") + QString::fromStdString(cause));
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> exitCode = answerInformationOptions(argc, argv))
        return *exitCode;
    qtHandler = qInstallMessageHandler(withControllerCause);
    QApplication app(argc, argv);
    identifyProgram();
    return runVnKestrix(app);
}
