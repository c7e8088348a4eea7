// Runs vnkestrix-cli as a child process over the simulator's drop-in
// libredi, one state file and call log per simulated controller, with a
// guard store of the test's own.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QString err;

    QStringList errorLines() const;
};

// A simulated controller: its state file and call log in a folder of the
// test's, named after the board.
class SimulatedBoard {
public:
    SimulatedBoard(const QTemporaryDir &dir, const QString &name);

    // Starting state, in the simulator's key=value format.
    void writeState(const QByteArray &text) const;
    QMap<QString, QString> state() const;
    // The bank's parameter values ("ram." or "flash." keys, prefix removed).
    QMap<QString, QString> bank(const QString &prefix) const;
    QStringList log() const;
    // Feature calls that wrote (sets, actions and the serial number).
    int writeCount() const;

    QString statePath;
    QString logPath;
};

// `environment` adds to or replaces the runner's variables (KEY=VALUE).
CliRun runCli(const QStringList &arguments, const SimulatedBoard &board, const QString &registryPath,
              const QStringList &environment = {});

// The same child environment, for tests that start the program themselves.
QProcessEnvironment cliEnvironment(const SimulatedBoard &board, const QString &registryPath,
                                   const QStringList &environment);
QString cliPath();

// Plain `key=value` lines as a map.
QMap<QString, QString> keyValueLines(const QByteArray &out);
