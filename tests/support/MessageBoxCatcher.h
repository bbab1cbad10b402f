#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

// Answers every message box that appears while it lives: it records the
// box's title and text and presses OK (or closes the box), so a test that
// runs code showing a modal box never waits for a person.
class MessageBoxCatcher : public QObject
{
public:
    struct Box
    {
        QString m_title;
        QString m_text;
        QMessageBox::Icon m_icon;
        QMessageBox::StandardButtons m_buttons;
    };

    MessageBoxCatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, &MessageBoxCatcher::AnswerBoxes);
        m_timer.start(10);
    }

    QList<Box> m_boxes;

    QStringList Titles() const
    {
        QStringList l_titles;
        for (const Box& l_box : m_boxes)
            l_titles << l_box.m_title;
        return l_titles;
    }

private:
    void AnswerBoxes()
    {
        for (QWidget* lp_window : QApplication::topLevelWidgets()) {
            auto* lp_box = qobject_cast<QMessageBox*>(lp_window);
            if (!lp_box || !lp_box->isVisible())
                continue;
            m_boxes.append({lp_box->windowTitle(), lp_box->text(), lp_box->icon(), lp_box->standardButtons()});
            if (QAbstractButton* lp_ok = lp_box->button(QMessageBox::Ok))
                lp_ok->click();
            else
                lp_box->reject();
        }
    }

    QTimer m_timer;
};
