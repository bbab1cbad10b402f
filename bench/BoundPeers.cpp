#include "BoundPeers.h"

#include "BenchPeerWire.h"
#include "FakeCentralServer.h"
#include "RelayHostileUser.h"

#include "core/io/MemStream.h"
#include "peer/PeerFrameCodec.h"
#include "peer/PeerInflate.h"
#include "peer/PeerMessageCodes.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

namespace
{
namespace Codes = PeerMessageCodes;
using BenchPeerWire::Bytes;
using BenchPeerWire::Frame;
using BenchPeerWire::Introduction;
using BenchPeerWire::Loopback;

QByteArray Message(quint32 i_code, const MemStream& i_payload, bool i_obfuscated)
{
    MemStream l_body;
    l_body.Write(i_code);
    return Frame(Bytes(l_body) + Bytes(i_payload), i_obfuscated);
}

// Takes the next whole frame body off the front of io_buffer; false when
// none is complete yet.
bool TakeFrame(QByteArray& io_buffer, bool i_obfuscated, QByteArray& o_body)
{
    const qsizetype l_head = i_obfuscated ? 8 : 4;
    if (io_buffer.size() < l_head)
        return false;
    quint32 l_mask = 0;
    QByteArray l_length = io_buffer.mid(l_head - 4, 4);
    if (i_obfuscated) {
        l_mask = qFromLittleEndian<quint32>(io_buffer.constData());
        PeerFrameCodec::ApplyMask(l_length.data(), 4, l_mask, 0);
    }
    const quint32 l_bodyLength = qFromLittleEndian<quint32>(l_length.constData());
    if (l_bodyLength > PeerFrameCodec::MaxBodyLength * 64 || io_buffer.size() < l_head + qsizetype(l_bodyLength))
        return false;
    o_body = io_buffer.mid(l_head, qsizetype(l_bodyLength));
    if (i_obfuscated)
        PeerFrameCodec::ApplyMask(o_body.data(), o_body.size(), l_mask, 4);
    io_buffer.remove(0, l_head + qsizetype(l_bodyLength));
    return true;
}

// Reads a little-endian u32 at io_at, moving on; false when it runs out.
bool ReadU32(const QByteArray& i_bytes, qsizetype& io_at, quint32& o_value)
{
    if (io_at + 4 > i_bytes.size())
        return false;
    o_value = qFromLittleEndian<quint32>(i_bytes.constData() + io_at);
    io_at += 4;
    return true;
}
}  // namespace

struct BoundPeers::Honest
{
    int m_index = 0;
    bool m_obfuscated = false;
    QTcpSocket* mp_socket = nullptr;
    QElapsedTimer m_since;
    QByteArray m_buffer;
    quint32 m_token = 0;
    bool m_tokenKnown = false;
    // The relay run's: where the client's connections reach it, and the
    // token of its relayed request.
    std::unique_ptr<QTcpServer> mp_listener;
    quint32 m_relayToken = 0;
    HonestResult m_result;
};

// A connection the client opened to an honest peer: its file connection, or
// in the relay run its connection back, which goes on as the peer's own.
struct BoundPeers::Accepted
{
    QTcpSocket* mp_socket = nullptr;
    QByteArray m_buffer;
    bool m_firstRead = false;
    bool m_handedOver = false;
    Honest* mp_peer = nullptr;
    bool m_offsetSent = false;
};

std::string BoundPeers::HonestUser(int i_index)
{
    return "honest " + std::to_string(i_index);
}

QByteArray BoundPeers::FileBytes(qint64 i_size)
{
    QByteArray l_bytes(i_size, Qt::Uninitialized);
    for (qint64 l_at = 0; l_at < i_size; ++l_at)
        l_bytes[l_at] = char((l_at * 131 + l_at / 251 + 7) & 0xFF);
    return l_bytes;
}

BoundPeers::BoundPeers(BoundHostile::Kind i_kind, quint16 i_plainPort, quint16 i_obfuscatedPort,
                       const std::string& i_sharedPath, qint64 i_fileSize)
    : m_plainPort(i_plainPort),
      m_obfuscatedPort(i_obfuscatedPort),
      m_sharedPath(i_sharedPath),
      m_fileBytes(FileBytes(i_fileSize)),
      m_hostile(i_kind, i_plainPort)
{
    const bool l_relay = i_kind == BoundHostile::Kind::Relay;
    if (l_relay) {
        mp_server = std::make_unique<FakeCentralServer>();
        mp_server->Start();
        mp_relayHostile = std::make_unique<RelayHostileUser>(*mp_server, ClientUser);
    }
    for (int l_index = 0; l_index < HonestPeers; ++l_index) {
        auto lp_peer = std::make_unique<Honest>();
        lp_peer->m_index = l_index;
        lp_peer->m_obfuscated = !l_relay && l_index % 2 == 1;
        if (l_relay) {
            const quint32 l_address = Loopback(0, 1, 100 + l_index);
            lp_peer->mp_listener = std::make_unique<QTcpServer>();
            QTcpServer& l_listener = *lp_peer->mp_listener;
            l_listener.listen(QHostAddress(l_address), 0);
            connect(&l_listener, &QTcpServer::newConnection, this, [this, &l_listener] { OnConnection(l_listener); });
            // Tokens of its own, far from the hostile user's.
            lp_peer->m_relayToken = quint32(1000000 + l_index);
            FakeCentralServer::KnownUser l_user;
            l_user.m_address = l_address;
            l_user.m_port = l_listener.serverPort();
            mp_server->AddKnownUser(HonestUser(l_index), l_user);
        }
        m_honest.push_back(std::move(lp_peer));
    }
    m_honestListener.listen(QHostAddress::LocalHost, 0);
    connect(&m_honestListener, &QTcpServer::newConnection, this, [this] { OnConnection(m_honestListener); });
}

