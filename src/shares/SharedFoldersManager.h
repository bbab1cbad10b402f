#pragma once

#include "core/io/FileInfo.h"
#include "core/io/MemStream.h"
#include "core/io/UserStats.h"
#include "core/store/Data.h"
#include "peer/SharedFoldersService.h"
#include "shares/BrowseReplyCache.h"
#include "shares/MP3Scanner.h"
#include "shares/ReceivedListings.h"
#include "shares/ShareWalker.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The shares service: the index of the folders and files the user shares,
// kept as items of the store, with who may see which folder; it rescans the
// disk, answers other users' searches, browse and folder-contents requests,
// and turns other users' listings into items for the browse view.
//
// The disk is walked on a worker thread; what it finds is applied to the
// store on the GUI thread in slices of at most SliceBudgetMs, so a rescan
// finishes after the call that starts it returns. Requests that arrive
// meanwhile are answered from the index as it stands. Other users' listings
// are stored in slices likewise (ReceivedListings).
class SharedFoldersManager : public QObject, public DataHandler, public SharedFoldersService
{
    Q_OBJECT

public:
    explicit SharedFoldersManager(QObject* ip_parent = nullptr);
    ~SharedFoldersManager() override;

    // After the data file has been loaded: watch for new shared folders and
    // start the first rescan, which reports nothing.
    void Init();
    // Rescans every shared folder; SharedFilesRescanned follows at its end.
    // A request during a rescan runs once that one is done.
    void RescanShares();
    bool IsRescanning() const { return m_rescan.m_running || !m_walks.empty(); }

    // Queues a walk of one folder on behalf of a shared root.
    void AddSharedFiles(std::string i_share, std::string i_folder);
    // (Re)derives the search words of one indexed file.
    void TokenizeSharedFile(ItemPtr i_sharedFile);
    static bool IsSearchTokenSeparator(unsigned char i_char);

    // Access rules.
    ItemSet GetUserSharedFolders(std::string i_user);
    ItemPtr GetSharedFileItem(std::string i_filePath);
    bool IsFileSharedWithUser(ItemPtr i_sharedFile, std::string i_user);

    // Replies to other users.
    void ProcessSearch(std::string i_user, quint32 i_req, std::string i_searchText);
    MemStream GetSharedFilesMessage(std::string i_user) override;
    // The same reply, kept for every user who may see the same folders until
    // the share changes; compressed off the GUI thread.
    void RequestSharedFilesMessage(std::string i_user, BrowseReplyDone i_done) override;
    const BrowseReplyCache& BrowseReplies() const { return *mp_browseReplies; }
    // The browse listing before it is framed: the payload of what the user
    // may see, and how many files and folders it holds.
    using SharedFilesListing = BrowseListing;
    SharedFilesListing SharedFilesPayload(const std::string& i_user);

    // The attribute text shown beside a received file or a search result:
    // "192 VBR, 4m5s", each part only when the file has it.
    static QString GetFileItemDisplayString(ItemPtr i_file);
    // Removes a received listing ("user_share") with its folders and files,
    // at once.
    static void RemoveUserShare(ItemPtr i_listing);
    // Where received listings are being stored and old ones removed.
    ReceivedListings& Received() { return *mp_receivedListings; }

    // Whether a "shared_file" is in the index: listed, found and sent. A file
    // set aside (gone from disk or from the shares while something primary,
    // such as an upload entry, holds it) keeps its name and size but is not.
    static bool IsIndexed(ItemPtr i_sharedFile);
    // How many files the index holds (set-aside files not counted).
    int IndexedFileCount() const;

    // Shut-down waits this long for the walker and the scanner to stop;
    // one that has not is left running to the process's end.
    static constexpr int ShutDownWaitMs = 2000;
    // The worker objects, for tests that need to hold their threads.
    QObject* Walker() const { return mp_walker; }
    MP3Scanner* Scanner() const { return mp_MP3Scanner; }

    int FilesAdded() const { return m_sharedFilesAdded; }
    int FilesRemoved() const { return m_sharedFilesRemoved; }

    // Where replies go: the peer layer's SendMessage unless a test sets
    // another sink.
    using MessageSink = std::function<void(const std::string& i_user, MemStream& i_body)>;
    void SetMessageSink(MessageSink i_sink) { m_sendMessage = std::move(i_sink); }

    // The longest a slice of rescan work may hold the GUI thread.
    static constexpr int SliceBudgetMs = 40;
    // Removals at the end of a folder or a rescan go this many files a step.
    static constexpr std::size_t RemovalsPerStep = 64;
    qint64 LongestSliceMs() const { return m_longestSliceMs; }

public slots:
    // Takes the listing over (i_share is left empty) and stores it over
    // later turns of the event loop.
    void OnUserShare(std::string i_user, FileInfoMap& i_share, AttributeTranslationTable& i_translationTable);
    void OnDNetSearchRequest(std::string i_user, quint32 i_req, std::string i_searchText);
    void OnMP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency, bool i_isVBR,
                      int i_bitrate);
    void OnFilesInFoldersRequested(std::string i_user, quint32 i_req, std::string i_folder);
    void OnConnectedToServer();
    void OnReceivedUserStats(std::string i_user, UserStats i_stats);

