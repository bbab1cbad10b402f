#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ChangeUsernamePasswordDialog;
}

// Edits the settings "username" and "password" with which the server link
// logs in at its next connection. OK with a blank field does nothing. In
// first-run mode (no user name yet, run modally at start) the caller owns
// the dialog; otherwise it deletes itself after a successful OK.
class ChangeUsernamePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangeUsernamePasswordDialog(bool i_firstRun, QWidget* ip_parent = nullptr);
    ~ChangeUsernamePasswordDialog() override;

public slots:
    void accept() override;

private:
    std::unique_ptr<Ui::ChangeUsernamePasswordDialog> ui;
    bool m_firstRun;
};
