// The rows of the transfers view: a file row per entry under a folder row
// per (user, folder) under a user row per user, their texts and colours,
// and what store events and tree signals do to them.

#include "core/persist/Settings.h"
#include "core/platform/DesktopOpener.h"
#include "core/util/GeneralFunctions.h"
#include "transfers/TransferQueueManager.h"
#include "ui/views/ProgressBarDelegate.h"
#include "ui/views/TransferTreeSide.h"
#include "ui/views/TransfersForm.h"
#include "ui_TransfersForm.h"

#include <QBrush>
#include <QColor>

namespace
{
using namespace TransferColumns;

QColor StatusColor(const QString& i_status)
{
    if (i_status == QLatin1String("complete"))
        return QColor(0, 100, 0);
    if (i_status == QLatin1String("downloading") || i_status == QLatin1String("uploading") ||
        i_status == QLatin1String("connecting"))
        return QColor(0, 0, 255);
    if (i_status == QLatin1String("queued"))
        return QColor(51, 102, 255);
    if (i_status == QLatin1String("denied") || i_status == QLatin1String("aborted") ||
        i_status == QLatin1String("local error"))
        return QColor(255, 10, 71);
    return QColor(Qt::black);
}

void ColourRow(QTreeWidgetItem* ip_row, const QString& i_status, int i_columns)
{
    const QBrush l_brush(StatusColor(i_status));
    // Every column gets the colour at once: when the last has it, all have.
    if (i_columns == 0 || ip_row->foreground(i_columns - 1) == l_brush)
        return;
    for (int l_column = 0; l_column < i_columns; ++l_column)
        ip_row->setForeground(l_column, l_brush);
}

// 0 for a user row, 1 for a folder row, 2 for a file row.
int Depth(QTreeWidgetItem* ip_row)
{
    int l_depth = 0;
    for (QTreeWidgetItem* lp_parent = ip_row->parent(); lp_parent; lp_parent = lp_parent->parent())
        ++l_depth;
    return l_depth;
}

QString UserText(ItemPtr i_user, bool i_markOffline)
{
    QString l_text = QString::fromLatin1(i_user.AsString());
    if (i_markOffline && !i_user.IsConnected("is_online"))
        l_text += QLatin1String(" [offline]");
    return l_text;
}
}  // namespace

// Rows of the other tree, and rows that left, have no node of this side.
ItemPtr TransfersForm::Side::NodeOf(QTreeWidgetItem* ip_row) const
{
    if (!ip_row)
        return {};
    const char* const lp_types[] = {m_kind.mp_userNodeType, m_kind.mp_folderNodeType, m_kind.mp_fileNodeType};
    const int l_depth = Depth(ip_row);
    if (l_depth > 2)
        return {};
    return d.GetType(lp_types[l_depth])->HasItem(Value(ip_row));
}

ItemSet TransfersForm::Side::EntriesUnder(QTreeWidgetItem* ip_row) const
{
    const ItemPtr l_node = NodeOf(ip_row);
    if (l_node.IsNull())
        return {};
    const Type* lp_type = l_node->mp_type;
    if (lp_type == d.GetType(m_kind.mp_fileNodeType))
        return ItemSet(l_node[m_kind.mp_entryType].Get());
    ItemSet l_folders = lp_type == d.GetType(m_kind.mp_folderNodeType)
                            ? ItemSet(l_node.Get())
                            : l_node.GetItems(m_kind.mp_folderNodeType);
    return l_folders.GetItems(m_kind.mp_fileNodeType).GetItems(m_kind.mp_entryType);
}

QTreeWidgetItem* TransfersForm::Side::UserRowOf(QTreeWidgetItem* ip_row) const
{
    if (NodeOf(ip_row).IsNull())
        return nullptr;
    while (ip_row->parent())
        ip_row = ip_row->parent();
    return ip_row;
}

const TransfersForm::Side* TransfersForm::SideOf(QTreeWidgetItem* ip_row) const
{
    if (!ip_row)
        return nullptr;
    if (ip_row->treeWidget() == ui->downloadsList)
        return mp_downloads.get();
    if (ip_row->treeWidget() == ui->uploadsList)
        return mp_uploads.get();
    return nullptr;
}

