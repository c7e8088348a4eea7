// Builds vnkestrix-cli's manual page and fills its shell completions from
// the same tables as its --help, so that neither can drift from the program.
// Run at build time, not installed:
//   vnkestrix-cli-docs man DATE VERSION      the manual page, on stdout
//   vnkestrix-cli-docs fill TEMPLATE         a shell's completion template
//       with its table filled in (completion_table.h)
#include "commands.h"
#include "completion_table.h"
#include "setting_definitions.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace {

// Text for a roff line: backslashes escaped, a line that would start with a
// control character protected, and what the help quotes as `typed` in bold.
QString roff(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\e"));
    text.replace(QRegularExpression(QStringLiteral("`([^`]*)`")), QStringLiteral("\\fB\\1\\fR"));
    text.replace(QRegularExpression(QStringLiteral("^([.'])"), QRegularExpression::MultilineOption),
                 QStringLiteral("\\&\\1"));
    return text;
}

// A name as typed on the command line: its hyphens are minus signs.
QString typed(const QString &name)
{
    return roff(name).replace(QLatin1Char('-'), QLatin1String("\\-"));
}

QString optionsOf(const CommandDefinition &command)
{
    QStringList names;
    for (const QString &name : command.optionNames)
        names.append(QStringLiteral("\\fB\\-\\-%1\\fR").arg(typed(name)));
    return names.join(QStringLiteral(", "));
}

QString commandsUsing(const QString &option)
{
    QStringList names;
    for (const CommandDefinition &command : cliCommands()) {
        if (command.optionNames.contains(option))
            names.append(typed(command.name));
    }
    return names.join(QStringLiteral(", "));
}

