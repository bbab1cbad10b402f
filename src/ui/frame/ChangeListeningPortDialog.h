#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ChangeListeningPortDialog;
}

// Chooses another port for the plain peer listener. The port in use never
// changes while the client runs: the choice is stored in
// "new_listening_port", which the peer layer takes over at the next start.
// Deletes itself after a successful OK.
class ChangeListeningPortDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangeListeningPortDialog(QWidget* ip_parent = nullptr);
    ~ChangeListeningPortDialog() override;

public slots:
    void accept() override;

private:
    std::unique_ptr<Ui::ChangeListeningPortDialog> ui;
};
