#pragma once

// The upload queue at its bound with the Transfers page shown (offscreen
// unless QT_QPA_PLATFORM says otherwise, 1200x800, on its uploads tab, user
// and folder rows expanded as the page's flags say at start). Users the
// server reports offline fill the queue to its bound of 10,000 entries, each
// user's files in a shared folder of their own; then, for --seconds (30),
// 50 new such users a second each ask to queue 2 files, every request
// dropping the longest-waiting entry. Figures, one a line, name first:
//
//   upload_eviction_view_gui_cpu_pct  the GUI thread's CPU time from the
//                                     first request until the page has
//                                     caught up, in percent of that wall time
//   upload_eviction_view_us           that CPU time over the number of
//                                     requests: what the page put off to a
//                                     later refresh counts too
//
// for a queue filled by 5,000 users of 2 files; a detail line gives the
// same for 50 users of 200 files. Each runs in a process of its own.
namespace UploadEvictionView
{
// The option that makes this program run one measurement: followed by the
// number of users, of files per user, and of seconds.
constexpr char Option[] = "--eviction-view";

// The measurement the command line asks for, when it asks for one: true,
// with the process's exit code.
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode);
// Both measurements, each in a process of its own; false when one failed.
bool RunAll(int i_seconds);
}  // namespace UploadEvictionView
