#include "child_scenario.h"

#include <QProcess>

#include <cstdio>

namespace {

const char scenarioVariable[] = "VNK_CHILD_SCENARIO";
std::function<QString()> stateReporter;
QtMessageHandler previousHandler = nullptr;

void reportStateBeforeFatal(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg && stateReporter)
        std::fprintf(stderr, "STATE %s\n", qPrintable(stateReporter()));
    previousHandler(type, context, message);
}

} // namespace

QString requestedChildScenario()
{
    const QString name = qEnvironmentVariable(scenarioVariable);
    if (!name.isEmpty())
        previousHandler = qInstallMessageHandler(reportStateBeforeFatal);
    return name;
}

void setFatalStateReporter(std::function<QString()> reporter)
{
    stateReporter = std::move(reporter);
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
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished();
        return {false, QStringLiteral("child timed out")};
    }
    return {child.exitStatus() == QProcess::CrashExit, QString::fromLocal8Bit(child.readAllStandardError())};
}
