// The baseline: the least a Qt program with the same frame does before its
// first paint, a QMainWindow holding a tab widget with five empty tabs.
#include "first_paint_probe.h"

#include <QApplication>
#include <QMainWindow>
#include <QTabWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    reportFirstMainWindowPaint(app);
    QMainWindow window;
    auto *tabs = new QTabWidget(&window);
    for (const char *title : {"GPIO", "Watchdog", "Power Management", "Guard", "Misc."})
        tabs->addTab(new QWidget, QString::fromLatin1(title));
    window.setCentralWidget(tabs);
    window.show();
    return app.exec();
}
