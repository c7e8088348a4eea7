// How a command ends when it cannot do its work: an exit code and one line
// for stderr. Commands throw CliFailure; main() prints it and exits, so no
// command ever has to unwind by hand.
#pragma once

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
