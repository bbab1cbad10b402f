// A client under hostile peers for ten minutes (--minutes N for another
// length) beside one honest downloader, one figure a line, name first:
//
//   hostile_listings_per_s, hostile_garbage_per_s, hostile_queue_requests_per_s,
//   hostile_logged_in_per_s     the rates of the four kinds (connections a
//                               second; see HostilePeers.h)
//   hostile_connections         connections the hostile peers made in all
//   hostile_honest_downloads    downloads the honest user finished
//   hostile_rss_first_minute_mb the client's resident memory after the
//                               first minute
//   hostile_rss_ten_minutes_mb  the same at the end of the run
//   hostile_rss_growth_mb       the second less the first
//
// The client is this process's own services (store, peer layer, shares,
// transfer manager) sharing 4,000 small files; the honest downloader is a
// second process of this program (--honest) that fetches them one after
// another.
// Resident memory after each minute goes to standard error.
//
// With --bound, the runs at the client's connection bound instead (see
// BoundRuns.h); with --answers, the run of peers that answer the client's
// relayed requests (see AnswersRun.h).

#include "AnswersRun.h"
#include "BenchLines.h"
#include "BoundRuns.h"
#include "HostilePeers.h"
#include "TransferBenchWorld.h"

#include "core/store/Data.h"
#include "transfers/TransferQueueManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace
{
using BenchLines::LastFigure;
using BenchLines::Option;
using BenchLines::Print;

// The shared files: the honest user fetches them in turn, a new one each
// time. It takes CompleteDownloadAdded for the end of a download, and the
// same file from the same user finishing again into the same folder makes no
// second finished-download record, so no signal: the download completes, but
// the honest user would wait for ever.
constexpr int SharedFiles = 4000;
constexpr qint64 FileSize = 16 * 1024;
// The honest user's pause between one download's end and the next.
constexpr int HonestPauseMs = 200;

double ResidentMb()
{
    std::ifstream l_statm("/proc/self/statm");
    long l_pages = 0;
    long l_resident = 0;
    l_statm >> l_pages >> l_resident;
    return double(l_resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

QString SharedName(int i_index)
{
    return QString("song %1.mp3").arg(i_index);
}

// The honest downloader: fetches the shared files from "me" at the port in
// turn, removing what it got, until it is ended. Prints its own port first,
// then the count after every download.
int Honest(const QStringList& i_arguments)
{
    const quint16 l_port = quint16(Option(i_arguments, "--honest", "0").toUInt());
    const std::string l_folder = Option(i_arguments, "--folder", QString()).toStdString();
    QTemporaryDir l_downloads;
    TransferBenchWorld l_world("honest", l_downloads.path());
    TransferBenchWorld::MeetUser("me", l_port);
    std::printf("port %u\n", unsigned(l_world.PeerPort()));
    std::fflush(stdout);

    TransferQueueManager& l_manager = l_world.Manager();
    int l_count = 0;
    auto l_name = [&] { return SharedName(l_count % SharedFiles).toStdString(); };
    auto l_fetch = [&] { l_manager.AddDownload("me", l_name(), l_folder, FileSize, 0); };
    QObject::connect(&l_manager, &TransferQueueManager::CompleteDownloadAdded, [&](ItemPtr i_record) {
        QFile::remove(QString::fromStdString(i_record["complete_download_folder"].AsString() + "/" +
                                             i_record["complete_download_filename"].AsString()));
        l_manager.RemoveDownload(l_manager.GetDownloadEntry("me", l_name(), l_folder));
        std::printf("downloads %d\n", ++l_count);
        std::fflush(stdout);
        QTimer::singleShot(HonestPauseMs, l_fetch);
    });
    l_fetch();
    return QCoreApplication::exec();
}

int Attacked(const QStringList& i_arguments)
{
    const int l_minutes = Option(i_arguments, "--minutes", "10").toInt();
    QTemporaryDir l_folder;
    const QString l_shared = l_folder.filePath("shared");
    QDir().mkpath(l_shared);
    TransferBenchWorld l_world("me", l_folder.filePath("downloads"));
    std::string l_sharedPath;
    for (int l_index = 0; l_index < SharedFiles; ++l_index) {
        QFile l_file(l_shared + "/" + SharedName(l_index));
        if (!l_file.open(QIODevice::WriteOnly) || l_file.write(QByteArray(FileSize, 'x')) != FileSize)
            return 1;
        l_file.close();
        l_sharedPath = TransferBenchWorld::ShareFile(l_file.fileName());
    }
    for (int l_user = 0; l_user < HostilePeers::LoggedInUsers; ++l_user)
        TransferBenchWorld::MeetUser(HostilePeers::LoggedInUser(l_user), 1);
    // A search of ours that the logged-in kinds answer.
    const quint32 l_token = 1;
    d.GetType("search_request")->NewItem(Value(l_token));

    QProcess l_honest;
    l_honest.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QString l_honestOutput;
    QObject::connect(&l_honest, &QProcess::readyReadStandardOutput,
                     [&] { l_honestOutput += QString::fromUtf8(l_honest.readAllStandardOutput()); });
    l_honest.start(QCoreApplication::applicationFilePath(),
                   {"--honest", QString::number(l_world.PeerPort()), "--folder", l_shared});
    QElapsedTimer l_wait;
    l_wait.start();
    while (LastFigure(l_honestOutput, "port").isEmpty() && l_wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (LastFigure(l_honestOutput, "port").isEmpty())
        return 1;
    TransferBenchWorld::MeetUser("honest", quint16(LastFigure(l_honestOutput, "port").toUInt()));

    HostilePeers l_peers(l_world.PeerPort(), l_sharedPath, l_token);
    l_peers.Start();
    double l_firstMinuteMb = 0;
    int l_minute = 0;
    QTimer l_everyMinute;
    QObject::connect(&l_everyMinute, &QTimer::timeout, [&] {
        const double l_rss = ResidentMb();
        if (++l_minute == 1)
            l_firstMinuteMb = l_rss;
        std::fprintf(stderr, "minute %d: resident %.1f MB, honest downloads %s, hostile connections %lld\n", l_minute,
                     l_rss, qPrintable(LastFigure(l_honestOutput, "downloads")), (long long)l_peers.Connections());
        if (l_minute == l_minutes)
            QCoreApplication::quit();
    });
    l_everyMinute.start(60000);
    QCoreApplication::exec();
    const double l_endMb = ResidentMb();
    l_peers.Stop();
    l_honest.kill();
    l_honest.waitForFinished(10000);

    Print("hostile_listings_per_s", HostilePeers::ListingsPerSecond);
    Print("hostile_garbage_per_s", HostilePeers::GarbagePerSecond);
    Print("hostile_queue_requests_per_s", HostilePeers::QueueRequestsPerSecond);
    Print("hostile_logged_in_per_s", HostilePeers::LoggedInPerSecond);
    Print("hostile_connections", double(l_peers.Connections()));
    Print("hostile_honest_downloads", LastFigure(l_honestOutput, "downloads").toDouble());
    Print("hostile_rss_first_minute_mb", l_firstMinuteMb);
    Print("hostile_rss_ten_minutes_mb", l_endMb);
    Print("hostile_rss_growth_mb", l_endMb - l_firstMinuteMb);
    return 0;
}
}  // namespace

int main(int i_argc, char** ip_argv)
{
    QCoreApplication l_application(i_argc, ip_argv);
    const QStringList l_arguments = l_application.arguments();
    if (l_arguments.contains("--honest"))
        return Honest(l_arguments);
    if (l_arguments.contains("--bound-peers"))
        return BoundRuns::Peers(l_arguments);
    if (l_arguments.contains("--bound-run"))
        return BoundRuns::Client(l_arguments);
    if (l_arguments.contains("--bound"))
        return BoundRuns::All(l_arguments);
    if (l_arguments.contains("--answers-peers"))
        return AnswersRun::Peers(l_arguments);
    if (l_arguments.contains("--answers"))
        return AnswersRun::Client(l_arguments);
    return Attacked(l_arguments);
}
