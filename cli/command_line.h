// The command line: `vnkestrix-cli [--demo] [--device NODE|SERIAL]
// [--verbose] COMMAND [options] [arguments]`, each command with its own
// options and its own --help.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

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
    QString device; // --device, empty when not given

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

// The invocation, or nothing when help or the version was asked for (and has
// been printed). Bad usage throws a CliFailure.
std::optional<Invocation> parseCommandLine(const QStringList &arguments, const QList<CommandDefinition> &commands,
                                           const QString &overview);
