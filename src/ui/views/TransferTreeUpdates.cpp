#include "ui/views/TransferTreeUpdates.h"

#include "ui/views/TreeRowRemoval.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>

namespace
{
// The item whose children the row is among: its parent, or its tree's
// invisible root for a top-level row; null for a top-level row in no tree.
QTreeWidgetItem* ParentOf(const QTreeWidgetItem* ip_row)
{
    if (QTreeWidgetItem* lp_parent = ip_row->parent())
        return lp_parent;
    return ip_row->treeWidget() ? ip_row->treeWidget()->invisibleRootItem() : nullptr;
}

const QTreeWidgetItem* TopOf(const QTreeWidgetItem* ip_row)
{
    while (ip_row->parent())
        ip_row = ip_row->parent();
    return ip_row;
}

void TellJoined(QTreeWidgetItem* ip_row, const std::function<void(QTreeWidgetItem*)>& i_joined)
{
    if (ip_row->childCount() == 0)
        return;
    i_joined(ip_row);
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        TellJoined(ip_row->child(l_child), i_joined);
}
}  // namespace

TransferTreeUpdates::TransferTreeUpdates(int i_intervalMs, int i_floodIntervalMs,
                                         std::function<void(QTreeWidgetItem*)> i_joined,
                                         std::function<void()> i_makeWaiting)
    : m_joined(std::move(i_joined)),
      m_makeWaiting(std::move(i_makeWaiting)),
      m_intervalMs(i_intervalMs),
      m_floodIntervalMs(i_floodIntervalMs)
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Refresh(); });
}

TransferTreeUpdates::~TransferTreeUpdates()
{
    // Rows that never joined belong to no tree.
    for (const Joining& l_joining : m_joining)
        delete l_joining.mp_row;
}

void TransferTreeUpdates::Join(QTreeWidget* ip_tree, QTreeWidgetItem* ip_row)
{
    m_joiningAt[ip_row] = m_joining.size();
    m_joining.push_back({ip_tree, ip_row});
    Schedule();
}

void TransferTreeUpdates::Leave(QTreeWidgetItem* ip_row)
{
    const auto l_joining = m_joiningAt.find(TopOf(ip_row));
    if (l_joining != m_joiningAt.end()) {
        // In no tree yet: nothing watches it.
        if (ip_row == l_joining->first) {
            m_joining[l_joining->second].mp_row = nullptr;
            m_joiningAt.erase(l_joining);
        }
        delete ip_row;
        return;
    }
    if (!m_leavingSet.insert(ip_row).second)
        return;
    m_leaving.push_back(ip_row);
    ++m_leavingUnder[ParentOf(ip_row)];
    Schedule();
}

void TransferTreeUpdates::Wait()
{
    m_rowsWaiting = true;
    Schedule();
}

int TransferTreeUpdates::ChildrenStaying(const QTreeWidgetItem* ip_row) const
{
    const auto l_found = m_leavingUnder.find(ip_row);
    return ip_row->childCount() - (l_found == m_leavingUnder.end() ? 0 : l_found->second);
}

void TransferTreeUpdates::Hurry()
{
    if (!HasPending())
        return;
    m_hurried = true;
    Schedule();
}

bool TransferTreeUpdates::HasPending() const
{
    return m_hiddenUpTo < m_leaving.size();
}

bool TransferTreeUpdates::HoldsBack() const
{
    if (!HasPending() || m_hurried || !m_sinceLeft.isValid() || m_sinceLeft.elapsed() >= m_floodIntervalMs)
        return false;
    // Held back already, or the last refresh had rows to take out and no
    // quiet interval passed since.
    return m_flooded || (m_lastHadLeaving && m_sinceApplied.isValid() && m_sinceApplied.elapsed() < 2 * m_intervalMs);
}

