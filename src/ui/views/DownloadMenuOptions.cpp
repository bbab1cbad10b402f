#include "ui/views/DownloadMenuOptions.h"

#include "core/platform/DesktopOpener.h"
#include "server/Server.h"
#include "transfers/TransferQueueManager.h"
#include "ui/widgets/UIFunctions.h"

#include <QIcon>
#include <QMenu>

DownloadMenuOptions::DownloadMenuOptions(QMenu* ip_menu, ItemSet i_downloads, QObject* ip_parent)
    : QObject(ip_parent)
{
    if (i_downloads.empty())
        return;
    m_downloads = std::move(i_downloads);
    d.GetType("download_entry")->ItemRemovedEvent.m_handlerSet.insert(
        MakeHandler(&DownloadMenuOptions::OnDownloadRemoved));

    if (!ip_menu->actions().isEmpty())
        ip_menu->addSeparator();
    const ItemPtr l_first = FirstDownload();
    if (m_downloads.size() == 1 && l_first["download_entry_status"].AsString() == "complete")
        ip_menu->addAction(tr("Open File"), this, &DownloadMenuOptions::OnOpenFile);
    ip_menu->addAction(tr("Open Folder"), this, &DownloadMenuOptions::OnOpenFolder);
    ip_menu->addSeparator();
    ip_menu->addAction(QIcon(QStringLiteral(":/icons/transfer_icon")),
                       m_downloads.size() > 1 ? tr("Remove downloads") : tr("Remove download"), this,
                       &DownloadMenuOptions::OnRemoveDownloads);
    if (const ItemPtr l_search = l_first["search_request_text"]) {
        m_searchText = QString::fromUtf8(l_search.AsString());
        ip_menu->addAction(QIcon(QStringLiteral(":/icons/search_icon")),
                           LiteralLabel(tr("Re-run Search: ") + m_searchText), this,
                           &DownloadMenuOptions::OnRerunSearch);
    }
}

void DownloadMenuOptions::OnDownloadRemoved(Item* ip_download)
{
    m_downloads.erase(ip_download);
}

void DownloadMenuOptions::OnOpenFile()
{
    OpenCompleteTarget(false);
}

void DownloadMenuOptions::OnOpenFolder()
{
    OpenCompleteTarget(true);
}

// Where the first download's file was stored, or will be once finished;
// nothing when its names cannot be placed in the download folder.
void DownloadMenuOptions::OpenCompleteTarget(bool i_folder)
{
    const ItemPtr l_download = FirstDownload();
    if (l_download.IsNull())
        return;
    const QString l_target = i_folder ? transferQueueManager->GetFinishedFileFolder(l_download)
                                      : transferQueueManager->GetFinishedFilePath(l_download);
    if (!l_target.isEmpty())
        OpenLocalPathWithDesktop(l_target);
}

void DownloadMenuOptions::OnRemoveDownloads()
{
    // Each removal drops the entry from the set through the store's event.
    const ItemSet l_downloads = m_downloads;
    for (Item* lp_download : l_downloads) {
        if (m_downloads.contains(lp_download))
            transferQueueManager->RemoveDownload(lp_download);
    }
}

void DownloadMenuOptions::OnRerunSearch()
{
    if (gp_server)
        gp_server->FileSearch(m_searchText.toUtf8().toStdString(), false);
}
