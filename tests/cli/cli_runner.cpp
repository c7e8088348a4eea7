#include "cli_runner.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

QStringList CliRun::errorLines() const
{
    return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

SimulatedBoard::SimulatedBoard(const QTemporaryDir &dir, const QString &name)
    : statePath(dir.filePath(name + QStringLiteral(".state")))
    , logPath(dir.filePath(name + QStringLiteral(".log")))
{
}

void SimulatedBoard::writeState(const QByteArray &text) const
{
    QFile file(statePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QMap<QString, QString> SimulatedBoard::state() const
{
    QFile file(statePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QMap<QString, QString> values;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (!line.startsWith('#') && equals > 0)
            values.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return values;
}

QMap<QString, QString> SimulatedBoard::bank(const QString &prefix) const
{
    QMap<QString, QString> values;
    const QMap<QString, QString> all = state();
    for (auto it = all.begin(); it != all.end(); ++it) {
        if (it.key().startsWith(prefix))
            values.insert(it.key().mid(prefix.size()), it.value());
    }
    return values;
}

QStringList SimulatedBoard::log() const
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int SimulatedBoard::writeCount() const
{
    int count = 0;
    for (const QString &line : log())
        count += line.startsWith(QLatin1String("Usk_Feature_a ")) && line.contains(QLatin1String(" get=0 "));
    return count;
}

QString cliPath()
{
    return QStringLiteral(CLI_PATH);
}

QProcessEnvironment cliEnvironment(const SimulatedBoard &board, const QString &registryPath,
                                   const QStringList &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(SIM_DROPIN_DIR));
    env.insert(QStringLiteral("REDI_SIM_STATE"), board.statePath);
    env.insert(QStringLiteral("REDI_SIM_LOG"), board.logPath);
    env.insert(QStringLiteral("VNKESTRIX_REGISTRY"), registryPath);
    for (const QString &variable : environment) {
        const qsizetype equals = variable.indexOf(QLatin1Char('='));
        env.insert(variable.left(equals), variable.mid(equals + 1));
    }
    return env;
}

CliRun runCli(const QStringList &arguments, const SimulatedBoard &board, const QString &registryPath,
              const QStringList &environment)
{
    QProcess process;
    process.setProcessEnvironment(cliEnvironment(board, registryPath, environment));
    process.start(cliPath(), arguments);
    CliRun run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("vnkestrix-cli did not exit normally: ") + process.readAllStandardError();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QMap<QString, QString> keyValueLines(const QByteArray &out)
{
    QMap<QString, QString> values;
    for (const QByteArray &line : out.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return values;
}
