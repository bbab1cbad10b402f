#include "UploadChurnView.h"

#include "TransferBenchWorld.h"
#include "TransfersViewBenchWorld.h"
#include "ViewBenchLoop.h"

#include "core/store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "ui/views/TransfersForm.h"
#include "ui_TransfersForm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
constexpr int SharedFolders = 100;
constexpr int FilesPerFolder = 10;
constexpr int ArrivalIntervalMs = 825;
constexpr int MinuteMs = 60000;

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

int Entries()
{
    return int(d.GetType("upload_entry")->ItemCount());
}

// Until the tree holds one file row per entry, for 10 s at most.
bool WaitForRows(const QTreeWidget& i_tree)
{
    QElapsedTimer l_clock;
    l_clock.start();
    while (RowsAtDepth(i_tree, 2) != Entries()) {
        if (l_clock.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    WaitUntilIdle();
    return true;
}

// What a stretch of the run cost and did.
struct Mark
{
    double m_cpuMs = 0;
    qint64 m_wallMs = 0;
    int m_arrivals = 0;
    int m_entries = 0;
};

int Run(int i_seconds)
{
    TransfersViewBenchWorld l_world;
    if (l_world.DownloadFolder().isEmpty()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    if (!l_world.Show(true)) {
        std::fprintf(stderr, "the list was never painted\n");
        return 1;
    }
    l_world.Load();
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
    if (!RunUntilIdle(l_tree.viewport()) || !WaitForRows(l_tree)) {
        std::fprintf(stderr, "filled: %d entries, %d rows\n", Entries(), RowsAtDepth(l_tree, 2));
        return 1;
    }

    QElapsedTimer l_wall;
    auto l_mark = [&] { return Mark{ThreadCpuMs(), l_wall.elapsed(), l_arrivals, Entries()}; };
    QEventLoop l_loop;
    QTimer l_arrivalTimer;
    l_arrivalTimer.setTimerType(Qt::PreciseTimer);
    l_arrivalTimer.setInterval(ArrivalIntervalMs);
    QObject::connect(&l_arrivalTimer, &QTimer::timeout, &l_loop, l_arrive);
    l_wall.start();
    const Mark l_start = l_mark();
    Mark l_firstMinute;
    Mark l_lastMinute;
    QTimer::singleShot(MinuteMs, &l_loop, [&] { l_firstMinute = l_mark(); });
    QTimer::singleShot((i_seconds - 60) * 1000, &l_loop, [&] { l_lastMinute = l_mark(); });
    QTimer::singleShot(i_seconds * 1000, &l_loop, &QEventLoop::quit);
    l_arrivalTimer.start();
    l_loop.exec();
    l_arrivalTimer.stop();
    const Mark l_end = l_mark();
    if (!WaitForRows(l_tree) || l_manager.QueuedUploadCount() != l_bound) {
        std::fprintf(stderr, "after the churn: %d queued, %d entries, %d rows\n", l_manager.QueuedUploadCount(),
                     Entries(), RowsAtDepth(l_tree, 2));
        return 1;
    }

    auto l_cpuPct = [](const Mark& i_from, const Mark& i_to) {
        return 100.0 * (i_to.m_cpuMs - i_from.m_cpuMs) / double(i_to.m_wallMs - i_from.m_wallMs);
    };
    const int l_files = SharedFolders;
    // Every request is admitted: what did not stay in the store was dropped.
    const int l_dropped = (l_end.m_arrivals - l_lastMinute.m_arrivals) * l_files - (l_end.m_entries - l_lastMinute.m_entries);
    PrintFigure("upload_flood_churn_gui_cpu_pct", l_cpuPct(l_lastMinute, l_end), "%");
    std::printf("detail upload_flood_churn seconds=%d first_minute_gui_cpu_pct=%.1f drops_per_s=%.1f rows=%d\n",
                i_seconds, l_cpuPct(l_start, l_firstMinute),
                1000.0 * l_dropped / double(l_end.m_wallMs - l_lastMinute.m_wallMs), RowsAtDepth(l_tree, 0) +
                    RowsAtDepth(l_tree, 1) + RowsAtDepth(l_tree, 2));
    std::fflush(stdout);
    std::fprintf(stderr, "upload churn: %d newcomers in %lld ms, %d entries at the end\n",
                 l_end.m_arrivals - l_start.m_arrivals, l_end.m_wallMs, Entries());
    return 0;
}
}  // namespace

namespace UploadChurnView
{
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode)
{
    for (int l_arg = 1; l_arg + 1 < i_argc; ++l_arg) {
        if (std::string(ip_argv[l_arg]) != Option)
            continue;
        const int l_seconds = std::atoi(ip_argv[l_arg + 1]);
        if (l_seconds < 60) {
            std::fprintf(stderr, "%s wants seconds, at least 60\n", Option);
            o_exitCode = 2;
        } else {
            o_exitCode = Run(l_seconds);
        }
        return true;
    }
    return false;
}

bool RunInOwnProcess(int i_seconds)
{
    return RunThisProgram({Option, QString::number(i_seconds)});
}
}  // namespace UploadChurnView
