#pragma once

#include "core/store/Events.h"

#include <QDialog>

#include <string>

class Item;
class QListWidgetItem;

namespace Ui {
class UserGroupsDialog;
}

// The groups of one listed user: every group of the user list as a row,
// checked where the user belongs to it. A check or uncheck changes the
// membership at once; the line under the list creates a new, empty group,
// which every open groups dialog then lists. The checks show the
// memberships as they were at opening; each click looks at the store again.
// For a user who is not (or no longer) on the list a click changes nothing
// and its row goes back to its state. Closing the dialog deletes it.
class UserGroupsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    UserGroupsDialog(std::string i_user, QWidget* ip_parent = nullptr);
    ~UserGroupsDialog() override;

    Ui::UserGroupsDialog* Form() const { return ui; }

    // Store handler (public: the store calls it through a handler).
    void OnUserGroupAdded(Item* ip_group);

public slots:
    void OnNewGroupButtonClicked();
    void OnGroupItemChanged(QListWidgetItem* ip_item);

private:
    void AddRow(const std::string& i_group, bool i_checked);

    std::string m_user;
    Ui::UserGroupsDialog* ui;
};
