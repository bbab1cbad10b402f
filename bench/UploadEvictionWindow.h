#pragma once

// The flood of UploadEvictionView.h against the main window as the program
// builds it (BenchMainWindow.h), 1200x800, on the Transfers page with its
// uploads tab shown and its expand flags as they are at a first start (on):
// the files are written to disk, in a folder of each user's own under one
// shared folder, and indexed by the window's own shares service before the
// queue fills. One line:
//
//   detail upload_eviction_window users=U files_each=F gui_cpu_pct=X us=Y
//
// with the GUI thread's CPU share until the page has caught up and that CPU
// time per request: what the whole window costs, page, log, bars and all.
namespace UploadEvictionWindow
{
// The option that makes this program run the measurement: followed by the
// number of users, of files per user, and of seconds.
constexpr char Option[] = "--eviction-window";

// The measurement the command line asks for, when it asks for one: true,
// with the process's exit code.
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode);
// The measurement for 5,000 users of 2 files, in a process of its own;
// false when it failed.
bool RunInOwnProcess(int i_seconds);
}  // namespace UploadEvictionWindow
