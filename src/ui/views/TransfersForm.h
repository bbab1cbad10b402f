#pragma once

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "ui/views/TransferTreeUpdates.h"
#include "ui/views/TransferStatusCounts.h"

#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class TransfersForm;
}

// The Transfers page: the transfer manager's downloads and uploads as two
// trees of user, folder and file rows, the two clearing switches, the upload
// speed limit and slots, the context menus and the commands of the action
// sets "downloads" and "uploads".
//
// The view keeps no model of its own. Every row is mirrored by an item of a
// view-only node type whose value is the row's address, connected to what
// the row shows (the user, the folder key item, the transfer entry), so a
// store event finds its row and a row finds its entries. The aggregate
// status of a folder or user row comes from counts of its entries by status,
// kept as the statuses change; the progress sums are read back from the
// store whenever they are shown. Progress reports are gathered and written
// on a short refresh timer, so a thousand running transfers cost one pass
// over the rows that moved. New user rows join their trees, the rows of
// new uploads of users already shown go in below them, and rows of removed
// entries leave them, together at the next refresh as well, or once a
// second while rows keep leaving unless the user removed them
// (TransferTreeUpdates).
//
// Life: construct (widgets only), Init once before the data file loads,
// DataLoaded once after it (the settings widgets start storing changes),
// then the manager's TransfersLoaded (download rows appear in queue order;
// upload rows appear as their entries do). GUI thread only.
class TransfersForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    static constexpr int RefreshIntervalMs = 250;
    // While rows keep leaving a tree, it changes this often at most.
    static constexpr int FloodIntervalMs = 1000;

    explicit TransfersForm(QWidget* ip_parent = nullptr);
    ~TransfersForm() override;

    void Init();
    void DataLoaded() override;

    Ui::TransfersForm* Form() const { return ui; }

    // Store handlers (public: the store calls them through handlers).
    void OnDownloadEntryAdded(Item* ip_download);
    void OnUploadEntryAdded(Item* ip_upload);
    void OnDownloadEntryStatusChange(ConnectionInfo& i_items);
    void OnUploadEntryStatusChange(ConnectionInfo& i_items);
    void OnDownloadEntryRemoved(Item* ip_download);
    void OnUploadEntryRemoved(Item* ip_upload);
    void OnDownloadPlaceInLine(Item* ip_download);

    // Queries on rows of either tree. The entries under a row: all of a
    // user row, those of a folder row, the one of a file row; empty for a
    // tree item that is no row of the view.
    ItemSet GetNodeDownloadEntryItems(QTreeWidgetItem* ip_node);
    ItemSet GetNodeUploadEntryItems(QTreeWidgetItem* ip_node);
    // The user row of any row (itself, its parent, its grandparent); null
    // for a null item or one that is no row of the view.
    QTreeWidgetItem* GetDownloadNodeUserNode(QTreeWidgetItem* ip_node);
    QTreeWidgetItem* GetUploadNodeUserNode(QTreeWidgetItem* ip_node);
    // The status word that stands for the set (TransferAggregates::Status),
    // maybe "".
    static std::string GetDownloadEntriesAggregateStatus(ItemSet& i_downloadEntries);
    static std::string GetUploadEntriesAggregateStatus(ItemSet& i_uploadEntries);
    // Sums over the set: bytes done, bytes left and bytes in all.
    static void GetDownloadsProgressStats(ItemSet& i_downloads, qint64& o_bytesDownloaded, qint64& o_bytesLeft,
                                          qint64& o_bytesTotal);
    static void GetUploadsProgressStats(ItemSet& i_uploads, qint64& o_bytesUploaded, qint64& o_bytesLeft,
                                        qint64& o_bytesTotal);
    // The text colour of every column of the row, after a status word.
    static void SetItemColorByStatus(QTreeWidgetItem* ip_item, QString i_status);

    // One tree with what it shows (see TransferTreeSide.h).
    struct Side;

signals:
    void DownloadComplete(ItemPtr i_download);

