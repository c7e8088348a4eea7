#include "command_line.h"

#include "cli_failure.h"
#include "output.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// Takes a value: the command word is never the word after it.
const QString deviceOption = QStringLiteral("device");

QString optionDescription(const QString &name)
{
    for (const OptionHelp &option : commandOptions()) {
        if (option.name == name)
            return option.description;
    }
    return {};
}

// The command is the first argument that is neither an option nor the
// value of --device.
QString commandWord(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--"))
            return i + 1 < arguments.size() ? arguments[i + 1] : QString();
        if (argument == QLatin1String("--") + deviceOption) {
            ++i;
            continue;
        }
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-"))
            return argument;
    }
    return {};
}

const CommandDefinition *findCommand(const QList<CommandDefinition> &commands, const QString &name)
{
    for (const CommandDefinition &command : commands) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

} // namespace

const QList<OptionHelp> &globalOptions()
{
    static const QList<OptionHelp> options = {
        {QStringLiteral("demo"), QString(),
         QStringLiteral("Run without a controller: nothing is sent, reads give fixed values.")},
        {deviceOption, QStringLiteral("NODE|SERIAL"),
         QStringLiteral("Use this controller: a device node such as /dev/hidraw3, USB IDs as vvvv:pppp, or a "
                        "serial number that `list` shows. Overrides REDI_DEVICE.")},
        {QStringLiteral("verbose"), QString(),
         QStringLiteral("Trace every report exchanged with the controller on stderr, in hex, with its "
                        "timing.")},
    };
    return options;
}

const QList<OptionHelp> &commandOptions()
{
    static const QList<OptionHelp> options = {
        {QStringLiteral("json"), QString(), QStringLiteral("Print JSON instead of lines of text.")},
        {QStringLiteral("save"), QString(),
         QStringLiteral("Also write the values to flash, so they survive a power cycle.")},
        {QStringLiteral("dry-run"), QString(), QStringLiteral("Only print what would change; write nothing.")},
        {QStringLiteral("guard"), QString(), QStringLiteral("Include the guard trigger table.")},
        {QStringLiteral("serial"), QString(), QStringLiteral("Include the controller's serial number.")},
    };
    return options;
}

std::optional<Invocation> parseCommandLine(const QStringList &arguments, const QList<CommandDefinition> &commands,
                                           const QString &overview)
{
    const QString word = commandWord(arguments);
    const CommandDefinition *command = findCommand(commands, word);

    QCommandLineParser parser;
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    for (const OptionHelp &option : globalOptions())
        parser.addOption(QCommandLineOption(option.name, option.description, option.valueName));
    if (command) {
        parser.setApplicationDescription(command->details);
        for (const QString &name : command->optionNames)
            parser.addOption(QCommandLineOption(name, optionDescription(name)));
        parser.addPositionalArgument(command->name, command->summary,
                                     (command->name + QLatin1Char(' ') + command->syntax).trimmed());
    } else {
        parser.setApplicationDescription(overview);
        parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands above."),
                                     QStringLiteral("COMMAND"));
    }

    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        printText(parser.helpText());
        return std::nullopt;
    }
    if (parser.isSet(version)) {
        printLine(QCoreApplication::applicationName() + QLatin1Char(' ')
                  + QCoreApplication::applicationVersion());
        return std::nullopt;
    }
    if (!parsed)
        failUsage(parser.errorText() + QStringLiteral(" (see --help)"));
    if (!command) {
        failUsage(word.isEmpty() ? QStringLiteral("no command given (see --help)")
                                 : QStringLiteral("\"%1\" is not a command (see --help)").arg(word));
    }

    Invocation invocation;
    invocation.command = command;
    invocation.demo = parser.isSet(QStringLiteral("demo"));
    invocation.verbose = parser.isSet(QStringLiteral("verbose"));
    invocation.device = parser.value(deviceOption);
    if (parser.isSet(deviceOption) && invocation.device.isEmpty())
        failUsage(QStringLiteral("--device needs a device node or a serial number (see --help)"));
    invocation.arguments = parser.positionalArguments().mid(1);
    for (const QString &name : command->optionNames) {
        if (parser.isSet(name))
            invocation.options.append(name);
    }
    const int count = static_cast<int>(invocation.arguments.size());
    if (count < command->minimumArguments
        || (command->maximumArguments >= 0 && count > command->maximumArguments)) {
        const QString usage = QCoreApplication::applicationName() + QLatin1Char(' ')
            + (command->name + QLatin1Char(' ') + command->syntax).trimmed();
        failUsage(QStringLiteral("usage: %1 (see %2 --help)").arg(usage, command->name));
    }
    return invocation;
}
