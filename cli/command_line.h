// The command line: `vnkestrix-cli [--demo] [--device NODE|SERIAL]
// [--verbose] [--json] COMMAND [options] [arguments]`, each command with its own
// options and its own --help.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct Invocation;
using CommandHandler = void (*)(const Invocation &);

struct CommandDefinition {
    QString name;
    QString syntax;         // the arguments after the command, for the usage line
    QString summary;        // one line for the overview
    QString details;        // the body of `COMMAND --help`
    QStringList optionNames; // the command's own options, from the shared option table
    int minimumArguments;
    int maximumArguments; // -1: no limit
    CommandHandler handler;
};

struct Invocation {
    const CommandDefinition *command = nullptr;
    QStringList arguments; // after the command
    QStringList options;   // the command options that were given
    bool demo = false;
    bool verbose = false;
    bool json = false; // --json: one JSON object on stdout, a failure's too
    QString device; // --device, empty when not given
    bool help = false;    // --help: print the help of `command`, or the overview without one
    bool version = false; // --version

    bool isSet(const QString &option) const { return options.contains(option); }
};

// An option's help: the options every command takes (besides --help and
// --version), and those that commands take by name. The help, the manual
// and the shell completions all come from these tables.
struct OptionHelp {
    QString name;
    QString valueName; // empty: the option takes no value
    QString description;
};
const QList<OptionHelp> &globalOptions();
const QList<OptionHelp> &commandOptions();

// "vnkestrix-cli [--demo] ... get [--json] [NAME...]"; without a command, the
// program's own.
QString usageLine(const CommandDefinition *command);

// The invocation; bad usage throws a CliFailure that names the mistake,
// with a guess at what was meant when it is a near miss. With --help or
// --version, a missing or unknown command is no mistake.
Invocation parseCommandLine(const QStringList &arguments, const QList<CommandDefinition> &commands);
