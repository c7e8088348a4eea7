#include "command_line.h"

#include "cli_failure.h"
#include "near_miss.h"

#include <QCoreApplication>

namespace {

const QString deviceOption = QStringLiteral("device");
const QString helpOption = QStringLiteral("help");
const QString versionOption = QStringLiteral("version");

const CommandDefinition *findCommand(const QList<CommandDefinition> &commands, const QString &name)
{
    for (const CommandDefinition &command : commands) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

const OptionHelp *findOption(const QList<OptionHelp> &options, const QString &name)
{
    for (const OptionHelp &option : options) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

QStringList dashed(const QStringList &names)
{
    QStringList result;
    for (const QString &name : names)
        result.append(QStringLiteral("--") + name);
    return result;
}

// An option that is no command's is a mistake, the guess taken from the
// options the command takes (every command's when there is none); one that
// is another command's is told so.
void checkOption(const QString &name, const CommandDefinition *command)
{
    QStringList known = {helpOption, versionOption};
    for (const OptionHelp &option : globalOptions())
        known.append(option.name);
    for (const OptionHelp &option : commandOptions()) {
        if (!command || command->optionNames.contains(option.name))
            known.append(option.name);
    }
    if (known.contains(name))
        return;
    if (command && findOption(commandOptions(), name))
        failUsage(QStringLiteral("%1 does not take --%2 (see %1 --help)").arg(command->name, name));
    failUsage(QStringLiteral("%1 is not an option%2 (see --help)")
                  .arg(quoted(QStringLiteral("--") + name), didYouMean(QStringLiteral("--") + name, dashed(known))));
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
        {QStringLiteral("json"), QString(),
         QStringLiteral("Print one JSON object instead of lines of text, for every command: what it "
                        "read, what it changed, or {\"error\": MESSAGE, \"exit-code\": N}.")},
    };
    return options;
}

const QList<OptionHelp> &commandOptions()
{
    static const QList<OptionHelp> options = {
        {QStringLiteral("save"), QString(),
         QStringLiteral("Also write the values to flash, so they survive a power cycle.")},
        {QStringLiteral("dry-run"), QString(), QStringLiteral("Only print what would change; write nothing.")},
        {QStringLiteral("guard"), QString(), QStringLiteral("Include the guard trigger table.")},
        {QStringLiteral("serial"), QString(), QStringLiteral("Include the controller's serial number.")},
    };
    return options;
}

QString usageLine(const CommandDefinition *command)
{
    QString line = QCoreApplication::applicationName();
    for (const OptionHelp &option : globalOptions()) {
        line += QStringLiteral(" [--") + option.name
            + (option.valueName.isEmpty() ? QString() : QLatin1Char(' ') + option.valueName) + QLatin1Char(']');
    }
    if (!command)
        return line + QStringLiteral(" COMMAND [options] [arguments]");
    line += QLatin1Char(' ') + command->name;
    for (const QString &name : command->optionNames)
        line += QStringLiteral(" [--%1]").arg(name);
    return command->syntax.isEmpty() ? line : line + QLatin1Char(' ') + command->syntax;
}

Invocation parseCommandLine(const QStringList &arguments, const QList<CommandDefinition> &commands)
{
    Invocation invocation;
    QString word;           // the command as typed
    QStringList words;      // the arguments after it
    QStringList given;      // every option but the global ones, in order
    bool deviceGiven = false;
    bool optionsEnd = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (optionsEnd || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            if (word.isNull())
                word = argument;
            else
                words.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        if (argument == QLatin1String("-h")) {
            invocation.help = true;
            continue;
        }
        if (argument == QLatin1String("-v")) {
            invocation.version = true;
            continue;
        }
        if (!argument.startsWith(QLatin1String("--")))
            failUsage(QStringLiteral("%1 is not an option; options are written --NAME (see --help)").arg(quoted(argument)));
        const QString name = argument.mid(2).section(QLatin1Char('='), 0, 0);
        const bool hasValue = argument.contains(QLatin1Char('='));
        if (name == deviceOption) {
            // The word after --device is its value even when it looks like
            // a command, so that no serial number is ever taken for one.
            if (hasValue)
                invocation.device = argument.section(QLatin1Char('='), 1);
            else if (i + 1 < arguments.size())
                invocation.device = arguments[++i];
            deviceGiven = true;
            continue;
        }
        if (hasValue)
            failUsage(QStringLiteral("--%1 takes no value (see --help)").arg(name));
        if (name == helpOption)
            invocation.help = true;
        else if (name == versionOption)
            invocation.version = true;
        else if (name == QLatin1String("demo"))
            invocation.demo = true;
        else if (name == QLatin1String("verbose"))
            invocation.verbose = true;
        else if (name == QLatin1String("json"))
            invocation.json = true;
        else
            given.append(name);
    }

    invocation.command = findCommand(commands, word);
    if (invocation.help || invocation.version)
        return invocation;
    for (const QString &name : given)
        checkOption(name, invocation.command);
    if (!invocation.command) {
        QStringList names;
        for (const CommandDefinition &command : commands)
            names.append(command.name);
        if (word.isNull())
            failUsage(QStringLiteral("no command given (see --help)"));
        failUsage(QStringLiteral("%1 is not a command%2 (see --help)").arg(quoted(word), didYouMean(word, names)));
    }
    const CommandDefinition &command = *invocation.command;
    for (const QString &name : given) {
        if (!invocation.options.contains(name))
            invocation.options.append(name);
    }
    if (deviceGiven && invocation.device.isEmpty())
        failUsage(QStringLiteral("--device needs a device node, USB IDs or a serial number (see --help)"));
    invocation.arguments = words;
    const int count = static_cast<int>(words.size());
    if (count < command.minimumArguments || (command.maximumArguments >= 0 && count > command.maximumArguments)) {
        failUsage(QStringLiteral("usage: %1 %2 (see %3 --help)")
                      .arg(QCoreApplication::applicationName(),
                           QStringLiteral("%1 %2").arg(command.name, command.syntax).trimmed(), command.name));
    }
    return invocation;
}
