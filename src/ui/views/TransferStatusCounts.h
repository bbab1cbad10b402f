#pragma once

#include "ui/views/TransferKind.h"

#include <unordered_map>

class QTreeWidgetItem;

// How many entries under each folder and user row of the transfers trees
// hold each status, kept up to date as the statuses change, so that a row's
// aggregate status costs the same however many entries lie under it. A file
// row counts under its folder row and that row's user row, with the status
// it was last counted with: a change moves it from one count to the other.
class TransferStatusCounts
{
public:
    // A new file row, already under its folder row, counted with its
    // entry's status.
    void Add(QTreeWidgetItem* ip_fileRow, TransferAggregates::StatusClass i_class);
    void Change(QTreeWidgetItem* ip_fileRow, TransferAggregates::StatusClass i_class);
    // A file row about to go leaves the counts above it.
    void Remove(QTreeWidgetItem* ip_fileRow);
    // A folder or user row about to go.
    void Forget(QTreeWidgetItem* ip_row);
    // The counts of the entries under a folder or user row (none for a row
    // without file rows).
    const TransferAggregates::StatusCounts& Under(QTreeWidgetItem* ip_row) const;

private:
    // Each file row's class, and the counts of each folder and user row.
    std::unordered_map<const QTreeWidgetItem*, TransferAggregates::StatusClass> m_fileClasses;
    std::unordered_map<const QTreeWidgetItem*, TransferAggregates::StatusCounts> m_parentCounts;
};
