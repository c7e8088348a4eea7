// Several controllers on one machine: `list`, and --device, which picks one
// for the run through REDI_DEVICE so that the library chooses it by the
// rules it already has.
#include "commands.h"

#include "cli_failure.h"
#include "controller_access.h"
#include "controller_link.h"
#include "controller_list.h"
#include "output.h"
#include "parameter_catalogue.h"
#include "serial_number_access.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

std::vector<AttachedController> attachedControllers()
{
    std::vector<AttachedController> controllers;
    switch (listControllers(controllers)) {
    case Listing::Listed:
        break;
    case Listing::NotSupported:
        failOperation(
            QStringLiteral("cannot list controllers: the HID library in use has no listing; "
                           "--device and REDI_DEVICE still take a device node"));
    case Listing::Failed:
        failOperation(QStringLiteral("listing the controllers failed"));
    }
    return controllers;
}

// Why this user may not open the node; empty when they may.
QString accessProblem(const AttachedController &controller)
{
    return controller.openError == 0
        ? QString()
        : QString::fromStdString(controllerAccessProblem(controller.device, controller.openError));
}

QString serialOf(const AttachedController &controller)
{
    return QString::fromLatin1(controller.serialNumber.data(),
                               static_cast<qsizetype>(controller.serialNumber.size()));
}

// Demo mode has its one controller, as `info` shows it; it has no node.
std::vector<AttachedController> demoController()
{
    setDemoMode(true);
    const std::string serial = readSerialNumber();
    getFirmwareRevision(); // sets the demo's release in the record
    return {{"demo", controllerReleaseNumber(), serial, 0}};
}

} // namespace

void runList(const Invocation &invocation)
{
    const std::vector<AttachedController> controllers = invocation.demo ? demoController() : attachedControllers();
    QJsonArray list;
    for (const AttachedController &controller : controllers) {
        const QString problem = accessProblem(controller);
        QJsonObject entry{
            {QStringLiteral("device"), QString::fromLocal8Bit(controller.device.c_str())},
            {QStringLiteral("serial"), serialOf(controller)},
            {QStringLiteral("firmware"),
             QString::fromStdString(releaseNumberText(controller.releaseNumber))},
            {QStringLiteral("access"), problem.isEmpty()}};
        if (!problem.isEmpty())
            entry.insert(QStringLiteral("problem"), problem);
        list.append(entry);
        if (!invocation.json) {
            printLine(QStringList{entry[QStringLiteral("device")].toString(),
                                  entry[QStringLiteral("serial")].toString(),
                                  entry[QStringLiteral("firmware")].toString(),
                                  problem.isEmpty() ? QStringLiteral("yes")
                                                    : QStringLiteral("no: ") + problem}
                          .join(QLatin1Char('\t')));
        }
    }
    if (invocation.json)
        printJson({{QStringLiteral("controllers"), list}});
}

void chooseDevice(const QString &device)
{
    static const QRegularExpression usbIds(QStringLiteral("^[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4}$"));
    QString node = device;
    const bool path = device.contains(QLatin1Char('/')) || device.contains(QLatin1Char('\\'));
    // A colon makes it IDs: taking a mistyped pair for a serial number
    // would report a missing board instead of the typing mistake.
    if (!path && device.contains(QLatin1Char(':')) && !usbIds.match(device).hasMatch())
        failUsage(QStringLiteral("--device %1 is not valid: USB IDs are written vvvv:pppp, four hex digits each")
                      .arg(quoted(device)));
    if (!path && !usbIds.match(device).hasMatch()) {
        QStringList nodes;
        for (const AttachedController &controller : attachedControllers()) {
            if (serialOf(controller) == device)
                nodes.append(QString::fromLocal8Bit(controller.device.c_str()));
        }
        if (nodes.isEmpty())
            throw CliFailure{
                ExitNoController,
                QStringLiteral("no controller has the serial number \"%1\" (`list` shows them)")
                    .arg(device)};
        if (nodes.size() > 1)
            failUsage(
                QStringLiteral(
                    "the serial number \"%1\" is on more than one controller (%2): choose one "
                    "by its node")
                    .arg(device, nodes.join(QStringLiteral(", "))));
        node = nodes.first();
    }
    qputenv("REDI_DEVICE", node.toLocal8Bit());
}
