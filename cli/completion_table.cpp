#include "completion_table.h"

#include "command_line.h"
#include "commands.h"
#include "guard_rows.h"
#include "guard_table.h"
#include "setting_definitions.h"

#include <QRegularExpression>

namespace {

class Table {
public:
    void add(const QString &selector, const QString &word, const QString &description = QString())
    {
        m_records.append(description.isEmpty() ? selector + QLatin1Char('\t') + word
                                               : selector + QLatin1Char('\t') + word + QLatin1Char('\t')
                                                   + description);
    }
    void addAll(const QString &selector, const QStringList &words)
    {
        for (const QString &word : words)
            add(selector, word);
    }
    QString text() const { return m_records.join(QLatin1Char('\n')); }

private:
    QStringList m_records;
};

// The lowercase words of a command's syntax, the words it takes as its
// first argument: "read | write VALUE" gives read and write.
QStringList syntaxWords(const QString &syntax)
{
    static const QRegularExpression word(QStringLiteral("(?:^|[ |])([a-z][a-z-]*)(?=$|[ |])"));
    QStringList words;
    for (auto it = word.globalMatch(syntax); it.hasNext();)
        words.append(it.next().captured(1));
    return words;
}

QString commandOptionDescription(const QString &name)
{
    for (const OptionHelp &option : commandOptions()) {
        if (option.name == name)
            return option.description;
    }
    return {};
}

// A GPIO mask as a list of the lines that are 1, or none.
void addLineMask(Table &table, const QString &place)
{
    table.add(QStringLiteral("value1:") + place, QStringLiteral("none"));
    for (std::size_t line = 0; line < 8; ++line)
        table.add(QStringLiteral("item:") + place, QString::number(line), QString::fromLatin1(guardLineLabels[line]));
}

void addSettingValue(Table &table, const SettingDefinition &setting)
{
    const QString place = QStringLiteral("set ") + setting.name;
    switch (setting.kind) {
    case SettingKind::Choice:
        table.addAll(QStringLiteral("value1:") + place, setting.words);
        break;
    case SettingKind::Switch:
        table.addAll(QStringLiteral("value1:") + place, {QStringLiteral("on"), QStringLiteral("off")});
        break;
    case SettingKind::SourceList:
        table.add(QStringLiteral("value1:") + place, QStringLiteral("none"));
        table.addAll(QStringLiteral("item:") + place, setting.words);
        break;
    case SettingKind::LineMask:
        addLineMask(table, place);
        break;
    case SettingKind::Milliseconds:
    case SettingKind::Seconds:
        break;
    }
}

QString completionTable()
{
    Table table;
    table.add(QStringLiteral("option:"), QStringLiteral("--help"),
              QStringLiteral("Describe the program, or with a command that command."));
    table.add(QStringLiteral("option:"), QStringLiteral("--version"), QStringLiteral("Print the version."));
    for (const OptionHelp &option : globalOptions())
        table.add(QStringLiteral("option:"), QStringLiteral("--") + option.name, option.description);
    for (const CommandDefinition &command : cliCommands()) {
        table.add(QStringLiteral("word:"), command.name, command.summary);
        for (const QString &option : command.optionNames)
            table.add(QStringLiteral("option:") + command.name, QStringLiteral("--") + option,
                      commandOptionDescription(option));
        table.addAll(QStringLiteral("word:") + command.name, syntaxWords(command.syntax));
        if (command.syntax == QLatin1String("FILE"))
            table.add(QStringLiteral("file:") + command.name, QStringLiteral("FILE"));
    }
    // What the arguments after the words are.
    for (const SettingDefinition &setting : settingDefinitions()) {
        table.add(QStringLiteral("name:get"), setting.name, acceptedValues(setting));
        table.add(QStringLiteral("name:set"), setting.name + QLatin1Char('='), acceptedValues(setting));
        addSettingValue(table, setting);
    }
    addLineMask(table, QStringLiteral("gpio write"));
    for (std::size_t line = 0; line < guardLineCount; ++line) {
        const QString name = guardLineName(line);
        table.add(QStringLiteral("name:guard set"), name + QLatin1Char('='), QString::fromLatin1(guardLineLabels[line]));
        table.addAll(QStringLiteral("value1:guard set ") + name, guardLevelWords());
        table.addAll(QStringLiteral("value2:guard set ") + name, guardActionWords());
    }
    return table.text();
}

} // namespace

QString withCompletionTable(QString shellTemplate)
{
    QString table = completionTable();
    table.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return shellTemplate.replace(QStringLiteral("@TABLE@"), table);
}
