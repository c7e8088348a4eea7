// guard get and guard set: the guard service's trigger table in the store.
#include "commands.h"

#include "cli_failure.h"
#include "guard_rows.h"
#include "output.h"

#include <QJsonObject>

void runGuard(const Invocation &invocation)
{
    const QString operation = invocation.arguments.first();
    if (operation == QLatin1String("get") && invocation.arguments.size() == 1) {
        const GuardTable table = readGuardTableOrFail();
        if (invocation.json) {
            printJson(guardTableJson(table));
            return;
        }
        for (std::size_t line = 0; line < guardLineCount; ++line)
            printLine(guardLineName(line) + QLatin1Char('=') + guardRowText(table.levels[line], table.actions[line]));
        return;
    }
    if (operation == QLatin1String("set") && invocation.arguments.size() > 1) {
        QList<GuardRow> rows;
        for (const QString &argument : invocation.arguments.mid(1)) {
            const GuardRow row = parseGuardAssignment(argument);
            for (const GuardRow &earlier : rows) {
                if (earlier.line == row.line)
                    failUsage(guardLineName(row.line) + QStringLiteral(" is given twice"));
            }
            rows.append(row);
        }
        // The other rows keep what the store holds, including numbers the
        // command line has no word for.
        changeGuardRowsOrFail(rows);
        if (invocation.json) // the whole table as it is now, as `guard get` shows it
            printJson({{QStringLiteral("guard"), guardTableJson(readGuardTableOrFail())}});
        return;
    }
    if (operation == QLatin1String("status") && invocation.arguments.size() == 1)
        return runGuardStatus(invocation);
    failUsage(QStringLiteral("usage: vnkestrix-cli guard get | set LINE=LEVEL,ACTION... | status (see guard --help)"));
}
