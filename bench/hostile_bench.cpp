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
// With --bound, eleven runs of about 90 s (--seconds N for another length;
// --bound-run NAME for one of them) at the client's connection bound
// instead, each a client process of its own with its peers in a third (see
// BoundPeers.h and BoundHostile.h):
//
//   bound_fill_honest_unanswered       honest peers that never had a reply
//                                      while 780 silent connections, each
//                                      from a network of its own, press on
//                                      the bound
//   bound_fill_honest_wait_max_s       the longest wait of one from the
//                                      start of its connection to the first
//                                      reply (an unanswered one counts its
//                                      wait until the end of the run)
//   bound_fill_honest_downloads_verified  the client's files that came to
//                                      the honest peers with their bytes
//                                      (one each; two each in shared)
//   bound_fill_cpu_pct                 the client's processor time over the
//                                      run, in percent of one core
//   bound_fill_cpu_max_5s_pct          the largest of the same over each
//                                      5 s of the run
//   bound_fill_file_connect_max_s      the longest time from an honest
//                                      peer's accepting the transfer to the
//                                      client's file connection reaching it
//                                      (one never reached counts until the
//                                      end of the run; -1 when none
//                                      accepted)
//   bound_keepalive_...                the same while 780 connections from
//                                      one address each speak every 29.5 s
//   bound_churn_...                    the same while 780 silent connections
//                                      from one address are each reopened
//                                      at once when closed
//   bound_pressure_...                 the same while 780 connections from
//                                      one address speak as in keepalive
//                                      and 300 more from it reconnect at
//                                      once whenever closed or refused
//   bound_spread_...                   the same while 60 connections from
//                                      each of 13 addresses of one network
//                                      speak as in keepalive
//   bound_many_...                     the same while 8 connections from
//                                      each of 96 networks of their own
//                                      (768, the whole bound) speak as in
//                                      keepalive
//   bound_relay_...                    the same but the wait for a first
//                                      reply, while keepalive's 780
//                                      connections hold the bound and a
//                                      user at an address of their network
//                                      has the server relay 10 requests a
//                                      second (a third of them for file
//                                      connections) for connections back to
//                                      a port that never accepts; the
//                                      honest peers there never connect to
//                                      the client, but have the server
//                                      relay requests of their own
//   bound_relay_connect_back_max_s     the longest time from an honest
//                                      peer's relayed request to the
//                                      client's connection back reaching it
//                                      (one never reached counts until the
//                                      end of the run)
//   bound_relaynets_...                the same as relay's, but with no
//                                      connections held: nine users, each
//                                      at an address of a network of its
//                                      own (127.0.10.3 to 127.0.18.3), have
//                                      the server relay 5 requests a second
//                                      each for connections back to ports
//                                      that never accept
//   bound_shared_...                   the same as fill's while 4
//                                      connections from each of 192
//                                      networks of their own (768, the
//                                      whole bound) speak as in keepalive;
//                                      the client shares two files, each
//                                      honest peer fetching both, and
//                                      downloads two of each honest peer's
//                                      own, which listens on its address
//                                      for the client's connections and
//                                      keeps its messaging connection
//   bound_shared_our_downloads_verified  the client's downloads from the
//                                      honest peers that came with the
//                                      file's bytes (of 12)
//   bound_namesake_...                 the same as shared's, but with two
//                                      honest peers, each of a network of
//                                      its own: the first shares two files
//                                      that the client downloads (of 2),
//                                      the second fetches the client's two;
//                                      from the honest start on, 30
//                                      connections a second from 64 more
//                                      networks introduce themselves under
//                                      the first one's name and speak every
//                                      20 s, each for 60 s
//   bound_namesake_over_bound_max      the most connections the client
//                                      held above its bound (0 when never
//                                      above), counted in /proc: its
//                                      descriptors of TCP connections, its
//                                      listeners aside, every 100 ms
//   bound_claims_...                   the same as shared's while three
//                                      crowds from networks of their own
//                                      connect 15 times a second each: file
//                                      connections that say nothing after
//                                      introducing themselves, ones that
//                                      send a made-up transfer token, and
//                                      answers to relayed requests with
//                                      guessed tokens (RelayTokenGuesses.h);
//                                      the client logs in to the fake
//                                      central server
//   bound_claims_honest_file_connections_reset  the honest peers' file
//                                      connections to the client that ended
//                                      before their file went whole
//   bound_claims_token_hits            guessed answers on which the client
//                                      sent anything: it took them for
//                                      the connections it asked for
//
// In the relayed runs and claims the client's server link logs in to a fake
// central server in the peers' process, which relays the requests and
// answers the client's address lookups.
//
// Each honest peer's result, the hostile connections standing at the end
// and opened in all, the relayed runs' hostile requests delivered and the
// shared run's files the honest peers sent whole go to standard error, and
// so do each crowd's connections opened and taken (those the client sent
// anything on).
//
// Both sides raise their soft descriptor limit to the hard one: the peers
// hold 780 connections (1,080 under pressure), and the client's bound of 768 needs a limit of
// 1,024 at least.

