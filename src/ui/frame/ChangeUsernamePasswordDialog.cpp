#include "ui/frame/ChangeUsernamePasswordDialog.h"

#include "core/persist/Settings.h"
#include "core/util/GeneralFunctions.h"

#include "ui_ChangeUsernamePasswordDialog.h"

ChangeUsernamePasswordDialog::ChangeUsernamePasswordDialog(bool i_firstRun, QWidget* ip_parent)
    : QDialog(ip_parent), ui(std::make_unique<Ui::ChangeUsernamePasswordDialog>()), m_firstRun(i_firstRun)
{
    ui->setupUi(this);
    ui->usernameEdit->setText(FromLatin1Text(Settings::Get("username")));
    ui->passwordEdit->setText(FromLatin1Text(Settings::Get("password")));
    if (m_firstRun)
        setWindowTitle(tr("Set Username/Password"));
    activateWindow();
}

ChangeUsernamePasswordDialog::~ChangeUsernamePasswordDialog() = default;

void ChangeUsernamePasswordDialog::accept()
{
    const QString l_username = ui->usernameEdit->text().trimmed();
    const QString l_password = ui->passwordEdit->text().trimmed();
    if (l_username.isEmpty() || l_password.isEmpty())
        return;
    QDialog::accept();
    Settings::Set("username", ToLatin1Text(l_username));
    Settings::Set("password", ToLatin1Text(l_password));
    if (!m_firstRun)
        deleteLater();
}
