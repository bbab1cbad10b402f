#include "BoundPeers.h"

#include "BenchPeerWire.h"
#include "BoundCrowd.h"
#include "BoundHonestUploads.h"
#include "FakeCentralServer.h"
#include "RelayHostileUser.h"
#include "RelayTokenGuesses.h"

#include "core/io/MemStream.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerFrameCodec.h"
#include "peer/PeerInflate.h"
#include "peer/PeerMessageCodes.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <map>
#include <set>

namespace
{
namespace Codes = PeerMessageCodes;
using BenchPeerWire::Bytes;
using BenchPeerWire::Introduction;
using BenchPeerWire::Loopback;
using BenchPeerWire::Message;
using BenchPeerWire::DirectionUpload;
using BenchPeerWire::StreamOf;
using BenchPeerWire::TakeFrame;

// The relayed runs' hostile users' requests a second: the relay run's one,
// and each of relaynets'.
constexpr int RelayRequestsPerSecond = 10;
constexpr int RelayNetsRequestsPerSecond = 5;

// The server codes of a request for a connection back, and of the report
// that it failed.
constexpr quint32 ConnectToPeerCode = 18;
constexpr quint32 CantConnectToPeerCode = 1001;
// The claims run's: when the server reports each of the client's requests
// failed, after it, and when its token is known to the crowd, after the
// report (the client, however busy, has read the report by then).
constexpr int ClaimsRequestFailsMs = 20000;
constexpr int ClaimsTokenKnownMs = 10000;
}  // namespace

struct BoundPeers::Honest
{
    // A transfer it accepted.
    struct Accept
    {
        quint32 m_token = 0;
        qint64 m_atMs = 0;
        // To the client's file connection; -1 while none came.
        qint64 m_connectMs = -1;
    };

    int m_index = 0;
    quint32 m_address = 0;
    bool m_fetches = true;
    bool m_obfuscated = false;
    QTcpSocket* mp_socket = nullptr;
    QElapsedTimer m_since;
    QByteArray m_buffer;
    // Where the client's connections reach it; null in the runs where one
    // listener serves them all.
    std::unique_ptr<QTcpServer> mp_listener;
    // The relayed runs': the token of its relayed request.
    quint32 m_relayToken = 0;
    // By the file's path: a later offer of a file takes the earlier's place.
    std::map<std::string, Accept> m_accepts;
    // The files that came with their bytes.
    std::set<std::string> m_verified;
    // Of a peer that shares: its files for the client.
    std::unique_ptr<BoundHonestUploads> mp_uploads;
    HonestResult m_result;
};

// A connection the client opened to an honest peer: its file connection,
// in the relayed runs its connection back, which goes on as the peer's own,
// or in the shared run a messaging connection of its own.
struct BoundPeers::Accepted
{
    QTcpSocket* mp_socket = nullptr;
    QByteArray m_buffer;
    bool m_firstRead = false;
    bool m_handedOver = false;
    // The peer whose listener took it; null for the listener of them all.
    Honest* mp_owner = nullptr;
    bool m_messaging = false;
    // A file connection's peer and file, once its token told them.
    Honest* mp_peer = nullptr;
    std::string m_path;
    bool m_offsetSent = false;
};

