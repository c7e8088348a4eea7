// The settings profile: a versioned JSON file of controller settings, and
// optionally the serial number and the guard trigger table.
//
//   {"version": 1,
//    "settings": {"report-mode": "after-sampling", "sample-rate": 50, ...},
//    "serial": "SN0001",
//    "guard": {"gpio0": {"level": 0, "action": "do-nothing"}, ...}}
//
// Every part is optional on import, and so is each setting and guard line:
// what a profile leaves out stays as it is.
#pragma once

#include "guard_rows.h"
#include "setting_definitions.h"

#include <QJsonObject>
#include <QStringList>

#include <optional>
#include <string>

inline constexpr int profileVersion = 1;

struct Profile {
    QList<SettingValue> settings;
    std::optional<std::string> serialNumber; // Latin-1 bytes, as the controller stores them
    QList<GuardRow> guardRows;
    bool hasGuard = false;
};

QJsonObject profileJson(const Profile &profile);

// Reads a profile, checking all of it. Returns every problem found (unknown
// keys, wrong types, refused values, an unknown version), one line each; the
// profile is usable only when the list is empty.
QStringList readProfile(const QByteArray &json, Profile &profile);
