#include "child_scenario.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

#include <cstdio>

namespace {

const char scenarioVariable[] = "VNK_CHILD_SCENARIO";
std::function<QString()> stateReporter;
QtMessageHandler previousHandler = nullptr;

void reportStateBeforeFatal(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg && stateReporter)
        std::fprintf(stderr, "STATE BEGIN\n%s\nSTATE END\n", qPrintable(stateReporter()));
    previousHandler(type, context, message);
}

} // namespace

bool childscenario::requested(QString &name)
{
    name = qEnvironmentVariable(scenarioVariable);
    return !name.isEmpty();
}

void setFatalStateReporter(std::function<QString()> reporter)
{
    stateReporter = std::move(reporter);
}

void installFatalStateReporter()
{
    previousHandler = qInstallMessageHandler(reportStateBeforeFatal);
}

ChildOutcome runChildScenario(const QString &name)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(scenarioVariable), name);
    // Sanitizer builds: an abort is the expected end, not a finding.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("handle_abort=0:detect_leaks=0"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    ChildOutcome outcome;
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished();
        outcome.errorOutput = QStringLiteral("child timed out");
        return outcome;
    }
    outcome.crashed = child.exitStatus() == QProcess::CrashExit;
    outcome.exitCode = child.exitCode();
    outcome.errorOutput = QString::fromLocal8Bit(child.readAllStandardError());
    return outcome;
}
