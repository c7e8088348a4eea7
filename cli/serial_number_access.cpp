#include "serial_number_access.h"

#include "cli_failure.h"
#include "controller_link.h"
#include "output.h"
#include "parameter_catalogue.h"
#include "serial_number_rules.h"

namespace {

std::string readOrFail(const char *failure)
{
    std::string serial;
    if (!getSerialNumber(serial))
        failController(QString::fromLatin1(failure));
    return serial;
}

} // namespace

std::string readSerialNumber()
{
    const std::string serial = readOrFail("reading the serial number failed");
    if (!serialNumberIsLive())
        printProblem(QStringLiteral("note: this system cannot read the serial number from the board "
                                    "itself; the number shown was noted when the board was plugged in "
                                    "and may be stale until the board is reconnected"));
    return serial;
}

void writeSerialNumber(const std::string &latin1)
{
    if (readOrFail("reading the serial number failed") == latin1 && serialNumberIsLive())
        return;
    if (!setSerialNumber(latin1))
        failController(QStringLiteral("writing the serial number failed"));
    if (isDemoMode())
        return;
    const std::string readBack = readOrFail("reading the serial number back failed");
    if (!serialNumberIsLive()) {
        printProblem(QStringLiteral("note: the serial number was written, but this system cannot read "
                                    "it back from the board; a number read here may be stale until "
                                    "the board is reconnected"));
    } else if (readBack != latin1) {
        failOperation(QStringLiteral("serial: wrote %1 but the controller reads back %2")
                          .arg(serialNumberText(latin1), serialNumberText(readBack)));
    }
}

QString serialNumberText(const std::string &latin1)
{
    return QString::fromStdString(withControlCharactersEscaped(serialNumberToUtf8(latin1)));
}