public slots:
    void OnDownloadProgress(ItemPtr i_download);
    void OnUploadProgress(ItemPtr i_upload);
    void OnTransfersLoaded();
    void OnActionBarTriggered(std::string i_action);
    void OnUserOnline(Item* ip_user);
    void OnUserOffline(Item* ip_user);
    void OnUploadSpeedLimitCheckStateChanged(int i_state);
    void OnUploadSpeedLimitSpinValueChanged(int i_value);
    void OnUploadSlotsSpinValueChanged(int i_value);
    void OnDownloadsContextMenuRequested(QPoint i_point);
    void OnUploadsContextMenuRequested(QPoint i_point);
    void OnItemExpanded(QTreeWidgetItem* ip_item);
    void OnItemCollapsed(QTreeWidgetItem* ip_item);
    void OnCurrentTabChanged(int i_tabIndex);
    void OnClearDownloadsCheckStateChanged(int i_state);
    void OnClearUploadsCheckStateChanged(int i_state);
    void EveryHalfMinute();
    void OnDownloadComplete(ItemPtr i_download);
    void OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    // Writes the figures of every transfer that reported since the last
    // refresh, and the sums of the rows above them; the slot of the refresh
    // timer, which runs at most RefreshIntervalMs after a report.
    void RefreshProgress();
    // Puts new user rows into their trees and takes the rows of removed
    // entries out now; otherwise that happens at most RefreshIntervalMs
    // after the change.
    void ApplyTreeUpdates()
    {
        m_downloadTreeUpdates.Apply();
        m_uploadTreeUpdates.Apply();
    }
    // Replaces the clock that times the trees' changes; an empty function
    // brings back the real one.
    void SetTreeClock(const TransferTreeUpdates::Clock& i_clock)
    {
        m_downloadTreeUpdates.SetClock(i_clock);
        m_uploadTreeUpdates.SetClock(i_clock);
    }

