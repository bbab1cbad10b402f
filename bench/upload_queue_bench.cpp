// The upload queue under a flood of queue requests from users who never
// come online, one figure a line, name first:
//
//   upload_queue_flood_cpu_pct  the GUI thread's CPU time while 3,000 new
//                               entries a minute arrive, in percent of the
//                               wall time of the run
//   upload_queue_insert_us      the mean time of one more request while the
//                               queue holds its bound of 10,000 entries (each
//                               one drops the longest-waiting entry)
//
// Every request names a new user and the one shared file, as a peer that
// claims a new name for each request does; one upload runs meanwhile, so
// that the slot is taken.
//
// Options: --seconds N for the flood (default 120).

#include "TransferBenchWorld.h"

#include "core/store/Data.h"
#include "transfers/TransferQueueManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <string>

namespace
{
constexpr int EntriesPerMinute = 3000;
constexpr int TimedInserts = 1000;

int Seconds(const QStringList& i_arguments)
{
    const qsizetype l_at = i_arguments.indexOf("--seconds");
    return l_at >= 0 && l_at + 1 < i_arguments.size() ? i_arguments.at(l_at + 1).toInt() : 120;
}
}  // namespace

int main(int i_argc, char** ip_argv)
{
    QCoreApplication l_application(i_argc, ip_argv);
    const int l_seconds = Seconds(l_application.arguments());
    QTemporaryDir l_folder;
    const QString l_filePath = l_folder.filePath("song.mp3");
    QFile l_file(l_filePath);
    if (!l_file.open(QIODevice::WriteOnly) || l_file.write("x") != 1)
        return 1;
    l_file.close();

    TransferBenchWorld l_world("me", l_folder.filePath("downloads"));
    TransferQueueManager& l_manager = l_world.Manager();
    const std::string l_path = TransferBenchWorld::ShareFile(l_filePath);
    TransferBenchWorld::MeetUser("runner", 1);
    l_manager.OnQueueUploadRequested("runner", l_path);

    int l_nextUser = 0;
    auto l_request = [&] { l_manager.OnQueueUploadRequested("flood" + std::to_string(l_nextUser++), l_path); };

    QTimer l_arrivals;
    l_arrivals.setInterval(60000 / EntriesPerMinute);
    QObject::connect(&l_arrivals, &QTimer::timeout, l_request);
    QElapsedTimer l_wall;
    const double l_cpuBefore = ThreadCpuMs();
    l_wall.start();
    l_arrivals.start();
    QTimer::singleShot(l_seconds * 1000, &l_application, &QCoreApplication::quit);
    l_application.exec();
    l_arrivals.stop();
    const double l_cpuPct = 100.0 * (ThreadCpuMs() - l_cpuBefore) / double(l_wall.elapsed());
    std::printf("upload_queue_flood_cpu_pct %.2f\n", l_cpuPct);

    while (l_manager.QueuedUploadCount() < int(TransferQueueManager::MaxQueuedUploads))
        l_request();
    QElapsedTimer l_timer;
    l_timer.start();
    for (int l_index = 0; l_index < TimedInserts; ++l_index)
        l_request();
    std::printf("upload_queue_insert_us %.1f\n", double(l_timer.nsecsElapsed()) / 1000.0 / TimedInserts);
    std::fprintf(stderr, "queued at the end: %d\n", l_manager.QueuedUploadCount());
    return 0;
}
