// What the commands print: results on stdout as UTF-8, problems on stderr.
#pragma once

#include <QJsonObject>
#include <QString>

void printText(const QString &text);
void printLine(const QString &line);
void printJson(const QJsonObject &object);

// Whether anything went to stdout in this run.
bool printedAnything();

// Each line of `message` on stderr behind the program's name.
void printProblem(const QString &message);
