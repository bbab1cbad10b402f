#pragma once

#include <QtGlobal>

#include <functional>

class QTreeWidget;
class TransfersViewBenchWorld;

// What the runs with the upload queue turning over at its bound under the
// Transfers page share (UploadChurnView.h, UploadSpreadView.h): the wait for
// the tree to show every entry, the timed run with its marks, and the
// option that asks for a run of some seconds.
namespace UploadTurnover
{
constexpr int MinuteMs = 60000;

// Shows the page on its uploads tab and loads its data; false (with the
// reason on stderr) when it could not.
bool ShowUploads(TransfersViewBenchWorld& io_world);

// The upload entries in the store.
int Entries();

// Until the tree shows one file row per entry, for 10 s at most, then
// until nothing is posted any more; false when it never did.
bool WaitForRows(const QTreeWidget& i_tree);

// After the queue was filled: until the tree is painted and holds every
// entry; false (with what it holds on stderr) when it never did.
bool WaitForFill(const QTreeWidget& i_tree);

// The rows of the tree at every depth.
int AllRows(const QTreeWidget& i_tree);

// What a stretch of the run cost and did.
struct Mark
{
    double m_cpuMs = 0;
    qint64 m_wallMs = 0;
    int m_arrivals = 0;
    int m_entries = 0;
    double m_residentMb = 0;
};

// The GUI thread's CPU time between the marks, in percent of the wall time.
double CpuPct(const Mark& i_from, const Mark& i_to);

struct Marks
{
    Mark m_start;
    Mark m_firstMinute;
    Mark m_lastMinute;
    Mark m_end;
};

// Prints "<i_name>_gui_cpu_pct", the GUI thread's CPU share over the last
// minute, and a detail line with the same over the first minute, the
// entries dropped a second over the last minute and the rows of the tree.
void PrintFigures(const char* ip_name, int i_seconds, const Marks& i_marks, int i_droppedInLastMinute,
                  const QTreeWidget& i_tree);

// Calls i_arrive every i_intervalMs for i_seconds (at least 60) with the
// event loop running; i_arrivals is what the marks count as arrivals.
Marks RunArrivals(int i_intervalMs, int i_seconds, const std::function<void()>& i_arrive, const int& i_arrivals);

// For "<option> seconds": runs i_run when the option is there, with exit
// code 2 (and the reason on stderr) for fewer than 60 seconds. True when
// the option was there.
bool RunIfAsked(int i_argc, char** ip_argv, const char* ip_option, const std::function<int(int i_seconds)>& i_run,
                int& o_exitCode);
}  // namespace UploadTurnover