BoundPeers::BoundPeers(BoundHostile::Kind i_kind, quint16 i_plainPort, quint16 i_obfuscatedPort,
                       const std::string& i_sharedFolder, qint64 i_fileSize)
    : m_relayed(Relayed(i_kind)),
      m_ownListeners(OwnListeners(i_kind)),
      m_plainPort(i_plainPort),
      m_obfuscatedPort(i_obfuscatedPort),
      m_fileBytes(FileBytes(i_fileSize)),
      m_hostile(i_kind, i_plainPort),
      m_honestStartMs(HonestStartMs(i_kind))
{
    for (int l_file = 0; l_file < ClientFiles(i_kind); ++l_file)
        m_sharedPaths.push_back(i_sharedFolder + "/" + ClientFileName(l_file));
    if (LogsIn(i_kind)) {
        mp_server = std::make_unique<FakeCentralServer>();
        mp_server->Start();
        if (i_kind == BoundHostile::Kind::Relay) {
            m_relayHostile.push_back(std::make_unique<RelayHostileUser>(*mp_server, ClientUser, "hostile relayer",
                                                                        Loopback(0, 0, 3), RelayRequestsPerSecond));
        } else if (i_kind == BoundHostile::Kind::RelayNets) {
            for (int l_network = 0; l_network < RelayNetworks; ++l_network)
                m_relayHostile.push_back(std::make_unique<RelayHostileUser>(
                    *mp_server, ClientUser, "hostile relayer " + std::to_string(l_network),
                    Loopback(0, 10 + l_network, 3), RelayNetsRequestsPerSecond));
        }
    }
    for (int l_index = 0; l_index < HonestPeers(i_kind); ++l_index) {
        auto lp_peer = std::make_unique<Honest>();
        Honest* lp_owner = lp_peer.get();
        const quint32 l_address = HonestAddress(i_kind, l_index);
        lp_peer->m_index = l_index;
        lp_peer->m_address = l_address;
        lp_peer->m_fetches = Fetches(i_kind, l_index);
        lp_peer->m_obfuscated = !m_relayed && l_index % 2 == 1;
        // Each listens where it connects from, as a user's one address does:
        // the client sends a user nothing on a connection from elsewhere.
        lp_peer->mp_listener = std::make_unique<QTcpServer>();
        QTcpServer& l_listener = *lp_peer->mp_listener;
        l_listener.listen(QHostAddress(l_address), 0);
        connect(&l_listener, &QTcpServer::newConnection, this,
                [this, &l_listener, lp_owner] { OnConnection(l_listener, lp_owner); });
        // Tokens of its own, far from the hostile users'.
        if (m_relayed)
            lp_peer->m_relayToken = quint32(1000000 + l_index);
        if (mp_server) {
            FakeCentralServer::KnownUser l_user;
            l_user.m_address = l_address;
            l_user.m_port = lp_peer->mp_listener->serverPort();
            mp_server->AddKnownUser(HonestUser(l_index), l_user);
        }
        if (Shares(i_kind, l_index))
            lp_peer->mp_uploads = std::make_unique<BoundHonestUploads>(l_index, HonestUser(l_index), l_address,
                                                                       i_plainPort, m_fileBytes);
        m_honest.push_back(std::move(lp_peer));
    }
    if (i_kind == BoundHostile::Kind::Claims) {
        // The honest peers have no client at the server: the client's
        // requests to them stay unanswered, open to the crowd's answers,
        // until the server reports them failed (OnClientRelayRequest).
        mp_server->SetSilentOnAbsentRelays(true);
        mp_guesses = std::make_unique<RelayTokenGuesses>();
        connect(mp_server.get(), &FakeCentralServer::MessageReceived, this,
                [this](const QString& i_user, quint32 i_code, const QByteArray& i_payload) {
                    if (i_user == ClientUser && i_code == ConnectToPeerCode && i_payload.size() >= 4)
                        OnClientRelayRequest(qFromLittleEndian<quint32>(i_payload.constData()));
                });
    }
    m_crowds = BoundCrowd::OfRun(i_kind, i_plainPort, HonestUser(0), mp_guesses.get());
}

BoundPeers::~BoundPeers() = default;

bool BoundPeers::Ready() const
{
    for (const auto& lp_peer : m_honest) {
        if (lp_peer->mp_listener && !lp_peer->mp_listener->isListening())
            return false;
    }
    if (!mp_server)
        return true;
    for (const auto& lp_user : m_relayHostile) {
        if (!lp_user->Ready())
            return false;
    }
    return mp_server->Port() != 0;
}

quint16 BoundPeers::HonestPort(int i_index) const
{
    const Honest& l_peer = *m_honest.at(std::size_t(i_index));
    return l_peer.mp_listener->serverPort();
}

quint16 BoundPeers::ServerPort() const
{
    return mp_server ? mp_server->Port() : 0;
}

qint64 BoundPeers::RelayedHostileRequests() const
{
    qint64 l_delivered = 0;
    for (const auto& lp_user : m_relayHostile)
        l_delivered += lp_user->Delivered();
    return l_delivered;
}

void BoundPeers::Start()
{
    m_run.start();
    m_hostile.Start();
    for (const auto& lp_crowd : m_crowds)
        lp_crowd->Start();
    for (const auto& lp_user : m_relayHostile)
        lp_user->Start();
    QTimer::singleShot(m_honestStartMs, this, [this] {
        for (const auto& lp_peer : m_honest)
            StartHonest(*lp_peer);
    });
}

