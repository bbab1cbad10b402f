#include "OneUserDownloads.h"

#include "TransfersViewBenchWorld.h"
#include "ViewBenchLoop.h"

#include "core/store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "ui/views/TransfersForm.h"
#include "ui_TransfersForm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
constexpr int Downloads = 8000;
constexpr char User[] = "collector";

// The files of every folder in name order, a folder after the other, as
// "Download Folder" queues them: the chosen folder holds them itself, or
// in sub-folders one level below it.
std::vector<ItemPtr> QueueLikeDownloadFolder(TransferQueueManager& io_manager, int i_folders)
{
    std::vector<ItemPtr> l_downloads;
    l_downloads.reserve(Downloads);
    const std::string l_chosen = "music\\everything";
    for (int l_folder = 0; l_folder < i_folders; ++l_folder) {
        const std::string l_path =
            i_folders == 1 ? l_chosen : l_chosen + QString::asprintf("\\disc %02d", l_folder).toStdString();
        for (int l_file = 0; l_file < Downloads / i_folders; ++l_file) {
            const std::string l_name = QString::asprintf("track %04d.mp3", l_file).toStdString();
            const qint64 l_size = 3000000 + qint64(l_folder) * 1000 + l_file;
            l_downloads.push_back(io_manager.AddDownload(User, l_name, l_path, l_size, i_folders == 1 ? 0 : 1));
        }
    }
    return l_downloads;
}

// The file rows showing the status.
int RowsWithStatus(const QTreeWidget& i_tree, const QString& i_status)
{
    int l_rows = 0;
    for (QTreeWidgetItemIterator l_row(const_cast<QTreeWidget*>(&i_tree)); *l_row; ++l_row) {
        if ((*l_row)->childCount() == 0 && (*l_row)->text(3) == i_status)
            ++l_rows;
    }
    return l_rows;
}

double StatusRun(TransferQueueManager& io_manager, const std::vector<ItemPtr>& i_downloads)
{
    QElapsedTimer l_clock;
    std::size_t l_changed = 0;
    QObject l_context;
    for (const ItemPtr& l_download : i_downloads) {
        QTimer::singleShot(0, &l_context, [&, l_download] {
            if (l_changed++ == 0)
                l_clock.start();
            io_manager.SetDownloadEntryStatus(l_download, TransferStatus::Aborted);
        });
    }
    while (l_changed < i_downloads.size())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    WaitUntilIdle();
    return MsSince(l_clock);
}

int Run(int i_folders, bool i_fill)
{
    TransfersViewBenchWorld l_world;
    if (l_world.DownloadFolder().isEmpty()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    TransferQueueManager& l_manager = l_world.Manager();
    QTreeWidget& l_tree = *l_world.View().Form()->downloadsList;
    const char* lp_suffix = i_folders == 1 ? "_one_folder" : "";
    // The window stands before the data file loads, as in the program.
    bool l_painted = l_world.Show();

    std::vector<ItemPtr> l_downloads;
    QElapsedTimer l_clock;
    if (i_fill) {
        l_downloads = QueueLikeDownloadFolder(l_manager, i_folders);
        l_clock.start();
        l_world.Load();
        l_painted = RunUntilIdle(l_tree.viewport()) && l_painted;
    } else {
        // An empty list: nothing to paint.
        l_world.Load();
        WaitUntilIdle();
        l_clock.start();
        l_downloads = QueueLikeDownloadFolder(l_manager, i_folders);
        l_painted = RunUntilIdle(l_tree.viewport()) && l_painted;
    }
    const double l_rowsMs = MsSince(l_clock);
    if (RowsAtDepth(l_tree, 2) != Downloads || RowsWithStatus(l_tree, "queued") != Downloads) {
        std::fprintf(stderr, "%d rows, %d of them queued\n", RowsAtDepth(l_tree, 2), RowsWithStatus(l_tree, "queued"));
        return 1;
    }
    if (!l_painted) {
        std::fprintf(stderr, "the list was never painted\n");
        return 1;
    }
    if (i_fill) {
        PrintFigure((std::string("one_user_fill_8k_ms") + lp_suffix).c_str(), l_rowsMs, "ms");
        return 0;
    }
    PrintFigure((std::string("one_user_queue_8k_ms") + lp_suffix).c_str(), l_rowsMs, "ms");

    const double l_statusMs = StatusRun(l_manager, l_downloads);
    if (RowsWithStatus(l_tree, "aborted") != Downloads) {
        std::fprintf(stderr, "%d rows aborted\n", RowsWithStatus(l_tree, "aborted"));
        return 1;
    }
    PrintFigure((std::string("one_user_status_8k_ms") + lp_suffix).c_str(), l_statusMs, "ms");
    return 0;
}
}  // namespace

namespace OneUserDownloads
{
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode)
{
    for (int l_arg = 1; l_arg + 2 < i_argc; ++l_arg) {
        if (std::string(ip_argv[l_arg]) != Option)
            continue;
        const int l_folders = std::atoi(ip_argv[l_arg + 1]);
        const std::string l_run = ip_argv[l_arg + 2];
        if (l_folders < 1 || Downloads % l_folders != 0 || (l_run != "queue" && l_run != "fill")) {
            std::fprintf(stderr, "%s wants a number of folders dividing %d, then queue or fill\n", Option,
                         Downloads);
            o_exitCode = 2;
        } else {
            o_exitCode = Run(l_folders, l_run == "fill");
        }
        return true;
    }
    return false;
}

bool RunAll()
{
    for (const char* lp_folders : {"40", "1"}) {
        for (const char* lp_run : {"queue", "fill"}) {
            if (!RunThisProgram({Option, lp_folders, lp_run}))
                return false;
        }
    }
    return true;
}
}  // namespace OneUserDownloads
