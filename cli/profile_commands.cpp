// export and import: settings profiles between controllers.
#include "commands.h"

#include "cli_failure.h"
#include "controller_presence.h"
#include "controller_settings.h"
#include "output.h"
#include "parameter_catalogue.h"
#include "profile.h"
#include "serial_number_access.h"

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

// One part of the profile that differs from what the controller and the
// store hold: in text for the dry run's lines, in the profile's JSON for
// --json, so that a caller can lay it beside the profile it gave.
struct Change {
    QString part; // "settings", "serial" or "guard"
    QString name; // the setting or the line; empty for the serial number
    QString beforeText, afterText;
    QJsonValue before, after;
};

QList<Change> changesOf(const Profile &profile)
{
    QList<Change> changes;
    QList<const SettingDefinition *> settings;
    for (const SettingValue &value : profile.settings)
        settings.append(value.setting);
    const QList<SettingValue> current = readSettings(settings);
    for (int i = 0; i < current.size(); ++i) {
        const SettingDefinition &setting = *current[i].setting;
        const std::uint16_t from = current[i].field, to = profile.settings[i].field;
        if (from != to)
            changes.append({QStringLiteral("settings"), setting.name, settingText(setting, from),
                            settingText(setting, to), settingJson(setting, from), settingJson(setting, to)});
    }
    if (profile.serialNumber) {
        // A number that may be stale proves nothing: the import writes then.
        const std::string serial = readSerialNumber();
        const bool live = serialNumberIsLive();
        if (serial != *profile.serialNumber || !live)
            changes.append({QStringLiteral("serial"), QString(),
                            serialNumberText(serial) + (live ? QString() : QStringLiteral(" (may be stale)")),
                            serialNumberText(*profile.serialNumber), serialNumberText(serial),
                            serialNumberText(*profile.serialNumber)});
    }
    if (profile.hasGuard) {
        const GuardTable table = readGuardTableOrFail();
        for (const GuardRow &row : profile.guardRows) {
            const std::uint32_t level = table.levels[row.line], action = table.actions[row.line];
            if (level != row.level || action != row.action)
                changes.append({QStringLiteral("guard"), guardLineName(row.line), guardRowText(level, action),
                                guardRowText(row.level, row.action), guardRowJson(level, action),
                                guardRowJson(row.level, row.action)});
        }
    }
    return changes;
}

// {"before": {...}, "after": {...}}, each shaped like a profile and holding
// only what differs.
QJsonObject changesJson(const QList<Change> &changes)
{
    QJsonObject before, after;
    for (const Change &change : changes) {
        if (change.name.isEmpty()) {
            before.insert(change.part, change.before);
            after.insert(change.part, change.after);
            continue;
        }
        QJsonObject partBefore = before.value(change.part).toObject(), partAfter = after.value(change.part).toObject();
        partBefore.insert(change.name, change.before);
        partAfter.insert(change.name, change.after);
        before.insert(change.part, partBefore);
        after.insert(change.part, partAfter);
    }
    return {{QStringLiteral("before"), before}, {QStringLiteral("after"), after}};
}

// "sample-rate", "serial", "guard.gpio3", as the dry run names them.
QString label(const Change &change)
{
    if (change.name.isEmpty())
        return change.part;
    return change.part == QLatin1String("guard") ? QStringLiteral("guard.") + change.name : change.name;
}

void printChanges(const QList<Change> &changes, bool toFlash, bool settingsGiven)
{
    for (const Change &change : changes)
        printLine(QStringLiteral("%1: %2 -> %3").arg(label(change), change.beforeText, change.afterText));
    if (changes.isEmpty())
        printLine(QStringLiteral("nothing would change"));
    if (toFlash && settingsGiven)
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
    // The changes are read before anything is written, and with --json
    // printed only once all of it was, so that stdout holds one object.
    const bool dryRun = invocation.isSet(QStringLiteral("dry-run"));
    const QList<Change> changes = dryRun || invocation.json ? changesOf(profile) : QList<Change>();
    if (!dryRun) {
        if (!profile.settings.isEmpty())
            writeSettings(profile.settings, toFlash);
        if (profile.serialNumber)
            writeSerialNumber(*profile.serialNumber);
        if (profile.hasGuard)
            changeGuardRowsOrFail(profile.guardRows);
    }
    if (invocation.json) {
        QJsonObject result = changesJson(changes);
        result.insert(QStringLiteral("dry-run"), dryRun);
        printJson(result);
    } else if (dryRun) {
        printChanges(changes, toFlash, !profile.settings.isEmpty());
    }
}
