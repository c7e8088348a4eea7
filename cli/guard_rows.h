// The guard trigger table as the command line shows it: one row per line
// (gpio0 to gpio7, batlow, pwrbtn), written LEVEL,ACTION, for example
// "gpio3=1,shutdown": when GPIO 3 is 1, the guard service shuts down.
#pragma once

#include "guard_table.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

struct GuardRow {
    std::size_t line;
    std::uint32_t level;
    std::uint32_t action;
};

// The words of a row's level and action, in the order of their stored numbers.
const QStringList &guardLevelWords();
const QStringList &guardActionWords();

QString guardLineName(std::size_t line);
std::optional<std::size_t> findGuardLine(const QString &name);

// "1,shutdown"; a stored number the guard page has no item for shows as the
// number itself.
QString guardRowText(std::uint32_t level, std::uint32_t action);
QJsonValue guardRowJson(std::uint32_t level, std::uint32_t action);
// Every line's row, keyed by the line's name, as a profile's guard part.
QJsonObject guardTableJson(const GuardTable &table);

// A row from "LEVEL,ACTION" or from a profile's {"level":..,"action":..};
// on refusal `problem` says what is accepted.
std::optional<GuardRow> parseGuardRowText(std::size_t line, const QString &text, QString &problem);
std::optional<GuardRow> parseGuardRowJson(std::size_t line, const QJsonValue &value, QString &problem);

// "gpio3=1,shutdown" from the command line; throws on a bad one.
GuardRow parseGuardAssignment(const QString &argument);

// The store's table, opened for reading only: a missing store or key is the
// table of defaults, and nothing is made. A store that fails throws, naming
// the file and the cause.
GuardTable readGuardTableOrFail();
// Changes `rows` and keeps the others, reading and writing in one transaction
// of the store, so that writers at the same time take turns; throws as above.
void changeGuardRowsOrFail(const QList<GuardRow> &rows);

void applyGuardRows(GuardTable &table, const QList<GuardRow> &rows);
