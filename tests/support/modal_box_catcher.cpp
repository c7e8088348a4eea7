#include "modal_box_catcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTest>

ModalBoxCatcher::ModalBoxCatcher(Answer answer, QObject *parent)
    : QObject(parent), m_answer(answer)
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalBoxCatcher::poll);
    m_timer.start();
}

void ModalBoxCatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->property("vnkCaught").toBool())
        return;
    box->setProperty("vnkCaught", true);
    CaughtBox caught{box->windowTitle(), box->text(), {}, {}, box->icon(), box->parentWidget()};
    for (QAbstractButton *button : box->buttons())
        caught.buttons << button->text().remove(QLatin1Char('&'));
    if (QPushButton *def = box->defaultButton())
        caught.defaultButton = def->text().remove(QLatin1Char('&'));
    m_boxes.append(caught);

    switch (m_answer) {
    case Answer::Accept: box->accept(); break;
    case Answer::Yes: box->button(QMessageBox::Yes)->click(); break;
    case Answer::No: box->button(QMessageBox::No)->click(); break;
    case Answer::Escape: QTest::keyClick(box, Qt::Key_Escape); break;
    case Answer::Return: QTest::keyClick(box, Qt::Key_Return); break;
    }
}
