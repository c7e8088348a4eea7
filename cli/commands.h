// The commands of vnkestrix-cli and the entry point that runs one.
#pragma once

#include "command_line.h"

// Parses the arguments, runs the command, prints any failure; the exit code.
int runCli(const QStringList &arguments);

// What --help, the manual and the shell completions are made from.
struct HelpEntry {
    QString name;
    QString text;
};
const QList<CommandDefinition> &cliCommands();
const QList<HelpEntry> &environmentHelp();
const QList<HelpEntry> &exitCodeHelp();

// Several controllers: list them, and pick one for this run (a node or USB
// IDs as REDI_DEVICE takes them, or a serial number that the listing
// resolves to its node).
void runList(const Invocation &invocation);
void chooseDevice(const QString &device);

// Controller commands.
void runInfo(const Invocation &invocation);
void runGet(const Invocation &invocation);
void runSet(const Invocation &invocation);
void runSave(const Invocation &invocation);
void runSerial(const Invocation &invocation);
void runAction(const Invocation &invocation);
void runGpio(const Invocation &invocation);

// Profiles.
void runExport(const Invocation &invocation);
void runImport(const Invocation &invocation);

// The guard trigger table.
void runGuard(const Invocation &invocation);
void runGuardStatus(const Invocation &invocation);

// The board's state for Prometheus.
void runMetrics(const Invocation &invocation);
