// The Transfers page with a long list, one figure a line, name first:
//
//   transfers_view_gui_cpu_pct       the GUI thread's CPU time during the
//                                    progress run, in percent of its wall time
//   transfers_view_longest_block_ms  the longest the event loop could serve
//                                    no event during that run
//   transfers_view_fill_ms           the data-loaded step with 1,000 saved
//                                    downloads, then 200 uploads arriving,
//                                    until the rows are built and painted
//   complete_list_open_ms            the "Complete" tab built from 10,000
//                                    records of finished downloads and shown
//
// then the figures of 8,000 downloads from one user (OneUserDownloads.h)
// and of 5,000 downloads of 2,500 users removed (ManyUserRemoval.h).
//
// The page holds 1,000 downloads (300 running) and 200 uploads (99 running)
// from 300 users; five users have 100 downloads in one folder each, and one
// takes 100 uploads from one shared folder, so that the sums of big folders
// are paid for. Every 100 ms each running transfer reports progress as the
// transfer manager reports it: its figures move, then the manager's signal
// goes out. The page is shown (offscreen unless QT_QPA_PLATFORM says
// otherwise), 1200x800, on its downloads tab.
//
// Details of the progress run (its first round, when every transfer gets
// its bar, apart from the rounds after it) follow on stderr.
//
// Options: --seconds N for the progress run (default 10).

#include "ManyUserRemoval.h"
#include "OneUserDownloads.h"
#include "TransferBenchWorld.h"
#include "TransfersViewBenchWorld.h"
#include "ViewBenchLoop.h"

#include "core/store/Data.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "ui/views/CompleteDownloadsForm.h"
#include "ui/views/TransfersForm.h"
#include "ui_CompleteDownloadsForm.h"
#include "ui_TransfersForm.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
constexpr int UserCount = 300;
constexpr int DownloadCount = 1000;
constexpr int UploadCount = 200;
// Users 0-4 have this many downloads in one folder each; user 5 takes this
// many uploads from one shared folder.
constexpr int BigUsers = 5;
constexpr int BigFolderEntries = 100;
constexpr int RunningUploads = 99;
constexpr int CompleteRecords = 10000;
constexpr int TickMs = 100;

std::string UserName(int i_user)
{
    return QString::asprintf("user%03d", i_user).toStdString();
}

// A reproducible spread of sizes, speeds and times, so that rows differ.
int Spread(int i_index, int i_range)
{
    return int((qint64(i_index) * 7919 + 13) % i_range);
}

// A tenth each of the downloads: 3 running, 3 queued, 2 complete, 1
// aborted, 1 denied.
const char* DownloadStatus(int i_index)
{
    switch (i_index % 10) {
    case 0:
    case 1:
    case 2:
        return TransferStatus::Downloading;
    case 6:
    case 7:
        return TransferStatus::Complete;
    case 8:
        return TransferStatus::Aborted;
    case 9:
        return TransferStatus::Denied;
    default:
        return TransferStatus::Queued;
    }
}

const char* UploadStatus(int i_index)
{
    if (i_index % 2 == 0 && i_index / 2 < RunningUploads)
        return TransferStatus::Uploading;
    return i_index % 4 == 1 ? TransferStatus::Queued : TransferStatus::Complete;
}

// The saved downloads, as the data file brings them back: queued or
// complete, in queue order.
std::vector<ItemPtr> SaveDownloads(TransferQueueManager& io_manager)
{
    std::vector<ItemPtr> l_downloads;
    for (int l_index = 0; l_index < DownloadCount; ++l_index) {
        int l_user = 0;
        std::string l_folder;
        if (l_index < BigUsers * BigFolderEntries) {
            l_user = l_index / BigFolderEntries;
            l_folder = "music\\collection " + std::to_string(l_user) + "\\everything";
        } else {
            const int l_rest = l_index - BigUsers * BigFolderEntries;
            l_user = BigUsers + l_rest % (UserCount - BigUsers);
            l_folder = "shared\\" + UserName(l_user) + "\\album " + std::to_string(l_rest % 3);
        }
        const qint64 l_size = qint64(20 + Spread(l_index, 100)) * 1024 * 1024 + Spread(l_index, 1000);
        ItemPtr l_download = io_manager.AddDownload(UserName(l_user), "track " + std::to_string(l_index) + ".mp3",
                                                    l_folder, l_size, 0);
        if (std::string(DownloadStatus(l_index)) == TransferStatus::Complete)
            io_manager.SetDownloadEntryStatus(l_download, TransferStatus::Complete);
        l_downloads.push_back(l_download);
    }
    return l_downloads;
}

