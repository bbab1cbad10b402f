#include "AnswerPeer.h"

#include "BenchPeerWire.h"
#include "BoundPeers.h"
#include "WireBytes.h"

#include "core/io/MemStream.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerMessageCodes.h"
#include "shares/PayloadCompression.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <algorithm>
#include <utility>

namespace
{
namespace Codes = PeerMessageCodes;
using BenchPeerWire::Bytes;
using BenchPeerWire::Frame;
using BenchPeerWire::StreamOf;
using BenchPeerWire::TakeFrame;

// The listing of the peer's files, framed.
QByteArray Listing(int i_peer, qint64 i_size)
{
    MemStream l_payload;
    l_payload.Write(1u);
    l_payload.Write(BoundHonestUploads::Folder(i_peer));
    l_payload.Write(unsigned(BoundHonestUploads::FilesEach));
    for (int l_file = 0; l_file < BoundHonestUploads::FilesEach; ++l_file) {
        l_payload.Write(quint8(1));
        l_payload.Write(BoundHonestUploads::FileName(i_peer, l_file));
        l_payload.Write(i_size);
        l_payload.Write("bin");
        l_payload.Write(0u);
    }
    l_payload.Write(0u);
    MemStream l_body;
    PayloadCompression::Frame(Codes::SharedFileList, l_payload, l_body);
    return Frame(Bytes(l_body));
}
}  // namespace

AnswerPeer::AnswerPeer(int i_index, quint32 i_address, Role i_role, quint16 i_clientPort,
                       const QByteArray& i_fileBytes)
    : m_index(i_index),
      m_address(i_address),
      m_role(i_role),
      m_clientPort(i_clientPort),
      m_uploads(i_index, BoundPeers::HonestUser(i_index), i_address, i_clientPort, i_fileBytes),
      m_listing(Listing(i_index, i_fileBytes.size()))
{
    connect(&m_listener, &QTcpServer::newConnection, this, &AnswerPeer::OnAccepted);
    m_listener.listen(QHostAddress(i_address), 0);
}

AnswerPeer::~AnswerPeer()
{
    for (const auto& lp_connection : m_connections) {
        QObject::disconnect(lp_connection->mp_socket, nullptr, this, nullptr);
        lp_connection->mp_socket->abort();
    }
}

AnswerPeer::Connection& AnswerPeer::Add(QTcpSocket* ip_socket, bool i_answer)
{
    auto lp_connection = std::make_unique<Connection>();
    Connection& l_connection = *lp_connection;
    l_connection.mp_socket = ip_socket;
    l_connection.m_answer = i_answer;
    l_connection.m_introducing = !i_answer;
    m_connections.push_back(std::move(lp_connection));
    connect(ip_socket, &QTcpSocket::readyRead, this, [this, &l_connection] { OnBytes(l_connection); });
    auto l_gone = [&l_connection] { l_connection.m_standing = false; };
    connect(ip_socket, &QTcpSocket::disconnected, this, l_gone);
    connect(ip_socket, &QTcpSocket::errorOccurred, this, l_gone);
    return l_connection;
}

void AnswerPeer::OnRelayed(const QByteArray& i_request)
{
    WireReader l_request(i_request);
    l_request.Str();
    const std::string l_type = l_request.Str();
    const quint32 l_address = l_request.U32();
    const quint32 l_port = l_request.U32();
    const quint32 l_token = l_request.U32();
    if (m_role != Role::AnswersRelays || !l_request.Ok() || l_type != "P")
        return;
    m_relayed.push_back({l_address, quint16(l_port), l_token});
    QTimer::singleShot(AnswerAnywayMs, this, [this, l_token] {
        const auto l_waiting = std::find_if(m_relayed.begin(), m_relayed.end(),
                                            [l_token](const Relayed& i_relayed) { return i_relayed.m_token == l_token; });
        if (l_waiting == m_relayed.end())
            return;
        const Relayed l_relayed = *l_waiting;
        m_relayed.erase(l_waiting);
        Answer(l_relayed.m_address, l_relayed.m_port, l_relayed.m_token);
    });
}

void AnswerPeer::Answer(quint32 i_address, quint16 i_port, quint32 i_token)
{
    ++m_answered;
    auto* lp_socket = new QTcpSocket(this);
    Connection& l_connection = Add(lp_socket, true);
    connect(lp_socket, &QTcpSocket::connected, this, [this, &l_connection, i_token] {
        l_connection.m_openedAs = m_opened++;
        l_connection.mp_socket->write(BenchPeerWire::Answer(i_token));
    });
    lp_socket->bind(QHostAddress(m_address), 0);
    lp_socket->connectToHost(QHostAddress(i_address), i_port);
}

void AnswerPeer::Browse(const std::string& i_folder)
{
    auto* lp_socket = new QTcpSocket(this);
    Connection& l_own = Add(lp_socket, false);
    // The client does not introduce itself on a connection it did not open.
    l_own.m_introducing = false;
    connect(lp_socket, &QTcpSocket::connected, this, [this, &l_own, i_folder] {
        l_own.m_openedAs = m_opened++;
        MemStream l_folder;
        l_folder.Write(quint32(m_index));
        l_folder.Write(i_folder);
        l_own.mp_socket->write(BenchPeerWire::Introduction(BoundPeers::HonestUser(m_index))
                               + BenchPeerWire::Message(Codes::GetSharedFileList, MemStream())
                               + BenchPeerWire::Message(Codes::GetSharedFilesInFolder, l_folder));
    });
    lp_socket->bind(QHostAddress(m_address), 0);
    lp_socket->connectToHost(QHostAddress::LocalHost, m_clientPort);
}

