#include "ui/social/UserMenuOptions.h"

#include "core/store/Data.h"
#include "peer/PeerMessenger.h"
#include "transfers/TransferQueueManager.h"
#include "ui/frame/FrameWindow.h"
#include "ui/social/SocialPages.h"
#include "ui/social/UserGroupsDialog.h"
#include "ui/widgets/UIFunctions.h"

#include <QAbstractScrollArea>
#include <QIcon>
#include <QMenu>

UserMenuOptions::UserMenuOptions(QMenu* ip_menu, std::string i_user, QObject* ip_parent)
    : QObject(ip_parent), m_user(std::move(i_user))
{
    if (!ip_menu->actions().isEmpty())
        ip_menu->addSeparator();
    const ItemPtr l_user = d.GetType("user")->GetItem(m_user);
    ip_menu->addAction(QIcon(QStringLiteral(":/icons/chat_icon")), tr("Message user"), this,
                       &UserMenuOptions::OnMessageUser);
    if (l_user.IsConnected("in_user_list")) {
        ip_menu->addAction(QIcon(QStringLiteral(":/icons/users_icon")), tr("Set user's groups"), this,
                           &UserMenuOptions::OnSetUserGroups);
        ip_menu->addAction(QIcon(QStringLiteral(":/icons/remove_user_icon")), tr("Remove user from list"), this,
                           &UserMenuOptions::OnRemoveUser);
    } else {
        ip_menu->addAction(QIcon(QStringLiteral(":/icons/add_user_icon")), tr("Add user to list"), this,
                           &UserMenuOptions::OnAddUser);
    }
    const QIcon l_browse(QStringLiteral(":/icons/browse_icon"));
    ip_menu->addAction(l_browse, tr("Browse user's files"), this, &UserMenuOptions::OnBrowseUser);
    ip_menu->addSeparator();
    if (l_user.IsConnected("unshared"))
        ip_menu->addAction(l_browse, tr("Re-share files with user"), this, &UserMenuOptions::OnReshareFilesWithUser);
    else
        ip_menu->addAction(l_browse, tr("Unshare files from user"), this, &UserMenuOptions::OnUnshareFilesFromUser);
}

void UserMenuOptions::OnMessageUser()
{
    if (gp_socialPages)
        gp_socialPages->OpenChatForm(m_user);
}

void UserMenuOptions::OnSetUserGroups()
{
    OpenGroupsDialog();
}

// On the list at once, whatever the link's state; the groups can be chosen
// right away.
void UserMenuOptions::OnAddUser()
{
    d.GetType("user")->GetItem(m_user).NewItem("in_user_list");
    OpenGroupsDialog();
}

// The old membership keeps its groups; a user added again starts afresh.
void UserMenuOptions::OnRemoveUser()
{
    d.GetType("user")->GetItem(m_user).Disconnect("in_user_list");
}

// A page of the user's share that is open already comes forward; otherwise
// the user is asked for the listing, and the browse view opens a page when
// it arrives.
void UserMenuOptions::OnBrowseUser()
{
    const ItemPtr l_share = d.GetType("user")->HasItem(m_user)["user_share"];
    if (d.HasType("user_share_tab")) {
        if (ItemPtr l_tab = l_share["user_share_tab"]) {
            FocusWidgetAndParents(l_tab.AsObject<QWidget>());
            return;
        }
    }
    if (peerMessenger)
        peerMessenger->GetUserSharedFiles(m_user);
}

void UserMenuOptions::OnUnshareFilesFromUser()
{
    if (transferQueueManager)
        transferQueueManager->UnshareUser(m_user);
}

void UserMenuOptions::OnReshareFilesWithUser()
{
    if (transferQueueManager)
        transferQueueManager->ReshareUser(m_user);
}

void UserMenuOptions::OpenGroupsDialog()
{
    auto* lp_dialog = new UserGroupsDialog(m_user, gp_frameWindow ? gp_frameWindow->Widget() : nullptr);
    lp_dialog->show();
}

void RunUserMenu(QAbstractScrollArea* ip_view, QPoint i_point, const std::string& i_user)
{
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, i_user, nullptr);
    l_menu.exec(ip_view->viewport()->mapToGlobal(i_point));
}
