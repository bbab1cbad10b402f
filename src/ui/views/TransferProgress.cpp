// The progress columns of the transfers view: a file row shows its own
// entry's bar, time left and speed; a folder or user row the sums of the
// entries below it, written when one of them reports.

#include "transfers/TransferFigures.h"
#include "ui/views/TransferProgressText.h"
#include "ui/views/TransferTreeSide.h"
#include "ui/views/TransfersForm.h"

#include <QProgressBar>

namespace
{
constexpr int ProgressColumn = 4;
constexpr int TimeLeftColumn = 5;
constexpr int SpeedColumn = 6;
constexpr int BarHeight = 14;

bool IsShownExpanded(QTreeWidgetItem* ip_row)
{
    return ip_row->treeWidget() && ip_row->isExpanded();
}

// The row's bar, made on its first report.
void ShowBar(QTreeWidget* ip_tree, QTreeWidgetItem* ip_row, qint64 i_done, qint64 i_total)
{
    auto* lp_bar = qobject_cast<QProgressBar*>(ip_tree->itemWidget(ip_row, ProgressColumn));
    if (!lp_bar) {
        lp_bar = new QProgressBar;
        lp_bar->setMaximumHeight(BarHeight);
        ip_tree->setItemWidget(ip_row, ProgressColumn, lp_bar);
    }
    lp_bar->setFormat(TransferProgressText::Progress(i_done, i_total));
    lp_bar->setValue(qBound(0, TransferProgressText::Percent(i_done, i_total), 100));
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

void TransfersForm::OnDownloadProgress(ItemPtr i_download)
{
    ApplyProgress(*mp_downloads, i_download);
}

void TransfersForm::OnUploadProgress(ItemPtr i_upload)
{
    ApplyProgress(*mp_uploads, i_upload);
}

void TransfersForm::ApplyProgress(const Side& i_side, ItemPtr i_entry)
{
    QTreeWidgetItem* lp_row = i_side.EntryRow(i_entry);
    if (!lp_row)
        return;
    QTreeWidgetItem* lp_folderRow = lp_row->parent();
    QTreeWidgetItem* lp_userRow = lp_folderRow->parent();
    const qint64 l_position = FigureOf<TransferFigures::Position>(i_entry, i_side.m_kind.mp_positionType);
    const qint64 l_size = i_side.m_kind.mp_size(i_entry);
    const int l_bytesPerSecond = FigureOf<TransferFigures::Speed>(i_entry, "bytes_per_second");

    lp_row->setText(TimeLeftColumn, TransferProgressText::TimeLeft(l_size - l_position, l_bytesPerSecond));
    ShowBar(i_side.mp_tree, lp_row, l_position, l_size);

    // The speed goes to the deepest row the user can see; it is always this
    // one entry's speed.
    const bool l_userExpanded = IsShownExpanded(lp_userRow);
    const bool l_folderExpanded = IsShownExpanded(lp_folderRow);
    QTreeWidgetItem* lp_speedRow = !l_userExpanded ? lp_userRow : (l_folderExpanded ? lp_row : lp_folderRow);
    lp_speedRow->setText(SpeedColumn, TransferProgressText::Speed(l_bytesPerSecond));

    // An expanded user row with one folder would only repeat that folder.
    if (!l_userExpanded || lp_userRow->childCount() >= 2) {
        if (!ShowParentProgress(i_side, lp_userRow, l_bytesPerSecond))
            return;
    }
    ShowParentProgress(i_side, lp_folderRow, l_bytesPerSecond);
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
    ip_row->setText(TimeLeftColumn, TransferProgressText::TimeLeft(l_left, i_bytesPerSecond));
    ShowBar(i_side.mp_tree, ip_row, l_done, l_total);
    return true;
}
