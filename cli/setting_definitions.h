// The controller settings as the command line names them, in the user's
// units and words, and their conversion from and to text and JSON.
//
// A setting is a field of one controller parameter: most fill the whole
// parameter, the four power settings share the power byte, and the
// watchdog sources are the low four bits of theirs. A field value is the
// setting's bits shifted down to bit 0 (tenths of a second for the two
// watchdog times, milliseconds for the sample rate).
#pragma once

#include "parameter_table.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

enum class SettingKind {
    Choice,       // one of `words`, by index
    Milliseconds, // a whole number
    Seconds,      // tenths in the controller, seconds with one decimal for the user
    Switch,       // one bit: off, on
    SourceList,   // a set of bits, each named by `words`
    LineMask,     // a GPIO bit mask, 0x.. or a list of lines
};

struct SettingDefinition {
    QString name;
    ParameterId parameter;
    SettingKind kind;
    std::uint16_t mask; // the parameter's bits that belong to this setting
    QStringList words;
    QString description; // what it does, in the window's tooltip words, for the manual
};

// Every setting, in the order `get` prints them.
const QList<SettingDefinition> &settingDefinitions();
const SettingDefinition *findSetting(const QString &name);

// A setting with a value to write, already checked.
struct SettingValue {
    const SettingDefinition *setting;
    std::uint16_t field;
};

std::uint16_t fieldOf(const SettingDefinition &setting, std::uint16_t parameterValue);
std::uint16_t withField(const SettingDefinition &setting, std::uint16_t parameterValue,
                        std::uint16_t field);

// What the setting accepts, for messages and help: "on or off".
QString acceptedValues(const SettingDefinition &setting);

// The value from the user's text or a profile's JSON value; on refusal
// `problem` names the setting and says what it accepts.
std::optional<std::uint16_t> parseSettingText(const SettingDefinition &setting, const QString &text,
                                              QString &problem);
std::optional<std::uint16_t> parseSettingJson(const SettingDefinition &setting, const QJsonValue &value,
                                              QString &problem);

// A field value as `get` shows it. A value the controller holds but that has
// no word (a mode beyond the known ones) shows as its number.
QString settingText(const SettingDefinition &setting, std::uint16_t field);
QJsonValue settingJson(const SettingDefinition &setting, std::uint16_t field);

// A GPIO mask as the user writes it ("0x81", "0,7" or "none") and as shown.
std::optional<std::uint16_t> parseLineMask(const QString &text);
QString lineMaskText(std::uint16_t mask);

// "unknown setting; did you mean watchdog.mode? ..." for a name that is none.
QString unknownSetting(const QString &name);

// "watchdog.mode=reset-system" as given on the command line.
SettingValue parseAssignment(const QString &argument);
