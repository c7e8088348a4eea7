// Reading what the tests keep in files: their tables of cases, and what the
// programs they run write.
#pragma once

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QStringList>

// The file's text; empty when there is no such file (or no name).
inline QString fileText(const QString &path)
{
    QFile file(path);
    return !path.isEmpty() && file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A table of cases: a row a line, its fields split at " | "; empty lines and
// lines that start with "#" are comments. A field that is "-" alone is
// empty, and "\n" in a field is a line break. A line "@NAME = TEXT" names a
// text that the rows after it spell @NAME. A table without rows, or a row
// without exactly `fields` fields, stops the test.
inline QList<QStringList> caseTable(const QString &path, qsizetype fields)
{
    QList<QStringList> rows;
    QMap<QString, QString> names;
    for (QString line : fileText(path).split('\n')) {
        for (auto name = names.keyValueBegin(); name != names.keyValueEnd(); ++name)
            line.replace(name->first, name->second);
        if (line.contains(QRegularExpression("^@\\w+ = ")))
            names[line.section(" = ", 0, 0)] = line.section(" = ", 1);
        else if (!line.isEmpty() && !line.startsWith('#'))
            rows << line.split(" | ").replaceInStrings(QRegularExpression("^-$"), QString()).replaceInStrings("\\n", "\n");
    }
    for (const QStringList &row : rows)
        if (row.size() != fields)
            qFatal("%s: not %d fields: %s", qPrintable(path), int(fields), qPrintable(row.join(" | ")));
    if (rows.isEmpty())
        qFatal("no cases in %s", qPrintable(path));
    return rows;
}

// Cases in blocks of steps: a line that starts with `mark` ("# title") starts
// one, the lines up to the next such line are its steps, other lines that
// start with "#" ("##" under the default mark) are comments, and so is the
// text before the first title. No case at all stops the test.
inline QList<std::pair<QString, QStringList>> caseBlocks(const QString &text, const QString &mark = "# ")
{
    QList<std::pair<QString, QStringList>> cases;
    for (const QString &c : QString('\n' + text).split('\n' + mark).mid(1))
        cases.append({c.section('\n', 0, 0), c.section('\n', 1).split('\n', Qt::SkipEmptyParts).filter(QRegularExpression("^[^#]"))});
    if (cases.isEmpty())
        qFatal("no cases");
    return cases;
}