// The records of earlier runs' finished downloads, as the data file holds
// them (see the manager's RecordCompleteDownload).
void SaveCompleteRecords(const QString& i_downloadFolder)
{
    const QDateTime l_start(QDate(2024, 5, 1), QTime(12, 0, 0));
    for (int l_index = 0; l_index < CompleteRecords; ++l_index) {
        const std::string l_relative = "Music/album " + std::to_string(l_index % 500);
        ItemPtr l_record = d.GetType("complete_download")->NewItem();
        l_record += d.GetType("user")->GetItem(UserName(l_index % UserCount));
        l_record += d.GetType("complete_download_folder")
                        ->GetItem(i_downloadFolder.toStdString() + "/complete/" + l_relative);
        l_record += d.GetType("complete_download_relative_folder")->GetItem(l_relative);
        l_record += d.GetType("complete_download_filename")->GetItem("song " + std::to_string(l_index) + ".mp3");
        l_record += d.GetType("complete_download_file_size")
                        ->GetItem(std::to_string(qint64(1 + Spread(l_index, 50)) * 1000003));
        // Not in completion order, so that the list's sort has work to do.
        const QDateTime l_time = l_start.addSecs(-qint64(Spread(l_index, CompleteRecords)) * 60);
        l_record += d.GetType("complete_download_completion_time")
                        ->GetItem(l_time.toString(Qt::TextDate).toStdString());
    }
}

// The index of the shares: one file per upload.
std::vector<ItemPtr> ShareFiles()
{
    ItemPtr l_share = d.GetType("shared_folder")->GetItem("/shares");
    l_share += d.GetType("shared_public")->GetGlobalNullItem();
    std::vector<ItemPtr> l_files;
    for (int l_index = 0; l_index < UploadCount; ++l_index) {
        const std::string l_folder =
            l_index < BigFolderEntries ? "/shares/everything" : "/shares/music/album " + std::to_string(l_index % 10);
        ItemPtr l_folderItem = d.GetType("shared_file_folder")->GetItem(l_folder);
        l_share += l_folderItem;
        ItemPtr l_file = l_folderItem.NewItem("shared_file");
        l_file += d.GetType("shared_file_name")->GetItem("piece " + std::to_string(l_index) + ".flac");
        l_file += d.GetType("shared_file_size")
                      ->GetItem(std::to_string(qint64(40 + Spread(l_index, 200)) * 1024 * 1024));
        l_files.push_back(l_file);
    }
    return l_files;
}

// Other users' queue requests after the start, one upload entry each.
std::vector<ItemPtr> ArriveUploads(const std::vector<ItemPtr>& i_files)
{
    std::vector<ItemPtr> l_uploads;
    for (int l_index = 0; l_index < UploadCount; ++l_index) {
        const int l_user =
            l_index < BigFolderEntries ? BigUsers : BigUsers + 1 + (l_index - BigFolderEntries) % (UserCount - 6);
        ItemPtr l_upload = d.GetType("upload_entry")->NewItem();
        l_upload += d.GetType("user")->GetItem(UserName(l_user));
        l_upload += i_files[std::size_t(l_index)];
        l_upload += d.GetType("upload_entry_status")->GetItem(TransferStatus::Queued);
        l_uploads.push_back(l_upload);
    }
    return l_uploads;
}

// A transfer that moves data, with what its thread would report.
struct Running
{
    ItemPtr m_entry;
    bool m_download;
    qint64 m_position;
    int m_bytesPerSecond;
};

// The status changes after the start that set the transfers going or
// stopping; the manager's reset after loading queued them all again.
std::vector<Running> StartTransfers(TransferQueueManager& io_manager, const std::vector<ItemPtr>& i_downloads,
                                    const std::vector<ItemPtr>& i_uploads)
{
    std::vector<Running> l_running;
    for (std::size_t l_index = 0; l_index < i_downloads.size(); ++l_index) {
        const std::string l_status = DownloadStatus(int(l_index));
        if (l_status == TransferStatus::Queued || l_status == TransferStatus::Complete)
            continue;
        if (l_status == TransferStatus::Denied)
            i_downloads[l_index] += d.GetType("denial_reason")->GetItem("Too many files");
        io_manager.SetDownloadEntryStatus(i_downloads[l_index], l_status);
        if (l_status == TransferStatus::Downloading)
            l_running.push_back({i_downloads[l_index], true, 0, (20 + Spread(int(l_index), 100) * 10) * 1024});
    }
    for (std::size_t l_index = 0; l_index < i_uploads.size(); ++l_index) {
        const std::string l_status = UploadStatus(int(l_index));
        if (l_status == TransferStatus::Queued)
            continue;
        io_manager.SetUploadEntryStatus(i_uploads[l_index], l_status);
        if (l_status == TransferStatus::Uploading)
            l_running.push_back({i_uploads[l_index], false, 0, (10 + Spread(int(l_index), 50) * 10) * 1024});
    }
    return l_running;
}

