#include "fatal_stop.h"
#include "information_options.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (const std::optional<int> exitCode = answerInformationOptions(argc, argv))
        return *exitCode;
    installFatalStop();
    QApplication app(argc, argv);
    identifyProgram();
    return runVnKestrix(app);
}
