#include "BoundHostile.h"

#include "BenchPeerWire.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <string>

namespace
{
using BenchPeerWire::Loopback;
}  // namespace

struct BoundHostile::Slot
{
    quint32 m_address = 0;
    bool m_keepalive = false;
    int m_index = 0;
    int m_generation = 0;
    QTcpSocket* mp_socket = nullptr;
    QTimer* mp_keepalive = nullptr;
};

std::optional<BoundHostile::Kind> BoundHostile::KindNamed(const QString& i_name)
{
    for (std::size_t l_kind = 0; l_kind < KindNames.size(); ++l_kind) {
        if (i_name == QLatin1String(KindNames[l_kind]))
            return Kind(l_kind);
    }
    return std::nullopt;
}

std::size_t BoundHostile::PacedOf(Kind i_kind)
{
    switch (i_kind) {
    case Kind::Many:
        return ManyConnections;
    case Kind::Shared:
    case Kind::Namesake:
    case Kind::Claims:
        return SharedConnections;
    case Kind::RelayNets:
    case Kind::FileFill:
        return 0;
    default:
        return Connections;
    }
}

BoundHostile::BoundHostile(Kind i_kind, quint16 i_port) : m_port(i_port)
{
    const bool l_keepalive = i_kind != Kind::Fill && i_kind != Kind::Churn;
    m_paced = PacedOf(i_kind);
    const std::size_t l_loops = i_kind == Kind::Pressure ? PressureLoops : 0;
    for (std::size_t l_index = 0; l_index < m_paced + l_loops; ++l_index) {
        auto lp_slot = std::make_unique<Slot>();
        const int l_at = int(l_index);
        lp_slot->m_index = l_at;
        lp_slot->m_keepalive = l_keepalive && l_index < m_paced;
        lp_slot->m_address = Loopback(0, 0, 2);
        if (i_kind == Kind::Fill)
            lp_slot->m_address = Loopback(2 + l_at / 256, l_at % 256, 2);
        else if (i_kind == Kind::Spread)
            lp_slot->m_address = Loopback(0, 3, 2 + l_at % SpreadAddresses);
        else if (i_kind == Kind::Many)
            lp_slot->m_address = Loopback(6, l_at % ManyNetworks, 2);
        else if (i_kind == Kind::Shared || i_kind == Kind::Namesake || i_kind == Kind::Claims)
            lp_slot->m_address = Loopback(8, l_at % SharedNetworks, 2);
        m_slots.push_back(std::move(lp_slot));
    }
    m_opener.setInterval(1000 / OpenedPerSecond);
    connect(&m_opener, &QTimer::timeout, this, &BoundHostile::OpenNext);
}

BoundHostile::~BoundHostile()
{
    m_opener.stop();
    for (const auto& lp_slot : m_slots) {
        if (lp_slot->mp_socket) {
            QObject::disconnect(lp_slot->mp_socket, nullptr, this, nullptr);
            lp_slot->mp_socket->abort();
        }
    }
}

void BoundHostile::Start()
{
    m_opener.start();
}

int BoundHostile::Connected() const
{
    int l_connected = 0;
    for (const auto& lp_slot : m_slots)
        l_connected += lp_slot->mp_socket && lp_slot->mp_socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return l_connected;
}

void BoundHostile::OpenNext()
{
    if (m_next < m_paced) {
        Open(*m_slots[m_next++]);
        return;
    }
    // The loops of the pressure kind, once the others are opened.
    m_opener.stop();
    while (m_next < m_slots.size())
        Open(*m_slots[m_next++]);
}

void BoundHostile::Open(Slot& io_slot)
{
    ++m_opened;
    auto* lp_socket = new QTcpSocket(this);
    io_slot.mp_socket = lp_socket;
    const std::string l_user =
        "hostile " + std::to_string(io_slot.m_index) + "." + std::to_string(io_slot.m_generation++);
    connect(lp_socket, &QTcpSocket::connected, lp_socket,
            [lp_socket, l_user] { lp_socket->write(BenchPeerWire::Introduction(l_user)); });
    connect(lp_socket, &QTcpSocket::readyRead, lp_socket, [lp_socket] { lp_socket->readAll(); });
    // Closed by the client, or never connected: opened again at once.
    auto l_reopen = [this, &io_slot, lp_socket] {
        if (io_slot.mp_socket != lp_socket)
            return;
        io_slot.mp_socket = nullptr;
        delete io_slot.mp_keepalive;
        io_slot.mp_keepalive = nullptr;
        QObject::disconnect(lp_socket, nullptr, this, nullptr);
        lp_socket->abort();
        lp_socket->deleteLater();
        QMetaObject::invokeMethod(this, [this, &io_slot] { Open(io_slot); }, Qt::QueuedConnection);
    };
    connect(lp_socket, &QTcpSocket::disconnected, this, l_reopen);
    connect(lp_socket, &QTcpSocket::errorOccurred, this, l_reopen);
    if (io_slot.m_keepalive) {
        io_slot.mp_keepalive = new QTimer(this);
        io_slot.mp_keepalive->setInterval(KeepaliveMs);
        // A coarse timer may fire a second and a half late, past the idle age.
        io_slot.mp_keepalive->setTimerType(Qt::PreciseTimer);
        connect(io_slot.mp_keepalive, &QTimer::timeout, lp_socket, [lp_socket] {
            if (lp_socket->state() == QAbstractSocket::ConnectedState)
                lp_socket->write(BenchPeerWire::Keepalive());
        });
        io_slot.mp_keepalive->start();
    }
    lp_socket->bind(QHostAddress(io_slot.m_address), 0);
    lp_socket->connectToHost(QHostAddress::LocalHost, m_port);
}
