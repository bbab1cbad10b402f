// The manager's view of the download folder layout: each entry's partial
// and complete locations, and the clean-up of emptied partial folders.
#include "transfers/DownloadLayout.h"
#include "transfers/DownloadPartials.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"

#include <QDir>
#include <QFileInfo>

using DownloadLayout::OfDownload;
using TransferEntries::IsActiveStatus;

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr i_download)
{
    return DownloadLayout::CarriedNames(i_download["remote_folder"].AsString(), i_download["subfolder_save_level"].AsInt())
        .join('/');
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr i_download, bool i_complete)
{
    return OfDownload(i_download, i_complete).m_folder;
}

QString TransferQueueManager::GetDownloadTargetPath(ItemPtr i_download, bool i_complete)
{
    return OfDownload(i_download, i_complete).m_path;
}

QString TransferQueueManager::GetFinishedFilePath(ItemPtr i_download)
{
    const std::string l_stored = i_download["complete_path"].AsString();
    return l_stored.empty() ? GetDownloadTargetPath(i_download, true) : QString::fromStdString(l_stored);
}

QString TransferQueueManager::GetFinishedFileFolder(ItemPtr i_download)
{
    const std::string l_stored = i_download["complete_path"].AsString();
    return l_stored.empty() ? GetDownloadTargetFolder(i_download, true)
                            : QFileInfo(QString::fromStdString(l_stored)).path();
}

bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr i_download)
{
    // Another user's file of the same name lies at the same complete path:
    // a download that wrote bytes of its own, or is writing them, goes on
    // with them, and its finished file takes a free name beside the other.
    if (IsActiveStatus(i_download["download_entry_status"]) || DownloadPartials::HasOwnBytes(i_download))
        return false;
    const QString l_path = GetDownloadTargetPath(i_download, true);
    // Only a file is a finished download: a folder of that name would mark
    // it complete without a byte fetched. The finished file then takes a
    // free name beside the folder. The same name and size count as the same
    // file, so that a file fetched before, also one moved there just before
    // a crash, is not fetched again.
    const QFileInfo l_file(l_path);
    return !l_path.isEmpty() && l_file.isFile() && l_file.size() == i_download["file_size"].AsInt64();
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr i_download)
{
    RemoveDownloadDownloadingFolderIfAppropriate(i_download, QString());
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr i_download, const QString& i_partialPath)
{
    ItemPtr l_remoteFolder = i_download["remote_folder"];
    ItemPtr l_complete = d.GetType("download_entry_status")->HasItem(TransferStatus::Complete);
    const ItemSet l_siblings = l_remoteFolder.GetItems("download_entry");
    if (l_siblings.size() != l_siblings.Connected(l_complete).size())
        return;
    DownloadLayout::Target l_target = OfDownload(i_download, false);
    if (!l_target.IsValid())
        return;
    // A partial file written under another download folder: the same layout
    // below the root that held it. Its own name may differ from the
    // layout's, when another download's partial was in the way.
    const QString l_computed = QDir::cleanPath(l_target.m_folder);
    const QString l_written = QFileInfo(QDir::cleanPath(i_partialPath)).path();
    if (!i_partialPath.isEmpty() && l_written != l_computed) {
        const QString l_tail = l_computed.mid(QDir::cleanPath(DownloadLayout::Root()).size());
        if (!l_written.endsWith(l_tail))
            return;
        l_target = DownloadLayout::Resolve(l_written.left(l_written.size() - l_tail.size()),
                                           i_download["remote_folder"].AsString(), i_download["file_name"].AsString(),
                                           i_download["subfolder_save_level"].AsInt(), false);
        if (!l_target.IsValid())
            return;
    }
    // The carried levels only, from the deepest up: never above the partial
    // folder itself. rmdir takes empty folders only.
    QString l_folder = l_target.m_folder;
    for (int l_level = 0; l_level <= l_target.m_level; ++l_level) {
        if (l_folder != l_target.m_base && !DownloadLayout::IsInside(l_target.m_base, l_folder))
            return;
        QDir().rmdir(l_folder);
        l_folder = QFileInfo(l_folder).path();
    }
}
