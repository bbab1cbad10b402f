#pragma once

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "shares/UploadSlotsService.h"
#include "transfers/UploadSpeedLimit.h"
#include "transfers/UploadStartOrder.h"
#include "transfers/UploadWaitList.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <functional>
#include <map>
#include <string>
#include <unordered_map>

class TransferThread;

// The file-transfer service. It keeps no queue of its own: every download,
// upload and finished download is an anonymous item of the store
// ("download_entry", "upload_entry", "complete_download"), and everything
// known about it hangs on it as attribute items; the manager only indexes
// the queued uploads by age and by which may start next. Downloads are
// queued at the users who share the files; other users' queue requests are
// checked against the shares, kept in one upload order and offered within
// the upload slots and the speed limit. The file data moves on one thread per
// transfer (DownloadThread, UploadThread), which reports back through
// queued signals; everything else runs on the GUI thread, and only the
// speed limit is shared with the threads.
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
    // Stops every transfer thread: all are asked first, then each is
    // waited for (uploads before downloads), and what they held is let go,
    // with every figure that entries without a transfer still hold.
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
    // A download of ours from the user is queued or under way, or an upload
    // to the user holds a slot: the peer layer keeps the user's connections
    // at its bound.
    static bool HasWorkWith(const std::string& i_user);
    // A download of ours from the user waits for the file connection that
    // brings this transfer token: the peer layer keeps such a connection
    // at its bound, and no other file connection.
    static bool AwaitsFileConnection(const std::string& i_user, quint32 i_token);
    // The same for any token: at its bound the peer layer hears out a file
    // connection of the user only then.
    static bool AwaitsFileConnectionFrom(const std::string& i_user);
    // An upload to the user that we offered under this token waits for the
    // answer: it is still "requesting", since only the first answer to an
    // offer is taken.
    static bool OfferAwaitsAnswer(const std::string& i_user, quint32 i_token);

    // Places in line at the peers.
    void RequestDownloadPlaceInLine(ItemPtr i_download);
    void RequestUserDownloadsPlaceInLine(std::string i_user);

    // Download folders (see DownloadLayout). An empty path or folder means
    // the entry's names cannot be placed inside the download folder: the
    // caller then marks the download "local error" and writes nothing.
    QString GetDownloadRelativeDownloadFolder(ItemPtr i_download);
    QString GetDownloadTargetFolder(ItemPtr i_download, bool i_complete);
    QString GetDownloadTargetPath(ItemPtr i_download, bool i_complete);
    // The file a finished download was stored under, which may carry a
    // number when the layout's name was taken, and its folder. An entry
    // that records none (not finished yet, or saved by an older version)
    // gives the layout's complete path and folder.
    QString GetFinishedFilePath(ItemPtr i_download);
    QString GetFinishedFileFolder(ItemPtr i_download);
    // True when the entry's file was fetched before: it has no bytes of its
    // own (see DownloadPartials::HasOwnBytes) and is not running, and a file
    // of its size is at its complete path.
    bool DoesDownloadItemCompleteFilenameExist(ItemPtr i_download);
    // Removes the partial folders that a finished download left empty,
    // unless another download of the same remote folder is unfinished.
    void RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr i_download);
    // The same below the download folder that held the partial file, which
    // may be another than the setting's now.
    void RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr i_download, const QString& i_partialPath);

    // Upload queue and slots.
    void OrderNewUpload(ItemPtr i_upload);
    static bool UploadEntrySortCompare(ItemPtr i_first, ItemPtr i_second);
    static int GetUserGroupDownloadPriority(std::string i_user);
    void StartNewUploads();
    // Queued uploads a user may have waiting, and the queue in all.
    static constexpr std::size_t MaxQueuedUploadsPerUser = 500;
    static constexpr std::size_t MaxQueuedUploads = 10000;
    void SetUploadSlots(int i_slots);
    bool IsFreeToUpload() override;
    int QueuedUploadCount() override;
    // Every status change of an upload; one that stops being active lets go
    // of what it holds, and one that is aborted tells the peer. The reason
    // of an earlier failure goes with any status but "aborted".
    void SetUploadEntryStatus(ItemPtr i_upload, std::string i_status);
    // Takes the entry out, stopping its transfer; tells the peer nothing.
    void RemoveUpload(ItemPtr i_upload);
    // Shares nothing with the user any more: every upload of the user is
    // refused ("File not shared.") and removed. ReshareUser lifts the mark.
    void UnshareUser(std::string i_user);
    void ReshareUser(std::string i_user);

    // Upload speed limit.
    void DetermineUploadSpeedLimit();
    void EnableUploadSpeedLimit(bool i_enable);
    void SetUploadSpeedLimit(int i_limit);
    int GetUploadSpeed() const { return m_speedLimit.Total(); }
    UploadSpeedLimit& SpeedLimit() { return m_speedLimit; }

    // Milliseconds since the entry's status last changed, on a monotonic
    // clock; -1 when it has not changed in this run.
    qint64 MsSinceStatusChange(ItemPtr i_entry) const;
    // The monotonic clock of the time-outs, in milliseconds; an empty
    // function brings back the real one.
    using Clock = std::function<qint64()>;
    void SetClock(Clock i_clock) { m_clock = std::move(i_clock); }

