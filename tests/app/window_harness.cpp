#include "window_harness.h"

#include "controller_link.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QRegularExpression>
#include <QTabWidget>

namespace harness {

void useTemporaryRegistry(const QTemporaryDir &dir)
{
    qputenv("VNKESTRIX_REGISTRY", dir.filePath(QStringLiteral("registry.sqlite3")).toLocal8Bit());
}

void resetController()
{
    sim::reset();
    setDemoMode(false);
    std::string name;
    findController(name);
    sim::clearCalls();
}

void setController(const QString &state)
{
    QStringList lines = state.split(QLatin1Char(' '));
    setDemoMode(lines.removeAll(QStringLiteral("demo")) > 0);
    std::string error;
    if (!sim::loadStateText(lines.join(QLatin1Char('\n')).toStdString(), &error))
        qFatal("bad controller state: %s", error.c_str());
}

std::unique_ptr<VnKestrix> openWindow()
{
    auto window = std::make_unique<VnKestrix>();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("window not active");
    return window;
}

QStringList openTab(QWidget *window, int tab)
{
    auto *tabs = widget<QTabWidget>(window, QStringLiteral("mainTab"));
    tabs->setCurrentIndex(GuardTab);
    tabs->setCurrentIndex(tab);
    const QStringList log = calls();
    clearCalls();
    return log;
}

namespace {

// A check box as 1 or 0, a combo as its current text, anything else as its
// text (a spin box's with prefix and suffix).
QString text(QWidget *window, const char *name)
{
    const QWidget *w = widget<QWidget>(window, QLatin1String(name));
    if (const QVariant checked = w->property("checked"); checked.isValid())
        return checked.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    const QVariant current = w->property("currentText");
    return (current.isValid() ? current : w->property("text")).toString();
}

// Check boxes as the bits of one byte, box i standing for bit i.
QString bits(QWidget *window, const QStringList &names)
{
    int byte = 0;
    for (int i = 0; i < names.size(); ++i)
        byte |= widget<QCheckBox>(window, names[i])->isChecked() << i;
    return QString::asprintf("%02x", byte);
}

// The eight boxes of a GPIO row; %1 in `pattern` is the pin.
QString row(QWidget *window, const char *pattern)
{
    QStringList names;
    for (int pin = 0; pin < 8; ++pin)
        names << QString::fromLatin1(pattern).arg(pin);
    return bits(window, names);
}

} // namespace

QString shown(QWidget *w)
{
    const auto texts = [w](std::initializer_list<const char *> names, const char *separator) {
        QStringList all;
        for (const char *name : names)
            all << text(w, name);
        return all.join(QLatin1String(separator));
    };
    switch (widget<QTabWidget>(w, QStringLiteral("mainTab"))->currentIndex()) {
    case GpioTab:
        return QStringList{row(w, "gpioDirection%1CheckBox"), row(w, "gpioOutputMode%1CheckBox"),
                           row(w, "gpioStanbdyMode%1CheckBox"), row(w, "writeGPIO%1Check"), row(w, "readGPIO%1Check")}
            .join(QLatin1Char(' '));
    case WatchdogTab:
        return texts({"watchdogModeCombo", "watchdogDelaySpinBox", "watchdogStrobeSpinBox"}, ", ") + ", " +
               bits(w, {"sourceInterruptOutCheckBox", "sourceFeatureReportCheckBox", "sourceUsbPollingCheckBox",
                        "sourceSchGpioCheckBox"});
    case PowerTab:
        return text(w, "bootModeCombo") + ", " +
               texts({"restartAfterPowerFailureCheckBox", "restartAfterTempFailureCheckBox",
                      "disableUsbToSataBridgeCheckBox", "enable5vBoosterCheckBox"}, "");
    case MiscTab:
        return texts({"serialEdit", "reportModeCombo", "samplingRateSpinBox", "s3SignalizationModeCombo",
                      "firmwareRevisionLabel"}, ", ");
    }
    return QStringLiteral("no controller page");
}

QStringList calls()
{
    QStringList log;
    for (const sim::Call &call : sim::calls()) {
        const auto &r = call.request;
        QString line = QStringLiteral("find");
        if (call.function == sim::Function::GetInReport)
            line = QStringLiteral("in");
        else if (call.function == sim::Function::SendOutReport)
            line = QString::asprintf("out %02x", r.size() > 1 ? r[1] : 0);
        else if (call.function == sim::Function::Feature) // bytes 1 to 5 and the value; a serial number whole
            line = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(r.data()) + 1,
                                                  r[3] == 20 ? int(r.size()) - 1 : 5 + r[3])
                                           .toHex());
        log << (call.ok() ? line : line + QStringLiteral(" failed"));
    }
    return log;
}

void clearCalls()
{
    sim::clearCalls();
}

bool anyWrite(const QStringList &log)
{
    return !log.filter(QRegularExpression(QStringLiteral("^(00|out)"))).isEmpty();
}

namespace {

QString request(int direction, int target, int length, int index, int value)
{
    QString hex = QString::asprintf("%02x%02x%02x%02x00", direction, target, length, index);
    for (int i = 0; i < length; ++i)
        hex += QString::asprintf("%02x", (value >> (8 * i)) & 0xFF);
    return hex;
}

} // namespace

QString get(sim::Param p) { return request(1, 0, sim::info(p).length, sim::info(p).index, 0); }
QString ram(sim::Param p, int value) { return request(0, 0, sim::info(p).length, sim::info(p).index, value); }
QString flash(sim::Param p, int value) { return request(0, 1, sim::info(p).length, sim::info(p).index, value); }
QString action(sim::Action a) { return request(0, 0x80, 0, int(a), 0); }

QStringList boxes(const ModalBoxCatcher &catcher, const QWidget *window)
{
    const char *const icons[] = {"none", "information", "warning", "critical", "question"};
    QStringList seen;
    for (const CaughtBox &box : catcher.boxes()) {
        QStringList buttons = box.buttons;
        buttons.sort();
        seen << QStringList{QLatin1String(icons[box.icon]), box.title, box.text, buttons.join(QLatin1Char('/'))}
                        .join(QLatin1Char('|')) +
                    (box.parent == window ? QString() : QStringLiteral(" (not over the window)"));
    }
    return seen;
}

const QString savedToFlashBox =
    QStringLiteral("information|Information|Your settings were successfully saved in flash memory.|OK");

Step click(const QString &name)
{
    return [name](QWidget *w) { widget<QAbstractButton>(w, name)->click(); };
}

Step press(const QString &name, Qt::Key key)
{
    return [=](QWidget *w) { QTest::keyClick(widget<QWidget>(w, name), key); };
}

Step type(const QString &name, const QString &text)
{
    return [=](QWidget *w) {
        QWidget *field = widget<QWidget>(w, name);
        field->setFocus();
        QMetaObject::invokeMethod(field, "selectAll"); // a slot of line edits and spin boxes
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    };
}

Step focus(const QString &name)
{
    return [name](QWidget *w) { widget<QWidget>(w, name)->setFocus(); };
}

Step steps(std::initializer_list<Step> list)
{
    return [all = std::vector<Step>(list)](QWidget *w) {
        for (const Step &s : all)
            s(w);
    };
}

} // namespace harness
