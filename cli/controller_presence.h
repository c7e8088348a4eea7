// Finding the controller before a command talks to it, and telling the user
// why it was not found.
#pragma once

#include <QString>

#include <optional>
#include <string>

// The controller's device name, or nothing when no controller answers.
// Not to be called in demo mode, which never looks for hardware. A
// malformed REDI_DEVICE is a usage error (CliFailure with ExitBadUsage).
std::optional<std::string> lookForController();

// One line for a controller that did not answer, naming what was looked for
// (the IDs, or REDI_DEVICE's path). When a node with the controller's USB
// IDs exists but cannot be opened, it names the node, the access missing,
// the likely cause and its fix.
QString noControllerMessage();

// Switches demo mode on, or makes sure a controller answers; throws a
// CliFailure with ExitNoController when none does.
void connectController(bool demo);
