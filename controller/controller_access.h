// Why no controller answered, told so that the user knows what to do: the
// node that is there but may not be opened, the access missing, and the
// likely cause with its fix (on Linux; Windows has no node owners to
// explain: controller_access_windows.cpp). Plain C++, shared by the window and
// the CLI.
#pragma once

#include "redi_device_choice.h"

#include <string>

// Why this user may not open the controller's node `node`, refused with
// `error` (an errno value), and what to do about it; one line.
std::string controllerAccessProblem(const std::string &node, int error);

// "no controller found ..." for a search by `choice` that found nothing,
// on one line (not for an Invalid choice).
std::string missingControllerMessage(const redi::DeviceChoice &choice);
