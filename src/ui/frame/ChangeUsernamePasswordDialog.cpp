#include "ui/frame/ChangeUsernamePasswordDialog.h"

#include "core/persist/Settings.h"
#include "core/util/GeneralFunctions.h"
#include "ui/frame/DialogKeyboard.h"

#include "ui_ChangeUsernamePasswordDialog.h"

#include <QMessageBox>

namespace {

// Names and passwords travel to the server as Latin-1.
bool IsLatin1(const QString& i_text)
{
    for (const QChar l_char : i_text) {
        if (l_char.unicode() > 0xFF)
            return false;
    }
    return true;
}

}  // namespace

ChangeUsernamePasswordDialog::ChangeUsernamePasswordDialog(bool i_firstRun, QWidget* ip_parent)
    : QDialog(ip_parent), ui(std::make_unique<Ui::ChangeUsernamePasswordDialog>()), m_firstRun(i_firstRun)
{
    ui->setupUi(this);
    ui->usernameEdit->setText(FromLatin1Text(Settings::Get("username")));
    ui->passwordEdit->setText(FromLatin1Text(Settings::Get("password")));
    if (m_firstRun)
        setWindowTitle(tr("Set Username/Password"));
    OrderDialogKeyboard({ui->usernameEdit, ui->passwordEdit}, ui->buttonBox);
    activateWindow();
}

ChangeUsernamePasswordDialog::~ChangeUsernamePasswordDialog() = default;

void ChangeUsernamePasswordDialog::accept()
{
    const QString l_username = ui->usernameEdit->text().trimmed();
    const QString l_password = ui->passwordEdit->text().trimmed();
    if (l_username.isEmpty() || l_password.isEmpty())
        return;
    // Names and passwords travel as 8-bit text: any other character would
    // become "?" and the client would log in with that.
    if (!IsLatin1(l_username) || !IsLatin1(l_password)) {
        QMessageBox::warning(this, tr("Unsupported characters"),
                             tr("The user name and the password may use only Latin-1 characters (the letters, digits "
                                "and signs of Western European languages). Please change the %1.")
                                 .arg(!IsLatin1(l_username) ? tr("user name") : tr("password")));
        (!IsLatin1(l_username) ? ui->usernameEdit : ui->passwordEdit)->setFocus(Qt::OtherFocusReason);
        return;
    }
    QDialog::accept();
    Settings::Set("username", ToLatin1Text(l_username));
    Settings::Set("password", ToLatin1Text(l_password));
    if (!m_firstRun)
        deleteLater();
}
