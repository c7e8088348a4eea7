#include "profile.h"

#include "cli_failure.h"
#include "serial_number_rules.h"
#include "strict_json.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace {

const QString versionKey = QStringLiteral("version");
const QString settingsKey = QStringLiteral("settings");
const QString serialKey = QStringLiteral("serial");
const QString guardKey = QStringLiteral("guard");

void readSettingsPart(const QJsonValue &value, Profile &profile, QStringList &problems)
{
    if (!value.isObject()) {
        problems.append(QStringLiteral("settings: must be a JSON object"));
        return;
    }
    const QJsonObject settings = value.toObject();
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        const QString where = settingsKey + QLatin1Char('.') + echoed(it.key());
        const SettingDefinition *setting = findSetting(it.key());
        if (!setting) {
            problems.append(where + QStringLiteral(": ") + unknownSetting(it.key()));
            continue;
        }
        QString problem;
        const std::optional<std::uint16_t> field = parseSettingJson(*setting, it.value(), problem);
        if (field)
            profile.settings.append({setting, *field});
        else
            problems.append(where + QStringLiteral(": ") + problem);
    }
}

void readSerialPart(const QJsonValue &value, Profile &profile, QStringList &problems)
{
    std::optional<std::string> latin1;
    if (value.isString())
        latin1 = storableSerialNumber(value.toString().toStdString());
    if (latin1)
        profile.serialNumber = latin1;
    else
        problems.append(QStringLiteral("serial: must be a string of 1 to 9 Latin-1 characters, no "
                                       "control characters"));
}

void readGuardPart(const QJsonValue &value, Profile &profile, QStringList &problems)
{
    if (!value.isObject()) {
        problems.append(QStringLiteral("guard: must be a JSON object"));
        return;
    }
    profile.hasGuard = true;
    const QJsonObject guard = value.toObject();
    for (auto it = guard.begin(); it != guard.end(); ++it) {
        const QString where = guardKey + QLatin1Char('.') + echoed(it.key());
        // Exact names only: a JSON object could hold both "gpio0" and "GPIO0".
        const std::optional<std::size_t> line = findGuardLine(it.key());
        if (!line || guardLineName(*line) != it.key()) {
            problems.append(where + QStringLiteral(": unknown line; the lines are gpio0 to gpio7, batlow and pwrbtn"));
            continue;
        }
        QString problem;
        const std::optional<GuardRow> row = parseGuardRowJson(*line, it.value(), problem);
        if (row)
            profile.guardRows.append(*row);
        else
            problems.append(where + QStringLiteral(": ") + problem);
    }
}

// The profile's integers: its version, a guard line's level, and settings
// counted in whole milliseconds.
bool holdsWholeNumber(const QString &path)
{
    const QString part = path.section(QLatin1Char('.'), 0, 0);
    if (part == settingsKey) {
        const SettingDefinition *setting = findSetting(path.section(QLatin1Char('.'), 1));
        return setting && setting->kind == SettingKind::Milliseconds;
    }
    return path == versionKey
        || (part == guardKey && path.section(QLatin1Char('.'), 2) == QLatin1String("level"));
}

} // namespace

QJsonObject profileJson(const Profile &profile)
{
    QJsonObject json{{versionKey, profileVersion}};
    if (!profile.settings.isEmpty()) {
        QJsonObject settings;
        for (const SettingValue &value : profile.settings)
            settings.insert(value.setting->name, settingJson(*value.setting, value.field));
        json.insert(settingsKey, settings);
    }
    if (profile.serialNumber)
        json.insert(serialKey, QString::fromStdString(serialNumberToUtf8(*profile.serialNumber)));
    if (profile.hasGuard) {
        QJsonObject guard;
        for (const GuardRow &row : profile.guardRows)
            guard.insert(guardLineName(row.line), guardRowJson(row.level, row.action));
        json.insert(guardKey, guard);
    }
    return json;
}

QStringList readProfile(const QByteArray &json, Profile &profile)
{
    const QStringList strictProblems = strictJsonProblems(json, holdsWholeNumber);
    if (!strictProblems.isEmpty())
        return strictProblems;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return {QStringLiteral("not valid JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset)};
    if (!document.isObject())
        return {QStringLiteral("not a profile: the file must hold one JSON object")};

    const QJsonObject root = document.object();
    // A newer profile may mean something this version cannot do, so it is
    // refused whole before any part of it is looked at.
    const QJsonValue version = root.value(versionKey);
    if (!version.isDouble() || version.toDouble() != profileVersion) {
        QString given = QStringLiteral("missing");
        if (version.isDouble())
            given = QString::number(version.toDouble(), 'g', 17) + QStringLiteral(" is not known");
        else if (!version.isUndefined())
            given = QStringLiteral("must be a number");
        return {QStringLiteral("version: %1; this program reads profiles of version %2")
                    .arg(given)
                    .arg(profileVersion)};
    }

    QStringList problems;
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (it.key() == versionKey)
            continue;
        if (it.key() == settingsKey)
            readSettingsPart(it.value(), profile, problems);
        else if (it.key() == serialKey)
            readSerialPart(it.value(), profile, problems);
        else if (it.key() == guardKey)
            readGuardPart(it.value(), profile, problems);
        else
            problems.append(echoed(it.key()) + QStringLiteral(": unknown key"));
    }
    return problems;
}
