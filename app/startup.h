#pragma once

class QApplication;

// The desktop file name and, under X11, the window icon, so that docks and
// task bars match the window to its menu entry and show its icon.
void identifyProgram();

// Looks for the controller, offers demo mode when there is none, then shows
// the main window and runs the event loop. Returns the process exit code:
// 1 when the user declines demo mode, otherwise the event loop's result.
int runVnKestrix(QApplication &app);