#include "BoundCrowd.h"
#include "BoundHonestLines.h"
#include "BoundOurDownloads.h"
#include "BoundPeers.h"
#include "HostilePeers.h"
#include "ProcessConnections.h"
#include "TransferBenchWorld.h"

#include "core/store/Data.h"
#include "peer/PeerConnectionBudget.h"
#include "transfers/TransferQueueManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

namespace
{
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

QString Option(const QStringList& i_arguments, const QString& i_name, const QString& i_default)
{
    const qsizetype l_at = i_arguments.indexOf(i_name);
    return l_at >= 0 && l_at + 1 < i_arguments.size() ? i_arguments.at(l_at + 1) : i_default;
}

void Print(const char* ip_name, double i_value)
{
    std::printf("%s %.1f\n", ip_name, i_value);
    std::fflush(stdout);
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

QString LastFigure(const QString& i_output, const QString& i_name)
{
    QString l_value;
    for (const QString& l_line : i_output.split('\n')) {
        if (l_line.startsWith(i_name + ' '))
            l_value = l_line.mid(i_name.size() + 1).trimmed();
    }
    return l_value;
}

// The shared file of a bound run: small, one frame of the upload or two.
constexpr qint64 BoundFileSize = 64 * 1024;

void RaiseDescriptorLimit()
{
    rlimit l_limit{};
    if (::getrlimit(RLIMIT_NOFILE, &l_limit) == 0 && l_limit.rlim_cur < l_limit.rlim_max) {
        l_limit.rlim_cur = l_limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &l_limit);
    }
}

double ProcessCpuMs()
{
    rusage l_usage{};
    ::getrusage(RUSAGE_SELF, &l_usage);
    return (double(l_usage.ru_utime.tv_sec) + double(l_usage.ru_stime.tv_sec)) * 1000.0
           + (double(l_usage.ru_utime.tv_usec) + double(l_usage.ru_stime.tv_usec)) / 1000.0;
}

// How long a bound run's client waits for its peers to be ready: the
// relaynets run's check that its nine ports never accept takes 1.5 s each.
constexpr int PeersReadyMs = 30000;

// The line that tells the port where the client reaches an honest peer.
QString HonestPortLine(int i_index)
{
    return QString("honest_port_%1").arg(i_index);
}

// The peers of a bound run: prints where the client reaches each honest
// peer and the relayed runs' server port (0 in the other runs), then
// "ready"; runs for the given seconds, then prints a line for each honest
// peer (see BoundHonestLines.h), the hostile connections opened in all and
// connected at the end, and the relayed runs' hostile requests delivered.
int BoundPeersProcess(const QStringList& i_arguments)
{
    RaiseDescriptorLimit();
    const auto l_kind = BoundHostile::KindNamed(Option(i_arguments, "--bound-peers", "fill"));
    if (!l_kind)
        return 1;
    BoundPeers l_peers(*l_kind, quint16(Option(i_arguments, "--port", "0").toUInt()),
                       quint16(Option(i_arguments, "--obfuscated-port", "0").toUInt()),
                       Option(i_arguments, "--shared", QString()).toStdString(), BoundFileSize);
    if (!l_peers.Ready()) {
        std::fprintf(stderr, "the peers could not listen, or a connect to a never-accepting port did not hang\n");
        return 1;
    }
    const int l_seconds = Option(i_arguments, "--seconds", "90").toInt();
    std::printf("server_port %u\n", unsigned(l_peers.ServerPort()));
    for (int l_index = 0; l_index < BoundPeers::HonestPeers(*l_kind); ++l_index)
        std::printf("%s %u\n", qPrintable(HonestPortLine(l_index)), unsigned(l_peers.HonestPort(l_index)));
    std::printf("ready 1\n");
    std::fflush(stdout);
    // The client's connections are counted here, where counting costs the
    // client nothing.
    ProcessConnections l_client(Option(i_arguments, "--client-pid", "0").toLongLong(), l_peers.ServerPort());
    if (*l_kind == BoundHostile::Kind::Namesake)
        l_client.Start();
    l_peers.Start();
    QTimer::singleShot(l_seconds * 1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    BoundHonestLines::Print(l_peers.Results());
    std::printf("hostile_opened %lld\n", (long long)l_peers.Hostile().Opened());
    std::printf("hostile_connected %d\n", l_peers.Hostile().Connected());
    std::printf("hostile_relayed %lld\n", (long long)l_peers.RelayedHostileRequests());
    std::printf("client_relay_requests %lld\n", (long long)l_peers.ClientRelayRequests());
    std::printf("client_connections_max %d\n", l_client.Max());
    for (const auto& lp_crowd : l_peers.Crowds())
        std::printf("crowd_%s %lld %lld\n", lp_crowd->Name(), (long long)lp_crowd->Opened(),
                    (long long)lp_crowd->Taken());
    std::fflush(stdout);
    return 0;
}

// One bound run: the client's services here, its peers in a child process.
int BoundRun(const QStringList& i_arguments)
{
    RaiseDescriptorLimit();
    const QString l_run = Option(i_arguments, "--bound-run", "fill");
    const auto l_kind = BoundHostile::KindNamed(l_run);
    if (!l_kind) {
        std::fprintf(stderr, "no bound run named %s\n", qPrintable(l_run));
        return 1;
    }
    const int l_seconds = Option(i_arguments, "--seconds", "90").toInt();
    QTemporaryDir l_folder;
    const QString l_shared = l_folder.filePath("shared");
    QDir().mkpath(l_shared);
    const QByteArray l_bytes = BoundPeers::FileBytes(BoundFileSize);
    TransferBenchWorld l_world(BoundPeers::ClientUser, l_folder.filePath("downloads"));
    std::string l_sharedFolder;
    for (int l_index = 0; l_index < BoundPeers::ClientFiles(*l_kind); ++l_index) {
        QFile l_file(l_shared + "/" + QString::fromStdString(BoundPeers::ClientFileName(l_index)));
        if (!l_file.open(QIODevice::WriteOnly) || l_file.write(l_bytes) != l_bytes.size())
            return 1;
        l_file.close();
        const std::string l_path = TransferBenchWorld::ShareFile(l_file.fileName());
        l_sharedFolder = l_path.substr(0, l_path.rfind('/'));
    }

    QProcess l_peers;
    l_peers.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QString l_output;
    QObject::connect(&l_peers, &QProcess::readyReadStandardOutput,
                     [&] { l_output += QString::fromUtf8(l_peers.readAllStandardOutput()); });
    QObject::connect(&l_peers, &QProcess::finished, [] { QCoreApplication::quit(); });
    l_peers.start(QCoreApplication::applicationFilePath(),
                  {"--bound-peers", l_run, "--port", QString::number(l_world.PeerPort()), "--obfuscated-port",
                   QString::number(l_world.ObfuscatedPeerPort()), "--shared", QString::fromStdString(l_sharedFolder),
                   "--seconds", QString::number(l_seconds), "--client-pid",
                   QString::number(QCoreApplication::applicationPid())});
    QElapsedTimer l_wait;
    l_wait.start();
    while (LastFigure(l_output, "ready").isEmpty() && l_peers.state() != QProcess::NotRunning
           && l_wait.elapsed() < PeersReadyMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (LastFigure(l_output, "ready").isEmpty()) {
        std::fprintf(stderr, "%s: the peers were not ready\n", qPrintable(l_run));
        return 1;
    }
    const bool l_relayed = BoundPeers::Relayed(*l_kind);
    const int l_honestPeers = BoundPeers::HonestPeers(*l_kind);
    // The server tells of the honest peers, and relays their requests.
    if (BoundPeers::LogsIn(*l_kind) && !l_world.LogIn(quint16(LastFigure(l_output, "server_port").toUInt()))) {
        std::fprintf(stderr, "%s: the client could not log in to the peers' server\n", qPrintable(l_run));
        return 1;
    }
    bool l_anyShares = false;
    for (int l_index = 0; l_index < l_honestPeers && !l_relayed; ++l_index) {
        TransferBenchWorld::MeetUser(BoundPeers::HonestUser(l_index),
                                     quint16(LastFigure(l_output, HonestPortLine(l_index)).toUInt()),
                                     BoundPeers::OwnListeners(*l_kind)
                                         ? BoundPeers::HonestAddress(*l_kind, l_index)
                                         : QHostAddress(QHostAddress::LocalHost).toIPv4Address());
        l_anyShares = l_anyShares || BoundPeers::Shares(*l_kind, l_index);
    }
    std::optional<BoundOurDownloads> l_ours;
    if (l_anyShares)
        l_ours.emplace(*l_kind, l_world.Manager(), l_bytes);

    const double l_cpuBefore = ProcessCpuMs();
    QElapsedTimer l_wall;
    l_wall.start();
    // The largest share of one 5-s stretch: a burst that the run's average
    // would hide.
    double l_cpuMax5sPct = 0;
    double l_cpuAtSample = l_cpuBefore;
    qint64 l_wallAtSample = 0;
    QTimer l_sampler;
    l_sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&l_sampler, &QTimer::timeout, [&] {
        const double l_cpu = ProcessCpuMs();
        const qint64 l_now = l_wall.elapsed();
        l_cpuMax5sPct = std::max(l_cpuMax5sPct, 100.0 * (l_cpu - l_cpuAtSample) / double(l_now - l_wallAtSample));
        l_cpuAtSample = l_cpu;
        l_wallAtSample = l_now;
    });
    l_sampler.start(5000);
    QTimer::singleShot((l_seconds + 30) * 1000, [] { QCoreApplication::quit(); });
    if (l_peers.state() != QProcess::NotRunning)
        QCoreApplication::exec();
    const double l_cpuPct = 100.0 * (ProcessCpuMs() - l_cpuBefore) / double(std::max<qint64>(1, l_wall.elapsed()));
    l_sampler.stop();
    l_peers.kill();
    l_peers.waitForFinished(10000);
    l_output += QString::fromUtf8(l_peers.readAllStandardOutput());

    const BoundHonestLines::Figures l_honest = BoundHonestLines::Read(l_output, l_run, l_seconds);
    if (l_honest.m_reported != l_honestPeers) {
        std::fprintf(stderr, "%s: the peers reported %d honest peers of %d\n", qPrintable(l_run), l_honest.m_reported,
                     l_honestPeers);
        return 1;
    }
    const std::string l_prefix = "bound_" + l_run.toStdString() + "_";
    Print((l_prefix + "honest_unanswered").c_str(), l_honest.m_unanswered);
    // The relayed runs' peers never connect: their wait is the connection
    // back's.
    if (l_relayed)
        Print((l_prefix + "connect_back_max_s").c_str(), l_honest.m_connectBackMaxS);
    else
        Print((l_prefix + "honest_wait_max_s").c_str(), l_honest.m_waitMaxS);
    Print((l_prefix + "honest_downloads_verified").c_str(), l_honest.m_verified);
    Print((l_prefix + "cpu_pct").c_str(), l_cpuPct);
    Print((l_prefix + "cpu_max_5s_pct").c_str(), l_cpuMax5sPct);
    Print((l_prefix + "file_connect_max_s").c_str(), l_honest.m_fileConnectMaxS);
    if (l_ours)
        Print((l_prefix + "our_downloads_verified").c_str(), l_ours->Verified());
    if (*l_kind == BoundHostile::Kind::Namesake) {
        const int l_most = LastFigure(l_output, "client_connections_max").toInt();
        if (l_most < 0) {
            std::fprintf(stderr, "%s: the client's connections could not be counted\n", qPrintable(l_run));
            return 1;
        }
        Print((l_prefix + "over_bound_max").c_str(),
              std::max(0.0, double(l_most) - double(PeerConnectionBudget::Bound())));
    }
    if (*l_kind == BoundHostile::Kind::Claims) {
        Print((l_prefix + "honest_file_connections_reset").c_str(), l_honest.m_cut);
        Print((l_prefix + "token_hits").c_str(), LastFigure(l_output, "crowd_answer").section(' ', 1, 1).toDouble());
        std::fprintf(stderr, "%s: the client's requests for connections back %s\n", qPrintable(l_run),
                     qPrintable(LastFigure(l_output, "client_relay_requests")));
    }
    std::fprintf(stderr, "%s: hostile connections connected at the end %s, opened in all %s\n", qPrintable(l_run),
                 qPrintable(LastFigure(l_output, "hostile_connected")),
                 qPrintable(LastFigure(l_output, "hostile_opened")));
    if (l_relayed)
        std::fprintf(stderr, "%s: hostile relayed requests delivered %s\n", qPrintable(l_run),
                     qPrintable(LastFigure(l_output, "hostile_relayed")));
    if (l_anyShares)
        std::fprintf(stderr, "%s: honest peers' files sent whole %d\n", qPrintable(l_run), l_honest.m_sent);
    for (const char* lp_crowd : {"namesake", "bare", "token", "answer"}) {
        const QString l_crowd = LastFigure(l_output, QString("crowd_") + lp_crowd);
        if (!l_crowd.isEmpty())
            std::fprintf(stderr, "%s: crowd %s opened %s, taken %s\n", qPrintable(l_run), lp_crowd,
                         qPrintable(l_crowd.section(' ', 0, 0)), qPrintable(l_crowd.section(' ', 1, 1)));
    }
    return 0;
}

// The bound runs, one after the other, each in a process of its own. A run
// that has not ended well after its length (the peers' start, the run, the
// client's wait for them and its shut-down) is ended and counts as failed.
int Bound(const QStringList& i_arguments)
{
    const QString l_seconds = Option(i_arguments, "--seconds", "90");
    constexpr int SlackS = 180;
    int l_status = 0;
    for (const char* lp_run : BoundHostile::KindNames) {
        QProcess l_run;
        l_run.setProcessChannelMode(QProcess::ForwardedChannels);
        l_run.start(QCoreApplication::applicationFilePath(), {"--bound-run", lp_run, "--seconds", l_seconds});
        if (!l_run.waitForFinished((l_seconds.toInt() + SlackS) * 1000)) {
            std::fprintf(stderr, "%s: the run did not end; ended\n", lp_run);
            l_run.kill();
            l_run.waitForFinished(10000);
            l_status = 1;
            continue;
        }
        l_status = std::max(l_status, l_run.exitStatus() == QProcess::NormalExit ? l_run.exitCode() : 1);
    }
    return l_status;
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
        return BoundPeersProcess(l_arguments);
    if (l_arguments.contains("--bound-run"))
        return BoundRun(l_arguments);
    if (l_arguments.contains("--bound"))
        return Bound(l_arguments);
    return Attacked(l_arguments);
}
