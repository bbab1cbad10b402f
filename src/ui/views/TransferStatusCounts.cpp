#include "ui/views/TransferStatusCounts.h"

#include <QTreeWidgetItem>

using TransferAggregates::StatusClass;
using TransferAggregates::StatusCounts;

namespace
{
// The folder row and the user row of a file row.
std::array<QTreeWidgetItem*, 2> ParentsOf(QTreeWidgetItem* ip_fileRow)
{
    QTreeWidgetItem* lp_folderRow = ip_fileRow->parent();
    return {lp_folderRow, lp_folderRow->parent()};
}
}  // namespace

void TransferStatusCounts::Add(QTreeWidgetItem* ip_fileRow, StatusClass i_class)
{
    m_fileClasses[ip_fileRow] = i_class;
    for (QTreeWidgetItem* lp_parent : ParentsOf(ip_fileRow))
        m_parentCounts[lp_parent].Add(i_class);
}

void TransferStatusCounts::Change(QTreeWidgetItem* ip_fileRow, StatusClass i_class)
{
    const auto l_found = m_fileClasses.find(ip_fileRow);
    if (l_found == m_fileClasses.end() || l_found->second == i_class)
        return;
    for (QTreeWidgetItem* lp_parent : ParentsOf(ip_fileRow)) {
        StatusCounts& l_counts = m_parentCounts[lp_parent];
        l_counts.Take(l_found->second);
        l_counts.Add(i_class);
    }
    l_found->second = i_class;
}

void TransferStatusCounts::Remove(QTreeWidgetItem* ip_fileRow)
{
    const auto l_found = m_fileClasses.find(ip_fileRow);
    if (l_found == m_fileClasses.end())
        return;
    for (QTreeWidgetItem* lp_parent : ParentsOf(ip_fileRow))
        m_parentCounts[lp_parent].Take(l_found->second);
    m_fileClasses.erase(l_found);
}

void TransferStatusCounts::Forget(QTreeWidgetItem* ip_row)
{
    m_parentCounts.erase(ip_row);
}

const StatusCounts& TransferStatusCounts::Under(QTreeWidgetItem* ip_row) const
{
    static const StatusCounts sl_none;
    const auto l_found = m_parentCounts.find(ip_row);
    return l_found == m_parentCounts.end() ? sl_none : l_found->second;
}
