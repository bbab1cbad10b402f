#include "ui/views/TreeRowRemoval.h"

#include <QAbstractItemModel>
#include <QList>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <vector>

namespace
{
bool IsTreeRoot(const QTreeWidgetItem* ip_item)
{
    return ip_item->treeWidget() && ip_item->treeWidget()->invisibleRootItem() == ip_item;
}

bool IsBelow(const QTreeWidgetItem* ip_row, const QTreeWidgetItem* ip_above)
{
    for (const QTreeWidgetItem* lp_at = ip_row ? ip_row->parent() : nullptr; lp_at; lp_at = lp_at->parent()) {
        if (lp_at == ip_above)
            return true;
    }
    return false;
}

// Whether the current row or a selected one is below the row.
bool HoldsCurrentOrSelected(const QTreeWidgetItem* ip_row)
{
    const QTreeWidget* lp_tree = ip_row->treeWidget();
    if (IsBelow(lp_tree->currentItem(), ip_row))
        return true;
    const QList<QTreeWidgetItem*> l_selected = lp_tree->selectedItems();
    return std::any_of(l_selected.begin(), l_selected.end(),
                       [ip_row](const QTreeWidgetItem* ip_selected) { return IsBelow(ip_selected, ip_row); });
}

// The row and the rows below it that are open or hidden.
struct ViewState
{
    std::vector<QTreeWidgetItem*> m_open;
    std::vector<QTreeWidgetItem*> m_hidden;

    void Read(QTreeWidgetItem* ip_row)
    {
        if (ip_row->isHidden())
            m_hidden.push_back(ip_row);
        if (ip_row->childCount() == 0)
            return;
        if (ip_row->isExpanded())
            m_open.push_back(ip_row);
        for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
            Read(ip_row->child(l_child));
    }

    void Restore() const
    {
        for (QTreeWidgetItem* lp_row : m_open)
            lp_row->setExpanded(true);
        for (QTreeWidgetItem* lp_row : m_hidden)
            lp_row->setHidden(true);
    }
};

// All the children out at once, those that stay back in.
void TakeOutAllAndPutBack(QTreeWidgetItem* ip_parent, const std::unordered_set<QTreeWidgetItem*>& i_children)
{
    QList<QTreeWidgetItem*> l_staying;
    ViewState l_state;
    for (int l_child = 0; l_child < ip_parent->childCount(); ++l_child) {
        QTreeWidgetItem* lp_child = ip_parent->child(l_child);
        if (i_children.count(lp_child) != 0)
            continue;
        l_staying.append(lp_child);
        l_state.Read(lp_child);
    }
    const QSignalBlocker l_quiet(ip_parent->treeWidget());
    const QList<QTreeWidgetItem*> l_all = ip_parent->takeChildren();
    ip_parent->addChildren(l_staying);
    l_state.Restore();
    for (QTreeWidgetItem* lp_child : l_all) {
        if (i_children.count(lp_child) != 0)
            delete lp_child;
    }
}
}  // namespace

namespace TreeRowRemoval
{
void TakeOutChildren(QTreeWidgetItem* ip_parent, const std::unordered_set<QTreeWidgetItem*>& i_children)
{
    // The places of the rows, found in one pass that stops at the last.
    std::vector<int> l_places;
    l_places.reserve(i_children.size());
    for (int l_child = 0; l_child < ip_parent->childCount() && l_places.size() < i_children.size(); ++l_child) {
        if (i_children.count(ip_parent->child(l_child)))
            l_places.push_back(l_child);
    }
    const bool l_topLevel = IsTreeRoot(ip_parent);
    if (!l_topLevel && l_places.size() > 1 && ip_parent->treeWidget() && !HoldsCurrentOrSelected(ip_parent)) {
        TakeOutAllAndPutBack(ip_parent, i_children);
        return;
    }
    // From the last run to the first, so that the places of the runs still
    // to go stay as they were.
    for (std::size_t l_end = l_places.size(); l_end > 0;) {
        std::size_t l_begin = l_end - 1;
        while (l_begin > 0 && l_places[l_begin - 1] == l_places[l_begin] - 1)
            --l_begin;
        const int l_first = l_places[l_begin];
        const int l_count = int(l_end - l_begin);
        if (l_topLevel) {
            // The tree's model takes a run of top-level rows in one step,
            // and deletes them.
            ip_parent->treeWidget()->model()->removeRows(l_first, l_count);
        } else {
            for (int l_place = l_first + l_count - 1; l_place >= l_first; --l_place)
                delete ip_parent->takeChild(l_place);
        }
        l_end = l_begin;
    }
}
}  // namespace TreeRowRemoval
