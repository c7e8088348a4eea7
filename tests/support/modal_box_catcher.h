// Answers the modal boxes a test provokes: it finds the active modal widget,
// records its title, text and buttons, and answers it. A test that expects a
// box checks boxes() afterwards, so a box that never came fails the test.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>

struct CaughtBox {
    QString title;
    QString text;
    QStringList buttons;   // texts of the box's buttons, in layout order
    QString defaultButton; // text of the default button, empty if none
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget *parent = nullptr;
};

class ModalBoxCatcher : public QObject
{
    Q_OBJECT

public:
    enum class Answer { Accept, Yes, No, Escape, Return };

    explicit ModalBoxCatcher(Answer answer = Answer::Accept, QObject *parent = nullptr);

    const QVector<CaughtBox> &boxes() const { return m_boxes; }

private:
    void poll();

    Answer m_answer;
    QTimer m_timer;
    QVector<CaughtBox> m_boxes;
};
