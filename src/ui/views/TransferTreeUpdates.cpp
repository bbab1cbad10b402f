#include "ui/views/TransferTreeUpdates.h"

#include "ui/views/TreeRowRemoval.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <QDeadlineTimer>

#include <algorithm>
#include <iterator>
#include <map>

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

std::vector<const QTreeWidgetItem*> RowAndBelow(const QTreeWidgetItem* ip_row)
{
    std::vector<const QTreeWidgetItem*> l_rows{ip_row};
    for (std::size_t l_next = 0; l_next < l_rows.size(); ++l_next) {
        for (int l_child = 0; l_child < l_rows[l_next]->childCount(); ++l_child)
            l_rows.push_back(l_rows[l_next]->child(l_child));
    }
    return l_rows;
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
    m_stepTimer.setSingleShot(true);
    QObject::connect(&m_stepTimer, &QTimer::timeout, [this] { Step(); });
    m_steadyClock.start();
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
    m_left.push_back(ip_row);
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

bool TransferTreeUpdates::Stepping() const
{
    return m_stepTimer.isActive() || !m_due.empty() || !m_movedFrom.empty();
}

void TransferTreeUpdates::SetClock(Clock i_clock)
{
    m_clock = std::move(i_clock);
}

qint64 TransferTreeUpdates::NowMs() const
{
    return m_clock ? m_clock() : m_steadyClock.elapsed();
}

bool TransferTreeUpdates::HasPending() const
{
    return !m_left.empty();
}

bool TransferTreeUpdates::OnlyHeld() const
{
    return m_joining.empty() && !m_rowsWaiting && !HasPending() && !m_held.empty();
}

bool TransferTreeUpdates::HoldsBack() const
{
    if (!HasPending() || m_hurried || !m_leftAt || Since(*m_leftAt) >= m_floodIntervalMs)
        return false;
    // Held back already, or the last refresh had rows to take out and no
    // quiet interval passed since.
    return m_flooded || (m_lastHadLeaving && m_appliedAt && Since(*m_appliedAt) < 2 * m_intervalMs);
}

void TransferTreeUpdates::Schedule()
{
    const qint64 l_since = m_appliedAt ? Since(*m_appliedAt) : m_intervalMs;
    qint64 l_due = std::max<qint64>(0, m_intervalMs - l_since);
    if (HoldsBack()) {
        m_flooded = true;
        l_due = std::max<qint64>(l_due, m_floodIntervalMs - Since(*m_leftAt));
    } else if (m_joining.empty() && !m_rowsWaiting && !HasPending()) {
        if (m_held.empty())
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
    m_appliedAt = NowMs();
    m_lastHadLeaving = HasPending();
    m_flooded = false;
    // Rows leave first: the tree then has fewer rows to look through.
    TakeOutLeaving(false, TreeRowRemoval::FewSteps);
    ApplyJoining();
    StartSteps();
}

void TransferTreeUpdates::Refresh()
{
    // Held back whole: rows that join would make the tree lay out all its
    // rows anew as much as rows that leave. Hidden rows alone wait for a
    // quiet refresh interval, also when the timer fired early.
    if (HoldsBack() || (OnlyHeld() && m_appliedAt && Since(*m_appliedAt) < 2 * m_intervalMs)) {
        m_timer.stop();
        Schedule();
        return;
    }
    const bool l_purgeDue = !m_purgedAt || Since(*m_purgedAt) >= m_floodIntervalMs * PurgeFloodIntervals;
    // While the flood goes on, user rows that leave are hidden, and taken
    // out with those of later floods, in one step every few flood
    // intervals.
    const bool l_flood = m_flooded && !m_hurried && !l_purgeDue;
    m_timer.stop();
    m_appliedAt = NowMs();
    m_lastHadLeaving = l_flood || HasPending();
    m_flooded = false;
    TakeOutLeaving(l_flood, 1);
    ApplyJoining();
    if (l_flood)
        Schedule();
    StartSteps();
}

void TransferTreeUpdates::TakeOutLeaving(bool i_flood, int i_steps)
{
    const bool l_leaving = !m_left.empty() || (!i_flood && !m_held.empty());
    if (l_leaving) {
        m_leftAt = NowMs();
        if (!i_flood) {
            m_hurried = false;
            m_purgedAt = NowMs();
        }
    }
    std::vector<QTreeWidgetItem*> l_rows = m_left;
    if (!i_flood)
        l_rows.insert(l_rows.end(), m_held.begin(), m_held.end());
    l_rows.insert(l_rows.end(), m_due.begin(), m_due.end());
    l_rows = Gather(l_rows);
    m_left.clear();
    m_due.clear();
    if (!i_flood)
        m_held.clear();
    // In a flood the user rows that leave are held, hidden; the other rows
    // go ahead of the refresh's other changes, which the tree then lays out
    // once with them, at a turn of its own once the steps' passes are over.
    std::vector<QTreeWidgetItem*> l_held;
    std::vector<QTreeWidgetItem*> l_going;
    for (QTreeWidgetItem* lp_row : l_rows)
        (i_flood && !lp_row->parent() && lp_row->treeWidget() ? l_held : l_going).push_back(lp_row);
    if (!l_going.empty())
        TakeOut(l_going, i_steps);
    std::map<QTreeWidget*, std::vector<QTreeWidgetItem*>> l_heldByTree;
    for (QTreeWidgetItem* lp_row : l_held)
        l_heldByTree[lp_row->treeWidget()].push_back(lp_row);
    for (auto& [lp_tree, l_hiding] : l_heldByTree)
        TreeRowRemoval::Hide(*lp_tree, l_hiding);
    m_held.insert(m_held.end(), l_held.begin(), l_held.end());
}

void TransferTreeUpdates::StartSteps()
{
    if ((!m_due.empty() || !m_movedFrom.empty()) && !m_stepTimer.isActive())
        m_stepTimer.start(StepGapMs);
}

void TransferTreeUpdates::Step()
{
    QElapsedTimer l_clock;
    l_clock.start();
    while (l_clock.elapsed() < StepBudgetMs) {
        if (!m_movedFrom.empty()) {
            // Found before the next step, whose pass over the open rows
            // would look for each of them anew.
            const QDeadlineTimer l_until(StepBudgetMs - l_clock.elapsed());
            for (auto l_tree = m_movedFrom.begin(); l_tree != m_movedFrom.end() && !l_until.hasExpired();) {
                l_tree->second = TreeRowRemoval::FindPlaces(*l_tree->first, l_tree->second, l_until);
                l_tree = l_tree->second < l_tree->first->topLevelItemCount() ? std::next(l_tree)
                                                                              : m_movedFrom.erase(l_tree);
            }
            continue;
        }
        const std::vector<QTreeWidgetItem*> l_rows = Gather(m_due);
        m_due.clear();
        if (l_rows.empty())
            break;
        TakeOut(l_rows, 1);
    }
    StartSteps();
}

std::vector<QTreeWidgetItem*> TransferTreeUpdates::Gather(const std::vector<QTreeWidgetItem*>& i_rows) const
{
    std::vector<QTreeWidgetItem*> l_rows;
    std::unordered_set<const QTreeWidgetItem*> l_seen;
    for (QTreeWidgetItem* lp_row : i_rows) {
        // Only a row still leaving may be looked at: the others went.
        if (m_leavingSet.count(lp_row) != 0 && l_seen.insert(lp_row).second && !IsCovered(lp_row))
            l_rows.push_back(lp_row);
    }
    return l_rows;
}

bool TransferTreeUpdates::IsCovered(const QTreeWidgetItem* ip_row) const
{
    for (const QTreeWidgetItem* lp_above = ip_row->parent(); lp_above; lp_above = lp_above->parent()) {
        if (m_leavingSet.count(lp_above) != 0)
            return true;
    }
    return false;
}

void TransferTreeUpdates::TakeOut(const std::vector<QTreeWidgetItem*>& i_rows, int i_steps)
{
    // The rows that wait go again with the rows that leave their parents
    // now, or all of them when they grew too many.
    std::vector<QTreeWidgetItem*> l_rows = i_rows;
    auto l_again = [&](auto i_waiting) {
        m_waiting -= i_waiting->second.size();
        l_rows.insert(l_rows.end(), i_waiting->second.begin(), i_waiting->second.end());
        return m_waitingUnder.erase(i_waiting);
    };
    const QTreeWidget* lp_tree = i_rows.empty() ? nullptr : i_rows.front()->treeWidget();
    if (lp_tree && m_waiting > TreeRowRemoval::HiddenAtMost(*lp_tree)) {
        for (auto l_waiting = m_waitingUnder.begin(); l_waiting != m_waitingUnder.end();)
            l_waiting = l_again(l_waiting);
    } else {
        for (const QTreeWidgetItem* lp_row : i_rows) {
            const auto l_waiting = m_waitingUnder.find(ParentOf(lp_row));
            if (l_waiting != m_waitingUnder.end())
                l_again(l_waiting);
        }
    }
    l_rows = Gather(l_rows);

    // The rows to take out of each parent, in the order of their first row,
    // and what is below each row, looked at while it is there.
    std::vector<TreeRowRemoval::Leaving> l_leaving;
    std::unordered_map<QTreeWidgetItem*, std::size_t> l_leavingAt;
    struct Offered
    {
        QTreeWidgetItem* mp_row;
        const QTreeWidgetItem* mp_parent;
        std::vector<const QTreeWidgetItem*> m_rows;
        QTreeWidget* mp_topOf;  // the tree when it is a top-level row
    };
    std::vector<Offered> l_offered;
    for (QTreeWidgetItem* lp_row : l_rows) {
        QTreeWidgetItem* lp_parent = ParentOf(lp_row);
        l_offered.push_back({lp_row, lp_parent, RowAndBelow(lp_row), lp_row->parent() ? nullptr : lp_row->treeWidget()});
        if (!lp_parent)
            continue;
        auto [l_at, l_new] = l_leavingAt.try_emplace(lp_parent, l_leaving.size());
        if (l_new)
            l_leaving.push_back({lp_parent, {}});
        l_leaving[l_at->second].m_children.insert(lp_row);
    }
    const TreeRowRemoval::Left l_left = TreeRowRemoval::TakeOut(l_leaving, i_steps);
    std::unordered_set<const QTreeWidgetItem*> l_stay(l_left.m_waiting.begin(), l_left.m_waiting.end());
    l_stay.insert(l_left.m_later.begin(), l_left.m_later.end());
    for (const Offered& l_row : l_offered) {
        if (l_stay.count(l_row.mp_row) != 0)
            continue;
        // Top-level rows below it moved.
        if (l_row.mp_topOf)
            m_movedFrom[l_row.mp_topOf] = 0;
        Forget(l_row.mp_parent, l_row.m_rows);
        if (!l_row.mp_parent)
            delete l_row.mp_row;
    }
    for (QTreeWidgetItem* lp_row : l_left.m_waiting) {
        m_waitingUnder[ParentOf(lp_row)].push_back(lp_row);
        ++m_waiting;
    }
    m_due.insert(m_due.end(), l_left.m_later.begin(), l_left.m_later.end());
}

void TransferTreeUpdates::Forget(const QTreeWidgetItem* ip_parent, const std::vector<const QTreeWidgetItem*>& i_rows)
{
    const auto l_under = m_leavingUnder.find(ip_parent);
    if (l_under != m_leavingUnder.end() && --l_under->second == 0)
        m_leavingUnder.erase(l_under);
    for (const QTreeWidgetItem* lp_row : i_rows) {
        m_leavingSet.erase(lp_row);
        m_leavingUnder.erase(lp_row);
        const auto l_waiting = m_waitingUnder.find(lp_row);
        if (l_waiting != m_waitingUnder.end()) {
            m_waiting -= l_waiting->second.size();
            m_waitingUnder.erase(l_waiting);
        }
    }
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