QString manPage(const QString &date, const QString &version)
{
    QString page
        = QStringLiteral(".TH VNKESTRIX\\-CLI 1 \"%1\" \"VnKestrix %2\" \"User Commands\"\n")
              .arg(date, version);
    page += QStringLiteral(
        ".SH NAME\n"
        "vnkestrix\\-cli \\- the board controller's settings and the guard trigger table from the "
        "command line\n"
        ".SH SYNOPSIS\n"
        ".B vnkestrix\\-cli\n"
        ".RB [ \\-\\-demo ]\n"
        ".RB [ \\-\\-device\n"
        ".IR NODE | SERIAL ]\n"
        ".RB [ \\-\\-verbose ]\n"
        ".RB [ \\-\\-json ]\n"
        ".I COMMAND\n"
        ".RI [ options ]\n"
        ".RI [ arguments ]\n"
        ".br\n"
        ".B vnkestrix\\-cli\n"
        ".RI [ COMMAND ]\n"
        ".B \\-\\-help\n"
        ".SH DESCRIPTION\n"
        ".B vnkestrix\\-cli\n"
        "does from the command line what the window\n"
        ".BR vnkestrix (1)\n"
        "does: it reads and changes the settings of the board's embedded controller\n"
        "over USB HID, and the trigger table that the board's guard service reads.\n"
        "Commands that change something print nothing when they succeed (with\n"
        ".B \\-\\-json\n"
        "one JSON object: what was read or changed, or the failure); failures\n"
        "are one line each on standard error.\n"
        ".SH COMMANDS\n");
    for (const CommandDefinition &command : cliCommands()) {
        page += QStringLiteral(".TP\n.B %1").arg(typed(command.name));
        if (!command.syntax.isEmpty())
            page += QStringLiteral(" \\fI%1\\fR").arg(roff(command.syntax));
        page += QLatin1Char('\n') + roff(command.details.section(QStringLiteral("\n\n"), 0, 0));
        if (!command.optionNames.isEmpty())
            page += QStringLiteral("\nOptions: %1.").arg(optionsOf(command));
        page += QLatin1Char('\n');
    }
    page += QStringLiteral(
        ".SH OPTIONS\n"
        ".TP\n.B \"\\-h, \\-\\-help\"\nDescribe the program, or with a command that command.\n"
        ".TP\n.B \"\\-v, \\-\\-version\"\nPrint the version.\n");
    for (const OptionHelp &option : globalOptions()) {
        page += QStringLiteral(".TP\n.B \\-\\-%1").arg(typed(option.name));
        if (!option.valueName.isEmpty())
            page += QStringLiteral(" \\fI%1\\fR").arg(roff(option.valueName));
        page += QLatin1Char('\n') + roff(option.description) + QLatin1Char('\n');
    }
    for (const OptionHelp &option : commandOptions()) {
        page += QStringLiteral(".TP\n.B \\-\\-%1\n%2 (%3)\n")
                    .arg(typed(option.name), roff(option.description), commandsUsing(option.name));
    }
    page += QStringLiteral(
        ".SH SETTINGS\nThe names that\n.B get\nand\n.B set\ntake, and what each accepts:\n");
    for (const SettingDefinition &setting : settingDefinitions())
        page += QStringLiteral(".TP\n.B %1\n%2\n.br\nAccepts %3.\n")
                    .arg(typed(setting.name), roff(setting.description), roff(acceptedValues(setting)));
    page += QStringLiteral(".SH ENVIRONMENT\n");
    for (const HelpEntry &variable : environmentHelp())
        page += QStringLiteral(".TP\n.B %1\n%2\n").arg(roff(variable.name), roff(variable.text));
    page += QStringLiteral(".SH EXIT STATUS\n");
    for (const HelpEntry &code : exitCodeHelp())
        page += QStringLiteral(".TP\n.B %1\n%2.\n").arg(code.name, roff(code.text));
    page += QStringLiteral(
        ".SH PERMISSIONS\n"
        "The user at the machine's seat may open the controller through the installed udev rule.\n"
        "In a session without a seat (ssh, a remote desktop) the user must be in the group\n"
        ".BR plugdev .\n"
        "When the controller is there but may not be opened, the command says which node,\n"
        "what access is missing, and what to do.\n"
        ".PP\n"
        "Changing the guard trigger table needs membership of the group\n"
        ".BR vnkestrix ;\n"
        "reading it does not.\n"
        "To join either group, run\n"
        ".B sudo adduser $USER vnkestrix\n"
        "(or\n"
        ".BR plugdev ),\n"
        "then log in again: a session keeps the groups it started with.\n"
        ".SH EXAMPLES\n"
        "First steps: find the controller, then read its settings.\n"
        ".PP\n.RS\n.nf\n"
        "vnkestrix\\-cli list\n"
        "vnkestrix\\-cli info\n"
        "vnkestrix\\-cli get watchdog.mode watchdog.delay\n"
        "vnkestrix\\-cli set watchdog.mode=reset\\-system watchdog.delay=300 \\-\\-save\n"
        ".fi\n.RE\n.PP\n"
        "A profile round trip: copy one board's settings and guard table to another.\n"
        ".PP\n.RS\n.nf\n"
        "vnkestrix\\-cli \\-\\-device SN0042 export golden.json \\-\\-guard\n"
        "vnkestrix\\-cli \\-\\-device SN0043 import golden.json \\-\\-dry\\-run\n"
        "vnkestrix\\-cli \\-\\-device SN0043 import golden.json \\-\\-save\n"
        ".fi\n.RE\n.PP\n"
        "The guard table: shut down when GPIO 3 goes high, stand by when BATLOW# goes low,\n"
        "then see what the guard service makes of it.\n"
        ".PP\n.RS\n.nf\n"
        "vnkestrix\\-cli guard set gpio3=1,shutdown batlow=0,standby\n"
        "vnkestrix\\-cli guard get\n"
        "vnkestrix\\-cli guard status\n"
        ".fi\n.RE\n"
        ".SH FILES\n"
        ".TP\n.I /usr/lib/udev/rules.d/70\\-vnkestrix.rules\n"
        "The udev rule that lets the seated user and the plugdev group open the controller.\n"
        ".TP\n.I /var/lib/vnkestrix/registry.sqlite3\n"
        "The guard trigger table; members of the vnkestrix group may change it.\n"
        ".SH SEE ALSO\n"
        ".BR vnkestrix (1),\n"
        ".BR vnkestrix\\-guardd (8),\n"
        ".BR adduser (8),\n"
        ".BR udev (7),\n"
        ".BR udevadm (8)\n");
    return page;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QString output;
    if (arguments.size() == 4 && arguments[1] == QLatin1String("man")) {
        output = manPage(arguments[2], arguments[3]);
    } else if (arguments.size() == 3 && arguments[1] == QLatin1String("fill")) {
        QFile file(arguments[2]);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "vnkestrix-cli-docs: cannot read %s\n", qPrintable(arguments[2]));
            return 1;
        }
        output = withCompletionTable(QString::fromUtf8(file.readAll()));
    } else {
        std::fprintf(stderr, "usage: vnkestrix-cli-docs man DATE VERSION | fill TEMPLATE\n");
        return 2;
    }
    const QByteArray bytes = output.toUtf8();
    return std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout)
            == static_cast<std::size_t>(bytes.size())
        ? 0
        : 1;
}
