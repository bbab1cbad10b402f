// The download queue: adding and removing downloads, their status changes,
// and queueing them at their users when added, when a user comes online and
// every five minutes while nothing downloads.
#include "transfers/TransferQueueManager.h"

#include "core/log/Log.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "transfers/DownloadPartials.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"

#include <QFile>

using TransferEntries::IsActiveStatus;
using TransferEntries::IsOnline;

namespace
{
std::string StatusOf(ItemPtr i_download)
{
    return i_download["download_entry_status"].AsString();
}
}  // namespace

ItemPtr TransferQueueManager::GetDownloadEntry(std::string i_user, std::string i_file, std::string i_folder)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    ItemPtr l_file = d.GetType("file_name")->HasItem(i_file);
    ItemPtr l_folder = d.GetType("remote_folder")->HasItem(i_folder);
    if (!l_user || !l_file || !l_folder)
        return ItemPtr();
    return d.GetItem(ItemSet{l_user.Get(), l_file.Get(), l_folder.Get()}, "download_entry");
}

ItemPtr TransferQueueManager::AddDownload(std::string i_user, std::string i_file, std::string i_folder, qint64 i_size,
                                          int i_subFolderLevel)
{
    if (ItemPtr l_existing = GetDownloadEntry(i_user, i_file, i_folder))
        return l_existing;

    ItemPtr l_download = d.GetType("download_entry")->NewItem();
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    l_download += l_user;
    l_download += d.GetType("file_name")->GetItem(i_file);
    l_download += d.GetType("remote_folder")->GetItem(i_folder);
    l_download += d.GetType("file_size")->GetItem(ToString(i_size));
    l_download += d.GetType("subfolder_save_level")->GetItem(ToString(i_subFolderLevel));
    l_download += d.GetType("download_order")->GetItem(ToString(TakeTransferOrder()));
    if (gp_server)
        gp_server->TrackUser(i_user);

    emit DownloadListChanged();

    if (CompleteIfFetchedBefore(l_download))
        return l_download;
    SetDownloadEntryStatus(l_download, TransferStatus::Queued);
    if (IsOnline(l_user) && peerMessenger) {
        peerMessenger->QueueDownload(i_user, TransferText::RemotePath(l_download));
        RequestDownloadPlaceInLine(l_download);
    }
    return l_download;
}

bool TransferQueueManager::CompleteIfFetchedBefore(ItemPtr i_download)
{
    if (StatusOf(i_download) == TransferStatus::Complete || !DoesDownloadItemCompleteFilenameExist(i_download))
        return false;
    // An empty partial file of its own holds nothing to keep; its recorded
    // path would stay taken for good.
    const std::string l_partial = i_download["partial_path"].AsString();
    if (!l_partial.empty()) {
        QFile::remove(QString::fromStdString(l_partial));
        DownloadPartials::Forget(i_download);
    }
    i_download += d.GetType("complete_path")->GetItem(GetDownloadTargetPath(i_download, true).toStdString());
    SetDownloadEntryStatus(i_download, TransferStatus::Complete);
    // Its row shows the whole file, not the bytes of an earlier attempt.
    TransferFigures::Attach<TransferFigures::Position>(i_download, "write_position", i_download["file_size"].AsInt64());
    emit DownloadProgressed(i_download);
    return true;
}

void TransferQueueManager::SetDownloadEntryStatus(ItemPtr i_download, std::string i_status)
{
    const bool l_wasActive = IsActiveStatus(i_download["download_entry_status"]);
    const bool l_finishes = i_status == TransferStatus::Complete && StatusOf(i_download) != i_status;
    ItemPtr l_status = d.GetType("download_entry_status")->GetItem(i_status);
    i_download += l_status;
    StampStatusChange(i_download);
    if (l_finishes)
        emit DownloadListChanged();
    if (l_wasActive && !IsActiveStatus(l_status)) {
        StopTransferThread(i_download, "download_thread", false);
        TransferFigures::Release(i_download, TransferFigures::DownloadResources);
    }
}

void TransferQueueManager::RemoveDownload(ItemPtr i_download)
{
    StopTransferThread(i_download, "download_thread", true);
    TransferFigures::Release(i_download, TransferFigures::DownloadResources);
    i_download.Remove();
}

void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr i_download)
{
    ItemPtr l_user = i_download["user"];
    const std::string l_path = TransferText::RemotePath(i_download);
    const std::string l_status = StatusOf(i_download);
    if (l_status == TransferStatus::LocalError) {
        Log(LogArea, 1,
            QString("Download status %1, not re-queueing %2").arg(TransferText::Of(l_status), TransferText::Of(l_path)),
            l_user);
        return;
    }
    if (!IsOnline(l_user)) {
        Log(LogArea, 1,
            QString("User %1 offline, not re-queueing %2").arg(TransferText::Of(l_user.AsString()), TransferText::Of(l_path)),
            l_user);
        return;
    }
    if (CompleteIfFetchedBefore(i_download))
        return;
    Log(LogArea, 1,
        QString("User %1 appears to still be online, re-queueing %2")
            .arg(TransferText::Of(l_user.AsString()), TransferText::Of(l_path)),
        l_user);
    if (peerMessenger)
        peerMessenger->QueueDownload(l_user.AsString(), l_path);
}

void TransferQueueManager::PeriodicCheck()
{
    Type* lp_status = d.GetType("download_entry_status");
    if (!lp_status->HasItem(TransferStatus::Downloading).GetItems("download_entry").empty())
        return;
    ItemSet l_waiting = lp_status->HasItem(TransferStatus::Queued).GetItems("download_entry");
    l_waiting.Add(lp_status->HasItem(TransferStatus::Aborted).GetItems("download_entry"));
    ItemSet l_online;
    for (ItemPtr l_download : l_waiting) {
        if (IsOnline(l_download["user"]))
            l_online.insert(l_download);
    }
    if (l_online.empty())
        return;
    Log(LogArea, 1, "Not currently downloading anything, re-queueing inactive downloads");
    for (ItemPtr l_download : l_online.SortNumericBy("download_order", true))
        QueueDownloadIfUserOnline(l_download);
}

void TransferQueueManager::OnUserOnline(Item* ip_user)
{
    ItemPtr l_user(ip_user);
    const ItemSet l_downloads = l_user.GetItems("download_entry");
    if (!l_downloads.empty())
        Log(LogArea, 1,
            QString("User %1 went online, processing pending downloads").arg(TransferText::Of(l_user.AsString())), l_user);
    for (ItemPtr l_download : l_downloads.SortNumericBy("download_order", true)) {
        const std::string l_status = StatusOf(l_download);
        if (l_status == TransferStatus::Complete || l_status == TransferStatus::Denied)
            continue;
        if (CompleteIfFetchedBefore(l_download))
            continue;
        if (peerMessenger)
            peerMessenger->QueueDownload(l_user.AsString(), TransferText::RemotePath(l_download));
        RequestDownloadPlaceInLine(l_download);
        Log(LogArea, 2, QString("Queueing %1").arg(TransferText::Of(l_download["file_name"].AsString())), l_user);
    }
    m_startOrder.UserChanged(ip_user);
    StartNewUploads();
}

bool TransferQueueManager::IsActivelyDownloadingFromUser(std::string i_user)
{
    ItemPtr l_downloading = d.GetType("download_entry_status")->HasItem(TransferStatus::Downloading);
    if (!l_downloading)
        return false;
    return !d.GetType("user")->GetItem(i_user).GetItems("download_entry").Connected(l_downloading).empty();
}
