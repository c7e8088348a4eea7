// The program's own start-up (controller search, window, loads, show, event
// loop), ended by the probe after the main window's first paint.
#include "first_paint_probe.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    reportFirstMainWindowPaint(app);
    identifyProgram();
    return runVnKestrix(app);
}