ItemSet TransfersForm::GetNodeDownloadEntryItems(QTreeWidgetItem* ip_node)
{
    return mp_downloads->EntriesUnder(ip_node);
}

ItemSet TransfersForm::GetNodeUploadEntryItems(QTreeWidgetItem* ip_node)
{
    return mp_uploads->EntriesUnder(ip_node);
}

QTreeWidgetItem* TransfersForm::GetDownloadNodeUserNode(QTreeWidgetItem* ip_node)
{
    return mp_downloads->UserRowOf(ip_node);
}

QTreeWidgetItem* TransfersForm::GetUploadNodeUserNode(QTreeWidgetItem* ip_node)
{
    return mp_uploads->UserRowOf(ip_node);
}

std::string TransfersForm::GetDownloadEntriesAggregateStatus(ItemSet& i_downloadEntries)
{
    return TransferAggregates::Status(TransferKind::Download, i_downloadEntries);
}

std::string TransfersForm::GetUploadEntriesAggregateStatus(ItemSet& i_uploadEntries)
{
    return TransferAggregates::Status(TransferKind::Upload, i_uploadEntries);
}

void TransfersForm::SetItemColorByStatus(QTreeWidgetItem* ip_item, QString i_status)
{
    ColourRow(ip_item, i_status, ip_item->treeWidget() ? ip_item->treeWidget()->columnCount() : ip_item->columnCount());
}

void TransfersForm::OnDownloadEntryAdded(Item* ip_download)
{
    // Saved downloads get their rows in queue order once the manager has
    // reset them.
    if (!m_transfersLoaded)
        return;
    AddEntryRow(*mp_downloads, ip_download);
}

void TransfersForm::OnUploadEntryAdded(Item* ip_upload)
{
    AddEntryRow(*mp_uploads, ip_upload);
}

void TransfersForm::AddEntryRow(const Side& i_side, ItemPtr i_entry)
{
    const TransferKind& l_kind = i_side.m_kind;
    // Replacing one of the watched attributes announces the entry again.
    if (!i_entry[l_kind.mp_fileNodeType].IsNull())
        return;
    const ItemPtr l_user = i_entry["user"];
    if (l_user.IsNull() || l_kind.mp_folderKey(i_entry).IsNull())
        return;
    // Peers queue files one request at a time: a row that went in below a
    // user row in the tree at once would have the tree lay every row out
    // anew for each. They go in together at the tree's next change.
    const ItemPtr l_userNode = l_user[l_kind.mp_userNodeType];
    if (!i_side.m_isDownloads && !l_userNode.IsNull() && Side::RowOf(l_userNode)->treeWidget()) {
        if (m_waitingUploads.emplace(i_entry.Get(), WaitingUpload{l_user.Get(), false, std::nullopt}).second) {
            m_waitingUploadOrder.push_back(i_entry.Get());
            ++m_waitingUploadsOfUser[l_user.Get()];
        }
        i_side.m_updates.Wait();
        return;
    }
    MakeEntryRow(i_side, i_entry);
}

bool TransfersForm::StopWaiting(Item* ip_upload)
{
    const auto l_found = m_waitingUploads.find(ip_upload);
    if (l_found == m_waitingUploads.end())
        return false;
    const auto l_ofUser = m_waitingUploadsOfUser.find(l_found->second.mp_user);
    if (--l_ofUser->second == 0)
        m_waitingUploadsOfUser.erase(l_ofUser);
    m_waitingUploads.erase(l_found);
    return true;
}

void TransfersForm::MakeWaitingUploadRows(Item* ip_user)
{
    std::vector<Item*> l_order = std::move(m_waitingUploadOrder);
    m_waitingUploadOrder.clear();
    for (Item* lp_entry : l_order) {
        // Entries removed meanwhile are no longer listed.
        const auto l_found = m_waitingUploads.find(lp_entry);
        if (l_found == m_waitingUploads.end())
            continue;
        if (ip_user && l_found->second.mp_user != ip_user) {
            m_waitingUploadOrder.push_back(lp_entry);
            continue;
        }
        const WaitingUpload l_waiting = l_found->second;
        StopWaiting(lp_entry);
        const ItemPtr l_entry(lp_entry);
        MakeEntryRow(*mp_uploads, l_entry);
        // A report that waits came after the one kept when the upload
        // stopped, from a run started again since: it is the newest, and
        // once written, the next report goes to the refresh again.
        if (l_waiting.m_lastReport && !m_reported.contains(lp_entry))
            WriteReport(*mp_uploads, l_entry, *l_waiting.m_lastReport);
        else
            WriteWaitingReport(*mp_uploads, l_entry);
        if (const ItemPtr l_status = l_entry[mp_uploads->m_kind.mp_statusType]; l_waiting.m_statusChanged && l_status)
            ApplyStatus(*mp_uploads, l_entry, l_status);
    }
}

