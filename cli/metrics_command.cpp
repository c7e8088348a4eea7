// metrics: the board's state in Prometheus's text format, the set the guard
// service keeps for node-exporter, for a host that runs no service (from a
// timer, say). What only a running service counts is left out.
#include "commands.h"

#include "controller_link.h"
#include "controller_presence.h"
#include "guard_rows.h"
#include "metrics_text.h"
#include "output.h"
#include "parameter_catalogue.h"
#include "serial_number_access.h"

#include <QCoreApplication>

void runMetrics(const Invocation &invocation)
{
    BoardMetrics metrics;
    metrics.version = QCoreApplication::applicationVersion().toStdString();
    metrics.table = readGuardTableOrFail();
    if (invocation.demo)
        setDemoMode(true);
    InputReport report{};
    // No controller is a state to report, not a failure of the command.
    if ((invocation.demo || lookForController()) && readInputReport(report)) {
        metrics.controllerPresent = true;
        metrics.serialNumber = serialNumberText(readSerialNumber()).toStdString();
        metrics.firmware = getFirmwareRevision();
        for (std::size_t line = 0; line < 8; ++line)
            metrics.levels[line] = (report[InputByte::Levels] >> line & 1) != 0;
    }
    const QString text = QString::fromStdString(metricsText(metrics));
    if (invocation.json)
        printJson({{QStringLiteral("metrics"), text}});
    else
        printText(text);
}
