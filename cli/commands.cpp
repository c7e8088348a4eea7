#include "commands.h"

#include "cli_failure.h"
#include "help_layout.h"
#include "output.h"
#include "report_trace.h"
#include "setting_definitions.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <algorithm>

namespace {

QString settingsHelp()
{
    QString text = QStringLiteral("\n\nSettings and what they accept:");
    for (const SettingDefinition &setting : settingDefinitions())
        text += QStringLiteral("\n  %1: %2").arg(setting.name, acceptedValues(setting));
    return text;
}

} // namespace

const QList<CommandDefinition> &cliCommands()
{
    static const QList<CommandDefinition> list = {
        {QStringLiteral("list"), QString(), QStringLiteral("Every attached controller and whether it can be used."),
         QStringLiteral("Lists every attached controller, one line each with tab-separated fields: its device "
                        "node, serial number, firmware revision, and yes when this user may open it, else no and "
                        "why not. Either the node or the serial number picks a controller with --device. The "
                        "vendor's HID library cannot list controllers; with it, list fails and --device takes "
                        "only a node."),
         {}, 0, 0, runList},
        {QStringLiteral("info"), QString(), QStringLiteral("Whether the controller is there, its device, firmware and serial number."),
         QStringLiteral("Looks for the controller and prints whether it was found, its device path, its "
                        "firmware revision and its serial number. Exits with 3 when no controller answers."),
         {}, 0, 0, runInfo},
        {QStringLiteral("get"), QStringLiteral("[NAME...]"), QStringLiteral("Print settings from the controller's RAM."),
         QStringLiteral("Prints the settings in the controller's RAM, all of them or the NAMEs given, one "
                        "NAME=VALUE line each.")
             + settingsHelp(),
         {}, 0, -1, runGet},
        {QStringLiteral("set"), QStringLiteral("NAME=VALUE..."), QStringLiteral("Change settings in RAM (and flash)."),
         QStringLiteral("Checks every value first: one that is unknown or not accepted refuses the whole "
                        "command and nothing is sent. Then writes each value to the controller's RAM and "
                        "reads it back; a value that reads back different is a failure, and nothing goes "
                        "to flash. With --save the values are then written to flash too.")
             + settingsHelp(),
         {QStringLiteral("save")}, 1, -1, runSet},
        {QStringLiteral("save"), QString(), QStringLiteral("Write the RAM settings to flash."),
         QStringLiteral("Writes every setting in the controller's RAM to its flash, so it survives a power "
                        "cycle. Nothing is written when RAM holds a value out of range."),
         {}, 0, 0, runSave},
        {QStringLiteral("serial"), QStringLiteral("[NEW]"), QStringLiteral("Print or write the serial number."),
         QStringLiteral("Prints the controller's serial number, or writes NEW to flash: 1 to 9 Latin-1 "
                        "characters, no control characters. NEW is not written again when the board "
                        "itself says it holds it already, and it is read back after a write. Where the "
                        "system has only the number it noted at plug-in, which may be stale until the "
                        "board is reconnected, a note says so and NEW is always written."),
         {}, 0, 1, runSerial},
        {QStringLiteral("action"), QStringLiteral("serve-watchdog|reset-watchdog-pin|reset-thrm-pin"),
         QStringLiteral("Trigger a controller action."),
         QStringLiteral("Serves the watchdog, resets the watchdog pin or resets the THRM pin, once."),
         {}, 1, 1, runAction},
        {QStringLiteral("gpio"), QStringLiteral("read | write VALUE"), QStringLiteral("Read or drive the GPIO lines."),
         QStringLiteral("gpio read prints the levels of the eight GPIO lines as a mask, bit n for line n. "
                        "gpio write VALUE drives them: 0x00 to 0xff, a comma-separated list of the lines "
                        "to set to 1 (\"0,7\" is 0x81), or none."),
         {}, 1, 2, runGpio},
        {QStringLiteral("export"), QStringLiteral("FILE"), QStringLiteral("Write a settings profile."),
         QStringLiteral("Writes a JSON profile of every controller setting to FILE (- for standard output). "
                        "--serial adds the serial number, --guard the guard trigger table."),
         {QStringLiteral("serial"), QStringLiteral("guard")}, 1, 1, runExport},
        {QStringLiteral("import"), QStringLiteral("FILE"), QStringLiteral("Apply a settings profile."),
         QStringLiteral("Reads a profile from FILE (- for standard input) and checks all of it first: "
                        "with any problem (an unknown key, a wrong type, a value not accepted, an unknown "
                        "version) it names each one and sends nothing. Then the settings go to RAM and are "
                        "read back, and with --save to flash; a serial number in the profile is written to "
                        "flash, a guard table to the guard store. --dry-run only prints what would change."),
         {QStringLiteral("save"), QStringLiteral("dry-run")}, 1, 1, runImport},
        {QStringLiteral("guard"), QStringLiteral("get | set LINE=LEVEL,ACTION... | status"),
         QStringLiteral("Print or change the guard trigger table; the guard service's state."),
         QStringLiteral("guard get prints the guard service's trigger table, one LINE=LEVEL,ACTION line "
                        "each: when LINE is at LEVEL, the service takes ACTION. guard set changes the rows "
                        "given and keeps the others. LINE is gpio0 to gpio7, batlow or pwrbtn; LEVEL 0 or "
                        "1; ACTION do-nothing, standby or shutdown. The service (vnkestrix-guardd) reads the "
                        "table again whenever it changes. guard status says whether the service runs, the "
                        "table it uses, each line's level now and what fired last."),
         {}, 1, -1, runGuard},
        {QStringLiteral("metrics"), QString(),
         QStringLiteral("Print the board's state for Prometheus."),
         QStringLiteral("Prints the controller's presence, firmware and serial number, the levels of the GPIO "
                        "lines and the guard trigger table in Prometheus's text format: the metrics that "
                        "vnkestrix-guardd keeps for node-exporter's textfile collector, for a host that runs "
                        "no guard service. The service's own counters (start time, rows fired, failed "
                        "exchanges, watchdog serves) come from the service alone. No controller is no "
                        "failure: vnkestrix_controller_present is then 0."),
         {}, 0, 0, runMetrics},
    };
    return list;
}

