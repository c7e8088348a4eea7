// Answers the modal boxes a test provokes: it finds the active modal widget,
// records its title, text and buttons, and answers it. A test that expects a
// box checks boxes() afterwards, so a box that never came fails the test.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

struct CaughtBox {
    QString title;
    QString text;
    // The texts of the box's buttons, sorted (their layout order is the
    // style's), the default one marked "*".
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget *parent = nullptr;
};

class ModalBoxCatcher : public QObject
{
public:
    enum class Answer { Accept, Yes, No, Escape };

    explicit ModalBoxCatcher(Answer answer = Answer::Accept, QObject *parent = nullptr)
        : QObject(parent)
    {
        m_timer.callOnTimeout(this, [this, answer] { poll(answer); });
        m_timer.start(5);
    }

    const QList<CaughtBox> &boxes() const { return m_boxes; }

private:
    void poll(Answer answer)
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->property("vnkCaught").toBool())
            return;
        box->setProperty("vnkCaught", true);
        CaughtBox caught{box->windowTitle(), box->text(), {}, box->icon(), box->parentWidget()};
        for (QAbstractButton *button : box->buttons())
            caught.buttons << button->text().remove(QLatin1Char('&')) + (button == box->defaultButton() ? "*" : "");
        caught.buttons.sort();
        m_boxes.append(caught);

        switch (answer) {
        case Answer::Accept: box->accept(); break;
        case Answer::Yes: box->button(QMessageBox::Yes)->click(); break;
        case Answer::No: box->button(QMessageBox::No)->click(); break;
        case Answer::Escape: QTest::keyClick(box, Qt::Key_Escape); break;
        }
    }

    QTimer m_timer;
    QList<CaughtBox> m_boxes;
};