qint64 BoundPeers::EndedTokenGuesses() const
{
    return mp_guesses ? mp_guesses->EndedGuesses() : 0;
}

void BoundPeers::OnClientRelayRequest(quint32 i_token)
{
    ++m_clientRelayRequests;
    // The user it names got it, could not connect back and said so: the
    // request ends at the client, and that user knows its token.
    QTimer::singleShot(ClaimsRequestFailsMs, this, [this, i_token] {
        QByteArray l_report(4, '\0');
        qToLittleEndian(i_token, l_report.data());
        mp_server->Send(ClientUser, CantConnectToPeerCode, l_report);
        QTimer::singleShot(ClaimsTokenKnownMs, this, [this, i_token] { mp_guesses->Ended(i_token); });
    });
}

std::vector<BoundPeers::HonestResult> BoundPeers::Results() const
{
    const qint64 l_endMs = m_run.elapsed();
    std::vector<HonestResult> l_results;
    for (const auto& lp_peer : m_honest) {
        HonestResult l_result = lp_peer->m_result;
        l_result.m_verified = int(lp_peer->m_verified.size());
        l_result.m_sent = lp_peer->mp_uploads ? lp_peer->mp_uploads->Sent() : 0;
        l_result.m_cut = lp_peer->mp_uploads ? lp_peer->mp_uploads->Cut() : 0;
        for (int l_file = 0; lp_peer->mp_uploads && l_file < BoundHonestUploads::FilesEach; ++l_file)
            l_result.m_files.push_back(lp_peer->mp_uploads->Record(l_file));
        // The transfer that waited longest for its file connection; one
        // never reached waits until the end of the run.
        qint64 l_longestMs = -1;
        for (const auto& [l_path, l_accept] : lp_peer->m_accepts) {
            const qint64 l_waitMs = l_accept.m_connectMs >= 0 ? l_accept.m_connectMs : l_endMs - l_accept.m_atMs;
            if (l_waitMs > l_longestMs) {
                l_longestMs = l_waitMs;
                l_result.m_acceptedAtMs = l_accept.m_atMs;
                l_result.m_fileConnectMs = l_accept.m_connectMs;
            }
        }
        l_results.push_back(l_result);
    }
    return l_results;
}

void BoundPeers::StartHonest(Honest& io_peer)
{
    if (m_relayed) {
        RequestConnectionBack(io_peer);
        return;
    }
    // One that only shares waits for the client, which queues its
    // downloads now: its wait is for the client's first message.
    if (!io_peer.m_fetches) {
        io_peer.m_since.start();
        return;
    }
    auto* lp_socket = new QTcpSocket(this);
    io_peer.mp_socket = lp_socket;
    io_peer.m_since.start();
    connect(lp_socket, &QTcpSocket::connected, this, [this, &io_peer, lp_socket] {
        lp_socket->write(Introduction(HonestUser(io_peer.m_index), io_peer.m_obfuscated)
                         + Message(Codes::GetSharedFileList, MemStream(), io_peer.m_obfuscated));
    });
    connect(lp_socket, &QTcpSocket::readyRead, this, [this, &io_peer] { OnHonestBytes(io_peer); });
    lp_socket->bind(QHostAddress(io_peer.m_address), 0);
    lp_socket->connectToHost(QHostAddress::LocalHost, io_peer.m_obfuscated ? m_obfuscatedPort : m_plainPort);
}

void BoundPeers::RequestConnectionBack(Honest& io_peer)
{
    // The client logs in at the start of the run; should it still not be
    // there, the request goes once it is.
    if (!mp_server->RelayConnectRequest(ClientUser, HonestUser(io_peer.m_index), "P", io_peer.m_relayToken)) {
        QTimer::singleShot(100, this, [this, &io_peer] { RequestConnectionBack(io_peer); });
        return;
    }
    io_peer.m_since.start();
    io_peer.m_result.m_requestedAtMs = m_run.elapsed();
}

void BoundPeers::OnHonestBytes(Honest& io_peer)
{
    io_peer.m_buffer += io_peer.mp_socket->readAll();
    QByteArray l_body;
    while (TakeFrame(io_peer.m_buffer, io_peer.m_obfuscated, l_body)) {
        MarkAnswered(io_peer);
        OnHonestMessage(io_peer, *io_peer.mp_socket, io_peer.m_obfuscated, l_body);
    }
}