void TransferTreeUpdates::Schedule()
{
    const qint64 l_since = m_sinceApplied.isValid() ? m_sinceApplied.elapsed() : m_intervalMs;
    qint64 l_due = std::max<qint64>(0, m_intervalMs - l_since);
    if (HoldsBack()) {
        m_flooded = true;
        l_due = std::max<qint64>(l_due, m_floodIntervalMs - m_sinceLeft.elapsed());
    } else if (m_joining.empty() && !m_rowsWaiting && !HasPending()) {
        if (!m_hiddenSincePurge)
            return;
        // Hidden rows go for good once a refresh interval passes quietly.
        l_due = std::max<qint64>(l_due, 2 * m_intervalMs - l_since);
    }
    // A change that is due sooner than the refresh waited for brings it on.
    if (m_timer.isActive() && m_timer.remainingTime() <= l_due)
        return;
    m_timer.start(int(l_due));
}

void TransferTreeUpdates::Apply()
{
    m_timer.stop();
    m_sinceApplied.start();
    m_lastHadLeaving = HasPending();
    m_flooded = false;
    // Rows leave first: the tree then has fewer rows to look through.
    if (!m_leaving.empty())
        ApplyLeaving();
    ApplyJoining();
}

void TransferTreeUpdates::Refresh()
{
    if (HoldsBack()) {
        // Held back whole: rows that join would make the tree lay out all
        // its rows anew as much as rows that leave.
        m_timer.stop();
        Schedule();
        return;
    }
    const bool l_purgeDue = !m_sincePurged.isValid() || m_sincePurged.elapsed() >= m_floodIntervalMs * PurgeFloodIntervals;
    if (!m_flooded || m_hurried || l_purgeDue) {
        Apply();
        return;
    }
    // The flood goes on: rows that leave are hidden, and taken out with
    // those of later floods, in one pass over the open rows every few
    // flood intervals.
    m_timer.stop();
    m_sinceApplied.start();
    m_lastHadLeaving = true;
    m_flooded = false;
    HideLeaving();
    ApplyJoining();
    Schedule();
}

void TransferTreeUpdates::HideLeaving()
{
    // A user row that leaves is hidden with what is below it. Rows below a
    // user row that stays go now, or wait hidden while they would cost more
    // passes over the open rows than they are worth.
    std::vector<QTreeWidgetItem*> l_kept;
    std::vector<QTreeWidgetItem*> l_now;
    for (std::size_t l_row = 0; l_row < m_leaving.size(); ++l_row) {
        QTreeWidgetItem* lp_row = m_leaving[l_row];
        if (m_waiting.count(lp_row) != 0)
            continue;
        const QTreeWidgetItem* lp_top = TopOf(lp_row);
        if (m_leavingSet.count(lp_top) == 0) {
            l_now.push_back(lp_row);
            continue;
        }
        if (lp_row == lp_top && l_row >= m_hiddenUpTo)
            lp_row->setHidden(true);
        l_kept.push_back(lp_row);
    }
    m_hiddenSincePurge = m_hiddenSincePurge || !l_kept.empty();
    TakeOutWithWaiting(std::move(l_now), std::move(l_kept));
    m_sinceLeft.start();
}

void TransferTreeUpdates::TakeOutWithWaiting(std::vector<QTreeWidgetItem*> i_rows,
                                             std::vector<QTreeWidgetItem*> i_kept)
{
    // The rows that wait go again with the rows that leave their parents
    // now, or all of them when they grew too many; those below a row that
    // leaves go with it, or wait hidden with it.
    std::unordered_set<const QTreeWidgetItem*> l_parents;
    for (const QTreeWidgetItem* lp_row : i_rows)
        l_parents.insert(ParentOf(lp_row));
    const QTreeWidget* lp_tree = m_waiting.empty() ? nullptr : (*m_waiting.begin())->treeWidget();
    const bool l_all = lp_tree && m_waiting.size() > TreeRowRemoval::HiddenAtMost(*lp_tree);
    std::vector<QTreeWidgetItem*> l_waiting;
    for (QTreeWidgetItem* lp_row : m_leaving) {
        if (m_waiting.count(lp_row) == 0 || IsCovered(lp_row))
            continue;
        (l_all || l_parents.count(ParentOf(lp_row)) != 0 ? i_rows : l_waiting).push_back(lp_row);
    }
    const std::vector<QTreeWidgetItem*> l_hidden = TakeOut(i_rows);
    l_waiting.insert(l_waiting.end(), l_hidden.begin(), l_hidden.end());
    m_leaving = std::move(i_kept);
    m_leaving.insert(m_leaving.end(), l_waiting.begin(), l_waiting.end());
    m_hiddenUpTo = m_leaving.size();
    m_waiting = {l_waiting.begin(), l_waiting.end()};
    m_leavingSet.clear();
    m_leavingUnder.clear();
    for (const QTreeWidgetItem* lp_row : m_leaving) {
        m_leavingSet.insert(lp_row);
        ++m_leavingUnder[ParentOf(lp_row)];
    }
}

