#pragma once

// The upload queue turning over at its bound with the drops spread over
// many users, with the Transfers page shown (offscreen unless
// QT_QPA_PLATFORM says otherwise, 1200x800, on its uploads tab, user and
// folder rows expanded as the page's flags say at start). The page shares
// 100 folders of one file. Users the server reports offline fill the queue
// to its bound of 10,000 entries, 2,000 users of 5 files each in 5 folders
// of their own, asking in turn: the first file of every user, then the
// second, and so on. Then for --upload-spread seconds (180, at least 60)
// 120 entries a second arrive in the same order from 2,000 users with new
// names, each dropping the longest-waiting entry: a user's entries are 2,000
// apart in the queue, so every drop is the only one of its user in a
// refresh, and nearly every one takes a folder row out of a user row that
// stays. Figure, name first:
//
//   upload_flood_spread_gui_cpu_pct  the GUI thread's CPU time over the last
//                                    minute of the run, in percent of that
//                                    minute
//
// and a detail line with the same over the first minute, the entries
// dropped a second over the last minute and the rows of the tree at the end.
// Runs in a process of its own.
namespace UploadSpreadView
{
// The option that makes this program run the measurement: followed by the
// number of seconds.
constexpr char Option[] = "--upload-spread";

// The measurement the command line asks for, when it asks for one: true,
// with the process's exit code.
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode);
// The measurement in a process of its own; false when it failed.
bool RunInOwnProcess(int i_seconds);
}  // namespace UploadSpreadView
