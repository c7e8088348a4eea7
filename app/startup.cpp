#include "startup.h"

#include "controller_link.h"
#ifndef _WIN32
#include "controller_access.h"
#endif
#include "redi_device_choice.h"
#include "vnkestrix.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <string>

namespace {

bool userWantsDemoMode()
{
    // No parent: the main window does not exist yet.
    const QMessageBox::StandardButton answer = QMessageBox::question(
        nullptr, QCoreApplication::translate("VnKestrixClass", "No emmbedded controller found"),
        QCoreApplication::translate(
            "VnKestrixClass",
            "The computer you are running this application on is not a Vantrel Atom based "
            "system.\n\n Do you want to run the application  is demo mode?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes;
}

} // namespace

void identifyProgram()
{
    QGuiApplication::setDesktopFileName(QStringLiteral("vnkestrix"));
    // Only X11 docks need the window's own icon: Wayland ones go by the
    // desktop file name and Windows takes the executable's. It costs 5.5 M
    // instructions at start-up (README "Performance"), most of it QIcon
    // looking for icon-engine plugins.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/VnKestrix/Resources/icons/vnkestrix-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

int runVnKestrix(QApplication &app)
{
    std::string deviceName;
    if (!findController(deviceName)) {
        // The question cannot say what was looked for, nor that a board is
        // there but may not be opened and why; stderr can.
        const redi::DeviceChoice choice = redi::deviceChoiceFromEnvironment();
#ifdef _WIN32
        const std::string message = "no controller found (" + redi::describeDeviceChoice(choice) + ")";
#else
        const std::string message = choice.kind == redi::DeviceChoice::Kind::Invalid
            ? "no controller found (" + redi::describeDeviceChoice(choice) + ")"
            : missingControllerMessage(choice);
#endif
        std::fprintf(stderr, "vnkestrix: %s\n", message.c_str());
        if (!userWantsDemoMode())
            return 1;
        setDemoMode(true);
    }
    VnKestrix window(nullptr, Qt::WindowFlags{});
    window.show();
    return app.exec();
}
