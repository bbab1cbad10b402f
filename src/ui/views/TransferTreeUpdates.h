#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

// The rows that join and leave a transfers tree, gathered and applied
// together, at most once an interval. A tree pays for every row that joins
// or leaves it with a layout of all its rows at the next turn of the event
// loop, and for every removal with a pass over all its expanded rows, and
// more when the removal shifts rows at its top: gathered, a flood of new
// and dropped entries costs a few changes of the tree an interval instead
// of one a row.
//
// A new top-level row is made with the rows below it but kept out of its
// tree until it joins, appended in the order the rows came; what is made
// below a row already in a tree goes in at once, or, when its maker waits
// (Wait), with the next change of the tree. A row that leaves stays
// in its tree, and may be painted, until it goes, with its parent when
// that leaves too, in a few steps however many parents they leave
// (TreeRowRemoval.h); one that has not joined yet is deleted at once. Rows
// that leave many parents, a row or two each, would cost a step a parent:
// they wait in the tree, hidden, until enough have left a parent to be
// worth a step, or go with a row above them; they are counted as leaving
// meanwhile. The first change after a quiet interval is applied at the
// next turn of the event loop, so that what the user asked for shows at
// once. While rows keep leaving (the last refresh had rows to take out
// too), the tree changes at most once a flood interval: a stream of
// strangers dropped from a full queue, each making room for a new one,
// would otherwise have the tree pass over its open rows and lay out every
// row several times a second. The user rows that leave while the flood
// goes on are hidden, and taken out of the tree together every few flood
// intervals or once it ends. Rows the user removed go at the next refresh
// all the same.
//
// A refresh makes one step out of a tree at most, ahead of its other
// changes, so that the tree lays its rows out once for all of them, at a
// turn of the event loop of its own. The rows that leave and would take
// more steps are hidden at once: the user sees them go. Their steps come
// at later turns, a turn taking as many as fit in a short budget (one in a
// tree of thousands of open rows); the current row, the selection, what is
// open and the rows in sight stay as the refresh left them. After top-level
// rows went, the trees find the places of the rows below them at such
// turns too, before the next step. Apply makes a few steps at once. GUI
// thread only.
class TransferTreeUpdates
{
public:
    // Milliseconds of a steady clock.
    using Clock = std::function<qint64()>;

    // i_joined is told of each row with rows below it that has joined its
    // tree, a top-level row before the rows below it. i_makeWaiting makes
    // the rows that wait (Wait), at a change of the tree before new rows
    // join. Changes are applied at most once i_intervalMs, during a flood at
    // most once i_floodIntervalMs.
    TransferTreeUpdates(int i_intervalMs, int i_floodIntervalMs, std::function<void(QTreeWidgetItem*)> i_joined,
                        std::function<void()> i_makeWaiting = {});
    ~TransferTreeUpdates();
    TransferTreeUpdates(const TransferTreeUpdates&) = delete;
    TransferTreeUpdates& operator=(const TransferTreeUpdates&) = delete;

    // A new top-level row, in no tree, that joins the tree.
    void Join(QTreeWidget* ip_tree, QTreeWidgetItem* ip_row);
    // The row goes, with everything below it.
    void Leave(QTreeWidgetItem* ip_row);
    // Rows wait to be made below rows in the tree: at the next change, held
    // back by a flood as rows that join are.
    void Wait();
    // The children of a row that are not leaving.
    int ChildrenStaying(const QTreeWidgetItem* ip_row) const;
    // Applies every change now, and takes the rows that left out of their
    // trees in a few steps (TreeRowRemoval.h).
    void Apply();
    // Applies every change unless a flood holds them back. The slot of the
    // refresh.
    void Refresh();
    // The rows that left so far leave at the next refresh, flood or not:
    // the user took them out.
    void Hurry();
    // Whether turns that take rows out of a tree are still to come (Step).
    bool Stepping() const;

    // Replaces the clock that times the intervals; an empty function brings
    // back the real one. The timers stay real: a refresh they bring decides
    // by the clock.
    void SetClock(Clock i_clock);

private:
    // How many flood intervals hidden user rows wait at most to be taken
    // out.
    static constexpr int PurgeFloodIntervals = 3;
    // A turn of the event loop that takes rows out begins no further step
    // once it spent this long; a step costs a pass over the open rows.
    static constexpr int StepBudgetMs = 10;
    // The wait between two such turns: the view lays its rows out and the
    // event loop serves what else came meanwhile.
    static constexpr int StepGapMs = 10;

