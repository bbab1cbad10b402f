#pragma once

#include "core/persist/DataSaver.h"
#include "core/store/Item.h"

#include <QTreeWidgetItem>
#include <QWidget>

namespace Ui {
class CompleteDownloadsForm;
}

// One row of the finished-downloads list. It keeps the completion time it
// shows, parsed once, so that ordering rows reads neither the store nor
// their texts.
class CompleteDownloadItem : public QTreeWidgetItem
{
public:
    explicit CompleteDownloadItem(ItemPtr i_record);

    // Earlier completion first; a time that does not parse counts as the
    // earliest of all.
    bool operator<(const QTreeWidgetItem& i_other) const override;
    qint64 SortKey() const { return m_sortKey; }

private:
    qint64 m_sortKey;
};

// The "Complete" tab of the Transfers page: one row per finished download,
// newest first, from the records the transfer manager keeps (also those of
// earlier runs). It only displays. At most one exists, built on the user's
// first "complete_downloads" command and kept to the end of the run.
class CompleteDownloadsForm : public QWidget, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Becomes `completeDownloadsForm`.
    explicit CompleteDownloadsForm(QWidget* ip_parent = nullptr);
    ~CompleteDownloadsForm() override;

    // Once: declares the row type, follows new records and, when the data
    // file has been loaded already, fills the list at once.
    void Init();
    // Every record, then one sort.
    void DataLoaded() override;

    Ui::CompleteDownloadsForm* Form() const { return ui; }

public slots:
    // A new record: its row goes above every row that finished earlier.
    void OnCompleteDownloadAdded(ItemPtr i_download);

private:
    CompleteDownloadItem* MakeRow(ItemPtr i_record);

    Ui::CompleteDownloadsForm* ui;
};

extern CompleteDownloadsForm* completeDownloadsForm;
