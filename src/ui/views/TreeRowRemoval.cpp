#include "ui/views/TreeRowRemoval.h"

#include <QAbstractItemModel>
#include <QDeadlineTimer>
#include <QItemSelectionModel>
#include <QList>
#include <QPersistentModelIndex>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <iterator>
#include <map>
#include <unordered_map>
#include <utility>

namespace
{
using TreeRowRemoval::Leaving;

// More removals than these for what leaves a tree at once, and only the
// removals that each take many rows out are made, a few at most; the other
// rows stay, hidden, until they are worth a removal or go with a row above
// them. A removal costs a pass over the indexes the tree keeps for its view
// (one an open row), whatever it takes out.
constexpr int FewRemovals = TreeRowRemoval::FewSteps;
// The rows a removal takes out at least to be made while rows keep leaving.
constexpr std::size_t RowsWorthARemoval = 8;
// With more rows leaving than twice the top-level rows, and more than this,
// the top level comes out and goes back whole: two steps and a look at
// every row, so that the rows kept hidden stay a part of the tree.
constexpr std::size_t ManyHidden = 1000;

// The view's own, which it keeps from its users: its rows are laid out
// anew at its next turn. Until then it closes and shows rows without
// looking for them among those it laid out.
struct LaterLayout : QTreeWidget
{
    using QAbstractItemView::scheduleDelayedItemsLayout;
};

void ReleaseRow(QTreeWidgetItem* ip_row)
{
    if (ip_row->isHidden())
        ip_row->setHidden(false);
    if (ip_row->childCount() == 0)
        return;
    if (ip_row->isExpanded())
        ip_row->setExpanded(false);
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        ReleaseRow(ip_row->child(l_child));
}

// Closes and shows the rows and the rows below them before they leave the
// tree, when the tree is out of sight. A view keeps the index of every open
// and every hidden row, and forgets those of rows that left only when it
// lays its rows out again, which a view out of sight never does: a tree out
// of sight whose rows come and go would keep an index for every row that
// was ever open. A view in sight forgets them at the layout that follows
// the step; left alone until the step is over, it asks for that layout at
// the end of the step, and the event loop serves what came meanwhile
// before it. The tree's signals are the caller's to hold: nothing changed
// for whoever listens.
void Release(QTreeWidget* ip_tree, const std::vector<QTreeWidgetItem*>& i_rows)
{
    if (!ip_tree || ip_tree->isVisible())
        return;
    (ip_tree->*&LaterLayout::scheduleDelayedItemsLayout)();
    for (QTreeWidgetItem* lp_row : i_rows)
        ReleaseRow(lp_row);
}

bool IsTreeRoot(const QTreeWidgetItem* ip_item)
{
    return ip_item->treeWidget() && ip_item->treeWidget()->invisibleRootItem() == ip_item;
}

std::vector<QTreeWidgetItem*> ChildrenOf(const QTreeWidgetItem* ip_parent)
{
    std::vector<QTreeWidgetItem*> l_children;
    for (int l_child = 0; l_child < ip_parent->childCount(); ++l_child)
        l_children.push_back(ip_parent->child(l_child));
    return l_children;
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
    Release(ip_parent->treeWidget(), ChildrenOf(ip_parent));
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
    Release(&io_tree, ChildrenOf(lp_root));
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

// The top level out and back whole for all parents but the one the current
// row leaves, which goes the old way in its turn: the current row moves on
// as it did, and the view scrolls to it over the rows that are there at
// that turn.
void TakeOutWithTopLevel(QTreeWidget& io_tree, const std::vector<const Leaving*>& i_leaving)
{
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

// The rows of a parent that one removal takes out: a run of neighbouring
// top-level rows, or the children of another row, in as many removals as
// TakeOutChildren makes for them.
struct Batch
{
    Leaving m_rows;
    int m_removals = 1;
};

std::vector<Batch> BatchesOf(const Leaving& i_leaving)
{
    if (!IsTreeRoot(i_leaving.mp_parent))
        return {{i_leaving, RemovalsOf(i_leaving)}};
    std::vector<Batch> l_runs;
    const std::vector<int> l_places = PlacesOf(i_leaving.mp_parent, i_leaving.m_children);
    for (std::size_t l_place = 0; l_place < l_places.size(); ++l_place) {
        if (l_place == 0 || l_places[l_place - 1] != l_places[l_place] - 1)
            l_runs.push_back({{i_leaving.mp_parent, {}}, 1});
        l_runs.back().m_rows.m_children.insert(i_leaving.mp_parent->child(l_places[l_place]));
    }
    return l_runs;
}

// Of the rows, those go whose removals each take many out, the largest
// first, as many removals as io_steps allows and FewRemovals at most; the
// rest are hidden and left, those worth their removals for later.
void TakeOutWorthIt(QTreeWidget& io_tree, const std::vector<const Leaving*>& i_leaving, int& io_steps,
                    TreeRowRemoval::Left& io_left)
{
    std::vector<Batch> l_batches;
    for (const Leaving* lp_leaving : i_leaving) {
        std::vector<Batch> l_ofParent = BatchesOf(*lp_leaving);
        std::move(l_ofParent.begin(), l_ofParent.end(), std::back_inserter(l_batches));
    }
    // Stable: a parent's batches stay in their order, top-level runs last.
    std::stable_sort(l_batches.begin(), l_batches.end(), [](const Batch& i_one, const Batch& i_other) {
        return i_one.m_rows.m_children.size() * std::size_t(i_other.m_removals) >
               i_other.m_rows.m_children.size() * std::size_t(i_one.m_removals);
    });
    std::vector<const Batch*> l_going;
    std::vector<QTreeWidgetItem*> l_staying;
    int l_budget = std::min(FewRemovals, io_steps);
    for (const Batch& l_batch : l_batches) {
        const bool l_worthIt =
            l_batch.m_rows.m_children.size() >= RowsWorthARemoval * std::size_t(l_batch.m_removals);
        if (l_worthIt && l_batch.m_removals <= l_budget) {
            l_budget -= l_batch.m_removals;
            io_steps -= l_batch.m_removals;
            l_going.push_back(&l_batch);
            continue;
        }
        std::vector<QTreeWidgetItem*>& l_left = l_worthIt ? io_left.m_later : io_left.m_waiting;
        l_left.insert(l_left.end(), l_batch.m_rows.m_children.begin(), l_batch.m_rows.m_children.end());
        l_staying.insert(l_staying.end(), l_batch.m_rows.m_children.begin(), l_batch.m_rows.m_children.end());
    }
    // Top-level runs last, the last run first, so that the places of the
    // others stay as they were.
    const auto l_firstRun = std::stable_partition(l_going.begin(), l_going.end(), [](const Batch* ip_batch) {
        return !IsTreeRoot(ip_batch->m_rows.mp_parent);
    });
    const QTreeWidgetItem* lp_root = io_tree.invisibleRootItem();
    std::sort(l_firstRun, l_going.end(), [lp_root](const Batch* ip_one, const Batch* ip_other) {
        return lp_root->indexOfChild(*ip_one->m_rows.m_children.begin()) >
               lp_root->indexOfChild(*ip_other->m_rows.m_children.begin());
    });
    for (const Batch* lp_batch : l_going)
        TreeRowRemoval::TakeOutChildren(lp_batch->m_rows.mp_parent, lp_batch->m_rows.m_children);
    // After the steps: hidden first, they would have the view ask for its
    // layout before the steps' passes.
    TreeRowRemoval::Hide(io_tree, l_staying);
}

// The rows of one tree that leave, a parent or a run of top-level rows at a
// time, top-level rows last, when they take few removals: as many as
// io_steps allows, the others hidden and left for later. Otherwise the parent the current row
// leaves gives its rows up the old way in its turn, so that the view
// scrolls to the current row over the rows that are there at that turn,
// and of the others those go that are worth it (TakeOutWorthIt).
void TakeOutOfTree(QTreeWidget& io_tree, std::vector<const Leaving*> i_leaving, int& io_steps,
                   TreeRowRemoval::Left& io_left)
{
    // Taking top-level rows out moves every row below them, and the tree
    // then looks for each moved row anew the next time it needs it.
    std::stable_partition(i_leaving.begin(), i_leaving.end(),
                          [](const Leaving* ip_leaving) { return !IsTreeRoot(ip_leaving->mp_parent); });
    int l_removals = 0;
    std::size_t l_rows = 0;
    for (const Leaving* lp_leaving : i_leaving) {
        l_rows += lp_leaving->m_children.size();
        if (l_removals <= FewRemovals)
            l_removals += RemovalsOf(*lp_leaving);
    }
    if (io_tree.isSortingEnabled()) {
        for (const Leaving* lp_leaving : i_leaving)
            TreeRowRemoval::TakeOutChildren(lp_leaving->mp_parent, lp_leaving->m_children);
        return;
    }
    if (l_removals <= FewRemovals) {
        std::vector<QTreeWidgetItem*> l_later;
        for (const Leaving* lp_leaving : i_leaving) {
            std::vector<Batch> l_batches = BatchesOf(*lp_leaving);
            // The last run of top-level rows first, so that the places of
            // the others stay as they were.
            std::reverse(l_batches.begin(), l_batches.end());
            for (const Batch& l_batch : l_batches) {
                const std::unordered_set<QTreeWidgetItem*>& l_rows = l_batch.m_rows.m_children;
                if (io_steps <= 0) {
                    l_later.insert(l_later.end(), l_rows.begin(), l_rows.end());
                    continue;
                }
                io_steps -= l_batch.m_removals;
                TreeRowRemoval::TakeOutChildren(lp_leaving->mp_parent, l_rows);
            }
        }
        TreeRowRemoval::Hide(io_tree, l_later);
        io_left.m_later.insert(io_left.m_later.end(), l_later.begin(), l_later.end());
        return;
    }
    if (l_rows > TreeRowRemoval::HiddenAtMost(io_tree)) {
        io_steps -= 2;
        TakeOutWithTopLevel(io_tree, i_leaving);
        return;
    }
    const auto l_current = std::find(i_leaving.begin(), i_leaving.end(), LeftByCurrent(io_tree, i_leaving));
    TakeOutWorthIt(io_tree, {i_leaving.begin(), l_current}, io_steps, io_left);
    if (l_current == i_leaving.end())
        return;
    const QPersistentModelIndex l_wasCurrent = io_tree.currentIndex();
    io_steps -= RemovalsOf(**l_current);
    TreeRowRemoval::TakeOutChildren((*l_current)->mp_parent, (*l_current)->m_children);
    TakeOutWorthIt(io_tree, {l_current + 1, i_leaving.end()}, io_steps, io_left);
    // The view brought the row that became current into sight while the
    // rows hidden above it still counted: again over the rows in sight.
    if (io_tree.hasAutoScroll() && io_tree.currentItem() && io_tree.currentIndex() != l_wasCurrent)
        io_tree.scrollToItem(io_tree.currentItem());
}
}  // namespace

namespace TreeRowRemoval
{
int FindPlaces(const QTreeWidget& i_tree, int i_from, const QDeadlineTimer& i_until)
{
    // A look at the clock a slice of rows: the first rows cost the most.
    constexpr int Slice = 64;
    const int l_rows = i_tree.topLevelItemCount();
    int l_row = std::max(0, i_from);
    while (l_row < l_rows && !i_until.hasExpired()) {
        for (const int l_end = std::min(l_rows, l_row + Slice); l_row < l_end; ++l_row)
            i_tree.indexFromItem(i_tree.topLevelItem(l_row));
    }
    return l_row;
}

std::size_t HiddenAtMost(const QTreeWidget& i_tree)
{
    return std::max(ManyHidden, 2 * std::size_t(i_tree.topLevelItemCount()));
}

void Hide(QTreeWidget& io_tree, const std::vector<QTreeWidgetItem*>& i_rows)
{
    const std::unordered_set<QTreeWidgetItem*> l_hiding(i_rows.begin(), i_rows.end());
    QItemSelection l_leaving;
    for (const QModelIndex& l_index : io_tree.selectionModel()->selectedIndexes()) {
        for (QTreeWidgetItem* lp_row = io_tree.itemFromIndex(l_index); lp_row; lp_row = lp_row->parent()) {
            if (l_hiding.count(lp_row) != 0) {
                l_leaving.select(l_index, l_index);
                break;
            }
        }
    }
    if (!l_leaving.isEmpty())
        io_tree.selectionModel()->select(l_leaving, QItemSelectionModel::Deselect);
    for (QTreeWidgetItem* lp_row : i_rows) {
        if (!lp_row->isHidden())
            lp_row->setHidden(true);
    }
}

Left TakeOut(const std::vector<Leaving>& i_leaving, int i_steps)
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
    Left l_left;
    for (QTreeWidget* lp_tree : l_trees)
        TakeOutOfTree(*lp_tree, std::move(l_byTree[lp_tree]), i_steps, l_left);
    return l_left;
}

void TakeOutChildren(QTreeWidgetItem* ip_parent, const std::unordered_set<QTreeWidgetItem*>& i_children)
{
    const std::vector<int> l_places = PlacesOf(ip_parent, i_children);
    const bool l_topLevel = IsTreeRoot(ip_parent);
    if (!l_topLevel && l_places.size() > 1 && ip_parent->treeWidget() && !HoldsCurrentOrSelected(ip_parent)) {
        TakeOutAllAndPutBack(ip_parent, i_children);
        return;
    }
    if (QTreeWidget* lp_tree = ip_parent->treeWidget(); lp_tree && !l_places.empty()) {
        std::vector<QTreeWidgetItem*> l_going;
        for (const int l_place : l_places)
            l_going.push_back(ip_parent->child(l_place));
        const QSignalBlocker l_quiet(lp_tree);
        Release(lp_tree, l_going);
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