bool TransferTreeUpdates::IsCovered(const QTreeWidgetItem* ip_row) const
{
    for (const QTreeWidgetItem* lp_above = ip_row->parent(); lp_above; lp_above = lp_above->parent()) {
        if (m_leavingSet.count(lp_above) != 0)
            return true;
    }
    return false;
}

void TransferTreeUpdates::ApplyLeaving()
{
    std::vector<QTreeWidgetItem*> l_rows;
    for (QTreeWidgetItem* lp_row : m_leaving) {
        if (m_waiting.count(lp_row) == 0)
            l_rows.push_back(lp_row);
    }
    TakeOutWithWaiting(std::move(l_rows), {});
    m_hiddenSincePurge = false;
    m_hurried = false;
    m_sinceLeft.start();
    m_sincePurged.start();
}

std::vector<QTreeWidgetItem*> TransferTreeUpdates::TakeOut(const std::vector<QTreeWidgetItem*>& i_rows) const
{
    // The rows to take out of each parent, but for those whose parent or
    // grandparent goes anyway; parents in the order of their first row.
    std::vector<TreeRowRemoval::Leaving> l_leaving;
    std::unordered_map<QTreeWidgetItem*, std::size_t> l_leavingAt;
    std::vector<QTreeWidgetItem*> l_inNoTree;
    for (QTreeWidgetItem* lp_row : i_rows) {
        if (IsCovered(lp_row))
            continue;
        QTreeWidgetItem* lp_parent = ParentOf(lp_row);
        if (!lp_parent) {
            l_inNoTree.push_back(lp_row);
            continue;
        }
        auto [l_at, l_new] = l_leavingAt.try_emplace(lp_parent, l_leaving.size());
        if (l_new)
            l_leaving.push_back({lp_parent, {}});
        l_leaving[l_at->second].m_children.insert(lp_row);
    }
    for (QTreeWidgetItem* lp_row : l_inNoTree)
        delete lp_row;
    return TreeRowRemoval::TakeOut(l_leaving);
}

void TransferTreeUpdates::ApplyJoining()
{
    // The rows made now may bring new rows that join.
    if (m_rowsWaiting) {
        m_rowsWaiting = false;
        if (m_makeWaiting)
            m_makeWaiting();
    }
    std::vector<Joining> l_joining = std::move(m_joining);
    m_joining.clear();
    m_joiningAt.clear();
    // One insertion a run of rows of one tree.
    for (std::size_t l_begin = 0; l_begin < l_joining.size();) {
        QTreeWidget* lp_tree = l_joining[l_begin].mp_tree;
        QList<QTreeWidgetItem*> l_rows;
        std::size_t l_end = l_begin;
        for (; l_end < l_joining.size() && l_joining[l_end].mp_tree == lp_tree; ++l_end) {
            if (l_joining[l_end].mp_row)
                l_rows.append(l_joining[l_end].mp_row);
        }
        lp_tree->addTopLevelItems(l_rows);
        for (QTreeWidgetItem* lp_row : l_rows)
            TellJoined(lp_row, m_joined);
        l_begin = l_end;
    }
}
