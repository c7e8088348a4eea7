// How the window stops when a controller call fails: the message names the
// step, the library's cause goes with it, and a user who started the program
// from a menu sees it in a box before the program ends (on Windows a GUI
// program has no stderr at all).
#pragma once

// Installs the message handler that does this on top of the one in place,
// which still prints the message and ends the program.
void installFatalStop();
