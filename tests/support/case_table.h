// The tables of cases that sit next to the tests: a row a line, its fields
// split at " | "; empty lines and lines that start with "#" are comments. A
// field that is "-" alone is empty, and "\n" in a field is a line break.
// A row without exactly `fields` fields stops the test.
#pragma once

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

inline QList<QStringList> caseTable(const QString &path, qsizetype fields)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        qFatal("cannot read the cases in %s", qPrintable(path));
    QList<QStringList> rows;
    for (const QString &line : QString::fromUtf8(file.readAll()).split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            rows << line.split(" | ").replaceInStrings(QRegularExpression("^-$"), QString()).replaceInStrings("\\n", "\n");
    for (const QStringList &row : rows)
        if (row.size() != fields)
            qFatal("%s: not %d fields: %s", qPrintable(path), int(fields), qPrintable(row.join(" | ")));
    return rows;
}