    qint64 NowMs() const;
    // Milliseconds since the moment by the clock.
    qint64 Since(qint64 i_at) const { return NowMs() - i_at; }
    // Nothing is to change but taking out the user rows hidden in a flood.
    bool OnlyHeld() const;
    void Schedule();
    // Rows that left and are neither hidden nor taken out yet.
    bool HasPending() const;
    // Whether the rows that left wait for the flood interval: while rows
    // keep leaving, until a flood interval after the last rows went.
    bool HoldsBack() const;
    // Takes the rows that left out of their trees, with those held and due,
    // in about i_steps steps; those left for later are due (Step). While
    // i_flood, the user rows that leave are held instead, hidden, until the
    // flood is over or a purge is due.
    void TakeOutLeaving(bool i_flood, int i_steps);
    // A turn that takes rows out: has the trees find the places of rows
    // that moved, then makes the steps that take the rows due out, while
    // the turn is within StepBudgetMs; the rest at a later turn.
    void Step();
    void StartSteps();
    // The rows of the list that are still leaving, once each, but for
    // those below another row that left.
    std::vector<QTreeWidgetItem*> Gather(const std::vector<QTreeWidgetItem*>& i_rows) const;
    // Whether a row above the row left too.
    bool IsCovered(const QTreeWidgetItem* ip_row) const;
    // Takes the rows out of their trees in about i_steps steps, with the
    // rows that wait below their parents (all that wait when they grew too
    // many), and deletes them; those worth a step that wait for one become
    // due, the others wait below their parents (TreeRowRemoval.h).
    void TakeOut(const std::vector<QTreeWidgetItem*>& i_rows, int i_steps);
    // Forgets a row that went from ip_parent: i_rows, the row and every row
    // that was below it, which may be gone.
    void Forget(const QTreeWidgetItem* ip_parent, const std::vector<const QTreeWidgetItem*>& i_rows);
    void ApplyJoining();

    struct Joining
    {
        QTreeWidget* mp_tree;
        QTreeWidgetItem* mp_row;  // null once it left before joining
    };
    std::vector<Joining> m_joining;
    std::unordered_map<const QTreeWidgetItem*, std::size_t> m_joiningAt;
    // Every row that left and is still in its tree, and how many of them
    // each row holds. The lists below may name rows that went since: only
    // those in m_leavingSet count.
    std::unordered_set<const QTreeWidgetItem*> m_leavingSet;
    std::unordered_map<const QTreeWidgetItem*, int> m_leavingUnder;
    // The rows that left since the last refresh.
    std::vector<QTreeWidgetItem*> m_left;
    // The user rows hidden while a flood goes on.
    std::vector<QTreeWidgetItem*> m_held;
    // Hidden rows that go at the next turns that take rows out.
    std::vector<QTreeWidgetItem*> m_due;
    // Hidden rows that wait to be worth a step, by parent.
    std::unordered_map<const QTreeWidgetItem*, std::vector<QTreeWidgetItem*>> m_waitingUnder;
    std::size_t m_waiting = 0;
    // The trees whose top-level rows moved, with the first row whose place
    // is not found yet.
    std::unordered_map<const QTreeWidget*, int> m_movedFrom;
    std::function<void(QTreeWidgetItem*)> m_joined;
    std::function<void()> m_makeWaiting;
    bool m_rowsWaiting = false;
    int m_intervalMs;
    int m_floodIntervalMs;
    QTimer m_timer;
    QTimer m_stepTimer;
    QElapsedTimer m_steadyClock;
    Clock m_clock;
    // When the changes were last applied, rows last taken out (or hidden),
    // and hidden user rows last taken out; none before the first time.
    std::optional<qint64> m_appliedAt;
    std::optional<qint64> m_leftAt;
    std::optional<qint64> m_purgedAt;
    // The last refresh had rows to take out, taken or held back.
    bool m_lastHadLeaving = false;
    // The rows waiting now are held back by a flood.
    bool m_flooded = false;
    bool m_hurried = false;
};
