// The commands of the window's action sets and the room list.
#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/ChangeListeningPortDialog.h"
#include "ui/frame/ChangeUsernamePasswordDialog.h"
#include "transfers/DownloadLayout.h"
#include "ui/main/MainWindow.h"
#include "ui/social/ChatForm.h"
#include "ui/social/QRoomListItemWidget.h"
#include "ui/social/RoomForm.h"
#include "ui/social/SocialPages.h"
#include "ui/widgets/AddSharedFolderDialog.h"
#include "ui/widgets/UIFunctions.h"
#include "ui_MainWindow.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

std::string Key(const char* ip_key)
{
    return ToLatin1Text(actionBar->GetKey(QString::fromLatin1(ip_key)));
}

}  // namespace

void MainWindow::DeclareActions()
{
    struct Action
    {
        const char* mp_set;
        const char* mp_id;
        const char* mp_text;
        const char* mp_icon;
        bool m_needsSelection;
    };
    static const Action s_roomList[] = {
        {"room_list", "enter_room", "Enter Room", ":/icons/room_icon", false},
        {"room_list", "create_room", "Create Room", ":/icons/room_icon", false},
        {"room_list", "refresh_room_list", "Refresh Room List", ":/icons/room_icon", false},
    };
    static const Action s_room[] = {
        {"room", "leave_room", "Leave Room", ":/icons/room_icon", false},
        {"room", "toggle_room_autojoin", "Toggle Room Autojoin", ":/icons/room_icon", false},
    };
    static const Action s_sharedFolders[] = {
        {"shared_folders", "set_download_folder", "Set Download Folder", ":/icons/browse_icon", false},
        {"shared_folders", "share_folder", "Share Folder", ":/icons/browse_icon", false},
        {"shared_folders", "unshare_folder", "Unshare Folder", ":/icons/browse_icon", false},
        {"shared_folders", "rescan_shares", "Rescan Shares", ":/icons/browse_icon", false},
    };
    static const Action s_login[] = {
        {"login_options", "set_user_pass", "Change Username/Password", ":icons/online_icon", false},
        {"login_options", "set_listening_port", "Change Listening Port", ":icons/online_icon", false},
    };
    static const Action s_user[] = {
        {"user", "message_user", "Message User", ":/icons/chat_icon", true},
        {"user", "browse_user", "Browse User's Files", ":/icons/browse_icon", true},
        {"user", "add_user", "Add User", ":/icons/add_user_icon", true},
    };
    ActionSetToolBar* lp_bar = ui->mainToolBar;
    auto l_declare = [lp_bar](const auto& i_actions) {
        for (const Action& l_action : i_actions)
            lp_bar->AddSetAction(l_action.mp_set, l_action.mp_id, l_action.mp_text, l_action.mp_icon,
                                 l_action.m_needsSelection);
    };
    l_declare(s_roomList);
    lp_bar->RegisterWidget(ui->roomList, QStringLiteral("room_list"));
    lp_bar->AddWidgetColumnKey(ui->roomList, QStringLiteral("room"), 0);
    l_declare(s_room);
    l_declare(s_sharedFolders);
    lp_bar->RegisterWidget(ui->fileSharingOptionsTab, QStringLiteral("shared_folders"));
    l_declare(s_login);
    lp_bar->RegisterWidget(ui->loginOptionsTab, QStringLiteral("login_options"));
    l_declare(s_user);
}

