#include "ui/views/TreeRowRemoval.h"

#include <QAbstractItemModel>
#include <QItemSelectionModel>
#include <QList>
#include <QPersistentModelIndex>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <map>
#include <unordered_map>
#include <utility>

namespace
{
using TreeRowRemoval::Leaving;

// More removals than these for what leaves a tree at once, and its top
// level comes out and goes back whole instead: that costs two steps and a
// look at every row, a step costs a pass over the open rows.
constexpr int FewRemovals = 4;

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

// The row and the rows below it that are open or hidden, but for the rows
// that go and those below them.
struct ViewState
{
    std::vector<QTreeWidgetItem*> m_open;
    std::vector<QTreeWidgetItem*> m_hidden;

    void Read(QTreeWidgetItem* ip_row, const std::unordered_set<QTreeWidgetItem*>& i_going = {})
    {
        if (i_going.count(ip_row) != 0)
            return;
        if (ip_row->isHidden())
            m_hidden.push_back(ip_row);
        if (ip_row->childCount() == 0)
            return;
        if (ip_row->isExpanded())
            m_open.push_back(ip_row);
        for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
            Read(ip_row->child(l_child), i_going);
    }

    void Restore() const
    {
        for (QTreeWidgetItem* lp_row : m_open)
            lp_row->setExpanded(true);
        for (QTreeWidgetItem* lp_row : m_hidden)
            lp_row->setHidden(true);
    }
};

// The places of the children among those of the parent, in order, found in
// one pass that stops at the last.
std::vector<int> PlacesOf(const QTreeWidgetItem* ip_parent, const std::unordered_set<QTreeWidgetItem*>& i_children)
{
    std::vector<int> l_places;
    l_places.reserve(i_children.size());
    for (int l_child = 0; l_child < ip_parent->childCount() && l_places.size() < i_children.size(); ++l_child) {
        if (i_children.count(ip_parent->child(l_child)))
            l_places.push_back(l_child);
    }
    return l_places;
}

// Takes every child out of the parent, which is in no tree or whose tree's
// signals are held, and puts back those that stay, in their order; returns
// those that went.
QList<QTreeWidgetItem*> KeepOnly(QTreeWidgetItem* ip_parent, const std::unordered_set<QTreeWidgetItem*>& i_going)
{
    QList<QTreeWidgetItem*> l_staying;
    QList<QTreeWidgetItem*> l_gone;
    for (QTreeWidgetItem* lp_child : ip_parent->takeChildren())
        (i_going.count(lp_child) != 0 ? l_gone : l_staying).append(lp_child);
    ip_parent->addChildren(l_staying);
    return l_gone;
}

// All the children out at once, those that stay back in.
void TakeOutAllAndPutBack(QTreeWidgetItem* ip_parent, const std::unordered_set<QTreeWidgetItem*>& i_children)
{
    ViewState l_state;
    for (int l_child = 0; l_child < ip_parent->childCount(); ++l_child)
        l_state.Read(ip_parent->child(l_child), i_children);
    const QSignalBlocker l_quiet(ip_parent->treeWidget());
    const QList<QTreeWidgetItem*> l_gone = KeepOnly(ip_parent, i_children);
    l_state.Restore();
    qDeleteAll(l_gone);
}

// How many removals TakeOutChildren makes for the rows.
int RemovalsOf(const Leaving& i_leaving)
{
    const std::vector<int> l_places = PlacesOf(i_leaving.mp_parent, i_leaving.m_children);
    if (IsTreeRoot(i_leaving.mp_parent)) {
        int l_runs = 0;
        for (std::size_t l_place = 0; l_place < l_places.size(); ++l_place)
            l_runs += l_place == 0 || l_places[l_place - 1] != l_places[l_place] - 1 ? 1 : 0;
        return l_runs;
    }
    if (l_places.size() <= 1 || !HoldsCurrentOrSelected(i_leaving.mp_parent))
        return int(std::min<std::size_t>(l_places.size(), 1));
    return int(l_places.size());
}

// The rows that leave the parent from which the current row, or a row above
// it, leaves; null when none does.
const Leaving* LeftByCurrent(const QTreeWidget& i_tree, const std::vector<const Leaving*>& i_leaving)
{
    std::unordered_map<const QTreeWidgetItem*, const Leaving*> l_byParent;
    for (const Leaving* lp_leaving : i_leaving)
        l_byParent.emplace(lp_leaving->mp_parent, lp_leaving);
    const Leaving* lp_found = nullptr;
    for (QTreeWidgetItem* lp_row = i_tree.currentItem(); lp_row; lp_row = lp_row->parent()) {
        const QTreeWidgetItem* lp_parent = lp_row->parent() ? lp_row->parent() : i_tree.invisibleRootItem();
        const auto l_at = l_byParent.find(lp_parent);
        // The highest counts: the rows below it go with it.
        if (l_at != l_byParent.end() && l_at->second->m_children.count(lp_row) != 0)
            lp_found = l_at->second;
    }
    return lp_found;
}

// The current row and the selection of a tree, kept while its rows go out
// and back: they come back on the rows that stay.
class PointedAt
{
public:
    PointedAt(QTreeWidget& io_tree, const std::unordered_set<QTreeWidgetItem*>& i_going) : m_tree(io_tree)
    {
        const auto l_goes = [&i_going](QTreeWidgetItem* ip_row) {
            for (; ip_row; ip_row = ip_row->parent()) {
                if (i_going.count(ip_row) != 0)
                    return true;
            }
            return false;
        };
        // Hidden rows too, which selectedItems leaves out.
        for (const QModelIndex& l_index : io_tree.selectionModel()->selectedIndexes()) {
            QTreeWidgetItem* lp_row = io_tree.itemFromIndex(l_index);
            if (!l_goes(lp_row))
                m_selected.emplace_back(lp_row, l_index.column());
        }
        mp_current = io_tree.currentItem();
        m_currentColumn = io_tree.currentColumn();
        if (l_goes(mp_current))
            mp_current = nullptr;
    }