void TransfersForm::MakeEntryRow(const Side& i_side, ItemPtr i_entry)
{
    const TransferKind& l_kind = i_side.m_kind;
    const ItemPtr l_user = i_entry["user"];
    const ItemPtr l_folder = l_kind.mp_folderKey(i_entry);
    ItemPtr l_userNode;
    QTreeWidgetItem* lp_userRow = UserRow(i_side, l_user, l_userNode);
    ItemPtr l_folderNode;
    QTreeWidgetItem* lp_folderRow = FolderRow(i_side, lp_userRow, l_userNode, l_folder, l_folderNode);

    // A file row never has rows below it: a tree that knows need not ask
    // when it lays its rows out.
    auto* lp_row = new QTreeWidgetItem();
    lp_row->setFlags(lp_row->flags() | Qt::ItemNeverHasChildren);
    lp_row->setText(File, l_kind.mp_fileText(i_entry));
    lp_row->setText(Size, CommafyNumber(l_kind.mp_size(i_entry)));
    lp_folderRow->addChild(lp_row);
    const ItemPtr l_node = d.GetType(l_kind.mp_fileNodeType)->GetItem(Value(lp_row));
    i_entry += l_node;
    l_node += l_folderNode;
    // Counted with the status it has, shown or not.
    m_statusCounts.Add(lp_row, TransferAggregates::ClassOf(l_kind, i_entry[l_kind.mp_statusType].AsString()));
    // The sums above it take its bytes in before it reports.
    NoteChanged(i_side, lp_folderRow);
    NoteChanged(i_side, lp_userRow);

    // A saved download shows its status at once; an upload gets it from its
    // next status change.
    if (i_side.m_isDownloads) {
        if (const ItemPtr l_status = i_entry[l_kind.mp_statusType])
            ApplyStatus(i_side, i_entry, l_status);
    }
}

QTreeWidgetItem* TransfersForm::UserRow(const Side& i_side, ItemPtr i_user, ItemPtr& o_userNode)
{
    o_userNode = i_user[i_side.m_kind.mp_userNodeType];
    if (!o_userNode.IsNull())
        return Side::RowOf(o_userNode);
    // Made whole before it joins the tree, with the rows below it.
    auto* lp_row = new QTreeWidgetItem();
    o_userNode = d.GetType(i_side.m_kind.mp_userNodeType)->GetItem(Value(lp_row));
    i_user += o_userNode;
    lp_row->setText(User, UserText(i_user, i_side.m_isDownloads));
    i_side.m_updates.Join(i_side.mp_tree, lp_row);
    return lp_row;
}

QTreeWidgetItem* TransfersForm::FolderRow(const Side& i_side, QTreeWidgetItem* ip_userRow, ItemPtr i_userNode,
                                          ItemPtr i_folder, ItemPtr& o_folderNode)
{
    const char* lp_type = i_side.m_kind.mp_folderNodeType;
    o_folderNode = d.GetItemSubset(ItemSet{i_userNode.Get(), i_folder.Get()}, lp_type);
    if (!o_folderNode.IsNull())
        return Side::RowOf(o_folderNode);
    auto* lp_row = new QTreeWidgetItem(ip_userRow);
    o_folderNode = d.GetType(lp_type)->GetItem(Value(lp_row));
    o_folderNode += i_userNode;
    o_folderNode += i_folder;
    lp_row->setText(Folder, QString::fromUtf8(ReversePathname(i_folder.AsString())));
    // Under a user row that has yet to join, it opens when that row joins.
    if (this->*i_side.mp_expandFolders && ip_userRow->treeWidget())
        i_side.mp_tree->expandItem(lp_row);
    return lp_row;
}