void AnswerPeer::OnAccepted()
{
    while (QTcpSocket* lp_socket = m_listener.nextPendingConnection()) {
        ++m_accepted;
        Add(lp_socket, false).m_openedAs = m_opened++;
    }
    // The client's own attempt succeeded: what it asked the server for
    // meanwhile is answered a moment later.
    for (const Relayed& l_relayed : std::exchange(m_relayed, {}))
        QTimer::singleShot(AnswerAfterMs, this, [this, l_relayed] {
            Answer(l_relayed.m_address, l_relayed.m_port, l_relayed.m_token);
        });
}

void AnswerPeer::OnBytes(Connection& io_connection)
{
    io_connection.m_buffer += io_connection.mp_socket->readAll();
    QByteArray l_body;
    while (io_connection.m_standing && TakeFrame(io_connection.m_buffer, false, l_body)) {
        if (io_connection.m_introducing) {
            io_connection.m_introducing = false;
            MemStream l_first = StreamOf(l_body);
            const PeerFirstMessage::Parsed l_parsed = PeerFirstMessage::Read(l_first);
            if (l_parsed.m_kind != PeerFirstMessage::Kind::Direct || l_parsed.m_connectionType != "P") {
                io_connection.m_standing = false;
                io_connection.mp_socket->abort();
            }
            continue;
        }
        OnMessage(l_body);
        if (m_role == Role::ResetsFirst && !m_resetDone && !io_connection.m_answer) {
            m_resetDone = true;
            io_connection.m_standing = false;
            Reset(*io_connection.mp_socket);
        }
    }
}

void AnswerPeer::OnMessage(const QByteArray& i_body)
{
    MemStream l_message = StreamOf(i_body);
    unsigned int l_code = 0;
    if (!l_message.Read(l_code))
        return;
    if (l_code == Codes::SharedFileList || l_code == Codes::SharedFilesInFolder) {
        ++m_replies;
        return;
    }
    if (l_code == Codes::GetSharedFileList) {
        ++m_requests["browse"];
        // Read before the reset, but never answered on it.
        if (m_role != Role::ResetsFirst || m_resetDone)
            Send(m_listing);
        return;
    }
    std::string l_path;
    if (l_code == Codes::QueueUpload && l_message.Read(l_path)) {
        ++m_requests["queue " + l_path];
        if (m_role != Role::ResetsFirst || m_resetDone) {
            const QByteArray l_offer = m_uploads.Offer(l_path, false);
            if (!l_offer.isEmpty())
                Send(l_offer);
        }
        return;
    }
    unsigned int l_token = 0;
    quint8 l_allowed = 0;
    if (l_code == Codes::TransferResponse && l_message.Read(l_token) && l_message.Read(l_allowed))
        m_uploads.Answer(l_token, l_allowed != 0);
}

void AnswerPeer::Send(const QByteArray& i_frame)
{
    Connection* lp_newest = nullptr;
    for (const auto& lp_connection : m_connections) {
        if (lp_connection->m_standing && !lp_connection->m_introducing && lp_connection->m_openedAs >= 0
            && (!lp_newest || lp_connection->m_openedAs > lp_newest->m_openedAs))
            lp_newest = lp_connection.get();
    }
    if (!lp_newest) {
        ++m_lost;
        return;
    }
    ++(lp_newest->m_answer ? m_sentOnAnswers : m_sentOnClients);
    lp_newest->mp_socket->write(i_frame);
}

void AnswerPeer::Reset(QTcpSocket& io_socket)
{
    const linger l_now{1, 0};
    ::setsockopt(int(io_socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &l_now, sizeof l_now);
    io_socket.abort();
}

int AnswerPeer::RequestsMax() const
{
    int l_most = 0;
    for (const auto& [l_request, l_times] : m_requests)
        l_most = std::max(l_most, l_times);
    return l_most;
}

int AnswerPeer::AnswersClosed() const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(), [](const auto& ip_connection) {
        return ip_connection->m_answer && !ip_connection->m_standing;
    }));
}

QString AnswerPeer::Summary() const
{
    const int l_answersClosed = AnswersClosed();
    QString l_requests;
    for (const auto& [l_request, l_times] : m_requests)
        l_requests += QString(" %1 x%2;").arg(QString::fromStdString(l_request)).arg(l_times);
    return QString("peer %1 (%2): accepted %3, relays answered %4 (closed since %5), sent on answers %6, on its "
                   "others %7, none %8, files sent %9, cut %10, replies received %11; requests:%12")
        .arg(m_index)
        .arg(m_role == Role::AnswersRelays ? "answers relays" : "resets the first")
        .arg(m_accepted)
        .arg(m_answered)
        .arg(l_answersClosed)
        .arg(m_sentOnAnswers)
        .arg(m_sentOnClients)
        .arg(m_lost)
        .arg(m_uploads.Sent())
        .arg(m_uploads.Cut())
        .arg(m_replies)
        .arg(l_requests);
}
