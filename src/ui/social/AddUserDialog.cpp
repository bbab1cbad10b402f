#include "ui/social/AddUserDialog.h"

#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "server/Server.h"
#include "ui/social/SocialText.h"
#include "ui_AddUserDialog.h"

AddUserDialog::AddUserDialog(QWidget* ip_parent) : QDialog(ip_parent), ui(new Ui::AddUserDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->addFriendButton, &QPushButton::clicked, this, &AddUserDialog::OnAddUserClicked);
    if (gp_server) {
        connect(gp_server, &Server::AddUserResponse, this, &AddUserDialog::OnAddUserResponse);
        connect(gp_server, &Server::Disconnected, this, &AddUserDialog::OnDisconnected);
    }
    ui->userNameEdit->setFocus(Qt::OtherFocusReason);
}

AddUserDialog::~AddUserDialog()
{
    delete ui;
}

// The name goes to the server as the Latin-1 bytes of what was typed, the
// form in which every user name is stored.
void AddUserDialog::OnAddUserClicked()
{
    if (!m_requestedUser.empty())
        return;
    const QString l_name = ui->userNameEdit->text().trimmed();
    if (l_name.isEmpty()) {
        ui->statusEdit->setText(tr("User name must not be empty."));
        return;
    }
    if (!FitsLatin1(l_name)) {
        ui->statusEdit->setText(tr("User name holds characters outside Latin-1."));
        return;
    }
    if (!gp_server || !gp_server->IsConnected()) {
        ui->statusEdit->setText(tr("Must be online to add a user to your list."));
        return;
    }
    const std::string l_user = ToLatin1Text(l_name);
    if (d.GetType("user")->HasItem(l_user).HasItem("in_user_list")) {
        ui->statusEdit->setText(tr("User already in list."));
        return;
    }
    ui->statusEdit->setText(tr("Adding user..."));
    m_requestedUser = l_user;
    SetWaiting(true);
    gp_server->AddUser(m_requestedUser);
}

// Answers about other names (users the client tracks) are not this
// dialog's.
void AddUserDialog::OnAddUserResponse(std::string i_user, bool i_exists)
{
    if (m_requestedUser.empty() || i_user != m_requestedUser)
        return;
    m_requestedUser.clear();
    SetWaiting(false);
    if (!i_exists) {
        ui->statusEdit->setText(tr("User name does not exist."));
        return;
    }
    d.GetType("user")->GetItem(i_user).NewItem("in_user_list");
    ui->statusEdit->setText(tr("User added to list."));
}

// No answer comes over a link that is gone.
void AddUserDialog::OnDisconnected()
{
    if (m_requestedUser.empty())
        return;
    m_requestedUser.clear();
    SetWaiting(false);
    ui->statusEdit->setText(tr("Must be online to add a user to your list."));
}

void AddUserDialog::SetWaiting(bool i_waiting)
{
    ui->userNameEdit->setReadOnly(i_waiting);
    ui->addFriendButton->setEnabled(!i_waiting);
}
