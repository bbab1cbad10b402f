#include "UploadEvictionView.h"

#include "TransferBenchWorld.h"
#include "TransfersViewBenchWorld.h"
#include "ViewBenchLoop.h"

#include "transfers/TransferQueueManager.h"
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
constexpr int NewUsersPerSecond = 50;
constexpr int FilesPerNewUser = 2;

// A user's files, shared in a folder of their own under names of their own;
// the paths under which the user asks for them.
std::vector<std::string> ShareFilesOf(const QString& i_root, const std::string& i_user, int i_files)
{
    std::vector<std::string> l_paths;
    const QString l_folder = i_root + "/shared/" + QString::fromStdString(i_user) + "/";
    for (int l_file = 0; l_file < i_files; ++l_file)
        l_paths.push_back(TransferBenchWorld::ShareFile(l_folder + QString("%1 track %2.mp3").arg(QString::fromStdString(i_user)).arg(l_file)));
    return l_paths;
}

void Queue(TransferQueueManager& io_manager, const std::string& i_user, const std::vector<std::string>& i_paths)
{
    for (const std::string& l_path : i_paths)
        io_manager.OnQueueUploadRequested(i_user, l_path);
}

// Until the uploads tree holds one file row per entry, for 5 s at most.
bool WaitForRows(TransferQueueManager& i_manager, const QTreeWidget& i_tree)
{
    QElapsedTimer l_clock;
    l_clock.start();
    while (RowsAtDepth(i_tree, 2) != i_manager.QueuedUploadCount()) {
        if (l_clock.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    WaitUntilIdle();
    return true;
}

int Run(int i_users, int i_files, int i_seconds)
{
    TransfersViewBenchWorld l_world;
    if (l_world.DownloadFolder().isEmpty()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    TransferQueueManager& l_manager = l_world.Manager();
    QTreeWidget& l_tree = *l_world.View().Form()->uploadsList;
    const QString l_root = l_world.DownloadFolder();
    bool l_painted = l_world.Show(true);
    l_world.Load();

    for (int l_user = 0; l_user < i_users; ++l_user) {
        const std::string l_name = "holder" + std::to_string(l_user);
        Queue(l_manager, l_name, ShareFilesOf(l_root, l_name, i_files));
    }
    const int l_bound = int(TransferQueueManager::MaxQueuedUploads);
    QElapsedTimer l_fill;
    l_fill.start();
    l_painted = RunUntilIdle(l_tree.viewport()) && l_painted;
    std::fprintf(stderr, "filled in %.0f ms\n", MsSince(l_fill));
    if (l_manager.QueuedUploadCount() != l_bound || !WaitForRows(l_manager, l_tree)) {
        std::fprintf(stderr, "filled: %d entries, %d rows\n", l_manager.QueuedUploadCount(), RowsAtDepth(l_tree, 2));
        return 1;
    }

    // The files the newcomers ask for are shared before they come.
    const int l_newUsers = NewUsersPerSecond * i_seconds;
    std::vector<std::vector<std::string>> l_newFiles;
    for (int l_user = 0; l_user < l_newUsers; ++l_user)
        l_newFiles.push_back(ShareFilesOf(l_root, "newcomer" + std::to_string(l_user), FilesPerNewUser));

    int l_requests = 0;
    double l_requestsCpuMs = 0;
    QEventLoop l_loop;
    QTimer l_arrivals;
    l_arrivals.setTimerType(Qt::PreciseTimer);
    l_arrivals.setInterval(1000 / NewUsersPerSecond);
    QObject::connect(&l_arrivals, &QTimer::timeout, &l_loop, [&] {
        if (l_requests / FilesPerNewUser == l_newUsers) {
            l_loop.quit();
            return;
        }
        const int l_user = l_requests / FilesPerNewUser;
        const double l_before = ThreadCpuMs();
        Queue(l_manager, "newcomer" + std::to_string(l_user), l_newFiles[std::size_t(l_user)]);
        l_requestsCpuMs += ThreadCpuMs() - l_before;
        l_requests += FilesPerNewUser;
    });
    QElapsedTimer l_wall;
    const double l_cpuStart = ThreadCpuMs();
    l_wall.start();
    l_arrivals.start();
    l_loop.exec();
    l_arrivals.stop();
    const bool l_caughtUp = WaitForRows(l_manager, l_tree);
    const double l_cpuMs = ThreadCpuMs() - l_cpuStart;
    const double l_wallMs = MsSince(l_wall);
    if (!l_caughtUp || l_manager.QueuedUploadCount() != l_bound) {
        std::fprintf(stderr, "after the flood: %d entries, %d rows\n", l_manager.QueuedUploadCount(),
                     RowsAtDepth(l_tree, 2));
        return 1;
    }
    if (!l_painted) {
        std::fprintf(stderr, "the list was never painted\n");
        return 1;
    }
    const double l_pct = 100.0 * l_cpuMs / l_wallMs;
    const double l_us = 1000.0 * l_cpuMs / l_requests;
    if (i_users * i_files == l_bound && i_files == FilesPerNewUser) {
        PrintFigure("upload_eviction_view_gui_cpu_pct", l_pct, "%");
        PrintFigure("upload_eviction_view_us", l_us, "us");
    } else {
        std::printf("detail upload_eviction_view users=%d files_each=%d gui_cpu_pct=%.1f us=%.1f\n", i_users, i_files,
                    l_pct, l_us);
    }
    std::fprintf(stderr, "eviction view %dx%d: %d requests in %.0f ms, %.0f ms of CPU, %.0f ms of it in the requests\n",
                 i_users, i_files, l_requests, l_wallMs, l_cpuMs, l_requestsCpuMs);
    return 0;
}
}  // namespace

namespace UploadEvictionView
{
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode)
{
    for (int l_arg = 1; l_arg + 3 < i_argc; ++l_arg) {
        if (std::string(ip_argv[l_arg]) != Option)
            continue;
        const int l_users = std::atoi(ip_argv[l_arg + 1]);
        const int l_files = std::atoi(ip_argv[l_arg + 2]);
        const int l_seconds = std::atoi(ip_argv[l_arg + 3]);
        if (l_users < 1 || l_files < 1 || l_seconds < 1 ||
            std::size_t(l_users) * std::size_t(l_files) != TransferQueueManager::MaxQueuedUploads) {
            std::fprintf(stderr, "%s wants users and files each that fill the queue's bound, then seconds\n",
                         Option);
            o_exitCode = 2;
        } else {
            o_exitCode = Run(l_users, l_files, l_seconds);
        }
        return true;
    }
    return false;
}

bool RunAll(int i_seconds)
{
    const QString l_seconds = QString::number(i_seconds);
    return RunThisProgram({Option, "5000", "2", l_seconds}) && RunThisProgram({Option, "50", "200", l_seconds});
}
}  // namespace UploadEvictionView
