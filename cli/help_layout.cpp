#include "help_layout.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

// Below this the layout turns into a column of single words; a narrow
// terminal gets long lines instead.
constexpr int narrowest = 40;

qsizetype hangingIndent(const QString &line)
{
    static const QRegularExpression leading(QStringLiteral("^ *"));
    const qsizetype indent = leading.match(line).capturedLength();
    if (indent == 0)
        return 0;
    static const QRegularExpression gap(QStringLiteral("^ +\\S.*?  +(?=\\S)"));
    const QRegularExpressionMatch match = gap.match(line);
    return match.hasMatch() ? match.capturedLength() : indent + 2;
}

QString withoutTrailingSpaces(QString text)
{
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

// Breaks only at spaces past the continuation's indent, so that a name and
// the gap after it stay on the first line; a word longer than the line
// stays whole.
QString wrappedLine(const QString &line, int width)
{
    const QString continuation(hangingIndent(line), QLatin1Char(' '));
    QString rest = line;
    QString result;
    while (rest.size() > width) {
        qsizetype cut = rest.lastIndexOf(QLatin1Char(' '), width);
        if (cut <= continuation.size())
            cut = rest.indexOf(QLatin1Char(' '), width);
        if (cut < 0)
            break;
        const QString after = rest.mid(cut).trimmed();
        result += withoutTrailingSpaces(rest.left(cut)) + QLatin1Char('\n');
        rest = continuation + after;
        if (after.isEmpty())
            return withoutTrailingSpaces(result);
    }
    return result + rest;
}

} // namespace

int helpWidth()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO console{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &console))
        return std::max(console.srWindow.Right - console.srWindow.Left + 1, narrowest);
#else
    winsize size{};
    if (::isatty(STDOUT_FILENO) && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return std::max(static_cast<int>(size.ws_col), narrowest);
#endif
    return 80;
}

QString wrapped(const QString &text, int width)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = wrappedLine(line, width);
    return lines.join(QLatin1Char('\n'));
}
