#pragma once

#include <QDialog>

#include <string>

namespace Ui {
class AddUserDialog;
}

// Puts a user on the user list by name once the server has confirmed that
// the name exists. The dialog is idle or waits for the server's answer
// about one name (inputs locked); every result is a line in its status
// field, and it stays open for the next name. A link that drops while it
// waits brings it back to idle. Closing it deletes it.
class AddUserDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddUserDialog(QWidget* ip_parent = nullptr);
    ~AddUserDialog() override;

    Ui::AddUserDialog* Form() const { return ui; }

public slots:
    void OnAddUserClicked();
    void OnAddUserResponse(std::string i_user, bool i_exists);
    void OnDisconnected();

private:
    void SetWaiting(bool i_waiting);

    Ui::AddUserDialog* ui;
    // The name whose answer the dialog waits for; empty while idle.
    std::string m_requestedUser;
};
