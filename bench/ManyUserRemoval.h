#pragma once

// The Transfers page with 5,000 downloads of 2,500 users, one file in each
// of two folders per user, shown (offscreen unless QT_QPA_PLATFORM says
// otherwise, 1200x800, on its downloads tab, every row expanded as the
// page's flags say at start), then all removed as "Remove downloads"
// removes them, one TransferQueueManager::RemoveDownload call each. Figure:
//
//   download_remove_5k_ms  from the first removal until the tree is empty
//                          and the event loop has no work left
//
// It runs in a process of its own, with a new store.
namespace ManyUserRemoval
{
// The option that makes this program run the measurement.
constexpr char Option[] = "--remove-5k";

// The measurement, when the command line asks for it: true, with the
// process's exit code.
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode);
// The measurement in a process of its own; false when it failed.
bool Run();
}  // namespace ManyUserRemoval
