#include "controller_presence.h"

#include "cli_failure.h"
#include "controller_access.h"
#include "controller_link.h"
#include "redi_device_choice.h"

namespace {

// The device REDI_DEVICE names; a value that names nothing is a usage error,
// not an absent board.
redi::DeviceChoice deviceChoice()
{
    const redi::DeviceChoice choice = redi::deviceChoiceFromEnvironment();
    if (choice.kind == redi::DeviceChoice::Kind::Invalid)
        failUsage(QString::fromStdString(choice.reason));
    return choice;
}

} // namespace

std::optional<std::string> lookForController()
{
    deviceChoice();
    std::string deviceName;
    if (!findController(deviceName))
        return std::nullopt;
    return deviceName;
}

QString noControllerMessage()
{
    return QString::fromStdString(missingControllerMessage(deviceChoice()));
}

void connectController(bool demo)
{
    if (demo) {
        setDemoMode(true);
        return;
    }
    if (!lookForController())
        throw CliFailure{ExitNoController, noControllerMessage()};
}
