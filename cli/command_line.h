// The command line: `vnkestrix-cli [--demo] COMMAND [options] [arguments]`,
// each command with its own options and its own --help.
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

    bool isSet(const QString &option) const { return options.contains(option); }
};

// The invocation, or nothing when help or the version was asked for (and has
// been printed). Bad usage throws a CliFailure.
std::optional<Invocation> parseCommandLine(const QStringList &arguments, const QList<CommandDefinition> &commands,
                                           const QString &overview);
