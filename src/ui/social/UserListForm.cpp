#include "ui/social/UserListForm.h"

#include "core/store/Data.h"
#include "core/store/PathNode.h"
#include "core/util/GeneralFunctions.h"
#include "server/Server.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/SizeManager.h"
#include "ui/social/AddUserDialog.h"
#include "ui/social/UserGroupConfigDialog.h"
#include "ui/social/UserMenuOptions.h"
#include "ui_UserListForm.h"


namespace {

constexpr char ListNode[] = "user_list_node";
constexpr char UnsharedNode[] = "unshared_list_node";
constexpr int NameColumn = 0;
constexpr int OnlineColumn = 1;
constexpr int GroupsColumn = 2;

// A path from any user through the steps, each hanging on the one before
// when i_chain is set, else on the user itself.
void Watch(std::initializer_list<std::pair<const char*, PathNodeRelation>> i_steps, bool i_chain,
           EventHandlerBase<Item*>* ip_handler)
{
    auto* lp_root = new PathNode(&d, "user");
    PathNode* lp_parent = lp_root;
    for (const auto& [lp_type, l_relation] : i_steps) {
        auto* lp_node = new PathNode(lp_parent, lp_type, l_relation);
        if (i_chain)
            lp_parent = lp_node;
    }
    d.AddPathEventHandler(lp_root, ip_handler);
}

QTreeWidgetItem* RowOf(const char* ip_nodeType, ItemPtr i_user)
{
    return i_user[ip_nodeType].AsObject<QTreeWidgetItem>();
}

}  // namespace

UserListForm::UserListForm(QWidget* ip_parent) : QWidget(ip_parent), ui(new Ui::UserListForm)
{
    ui->setupUi(this);
    ui->userList->setHeaderLabels({tr("User"), tr("Online Status"), tr("Groups")});
    ui->userList->setColumnWidth(NameColumn, 200);
    ui->userList->setColumnWidth(OnlineColumn, 100);
    ui->unsharedList->setHeaderLabels({tr("User")});
    ui->unsharedList->setColumnWidth(NameColumn, 200);
    connect(ui->userList, &QWidget::customContextMenuRequested, this, &UserListForm::OnUserListContextMenuRequested);
    connect(ui->unsharedList, &QWidget::customContextMenuRequested, this,
            &UserListForm::OnUnsharedListContextMenuRequested);
}

UserListForm::~UserListForm()
{
    delete ui;
}

void UserListForm::Init()
{
    DeclareTypes();
    for (ItemPtr l_user : d.GetType("user")->GetItems().Connected("in_user_list")) {
        AddRow(ui->userList, ListNode, l_user);
        if (gp_server)
            gp_server->TrackUser(l_user->m_value);
        UpdateUserGroupsDisplay(l_user->m_value);
    }
    ui->userList->setSortingEnabled(true);
    ui->userList->sortByColumn(NameColumn, Qt::AscendingOrder);
    for (ItemPtr l_user : d.GetType("user")->GetItems().Connected("unshared"))
        AddRow(ui->unsharedList, UnsharedNode, l_user);
    ui->unsharedList->setSortingEnabled(true);
    ui->unsharedList->sortByColumn(NameColumn, Qt::AscendingOrder);

    Subscribe();
    if (actionBar) {
        actionBar->AddSetAction("user_list", "manual_add_user", "Add User", ":/icons/add_user_icon", false);
        actionBar->AddSetAction("user_list", "configure_user_groups", "Configure User Groups", ":/icons/users_icon",
                                false);
        actionBar->RegisterWidget(ui->userListTab, QStringLiteral("user_list"));
        actionBar->AutoFocusTabWidget(ui->tabWidget);
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &UserListForm::OnActionBarTriggered);
    }
    Watch({{"in_user_list", AlreadyConnected}, {"user_list_group", NewlyConnected}}, true,
          MakeHandler(&UserListForm::OnUserGroupAdded));
    Watch({{"in_user_list", AlreadyConnected}, {"user_list_group", NewlyDisconnected}}, true,
          MakeHandler(&UserListForm::OnUserGroupRemoved));
    if (sizeManager)
        sizeManager->RegisterTreeWidget(QStringLiteral("user_list"), ui->userList);
}

void UserListForm::DeclareTypes()
{
    Type* lp_user = d.GetType("user");
    d.NewType(ListNode, true, false, true)->RelateToType(lp_user, One, One, false);
    d.NewType(UnsharedNode, true, false, true)->RelateToType(lp_user, One, One, false);
}

