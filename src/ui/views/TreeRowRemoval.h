#pragma once

#include <cstddef>
#include <unordered_set>
#include <vector>

class QDeadlineTimer;
class QTreeWidget;
class QTreeWidgetItem;

// Takes rows out of a tree in a few steps, whatever the tree holds, and
// deletes them. Every step makes the tree's model pass over all the indexes
// it keeps for the view (the open rows, hidden rows, the selection and the
// current row), so a row at a time costs a pass per row: a flood that takes
// a hundred rows a second out of a tree of thousands of open rows keeps the
// GUI thread busy.
//
// A run of neighbouring top-level rows goes in one step. The children of
// another row go in two when more than one goes: all of them come out at
// once and those that stay go back in their order, open or hidden as they
// were, with the rows below them; the tree's signals are held meanwhile,
// as nothing changed for whoever listens. The current row and the
// selection would not come back with them, so a row that holds either
// below it gives its children up a row at a time, and the current row and
// the selection follow each row that goes as they always did.
//
// Rows that leave many parents at once, one or two each as users dropped
// one entry each do, would still cost a step or two a parent. When they
// would take more than a few steps, the parent from which the current row
// (or a row above it) leaves gives its rows up the old way, so that the
// current row moves on exactly as it always did; of the others, only the
// steps that each take many rows out are made, a few at most, and the rest
// of the rows stay in the tree, hidden and out of the selection, for the
// caller to hand in again later: with more rows left by their parents, or
// with a row above them that goes. The rows that stay and the rows in sight
// are not touched. Only when the rows handed in outnumber twice the
// top-level rows does the whole top level come out in one step and what
// stays go back in one, open, hidden, selected and current as it was. A
// caller that spreads the steps over turns of the event loop asks for
// fewer: the rows worth steps beyond those wait the same way, for the
// caller to hand in again at its next turn.
//
// In a tree out of sight, a row that leaves is closed and shown first, with
// the rows below it: the tree's view forgets the open and hidden rows that
// left only when it lays its rows out, which it does not while it is out of
// sight. A view in sight does, after the step; asked for that layout only
// by the step, once the pass over its indexes is over, it lays its rows out
// at a turn of its own rather than right after the step.
//
// Taking top-level rows out moves the rows below them, and the tree's model
// looks for each moved row anew, from the end of the top level, the first
// time it is asked for its place: the pass of the next step would look for
// every top-level row, at the cost of a pass over the top level each.
// FindPlaces has the model find them beforehand, a slice at a time.
//
// What else the tree keeps of a row that goes out and back (the row the
// mouse is over, the row a mouse button went down on) is forgotten until
// the mouse moves or is pressed again. GUI thread only.
namespace TreeRowRemoval
{
// Rows to take out of a parent: an item of a tree, or its invisible root
// item.
struct Leaving
{
    QTreeWidgetItem* mp_parent;
    std::unordered_set<QTreeWidgetItem*> m_children;
};

// The steps TakeOut makes at most for the rows worth them, and the steps
// for which the rows that leave go all of them.
constexpr int FewSteps = 4;

// The rows TakeOut left in their tree, hidden and out of the selection.
struct Left
{
    // Rows that would cost more steps than they are worth.
    std::vector<QTreeWidgetItem*> m_waiting;
    // Rows worth their steps, left for want of steps.
    std::vector<QTreeWidgetItem*> m_later;
};

// Takes the rows out of their parents and deletes them, top-level rows
// last, in about i_steps steps (more when the current row's parent gives
// its rows up one by one, or when the whole top level goes out and back),
// or hides and leaves those that would cost more steps than they are worth
// or than i_steps allows; rows that are no children of their parent stay
// where they are. No row may be below another that goes.
Left TakeOut(const std::vector<Leaving>& i_leaving, int i_steps = FewSteps);

// Hides the rows and takes them and the rows below them out of the
// selection, as they would be had they gone.
void Hide(QTreeWidget& io_tree, const std::vector<QTreeWidgetItem*>& i_rows);

// Has the tree's model find the places of the top-level rows from i_from
// on, until i_until expires; returns the row at which it stopped, the
// number of top-level rows once it got to the end.
int FindPlaces(const QTreeWidget& i_tree, int i_from, const QDeadlineTimer& i_until);

// How many rows that leave the tree may wait in it, hidden, before the
// whole top level comes out and goes back instead.
std::size_t HiddenAtMost(const QTreeWidget& i_tree);

// Takes i_children out of ip_parent (an item of a tree, or its invisible
// root item) and deletes them; rows of i_children that are no children of
// it stay where they are.
void TakeOutChildren(QTreeWidgetItem* ip_parent, const std::unordered_set<QTreeWidgetItem*>& i_children);
}  // namespace TreeRowRemoval
