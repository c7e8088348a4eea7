// Windows has no device nodes with owners and groups to explain: any user
// may open the controller's HID device, so a controller that is there but
// cannot be opened is busy or broken, and the error says which.
#include "controller_access.h"

#include <cstring>

std::string controllerAccessProblem(const std::string &, int error)
{
    return std::strerror(error);
}

std::string missingControllerMessage(const redi::DeviceChoice &choice)
{
    return "no controller found (" + redi::describeDeviceChoice(choice) + "); is the board connected?";
}
