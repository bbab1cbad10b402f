#include "UploadChurnView.h"

#include "TransferBenchWorld.h"
#include "TransfersViewBenchWorld.h"
#include "UploadTurnover.h"
#include "ViewBenchLoop.h"

#include "core/store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "ui/views/TransfersForm.h"
#include "ui_TransfersForm.h"

#include <QTreeWidget>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
using namespace UploadTurnover;

constexpr int SharedFolders = 100;
constexpr int FilesPerFolder = 10;
constexpr int ArrivalIntervalMs = 825;

// The shared files by folder.
std::vector<std::vector<std::string>> ShareFiles(const QString& i_root)
{
    std::vector<std::vector<std::string>> l_folders(SharedFolders);
    for (int l_folder = 0; l_folder < SharedFolders; ++l_folder) {
        for (int l_file = 0; l_file < FilesPerFolder; ++l_file)
            l_folders[std::size_t(l_folder)].push_back(TransferBenchWorld::ShareFile(
                i_root + QString("/shared/album %1/track %2.mp3").arg(l_folder).arg(l_file)));
    }
    return l_folders;
}

// What the newcomer of that number asks for: one file of each folder, in
// the folders' order.
std::vector<std::string> Wish(const std::vector<std::vector<std::string>>& i_shared, int i_newcomer)
{
    std::vector<std::string> l_paths;
    for (const std::vector<std::string>& l_folder : i_shared)
        l_paths.push_back(l_folder[std::size_t(i_newcomer) % l_folder.size()]);
    return l_paths;
}

// A newcomer logs in, asks for every file and refuses the offer of his
// first; the server reports him offline meanwhile.
void Arrive(TransferQueueManager& io_manager, const std::string& i_user, const std::vector<std::string>& i_paths)
{
    TransferBenchWorld::MeetUser(i_user, 1);
    for (const std::string& l_path : i_paths)
        io_manager.OnQueueUploadRequested(i_user, l_path);
    TransferBenchWorld::ReportOffline(i_user);
    const ItemPtr l_offered = d.GetType("user")->GetItem(i_user).GetItems("upload_entry").Connected(
        "upload_entry_status", TransferStatus::Requesting);
    if (l_offered)
        io_manager.OnFileTransferResponse(i_user, l_offered["transfer_req"].AsUInt(), false, false, 0, "Cancelled");
}

int Run(int i_seconds)
{
    TransfersViewBenchWorld l_world;
    if (!ShowUploads(l_world))
        return 1;
    const QTreeWidget& l_tree = *l_world.View().Form()->uploadsList;
    TransferQueueManager& l_manager = l_world.Manager();
    const std::vector<std::vector<std::string>> l_shared = ShareFiles(l_world.DownloadFolder());
    int l_arrivals = 0;
    auto l_arrive = [&] {
        Arrive(l_manager, "churn" + std::to_string(l_arrivals), Wish(l_shared, l_arrivals));
        ++l_arrivals;
    };

    const int l_bound = int(TransferQueueManager::MaxQueuedUploads);
    while (l_manager.QueuedUploadCount() < l_bound)
        l_arrive();
    if (!WaitForFill(l_tree))
        return 1;

    const Marks l_marks = RunArrivals(ArrivalIntervalMs, i_seconds, l_arrive, l_arrivals);
    const Mark& l_end = l_marks.m_end;
    const Mark& l_lastMinute = l_marks.m_lastMinute;
    if (!WaitForRows(l_tree) || l_manager.QueuedUploadCount() != l_bound) {
        std::fprintf(stderr, "after the churn: %d queued, %d entries, %d rows\n", l_manager.QueuedUploadCount(),
                     Entries(), RowsAtDepth(l_tree, 2, true));
        return 1;
    }

    const int l_files = SharedFolders;
    // Every request is admitted: what did not stay in the store was dropped.
    const int l_dropped = (l_end.m_arrivals - l_lastMinute.m_arrivals) * l_files - (l_end.m_entries - l_lastMinute.m_entries);
    PrintFigures("upload_flood_churn", i_seconds, l_marks, l_dropped, l_tree);
    std::fprintf(stderr, "upload churn: %d newcomers in %lld ms, %d entries at the end\n",
                 l_end.m_arrivals - l_marks.m_start.m_arrivals, l_end.m_wallMs, Entries());
    return 0;
}
}  // namespace

namespace UploadChurnView
{
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode)
{
    return UploadTurnover::RunIfAsked(i_argc, ip_argv, Option, Run, o_exitCode);
}

bool RunInOwnProcess(int i_seconds)
{
    return RunThisProgram({Option, QString::number(i_seconds)});
}
}  // namespace UploadChurnView
