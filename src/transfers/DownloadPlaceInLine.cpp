// Places in line at the peers, and the peers' notices about a download:
// its place, a refusal, or a failed upload.
#include "transfers/TransferQueueManager.h"

#include "core/io/MemStream.h"
#include "core/log/Log.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerMessageCodes.h"
#include "peer/PeerMessenger.h"
#include "transfers/TransferStatus.h"

ItemPtr TransferQueueManager::MatchNotice(const std::string& i_user, const std::string& i_file, bool i_logMissing)
{
    const RemoteFilePath l_path = SplitRemotePath(i_file);
    ItemPtr l_download = GetDownloadEntry(i_user, l_path.m_name, l_path.m_folder);
    if (!l_download && i_logMissing)
        Log(LogArea, 2, "Download not found.", d.GetType("user")->GetItem(i_user));
    return l_download;
}

void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr i_download)
{
    ItemPtr l_user = i_download["user"];
    MemStream l_message;
    l_message.Write(static_cast<unsigned int>(PeerMessageCodes::UploadPlaceInLineRequest));
    l_message.Write(TransferText::RemotePath(i_download));
    Log(LogArea, 1,
        QString("Requesting place in line for download of %1 from %2")
            .arg(TransferText::Of(i_download["file_name"].AsString()), TransferText::Of(l_user.AsString())),
        l_user);
    if (peerMessenger)
        peerMessenger->SendMessage(l_user.AsString(), l_message);
}

void TransferQueueManager::RequestUserDownloadsPlaceInLine(std::string i_user)
{
    const ItemSet l_queued = d.GetType("user")->GetItem(i_user).GetItems("download_entry").Connected(
        "download_entry_status", TransferStatus::Queued);
    for (ItemPtr l_download : l_queued)
        RequestDownloadPlaceInLine(l_download);
}

void TransferQueueManager::OnDownloadPlaceInLine(std::string i_user, std::string i_file, int i_place)
{
    if (ItemPtr l_download = MatchNotice(i_user, i_file, false))
        l_download += d.GetType("place_in_line")->GetItem(ToString(i_place));
}

void TransferQueueManager::OnUploadDeniedNotification(std::string i_user, std::string i_file, std::string i_reason)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    Log(LogArea, 1,
        QString("Received peer notification from %1 that upload of %2 was denied, reason: %3")
            .arg(TransferText::Of(i_user), TransferText::Of(i_file), TransferText::Of(i_reason)),
        l_user);
    ItemPtr l_download = MatchNotice(i_user, i_file, true);
    if (!l_download)
        return;
    Log(LogArea, 2, "Download found, marking as denied.", l_user);
    l_download += d.GetType("denial_reason")->GetItem(i_reason);
    SetDownloadEntryStatus(l_download, TransferStatus::Denied);
}

void TransferQueueManager::OnUploadFailedNotification(std::string i_user, std::string i_file)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    Log(LogArea, 1,
        QString("Received peer notification from %1 that upload of %2 failed")
            .arg(TransferText::Of(i_user), TransferText::Of(i_file)),
        l_user);
    ItemPtr l_download = MatchNotice(i_user, i_file, true);
    if (!l_download)
        return;
    Log(LogArea, 2, "Download found!", l_user);
    QueueDownloadIfUserOnline(l_download);
}
