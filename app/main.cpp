#include "information_options.h"
#include "startup.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    if (const std::optional<int> exitCode = answerInformationOptions(argc, argv))
        return *exitCode;
    QApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry and icon (Wayland
    // docks go by the name); X11 docks take the window's own icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vnkestrix"));
    // With their sizes given, the files are read only when a size is asked for.
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/VnKestrix/Resources/icons/vnkestrix-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    return runVnKestrix(app);
}
