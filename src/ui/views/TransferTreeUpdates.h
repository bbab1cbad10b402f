#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

// The rows that join and leave the transfers trees, gathered and applied
// together, at most once an interval. A tree pays for every row that joins
// or leaves it with a layout of all its rows at the next turn of the event
// loop, and for every removal with a pass over all its expanded rows, and
// more when the removal shifts rows at its top: gathered, a flood of new
// and dropped entries costs a few changes of each tree an interval instead
// of one a row.
//
// A new top-level row is made with the rows below it but kept out of its
// tree until it joins, appended in the order the rows came; what is made
// below a row already in a tree goes in at once. A row that leaves stays
// in its tree, and may be painted, until it goes, with its parent when
// that leaves too, a run of neighbouring top-level rows in one step; one
// that has not joined yet is deleted at once. The first change after a
// quiet interval is applied at the next turn of the event loop, so that
// what the user asked for shows at once. GUI thread only.
class TransferTreeUpdates
{
public:
    // i_joined is told of each row with rows below it that has joined its
    // tree, a top-level row before the rows below it.
    TransferTreeUpdates(int i_intervalMs, std::function<void(QTreeWidgetItem*)> i_joined);
    ~TransferTreeUpdates();
    TransferTreeUpdates(const TransferTreeUpdates&) = delete;
    TransferTreeUpdates& operator=(const TransferTreeUpdates&) = delete;

    // A new top-level row, in no tree, that joins the tree.
    void Join(QTreeWidget* ip_tree, QTreeWidgetItem* ip_row);
    // The row goes, with everything below it.
    void Leave(QTreeWidgetItem* ip_row);
    // The children of a row that are not leaving.
    int ChildrenStaying(const QTreeWidgetItem* ip_row) const;
    // Applies every change now.
    void Apply();

private:
    void Schedule();
    void ApplyLeaving();
    void ApplyJoining();
    // Takes leaving children out of their parent, runs of neighbours
    // together.
    static void RemoveChildren(QTreeWidgetItem* ip_parent, const std::unordered_set<QTreeWidgetItem*>& i_children);

    struct Joining
    {
        QTreeWidget* mp_tree;
        QTreeWidgetItem* mp_row;  // null once it left before joining
    };
    std::vector<Joining> m_joining;
    std::unordered_map<const QTreeWidgetItem*, std::size_t> m_joiningAt;
    std::vector<QTreeWidgetItem*> m_leaving;
    std::unordered_set<const QTreeWidgetItem*> m_leavingSet;
    std::unordered_map<const QTreeWidgetItem*, int> m_leavingUnder;
    std::function<void(QTreeWidgetItem*)> m_joined;
    int m_intervalMs;
    QTimer m_timer;
    QElapsedTimer m_sinceApplied;
};
