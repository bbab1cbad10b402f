#pragma once

#include <QDialog>

namespace Ui
{
class AddSharedFolderDialog;
}

// Picks a local folder to share and who may see it: everyone, every user of
// the user list, or the members of chosen user-list groups. OK shares the
// folder (indexing it when it is new) and adds the chosen access marks; the
// marks a folder already has stay. Non-modal, and deletes itself when closed.
class AddSharedFolderDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddSharedFolderDialog(QWidget* ip_parent = nullptr);
    ~AddSharedFolderDialog() override;

public slots:
    void OnSelectFolderClicked();
    // Without a chosen folder nothing happens and the dialog stays open.
    void accept() override;
    void OnAccessibleToEveryoneCheckStateChanged(int i_checkState);
    void OnAccessibleToUserListCheckStateChanged(int i_checkState);

private:
    void ShareFolder(const QString& i_folder);

    Ui::AddSharedFolderDialog* ui;
};
