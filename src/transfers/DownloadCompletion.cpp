// A download whose file arrived whole: the partial file moves into the
// complete folder, the entry becomes "complete", and a finished-download
// record is kept.
#include "transfers/TransferQueueManager.h"

#include "core/log/Log.h"
#include "transfers/DownloadLayout.h"
#include "transfers/DownloadPartials.h"
#include "transfers/TransferStatus.h"
#include "transfers/TransferThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString TransferQueueManager::WrittenPartialPath(ItemPtr i_download)
{
    // The download folder may have changed since the file was opened.
    if (const auto* lp_file = i_download["download_file"].AsObject<QFile>())
        return lp_file->fileName();
    return GetDownloadTargetPath(i_download, false);
}

QString TransferQueueManager::MoveToCompleteFolder(ItemPtr i_download, const QString& i_partialPath)
{
    const QString& l_partialPath = i_partialPath;
    const QString l_completePath = GetDownloadTargetPath(i_download, true);
    if (l_partialPath.isEmpty() || l_completePath.isEmpty())
        return QString();
    if (!QDir().mkpath(QFileInfo(l_completePath).path()))
        return QString();
    // A rename never replaces a file: a name taken meanwhile just fails and
    // the next is tried.
    for (int l_try = 0; l_try <= DownloadLayout::MaxFreeNameTries; ++l_try) {
        const QString l_candidate = l_try == 0 ? l_completePath : DownloadLayout::NumberedPath(l_completePath, l_try);
        if (QFileInfo::exists(l_candidate))
            continue;
        if (QFile::rename(l_partialPath, l_candidate))
            return l_candidate;
        if (!QFileInfo::exists(l_candidate))
            return QString();
    }
    return QString();
}

void TransferQueueManager::OnDownloadComplete(TransferThread* ip_thread)
{
    ItemPtr l_download = EntryOfThread(ip_thread, "download_thread", "download_entry");
    if (!l_download)
        return;
    // The thread reports last thing before it ends.
    ip_thread->wait();
    ItemPtr l_user = l_download["user"];
    // The file the thread wrote, not the one the setting names now: a path
    // computed anew would strand the file when the download folder changed
    // meanwhile.
    const QString l_partialPath = WrittenPartialPath(l_download);
    const QString l_completePath = MoveToCompleteFolder(l_download, l_partialPath);
    if (l_completePath.isEmpty()) {
        Log(LogArea, 1,
            QString("Could not move finished download of %1 from %2 into the complete folder; it stays at %3")
                .arg(TransferText::Of(l_download["file_name"].AsString()), TransferText::Of(l_user.AsString()),
                     l_partialPath),
            l_user);
        SetDownloadEntryStatus(l_download, TransferStatus::LocalError);
        return;
    }
    // The partial file is gone: its name is free for other downloads.
    DownloadPartials::Forget(l_download);
    // The name may carry a number when another file had the layout's.
    l_download += d.GetType("complete_path")->GetItem(l_completePath.toStdString());
    SetDownloadEntryStatus(l_download, TransferStatus::Complete);
    RemoveDownloadDownloadingFolderIfAppropriate(l_download, l_partialPath);
    RecordCompleteDownload(l_download, l_completePath);
}

void TransferQueueManager::RecordCompleteDownload(ItemPtr i_download, const QString& i_completePath)
{
    const QFileInfo l_file(i_completePath);
    ItemPtr l_user = i_download["user"];
    ItemPtr l_folder = d.GetType("complete_download_folder")->GetItem(l_file.path().toStdString());
    ItemPtr l_name = d.GetType("complete_download_filename")->GetItem(l_file.fileName().toStdString());
    if (d.GetItem(ItemSet{l_user.Get(), l_folder.Get(), l_name.Get()}, "complete_download"))
        return;
    ItemPtr l_record = d.GetType("complete_download")->NewItem();
    l_record += l_user;
    l_record += l_folder;
    l_record += d.GetType("complete_download_relative_folder")
                    ->GetItem(GetDownloadRelativeDownloadFolder(i_download).toStdString());
    l_record += l_name;
    l_record += d.GetType("complete_download_file_size")->GetItem(i_download["file_size"].AsString());
    l_record += d.GetType("complete_download_completion_time")->GetItem(TransferText::Now());
    if (ItemPtr l_search = i_download["search_request_text"])
        l_record += l_search;
    emit CompleteDownloadAdded(l_record);
}
