#include "output.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QStringList>

#include <cstdio>

namespace {

bool printed = false;

void write(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

bool printedAnything()
{
    return printed;
}

void printText(const QString &text)
{
    printed = true;
    write(stdout, text.toUtf8());
}

void printLine(const QString &line)
{
    printed = true;
    write(stdout, line.toUtf8() + '\n');
}

void printJson(const QJsonObject &object)
{
    printed = true;
    write(stdout, QJsonDocument(object).toJson(QJsonDocument::Indented));
}

void printProblem(const QString &message)
{
    const QString prefix = QCoreApplication::applicationName() + QStringLiteral(": ");
    for (const QString &line : message.split(QLatin1Char('\n')))
        write(stderr, (prefix + line).toUtf8() + '\n');
}
