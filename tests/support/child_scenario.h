// Paths that end in qFatal are tested in a child process: the test re-runs
// its own binary on one named scenario and checks that the child died with
// the expected message.
//
// A test file declares its scenarios with VNK_TEST_MAIN_WITH_SCENARIOS; the
// child runs `TestClass::runScenario(name)` and must not return from it.
#pragma once

#include <QApplication>
#include <QProcess>
#include <QString>
#include <QTest>

#include <functional>

struct ChildOutcome {
    bool crashed = false; // ended abnormally (qFatal aborts)
    int exitCode = 0;
    QString errorOutput;  // everything the child wrote to stderr
};

// Runs scenario `name` in a child copy of this test binary.
ChildOutcome runChildScenario(const QString &name);

// Text the child prints on stderr just before a fatal stop, so the parent can
// check what had happened by then (requests sent, boxes shown).
void setFatalStateReporter(std::function<QString()> reporter);
void installFatalStateReporter();

namespace childscenario {
bool requested(QString &name);
}

#define VNK_TEST_MAIN_WITH_SCENARIOS(TestClass)                                                  \
    int main(int argc, char **argv)                                                              \
    {                                                                                            \
        QApplication app(argc, argv);                                                            \
        QString scenario;                                                                        \
        if (childscenario::requested(scenario)) {                                                \
            installFatalStateReporter();                                                         \
            TestClass::runScenario(scenario);                                                    \
            return 0;                                                                            \
        }                                                                                        \
        TestClass test;                                                                          \
        return QTest::qExec(&test, argc, argv);                                                  \
    }
