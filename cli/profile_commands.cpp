// export and import: settings profiles between controllers.
#include "commands.h"

#include "cli_failure.h"
#include "controller_presence.h"
#include "controller_settings.h"
#include "output.h"
#include "profile.h"
#include "serial_number_rules.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

#include <cstdio>

namespace {

bool isStandardStream(const QString &path)
{
    return path == QLatin1String("-");
}

// A profile is a few kilobytes; anything above this is refused before it is
// read whole, so that no input (standard input included) can exhaust memory.
constexpr qint64 profileSizeLimit = 1 << 20;

QByteArray readProfileFile(const QString &path)
{
    QFile file;
    const bool opened = isStandardStream(path) ? file.open(stdin, QIODevice::ReadOnly)
                                               : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    QByteArray json;
    while (opened && json.size() <= profileSizeLimit) {
        const QByteArray part = file.read(profileSizeLimit + 1 - json.size());
        if (part.isEmpty())
            break;
        json += part;
    }
    if (!opened || file.error() != QFileDevice::NoError)
        failUsage(QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()));
    if (json.size() > profileSizeLimit)
        failUsage(QStringLiteral("%1: larger than 1 MiB, which no profile is; nothing was read further").arg(path));
    return json;
}

// Every problem is named up to a point; past it, how many more there are.
QString problemLines(const QString &path, const QStringList &problems)
{
    constexpr qsizetype shown = 20;
    QStringList lines;
    for (const QString &problem : problems.mid(0, shown))
        lines.append(path + QStringLiteral(": ") + problem);
    if (problems.size() > shown)
        lines.append(QStringLiteral("%1: and %2 more problems").arg(path).arg(problems.size() - shown));
    return lines.join(QLatin1Char('\n'));
}

// Written whole or not at all: a profile cut short by a full disk would be
// refused later, far from the cause.
void writeProfileFile(const QString &path, const QByteArray &json)
{
    if (isStandardStream(path)) {
        printText(QString::fromUtf8(json));
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit())
        failOperation(QStringLiteral("%1: cannot be written: %2").arg(path, file.errorString()));
}

QList<GuardRow> allGuardRows(const GuardTable &table)
{
    QList<GuardRow> rows;
    for (std::size_t line = 0; line < guardLineCount; ++line)
        rows.append({line, table.levels[line], table.actions[line]});
    return rows;
}

QString change(const QString &name, const QString &from, const QString &to)
{
    return QStringLiteral("%1: %2 -> %3").arg(name, from, to);
}

QString serialText(const std::string &latin1)
{
    return QString::fromStdString(serialNumberToUtf8(latin1));
}

void printChanges(const Profile &profile, bool toFlash)
{
    QStringList changes;
    QList<const SettingDefinition *> settings;
    for (const SettingValue &value : profile.settings)
        settings.append(value.setting);
    const QList<SettingValue> current = readSettings(settings);
    for (int i = 0; i < current.size(); ++i) {
        const SettingDefinition &setting = *current[i].setting;
        if (current[i].field != profile.settings[i].field) {
            changes.append(change(setting.name, settingText(setting, current[i].field),
                                  settingText(setting, profile.settings[i].field)));
        }
    }
    if (profile.serialNumber) {
        const std::string serial = readSerialNumber();
        if (serial != *profile.serialNumber)
            changes.append(change(QStringLiteral("serial"), serialText(serial), serialText(*profile.serialNumber)));
    }
    if (profile.hasGuard) {
        const GuardTable table = readGuardTableOrFail();
        for (const GuardRow &row : profile.guardRows) {
            if (table.levels[row.line] != row.level || table.actions[row.line] != row.action) {
                changes.append(change(QStringLiteral("guard.") + guardLineName(row.line),
                                      guardRowText(table.levels[row.line], table.actions[row.line]),
                                      guardRowText(row.level, row.action)));
            }
        }
    }
    for (const QString &line : changes)
        printLine(line);
    if (changes.isEmpty())
        printLine(QStringLiteral("nothing would change"));
    if (toFlash && !profile.settings.isEmpty())
        printLine(QStringLiteral("with --save, the profile's settings would also be written to flash"));
}

} // namespace

void runExport(const Invocation &invocation)
{
    const QString path = invocation.arguments.first();
    connectController(invocation.demo);
    Profile profile;
    profile.settings = readSettings(allSettings());
    if (invocation.isSet(QStringLiteral("serial")))
        profile.serialNumber = readSerialNumber();
    if (invocation.isSet(QStringLiteral("guard"))) {
        profile.guardRows = allGuardRows(readGuardTableOrFail());
        profile.hasGuard = true;
    }
    const QByteArray json = QJsonDocument(profileJson(profile)).toJson(QJsonDocument::Indented);

    // A controller can hold values its setters refuse (a mode beyond the
    // known ones); a profile that import would refuse is caught here, where
    // the user still has the controller in front of them.
    Profile check;
    const QStringList problems = readProfile(json, check);
    if (!problems.isEmpty())
        failOperation(QStringLiteral("the current values cannot be exported: ") + problems.first());
    writeProfileFile(path, json);
}

void runImport(const Invocation &invocation)
{
    const QString path = invocation.arguments.first();
    Profile profile;
    const QStringList problems = readProfile(readProfileFile(path), profile);
    if (!problems.isEmpty())
        failUsage(problemLines(path, problems));

    const bool toFlash = invocation.isSet(QStringLiteral("save"));
    if (!profile.settings.isEmpty() || profile.serialNumber)
        connectController(invocation.demo);
    if (invocation.isSet(QStringLiteral("dry-run"))) {
        printChanges(profile, toFlash);
        return;
    }
    if (!profile.settings.isEmpty())
        writeSettings(profile.settings, toFlash);
    if (profile.serialNumber)
        writeSerialNumberIfChanged(*profile.serialNumber);
    if (profile.hasGuard)
        changeGuardRowsOrFail(profile.guardRows);
}
