#pragma once

#include "core/store/Events.h"
#include "core/store/Item.h"

#include <QPoint>
#include <QWidget>

#include <string>

class Item;
class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class UserListForm;
}

// The Users page: the user list (each listed user with "Online" while the
// server reports the user online, and the user's groups) and the users the
// client does not share with ("Unshared"). Both follow the store; each row
// has a node item valued by its address and connected to its user, so a
// store event finds its row. The page's action set "user_list" adds users
// by name and configures the groups' priorities; both lists open the user
// menu.
class UserListForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit UserListForm(QWidget* ip_parent = nullptr);
    ~UserListForm() override;

    // Once, after the data file was loaded and the link started.
    void Init();
    // The Groups cell of the user's row: the groups' names in byte order,
    // joined by ", ".
    void UpdateUserGroupsDisplay(const std::string& i_user);

    Ui::UserListForm* Form() const { return ui; }

    // Store handlers (public: the store calls them through handlers).
    void OnUserOnline(Item* ip_user);
    void OnUserOffline(Item* ip_user);
    void OnUserAddedToList(Item* ip_user);
    void OnUserRemovedFromList(Item* ip_user);
    void OnUserGroupAdded(Item* ip_user);
    void OnUserGroupRemoved(Item* ip_user);
    void OnUserUnshared(Item* ip_user);
    void OnUserReshared(Item* ip_user);

public slots:
    void OnActionBarTriggered(std::string i_action);
    void OnUserListContextMenuRequested(QPoint i_point);
    void OnUnsharedListContextMenuRequested(QPoint i_point);

private:
    void DeclareTypes();
    void Subscribe();
    QTreeWidgetItem* AddRow(QTreeWidget* ip_list, const char* ip_nodeType, ItemPtr i_user);
    void RemoveRow(const char* ip_nodeType, ItemPtr i_user);
    void SetOnlineText(ItemPtr i_user, bool i_online);
    void OpenUserMenu(QTreeWidget* ip_list, QPoint i_point);

    Ui::UserListForm* ui;
};
