// vnkestrix-cli as a child process over the controller simulator's drop-in
// library, with stores of the test's own: the cases of cli_cases.txt, whose
// header says how to read them. Whatever a case says, every run is held to
// the program's promises: refused input (exit 2) calls no library function,
// creates no store and says what is wrong in short lines; a failure (exit 1
// or 3) is one line and has written no parameter to flash.
#include "../support/case_table.h"
#include "../winreg/temp_store.h"

#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <unistd.h>

#include <list>
#include <optional>

class TestCli : public QObject {
    Q_OBJECT

    struct Run {
        int exitCode = -1;
        QByteArray out;
        QString err;
    };

    std::optional<QTemporaryDir> dir;
    QProcessEnvironment env;
    QString mounted;
    sqlite3 *lockHolder = nullptr;
    Run last;

    QString path(const QString &name) const { return dir->filePath(name); }

    // Leading VAR=VALUE words are for this run only, a last word <FILE is its
    // standard input. Root may open anything, so a run as nobody drops to
    // that user first.
    void run(QStringList args)
    {
        const bool asNobody = args.removeAll("nobody") && ::geteuid() == 0;
        QProcessEnvironment runEnv = env;
        for (; !args.isEmpty() && args.first().contains(QRegularExpression("^[A-Z_]+=")); args.removeFirst())
            runEnv.insert(args.first().section('=', 0, 0), args.first().section('=', 1));
        QProcess process;
        process.setProcessEnvironment(runEnv);
        if (args.value(args.size() - 1).startsWith('<'))
            process.setStandardInputFile(args.takeLast().mid(1));
        const QString log = runEnv.value("REDI_SIM_LOG"), registry = runEnv.value("VNKESTRIX_REGISTRY");
        const qsizetype logged = fileText(log).size();
        const bool hadStore = QFile::exists(registry);
        process.start(asNobody ? "setpriv" : CLI_PATH,
                      (asNobody ? QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", CLI_PATH} : QStringList()) + args);
        process.waitForFinished(-1);
        last = {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput(), QString::fromUtf8(process.readAllStandardError())};
        const QString sent = fileText(log).mid(logged);
        if (last.exitCode == 2) {
            QVERIFY2(sent.isEmpty() && (hadStore || !QFile::exists(registry)), qPrintable(sent));
            QVERIFY2(last.err.count('\n') <= 21, qPrintable(last.err.left(2000))); // the problems listed are capped
            for (const QString &line : last.err.split('\n', Qt::SkipEmptyParts)) // and input echoed cut short
                QVERIFY2(line.startsWith("vnkestrix-cli: ") && line.size() < 300, qPrintable(line.left(2000)));
        } else if (last.exitCode == 1 || last.exitCode == 3) {
            QVERIFY2(last.err.count('\n') == 1, qPrintable(last.err));
            QVERIFY2(!sent.contains(QRegularExpression(" get=0 ok req=0000010[12]")), qPrintable(sent));
        }
    }

private slots:
    void cleanup()
    {
        sqlite3_close(std::exchange(lockHolder, nullptr));
        if (!mounted.isEmpty())
            QProcess::execute("umount", {std::exchange(mounted, QString())});
    }

    void cases_data()
    {
        QTest::addColumn<QStringList>("steps");
        for (const auto &[name, steps] : caseBlocks(fileText(CASES), "== "))
            QTest::newRow(qPrintable(name)) << steps;
    }

    void cases()
    {
        QFETCH(QStringList, steps);
        QVERIFY(dir.emplace().isValid());
        env = QProcessEnvironment::systemEnvironment();
        steps.prepend("env LD_LIBRARY_PATH=" SIM_DROPIN_DIR " REDI_SIM_STATE=DIR/board.state REDI_SIM_LOG=DIR/board.log "
                      "VNKESTRIX_REGISTRY=DIR/registry");
        const QRegularExpression repeat("<(.)\\*(\\d+)>");
        for (QString step : steps) {
            step.replace("DIR", dir->path()).replace("\\n", "\n").replace("\\t", "\t");
            for (auto m = repeat.match(step); m.hasMatch(); m = repeat.match(step))
                step.replace(m.capturedStart(), m.capturedLength(), QString(m.captured(2).toInt(), m.captured(1)[0]));
            const QString word = step.section(' ', 0, 0), rest = step.section(' ', 1);
            const QStringList words = rest.split(' ', Qt::SkipEmptyParts);
            const QString all = QString::fromUtf8(last.out) + last.err;
            if (word == "run") {
                run(words.mid(1));
                if (::geteuid() == 0 && last.exitCode >= 126) // setpriv could not run it
                    QSKIP("the user nobody cannot run the program from this build tree");
                QVERIFY2(last.exitCode == words.value(0).toInt(), qPrintable(step + "\n" + last.out + last.err));
            } else if (word == "out" || word == "not") {
                for (const QString &part : rest.split('|'))
                    QVERIFY2(all.contains(part) == (word == "out"), qPrintable(step + "\n" + all.left(2000)));
            } else if (word == "width") {
                for (const QString &line : all.split('\n'))
                    QVERIFY2(line.size() <= words.value(0).toInt(), qPrintable(line));
            } else if (word == "stdout" || word == "oneof") { // oneof: any one of the texts between "|"
                const QStringList texts = word == "oneof" ? rest.split('|') : QStringList{rest};
                QVERIFY2(texts.contains(QString::fromUtf8(last.out)), qPrintable(step + "\n" + last.out));
            } else if (word == "json") { // compared as JSON: keys in any order, numbers as numbers
                const QJsonDocument expected = QJsonDocument::fromJson(rest.toUtf8());
                QVERIFY2(!expected.isNull(), qPrintable(step));
                QCOMPARE(QJsonDocument::fromJson(last.out).toJson(QJsonDocument::Compact), expected.toJson(QJsonDocument::Compact));
            } else if (word == "holds") {
                for (const QString &line : words.mid(1))
                    QVERIFY2(fileText(path(words[0] + ".state")).split('\n').contains(line), qPrintable(step));
            } else if (word == "file") {
                QVERIFY(QDir().mkpath(QFileInfo(path(words.value(0))).path()));
                QFile file(path(words.value(0)));
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(rest.section(' ', 1).toUtf8()); // may fill a small file system
            } else if (word == "env") {
                for (const QString &variable : words)
                    env.insert(variable.section('=', 0, 0), variable.section('=', 1));
            } else if (word == "mount") {
                QVERIFY(QDir().mkpath(path(rest)));
                if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", mounted = path(rest)}) != 0)
                    QSKIP("no small file system could be mounted here (that needs root)");
            } else if (word == "sh") { // files changed as another program or the user would
                QVERIFY2(QProcess::execute("sh", {"-c", rest}) == 0, qPrintable(step));
            } else if (word == "lock") { // held until the case ends
                sqlite3_open(env.value("VNKESTRIX_REGISTRY").toLocal8Bit().constData(), &lockHolder);
                sqlite3_exec(lockHolder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            } else if (word == "together") { // one that found the store busy past its time-out (a loaded machine) runs again
                std::list<QProcess> processes;
                for (const QString &line : rest.split(" ; ")) {
                    processes.emplace_back().setProcessEnvironment(env);
                    processes.back().start(CLI_PATH, line.split(' '));
                }
                for (QProcess &process : processes) {
                    process.waitForFinished(-1);
                    last = {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, {},
                            QString::fromUtf8(process.readAllStandardError())};
                    while (last.exitCode == 1 && last.err.contains("busy"))
                        run(process.arguments());
                    QVERIFY2(last.exitCode == 0, qPrintable(last.err));
                }
            } else {
                QFAIL(qPrintable("unknown step: " + step));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
