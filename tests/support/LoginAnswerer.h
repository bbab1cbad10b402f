#pragma once

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

// Answers the first-start login dialog whenever it shows: with the given
// name and password, or with Cancel when the name is null. A blank field
// first tries OK, which must leave the dialog open.
class LoginAnswerer : public QObject
{
public:
    LoginAnswerer(QString i_user, QString i_password) : m_user(std::move(i_user)), m_password(std::move(i_password))
    {
        connect(&m_timer, &QTimer::timeout, this, &LoginAnswerer::Answer);
        m_timer.start(10);
    }

    int m_shown = 0;
    bool m_stayedOpenOnBlank = false;

private:
    void Answer()
    {
        for (QWidget* lp_window : QApplication::topLevelWidgets()) {
            auto* lp_dialog = qobject_cast<QDialog*>(lp_window);
            if (!lp_dialog || !lp_dialog->isVisible() || !lp_dialog->findChild<QLineEdit*>("passwordEdit"))
                continue;
            ++m_shown;
            auto* lp_buttons = lp_dialog->findChild<QDialogButtonBox*>("buttonBox");
            auto* lp_userEdit = lp_dialog->findChild<QLineEdit*>("usernameEdit");
            auto* lp_passwordEdit = lp_dialog->findChild<QLineEdit*>("passwordEdit");
            lp_userEdit->setText(QStringLiteral("  "));
            lp_passwordEdit->setText(QStringLiteral("pw"));
            lp_buttons->button(QDialogButtonBox::Ok)->click();
            m_stayedOpenOnBlank = lp_dialog->isVisible();
            if (m_user.isNull()) {
                lp_buttons->button(QDialogButtonBox::Cancel)->click();
                continue;
            }
            lp_userEdit->setText(m_user);
            lp_passwordEdit->setText(m_password);
            lp_buttons->button(QDialogButtonBox::Ok)->click();
        }
    }

    QString m_user;
    QString m_password;
    QTimer m_timer;
};
