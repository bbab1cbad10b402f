// The progress columns of the transfers view: a file row shows its own
// entry's bar, time left and speed; a folder or user row the sums of the
// entries below it, written when one of them reports.

#include "transfers/TransferFigures.h"
#include "ui/views/ProgressBarDelegate.h"
#include "ui/views/TransferProgressText.h"
#include "ui/views/TransferTreeSide.h"
#include "ui/views/TransfersForm.h"

#include <unordered_map>
#include <unordered_set>


namespace
{
using namespace TransferColumns;

// The row's bar, made on its first report.
void ShowBar(QTreeWidgetItem* ip_row, qint64 i_done, qint64 i_total)
{
    ProgressBarDelegate::SetBar(ip_row, Progress, TransferProgressText::Progress(i_done, i_total),
                                TransferProgressText::Percent(i_done, i_total));
}

template <class T>
T FigureOf(ItemPtr i_entry, const char* ip_type)
{
    const T* lp_cell = TransferFigures::Of<T>(i_entry, ip_type);
    return lp_cell ? *lp_cell : T();
}
}  // namespace

void TransfersForm::GetDownloadsProgressStats(ItemSet& i_downloads, qint64& o_bytesDownloaded, qint64& o_bytesLeft,
                                              qint64& o_bytesTotal)
{
    TransferAggregates::Progress(TransferKind::Download, i_downloads, o_bytesDownloaded, o_bytesLeft, o_bytesTotal);
}

void TransfersForm::GetUploadsProgressStats(ItemSet& i_uploads, qint64& o_bytesUploaded, qint64& o_bytesLeft,
                                            qint64& o_bytesTotal)
{
    TransferAggregates::Progress(TransferKind::Upload, i_uploads, o_bytesUploaded, o_bytesLeft, o_bytesTotal);
}

// Reports are gathered and written on the refresh timer: a row's figures
// change at most once a refresh, and a folder or user row with many
// running transfers has its sums taken once, not once per report.
void TransfersForm::OnDownloadProgress(ItemPtr i_download)
{
    NoteReport(*mp_downloads, i_download);
}

void TransfersForm::OnUploadProgress(ItemPtr i_upload)
{
    NoteReport(*mp_uploads, i_upload);
}

