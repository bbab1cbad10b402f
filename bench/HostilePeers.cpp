#include "HostilePeers.h"

#include "BenchPeerWire.h"

#include "core/io/MemStream.h"
#include "peer/PeerMessageCodes.h"
#include "shares/PayloadCompression.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QtEndian>

namespace
{
namespace Codes = PeerMessageCodes;
using BenchPeerWire::Bytes;
using BenchPeerWire::Frame;
using BenchPeerWire::Introduction;

// How long a hostile connection stays open after it was made.
constexpr int HoldMs = 3000;

QByteArray Message(unsigned int i_code, const std::string& i_text)
{
    MemStream l_body;
    l_body.Write(i_code);
    l_body.Write(i_text);
    return Frame(Bytes(l_body));
}

QByteArray Compressed(unsigned int i_code, const MemStream& i_payload)
{
    MemStream l_body;
    PayloadCompression::Frame(i_code, i_payload, l_body);
    return Frame(Bytes(l_body));
}

void WriteFile(MemStream& io_payload, const std::string& i_name, qint64 i_size)
{
    io_payload.Write(quint8(1));
    io_payload.Write(i_name);
    io_payload.Write(i_size);
    io_payload.Write("mp3");
    io_payload.Write(2u);
    for (const unsigned int l_attribute : {0u, 1u}) {
        io_payload.Write(l_attribute);
        io_payload.Write(320u);
    }
}

QByteArray Listing()
{
    constexpr int Folders = 100;
    constexpr int FilesPerFolder = 20;
    MemStream l_payload;
    l_payload.Write(unsigned(Folders));
    for (int l_folder = 0; l_folder < Folders; ++l_folder) {
        l_payload.Write("music\\artist " + std::to_string(l_folder));
        l_payload.Write(unsigned(FilesPerFolder));
        for (int l_file = 0; l_file < FilesPerFolder; ++l_file)
            WriteFile(l_payload, "track " + std::to_string(l_file) + ".mp3", 4000000 + l_file);
    }
    l_payload.Write(0u);
    return Compressed(Codes::SharedFileList, l_payload);
}

QByteArray SearchReply(const std::string& i_user, quint32 i_token)
{
    constexpr int Results = 100;
    MemStream l_payload;
    l_payload.Write(i_user);
    l_payload.Write(i_token);
    l_payload.Write(unsigned(Results));
    for (int l_result = 0; l_result < Results; ++l_result)
        WriteFile(l_payload, "music\\hits\\song " + std::to_string(l_result) + ".mp3", 5000000 + l_result);
    l_payload.Write(quint8(1));
    l_payload.Write(100000);
    l_payload.Write(0);
    return Compressed(Codes::FileSearchResult, l_payload);
}

QByteArray Random(int i_size)
{
    QByteArray l_bytes(i_size, Qt::Uninitialized);
    for (char& l_byte : l_bytes)
        l_byte = char(QRandomGenerator::global()->bounded(256));
    return l_bytes;
}
}  // namespace

std::string HostilePeers::LoggedInUser(int i_index)
{
    return "regular " + std::to_string(i_index);
}

HostilePeers::HostilePeers(quint16 i_port, const std::string& i_sharedPath, quint32 i_searchToken)
    : m_port(i_port), m_sharedPath(i_sharedPath), m_searchToken(i_searchToken), m_listing(Listing())
{
    for (int l_user = 0; l_user < LoggedInUsers; ++l_user)
        m_searchReplies.push_back(SearchReply(LoggedInUser(l_user), i_searchToken));
}

HostilePeers::~HostilePeers()
{
    Stop();
}

void HostilePeers::Every(int i_perSecond, void (HostilePeers::*ip_send)())
{
    auto* lp_timer = new QTimer(this);
    lp_timer->setInterval(1000 / i_perSecond);
    connect(lp_timer, &QTimer::timeout, this, ip_send);
    m_timers.push_back(lp_timer);
}