public slots:
    // Downloads: a peer offers a file, then opens its file connection.
    void OnFileTransferRequest(std::string i_user, int i_direction, unsigned int i_req, std::string i_file,
                               qint64 i_fileSize);
    void OnFileConnection(std::string i_user, QTcpSocket* ip_socket, unsigned int i_requestID);
    // Uploads: the peer answers an offer (only the first answer to an offer
    // is taken), then our file connection stands.
    void OnFileTransferResponse(std::string i_user, unsigned int i_req, bool i_accepted, bool i_receivedFileSize,
                                qint64 i_fileSize, std::string i_denialReason);
    void OnFileConnectionAccepted(std::string i_user, QTcpSocket* ip_socket);
    // Our file connection to the user failed for good: the user's uploads
    // that wait for it are aborted, their reason shown
    // ("upload_failure_reason"), and their slots go to the next uploads.
    void OnFileConnectionFailed(std::string i_user);
    void OnQueueUploadRequested(std::string i_user, std::string i_file);
    void OnDownloadPlaceInLine(std::string i_user, std::string i_file, int i_place);
    void OnUploadDeniedNotification(std::string i_user, std::string i_file, std::string i_reason);
    void OnUploadFailedNotification(std::string i_user, std::string i_file);
    // Every five minutes: while nothing downloads, queue again the queued
    // and aborted downloads of online users.
    void PeriodicCheck();
    // Every half minute: uploads stuck 30 s in a set-up state are aborted,
    // and users of queued downloads are asked for places in line at most
    // every ten minutes.
    void EveryHalfMinute();

signals:
    // Once, after the data file was loaded.
    void TransfersLoaded();
    // A transfer's figures moved (its position, speed and receipt time).
    void DownloadProgressed(ItemPtr i_download);
    void UploadProgressed(ItemPtr i_upload);
    // A finished download was recorded.
    void CompleteDownloadAdded(ItemPtr i_completeDownload);
    // A download entry was added, removed or finished: the saved download
    // list is behind until the next save.
    void DownloadListChanged();

