// The Options tab: its fields follow the settings, its boxes store them, and
// the shared-folders list follows the "shared_folder" items.
#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "portmap/PortForwarderInterface.h"
#include "server/Server.h"
#include "ui/main/MainWindow.h"
#include "ui/widgets/SharedFilesRescannedDialog.h"
#include "ui_MainWindow.h"

namespace {

QString FolderPath(Item* ip_folder)
{
    return QString::fromUtf8(ip_folder->m_value.c_str());
}

QTreeWidgetItem* FindFolderRow(QTreeWidget* ip_list, const QString& i_path)
{
    for (int l_row = 0; l_row < ip_list->topLevelItemCount(); ++l_row) {
        if (ip_list->topLevelItem(l_row)->text(0) == i_path)
            return ip_list->topLevelItem(l_row);
    }
    return nullptr;
}

QString SettingText(const char* ip_name)
{
    return QString::fromLatin1(Settings::Get(ip_name).c_str());
}

}  // namespace

QString MainWindow::AccessText(Item* ip_folder)
{
    if (ip_folder->IsConnected("shared_public"))
        return tr("Everyone");
    if (ip_folder->IsConnected("shared_userlist"))
        return tr("User List");
    ItemSet l_groups;
    ip_folder->GetItems("user_list_group", l_groups);
    QStringList l_names;
    for (const ItemPtr& l_group : l_groups.SortAlphabetic(true))
        l_names << FromLatin1Text(l_group.AsString());
    return l_names.join(QStringLiteral(", "));
}

void MainWindow::OnSharedFolderAdded(Item* ip_item)
{
    auto* lp_row = new QTreeWidgetItem(ui->sharedFoldersList);
    lp_row->setText(0, FolderPath(ip_item));
}

void MainWindow::OnSharedFolderRemoved(Item* ip_item)
{
    delete FindFolderRow(ui->sharedFoldersList, FolderPath(ip_item));
}

void MainWindow::OnSharedFolderChange(ConnectionInfo i_connectionInfo)
{
    const std::string& l_partner = i_connectionInfo.mp_item2->mp_type->m_name;
    if (l_partner != "shared_public" && l_partner != "shared_userlist" && l_partner != "user_list_group")
        return;
    Item* lp_folder = i_connectionInfo.mp_item1;
    if (QTreeWidgetItem* lp_row = FindFolderRow(ui->sharedFoldersList, FolderPath(lp_folder)))
        lp_row->setText(1, AccessText(lp_folder));
}

void MainWindow::OnUsernameChanged(Item*)
{
    ui->usernameEdit->setText(SettingText("username"));
}

void MainWindow::OnNewListeningPortChanged(Item*)
{
    ui->listeningPortEdit->setText(SettingText("new_listening_port"));
}

// The boxes are filled after their handlers are connected, so every box
// ticked here runs its handler once (UPnP then starts a router discovery).
void MainWindow::FillOptions()
{
    ui->downloadFolderEdit->setText(QString::fromUtf8(Settings::Get("download_folder").c_str()));
    ui->uPnPCheckBox->setChecked(Settings::IsYes("use_upnp"));
    ui->autoExpandSharesCheckBox->setChecked(Settings::IsYes("expand_new_shares"));
    if (Settings::IsYes("minimize_to_tray")) {
        ui->minimizeToTrayCheckBox->setChecked(true);
        m_trayIcon.setVisible(!m_trayIcon.icon().isNull());
    }
    ui->listeningPortEdit->setText(SettingText("listening_port"));
}

void MainWindow::OnSharedFilesRescanned(int i_filesAdded, int i_filesRemoved)
{
    auto* lp_report = new SharedFilesRescannedDialog(this);
    lp_report->Append(tr("%1 files added.").arg(i_filesAdded));
    lp_report->Append(tr("%1 files removed.").arg(i_filesRemoved));
    lp_report->setWindowTitle(tr("Shared Files Rescanned"));
    lp_report->show();
}

void MainWindow::OnOptionsTabSelectionChanged(int i_tabIndex)
{
    if (i_tabIndex != -1 && ui->optionsTabControl->tabText(i_tabIndex) == QLatin1String("File Sharing"))
        ui->sharedFoldersList->setFocus(Qt::OtherFocusReason);
}

void MainWindow::OnUPnPCheckboxToggled(bool i_toggled)
{
    Settings::Set("use_upnp", i_toggled ? "yes" : "no");
    if (i_toggled && gp_server && gp_server->GetPortForwarder())
        gp_server->GetPortForwarder()->Init();
}

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool i_toggled)
{
    Settings::Set("minimize_to_tray", i_toggled ? "yes" : "no");
    // Never a tray icon without an image.
    m_trayIcon.setVisible(i_toggled && !m_trayIcon.icon().isNull());
}

void MainWindow::OnExpandNewSharesCheckboxToggled(bool i_toggled)
{
    Settings::Set("expand_new_shares", i_toggled ? "yes" : "no");
}
