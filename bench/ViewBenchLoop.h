#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QtGlobal>

class QTreeWidget;
class QWidget;

// What the benchmarks of pages measure with: figures on stdout, paints, the
// longest stall of the event loop and the resident memory.

// Pages are shown offscreen unless QT_QPA_PLATFORM says otherwise; before
// the application object is made.
void UseOffscreenUnlessSet();

// One figure a line, name first, one decimal, then the unit.
void PrintFigure(const char* ip_name, double i_value, const char* ip_unit);

double MsSince(const QElapsedTimer& i_timer);

// Runs the event loop until the widget has been painted once more (the
// layout the changes asked for comes first), or for 10 s at most; false
// when it was not painted.
bool WaitForPaint(QWidget* ip_widget);

// Lets every posted event and deferred deletion run, those that they post
// in turn included.
void WaitUntilIdle();

// After the widget's next paint, lets every posted event and deferred
// deletion run; false when it was not painted.
bool RunUntilIdle(QWidget* ip_painted);

// The rows of a tree at a depth (0: the top level), hidden ones too unless
// i_shownOnly, where a row counts when neither it nor a row above it is
// hidden.
int RowsAtDepth(const QTreeWidget& i_tree, int i_depth, bool i_shownOnly = false);

// The number after "--seconds" on the command line (at least 1), or the
// default.
int SecondsOption(int i_argc, char** ip_argv, int i_default);

// The process's resident memory, in MiB.
double ResidentMb();

// Runs this program again with the arguments, its output going where this
// one's goes, after what this one printed so far; false when it could not
// run or did not end with exit code 0.
bool RunThisProgram(const QStringList& i_arguments);

// How long the event loop served no event, measured by a 5 ms probe timer
// that runs from the probe's construction: how much later than its
// interval it fires is how long the loop was held, whether by a handler, a
// paint or the caller's own code between two turns of the loop (what a key
// press or a click would have waited).
class BlockProbe : public QObject
{
public:
    static constexpr int IntervalMs = 5;

    BlockProbe();

    double LongestMs() const { return m_longestMs; }
    // Only blocks that begin after the last Mark count here; each Mark
    // starts the count afresh.
    void Mark();
    double LongestSinceMarkMs() const { return m_longestSinceMarkMs; }

private:
    void OnProbe();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_markNs = -1;
    double m_longestMs = 0;
    double m_longestSinceMarkMs = 0;
};