    // i_bringIntoSight: a tree out of sight brings the current row into
    // sight when it is shown, as it does after a change of the current row.
    void Restore(bool i_bringIntoSight) const
    {
        QItemSelection l_selection;
        for (const auto& [lp_row, l_column] : m_selected) {
            const QModelIndex l_index = m_tree.indexFromItem(lp_row, l_column);
            l_selection.select(l_index, l_index);
        }
        if (!l_selection.isEmpty())
            m_tree.selectionModel()->select(l_selection, QItemSelectionModel::Select);
        if (!mp_current)
            return;
        // Current again where it was: a tree in sight need not scroll to it.
        const bool l_autoScroll = m_tree.hasAutoScroll();
        m_tree.setAutoScroll(l_autoScroll && i_bringIntoSight && !m_tree.isVisible());
        m_tree.setCurrentItem(mp_current, m_currentColumn, QItemSelectionModel::NoUpdate);
        m_tree.setAutoScroll(l_autoScroll);
    }

private:
    QTreeWidget& m_tree;
    std::vector<std::pair<QTreeWidgetItem*, int>> m_selected;
    QTreeWidgetItem* mp_current = nullptr;
    int m_currentColumn = 0;
};

// Every top-level row out in one step, the rows that go taken from their
// parents meanwhile, and those that stay back in one step. i_bringIntoSight
// as for PointedAt::Restore.
void TakeOutTopLevelAndPutBack(QTreeWidget& io_tree, const std::vector<const Leaving*>& i_leaving,
                               bool i_bringIntoSight)
{
    QTreeWidgetItem* lp_root = io_tree.invisibleRootItem();
    std::unordered_set<QTreeWidgetItem*> l_going;
    for (const Leaving* lp_leaving : i_leaving)
        l_going.insert(lp_leaving->m_children.begin(), lp_leaving->m_children.end());
    ViewState l_state;
    for (int l_row = 0; l_row < lp_root->childCount(); ++l_row)
        l_state.Read(lp_root->child(l_row), l_going);
    const PointedAt l_pointedAt(io_tree, l_going);

    const QSignalBlocker l_quiet(&io_tree);
    QList<QTreeWidgetItem*> l_top = lp_root->takeChildren();
    QList<QTreeWidgetItem*> l_gone;
    for (const Leaving* lp_leaving : i_leaving) {
        // Out of the tree: no step of its model.
        if (lp_leaving->mp_parent != lp_root)
            l_gone += KeepOnly(lp_leaving->mp_parent, lp_leaving->m_children);
    }
    const auto l_goes = [&l_going](QTreeWidgetItem* ip_row) { return l_going.count(ip_row) != 0; };
    std::copy_if(l_top.begin(), l_top.end(), std::back_inserter(l_gone), l_goes);
    l_top.removeIf(l_goes);
    lp_root->addChildren(l_top);
    l_state.Restore();
    l_pointedAt.Restore(i_bringIntoSight);
    qDeleteAll(l_gone);
}

// The rows of one tree that leave, a parent at a time, top-level rows last:
// with few removals so, otherwise with the top level for all parents but
// the one the current row leaves, which goes the old way in its turn: the
// current row moves on as it did, and the view scrolls to it over the rows
// that are there at that turn.
void TakeOutOfTree(QTreeWidget& io_tree, std::vector<const Leaving*> i_leaving)
{
    // Taking top-level rows out moves every row below them, and the tree
    // then looks for each moved row anew the next time it needs it.
    std::stable_partition(i_leaving.begin(), i_leaving.end(),
                          [](const Leaving* ip_leaving) { return !IsTreeRoot(ip_leaving->mp_parent); });
    int l_removals = 0;
    for (const Leaving* lp_leaving : i_leaving) {
        if (l_removals > FewRemovals)
            break;
        l_removals += RemovalsOf(*lp_leaving);
    }
    if (l_removals <= FewRemovals || io_tree.isSortingEnabled()) {
        for (const Leaving* lp_leaving : i_leaving)
            TreeRowRemoval::TakeOutChildren(lp_leaving->mp_parent, lp_leaving->m_children);
        return;
    }
    const auto l_current = std::find(i_leaving.begin(), i_leaving.end(), LeftByCurrent(io_tree, i_leaving));
    if (l_current != i_leaving.begin())
        TakeOutTopLevelAndPutBack(io_tree, {i_leaving.begin(), l_current}, false);
    if (l_current == i_leaving.end())
        return;
    const QPersistentModelIndex l_wasCurrent = io_tree.currentIndex();
    TreeRowRemoval::TakeOutChildren((*l_current)->mp_parent, (*l_current)->m_children);
    const bool l_moved = io_tree.currentIndex().isValid() && io_tree.currentIndex() != l_wasCurrent;
    if (l_current + 1 != i_leaving.end())
        TakeOutTopLevelAndPutBack(io_tree, {l_current + 1, i_leaving.end()}, l_moved);
}
}  // namespace

namespace TreeRowRemoval
{
void TakeOut(const std::vector<Leaving>& i_leaving)
{
    // By tree, in the order of their first parent.
    std::map<QTreeWidget*, std::vector<const Leaving*>> l_byTree;
    std::vector<QTreeWidget*> l_trees;
    for (const Leaving& l_leaving : i_leaving) {
        QTreeWidget* lp_tree = l_leaving.mp_parent->treeWidget();
        if (!lp_tree) {
            TakeOutChildren(l_leaving.mp_parent, l_leaving.m_children);
            continue;
        }
        auto [l_at, l_new] = l_byTree.try_emplace(lp_tree);
        if (l_new)
            l_trees.push_back(lp_tree);
        l_at->second.push_back(&l_leaving);
    }
    for (QTreeWidget* lp_tree : l_trees)
        TakeOutOfTree(*lp_tree, std::move(l_byTree[lp_tree]));
}

void TakeOutChildren(QTreeWidgetItem* ip_parent, const std::unordered_set<QTreeWidgetItem*>& i_children)
{
    const std::vector<int> l_places = PlacesOf(ip_parent, i_children);
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
