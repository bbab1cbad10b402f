#pragma once

#include <QString>

// The Transfers page with 8,000 downloads from one user, as "Download
// Folder" on the browse page queues them: in 40 folders of 200 (one_user_*)
// and in one folder of 8,000 (one_user_*_one_folder). Figures, one a line,
// name first:
//
//   one_user_queue_8k_ms   from the first of the 8,000 AddDownload calls
//                          until the rows are built and painted and the
//                          event loop has no work left
//   one_user_status_8k_ms  each download changed once, "queued" to
//                          "aborted", one change per turn of the event loop
//                          (each from its own zero-delay timer), from the
//                          first change until the loop has no work left
//   one_user_fill_8k_ms    the data-loaded step with the 8,000 saved, until
//                          the rows are built and painted
//
// Each measurement starts from a new store, so each runs in a process of
// its own: this program, started again with the option below.
namespace OneUserDownloads
{
// The option that makes this program run one measurement: followed by the
// number of folders and "queue" (queue, then status) or "fill".
constexpr char Option[] = "--one-user";

// The measurement the command line asks for, when it asks for one: true,
// with the process's exit code.
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode);
// Every measurement, each in a process of its own, in the order of the
// list above, first for 40 folders, then for one; false when one failed.
bool RunAll();
}  // namespace OneUserDownloads