void BoundPeers::MarkAnswered(Honest& io_peer)
{
    if (io_peer.m_result.m_answered)
        return;
    io_peer.m_result.m_answered = true;
    io_peer.m_result.m_waitMs = io_peer.m_since.elapsed();
}

void BoundPeers::OnHonestMessage(Honest& io_peer, QTcpSocket& io_socket, bool i_obfuscated, const QByteArray& i_body)
{
    MemStream l_message = StreamOf(i_body);
    unsigned int l_code = 0;
    if (!l_message.Read(l_code))
        return;
    if (l_code == Codes::SharedFileList) {
        // The reply to its browse, also when the client sent it on a
        // connection of its own.
        MarkAnswered(io_peer);
        QueueFiles(io_socket, i_obfuscated, i_body);
        return;
    }
    if (l_code == Codes::TransferRequest) {
        AcceptTransfer(io_peer, io_socket, i_obfuscated, i_body);
        return;
    }
    if (!io_peer.mp_uploads)
        return;
    if (l_code == Codes::QueueUpload) {
        std::string l_path;
        if (l_message.Read(l_path))
            io_socket.write(io_peer.mp_uploads->Offer(l_path, i_obfuscated));
        return;
    }
    unsigned int l_token = 0;
    quint8 l_allowed = 0;
    if (l_code == Codes::TransferResponse && l_message.Read(l_token) && l_message.Read(l_allowed))
        io_peer.mp_uploads->Answer(l_token, l_allowed != 0);
}

void BoundPeers::QueueFiles(QTcpSocket& io_socket, bool i_obfuscated, const QByteArray& i_body)
{
    // The listing names the files: ask for each.
    MemStream l_listing;
    if (PeerInflate::Inflate(i_body.constData() + 4, i_body.size() - 4, l_listing) != PeerInflate::Result::Inflated)
        return;
    const QByteArray l_names = Bytes(l_listing);
    for (const std::string& l_path : m_sharedPaths) {
        if (!l_names.contains(QByteArray::fromStdString(l_path.substr(l_path.rfind('/') + 1))))
            continue;
        MemStream l_file;
        l_file.Write(l_path);
        io_socket.write(Message(Codes::QueueUpload, l_file, i_obfuscated));
    }
}

void BoundPeers::AcceptTransfer(Honest& io_peer, QTcpSocket& io_socket, bool i_obfuscated, const QByteArray& i_body)
{
    MemStream l_message = StreamOf(i_body);
    unsigned int l_code = 0;
    unsigned int l_direction = 0;
    unsigned int l_token = 0;
    std::string l_path;
    if (!l_message.Read(l_code) || !l_message.Read(l_direction) || !l_message.Read(l_token)
        || !l_message.Read(l_path) || l_direction != DirectionUpload)
        return;
    io_peer.m_accepts[l_path] = Honest::Accept{l_token, m_run.elapsed()};
    MemStream l_answer;
    l_answer.Write(l_token);
    l_answer.Write(quint8(1));
    io_socket.write(Message(Codes::TransferResponse, l_answer, i_obfuscated));
    // Done with messages once all it asked for is on its way: the
    // connection's place under the bound is the client's for the file
    // connections to us. A peer that shares files of its own stays.
    if (!io_peer.mp_uploads && io_peer.m_accepts.size() == m_sharedPaths.size() && io_peer.mp_socket)
        io_peer.mp_socket->disconnectFromHost();
}

void BoundPeers::OnConnection(QTcpServer& io_listener, Honest* ip_owner)
{
    while (QTcpSocket* lp_socket = io_listener.nextPendingConnection()) {
        auto lp_connection = std::make_unique<Accepted>();
        lp_connection->mp_socket = lp_socket;
        lp_connection->mp_owner = ip_owner;
        Accepted& l_connection = *lp_connection;
        m_accepted.push_back(std::move(lp_connection));
        connect(lp_socket, &QTcpSocket::readyRead, this, [this, &l_connection] { OnAcceptedBytes(l_connection); });
    }
}