const QList<HelpEntry> &environmentHelp()
{
    static const QList<HelpEntry> list = {
        {QStringLiteral("REDI_DEVICE"),
         QStringLiteral("The controller to use when several are attached: its device node or its USB IDs "
                        "(vvvv:pppp). --device sets it.")},
        {QStringLiteral("VNKESTRIX_REGISTRY"),
         QStringLiteral("The guard store's file, instead of /var/lib/vnkestrix/registry.sqlite3.")},
        {QStringLiteral("VNKESTRIX_TRACE"), QStringLiteral("1 traces every report exchanged, as --verbose does.")},
    };
    return list;
}

const QList<HelpEntry> &exitCodeHelp()
{
    static const QList<HelpEntry> list = {
        {QString::number(ExitSuccess), QStringLiteral("success")},
        {QString::number(ExitOperationFailed), QStringLiteral("a controller or guard-store operation failed")},
        {QString::number(ExitBadUsage), QStringLiteral("bad usage or a value not accepted")},
        {QString::number(ExitNoController), QStringLiteral("no controller found")},
    };
    return list;
}

namespace {

struct HelpRow {
    QString label;
    QString text;
};

// Rows as "  LABEL  TEXT", the texts in one column.
QString table(const QString &heading, const QList<HelpRow> &rows)
{
    qsizetype column = 0;
    for (const HelpRow &row : rows)
        column = std::max(column, row.label.size());
    QString text = QStringLiteral("\n\n") + heading + QLatin1Char(':');
    for (const HelpRow &row : rows)
        text += QStringLiteral("\n  %1  %2").arg(row.label.leftJustified(column), row.text);
    return text;
}

QList<HelpRow> optionRows(const QStringList &commandOptionNames)
{
    QList<HelpRow> rows;
    for (const OptionHelp &option : commandOptions()) {
        if (commandOptionNames.contains(option.name))
            rows.append({QStringLiteral("--") + option.name, option.description});
    }
    for (const OptionHelp &option : globalOptions()) {
        rows.append({(QStringLiteral("--") + option.name + QLatin1Char(' ') + option.valueName).trimmed(),
                     option.description});
    }
    rows.append({QStringLiteral("-h, --help"), QStringLiteral("Describe the program, or with a command that command.")});
    rows.append({QStringLiteral("-v, --version"), QStringLiteral("Print the version.")});
    return rows;
}

QString helpText(const CommandDefinition *command)
{
    QString text = QStringLiteral("Usage:\n  ") + usageLine(command) + QStringLiteral("\n\n");
    if (command)
        return text + command->details + table(QStringLiteral("Options"), optionRows(command->optionNames)) + QLatin1Char('\n');
    QList<HelpRow> commands, variables, codes;
    for (const CommandDefinition &each : cliCommands())
        commands.append({each.name, each.summary});
    for (const HelpEntry &variable : environmentHelp())
        variables.append({variable.name, variable.text});
    for (const HelpEntry &code : exitCodeHelp())
        codes.append({code.name, code.text});
    return text
        + QStringLiteral("Reads and changes the board controller's settings and the guard trigger table. "
                         "COMMAND --help describes a command; --demo runs any command without a controller.")
        + table(QStringLiteral("Commands"), commands) + table(QStringLiteral("Options"), optionRows({}))
        + table(QStringLiteral("Environment"), variables) + table(QStringLiteral("Exit codes"), codes)
        + QLatin1Char('\n');
}

} // namespace

namespace {

// Whether a failure is to be told in JSON too; known before the command line
// is understood, so that a usage mistake is told the way the caller asked.
bool jsonWanted(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--"))
            return false;
        if (arguments[i] == QLatin1String("--json"))
            return true;
        if (arguments[i] == QLatin1String("--device"))
            ++i;
    }
    return false;
}

} // namespace

int runCli(const QStringList &arguments)
{
    try {
        const Invocation invocation = parseCommandLine(arguments, cliCommands());
        if (invocation.help) {
            printText(wrapped(helpText(invocation.command), helpWidth()));
            return ExitSuccess;
        }
        if (invocation.version) {
            printLine(QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion());
            return ExitSuccess;
        }
        if (invocation.verbose)
            setReportTrace(true);
        // Demo mode looks for no controller, so it has none to choose.
        if (!invocation.device.isEmpty() && !invocation.demo)
            chooseDevice(invocation.device);
        invocation.command->handler(invocation);
        // A command that has nothing to show still answers with an object.
        if (invocation.json && !printedAnything())
            printJson({});
        return ExitSuccess;
    } catch (const CliFailure &failure) {
        printProblem(failure.message);
        if (jsonWanted(arguments))
            printJson({{QStringLiteral("error"), failure.message}, {QStringLiteral("exit-code"), failure.exitCode}});
        return failure.exitCode;
    }
}