private:
    void OnUserOnline(Item* ip_user);
    // Marks a download whose file was fetched before complete, shown at its
    // whole size; true then. Every path that queues a download asks first.
    bool CompleteIfFetchedBefore(ItemPtr i_download);
    // A user the server does not know loses the uploads it queued.
    void OnUserLookedUp(std::string i_user, bool i_exists);
    // false, with the request denied, when the user or the queue holds all
    // it may; at the queue's bound the entry of a user the server reported
    // offline since the login may make room.
    bool AdmitQueuedUpload(ItemPtr i_user, const std::string& i_file);
    // The server reported the user offline, or that report no longer holds
    // (online now, or the status is unknown again): the user's queued
    // entries may make room, or no longer.
    void OnOfflineReportChanged(Item* ip_user);
    // Starting a queued upload: offering it to its user.
    void BeginUpload(ItemPtr i_upload);
    // Keeps the start order in step with an upload's status, its place in
    // the upload order, and its user's online state.
    void FollowUploadStatus(ItemPtr i_upload);
    void PlaceUpload(ItemPtr i_upload, long long i_place);
    void OnUserOffline(Item* ip_user);
    void OnEntryRemoved(Item* ip_entry);
    void OnDownloadRemoved(Item* ip_entry);
    void StampStatusChange(ItemPtr i_entry);
    // The download a peer's notice names, by its path as sent; a notice
    // that names none is logged when i_logMissing.
    ItemPtr MatchNotice(const std::string& i_user, const std::string& i_file, bool i_logMissing);
    static int ActiveUploadCount();
    // The download has no file connection yet and is not complete.
    static bool WaitsForFileConnection(ItemPtr i_download);
    // Takes the next arrival number, shared by downloads and uploads.
    static long long TakeTransferOrder();
    ItemList UploadOrder();
    qint64 NowMs() const;
    // The file that an upload of the user for the path as requested should
    // send: its entry's file while that is in the index, else the file now
    // indexed under that path (the entry is moved onto it); null when the
    // path is shared no more.
    static ItemPtr SharedFileAgain(ItemPtr i_upload);
    // When its turn comes: a queued upload whose file is no longer shared
    // with its user is refused ("File not shared.") and removed; true then.
    bool RefuseIfNoLongerShared(ItemPtr i_upload);

    // The transfer threads. Reports reach the slots below on the GUI thread,
    // each with the thread that sent it; a report of a thread that is gone,
    // or no longer stands for an entry, changes nothing.
    struct ThreadSlots
    {
        const char* mp_threadType;
        void (TransferQueueManager::*mp_onProgress)(TransferThread*, qint64, int);
        void (TransferQueueManager::*mp_onComplete)(TransferThread*);
        void (TransferQueueManager::*mp_onError)(TransferThread*);
    };
    static const ThreadSlots DownloadThreadSlots;
    static const ThreadSlots UploadThreadSlots;
    void StartTransferThread(ItemPtr i_entry, TransferThread* ip_thread, const ThreadSlots& i_slots);
    // Asks the entry's thread to stop, waits for it, and deletes it (at
    // once, or through the event loop); nothing when it has none.
    static void StopTransferThread(ItemPtr i_entry, const char* ip_threadType, bool i_deleteNow);
    static ItemPtr EntryOfThread(TransferThread* ip_thread, const char* ip_threadType, const char* ip_entryType);
    void ShutDownTransferThreads();

    void OnDownloadProgress(TransferThread* ip_thread, qint64 i_offset, int i_bytesPerSecond);
    void OnDownloadComplete(TransferThread* ip_thread);
    void OnDownloadError(TransferThread* ip_thread);
    void OnUploadProgress(TransferThread* ip_thread, qint64 i_offset, int i_bytesPerSecond);
    void OnUploadComplete(TransferThread* ip_thread);
    void OnUploadError(TransferThread* ip_thread);

    // The data phase of downloads.
    bool IsPartialFileBeingWritten(const QString& i_partialPath);
    // Closes a file connection that no transfer takes.
    static void TurnAway(QTcpSocket* ip_socket);
    // Moves a finished file into the complete folder, under a free name
    // when its own is taken; the path it got, or "" when it could not.
    QString MoveToCompleteFolder(ItemPtr i_download, const QString& i_partialPath);
    // The partial file the entry's thread writes: the path it was opened
    // under, whatever the download folder is now.
    QString WrittenPartialPath(ItemPtr i_download);
    void RecordCompleteDownload(ItemPtr i_download, const QString& i_completePath);

    // Aborts an upload that waited for its file connection in vain, whichever
    // check gave up on it, with the reason the Uploads view shows ("Cannot
    // connect."); the caller passes its slot on.
    void AbortWithoutConnection(ItemPtr i_upload);
    // The time-outs of uploads in a set-up state.
    void AbortStalledUploads();
    // Our offer of the upload never left, for want of a connection to its
    // user.
    static bool OfferNeverWent(ItemPtr i_upload);
    // The upload leaves the state that waits for the answer to our offer,
    // or goes: a copy of the offer still queued in the peer layer never
    // goes.
    static void WithdrawOffer(ItemPtr i_upload);
    void RequestPlacesInLine();

    // The removal handler of a figure type: frees the cell of type T at
    // the removed item's address.
    template <class T>
    void OnFigureRemoved(Item* ip_item);

    UploadSpeedLimit m_speedLimit;
    // The upload entry last placed at the end of the upload order.
    ItemPtr m_lastQueuedUpload;
    UploadWaitList m_waitList;
    UploadStartOrder m_startOrder;
    QElapsedTimer m_monotonicClock;
    Clock m_clock;
    std::unordered_map<const Item*, qint64> m_statusChangedAt;
    // When each user was last asked for places in line, on the same clock.
    std::map<std::string, qint64> m_placesRequestedAt;
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
// Reported offline by the server since the login; neither this nor online
// while the status is not known.
bool IsReportedOffline(ItemPtr i_user);
}  // namespace TransferEntries
