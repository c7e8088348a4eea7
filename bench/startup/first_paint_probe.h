// Start-up probe for the benchmark: notes when the first main window has
// been painted and flushed, prints that moment and the peak memory on
// standard output, and ends the event loop.
#pragma once

class QApplication;

// Installs an application-wide event filter. Once a widget of a QMainWindow
// has had its first paint event and control is back in the event loop (so
// the whole window is painted and flushed), it prints one line
//
//   app-ready-ns=<t> first-paint-ns=<t> since-start-ms=<ms> vmhwm-kib=<kib>
//
// where the -ns values are CLOCK_MONOTONIC readings (comparable with the
// launcher's), since-start-ms is the time since the process started as the
// kernel counts it (10 ms steps, for running the probe by hand), and
// vmhwm-kib is the peak resident size so far. Then it quits the application
// with exit code 0. Call it right after the QApplication is constructed.
void reportFirstMainWindowPaint(QApplication &app);

// Called once, when that moment is taken; does nothing. It marks the end of
// start-up for an instruction counter (count_startup_instructions.sh has
// callgrind dump its counts on entry), so it is never inlined.
extern "C" void startupProbeFirstPaintDone();