signals:
    void MP3ScanRequired(QString i_file);
    void SharedFilesRescanned(int i_filesAdded, int i_filesRemoved);
    // Asks the walker thread for a walk; internal.
    void WalkRequested(quint64 i_walk, QByteArray i_root);

private:
    // A walk asked of the walker and not yet fully applied.
    struct PendingWalk
    {
        quint64 m_id = 0;
        std::string m_share;
        bool m_endsRescan = false;
    };
    // A file the index holds in the folder being applied, and whether the
    // walk found it again.
    struct KnownFile
    {
        Item* mp_name = nullptr;
        Item* mp_file = nullptr;
        bool m_found = false;
    };
    // Where the application of the current walk stands.
    struct ApplyState
    {
        // Raw items are safe across slices: the share holds its folders, the
        // folders their files, the files their words; only the share's own
        // removal can free them, and that clears them all.
        Item* mp_share = nullptr;  // null: the share went away, skip its walk
        bool m_started = false;
        bool m_inFolder = false;
        std::vector<Item*> m_foldersBefore;
        std::vector<Item*> m_foldersVisited;
        std::size_t m_folder = 0;  // in the front batch
        std::size_t m_file = 0;    // in that folder
        Item* mp_folderItem = nullptr;
        std::vector<Item*> m_folderWords;
        std::vector<KnownFile> m_knownFiles;
        std::size_t m_gone = 0;               // known files dealt with at the end
        // The known files by name item, filled a part at a time, so that a
        // folder of hundreds of thousands of files spans several slices.
        std::unordered_map<Item*, std::size_t> m_knownByName;
        std::size_t m_knownIndexed = 0;
    };
    // The end of a rescan: the folders no share holds any more, by path.
    struct FinishState
    {
        bool m_active = false;
        std::vector<std::string> m_orphans;
        std::size_t m_next = 0;
    };
    struct RescanState
    {
        bool m_running = false;
        bool m_report = false;
        bool m_again = false;
        bool m_againReport = false;
    };

    void DeclareIndexTypes();
    void DeclareListingTypes();
    void OnSharedFileNameAdded(Item* ip_fileName);
    void OnSharedFileFolderAdded(Item* ip_folderName);
    void OnSharedFolderAdded(Item* ip_folder);
    void OnSharedFolderRemoved(Item* ip_folder);

    void StartRescan(bool i_report);
    void FinishRescan();
    void FinishStep();
    void CompleteRescan();
    void QueueWalk(const std::string& i_share, bool i_endsRescan);
    void OnWalked(WalkBatchPtr i_batch);
    void ScheduleSlice();
    void ApplySlice();
    bool ApplyNextStep();
    void BeginWalk(const PendingWalk& i_walk);
    void BeginFolder(const WalkedFolder& i_folder);
    void ApplyFile(const WalkedFolder& i_folder, const WalkedFile& i_file);
    void IndexKnownFiles();
    bool EndFolderStep(const WalkedFolder& i_folder);
    // Removes the items, then whatever only they kept reachable.
    void RemoveWithLeftovers(const std::vector<Item*>& i_items);
    // Takes a file that something primary holds out of the index: it keeps
    // its name and size, loses its folder and its search words.
    void SetAside(Item* ip_file, std::vector<Item*>& io_leftovers);
    // A set-aside file that nothing primary holds any more goes.
    void OnSharedFileDisconnected(ConnectionInfo i_info);
    void DropWalkOfRemovedShare();
    // Waits up to the time left for the thread; false when it still runs.
    static bool StopThread(QThread* ip_thread, const QElapsedTimer& i_clock);
    void EndWalk();
    void ConnectWords(Item* ip_file, const std::vector<Item*>& i_folderWords, const std::vector<std::string>& i_words);

    FileInfo ListingRecord(Item* ip_file, bool i_withAudio) const;
    BrowseListing ListingOf(const ItemSet& i_shares) const;
    // Every kept browse reply goes stale when what it lists changes.
    void WatchListedItems();
    void OnListedItemsChanged(ConnectionInfo i_connection);
    void OnListedFileChanged(ConnectionInfo& i_connection);
    void OnListedFileRemoved(Item* ip_file);
    void SendReply(const std::string& i_user, unsigned int i_code, const MemStream& i_payload, const QString& i_what);

    // On the heap: a scanner or walker still running at shut-down is let go
    // with its thread, not destroyed under it.
    QThread* mp_MP3ScanThread = nullptr;
    MP3Scanner* mp_MP3Scanner = nullptr;
    int m_sharedFilesAdded = 0;
    int m_sharedFilesRemoved = 0;

    QThread* mp_walkThread = nullptr;
    ShareWalker* mp_walker = nullptr;
    quint64 m_nextWalk = 1;
    std::deque<PendingWalk> m_walks;
    std::deque<WalkBatchPtr> m_batches;
    ApplyState m_apply;
    FinishState m_finish;
    RescanState m_rescan;
    bool m_sliceScheduled = false;
    qint64 m_longestSliceMs = 0;
    bool m_initialised = false;

    MessageSink m_sendMessage;
    std::unique_ptr<ReceivedListings> mp_receivedListings;
    // Last, so that it goes first: its waiting requests are answered while
    // the rest still stands.
    std::unique_ptr<BrowseReplyCache> mp_browseReplies;
};

// The one shares service; null until it exists.
extern SharedFoldersManager* sharedFoldersManager;