void TransfersForm::OnDownloadEntryStatusChange(ConnectionInfo& i_items)
{
    ApplyStatus(*mp_downloads, i_items.mp_item1, i_items.mp_item2);
}

void TransfersForm::OnUploadEntryStatusChange(ConnectionInfo& i_items)
{
    ApplyStatus(*mp_uploads, i_items.mp_item1, i_items.mp_item2);
}

void TransfersForm::ApplyStatus(const Side& i_side, ItemPtr i_entry, ItemPtr i_status)
{
    QTreeWidgetItem* lp_row = i_side.EntryRow(i_entry);
    const std::string l_status = i_status.AsString();
    if (!lp_row) {
        // Shown once its row is made. A transfer that stops lets go of its
        // figures right after this: its report that waits for the refresh
        // is kept for that row.
        if (const auto l_waiting = m_waitingUploads.find(i_entry.Get()); l_waiting != m_waitingUploads.end()) {
            l_waiting->second.m_statusChanged = true;
            if (l_status != i_side.m_kind.mp_activeStatus && m_reported.erase(i_entry.Get()) != 0)
                l_waiting->second.m_lastReport = FiguresOf(i_side, i_entry);
        }
        return;
    }
    // A transfer that stops lets go of its figures right after this: its
    // report that waits for the refresh is written while they are there,
    // and is its last.
    if (l_status != i_side.m_kind.mp_activeStatus)
        WriteWaitingReport(i_side, i_entry);
    const int l_columns = i_side.mp_tree->columnCount();
    ColourRow(lp_row, QString::fromLatin1(l_status), l_columns);
    if (l_status == "complete") {
        if (i_side.m_isDownloads) {
            m_pendingCompletions.insert(i_entry);
            emit DownloadComplete(i_entry);
        }
        lp_row->setText(Progress, QString());
    }
    if (i_side.m_isDownloads)
        lp_row->setText(Place, QString());
    std::string l_text = l_status;
    if (l_status == "denied")
        l_text = i_entry["denial_reason"].AsString();
    else if (l_status == "aborted" && !i_side.m_isDownloads && i_entry.IsConnected("upload_failure_reason"))
        l_text = i_entry["upload_failure_reason"].AsString();
    lp_row->setText(Status, QString::fromUtf8(l_text).toLower());

    m_statusCounts.Change(lp_row, TransferAggregates::ClassOf(i_side.m_kind, l_status));
    for (QTreeWidgetItem* lp_parent : {lp_row->parent(), lp_row->parent()->parent()})
        ShowAggregateStatus(i_side, lp_parent);
}

void TransfersForm::ShowAggregateStatus(const Side& i_side, QTreeWidgetItem* ip_row)
{
    const QString l_aggregate =
        QString::fromLatin1(TransferAggregates::Status(i_side.m_kind, m_statusCounts.Under(ip_row)));
    if (!IsShownExpanded(ip_row))
        SetCellText(ip_row, Status, l_aggregate);
    ColourRow(ip_row, l_aggregate, i_side.mp_tree->columnCount());
}

void TransfersForm::OnDownloadEntryRemoved(Item* ip_download)
{
    m_pendingCompletions.erase(ip_download);
    RemoveEntryRow(*mp_downloads, ip_download);
}

void TransfersForm::OnUploadEntryRemoved(Item* ip_upload)
{
    RemoveEntryRow(*mp_uploads, ip_upload);
}