void HostilePeers::Start()
{
    Every(ListingsPerSecond, &HostilePeers::SendListing);
    Every(GarbagePerSecond, &HostilePeers::SendGarbage);
    Every(QueueRequestsPerSecond, &HostilePeers::SendQueueRequest);
    Every(LoggedInPerSecond, &HostilePeers::SendLoggedIn);
    for (QTimer* lp_timer : m_timers)
        lp_timer->start();
}

void HostilePeers::Stop()
{
    for (QTimer* lp_timer : m_timers)
        delete lp_timer;
    m_timers.clear();
}

void HostilePeers::Connect(const QByteArray& i_bytes)
{
    ++m_connections;
    auto* lp_socket = new QTcpSocket(this);
    connect(lp_socket, &QTcpSocket::connected, lp_socket, [lp_socket, i_bytes] { lp_socket->write(i_bytes); });
    // Whatever the client answers is read and dropped.
    connect(lp_socket, &QTcpSocket::readyRead, lp_socket, [lp_socket] { lp_socket->readAll(); });
    QTimer::singleShot(HoldMs, lp_socket, [lp_socket] {
        lp_socket->abort();
        lp_socket->deleteLater();
    });
    lp_socket->connectToHost(QHostAddress::LocalHost, m_port);
}

void HostilePeers::SendListing()
{
    Connect(Introduction("lister " + std::to_string(++m_serial)) + m_listing);
}

void HostilePeers::SendGarbage()
{
    const std::string l_user = "noise " + std::to_string(++m_serial);
    switch (m_serial % 4) {
    case 0:
        Connect(Random(1 + int(m_serial % 4096)));
        break;
    case 1: {
        // A length no introduction can have, and the start of its body.
        QByteArray l_bytes(4, '\0');
        qToLittleEndian(quint32(1000000), l_bytes.data());
        Connect(l_bytes + Random(2000));
        break;
    }
    case 2:
        // A frame cut short after the introduction.
        Connect(Introduction(l_user) + Message(Codes::QueueUpload, std::string(5000, 'x')).left(1000));
        break;
    default:
        Connect(Introduction(l_user) + Frame(Random(4 + int(m_serial % 2048))));
        break;
    }
}

void HostilePeers::SendQueueRequest()
{
    const qint64 l_serial = ++m_serial;
    Connect(Introduction("queuer " + std::to_string(l_serial)) +
            Message(Codes::QueueUpload, "music\\not shared\\file " + std::to_string(l_serial) + ".mp3"));
}

void HostilePeers::SendLoggedIn()
{
    const qint64 l_serial = ++m_serial;
    const int l_user = int(l_serial % LoggedInUsers);
    QByteArray l_bytes = Introduction(LoggedInUser(l_user));
    switch ((l_serial / LoggedInUsers) % 5) {
    case 0:
        l_bytes += m_searchReplies[std::size_t(l_user)];
        break;
    case 1: {
        MemStream l_browse;
        l_browse.Write(static_cast<unsigned int>(Codes::GetSharedFileList));
        l_bytes += Frame(Bytes(l_browse));
        break;
    }
    case 2:
        l_bytes += Message(Codes::UploadPlaceInLineRequest, m_sharedPath);
        break;
    case 3: {
        MemStream l_offer;
        l_offer.Write(static_cast<unsigned int>(Codes::TransferRequest));
        l_offer.Write(1u);
        l_offer.Write(unsigned(l_serial));
        l_offer.Write("music\\never asked\\file " + std::to_string(l_serial) + ".mp3");
        l_offer.Write(qint64(1000));
        l_bytes += Frame(Bytes(l_offer));
        break;
    }
    default:
        l_bytes += Message(Codes::QueueUpload, "music\\not shared\\" + std::to_string(l_serial) + ".mp3");
        break;
    }
    Connect(l_bytes);
}