private:
    // A transfer's figures as its report left them.
    struct ReportFigures
    {
        qint64 m_position;
        int m_bytesPerSecond;
    };

    void DeclareRowTypes();
    void DeclareActions();
    void ConnectSettingsWidgets();

    // The twins of the row handlers, on one side.
    void AddEntryRow(const Side& i_side, ItemPtr i_entry);
    // The entry's file row, and the folder and user rows above it when they
    // are missing.
    void MakeEntryRow(const Side& i_side, ItemPtr i_entry);
    // The rows of the uploads that waited, of one user or of all (null),
    // with the status that came meanwhile.
    void MakeWaitingUploadRows(Item* ip_user = nullptr);
    // Takes the upload off the waiting list; false when it was not on it.
    bool StopWaiting(Item* ip_upload);
    QTreeWidgetItem* UserRow(const Side& i_side, ItemPtr i_user, ItemPtr& o_userNode);
    QTreeWidgetItem* FolderRow(const Side& i_side, QTreeWidgetItem* ip_userRow, ItemPtr i_userNode, ItemPtr i_folder,
                               ItemPtr& o_folderNode);
    void ApplyStatus(const Side& i_side, ItemPtr i_entry, ItemPtr i_status);
    // A folder or user row's aggregate status and colour, from the counts of
    // its entries.
    void ShowAggregateStatus(const Side& i_side, QTreeWidgetItem* ip_row);
    // A folder or user row gained or lost a row: its figures and status are
    // shown anew, for the rows it holds then, at the next refresh, once
    // however many rows came and went. A row that leaves is forgotten here.
    void NoteChanged(const Side& i_side, QTreeWidgetItem* ip_row);
    // The rows noted, once each: the status, and where the row shows a bar,
    // the bar and the time left of the entries under it at the speed of
    // those that run; the row's speed stays as it was.
    void ShowChanged();
    void RemoveEntryRow(const Side& i_side, ItemPtr i_entry);
    // A user or folder row has joined its tree: expanded as the flags say.
    void OnRowJoined(QTreeWidgetItem* ip_row);
    void NoteReport(const Side& i_side, ItemPtr i_entry);
    // Writes the entry's report that waits for the refresh, if any, at once
    // and takes it off the list.
    void WriteWaitingReport(const Side& i_side, ItemPtr i_entry);
    // Writes a report at once: the file row's figures and the sums of the
    // rows above it.
    void WriteReport(const Side& i_side, ItemPtr i_entry, ReportFigures i_figures);
    // The entry's figures now; those it lacks count 0.
    static ReportFigures FiguresOf(const Side& i_side, ItemPtr i_entry);
    // A file row's figures, those of a report; the rows above it whose sums
    // are due go to i_noteParent, with this entry's speed.
    void ApplyProgress(const Side& i_side, ItemPtr i_entry, ReportFigures i_figures,
                       const std::function<void(QTreeWidgetItem*, int)>& i_noteParent);
    // Writes a user or folder row's sums, unless the entries under it add
    // up to no bytes at all; returns whether it wrote them.
    bool ShowParentProgress(const Side& i_side, QTreeWidgetItem* ip_row, int i_bytesPerSecond);
    void ToggleExpansion(const Side& i_side, bool& io_flag, bool i_users);
    void RemoveSelectedDownloads();
    void AddSelectedUsersToList();
    void OpenCompleteDownloads();

    // The side whose tree holds the row, or null.
    const Side* SideOf(QTreeWidgetItem* ip_row) const;

    Ui::TransfersForm* ui;
    std::unique_ptr<Side> mp_downloads;
    std::unique_ptr<Side> mp_uploads;
    bool m_transfersLoaded = false;
    bool m_expandDownloadFolders = true;
    bool m_expandDownloadUsers = true;
    bool m_expandUploadFolders = true;
    bool m_expandUploadUsers = true;
    // Downloads announced complete whose queued clearing has not run yet.
    // A removal takes an entry out, so the queued call never acts on an
    // entry that went, nor on a later one at the same address.
    std::unordered_set<Item*> m_pendingCompletions;
    // The entries of both trees by status, under each folder and user row.
    TransferStatusCounts m_statusCounts;
    // New user rows not in their trees yet, and rows of removed entries
    // (with parents left empty) still in them; a flood in one tree leaves
    // the other as it is.
    TransferTreeUpdates m_downloadTreeUpdates{RefreshIntervalMs, FloodIntervalMs,
                                              [this](QTreeWidgetItem* ip_row) { OnRowJoined(ip_row); }};
    TransferTreeUpdates m_uploadTreeUpdates{RefreshIntervalMs, FloodIntervalMs,
                                            [this](QTreeWidgetItem* ip_row) { OnRowJoined(ip_row); },
                                            [this] { MakeWaitingUploadRows(); }};
    // New uploads of users shown in the tree, whose rows wait for its next
    // change, in the order they came, each with its user, whether its
    // status changed meanwhile and the report that waited when it stopped,
    // and how many wait of each user; a removal takes an entry out.
    struct WaitingUpload
    {
        Item* mp_user;
        bool m_statusChanged = false;
        // A transfer that stops lets go of its figures: its last report is
        // kept here for the row.
        std::optional<ReportFigures> m_lastReport;
    };
    std::vector<Item*> m_waitingUploadOrder;
    std::unordered_map<Item*, WaitingUpload> m_waitingUploads;
    std::unordered_map<Item*, int> m_waitingUploadsOfUser;
    // Entries that reported since the last refresh, in the order of their
    // first report, with their tree; a removal takes an entry out.
    std::vector<Item*> m_reportOrder;
    std::unordered_map<Item*, const Side*> m_reported;
    // Folder and user rows that gained or lost rows since the last refresh.
    std::unordered_map<QTreeWidgetItem*, const Side*> m_changed;
    QTimer m_refreshTimer;
    struct ParentFigures
    {
        const Side* mp_side;
        QTreeWidgetItem* mp_row;
        int m_bytesPerSecond;
    };
};
