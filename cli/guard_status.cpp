// guard status: what vnkestrix-guardd is doing, from the status file it
// keeps under /run (VNKESTRIX_GUARDD_STATUS names another file). The file
// outlives a service that was killed, so the process it names must still be
// a running vnkestrix-guardd.
#include "commands.h"

#include "cli_failure.h"
#include "guard_rows.h"
#include "output.h"

#include <QFile>
#include <QJsonObject>
#include <QMap>

#ifndef _WIN32
#include <signal.h>
#endif

namespace {

QString statusPath()
{
    const QString path = qEnvironmentVariable("VNKESTRIX_GUARDD_STATUS");
    return path.isEmpty() ? QStringLiteral("/run/vnkestrix/guardd.status") : path;
}

QMap<QString, QString> readStatus()
{
    QMap<QString, QString> fields;
    QFile file(statusPath());
    if (!file.open(QIODevice::ReadOnly))
        return fields;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            fields.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return fields;
}

bool serviceRunning(const QString &pidText)
{
#ifdef _WIN32
    // No guard service of ours runs on Windows.
    Q_UNUSED(pidText);
    return false;
#else
    bool ok = false;
    const int pid = pidText.toInt(&ok);
    if (!ok || pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM))
        return false;
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    // The kernel keeps 15 characters of the name.
    return comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("vnkestrix-guard");
#endif
}

} // namespace

void runGuardStatus(const Invocation &invocation)
{
    const QMap<QString, QString> status = readStatus();
    if (!serviceRunning(status.value(QStringLiteral("pid"))))
        failOperation(QStringLiteral("vnkestrix-guardd is not running (no live service behind %1)").arg(statusPath()));
    const bool json = invocation.isSet(QStringLiteral("json"));
    QJsonObject lines;
    QStringList text = {QStringLiteral("service: running, pid ") + status.value(QStringLiteral("pid"))};
    const QString controller = status.value(QStringLiteral("controller"));
    text << QStringLiteral("controller: ") + (controller.isEmpty() ? QStringLiteral("not found") : controller)
         << QStringLiteral("table: ") + status.value(QStringLiteral("table"))
         << QStringLiteral("watchdog: ") + status.value(QStringLiteral("watchdog"));
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        // LEVEL,ACTION,CURRENT with CURRENT 0, 1 or unknown.
        const QStringList row = status.value(QStringLiteral("line.") + guardLineName(line)).split(QLatin1Char(','));
        if (row.size() != 3)
            continue;
        const auto level = row[0].toUInt(), action = row[1].toUInt();
        QJsonObject entry = guardRowJson(level, action).toObject();
        entry.insert(QStringLiteral("current"), row[2] == QLatin1String("unknown") ? QJsonValue()
                                                                                  : QJsonValue(row[2].toInt()));
        lines.insert(guardLineName(line), entry);
        text << QStringLiteral("%1=%2 (now %3)").arg(guardLineName(line), guardRowText(level, action), row[2]);
    }
    const QString fired = status.value(QStringLiteral("last-fired"));
    text << QStringLiteral("last fired: ") + (fired.isEmpty() ? QStringLiteral("nothing yet") : fired);
    if (!json) {
        for (const QString &line : text)
            printLine(line);
        return;
    }
    printJson({{QStringLiteral("running"), true},
               {QStringLiteral("pid"), status.value(QStringLiteral("pid")).toInt()},
               {QStringLiteral("controller"), controller.isEmpty() ? QJsonValue() : QJsonValue(controller)},
               {QStringLiteral("table"), status.value(QStringLiteral("table"))},
               {QStringLiteral("watchdog"), status.value(QStringLiteral("watchdog"))},
               {QStringLiteral("lines"), lines},
               {QStringLiteral("last-fired"), fired.isEmpty() ? QJsonValue() : QJsonValue(fired)}});
}
