// Reading settings from the controller and writing them: every write goes to
// RAM and is read back, flash follows only when everything took.
#pragma once

#include "setting_definitions.h"

#include <QList>

// The field values of `settings` in the controller's RAM, in the given
// order; a failed read throws.
QList<SettingValue> readSettings(const QList<const SettingDefinition *> &settings);

// Writes the values, whole parameters at a time: a parameter whose settings
// are not all given is read first, so the others keep their values. Each
// parameter is written to RAM and read back (not in demo mode, where reads
// give fixed values); a different read-back, like a failed write, throws and
// stops before anything goes to flash. With `toFlash` every written
// parameter then goes to flash too.
void writeSettings(const QList<SettingValue> &values, bool toFlash);

// Copies every parameter from RAM to flash. Nothing is written when a value in
// RAM is one that the controller's setters would refuse.
void saveRamToFlash();

// The settings belonging to one name list; throws on an unknown name or a
// name given twice.
QList<const SettingDefinition *> settingsNamed(const QStringList &names);
QList<const SettingDefinition *> allSettings();

// Throws when two values name the same setting.
void refuseRepeatedSettings(const QList<SettingValue> &values);