// Every view receives every click: ids that are not the window's are left
// to them.
void MainWindow::OnToolBarActionTriggered(std::string i_action)
{
    if (i_action == "refresh_room_list") {
        mp_server->GetRoomList();
    } else if (i_action == "enter_room") {
        // Only a room the user picked: the bar's key may still hold a name
        // from an earlier selection.
        if (ui->roomList->selectedItems().isEmpty())
            return;
        const std::string l_room = Key("room");
        if (!l_room.empty())
            mp_server->EnterRoom(l_room);
    } else if (i_action == "leave_room") {
        mp_server->LeaveRoom(Key("room"));
    } else if (i_action == "share_folder") {
        (new AddSharedFolderDialog(this))->show();
    } else if (i_action == "unshare_folder") {
        UnshareSelectedFolders();
    } else if (i_action == "set_download_folder") {
        ChooseDownloadFolder();
    } else if (i_action == "rescan_shares") {
        sharedFoldersManager->RescanShares();
    } else if (i_action == "message_user") {
        const std::string l_user = Key("user");
        if (!l_user.empty())
            mp_social->GetChatForm(l_user)->Focus();
    } else if (i_action == "browse_user") {
        peerMessenger->GetUserSharedFiles(Key("user"));
    } else if (i_action == "add_user") {
        d.GetType("user")->GetItem(Key("user")).NewItem("in_user_list");
    } else if (i_action == "toggle_room_autojoin") {
        ToggleRoomAutojoin(Key("room"));
    } else if (i_action == "set_user_pass") {
        if (mp_server->IsConnected()) {
            QMessageBox::information(this, tr("Cannot change username while online"),
                                     tr("You must be disconnected from the Kestrune server to change your username."));
            return;
        }
        OnChangeUsernamePasswordClicked();
    } else if (i_action == "set_listening_port") {
        (new ChangeListeningPortDialog(this))->show();
    }
}

// The folders are looked up without creating any and collected before the
// first is removed: a removal changes the list's selection under the loop.
void MainWindow::UnshareSelectedFolders()
{
    ItemList l_folders;
    Type* lp_type = d.GetType("shared_folder");
    for (QTreeWidgetItem* lp_row : ui->sharedFoldersList->selectedItems()) {
        ItemPtr l_folder = lp_type->HasItem(lp_row->text(0).toUtf8().toStdString());
        if (l_folder)
            l_folders.push_back(l_folder);
    }
    for (const ItemPtr& l_folder : l_folders) {
        l_folder.Remove();
        d.RemoveDisconnectedItems();
    }
}

// Stored as UTF-8, so a folder outside Latin-1 keeps its name.
void MainWindow::ChooseDownloadFolder()
{
    QFileDialog l_chooser(this, tr("Set Download Folder"));
    // Folders only, opened at the download folder in use rather than the
    // program's working folder.
    SetUpFolderChooser(l_chooser, DownloadLayout::Root());
    if (l_chooser.exec() != QDialog::Accepted || l_chooser.selectedFiles().isEmpty())
        return;
    const QString l_folder = l_chooser.selectedFiles().first();
    Settings::Set("download_folder", l_folder.toUtf8().toStdString());
    ui->downloadFolderEdit->setText(l_folder);
}

void MainWindow::ToggleRoomAutojoin(const std::string& i_room)
{
    ItemPtr l_room = d.GetType("room")->GetItem(i_room);
    if (l_room.HasItem("room_autojoin"))
        l_room.Disconnect("room_autojoin");
    else
        l_room.NewItem("room_autojoin");
}

// Rows are found through the window's table, not by searching the list
// (which made a list of thousands of rooms quadratic). A listed room takes
// the count the server sends again, so the list does not go stale.
void MainWindow::OnRoomUserCountAdded(ConnectionInfo& i_info)
{
    const QString l_count = QString::fromLatin1(i_info.mp_item2->m_value.c_str());
    auto [l_at, l_new] = m_roomRows.try_emplace(i_info.mp_item1->m_value, nullptr);
    if (!l_new) {
        if (l_at->second->text(1) != l_count)
            l_at->second->setText(1, l_count);
        return;
    }
    auto* lp_row = new QRoomListItemWidget;
    lp_row->setText(0, FromLatin1Text(i_info.mp_item1->m_value));
    lp_row->setText(1, l_count);
    ui->roomList->addTopLevelItem(lp_row);
    l_at->second = lp_row;
}

void MainWindow::OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (!ip_item || i_column != 0)
        return;
    const std::string l_room = ToLatin1Text(ip_item->text(0));
    if (!l_room.empty())
        mp_server->EnterRoom(l_room);
}

// The title shows the name with its ampersands doubled: the tab knows it.
void MainWindow::OnRoomTabClosed(int i_index)
{
    if (RoomForm* lp_form = mp_social->RoomFormAt(i_index))
        mp_server->LeaveRoom(lp_form->Room());
}
