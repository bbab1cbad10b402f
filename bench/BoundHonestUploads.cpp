#include "BoundHonestUploads.h"

#include "BenchPeerWire.h"

#include "core/io/MemStream.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerMessageCodes.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>

#include <algorithm>

namespace
{
// The offset the downloader sends on the file connection.
constexpr qsizetype OffsetBytes = 8;
}  // namespace

std::string BoundHonestUploads::Folder(int i_peer)
{
    return "shared\\honest " + std::to_string(i_peer);
}

std::string BoundHonestUploads::FileName(int i_peer, int i_file)
{
    return "honest " + std::to_string(i_peer) + " file " + std::to_string(i_file) + ".bin";
}

BoundHonestUploads::BoundHonestUploads(int i_peer, const std::string& i_user, quint32 i_address,
                                       quint16 i_clientPort, const QByteArray& i_fileBytes)
    : m_peer(i_peer),
      m_user(i_user),
      m_address(i_address),
      m_clientPort(i_clientPort),
      m_fileBytes(i_fileBytes),
      // Tokens of its own, far from the other peers' and the client's.
      m_nextToken(quint32(2000000 + 1000 * i_peer))
{
}

BoundHonestUploads::~BoundHonestUploads()
{
    for (auto& [l_token, l_upload] : m_uploads) {
        if (l_upload.mp_socket) {
            QObject::disconnect(l_upload.mp_socket, nullptr, this, nullptr);
            l_upload.mp_socket->abort();
        }
    }
}

int BoundHonestUploads::FileAt(const std::string& i_path) const
{
    for (int l_file = 0; l_file < FilesEach; ++l_file) {
        if (i_path == JoinRemotePath(Folder(m_peer), FileName(m_peer, l_file)))
            return l_file;
    }
    return -1;
}

QByteArray BoundHonestUploads::Offer(const std::string& i_path, bool i_obfuscated)
{
    const int l_file = FileAt(i_path);
    if (l_file < 0)
        return {};
    ++m_records[std::size_t(l_file)].m_queueRequestsRead;
    const bool l_underWay = std::any_of(m_uploads.begin(), m_uploads.end(), [l_file](const auto& i_entry) {
        return i_entry.second.m_file == l_file && i_entry.second.m_state != State::Failed;
    });
    if (l_underWay)
        return {};
    const quint32 l_token = m_nextToken++;
    m_uploads[l_token].m_file = l_file;
    MemStream l_payload;
    l_payload.Write(BenchPeerWire::DirectionUpload);
    l_payload.Write(l_token);
    l_payload.Write(i_path);
    l_payload.Write(qint64(m_fileBytes.size()));
    ++m_records[std::size_t(l_file)].m_offersMade;
    return BenchPeerWire::Message(PeerMessageCodes::TransferRequest, l_payload, i_obfuscated);
}

void BoundHonestUploads::Answer(quint32 i_token, bool i_allowed)
{
    const auto l_upload = m_uploads.find(i_token);
    if (l_upload == m_uploads.end())
        return;
    ++m_records[std::size_t(l_upload->second.m_file)].m_answersRead;
    if (l_upload->second.m_state != State::Offered)
        return;
    if (!i_allowed) {
        l_upload->second.m_state = State::Failed;
        return;
    }
    Connect(l_upload->second, i_token);
}

int BoundHonestUploads::Sent() const
{
    return int(std::count_if(m_uploads.begin(), m_uploads.end(),
                             [](const auto& i_entry) { return i_entry.second.m_state == State::Sent; }));
}

void BoundHonestUploads::Connect(Upload& io_upload, quint32 i_token)
{
    io_upload.m_state = State::Sending;
    auto* lp_socket = new QTcpSocket(this);
    io_upload.mp_socket = lp_socket;
    connect(lp_socket, &QTcpSocket::connected, this, [this, lp_socket, i_token] {
        lp_socket->write(BenchPeerWire::Introduction(m_user, false, "F") + BenchPeerWire::Token(i_token));
    });
    connect(lp_socket, &QTcpSocket::readyRead, this, [this, &io_upload] { OnBytes(io_upload); });
    connect(lp_socket, &QTcpSocket::bytesWritten, this, [&io_upload, lp_socket] {
        if (io_upload.m_offsetRead && io_upload.m_state == State::Sending && lp_socket->bytesToWrite() == 0) {
            io_upload.m_state = State::Sent;
            lp_socket->disconnectFromHost();
        }
    });
    connect(lp_socket, &QTcpSocket::disconnected, this, [this, &io_upload] { OnGone(io_upload); });
    connect(lp_socket, &QTcpSocket::errorOccurred, this, [this, &io_upload] { OnGone(io_upload); });
    lp_socket->bind(QHostAddress(m_address), 0);
    lp_socket->connectToHost(QHostAddress::LocalHost, m_clientPort);
}

void BoundHonestUploads::OnBytes(Upload& io_upload)
{
    io_upload.m_buffer += io_upload.mp_socket->readAll();
    if (io_upload.m_offsetRead || io_upload.m_buffer.size() < OffsetBytes)
        return;
    io_upload.m_offsetRead = true;
    const qint64 l_offset =
        std::clamp<qint64>(qFromLittleEndian<qint64>(io_upload.m_buffer.constData()), 0, m_fileBytes.size());
    if (l_offset == m_fileBytes.size()) {
        io_upload.m_state = State::Sent;
        io_upload.mp_socket->disconnectFromHost();
        return;
    }
    io_upload.mp_socket->write(m_fileBytes.mid(l_offset));
}

void BoundHonestUploads::OnGone(Upload& io_upload)
{
    QTcpSocket* lp_socket = io_upload.mp_socket;
    if (!lp_socket)
        return;
    if (io_upload.m_state == State::Sending) {
        io_upload.m_state = State::Failed;
        ++m_cut;
    }
    io_upload.mp_socket = nullptr;
    QObject::disconnect(lp_socket, nullptr, this, nullptr);
    lp_socket->deleteLater();
}
