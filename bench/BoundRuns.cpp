#include "BoundRuns.h"

#include "BenchLines.h"
#include "BoundCrowd.h"
#include "BoundHonestLines.h"
#include "BoundOurDownloads.h"
#include "BoundPeers.h"
#include "PeersProcess.h"
#include "ProcessConnections.h"
#include "TransferBenchWorld.h"

#include "peer/PeerConnectionBudget.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

namespace BoundRuns
{
namespace
{
using BenchLines::LastFigure;
using BenchLines::Option;
using BenchLines::Print;

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

// A run's length for the seconds asked: filefill's crowd comes for three
// minutes, and the run goes on half a minute after it.
int RunSeconds(BoundHostile::Kind i_kind, int i_asked)
{
    if (i_kind != BoundHostile::Kind::FileFill)
        return i_asked;
    return std::max(i_asked, BoundCrowd::FileFillOpeningMs / 1000 + 30);
}

}  // namespace

// The peers of a bound run: prints where the client reaches each honest
// peer and the relayed runs' server port (0 in the other runs), then
// "ready"; runs for the given seconds, then prints a line for each honest
// peer (see BoundHonestLines.h), the hostile connections opened in all and
// connected at the end, and the relayed runs' hostile requests delivered.
int Peers(const QStringList& i_arguments)
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
    const qint64 l_clientPid = Option(i_arguments, "--client-pid", "0").toLongLong();
    ProcessConnections l_client(l_clientPid, l_peers.ServerPort());
    if (*l_kind == BoundHostile::Kind::Namesake)
        l_client.Start();
    // The filefill crowd's connections that the client holds: each waits
    // for a token that never comes.
    ProcessConnections l_crowdHeld(l_clientPid, 0, BoundCrowd::FileFillAddress());
    if (*l_kind == BoundHostile::Kind::FileFill)
        l_crowdHeld.Start();
    l_peers.Start();
    QTimer::singleShot(l_seconds * 1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    BoundHonestLines::Print(l_peers.Results());
    std::printf("hostile_opened %lld\n", (long long)l_peers.Hostile().Opened());
    std::printf("hostile_connected %d\n", l_peers.Hostile().Connected());
    std::printf("hostile_relayed %lld\n", (long long)l_peers.RelayedHostileRequests());
    std::printf("client_relay_requests %lld\n", (long long)l_peers.ClientRelayRequests());
    std::printf("ended_token_guesses %lld\n", (long long)l_peers.EndedTokenGuesses());
    std::printf("client_connections_max %d\n", l_client.Max());
    std::printf("client_crowd_connections_max %d\n", l_crowdHeld.Max());
    for (const auto& lp_crowd : l_peers.Crowds())
        std::printf("crowd_%s %lld %lld\n", lp_crowd->Name(), (long long)lp_crowd->Opened(),
                    (long long)lp_crowd->Taken());
    std::fflush(stdout);
    return 0;
}

// One bound run: the client's services here, its peers in a child process.
int Client(const QStringList& i_arguments)
{
    RaiseDescriptorLimit();
    const QString l_run = Option(i_arguments, "--bound-run", "fill");
    const auto l_kind = BoundHostile::KindNamed(l_run);
    if (!l_kind) {
        std::fprintf(stderr, "no bound run named %s\n", qPrintable(l_run));
        return 1;
    }
    const int l_seconds = RunSeconds(*l_kind, Option(i_arguments, "--seconds", "90").toInt());
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

    PeersProcess l_peers({"--bound-peers", l_run, "--port", QString::number(l_world.PeerPort()),
                          "--obfuscated-port", QString::number(l_world.ObfuscatedPeerPort()), "--shared",
                          QString::fromStdString(l_sharedFolder), "--seconds", QString::number(l_seconds),
                          "--client-pid", QString::number(QCoreApplication::applicationPid())});
    if (!l_peers.WaitReady(PeersReadyMs)) {
        std::fprintf(stderr, "%s: the peers were not ready\n", qPrintable(l_run));
        return 1;
    }
    const bool l_relayed = BoundPeers::Relayed(*l_kind);
    const int l_honestPeers = BoundPeers::HonestPeers(*l_kind);
    // The server tells of the honest peers, and relays their requests.
    if (BoundPeers::LogsIn(*l_kind) && !l_world.LogIn(quint16(l_peers.Figure("server_port").toUInt()))) {
        std::fprintf(stderr, "%s: the client could not log in to the peers' server\n", qPrintable(l_run));
        return 1;
    }
    bool l_anyShares = false;
    for (int l_index = 0; l_index < l_honestPeers && !l_relayed; ++l_index) {
        TransferBenchWorld::MeetUser(BoundPeers::HonestUser(l_index),
                                     quint16(l_peers.Figure(HonestPortLine(l_index)).toUInt()),
                                     BoundPeers::HonestAddress(*l_kind, l_index));
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
    l_peers.RunToEnd((l_seconds + 30) * 1000);
    const double l_cpuPct = 100.0 * (ProcessCpuMs() - l_cpuBefore) / double(std::max<qint64>(1, l_wall.elapsed()));
    l_sampler.stop();
    const QString& l_output = l_peers.Output();

    const BoundHonestLines::Figures l_honest =
        BoundHonestLines::Read(l_output, l_run, l_seconds, BoundPeers::HonestStartMs(*l_kind));
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
    if (l_ours) {
        Print((l_prefix + "our_downloads_verified").c_str(), l_ours->Verified());
        // Where each download that did not come stopped at its peer's end.
        for (const BoundHonestLines::FileLine& l_file : l_honest.m_files) {
            if (l_ours->IsVerified(l_file.m_peer, l_file.m_file))
                continue;
            std::printf("detail %sunverified_download peer=%d file=%d queue_requests_read=%d offers_made=%d "
                        "answers_read=%d\n",
                        l_prefix.c_str(), l_file.m_peer, l_file.m_file, l_file.m_record.m_queueRequestsRead,
                        l_file.m_record.m_offersMade, l_file.m_record.m_answersRead);
        }
        std::fflush(stdout);
    }
    if (*l_kind == BoundHostile::Kind::Namesake) {
        const int l_most = LastFigure(l_output, "client_connections_max").toInt();
        if (l_most < 0) {
            std::fprintf(stderr, "%s: the client's connections could not be counted\n", qPrintable(l_run));
            return 1;
        }
        Print((l_prefix + "over_bound_max").c_str(),
              std::max(0.0, double(l_most) - double(PeerConnectionBudget::Bound())));
    }
    if (*l_kind == BoundHostile::Kind::FileFill) {
        const int l_most = LastFigure(l_output, "client_crowd_connections_max").toInt();
        if (l_most < 0) {
            std::fprintf(stderr, "%s: the client's connections could not be counted\n", qPrintable(l_run));
            return 1;
        }
        Print((l_prefix + "waiting_file_connections_max").c_str(), l_most);
    }
    if (*l_kind == BoundHostile::Kind::Claims) {
        Print((l_prefix + "honest_file_connections_reset").c_str(), l_honest.m_cut);
        Print((l_prefix + "token_hits").c_str(), LastFigure(l_output, "crowd_answer").section(' ', 1, 1).toDouble());
        std::fprintf(stderr, "%s: the client's requests for connections back %s, guesses among ended ones' tokens %s\n",
                     qPrintable(l_run), qPrintable(LastFigure(l_output, "client_relay_requests")),
                     qPrintable(LastFigure(l_output, "ended_token_guesses")));
    }
    std::fprintf(stderr, "%s: hostile connections connected at the end %s, opened in all %s\n", qPrintable(l_run),
                 qPrintable(LastFigure(l_output, "hostile_connected")),
                 qPrintable(LastFigure(l_output, "hostile_opened")));
    if (l_relayed)
        std::fprintf(stderr, "%s: hostile relayed requests delivered %s\n", qPrintable(l_run),
                     qPrintable(LastFigure(l_output, "hostile_relayed")));
    if (l_anyShares)
        std::fprintf(stderr, "%s: honest peers' files sent whole %d\n", qPrintable(l_run), l_honest.m_sent);
    for (const char* lp_crowd : {"namesake", "bare", "flood", "token", "answer", "filefill"}) {
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
int All(const QStringList& i_arguments)
{
    const QString l_seconds = Option(i_arguments, "--seconds", "90");
    constexpr int SlackS = 180;
    int l_status = 0;
    for (const char* lp_run : BoundHostile::KindNames) {
        QProcess l_run;
        l_run.setProcessChannelMode(QProcess::ForwardedChannels);
        l_run.start(QCoreApplication::applicationFilePath(), {"--bound-run", lp_run, "--seconds", l_seconds});
        const int l_runSeconds = RunSeconds(*BoundHostile::KindNamed(lp_run), l_seconds.toInt());
        if (!l_run.waitForFinished((l_runSeconds + SlackS) * 1000)) {
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
}  // namespace BoundRuns
