#include "setting_definitions.h"

#include "cli_failure.h"
#include "near_miss.h"

#include <QJsonArray>
#include <QLocale>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

constexpr std::uint16_t wholeByte = 0xFF;
constexpr std::uint16_t wholeWord = 0xFFFF;

int shiftOf(std::uint16_t mask)
{
    int shift = 0;
    while (mask != 0 && (mask & 1u) == 0) {
        mask = static_cast<std::uint16_t>(mask >> 1);
        ++shift;
    }
    return shift;
}

std::uint16_t fieldMaximum(const SettingDefinition &setting)
{
    return static_cast<std::uint16_t>(setting.mask >> shiftOf(setting.mask));
}

const Parameter &parameterOf(const SettingDefinition &setting)
{
    return parameter(setting.parameter);
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1);
}

int wordIndex(const SettingDefinition &setting, const QString &word)
{
    for (int i = 0; i < setting.words.size(); ++i) {
        if (setting.words[i].compare(word, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool isNone(const QString &text)
{
    return text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0;
}

// A field must also be a value the controller's setter takes, so the
// parameter table has the last word on ranges.
std::optional<std::uint16_t> checkedField(const SettingDefinition &setting, unsigned long field)
{
    if (field > fieldMaximum(setting))
        return std::nullopt;
    const auto value = static_cast<std::uint16_t>(field);
    if (!acceptsValue(parameterOf(setting), withField(setting, 0, value)))
        return std::nullopt;
    return value;
}

std::optional<std::uint16_t> parseSeconds(const SettingDefinition &setting, double seconds)
{
    // The controller's setters take single precision; checking the narrowed
    // value keeps the CLI's range exactly the window's (0.1 s passes).
    const auto narrowed = static_cast<float>(seconds);
    if (!std::isfinite(seconds) || !acceptsValue(parameterOf(setting), static_cast<double>(narrowed)))
        return std::nullopt;
    return secondsToTenths(narrowed);
}

std::optional<std::uint16_t> parseSources(const SettingDefinition &setting, const QStringList &names)
{
    std::uint16_t bits = 0;
    for (const QString &name : names) {
        const int bit = wordIndex(setting, name.trimmed());
        if (bit < 0)
            return std::nullopt;
        bits = static_cast<std::uint16_t>(bits | (1u << bit));
    }
    return bits;
}

QString refusal(const SettingDefinition &setting, const QString &given)
{
    return QStringLiteral("%1 is not accepted: it takes %2").arg(given, acceptedValues(setting));
}

} // namespace

const QList<SettingDefinition> &settingDefinitions()
{
    static const QList<SettingDefinition> definitions = {
        {"report-mode", ParameterId::ReportMode, SettingKind::Choice, wholeByte,
         {"after-sampling", "after-change"}, "When the controller sends an interrupt-in report: after every sampling of the lines, or only when a line changed."},
        {"sample-rate", ParameterId::SampleRate, SettingKind::Milliseconds, wholeWord, {}, "How often the controller samples the GPIO lines, in milliseconds."},
        {"s3-mode", ParameterId::S3SignalizationMode, SettingKind::Choice, wholeByte,
         {"normal", "s3-with-s5"}, "How standby (S3) is signalled: normally, or together with the S5 signal."},
        {"watchdog.mode", ParameterId::WatchdogMode, SettingKind::Choice, wholeByte,
         {"off", "reset-system", "show-only"}, "The watchdog timer mode. off (factory default): the watchdog timer is disabled. reset-system: the system is rebooted if a watchdog event occurs. show-only: the system is not rebooted if a watchdog event occurs, but the WDT pin is asserted."},
        {"watchdog.delay", ParameterId::WatchdogDelay, SettingKind::Seconds, wholeWord, {}, "The delay before the watchdog has to be served the first time after a system start (default 120 s). Set it very carefully, and try a value in RAM first, before saving it to flash."},
        {"watchdog.strobe", ParameterId::WatchdogStrobe, SettingKind::Seconds, wholeWord, {}, "The strobe interval: the longest time allowed between two serves of the watchdog without a watchdog event (default 10 s)."},
        // Bits 4 to 7 have no meaning; like the window, the CLI writes them as 0.
        {"watchdog.sources", ParameterId::WatchdogSources, SettingKind::SourceList, 0x0F,
         {"interrupt-out", "feature-report", "usb-polling", "sch-gpio"}, "What serves the watchdog: interrupt reports, feature reports (both by default), USB host pollings, GPIO events of the chipset."},
        // The power byte: boot mode in bits 0-1, three switches in bits 2-4,
        // bits 5-7 written as 0 as the window does.
        {"power.boot-mode", ParameterId::PowerSettings, SettingKind::Choice, 0x03,
         {"auto", "wait-for-button", "always-start"}, "The boot mode. auto (default): the module goes into standby (S5) if the 5V standby voltage is there before the 12V main supply and waits for the power button; if the 12V main power ramps up without the 5V standby voltage, it boots without waiting. wait-for-button: the module waits in S5 for the power button when the voltages ramp up. always-start: the system boots when the 5V standby or the 12V main power ramps up, without waiting for the power button."},
        {"power.restart-after-power-failure", ParameterId::PowerSettings, SettingKind::Switch, 0x04,
         {"off", "on"}, "on: the system reboots 10 seconds after a power failure (default off)."},
        {"power.restart-after-temperature-failure", ParameterId::PowerSettings, SettingKind::Switch,
         0x08, {"off", "on"}, "on: the system reboots 1 minute after an over-temperature failure (default off)."},
        {"power.board-option", ParameterId::PowerSettings, SettingKind::Switch, 0x10, {"off", "on"}, "on: the 5V booster on Tamsel boards; the USB-to-SATA bridge enabled on Orvekin boards (off saves energy when the bridge is not used)."},
        {"gpio.direction", ParameterId::GpioDirection, SettingKind::LineMask, wholeByte, {}, "The direction of each GPIO line: a line set is an output, else an input (factory default: lines 4 to 7 outputs)."},
        {"gpio.output-mode", ParameterId::GpioOutputMode, SettingKind::LineMask, wholeByte, {}, "The output mode of each GPIO line: a line set is an open-drain output, else a CMOS push-pull output (factory default)."},
        {"gpio.standby-mode", ParameterId::GpioStandbyMode, SettingKind::LineMask, wholeByte, {}, "How each output line behaves in the S3, S4 and S5 states: a line set keeps its state, else it is high impedance (factory default). To save power, leave every line high impedance: otherwise, depending on the external circuit, the board can draw more current in standby than specified."},
    };
    return definitions;
}

const SettingDefinition *findSetting(const QString &name)
{
    for (const SettingDefinition &setting : settingDefinitions()) {
        if (setting.name == name)
            return &setting;
    }
    return nullptr;
}

std::uint16_t fieldOf(const SettingDefinition &setting, std::uint16_t parameterValue)
{
    return static_cast<std::uint16_t>((parameterValue & setting.mask) >> shiftOf(setting.mask));
}

std::uint16_t withField(const SettingDefinition &setting, std::uint16_t parameterValue,
                        std::uint16_t field)
{
    const int shift = shiftOf(setting.mask);
    return static_cast<std::uint16_t>((parameterValue & ~setting.mask)
                                      | ((field << shift) & setting.mask));
}

QString acceptedValues(const SettingDefinition &setting)
{
    const Parameter &p = parameterOf(setting);
    switch (setting.kind) {
    case SettingKind::Choice:
        return QStringLiteral("one of ") + setting.words.join(QLatin1String(", "));
    case SettingKind::Milliseconds:
        return QStringLiteral("a whole number of milliseconds from %1 to %2")
            .arg(static_cast<qulonglong>(p.minimum))
            .arg(static_cast<qulonglong>(p.maximum));
    case SettingKind::Seconds:
        return QStringLiteral("seconds from %1 to %2 (kept to the nearest tenth)")
            .arg(secondsText(p.minimum), secondsText(p.maximum));
    case SettingKind::Switch:
        return QStringLiteral("on or off");
    case SettingKind::SourceList:
        return QStringLiteral("none or a comma-separated list of ")
            + setting.words.join(QLatin1String(", "));
    case SettingKind::LineMask:
        return QStringLiteral("a mask from 0x00 to 0xff, a comma-separated list of lines 0 to 7, or none");
    }
    return {};
}

std::optional<std::uint16_t> parseSettingText(const SettingDefinition &setting, const QString &text,
                                              QString &problem)
{
    std::optional<std::uint16_t> field;
    switch (setting.kind) {
    case SettingKind::Choice:
    case SettingKind::Switch: {
        const int index = wordIndex(setting, text);
        if (index >= 0)
            field = checkedField(setting, static_cast<unsigned long>(index));
        break;
    }
    case SettingKind::Milliseconds: {
        const bool digitsOnly = !text.isEmpty() && text.size() <= 5
            && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit() && c.unicode() < 0x80; });
        if (digitsOnly)
            field = checkedField(setting, text.toULong());
        break;
    }
    case SettingKind::Seconds: {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        bool ok = false;
        const double seconds = c.toDouble(text, &ok);
        if (ok)
            field = parseSeconds(setting, seconds);
        break;
    }
    case SettingKind::SourceList:
        field = isNone(text) ? std::optional<std::uint16_t>(0)
                             : parseSources(setting, text.split(QLatin1Char(',')));
        break;
    case SettingKind::LineMask:
        field = parseLineMask(text);
        break;
    }
    if (!field)
        problem = refusal(setting, quoted(text));
    return field;
}

std::optional<std::uint16_t> parseSettingJson(const SettingDefinition &setting, const QJsonValue &value,
                                              QString &problem)
{
    switch (setting.kind) {
    case SettingKind::Choice:
    case SettingKind::Switch:
    case SettingKind::LineMask:
        if (value.isString())
            return parseSettingText(setting, value.toString(), problem);
        problem = QStringLiteral("must be a JSON string: ") + acceptedValues(setting);
        return std::nullopt;
    case SettingKind::Milliseconds:
    case SettingKind::Seconds: {
        if (!value.isDouble()) {
            problem = QStringLiteral("must be a JSON number: ") + acceptedValues(setting);
            return std::nullopt;
        }
        const double number = value.toDouble();
        std::optional<std::uint16_t> field;
        if (setting.kind == SettingKind::Seconds)
            field = parseSeconds(setting, number);
        else if (number >= 0 && number <= wholeWord && std::floor(number) == number)
            field = checkedField(setting, static_cast<unsigned long>(number));
        if (!field)
            problem = refusal(setting, QString::number(number));
        return field;
    }
    case SettingKind::SourceList: {
        QStringList names;
        const QJsonArray array = value.toArray();
        for (const QJsonValue &item : array) {
            if (item.isString())
                names.append(item.toString());
        }
        if (!value.isArray() || names.size() != array.size()) {
            problem = QStringLiteral("must be a JSON list of strings: ") + acceptedValues(setting);
            return std::nullopt;
        }
        const std::optional<std::uint16_t> field = parseSources(setting, names);
        if (!field)
            problem = refusal(setting, quoted(names.join(QLatin1Char(','))));
        return field;
    }
    }
    return std::nullopt;
}

QString settingText(const SettingDefinition &setting, std::uint16_t field)
{
    switch (setting.kind) {
    case SettingKind::Choice:
    case SettingKind::Switch:
        return field < setting.words.size() ? setting.words[field] : QString::number(field);
    case SettingKind::Milliseconds:
        return QString::number(field);
    case SettingKind::Seconds:
        return QStringLiteral("%1.%2").arg(field / 10).arg(field % 10);
    case SettingKind::SourceList: {
        QStringList names;
        for (int bit = 0; bit < setting.words.size(); ++bit) {
            if (field & (1u << bit))
                names.append(setting.words[bit]);
        }
        return names.isEmpty() ? QStringLiteral("none") : names.join(QLatin1Char(','));
    }
    case SettingKind::LineMask:
        return lineMaskText(field);
    }
    return {};
}

QJsonValue settingJson(const SettingDefinition &setting, std::uint16_t field)
{
    switch (setting.kind) {
    case SettingKind::Milliseconds:
        return static_cast<int>(field);
    case SettingKind::Seconds:
        return field / 10.0;
    case SettingKind::SourceList: {
        const QString text = settingText(setting, field);
        return QJsonArray::fromStringList(field == 0 ? QStringList() : text.split(QLatin1Char(',')));
    }
    default:
        return settingText(setting, field);
    }
}

std::optional<std::uint16_t> parseLineMask(const QString &text)
{
    if (isNone(text))
        return 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const QString digits = text.mid(2);
        const bool hexOnly = !digits.isEmpty() && digits.size() <= 2
            && std::all_of(digits.begin(), digits.end(), [](QChar c) {
                   return c.unicode() < 0x80 && std::isxdigit(c.unicode());
               });
        if (!hexOnly)
            return std::nullopt;
        return static_cast<std::uint16_t>(digits.toUInt(nullptr, 16));
    }
    std::uint16_t mask = 0;
    for (const QString &item : text.split(QLatin1Char(','))) {
        const QString line = item.trimmed();
        if (line.size() != 1 || line[0] < QLatin1Char('0') || line[0] > QLatin1Char('7'))
            return std::nullopt;
        mask = static_cast<std::uint16_t>(mask | (1u << (line[0].unicode() - '0')));
    }
    return mask;
}

QString lineMaskText(std::uint16_t mask)
{
    return QStringLiteral("0x%1").arg(mask, 2, 16, QLatin1Char('0'));
}

QString unknownSetting(const QString &name)
{
    QStringList names;
    for (const SettingDefinition &setting : settingDefinitions())
        names.append(setting.name);
    return QStringLiteral("unknown setting") + didYouMean(name, names) + QStringLiteral(" (`get --help` lists them)");
}

SettingValue parseAssignment(const QString &argument)
{
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    if (equals < 0)
        failUsage(QStringLiteral("%1: expected NAME=VALUE").arg(quoted(argument)));
    const QString name = argument.left(equals);
    const SettingDefinition *setting = findSetting(name);
    if (!setting)
        failUsage(quoted(name) + QStringLiteral(": ") + unknownSetting(name));
    QString problem;
    const std::optional<std::uint16_t> field = parseSettingText(*setting, argument.mid(equals + 1), problem);
    if (!field)
        failUsage(name + QStringLiteral(": ") + problem);
    return {setting, *field};
}
