#include "controller_settings.h"

#include "cli_failure.h"
#include "controller_link.h"
#include "parameter_catalogue.h"

#include <QSet>

#include <map>

namespace {

QString parameterLabel(ParameterId id)
{
    switch (id) {
    case ParameterId::ReportMode: return QStringLiteral("report mode");
    case ParameterId::SampleRate: return QStringLiteral("sample rate");
    case ParameterId::WatchdogStrobe: return QStringLiteral("watchdog strobe interval");
    case ParameterId::WatchdogDelay: return QStringLiteral("watchdog delay");
    case ParameterId::S3SignalizationMode: return QStringLiteral("S3 signalization mode");
    case ParameterId::WatchdogMode: return QStringLiteral("watchdog mode");
    case ParameterId::WatchdogSources: return QStringLiteral("watchdog sources");
    case ParameterId::PowerSettings: return QStringLiteral("power settings");
    case ParameterId::GpioDirection: return QStringLiteral("GPIO direction");
    case ParameterId::GpioOutputMode: return QStringLiteral("GPIO output mode");
    case ParameterId::GpioStandbyMode: return QStringLiteral("GPIO standby mode");
    }
    return {};
}

std::uint16_t readRaw(ParameterId id)
{
    std::uint16_t raw = 0;
    if (!readParameter(parameter(id), raw))
        failController(QStringLiteral("reading the %1 failed").arg(parameterLabel(id)));
    return raw;
}

void writeRaw(ParameterId id, std::uint16_t raw, Target target)
{
    if (!writeParameter(parameter(id), raw, target))
        failController(QStringLiteral("writing the %1 to %2 failed")
                           .arg(parameterLabel(id), target == Flash ? QStringLiteral("flash")
                                                                    : QStringLiteral("RAM")));
}

QList<const SettingDefinition *> settingsOf(ParameterId id)
{
    QList<const SettingDefinition *> fields;
    for (const SettingDefinition &setting : settingDefinitions()) {
        if (setting.parameter == id)
            fields.append(&setting);
    }
    return fields;
}

// A raw value that a setter would accept; Tenths are checked in seconds.
bool acceptsRaw(ParameterId id, std::uint16_t raw)
{
    const Parameter &p = parameter(id);
    return acceptsValue(p, p.encoding == Encoding::Tenths ? static_cast<double>(tenthsToSeconds(raw)) : raw);
}

// The message for a parameter that read back different: names the first
// setting that differs, in the user's words.
QString readBackMessage(ParameterId id, std::uint16_t written, std::uint16_t readBack)
{
    for (const SettingDefinition *setting : settingsOf(id)) {
        const std::uint16_t wanted = fieldOf(*setting, written);
        const std::uint16_t got = fieldOf(*setting, readBack);
        if (wanted != got) {
            return QStringLiteral("%1: wrote %2 but the controller reads back %3")
                .arg(setting->name, settingText(*setting, wanted), settingText(*setting, got));
        }
    }
    return QStringLiteral("the %1 were written as 0x%2 but read back as 0x%3")
        .arg(parameterLabel(id))
        .arg(written, 2, 16, QLatin1Char('0'))
        .arg(readBack, 2, 16, QLatin1Char('0'));
}

std::map<ParameterId, std::uint16_t> readParameters(const QList<const SettingDefinition *> &settings)
{
    std::map<ParameterId, std::uint16_t> raw;
    for (const SettingDefinition *setting : settings) {
        if (raw.count(setting->parameter) == 0)
            raw[setting->parameter] = readRaw(setting->parameter);
    }
    return raw;
}

} // namespace

QList<SettingValue> readSettings(const QList<const SettingDefinition *> &settings)
{
    const std::map<ParameterId, std::uint16_t> raw = readParameters(settings);
    QList<SettingValue> values;
    for (const SettingDefinition *setting : settings)
        values.append({setting, fieldOf(*setting, raw.at(setting->parameter))});
    return values;
}

void writeSettings(const QList<SettingValue> &values, bool toFlash)
{
    // Whole parameters in the catalogue's order, each composed from the
    // given fields and, for fields not given, the controller's current ones.
    std::map<ParameterId, std::uint16_t> composed;
    for (int id = 0; id < parameterCount; ++id) {
        const auto parameterId = static_cast<ParameterId>(id);
        const QList<const SettingDefinition *> fields = settingsOf(parameterId);
        QList<const SettingDefinition *> given;
        for (const SettingValue &value : values) {
            if (value.setting->parameter == parameterId)
                given.append(value.setting);
        }
        if (given.isEmpty())
            continue;
        const std::uint16_t current = given.size() == fields.size() ? 0 : readRaw(parameterId);
        std::uint16_t raw = 0;
        for (const SettingDefinition *field : fields)
            raw = withField(*field, raw, fieldOf(*field, current));
        for (const SettingValue &value : values) {
            if (value.setting->parameter == parameterId)
                raw = withField(*value.setting, raw, value.field);
        }
        composed[parameterId] = raw;
    }

    for (const auto &[id, raw] : composed) {
        writeRaw(id, raw, Ram);
        if (isDemoMode())
            continue;
        const std::uint16_t readBack = readRaw(id);
        if (readBack != raw)
            failOperation(readBackMessage(id, raw, readBack));
    }
    if (toFlash) {
        for (const auto &[id, raw] : composed)
            writeRaw(id, raw, Flash);
    }
}

void saveRamToFlash()
{
    std::map<ParameterId, std::uint16_t> ram;
    for (int id = 0; id < parameterCount; ++id) {
        const auto parameterId = static_cast<ParameterId>(id);
        ram[parameterId] = readRaw(parameterId);
        if (!acceptsRaw(parameterId, ram[parameterId]))
            failOperation(QStringLiteral("the %1 in RAM is out of range; nothing was saved")
                              .arg(parameterLabel(parameterId)));
    }
    for (const auto &[id, raw] : ram)
        writeRaw(id, raw, Flash);
}

QList<const SettingDefinition *> settingsNamed(const QStringList &names)
{
    QList<const SettingDefinition *> settings;
    for (const QString &name : names) {
        const SettingDefinition *setting = findSetting(name);
        if (!setting)
            failUsage(quoted(name) + QStringLiteral(": ") + unknownSetting(name));
        if (settings.contains(setting))
            failUsage(QStringLiteral("%1 is named twice").arg(name));
        settings.append(setting);
    }
    return settings;
}

QList<const SettingDefinition *> allSettings()
{
    QList<const SettingDefinition *> settings;
    for (const SettingDefinition &setting : settingDefinitions())
        settings.append(&setting);
    return settings;
}

void refuseRepeatedSettings(const QList<SettingValue> &values)
{
    QSet<QString> seen;
    for (const SettingValue &value : values) {
        if (seen.contains(value.setting->name))
            failUsage(QStringLiteral("%1 is given twice").arg(value.setting->name));
        seen.insert(value.setting->name);
    }
}