void BoundPeers::OnAcceptedBytes(Accepted& io_connection)
{
    if (io_connection.m_handedOver)
        return;
    io_connection.m_buffer += io_connection.mp_socket->readAll();
    if (!io_connection.m_firstRead) {
        QByteArray l_rest = io_connection.m_buffer;
        QByteArray l_first;
        if (!TakeFrame(l_rest, false, l_first))
            return;
        io_connection.m_firstRead = true;
        io_connection.m_buffer = l_rest;
        MemStream l_stream = StreamOf(l_first);
        const PeerFirstMessage::Parsed l_parsed = PeerFirstMessage::Read(l_stream);
        using Kind = PeerFirstMessage::Kind;
        // The answer to a relayed request, with its token.
        if (l_parsed.m_kind == Kind::Indirect) {
            if (!TakeConnectionBack(io_connection, l_parsed.m_token, l_rest))
                io_connection.mp_socket->abort();
            return;
        }
        io_connection.m_messaging = l_parsed.m_kind == Kind::Direct && l_parsed.m_connectionType == "P";
        // A messaging connection of the client's only reaches a peer that
        // takes one; a file connection's token comes next.
        if ((io_connection.m_messaging && !(io_connection.mp_owner && m_ownListeners))
            || (!io_connection.m_messaging && l_parsed.m_connectionType != "F")) {
            io_connection.mp_socket->abort();
            return;
        }
    }
    if (!io_connection.m_messaging) {
        OnFileBytes(io_connection);
        return;
    }
    QByteArray l_body;
    while (TakeFrame(io_connection.m_buffer, false, l_body)) {
        if (!io_connection.mp_owner->m_fetches)
            MarkAnswered(*io_connection.mp_owner);
        OnHonestMessage(*io_connection.mp_owner, *io_connection.mp_socket, false, l_body);
    }
}

bool BoundPeers::TakeConnectionBack(Accepted& io_connection, quint32 i_token, const QByteArray& i_rest)
{
    Honest* lp_peer = nullptr;
    for (const auto& lp_candidate : m_honest) {
        if (lp_candidate->mp_listener && lp_candidate->m_result.m_requestedAtMs >= 0
            && lp_candidate->m_relayToken == i_token && !lp_candidate->mp_socket)
            lp_peer = lp_candidate.get();
    }
    if (!lp_peer)
        return false;
    QTcpSocket* lp_socket = io_connection.mp_socket;
    io_connection.m_handedOver = true;
    QObject::disconnect(lp_socket, &QTcpSocket::readyRead, this, nullptr);
    lp_peer->m_result.m_connectBackMs = m_run.elapsed() - lp_peer->m_result.m_requestedAtMs;
    lp_peer->mp_socket = lp_socket;
    lp_peer->m_buffer = i_rest;
    connect(lp_socket, &QTcpSocket::readyRead, this, [this, lp_peer] { OnHonestBytes(*lp_peer); });
    lp_socket->write(Message(Codes::GetSharedFileList, MemStream(), lp_peer->m_obfuscated));
    return true;
}

void BoundPeers::OnFileBytes(Accepted& io_connection)
{
    if (!io_connection.m_offsetSent) {
        if (io_connection.m_buffer.size() < 4)
            return;
        const quint32 l_token = qFromLittleEndian<quint32>(io_connection.m_buffer.constData());
        Honest::Accept* lp_accept = nullptr;
        for (const auto& lp_peer : m_honest) {
            for (auto& [l_path, l_accept] : lp_peer->m_accepts) {
                if (l_accept.m_token == l_token) {
                    io_connection.mp_peer = lp_peer.get();
                    io_connection.m_path = l_path;
                    lp_accept = &l_accept;
                }
            }
        }
        if (!lp_accept) {
            io_connection.mp_socket->abort();
            return;
        }
        if (lp_accept->m_connectMs < 0)
            lp_accept->m_connectMs = m_run.elapsed() - lp_accept->m_atMs;
        io_connection.m_buffer.remove(0, 4);
        char l_offset[8];
        qToLittleEndian(qint64(0), l_offset);
        io_connection.mp_socket->write(l_offset, 8);
        io_connection.m_offsetSent = true;
    }
    if (io_connection.mp_peer && io_connection.m_buffer.size() >= m_fileBytes.size()) {
        if (io_connection.m_buffer == m_fileBytes)
            io_connection.mp_peer->m_verified.insert(io_connection.m_path);
        io_connection.mp_socket->disconnectFromHost();
    }
}