// The file row goes, then its folder row and its user row when they are
// left empty; the figures and status of the rows that stay are shown anew
// at the next refresh, once however many rows they lose or gain. The rows
// leave the store at once, so that nothing finds them any more, and their
// trees when TransferTreeUpdates lets them go.
void TransfersForm::RemoveEntryRow(const Side& i_side, ItemPtr i_entry)
{
    m_reported.erase(i_entry.Get());
    if (StopWaiting(i_entry.Get()))
        return;
    const ItemPtr l_node = i_entry[i_side.m_kind.mp_fileNodeType];
    QTreeWidgetItem* lp_row = Side::RowOf(l_node);
    if (!lp_row)
        return;
    QTreeWidgetItem* lp_folderRow = lp_row->parent();
    QTreeWidgetItem* lp_userRow = lp_folderRow->parent();
    // New uploads of the user that wait go in first: the rows above keep
    // the rows they will hold.
    if (Item* lp_user = i_entry["user"].Get();
        i_side.m_updates.ChildrenStaying(lp_folderRow) == 1 && m_waitingUploadsOfUser.count(lp_user) != 0)
        MakeWaitingUploadRows(lp_user);
    m_statusCounts.Remove(lp_row);
    l_node.Remove();
    QTreeWidgetItem* lp_gone = lp_row;
    if (i_side.m_updates.ChildrenStaying(lp_folderRow) == 1) {
        m_statusCounts.Forget(lp_folderRow);
        i_side.NodeOf(lp_folderRow).Remove();
        m_changed.erase(lp_folderRow);
        lp_gone = lp_folderRow;
        if (i_side.m_updates.ChildrenStaying(lp_userRow) == 1) {
            m_statusCounts.Forget(lp_userRow);
            i_side.NodeOf(lp_userRow).Remove();
            m_changed.erase(lp_userRow);
            lp_gone = lp_userRow;
        }
    }
    if (lp_gone == lp_row)
        NoteChanged(i_side, lp_folderRow);
    if (lp_gone != lp_userRow)
        NoteChanged(i_side, lp_userRow);
    i_side.m_updates.Leave(lp_gone);
}

void TransfersForm::OnRowJoined(QTreeWidgetItem* ip_row)
{
    const Side* lp_side = SideOf(ip_row);
    if (!lp_side)
        return;
    const bool l_user = Depth(ip_row) == 0;
    if (this->*(l_user ? lp_side->mp_expandUsers : lp_side->mp_expandFolders))
        lp_side->mp_tree->expandItem(ip_row);
}

void TransfersForm::OnDownloadPlaceInLine(Item* ip_download)
{
    const ItemPtr l_download(ip_download);
    if (QTreeWidgetItem* lp_row = mp_downloads->EntryRow(l_download))
        lp_row->setText(Place, QString::fromLatin1(l_download["place_in_line"].AsString()));
}

void TransfersForm::OnUserOnline(Item* ip_user)
{
    if (QTreeWidgetItem* lp_row = Side::RowOf(ItemPtr(ip_user)["download_list_user_node"]))
        lp_row->setText(User, UserText(ip_user, true));
}

void TransfersForm::OnUserOffline(Item* ip_user)
{
    OnUserOnline(ip_user);
}

// An expanded user or folder row shows its figures on the rows below it.
void TransfersForm::OnItemExpanded(QTreeWidgetItem* ip_item)
{
    const Side* lp_side = SideOf(ip_item);
    if (!lp_side || lp_side->NodeOf(ip_item).IsNull() || Depth(ip_item) == 2)
        return;
    for (int l_column : {Status, TimeLeft, Speed})
        SetCellText(ip_item, l_column, QString());
    ProgressBarDelegate::RemoveBar(ip_item, Progress);
}

void TransfersForm::OnItemCollapsed(QTreeWidgetItem* ip_item)
{
    const Side* lp_side = SideOf(ip_item);
    if (!lp_side || lp_side->NodeOf(ip_item).IsNull() || Depth(ip_item) == 2)
        return;
    ip_item->setText(Status,
                     QString::fromLatin1(TransferAggregates::Status(lp_side->m_kind, m_statusCounts.Under(ip_item))));
}

// Opens the file the download was stored under (see "Open File"); nothing
// when its names cannot be placed in the download folder.
void TransfersForm::OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    if (!ip_item || Depth(ip_item) != 2)
        return;
    const ItemPtr l_download = mp_downloads->NodeOf(ip_item)["download_entry"];
    if (l_download.IsNull())
        return;
    const QString l_path = transferQueueManager->GetFinishedFilePath(l_download);
    if (!l_path.isEmpty())
        OpenLocalPathWithDesktop(l_path);
}

void TransfersForm::OnDownloadComplete(ItemPtr i_download)
{
    // Only a completion still pending: the entry may have gone meanwhile.
    if (m_pendingCompletions.erase(i_download.Get()) == 0)
        return;
    if (Settings::IsYes("clear_complete_downloads"))
        transferQueueManager->RemoveDownload(i_download);
}
