#pragma once

// The upload queue turning over at its bound with the drops spread over
// many users, with the Transfers page shown (offscreen unless
// QT_QPA_PLATFORM says otherwise, 1200x800, on its uploads tab, user and
// folder rows expanded as the page's flags say at start). The page shares
// 100 folders of one file. Users the server reports offline fill the queue
// to its bound of 10,000 entries, 5,000 users of 2 files each in 2 folders
// of their own, asking in turn: the first file of every user, then the
// second. Then for --upload-spread seconds (180, at least 60) 120 entries a
// second arrive in the same order from 5,000 users with new names, each
// dropping the longest-waiting entry: a user's entries are 5,000 apart in
// the queue, so every drop is the only one of its user in a refresh, and
// takes a folder row out of a user row that stays, or the user row.
// Figures, name first:
//
//   upload_flood_spread_gui_block_max_ms  the longest the event loop served
//                                         no event during the run
//                                         (BlockProbe)
//   upload_flood_spread_gui_cpu_pct       the GUI thread's CPU time over the
//                                         last minute of the run, in percent
//                                         of that minute
//
// and a detail line with the same over the first minute, the entries
// dropped a second over the last minute and the rows of the tree at the end.
//
// --upload-spread-hidden seconds (180, at least 60) runs the same with the
// page in a stack of pages, filled while shown, then with another page
// current while the queue turns over:
//
//   upload_flood_spread_hidden_rss_growth_mib  the growth of the process's
//                                              resident memory from the end
//                                              of the first minute to the
//                                              end of the run
//
// and a detail line with the memory at both ends, the GUI thread's CPU
// share over the run and the rows of the tree at the end. Each runs in a
// process of its own.
namespace UploadSpreadView
{
// The option that makes this program run the measurement: followed by the
// number of seconds.
constexpr char Option[] = "--upload-spread";
// The same for the run with another page current.
constexpr char HiddenOption[] = "--upload-spread-hidden";

// The measurement the command line asks for, when it asks for one: true,
// with the process's exit code.
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode);
// The measurement in a process of its own; false when it failed.
bool RunInOwnProcess(int i_seconds);
// The same with another page current.
bool RunHiddenInOwnProcess(int i_seconds);
}  // namespace UploadSpreadView