BoundPeers::~BoundPeers() = default;

bool BoundPeers::Ready() const
{
    if (!m_honestListener.isListening())
        return false;
    if (!mp_server)
        return true;
    for (const auto& lp_peer : m_honest) {
        if (!lp_peer->mp_listener->isListening())
            return false;
    }
    return mp_server->Port() != 0 && mp_relayHostile->Ready();
}

quint16 BoundPeers::ServerPort() const
{
    return mp_server ? mp_server->Port() : 0;
}

qint64 BoundPeers::RelayedHostileRequests() const
{
    return mp_relayHostile ? mp_relayHostile->Delivered() : 0;
}

void BoundPeers::Start()
{
    m_run.start();
    m_hostile.Start();
    if (mp_relayHostile)
        mp_relayHostile->Start();
    QTimer::singleShot(HonestStartMs, this, [this] {
        for (const auto& lp_peer : m_honest)
            StartHonest(*lp_peer);
    });
}

std::vector<BoundPeers::HonestResult> BoundPeers::Results() const
{
    std::vector<HonestResult> l_results;
    for (const auto& lp_peer : m_honest)
        l_results.push_back(lp_peer->m_result);
    return l_results;
}

void BoundPeers::StartHonest(Honest& io_peer)
{
    if (mp_server) {
        RequestConnectionBack(io_peer);
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
    lp_socket->bind(QHostAddress(Loopback(0, 1, 100 + io_peer.m_index)), 0);
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
        if (!io_peer.m_result.m_answered) {
            io_peer.m_result.m_answered = true;
            io_peer.m_result.m_waitMs = io_peer.m_since.elapsed();
        }
        OnHonestMessage(io_peer, l_body);
    }
}

void BoundPeers::OnHonestMessage(Honest& io_peer, const QByteArray& i_body)
{
    qsizetype l_at = 0;
    quint32 l_code = 0;
    if (!ReadU32(i_body, l_at, l_code))
        return;
    if (l_code == Codes::SharedFileList) {
        // The listing names the file: ask for it.
        MemStream l_listing;
        const QByteArray l_name = QByteArray::fromStdString(m_sharedPath.substr(m_sharedPath.rfind('/') + 1));
        if (PeerInflate::Inflate(i_body.constData() + 4, i_body.size() - 4, l_listing) != PeerInflate::Result::Inflated
            || !Bytes(l_listing).contains(l_name))
            return;
        MemStream l_file;
        l_file.Write(m_sharedPath);
        io_peer.mp_socket->write(Message(Codes::QueueUpload, l_file, io_peer.m_obfuscated));
        return;
    }
    if (l_code == Codes::TransferRequest) {
        quint32 l_direction = 0;
        quint32 l_token = 0;
        if (!ReadU32(i_body, l_at, l_direction) || !ReadU32(i_body, l_at, l_token) || l_direction != 1)
            return;
        io_peer.m_token = l_token;
        io_peer.m_tokenKnown = true;
        MemStream l_answer;
        l_answer.Write(l_token);
        l_answer.Write(quint8(1));
        io_peer.m_result.m_acceptedAtMs = m_run.elapsed();
        io_peer.mp_socket->write(Message(Codes::TransferResponse, l_answer, io_peer.m_obfuscated));
        // Done with messages: the connection's place under the bound is
        // the client's for the file connection to us.
        io_peer.mp_socket->disconnectFromHost();
    }
}

void BoundPeers::OnConnection(QTcpServer& io_listener)
{
    while (QTcpSocket* lp_socket = io_listener.nextPendingConnection()) {
        auto lp_connection = std::make_unique<Accepted>();
        lp_connection->mp_socket = lp_socket;
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
        // Direction 0: the answer to a relayed request, with its token.
        if (!l_first.isEmpty() && l_first.at(0) == 0) {
            if (!TakeConnectionBack(io_connection, l_first, l_rest))
                io_connection.mp_socket->abort();
            return;
        }
        // Otherwise the client's introduction of its file connection, the
        // transfer's token next.
        io_connection.m_buffer = l_rest;
    }
    OnFileBytes(io_connection);
}

bool BoundPeers::TakeConnectionBack(Accepted& io_connection, const QByteArray& i_first, const QByteArray& i_rest)
{
    qsizetype l_at = 1;
    quint32 l_token = 0;
    if (!ReadU32(i_first, l_at, l_token))
        return false;
    Honest* lp_peer = nullptr;
    for (const auto& lp_candidate : m_honest) {
        if (lp_candidate->mp_listener && lp_candidate->m_result.m_requestedAtMs >= 0
            && lp_candidate->m_relayToken == l_token && !lp_candidate->mp_socket)
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
        for (const auto& lp_peer : m_honest) {
            if (lp_peer->m_tokenKnown && lp_peer->m_token == l_token)
                io_connection.mp_peer = lp_peer.get();
        }
        if (!io_connection.mp_peer) {
            io_connection.mp_socket->abort();
            return;
        }
        HonestResult& l_result = io_connection.mp_peer->m_result;
        if (l_result.m_fileConnectMs < 0)
            l_result.m_fileConnectMs = m_run.elapsed() - l_result.m_acceptedAtMs;
        io_connection.m_buffer.remove(0, 4);
        char l_offset[8];
        qToLittleEndian(qint64(0), l_offset);
        io_connection.mp_socket->write(l_offset, 8);
        io_connection.m_offsetSent = true;
    }
    if (io_connection.mp_peer && io_connection.m_buffer.size() >= m_fileBytes.size()) {
        io_connection.mp_peer->m_result.m_verified = io_connection.m_buffer == m_fileBytes;
        io_connection.mp_socket->disconnectFromHost();
    }
}
