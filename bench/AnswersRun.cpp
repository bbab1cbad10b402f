#include "AnswersRun.h"

#include "AnswerPeer.h"
#include "BenchLines.h"
#include "BenchPeerWire.h"
#include "BoundOurDownloads.h"
#include "BoundPeers.h"
#include "FakeCentralServer.h"
#include "PeersProcess.h"
#include "TransferBenchWorld.h"

#include "peer/PeerMessenger.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace AnswersRun
{
namespace
{
using BenchLines::Option;
using BenchLines::Print;

constexpr int RelayAnswering = 6;
constexpr int PeerCount = RelayAnswering + 1;
// After those, peers behind another address: the server gives one of their
// network where nothing listens, and they listen, and connect, from
// another.
constexpr int Elsewhere = 2;
constexpr int AllPeers = PeerCount + Elsewhere;
constexpr qint64 FileSize = 64 * 1024;
constexpr int PeersReadyMs = 10000;
// The peers behind another address browse the client this long after the
// server saw it logged in: the client then asks the server for addresses.
constexpr int BrowseAfterLoginMs = 1000;

bool IsElsewhere(int i_index)
{
    return i_index >= PeerCount;
}

// Where the peer listens and connects from.
quint32 PeerAddress(int i_index)
{
    return IsElsewhere(i_index) ? BenchPeerWire::Loopback(0, 2, 14 + i_index - PeerCount)
                                : BenchPeerWire::Loopback(0, 1, 100 + i_index);
}

// The address the server gives for the peer.
quint32 GivenAddress(int i_index)
{
    return IsElsewhere(i_index) ? BenchPeerWire::Loopback(0, 2, 5 + i_index - PeerCount) : PeerAddress(i_index);
}

// The sum of a figure of each peer, over the first ones or over those
// behind another address.
int SumOf(bool i_elsewhere, const std::function<int(int)>& i_figure)
{
    int l_sum = 0;
    for (int l_index = i_elsewhere ? PeerCount : 0; l_index < (i_elsewhere ? AllPeers : PeerCount); ++l_index)
        l_sum += i_figure(l_index);
    return l_sum;
}
}  // namespace

int Peers(const QStringList& i_arguments)
{
    const quint16 l_clientPort = quint16(Option(i_arguments, "--port", "0").toUInt());
    const std::string l_clientFolder = Option(i_arguments, "--folder", "").toStdString();
    const QByteArray l_bytes = BoundPeers::FileBytes(FileSize);
    FakeCentralServer l_server;
    // The client hears nothing back from the server on a relayed request:
    // the peers answer it, or nobody does.
    l_server.SetSilentOnAbsentRelays(true);
    std::vector<std::unique_ptr<AnswerPeer>> l_peers;
    bool l_ready = l_server.Start();
    for (int l_index = 0; l_index < AllPeers; ++l_index) {
        const auto l_role = l_index == RelayAnswering ? AnswerPeer::Role::ResetsFirst : AnswerPeer::Role::AnswersRelays;
        l_peers.push_back(std::make_unique<AnswerPeer>(l_index, PeerAddress(l_index), l_role, l_clientPort, l_bytes));
        l_ready = l_ready && l_peers.back()->Listening();
        FakeCentralServer::KnownUser l_user;
        l_user.m_address = GivenAddress(l_index);
        l_user.m_port = l_peers.back()->Port();
        l_server.AddKnownUser(BoundPeers::HonestUser(l_index), l_user);
    }
    if (!l_ready) {
        std::fprintf(stderr, "answers: the server or a peer could not listen\n");
        return 1;
    }
    QObject::connect(&l_server, &FakeCentralServer::RelayedToKnownUser,
                     [&l_peers](const QString& i_user, const QByteArray& i_request) {
                         for (int l_index = 0; l_index < AllPeers; ++l_index) {
                             if (i_user.toStdString() == BoundPeers::HonestUser(l_index))
                                 l_peers[std::size_t(l_index)]->OnRelayed(i_request);
                         }
                     });
    bool l_browsing = false;
    QObject::connect(&l_server, &FakeCentralServer::MessageReceived, [&] {
        if (l_browsing || !l_server.IsLoggedIn(BoundPeers::ClientUser))
            return;
        l_browsing = true;
        QTimer::singleShot(BrowseAfterLoginMs, &l_server, [&l_peers, l_clientFolder] {
            for (int l_index = PeerCount; l_index < AllPeers; ++l_index)
                l_peers[std::size_t(l_index)]->Browse(l_clientFolder);
        });
    });
    std::printf("server_port %u\nready 1\n", unsigned(l_server.Port()));
    std::fflush(stdout);
    QTimer::singleShot(Option(i_arguments, "--seconds", "90").toInt() * 1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    int l_most = 0;
    int l_closed = 0;
    int l_replies = 0;
    for (int l_index = 0; l_index < AllPeers; ++l_index) {
        const AnswerPeer& l_peer = *l_peers[std::size_t(l_index)];
        std::fprintf(stderr, "answers: %s\n", qPrintable(l_peer.Summary()));
        if (IsElsewhere(l_index)) {
            l_replies += l_peer.RepliesReceived();
            continue;
        }
        l_most = std::max(l_most, l_peer.RequestsMax());
        l_closed += l_peer.AnswersClosed();
    }
    std::printf("requests_max %d\nanswers_closed %d\nelsewhere_replies %d\n", l_most, l_closed, l_replies);
    std::fflush(stdout);
    return 0;
}

int Client(const QStringList& i_arguments)
{
    const int l_seconds = Option(i_arguments, "--seconds", "90").toInt();
    QTemporaryDir l_folder;
    TransferBenchWorld l_world(BoundPeers::ClientUser, l_folder.filePath("downloads"));
    // What the peers behind another address browse: a folder of one file.
    const QString l_shared = l_folder.filePath("shared");
    TransferBenchWorld::ShareFile(l_shared + "/answers.bin");
    PeersProcess l_peers({"--answers-peers", "--port", QString::number(l_world.PeerPort()), "--seconds",
                          QString::number(l_seconds), "--folder", l_shared});
    if (!l_peers.WaitReady(PeersReadyMs)) {
        std::fprintf(stderr, "answers: the peers were not ready\n");
        return 1;
    }
    if (!l_world.LogIn(quint16(l_peers.Figure("server_port").toUInt()))) {
        std::fprintf(stderr, "answers: the client could not log in to the peers' server\n");
        return 1;
    }
    std::set<std::string> l_browsed;
    QObject::connect(peerMessenger, &PeerMessenger::UserShare,
                     [&l_browsed](std::string i_user, FileInfoMap&, AttributeTranslationTable&) {
                         l_browsed.insert(i_user);
                     });
    BoundOurDownloads l_ours(l_world.Manager(), BoundPeers::FileBytes(FileSize));
    // The server tells where each peer is once asked: nothing is known of
    // them before.
    for (int l_index = 0; l_index < AllPeers; ++l_index) {
        peerMessenger->GetUserSharedFiles(BoundPeers::HonestUser(l_index));
        l_ours.QueueFrom(l_index);
    }
    l_peers.RunToEnd((l_seconds + 30) * 1000);
    const QString l_most = l_peers.Figure("requests_max");
    if (l_most.isEmpty()) {
        std::fprintf(stderr, "answers: the peers reported nothing\n");
        return 1;
    }
    auto l_verified = [&l_ours](int i_index) { return l_ours.VerifiedFrom(i_index); };
    auto l_browseAnswered = [&l_browsed](int i_index) { return int(l_browsed.count(BoundPeers::HonestUser(i_index))); };
    Print("answers_our_downloads_verified", SumOf(false, l_verified));
    Print("answers_browses_answered", SumOf(false, l_browseAnswered));
    Print("answers_requests_sent_again_max", l_most.toDouble());
    // What the figures above cannot show when a peer happens to write on
    // the client's own connection: its answer closed unread.
    Print("answers_relayed_answers_closed", l_peers.Figure("answers_closed").toDouble());
    Print("answers_elsewhere_our_downloads_verified", SumOf(true, l_verified));
    Print("answers_elsewhere_browses_answered", SumOf(true, l_browseAnswered));
    Print("answers_elsewhere_replies_received", l_peers.Figure("elsewhere_replies").toDouble());
    return 0;
}
}  // namespace AnswersRun
