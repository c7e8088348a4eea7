// vnkestrix-cli: the controller's settings and the guard trigger table from
// the command line, for scripts and for many boards at a time.
#include "commands.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vnkestrix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VNKESTRIX_VERSION));
    return runCli(QCoreApplication::arguments());
}