void TransfersForm::NoteReport(const Side& i_side, ItemPtr i_entry)
{
    if (m_reported.emplace(i_entry.Get(), &i_side).second)
        m_reportOrder.push_back(i_entry.Get());
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void TransfersForm::WriteWaitingReport(const Side& i_side, ItemPtr i_entry)
{
    // The refresh passes over entries that are not listed.
    if (m_reported.erase(i_entry.Get()) == 0)
        return;
    WriteReport(i_side, i_entry, FiguresOf(i_side, i_entry));
}

void TransfersForm::WriteReport(const Side& i_side, ItemPtr i_entry, ReportFigures i_figures)
{
    ApplyProgress(i_side, i_entry, i_figures, [&](QTreeWidgetItem* ip_row, int i_bytesPerSecond) {
        ShowParentProgress(i_side, ip_row, i_bytesPerSecond);
    });
}

TransfersForm::ReportFigures TransfersForm::FiguresOf(const Side& i_side, ItemPtr i_entry)
{
    return {FigureOf<TransferFigures::Position>(i_entry, i_side.m_kind.mp_positionType),
            FigureOf<TransferFigures::Speed>(i_entry, "bytes_per_second")};
}

void TransfersForm::RefreshProgress()
{
    m_refreshTimer.stop();
    // Figures go to the rows the user will see them on: a new row joins its
    // tree, opened or not as the flags say, before they are written.
    // The rows of new uploads go in below theirs, and the rows above them
    // add them up.
    std::unordered_set<const Side*> l_refreshed;
    if (!m_waitingUploads.empty()) {
        l_refreshed.insert(mp_uploads.get());
        m_uploadTreeUpdates.Refresh();
    }
    for (Item* lp_entry : m_reportOrder) {
        const auto l_found = m_reported.find(lp_entry);
        QTreeWidgetItem* lp_row = l_found == m_reported.end() ? nullptr : l_found->second->EntryRow(lp_entry);
        if (lp_row && !lp_row->treeWidget() && l_refreshed.insert(l_found->second).second)
            l_found->second->m_updates.Refresh();
    }
    const std::vector<Item*> l_order = std::move(m_reportOrder);
    m_reportOrder.clear();
    std::vector<ParentFigures> l_parents;
    std::unordered_map<QTreeWidgetItem*, std::size_t> l_parentIndex;
    for (Item* lp_entry : l_order) {
        // Entries removed since their report are no longer listed.
        const auto l_found = m_reported.find(lp_entry);
        if (l_found == m_reported.end())
            continue;
        const Side& l_side = *l_found->second;
        // A new upload whose row waits for its tree's next change (a flood
        // holds it back): its report waits with it, for the row, or for its
        // status if it stops first.
        if (!l_side.EntryRow(lp_entry) && m_waitingUploads.contains(lp_entry))
            continue;
        m_reported.erase(l_found);
        ApplyProgress(l_side, lp_entry, FiguresOf(l_side, lp_entry),
                      [&](QTreeWidgetItem* ip_row, int i_bytesPerSecond) {
                          const auto [l_at, l_new] = l_parentIndex.emplace(ip_row, l_parents.size());
                          if (l_new)
                              l_parents.push_back({&l_side, ip_row, i_bytesPerSecond});
                          else
                              l_parents[l_at->second].m_bytesPerSecond = i_bytesPerSecond;
                      });
    }
    for (const ParentFigures& l_parent : l_parents) {
        // A row whose rows changed and whose sums are new already needs
        // only its status; one whose entries add up to nothing is left to
        // ShowChanged, which takes its figures away.
        if (ShowParentProgress(*l_parent.mp_side, l_parent.mp_row, l_parent.m_bytesPerSecond) &&
            m_changed.erase(l_parent.mp_row) != 0)
            ShowAggregateStatus(*l_parent.mp_side, l_parent.mp_row);
    }
    ShowChanged();
}

void TransfersForm::NoteChanged(const Side& i_side, QTreeWidgetItem* ip_row)
{
    m_changed.emplace(ip_row, &i_side);
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void TransfersForm::ShowChanged()
{
    const std::unordered_map<QTreeWidgetItem*, const Side*> l_changed = std::move(m_changed);
    m_changed.clear();
    for (const auto& [lp_row, lp_side] : l_changed) {
        ShowAggregateStatus(*lp_side, lp_row);
        // A row shows sums from its first report on: one without a bar has
        // none to correct.
        if (!ProgressBarDelegate::HasBar(lp_row, Progress))
            continue;
        const ItemSet l_entries = lp_side->EntriesUnder(lp_row);
        qint64 l_done = 0;
        qint64 l_left = 0;
        qint64 l_total = 0;
        TransferAggregates::Progress(lp_side->m_kind, l_entries, l_done, l_left, l_total);
        if (l_total == 0) {
            ProgressBarDelegate::RemoveBar(lp_row, Progress);
            SetCellText(lp_row, TimeLeft, QString());
            continue;
        }
        // No entry that left may leave its time behind, and no entry that
        // came may be missing from it: with nothing running, none is left.
        SetCellText(lp_row, TimeLeft,
                    TransferProgressText::TimeLeft(l_left, TransferAggregates::Speed(lp_side->m_kind, l_entries)));
        ShowBar(lp_row, l_done, l_total);
    }
}

void TransfersForm::ApplyProgress(const Side& i_side, ItemPtr i_entry, ReportFigures i_figures,
                                  const std::function<void(QTreeWidgetItem*, int)>& i_noteParent)
{
    QTreeWidgetItem* lp_row = i_side.EntryRow(i_entry);
    if (!lp_row)
        return;
    QTreeWidgetItem* lp_folderRow = lp_row->parent();
    QTreeWidgetItem* lp_userRow = lp_folderRow->parent();
    const qint64 l_position = i_figures.m_position;
    const qint64 l_size = i_side.m_kind.mp_size(i_entry);
    const int l_bytesPerSecond = i_figures.m_bytesPerSecond;

    SetCellText(lp_row, TimeLeft, TransferProgressText::TimeLeft(l_size - l_position, l_bytesPerSecond));
    ShowBar(lp_row, l_position, l_size);

    // The speed goes to the deepest row the user can see; it is always this
    // one entry's speed.
    const bool l_userExpanded = IsShownExpanded(lp_userRow);
    const bool l_folderExpanded = IsShownExpanded(lp_folderRow);
    QTreeWidgetItem* lp_speedRow = !l_userExpanded ? lp_userRow : (l_folderExpanded ? lp_row : lp_folderRow);
    SetCellText(lp_speedRow, Speed, TransferProgressText::Speed(l_bytesPerSecond));

    // An expanded user row with one folder would only repeat that folder.
    if (!l_userExpanded || i_side.m_updates.ChildrenStaying(lp_userRow) >= 2)
        i_noteParent(lp_userRow, l_bytesPerSecond);
    i_noteParent(lp_folderRow, l_bytesPerSecond);
}

bool TransfersForm::ShowParentProgress(const Side& i_side, QTreeWidgetItem* ip_row, int i_bytesPerSecond)
{
    qint64 l_done = 0;
    qint64 l_left = 0;
    qint64 l_total = 0;
    TransferAggregates::Progress(i_side.m_kind, i_side.EntriesUnder(ip_row), l_done, l_left, l_total);
    if (l_total == 0)
        return false;
    // The time left of the whole row at the speed of the entry that reported.
    SetCellText(ip_row, TimeLeft, TransferProgressText::TimeLeft(l_left, i_bytesPerSecond));
    ShowBar(ip_row, l_done, l_total);
    return true;
}
