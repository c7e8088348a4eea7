// Drives the unchanged vnkestrix binary where there is no display to send
// input to: loaded with LD_PRELOAD, it starts with the application object,
// waits for the main window, reports what the pages loaded, presses "Save
// Misc. Settings to Flash", answers the box that follows and closes the
// window, so the program ends by itself with its own exit code. It writes
// what it sees to stderr, one "driver:" line per fact:
//   driver: value <objectName> <value>   every line edit, spin box, combo
//                                        (current index) and check box (0/1)
//   driver: click <objectName>
//   driver: box <title> | <text>         every modal box, answered with OK
//   driver: no main window               the window did not come in time
#include "modal_box_catcher.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fprintf(stderr, "driver: %s\n", qPrintable(line));
    std::fflush(stderr);
}

QWidget *mainWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->inherits("VnKestrix") && w->isVisible())
            return w;
    return nullptr;
}

void reportValues(const QWidget *window)
{
    for (const QWidget *w : window->findChildren<QWidget *>()) {
        if (w->objectName().isEmpty())
            continue;
        QString value;
        if (auto *edit = qobject_cast<const QLineEdit *>(w))
            value = edit->text();
        else if (auto *spin = qobject_cast<const QAbstractSpinBox *>(w))
            value = spin->property("value").toString();
        else if (auto *combo = qobject_cast<const QComboBox *>(w))
            value = QString::number(combo->currentIndex());
        else if (auto *check = qobject_cast<const QCheckBox *>(w))
            value = QString::number(check->isChecked());
        else
            continue;
        say(QStringLiteral("value %1 %2").arg(w->objectName(), value));
    }
}

class ProgramDriver : public QObject
{
public:
    explicit ProgramDriver(QObject *parent) : QObject(parent)
    {
        m_clock.start();
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, &ProgramDriver::step);
        m_timer.start();
    }

    // Also reports a box answered when the program ends without a window
    // (the start-up question when no controller was found).
    ~ProgramDriver() override { reportNewBoxes(); }

private:
    void step()
    {
        reportNewBoxes();
        QWidget *window = mainWindow();
        if (!window || QApplication::activeModalWidget()) {
            if (m_clock.elapsed() > 60000) {
                say(QStringLiteral("no main window"));
                m_timer.stop();
                QCoreApplication::exit(3);
            }
            return;
        }
        m_timer.stop();
        reportValues(window);
        auto *save = window->findChild<QAbstractButton *>(QStringLiteral("saveMiscSettingsButton"));
        if (save) {
            say(QStringLiteral("click %1").arg(save->objectName()));
            save->click(); // returns once the catcher has answered the box
        }
        reportNewBoxes();
        window->close();
    }

    void reportNewBoxes()
    {
        for (; m_reported < m_catcher.count(); ++m_reported) {
            const CaughtBox &box = m_catcher.boxes().at(m_reported);
            say(QStringLiteral("box %1 | %2").arg(box.title, box.text));
        }
    }

    ModalBoxCatcher m_catcher{ModalBoxCatcher::Answer::Accept};
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_reported = 0;
};

void startDriver()
{
    new ProgramDriver(QCoreApplication::instance());
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