// One progress report, as the manager makes it when a transfer thread
// reports: a transfer's first report finds the figures it was given when it
// started.
void Report(TransferQueueManager& io_manager, Running& io_transfer)
{
    const char* lp_position = io_transfer.m_download ? "write_position" : "read_position";
    if (!TransferFigures::Of<TransferFigures::Position>(io_transfer.m_entry, lp_position)) {
        TransferFigures::Attach<TransferFigures::Position>(io_transfer.m_entry, lp_position, 0);
        TransferFigures::Attach<TransferFigures::Speed>(io_transfer.m_entry, "bytes_per_second", 0);
        TransferFigures::Attach<TransferFigures::Time>(io_transfer.m_entry, "last_receipt_time", QDateTime());
    }
    io_transfer.m_position += qint64(io_transfer.m_bytesPerSecond) * TickMs / 1000;
    TransferFigures::RecordProgress(io_transfer.m_entry, lp_position, io_transfer.m_position,
                                    io_transfer.m_bytesPerSecond);
    if (io_transfer.m_download)
        emit io_manager.DownloadProgressed(io_transfer.m_entry);
    else
        emit io_manager.UploadProgressed(io_transfer.m_entry);
}

struct RunFigures
{
    double m_cpuPct = 0;
    double m_longestBlockMs = 0;
    // Details: the first round (every transfer's first report) and the
    // rounds after it.
    double m_firstRoundMs = 0;
    double m_laterRoundsMeanMs = 0;
    double m_laterRoundsMaxMs = 0;
    double m_laterCpuPct = 0;
    double m_laterLongestBlockMs = 0;
};

// Every running transfer reports every 100 ms, a round for each tenth of
// the seconds given, from a timer of the event loop, so that the page
// repaints between the rounds as in the program; a round late by a slow
// one before it is not made up for. The run ends one interval after the
// last round, its paint included. The block is measured by a probe timer
// (see BlockProbe).
RunFigures RunProgress(TransferQueueManager& io_manager, std::vector<Running>& io_running, int i_seconds)
{
    const int l_rounds = i_seconds * 1000 / TickMs;
    RunFigures l_figures;
    QEventLoop l_loop;
    QElapsedTimer l_wall;
    int l_round = 0;
    double l_laterRoundsMs = 0;
    double l_laterCpuStart = 0;
    double l_laterWallStart = 0;
    QTimer l_ticks;
    l_ticks.setTimerType(Qt::PreciseTimer);
    l_ticks.setInterval(TickMs);
    const double l_cpuStart = ThreadCpuMs();
    l_wall.start();
    BlockProbe l_probe;
    QObject::connect(&l_ticks, &QTimer::timeout, &l_loop, [&] {
        if (l_round == l_rounds) {
            l_loop.quit();
            return;
        }
        QElapsedTimer l_handler;
        l_handler.start();
        for (Running& l_transfer : io_running)
            Report(io_manager, l_transfer);
        const double l_handlerMs = MsSince(l_handler);
        if (l_round++ == 0) {
            l_figures.m_firstRoundMs = l_handlerMs;
            l_laterCpuStart = ThreadCpuMs();
            l_laterWallStart = MsSince(l_wall);
            l_probe.Mark();
        } else {
            l_laterRoundsMs += l_handlerMs;
            l_figures.m_laterRoundsMaxMs = std::max(l_figures.m_laterRoundsMaxMs, l_handlerMs);
        }
    });
    l_ticks.start();
    l_loop.exec();
    l_figures.m_longestBlockMs = l_probe.LongestMs();
    l_figures.m_laterLongestBlockMs = l_probe.LongestSinceMarkMs();
    const double l_wallMs = MsSince(l_wall);
    const double l_cpuEnd = ThreadCpuMs();
    l_figures.m_cpuPct = (l_cpuEnd - l_cpuStart) * 100.0 / l_wallMs;
    if (l_rounds > 1) {
        l_figures.m_laterRoundsMeanMs = l_laterRoundsMs / (l_rounds - 1);
        l_figures.m_laterCpuPct = (l_cpuEnd - l_laterCpuStart) * 100.0 / (l_wallMs - l_laterWallStart);
    }
    return l_figures;
}

}  // namespace

