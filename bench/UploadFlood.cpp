#include "UploadFlood.h"

#include "TransferBenchWorld.h"
#include "ViewBenchLoop.h"

#include "transfers/TransferQueueManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>

namespace
{
void Queue(TransferQueueManager& io_manager, const std::string& i_user, const std::vector<std::string>& i_paths)
{
    for (const std::string& l_path : i_paths)
        io_manager.OnQueueUploadRequested(i_user, l_path);
}

// Until the uploads tree shows one file row per entry, for 5 s at most.
bool WaitForRows(TransferQueueManager& i_manager, const QTreeWidget& i_tree)
{
    QElapsedTimer l_clock;
    l_clock.start();
    while (RowsAtDepth(i_tree, 2, true) != i_manager.QueuedUploadCount()) {
        if (l_clock.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    WaitUntilIdle();
    return true;
}

using namespace UploadFlood;

// The flood itself, from the first request until the tree has caught up.
bool Flood(TransferQueueManager& io_manager, const QTreeWidget& i_tree,
           const std::vector<std::vector<std::string>>& i_newFiles, Figures& o_figures)
{
    const int l_newUsers = int(i_newFiles.size());
    QEventLoop l_loop;
    QTimer l_arrivals;
    l_arrivals.setTimerType(Qt::PreciseTimer);
    l_arrivals.setInterval(1000 / NewUsersPerSecond);
    QObject::connect(&l_arrivals, &QTimer::timeout, &l_loop, [&] {
        if (o_figures.m_requests / FilesPerNewUser == l_newUsers) {
            l_loop.quit();
            return;
        }
        const int l_user = o_figures.m_requests / FilesPerNewUser;
        const double l_before = ThreadCpuMs();
        Queue(io_manager, Newcomer(l_user), i_newFiles[std::size_t(l_user)]);
        o_figures.m_requestsCpuMs += ThreadCpuMs() - l_before;
        o_figures.m_requests += FilesPerNewUser;
        // The server's answer to the look-up, counted in the whole run's
        // time but not in the requests'.
        TransferBenchWorld::ReportOffline(Newcomer(l_user));
    });
    QElapsedTimer l_wall;
    const double l_cpuStart = ThreadCpuMs();
    l_wall.start();
    l_arrivals.start();
    l_loop.exec();
    l_arrivals.stop();
    const bool l_caughtUp = WaitForRows(io_manager, i_tree);
    o_figures.m_cpuMs = ThreadCpuMs() - l_cpuStart;
    o_figures.m_wallMs = MsSince(l_wall);
    return l_caughtUp;
}
}  // namespace

namespace UploadFlood
{
std::string Holder(int i_index)
{
    return "holder" + std::to_string(i_index);
}

std::string Newcomer(int i_index)
{
    return "newcomer" + std::to_string(i_index);
}

QString FileOf(const QString& i_root, const std::string& i_user, int i_file)
{
    const QString l_user = QString::fromStdString(i_user);
    return i_root + "/shared/" + l_user + "/" + QString("%1 track %2.mp3").arg(l_user).arg(i_file);
}

bool Run(TransferQueueManager& io_manager, const QTreeWidget& i_tree, int i_users, int i_files, int i_seconds,
         const ShareFn& i_share, Figures& o_figures)
{
    for (int l_user = 0; l_user < i_users; ++l_user) {
        Queue(io_manager, Holder(l_user), i_share(Holder(l_user), i_files));
        TransferBenchWorld::ReportOffline(Holder(l_user));
    }
    const int l_bound = int(TransferQueueManager::MaxQueuedUploads);
    QElapsedTimer l_fill;
    l_fill.start();
    if (!RunUntilIdle(i_tree.viewport())) {
        std::fprintf(stderr, "the list was never painted\n");
        return false;
    }
    std::fprintf(stderr, "filled in %.0f ms\n", MsSince(l_fill));
    if (io_manager.QueuedUploadCount() != l_bound || !WaitForRows(io_manager, i_tree)) {
        std::fprintf(stderr, "filled: %d entries, %d rows shown\n", io_manager.QueuedUploadCount(),
                     RowsAtDepth(i_tree, 2, true));
        return false;
    }

    // The files the newcomers ask for are shared before they come.
    std::vector<std::vector<std::string>> l_newFiles;
    for (int l_user = 0; l_user < NewUsersPerSecond * i_seconds; ++l_user)
        l_newFiles.push_back(i_share(Newcomer(l_user), FilesPerNewUser));

    if (!Flood(io_manager, i_tree, l_newFiles, o_figures) || io_manager.QueuedUploadCount() != l_bound) {
        std::fprintf(stderr, "after the flood: %d entries, %d rows\n", io_manager.QueuedUploadCount(),
                     RowsAtDepth(i_tree, 2, true));
        return false;
    }
    return true;
}

bool RunIfAsked(int i_argc, char** ip_argv, const char* ip_option,
                const std::function<int(int i_users, int i_files, int i_seconds)>& i_run, int& o_exitCode)
{
    for (int l_arg = 1; l_arg + 3 < i_argc; ++l_arg) {
        if (std::string(ip_argv[l_arg]) != ip_option)
            continue;
        const int l_users = std::atoi(ip_argv[l_arg + 1]);
        const int l_files = std::atoi(ip_argv[l_arg + 2]);
        const int l_seconds = std::atoi(ip_argv[l_arg + 3]);
        if (l_users < 1 || l_files < 1 || l_seconds < 1 ||
            std::size_t(l_users) * std::size_t(l_files) != TransferQueueManager::MaxQueuedUploads) {
            std::fprintf(stderr, "%s wants users and files each that fill the queue's bound, then seconds\n",
                         ip_option);
            o_exitCode = 2;
        } else {
            o_exitCode = i_run(l_users, l_files, l_seconds);
        }
        return true;
    }
    return false;
}

void Tell(const char* ip_what, int i_users, int i_files, const Figures& i_figures)
{
    std::fprintf(stderr, "%s %dx%d: %d requests in %.0f ms, %.0f ms of CPU, %.0f ms of it in the requests\n", ip_what,
                 i_users, i_files, i_figures.m_requests, i_figures.m_wallMs, i_figures.m_cpuMs,
                 i_figures.m_requestsCpuMs);
}
}  // namespace UploadFlood
