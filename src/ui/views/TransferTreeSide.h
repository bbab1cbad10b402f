#pragma once

#include "ui/views/TransferKind.h"
#include "ui/views/TransferTreeUpdates.h"
#include "ui/views/TransfersForm.h"

#include <QTreeWidget>

// One tree of the transfers view: the tree, the kind of transfer it shows,
// the flags that say whether its new user and folder rows open expanded,
// and the rows on their way in and out of it.
struct TransfersForm::Side
{
    const TransferKind& m_kind;
    QTreeWidget* mp_tree;
    bool TransfersForm::*mp_expandUsers;
    bool TransfersForm::*mp_expandFolders;
    bool m_isDownloads;
    TransferTreeUpdates& m_updates;

    // The node item of a row of this tree, at any level, or null.
    ItemPtr NodeOf(QTreeWidgetItem* ip_row) const;
    // The row of a node item.
    static QTreeWidgetItem* RowOf(ItemPtr i_node) { return i_node.AsObject<QTreeWidgetItem>(); }
    // The file row of an entry, or null.
    QTreeWidgetItem* EntryRow(ItemPtr i_entry) const { return RowOf(i_entry[m_kind.mp_fileNodeType]); }
    // The entries under a row of this tree (see GetNodeDownloadEntryItems).
    ItemSet EntriesUnder(QTreeWidgetItem* ip_row) const;
    QTreeWidgetItem* UserRowOf(QTreeWidgetItem* ip_row) const;
};

// The columns of both trees (the uploads tree has no "Place").
namespace TransferColumns
{
constexpr int User = 0;
constexpr int Folder = 1;
constexpr int File = 2;
constexpr int Status = 3;
constexpr int Progress = 4;
constexpr int TimeLeft = 5;
constexpr int Speed = 6;
constexpr int Size = 7;
constexpr int Place = 8;
}  // namespace TransferColumns

// Whether the user sees the row open: in its tree and expanded.
inline bool IsShownExpanded(QTreeWidgetItem* ip_row)
{
    return ip_row->treeWidget() && ip_row->isExpanded();
}

// Writes a cell only when its text changes: a write repaints the cell.
inline void SetCellText(QTreeWidgetItem* ip_row, int i_column, const QString& i_text)
{
    if (ip_row->text(i_column) != i_text)
        ip_row->setText(i_column, i_text);
}