int main(int i_argc, char** ip_argv)
{
    UseOffscreenUnlessSet();
    QApplication l_app(i_argc, ip_argv);
    int l_exitCode = 0;
    if (OneUserDownloads::RunIfAsked(i_argc, ip_argv, l_exitCode) ||
        ManyUserRemoval::RunIfAsked(i_argc, ip_argv, l_exitCode))
        return l_exitCode;
    const int l_seconds = SecondsOption(i_argc, ip_argv, 10);
    TransfersViewBenchWorld l_world;
    if (l_world.DownloadFolder().isEmpty()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    TransferQueueManager& l_manager = l_world.Manager();
    TransfersForm& l_view = l_world.View();
    QTreeWidget& l_downloadsTree = *l_view.Form()->downloadsList;
    QTreeWidget& l_uploadsTree = *l_view.Form()->uploadsList;

    // What the data file brings, and the shares' index.
    const std::vector<ItemPtr> l_downloads = SaveDownloads(l_manager);
    SaveCompleteRecords(l_world.DownloadFolder());
    const std::vector<ItemPtr> l_files = ShareFiles();

    // The window stands before the data file loads, as in the program.
    bool l_painted = l_world.Show();

    // The rows count as there once the downloads' tree has shown them.
    QElapsedTimer l_fill;
    l_fill.start();
    const double l_fillCpuStart = ThreadCpuMs();
    l_world.Load();
    const std::vector<ItemPtr> l_uploads = ArriveUploads(l_files);
    l_painted = WaitForPaint(l_downloadsTree.viewport()) && l_painted;
    const double l_fillMs = MsSince(l_fill);
    const double l_fillCpuMs = ThreadCpuMs() - l_fillCpuStart;
    if (RowsAtDepth(l_downloadsTree, 2) != DownloadCount || RowsAtDepth(l_uploadsTree, 2) != UploadCount) {
        std::fprintf(stderr, "rows missing: %d downloads, %d uploads\n", RowsAtDepth(l_downloadsTree, 2),
                     RowsAtDepth(l_uploadsTree, 2));
        return 1;
    }

    std::vector<Running> l_running = StartTransfers(l_manager, l_downloads, l_uploads);
    l_painted = WaitForPaint(l_downloadsTree.viewport()) && l_painted;
    const RunFigures l_run = RunProgress(l_manager, l_running, l_seconds);

    // The user opens the list of finished downloads and looks at it: the
    // command builds and fills the tab, which then shows its first page.
    QElapsedTimer l_open;
    l_open.start();
    l_view.OnActionBarTriggered("complete_downloads");
    if (!completeDownloadsForm) {
        std::fprintf(stderr, "no complete list\n");
        return 1;
    }
    QTreeWidget& l_completeTree = *completeDownloadsForm->Form()->downloadList;
    l_view.Form()->transfersTabControl->setCurrentWidget(completeDownloadsForm);
    l_painted = WaitForPaint(l_completeTree.viewport()) && l_painted;
    const double l_openMs = MsSince(l_open);
    if (l_completeTree.topLevelItemCount() != CompleteRecords) {
        std::fprintf(stderr, "complete list holds %d rows\n", l_completeTree.topLevelItemCount());
        return 1;
    }
    if (!l_painted) {
        std::fprintf(stderr, "a list was never painted\n");
        return 1;
    }

    PrintFigure("transfers_view_gui_cpu_pct", l_run.m_cpuPct, "%");
    PrintFigure("transfers_view_longest_block_ms", l_run.m_longestBlockMs, "ms");
    PrintFigure("transfers_view_fill_ms", l_fillMs, "ms");
    PrintFigure("complete_list_open_ms", l_openMs, "ms");
    std::fprintf(stderr,
                 "details: %zu transfers report; first round %.1f ms; later rounds %.1f ms mean, %.1f ms at most "
                 "(reports only); after the first round the GUI thread is %.1f %% busy and blocked %.1f ms at most; "
                 "fill %.1f ms of CPU\n",
                 l_running.size(), l_run.m_firstRoundMs, l_run.m_laterRoundsMeanMs, l_run.m_laterRoundsMaxMs,
                 l_run.m_laterCpuPct, l_run.m_laterLongestBlockMs, l_fillCpuMs);
    return OneUserDownloads::RunAll() && ManyUserRemoval::Run() ? 0 : 1;
}
