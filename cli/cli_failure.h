// How a command ends when it cannot do its work: an exit code and one line
// for stderr. Commands throw CliFailure; main() prints it and exits, so no
// command ever has to unwind by hand.
#pragma once

#include "controller_link.h"

#include <QString>

enum ExitCode : int {
    ExitSuccess = 0,
    ExitOperationFailed = 1, // a controller or guard-store operation failed
    ExitBadUsage = 2,        // bad usage, or a value the controller would not accept
    ExitNoController = 3,
};

struct CliFailure {
    ExitCode exitCode;
    QString message;
};

[[noreturn]] inline void failUsage(const QString &message)
{
    throw CliFailure{ExitBadUsage, message};
}

[[noreturn]] inline void failOperation(const QString &message)
{
    throw CliFailure{ExitOperationFailed, message};
}

// A controller call that failed: the message names the step, and the
// library's cause, when it knows one, follows it ("reading the sample rate
// failed: board replaced: A → B").
[[noreturn]] inline void failController(const QString &message)
{
    const std::string cause = controllerFailure();
    failOperation(cause.empty() ? message : message + QStringLiteral(": ") + QString::fromStdString(cause));
}

// Input shown back in a message: control characters as \xNN, and no more
// than 40 characters, then how long the whole is.
inline QString echoed(const QString &text)
{
    constexpr qsizetype shown = 40;
    QString result;
    for (const QChar c : text.left(shown)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            result += c;
    }
    if (text.size() > shown)
        result += QStringLiteral("... (%1 characters)").arg(text.size());
    return result;
}

inline QString quoted(const QString &text)
{
    return QLatin1Char('"') + echoed(text) + QLatin1Char('"');
}
