// The commands that talk to the controller: info, get, set, save, serial,
// action and gpio.
#include "commands.h"

#include "cli_failure.h"
#include "controller_link.h"
#include "controller_presence.h"
#include "controller_settings.h"
#include "output.h"
#include "parameter_catalogue.h"
#include "serial_number_access.h"
#include "serial_number_rules.h"

#include <QJsonObject>

namespace {

QString fromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

} // namespace

void runInfo(const Invocation &invocation)
{
    std::optional<std::string> device;
    if (invocation.demo)
        setDemoMode(true);
    else
        device = lookForController();
    const bool reachable = device || invocation.demo;
    if (!reachable && invocation.json) // the failure's object is the answer
        throw CliFailure{ExitNoController, noControllerMessage()};

    QJsonObject info{{QStringLiteral("found"), device.has_value()}, {QStringLiteral("demo"), invocation.demo}};
    if (reachable) {
        // The serial number first: reading it refreshes the device record
        // that the firmware revision is taken from.
        const std::string serial = readSerialNumber();
        info.insert(QStringLiteral("device"), fromUtf8(device.value_or(std::string())));
        info.insert(QStringLiteral("firmware"), fromUtf8(getFirmwareRevision()));
        info.insert(QStringLiteral("serial"), serialNumberText(serial));
    }
    if (invocation.json) {
        printJson(info);
    } else {
        for (const QString &key : {QStringLiteral("found"), QStringLiteral("demo")})
            printLine(key + QLatin1Char('=') + yesNo(info.value(key).toBool()));
        for (const QString &key : {QStringLiteral("device"), QStringLiteral("firmware"), QStringLiteral("serial")}) {
            if (info.contains(key))
                printLine(key + QLatin1Char('=') + info.value(key).toString());
        }
    }
    if (!reachable)
        throw CliFailure{ExitNoController, noControllerMessage()};
}

void runGet(const Invocation &invocation)
{
    const QList<const SettingDefinition *> settings =
        invocation.arguments.isEmpty() ? allSettings() : settingsNamed(invocation.arguments);
    connectController(invocation.demo);
    const QList<SettingValue> values = readSettings(settings);
    if (invocation.json) {
        QJsonObject json;
        for (const SettingValue &value : values)
            json.insert(value.setting->name, settingJson(*value.setting, value.field));
        printJson(json);
        return;
    }
    for (const SettingValue &value : values)
        printLine(value.setting->name + QLatin1Char('=') + settingText(*value.setting, value.field));
}

void runSet(const Invocation &invocation)
{
    // Every value is checked before the controller is even looked for, and
    // every refusal is named, so one run shows all there is to fix.
    QList<SettingValue> values;
    QStringList problems;
    for (const QString &argument : invocation.arguments) {
        try {
            values.append(parseAssignment(argument));
        } catch (const CliFailure &refusal) {
            problems.append(refusal.message);
        }
    }
    if (!problems.isEmpty())
        failUsage(problems.join(QLatin1Char('\n')));
    refuseRepeatedSettings(values);
    connectController(invocation.demo);
    const bool toFlash = invocation.isSet(QStringLiteral("save"));
    writeSettings(values, toFlash);
    if (invocation.json) {
        QJsonObject written;
        for (const SettingValue &value : values)
            written.insert(value.setting->name, settingJson(*value.setting, value.field));
        printJson({{QStringLiteral("settings"), written},
                   {QStringLiteral("target"), toFlash ? QStringLiteral("flash") : QStringLiteral("ram")}});
    }
}

void runSave(const Invocation &invocation)
{
    connectController(invocation.demo);
    saveRamToFlash();
}

void runSerial(const Invocation &invocation)
{
    if (invocation.arguments.isEmpty()) {
        connectController(invocation.demo);
        const QString serial = serialNumberText(readSerialNumber());
        if (invocation.json)
            printJson({{QStringLiteral("serial"), serial}});
        else
            printLine(serial);
        return;
    }
    const std::string text = invocation.arguments.first().toStdString();
    const std::optional<std::string> latin1 = storableSerialNumber(text);
    if (!latin1)
        failUsage(QStringLiteral("serial number \"%1\" is not accepted: it takes 1 to %2 Latin-1 "
                                 "characters, no control characters")
                      .arg(fromUtf8(withControlCharactersEscaped(text)))
                      .arg(maxSerialNumberCharacters));
    connectController(invocation.demo);
    writeSerialNumber(*latin1);
}

void runAction(const Invocation &invocation)
{
    struct Action {
        const char *name;
        bool (*run)();
        const char *failure;
    };
    static const Action actions[] = {
        {"serve-watchdog", serveWatchdog, "serving the watchdog failed"},
        {"reset-watchdog-pin", resetWatchdogPin, "resetting the watchdog pin failed"},
        {"reset-thrm-pin", resetThrmPin, "resetting the THRM pin failed"},
    };
    const QString name = invocation.arguments.first();
    for (const Action &action : actions) {
        if (name != QLatin1String(action.name))
            continue;
        connectController(invocation.demo);
        if (!action.run())
            failController(QString::fromLatin1(action.failure));
        return;
    }
    failUsage(QStringLiteral("\"%1\" is not an action: it takes serve-watchdog, reset-watchdog-pin or "
                             "reset-thrm-pin")
                  .arg(name));
}

void runGpio(const Invocation &invocation)
{
    const QString operation = invocation.arguments.first();
    if (operation == QLatin1String("read") && invocation.arguments.size() == 1) {
        connectController(invocation.demo);
        std::uint8_t levels = 0;
        bool flagBit1 = false;
        bool flagBit5 = false;
        if (!readGpio(levels, flagBit1, flagBit5))
            failController(QStringLiteral("reading the GPIO lines failed"));
        if (invocation.json)
            printJson({{QStringLiteral("levels"), lineMaskText(levels)}});
        else
            printLine(lineMaskText(levels));
        return;
    }
    if (operation == QLatin1String("write") && invocation.arguments.size() == 2) {
        const std::optional<std::uint16_t> levels = parseLineMask(invocation.arguments[1]);
        if (!levels)
            failUsage(QStringLiteral("GPIO levels \"%1\" are not accepted: it takes a mask from 0x00 to "
                                     "0xff, a comma-separated list of lines 0 to 7, or none")
                          .arg(invocation.arguments[1]));
        connectController(invocation.demo);
        if (!writeGpio(static_cast<std::uint8_t>(*levels)))
            failController(QStringLiteral("writing the GPIO lines failed"));
        return;
    }
    failUsage(QStringLiteral("usage: vnkestrix-cli gpio read | write VALUE (see gpio --help)"));
}
