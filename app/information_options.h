// --help and --version of the window: answered before the toolkit starts,
// so that they work without a display. Every other argument is the
// toolkit's.
#pragma once

#include <optional>

// The exit code when an argument asked for help or the version (now
// printed on stdout); nothing when the program should start.
std::optional<int> answerInformationOptions(int argc, const char *const argv[]);
