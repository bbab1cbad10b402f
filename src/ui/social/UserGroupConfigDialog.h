#pragma once

#include "core/store/Events.h"

#include <QDialog>

class Item;
class QListWidgetItem;

namespace Ui {
class UserGroupConfigDialog;
}

// "Configure User Groups": every group of the user list, and the download
// priority of the one chosen. Uploads of a user whose groups carry a higher
// priority are served first; 0 is stored as no priority at all. Changes
// take effect at once. At most one such dialog exists
// (`userGroupConfigDialog`); closing it deletes it.
class UserGroupConfigDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit UserGroupConfigDialog(QWidget* ip_parent = nullptr);
    ~UserGroupConfigDialog() override;

    Ui::UserGroupConfigDialog* Form() const { return ui; }

    // Store handlers (public: the store calls them through handlers).
    void OnUserGroupAdded(Item* ip_group);
    void OnUserGroupRemoved(Item* ip_group);

public slots:
    void OnCurrentGroupItemChanged(QListWidgetItem* ip_currentItem, QListWidgetItem* ip_lastItem);
    void OnPrioritySpinValueChanged(int i_value);

private:
    Ui::UserGroupConfigDialog* ui;
};

extern UserGroupConfigDialog* userGroupConfigDialog;
