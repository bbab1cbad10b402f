#include "UploadSpreadView.h"

#include "TransferBenchWorld.h"
#include "TransfersViewBenchWorld.h"
#include "UploadTurnover.h"
#include "ViewBenchLoop.h"

#include "transfers/TransferQueueManager.h"
#include "ui/views/TransfersForm.h"
#include "ui_TransfersForm.h"

#include <QElapsedTimer>
#include <QStackedWidget>
#include <QTreeWidget>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace
{
using namespace UploadTurnover;

constexpr int SharedFolders = 100;
constexpr int Users = 5000;
constexpr int FilesPerUser = 2;
constexpr int QueueBound = Users * FilesPerUser;
static_assert(QueueBound == int(TransferQueueManager::MaxQueuedUploads));
constexpr int ArrivalsPerSecond = 120;
constexpr int ArrivalIntervalMs = 25;

// The request of that number, counted from the first of the fill: the
// users of a round of the bound ask in turn, one file each, then again.
struct Request
{
    std::string m_user;
    // The file's place among the user's, and whether it is his first.
    int m_file = 0;
    int m_folder = 0;
};

Request RequestOf(int i_number)
{
    const int l_round = i_number / QueueBound;
    const int l_user = i_number % Users;
    const int l_file = i_number % QueueBound / Users;
    // The user's files in folders of their own, spread over the shares.
    const int l_folder = (l_user + l_file * (SharedFolders / FilesPerUser)) % SharedFolders;
    return {"spread" + std::to_string(l_round * Users + l_user), l_file, l_folder};
}

std::vector<std::string> ShareFiles(const QString& i_root)
{
    std::vector<std::string> l_paths;
    for (int l_folder = 0; l_folder < SharedFolders; ++l_folder)
        l_paths.push_back(TransferBenchWorld::ShareFile(i_root + QString("/shared/album %1/track.mp3").arg(l_folder)));
    return l_paths;
}

// The page in a stack of pages of the bench's own, with another page
// current while the queue turns over.
class Behind
{
public:
    explicit Behind(TransfersForm& io_page) : m_page(io_page)
    {
        m_stack.addWidget(&io_page);
        m_stack.addWidget(&m_other);
        m_stack.resize(1200, 800);
        m_stack.show();
    }
    ~Behind()
    {
        // The page is its world's.
        m_stack.removeWidget(&m_page);
        m_page.setParent(nullptr);
    }
    Behind(const Behind&) = delete;
    Behind& operator=(const Behind&) = delete;

    void ShowOther() { m_stack.setCurrentWidget(&m_other); }

private:
    TransfersForm& m_page;
    QStackedWidget m_stack;
    QWidget m_other;
};

// i_hidden: the page is filled shown, then the queue turns over with
// another page current.
int Run(int i_seconds, bool i_hidden)
{
    TransfersViewBenchWorld l_world;
    if (!ShowUploads(l_world))
        return 1;
    std::unique_ptr<Behind> lp_behind;
    if (i_hidden)
        lp_behind = std::make_unique<Behind>(l_world.View());
    const QTreeWidget& l_tree = *l_world.View().Form()->uploadsList;
    TransferQueueManager& l_manager = l_world.Manager();
    const std::vector<std::string> l_shared = ShareFiles(l_world.DownloadFolder());
    int l_requests = 0;
    auto l_request = [&] {
        const Request l_next = RequestOf(l_requests++);
        l_manager.OnQueueUploadRequested(l_next.m_user, l_shared[std::size_t(l_next.m_folder)]);
        // The server's answer to the look-up of a new name.
        if (l_next.m_file == 0)
            TransferBenchWorld::ReportOffline(l_next.m_user);
    };

    while (l_requests < QueueBound)
        l_request();
    if (!WaitForFill(l_tree))
        return 1;

    QElapsedTimer l_clock;
    const int l_filled = l_requests;
    // As many requests as are due by the clock: a refresh that holds the
    // loop up does not slow the flood down.
    auto l_arrive = [&] {
        const qint64 l_due = l_filled + l_clock.elapsed() * ArrivalsPerSecond / 1000;
        while (l_requests < l_due)
            l_request();
    };
    if (lp_behind)
        lp_behind->ShowOther();
    const BlockProbe l_probe;
    l_clock.start();
    const Marks l_marks = RunArrivals(ArrivalIntervalMs, i_seconds, l_arrive, l_requests);
    const double l_longestBlockMs = l_probe.LongestMs();
    const Mark& l_end = l_marks.m_end;
    const Mark& l_lastMinute = l_marks.m_lastMinute;
    if (!WaitForRows(l_tree) || l_manager.QueuedUploadCount() != QueueBound) {
        std::fprintf(stderr, "after the spread: %d queued, %d entries, %d rows\n", l_manager.QueuedUploadCount(),
                     Entries(), RowsAtDepth(l_tree, 2, true));
        return 1;
    }

    // Every request is admitted: what did not stay in the store was dropped.
    const int l_dropped = (l_end.m_arrivals - l_lastMinute.m_arrivals) - (l_end.m_entries - l_lastMinute.m_entries);
    if (i_hidden) {
        PrintFigure("upload_flood_spread_hidden_rss_growth_mib",
                    l_end.m_residentMb - l_marks.m_firstMinute.m_residentMb, "MiB");
        std::printf("detail upload_flood_spread_hidden first_minute_rss_mib=%.1f end_rss_mib=%.1f gui_cpu_pct=%.1f "
                    "rows=%d\n",
                    l_marks.m_firstMinute.m_residentMb, l_end.m_residentMb, CpuPct(l_marks.m_start, l_end),
                    AllRows(l_tree));
        std::fflush(stdout);
        return 0;
    }
    PrintFigure("upload_flood_spread_gui_block_max_ms", l_longestBlockMs, "ms");
    PrintFigures("upload_flood_spread", i_seconds, l_marks, l_dropped, l_tree);
    std::fprintf(stderr, "upload spread: %d requests in %lld ms, %d entries at the end\n",
                 l_end.m_arrivals - l_marks.m_start.m_arrivals, l_end.m_wallMs, Entries());
    return 0;
}
}  // namespace

namespace UploadSpreadView
{
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode)
{
    return UploadTurnover::RunIfAsked(i_argc, ip_argv, Option, [](int i_seconds) { return Run(i_seconds, false); },
                                      o_exitCode) ||
           UploadTurnover::RunIfAsked(i_argc, ip_argv, HiddenOption,
                                      [](int i_seconds) { return Run(i_seconds, true); }, o_exitCode);
}

bool RunInOwnProcess(int i_seconds)
{
    return RunThisProgram({Option, QString::number(i_seconds)});
}

bool RunHiddenInOwnProcess(int i_seconds)
{
    return RunThisProgram({HiddenOption, QString::number(i_seconds)});
}
}  // namespace UploadSpreadView
