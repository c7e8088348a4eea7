#include "guard_rows.h"

#include "cli_failure.h"
#include "registry_api.h"

#include <QJsonObject>
#include <QStringList>

namespace {

const QStringList &levelWords = guardLevelWords();
const QStringList &actionWords = guardActionWords();

QString accepted()
{
    return QStringLiteral("LEVEL,ACTION with LEVEL 0 or 1 and ACTION one of ")
        + actionWords.join(QLatin1String(", "));
}

QString actionText(std::uint32_t action)
{
    return action < static_cast<std::uint32_t>(actionWords.size()) ? actionWords[static_cast<int>(action)]
                                                                   : QString::number(action);
}

std::optional<GuardRow> rowFromWords(std::size_t line, const QString &level, const QString &action)
{
    const qsizetype levelIndex = levelWords.indexOf(level.trimmed());
    const qsizetype actionIndex = actionWords.indexOf(action.trimmed().toLower());
    if (levelIndex < 0 || actionIndex < 0)
        return std::nullopt;
    return GuardRow{line, static_cast<std::uint32_t>(levelIndex), static_cast<std::uint32_t>(actionIndex)};
}

} // namespace

// The stored numbers are the guard page's item indexes.
const QStringList &guardLevelWords()
{
    static const QStringList words = {QStringLiteral("0"), QStringLiteral("1")};
    return words;
}

const QStringList &guardActionWords()
{
    static const QStringList words = [] {
        QStringList list;
        for (const char *key : guardActionKeys)
            list.append(QString::fromLatin1(key));
        return list;
    }();
    return words;
}

QString guardLineName(std::size_t line)
{
    return QString::fromLatin1(guardLineKeys[line]);
}

std::optional<std::size_t> findGuardLine(const QString &name)
{
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        if (guardLineName(line).compare(name, Qt::CaseInsensitive) == 0)
            return line;
    }
    return std::nullopt;
}

QString guardRowText(std::uint32_t level, std::uint32_t action)
{
    return QString::number(level) + QLatin1Char(',') + actionText(action);
}

QJsonValue guardRowJson(std::uint32_t level, std::uint32_t action)
{
    return QJsonObject{{QStringLiteral("level"), static_cast<qint64>(level)},
                       {QStringLiteral("action"), actionText(action)}};
}

std::optional<GuardRow> parseGuardRowText(std::size_t line, const QString &text, QString &problem)
{
    const QStringList parts = text.split(QLatin1Char(','));
    std::optional<GuardRow> row;
    if (parts.size() == 2)
        row = rowFromWords(line, parts[0], parts[1]);
    if (!row)
        problem = QStringLiteral("%1 is not accepted: it takes %2").arg(quoted(text), accepted());
    return row;
}

std::optional<GuardRow> parseGuardRowJson(std::size_t line, const QJsonValue &value, QString &problem)
{
    const QJsonObject object = value.toObject();
    const QJsonValue level = object.value(QStringLiteral("level"));
    const QJsonValue action = object.value(QStringLiteral("action"));
    std::optional<GuardRow> row;
    const double number = level.toDouble();
    if (value.isObject() && object.size() == 2 && level.isDouble() && action.isString())
        row = rowFromWords(line, QString::number(number == 0 ? 0.0 : number, 'g', 17), action.toString()); // -0 is 0
    if (!row)
        problem = QStringLiteral("must be {\"level\": 0 or 1, \"action\": one of %1}")
                      .arg(actionWords.join(QLatin1String(", ")));
    return row;
}

GuardRow parseGuardAssignment(const QString &argument)
{
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    if (equals < 0)
        failUsage(QStringLiteral("%1: expected LINE=LEVEL,ACTION").arg(quoted(argument)));
    const QString name = argument.left(equals);
    const std::optional<std::size_t> line = findGuardLine(name);
    if (!line)
        failUsage(QStringLiteral("%1: unknown line; the lines are gpio0 to gpio7, batlow and pwrbtn")
                      .arg(quoted(name)));
    QString problem;
    const std::optional<GuardRow> row = parseGuardRowText(*line, argument.mid(equals + 1), problem);
    if (!row)
        failUsage(guardLineName(*line) + QStringLiteral(": ") + problem);
    return *row;
}

namespace {

[[noreturn]] void failStore(long error, bool writing)
{
    failOperation(QStringLiteral("the guard table could not be %1: %2: %3")
                      .arg(writing ? QStringLiteral("saved, nothing was changed") : QStringLiteral("read"),
                           QString::fromStdString(guardStoreName()),
                           QString::fromStdString(guardStoreCause(error, writing))));
}

} // namespace

GuardTable readGuardTableOrFail()
{
    GuardTable table;
    long error = ERROR_SUCCESS;
    if (readGuardTable(table, &error) != GuardResult::Ok)
        failStore(error, false);
    return table;
}

void changeGuardRowsOrFail(const QList<GuardRow> &rows)
{
    long error = ERROR_SUCCESS;
    if (updateGuardTable([&](GuardTable &table) { applyGuardRows(table, rows); }, &error) != GuardResult::Ok)
        failStore(error, true);
}

void applyGuardRows(GuardTable &table, const QList<GuardRow> &rows)
{
    for (const GuardRow &row : rows) {
        table.levels[row.line] = row.level;
        table.actions[row.line] = row.action;
    }
}

QJsonObject guardTableJson(const GuardTable &table)
{
    QJsonObject json;
    for (std::size_t line = 0; line < guardLineCount; ++line)
        json.insert(guardLineName(line), guardRowJson(table.levels[line], table.actions[line]));
    return json;
}
