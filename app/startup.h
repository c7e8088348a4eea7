#pragma once

class QApplication;

// Looks for the controller, offers demo mode when there is none, then shows
// the main window and runs the event loop. Returns the process exit code:
// 1 when the user declines demo mode, otherwise the event loop's result.
int runVnKestrix(QApplication &app);
