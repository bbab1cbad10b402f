#include "ui/views/CompleteDownloadsForm.h"

#include "core/store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "ui/widgets/ColumnWidths.h"
#include "ui_CompleteDownloadsForm.h"

#include <QDateTime>
#include <QHeaderView>

#include <algorithm>
#include <limits>

CompleteDownloadsForm* completeDownloadsForm = nullptr;

namespace
{
enum Column { FileColumn, FolderColumn, UserColumn, SizeColumn, TimeColumn };

QString Latin1Of(ItemPtr i_record, const char* ip_type)
{
    return QString::fromLatin1(i_record[ip_type].AsString());
}

QString Utf8Of(ItemPtr i_record, const char* ip_type)
{
    return QString::fromUtf8(i_record[ip_type].AsString());
}
}  // namespace

CompleteDownloadItem::CompleteDownloadItem(ItemPtr i_record)
{
    const QDateTime l_time = QDateTime::fromString(Latin1Of(i_record, "complete_download_completion_time"), Qt::TextDate);
    m_sortKey = l_time.isValid() ? l_time.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
}

bool CompleteDownloadItem::operator<(const QTreeWidgetItem& i_other) const
{
    return m_sortKey < static_cast<const CompleteDownloadItem&>(i_other).m_sortKey;
}

CompleteDownloadsForm::CompleteDownloadsForm(QWidget* ip_parent) : QWidget(ip_parent), ui(new Ui::CompleteDownloadsForm)
{
    ui->setupUi(this);
    completeDownloadsForm = this;
    QTreeWidget* lp_list = ui->downloadList;
    lp_list->setColumnCount(5);
    lp_list->header()->setStretchLastSection(false);
    lp_list->setHeaderLabels({tr("File"), tr("Folder"), tr("User"), tr("Size"), tr("Completion time")});
    int l_column = 0;
    for (int l_width : {250, 250, 100, 100, 150})
        lp_list->setColumnWidth(l_column++, l_width);
    WidenColumnToShow(lp_list, SizeColumn, TypicalText::Size());
    WidenColumnToShow(lp_list, TimeColumn, TypicalText::DateTime());
    lp_list->header()->setSectionsMovable(false);
}

CompleteDownloadsForm::~CompleteDownloadsForm()
{
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.erase(this);
    if (completeDownloadsForm == this)
        completeDownloadsForm = nullptr;
    delete ui;
}

void CompleteDownloadsForm::Init()
{
    d.NewType("complete_download_node", true, false, true)
        ->RelateToType(d.GetType("complete_download"), One, One, false);
    connect(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded, this,
            &CompleteDownloadsForm::OnCompleteDownloadAdded);
    if (!dataSaver)
        return;
    dataSaver->m_dataLoadedEventHandlers.insert(this);
    if (dataSaver->IsLoaded())
        DataLoaded();
}

void CompleteDownloadsForm::DataLoaded()
{
    // Records are never removed, so the list grows from run to run: one
    // sort after the fill rather than one per row. Never removed also means
    // that the type's own list holds them in the order they were made (the
    // data file keeps that order), unlike an ItemSet, which follows their
    // addresses; the sort is stable, so rows of the same second stay in
    // that order, as those added while the tab is open do.
    for (Item* lp_record : d.GetType("complete_download")->UnorderedItems())
        ui->downloadList->addTopLevelItem(MakeRow(lp_record));
    ui->downloadList->sortItems(0, Qt::DescendingOrder);
}

void CompleteDownloadsForm::OnCompleteDownloadAdded(ItemPtr i_download)
{
    CompleteDownloadItem* lp_row = MakeRow(i_download);
    // Newest first; rows of the same second keep their order, the new one
    // below the others.
    QTreeWidget* lp_list = ui->downloadList;
    int l_low = 0;
    int l_high = lp_list->topLevelItemCount();
    while (l_low < l_high) {
        const int l_middle = l_low + (l_high - l_low) / 2;
        if (static_cast<CompleteDownloadItem*>(lp_list->topLevelItem(l_middle))->SortKey() < lp_row->SortKey())
            l_high = l_middle;
        else
            l_low = l_middle + 1;
    }
    lp_list->insertTopLevelItem(l_low, lp_row);
}

CompleteDownloadItem* CompleteDownloadsForm::MakeRow(ItemPtr i_record)
{
    auto* lp_row = new CompleteDownloadItem(i_record);
    lp_row->setText(FileColumn, Utf8Of(i_record, "complete_download_filename"));
    lp_row->setText(FolderColumn, Utf8Of(i_record, "complete_download_relative_folder"));
    lp_row->setText(UserColumn, Latin1Of(i_record, "user"));
    lp_row->setText(SizeColumn, Latin1Of(i_record, "complete_download_file_size"));
    lp_row->setText(TimeColumn, Latin1Of(i_record, "complete_download_completion_time"));
    d.GetType("complete_download_node")->GetItem(Value(static_cast<QTreeWidgetItem*>(lp_row))) += i_record;
    return lp_row;
}
