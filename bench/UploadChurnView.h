#pragma once

// The upload queue turning over at its bound as a crowd of users with new
// names makes it, with the Transfers page shown (offscreen unless
// QT_QPA_PLATFORM says otherwise, 1200x800, on its uploads tab, user and
// folder rows expanded as the page's flags say at start). The page shares
// 100 folders of ten files. A new user comes every 825 ms, logs in and asks
// for 100 files, one of each folder, folder by folder; the free upload slot
// offers him his first, and he refuses it; the server then reports him
// offline, so that his other 99 entries may make room. With the queue at its
// bound of 10,000 entries each newcomer drops the 99 longest-waiting ones
// (about 120 a second, the rate of the flood that showed the cost), and his
// denied row stays as long as the page keeps it, and with it his user row:
// his folder rows leave it one by one, and the tree grows by a user, a
// folder and a file row a newcomer. The run fills the queue that way
// first, then goes on for --churn-seconds (300, at least 60). Figure, name
// first:
//
//   upload_flood_churn_gui_cpu_pct  the GUI thread's CPU time over the last
//                                   minute of the run, in percent of that
//                                   minute
//
// and a detail line with the same over the first minute, the entries
// dropped a second over the last minute and the rows of the tree at the end.
// Runs in a process of its own.
namespace UploadChurnView
{
// The option that makes this program run the measurement: followed by the
// number of seconds.
constexpr char Option[] = "--upload-churn";

// The measurement the command line asks for, when it asks for one: true,
// with the process's exit code.
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode);
// The measurement in a process of its own; false when it failed.
bool RunInOwnProcess(int i_seconds);
}  // namespace UploadChurnView
