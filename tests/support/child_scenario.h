// Paths that end in qFatal are tested in a child process: the test re-runs
// its own binary on one named scenario and checks how the child died. Just
// before the stop the child prints one line "STATE <text>" on stderr, the
// text coming from the reporter the scenario set, so that the parent can
// check what had happened by then (requests sent, boxes shown).
//
// A test file declares its scenarios with VNK_TEST_MAIN_WITH_SCENARIOS; the
// child runs `TestClass::runScenario(name)` and must not return from it.
#pragma once

#include <QApplication>
#include <QString>
#include <QTest>

#include <functional>

struct ChildOutcome {
    bool crashed = false; // ended abnormally (qFatal aborts)
    QString errorOutput;  // everything the child wrote to stderr
};

ChildOutcome runChildScenario(const QString &name);
void setFatalStateReporter(std::function<QString()> reporter);
// The scenario named in the environment, after installing the state printer;
// empty in the parent.
QString requestedChildScenario();

#define VNK_TEST_MAIN_WITH_SCENARIOS(TestClass)                                                  \
    int main(int argc, char **argv)                                                              \
    {                                                                                            \
        QApplication app(argc, argv);                                                            \
        if (const QString scenario = requestedChildScenario(); !scenario.isEmpty()) {            \
            TestClass::runScenario(scenario);                                                    \
            return 0;                                                                            \
        }                                                                                        \
        TestClass test;                                                                          \
        return QTest::qExec(&test, argc, argv);                                                  \
    }
