#pragma once

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "shares/UploadSlotsService.h"
#include "transfers/UploadSpeedLimit.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <string>
#include <unordered_map>

// The file-transfer service. It keeps no queue of its own: every download,
// upload and finished download is an anonymous item of the store
// ("download_entry", "upload_entry", "complete_download"), and everything
// known about it hangs on it as attribute items. Downloads are queued at
// the users who share the files; other users' queue requests are checked
// against the shares, kept in one upload order and offered within the
// upload slots and the speed limit. Runs on the GUI thread; only the speed
// limit is shared with other threads.
//
// Needs the store, the data saver, the timers, the server link, the peer
// layer and the shares service to exist; created once, before the data
// file is loaded.
class TransferQueueManager : public QObject, public DataHandler, public DataLoadedEventHandler, public UploadSlotsService
{
    Q_OBJECT

public:
    static constexpr char LogArea[] = "Transfer Queue";

    TransferQueueManager();
    ~TransferQueueManager() override;
    TransferQueueManager(const TransferQueueManager&) = delete;
    TransferQueueManager& operator=(const TransferQueueManager&) = delete;

    // After loading: every download that is not complete is queued again,
    // and the users of all downloads are tracked.
    void DataLoaded() override;

    // Download queue. At most one entry exists per user, remote file name
    // and remote folder (compared byte for byte).
    ItemPtr AddDownload(std::string i_user, std::string i_file, std::string i_folder, qint64 i_size, int i_subFolderLevel);
    ItemPtr GetDownloadEntry(std::string i_user, std::string i_file, std::string i_folder);
    void QueueDownloadIfUserOnline(ItemPtr i_download);
    // Every status change of a download while the program runs; a download
    // that stops being active lets go of its file, connection and figures.
    void SetDownloadEntryStatus(ItemPtr i_download, std::string i_status);
    void RemoveDownload(ItemPtr i_download);
    bool IsActivelyDownloadingFromUser(std::string i_user);

    // Places in line at the peers.
    void RequestDownloadPlaceInLine(ItemPtr i_download);
    void RequestUserDownloadsPlaceInLine(std::string i_user);

    // Download folders (see DownloadLayout). An empty path or folder means
    // the entry's names cannot be placed inside the download folder: the
    // caller then marks the download "local error" and writes nothing.
    QString GetDownloadRelativeDownloadFolder(ItemPtr i_download);
    QString GetDownloadTargetFolder(ItemPtr i_download, bool i_complete);
    QString GetDownloadTargetPath(ItemPtr i_download, bool i_complete);
    bool DoesDownloadItemCompleteFilenameExist(ItemPtr i_download);
    // Removes the partial folders that a finished download left empty,
    // unless another download of the same remote folder is unfinished.
    void RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr i_download);

    // Upload queue and slots.
    void OrderNewUpload(ItemPtr i_upload);
    static bool UploadEntrySortCompare(ItemPtr i_first, ItemPtr i_second);
    static int GetUserGroupDownloadPriority(std::string i_user);
    void StartNewUploads();
    void SetUploadSlots(int i_slots);
    bool IsFreeToUpload() override;
    int QueuedUploadCount() override;
    // Every status change of an upload; one that stops being active lets go
    // of what it holds, and one that is aborted tells the peer.
    void SetUploadEntryStatus(ItemPtr i_upload, std::string i_status);

    // Upload speed limit.
    void DetermineUploadSpeedLimit();
    void EnableUploadSpeedLimit(bool i_enable);
    void SetUploadSpeedLimit(int i_limit);
    int GetUploadSpeed() const { return m_speedLimit.Total(); }
    UploadSpeedLimit& SpeedLimit() { return m_speedLimit; }

    // Milliseconds since the entry's status last changed, on a monotonic
    // clock; -1 when it has not changed in this run.
    qint64 MsSinceStatusChange(ItemPtr i_entry) const;

public slots:
    void OnQueueUploadRequested(std::string i_user, std::string i_file);
    void OnDownloadPlaceInLine(std::string i_user, std::string i_file, int i_place);
    void OnUploadDeniedNotification(std::string i_user, std::string i_file, std::string i_reason);
    void OnUploadFailedNotification(std::string i_user, std::string i_file);
    // Every five minutes: while nothing downloads, queue again the queued
    // and aborted downloads of online users.
    void PeriodicCheck();

signals:
    // Once, after the data file was loaded.
    void TransfersLoaded();

private:
    void OnUserOnline(Item* ip_user);
    void OnEntryRemoved(Item* ip_entry);
    void StampStatusChange(ItemPtr i_entry);
    // The download a peer's notice names, by its path as sent; a notice
    // that names none is logged when i_logMissing.
    ItemPtr MatchNotice(const std::string& i_user, const std::string& i_file, bool i_logMissing);
    static int ActiveUploadCount();
    // Takes the next arrival number, shared by downloads and uploads.
    static long long TakeTransferOrder();
    ItemList UploadOrder();

    // The removal handler of a figure type: frees the cell of type T at
    // the removed item's address.
    template <class T>
    void OnFigureRemoved(Item* ip_item);

    UploadSpeedLimit m_speedLimit;
    // The upload entry last placed at the end of the upload order.
    ItemPtr m_lastQueuedUpload;
    QElapsedTimer m_monotonicClock;
    std::unordered_map<const Item*, qint64> m_statusChangedAt;
};

// The one transfer manager; null until it exists.
extern TransferQueueManager* transferQueueManager;

// Helpers of the manager's units.
namespace TransferText
{
QString Of(const std::string& i_text);
// The remote path of a download: its folder, one "\", its file name.
std::string RemotePath(ItemPtr i_download);
std::string Now();
}  // namespace TransferText

namespace TransferEntries
{
// Null-safe: a missing status or user counts as not active, not online.
bool IsActiveStatus(ItemPtr i_status);
bool IsOnline(ItemPtr i_user);
}  // namespace TransferEntries