void UserListForm::Subscribe()
{
    Watch({{"is_online", NewlyConnected}, {"in_user_list", AlreadyConnected}}, false,
          MakeHandler(&UserListForm::OnUserOnline));
    Watch({{"is_online", NewlyDisconnected}, {"in_user_list", AlreadyConnected}}, false,
          MakeHandler(&UserListForm::OnUserOffline));
    Watch({{"in_user_list", NewlyConnected}}, false, MakeHandler(&UserListForm::OnUserAddedToList));
    Watch({{"in_user_list", NewlyDisconnected}}, false, MakeHandler(&UserListForm::OnUserRemovedFromList));
    Watch({{"unshared", NewlyConnected}}, false, MakeHandler(&UserListForm::OnUserUnshared));
    Watch({{"unshared", NewlyDisconnected}}, false, MakeHandler(&UserListForm::OnUserReshared));
}

QTreeWidgetItem* UserListForm::AddRow(QTreeWidget* ip_list, const char* ip_nodeType, ItemPtr i_user)
{
    auto* lp_row = new QTreeWidgetItem;
    lp_row->setText(NameColumn, FromLatin1Text(i_user->m_value));
    ip_list->addTopLevelItem(lp_row);
    i_user += d.GetType(ip_nodeType)->GetItem(Value(lp_row));
    return lp_row;
}

void UserListForm::RemoveRow(const char* ip_nodeType, ItemPtr i_user)
{
    const ItemPtr l_node = i_user[ip_nodeType];
    if (!l_node)
        return;
    delete l_node.AsObject<QTreeWidgetItem>();
    l_node.Remove();
}

void UserListForm::SetOnlineText(ItemPtr i_user, bool i_online)
{
    if (QTreeWidgetItem* lp_row = RowOf(ListNode, i_user))
        lp_row->setText(OnlineColumn, i_online ? tr("Online") : QString());
}

void UserListForm::OnUserOnline(Item* ip_user)
{
    SetOnlineText(ip_user, true);
}

void UserListForm::OnUserOffline(Item* ip_user)
{
    SetOnlineText(ip_user, false);
}

void UserListForm::OnUserAddedToList(Item* ip_user)
{
    const ItemPtr l_user(ip_user);
    if (RowOf(ListNode, l_user))
        return;
    AddRow(ui->userList, ListNode, l_user);
    SetOnlineText(l_user, l_user.IsConnected("is_online"));
    if (gp_server)
        gp_server->TrackUser(l_user->m_value);
    UpdateUserGroupsDisplay(l_user->m_value);
}

void UserListForm::OnUserRemovedFromList(Item* ip_user)
{
    RemoveRow(ListNode, ip_user);
}

void UserListForm::OnUserGroupAdded(Item* ip_user)
{
    UpdateUserGroupsDisplay(ip_user->m_value);
}

void UserListForm::OnUserGroupRemoved(Item* ip_user)
{
    UpdateUserGroupsDisplay(ip_user->m_value);
}

void UserListForm::OnUserUnshared(Item* ip_user)
{
    if (!RowOf(UnsharedNode, ip_user))
        AddRow(ui->unsharedList, UnsharedNode, ip_user);
}

void UserListForm::OnUserReshared(Item* ip_user)
{
    RemoveRow(UnsharedNode, ip_user);
}

void UserListForm::UpdateUserGroupsDisplay(const std::string& i_user)
{
    const ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    QTreeWidgetItem* lp_row = RowOf(ListNode, l_user);
    if (!lp_row)
        return;
    QStringList l_names;
    for (const ItemPtr& l_group : l_user["in_user_list"].GetItems("user_list_group").SortAlphabetic(true))
        l_names << FromLatin1Text(l_group->m_value);
    lp_row->setText(GroupsColumn, l_names.join(QStringLiteral(", ")));
}

void UserListForm::OnActionBarTriggered(std::string i_action)
{
    if (i_action == "configure_user_groups") {
        if (userGroupConfigDialog) {
            userGroupConfigDialog->raise();
            userGroupConfigDialog->activateWindow();
            userGroupConfigDialog->setFocus(Qt::OtherFocusReason);
            return;
        }
        (new UserGroupConfigDialog(this))->show();
    } else if (i_action == "manual_add_user") {
        (new AddUserDialog(this))->show();
    }
}

void UserListForm::OnUserListContextMenuRequested(QPoint i_point)
{
    OpenUserMenu(ui->userList, i_point);
}

void UserListForm::OnUnsharedListContextMenuRequested(QPoint i_point)
{
    OpenUserMenu(ui->unsharedList, i_point);
}

void UserListForm::OpenUserMenu(QTreeWidget* ip_list, QPoint i_point)
{
    QTreeWidgetItem* lp_row = ip_list->itemAt(i_point);
    if (!lp_row)
        return;
    RunUserMenu(ip_list, i_point, ToLatin1Text(lp_row->text(NameColumn)));
}
