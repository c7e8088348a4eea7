// Drives the unchanged vnkestrix binary where there is no display to send
// input to: loaded with LD_PRELOAD, it starts with the application object,
// waits for the main window, reports what the pages loaded, presses Return
// in the serial-number field without editing it, presses "Save Misc.
// Settings to Flash", answers the box that follows and closes the
// window, so the program ends by itself with its own exit code. It writes
// what it sees to stderr, one "driver:" line per fact:
//   driver: value <objectName> <value>   every named widget's value, index,
//                                        state or text
//   driver: key <objectName> Return
//   driver: click <objectName>
//   driver: box <title> | <text>         every modal box, answered with OK
//   driver: no main window               the window did not come in time
#include "modal_box_catcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fprintf(stderr, "driver: %s\n", qPrintable(line)); // unbuffered: it survives a crash
}

QWidget *mainWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->inherits("VnKestrix") && w->isVisible())
            return w;
    return nullptr;
}

// A combo's current index, a spin box's value, a check box's state (true or
// false), a line edit's text.
void reportValues(const QWidget *window)
{
    for (const QWidget *w : window->findChildren<QWidget *>()) {
        for (const char *property : {"currentIndex", "value", "checked", "text"}) {
            const QVariant value = w->property(property);
            if (value.isValid() && !w->objectName().isEmpty()) {
                say(QStringLiteral("value %1 %2").arg(w->objectName(), value.toString()));
                break;
            }
        }
    }
}

class ProgramDriver : public QObject
{
public:
    explicit ProgramDriver(QObject *parent) : QObject(parent)
    {
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
            if (++m_steps > 3000) { // a minute
                say(QStringLiteral("no main window"));
                m_timer.stop();
                QCoreApplication::exit(3);
            }
            return;
        }
        m_timer.stop();
        reportValues(window);
        if (auto *serial = window->findChild<QLineEdit *>(QStringLiteral("serialEdit"))) {
            say(QStringLiteral("key %1 Return").arg(serial->objectName()));
            QTest::keyClick(serial, Qt::Key_Return);
        }
        if (auto *save = window->findChild<QAbstractButton *>(QStringLiteral("saveMiscSettingsButton"))) {
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
    int m_steps = 0;
    int m_reported = 0;
};

void startDriver()
{
    new ProgramDriver(QCoreApplication::instance());
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
