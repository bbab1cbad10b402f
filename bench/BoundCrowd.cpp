#include "BoundCrowd.h"

#include "BenchPeerWire.h"
#include "RelayTokenGuesses.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpSocket>

namespace
{
using BenchPeerWire::Introduction;

constexpr int CrowdNetworks = 64;
constexpr BoundCrowd::Shape Namesake{"namesake", 30, 9, CrowdNetworks, 20000, 60000};
constexpr BoundCrowd::Shape Bare{"bare", 15, 10, CrowdNetworks, 0, 0};
// The same introductions from one address, 127.13.0.2, at a hundred a second.
constexpr BoundCrowd::Shape BareFlood{"flood", 100, 13, 1, 0, 0};
constexpr BoundCrowd::Shape MadeUpToken{"token", 15, 11, CrowdNetworks, 0, 0};
constexpr BoundCrowd::Shape GuessedAnswer{"answer", 15, 12, CrowdNetworks, 0, 0};
// From 127.14.0.2, from below the bound until well past it.
constexpr BoundCrowd::Shape FileFill{"filefill", 10, 14, 1, 0, BoundCrowd::FileFillOpeningMs};

std::string Claimer(qint64 i_serial)
{
    return "claimer " + std::to_string(i_serial);
}

// A file connection's introduction, which nothing follows.
QByteArray BareFile(qint64 i_serial)
{
    return Introduction(Claimer(i_serial), false, "F");
}
}  // namespace

quint32 BoundCrowd::FileFillAddress()
{
    return BenchPeerWire::Loopback(FileFill.m_secondByte, 0, 2);
}

std::vector<std::unique_ptr<BoundCrowd>> BoundCrowd::OfRun(BoundHostile::Kind i_kind, quint16 i_port,
                                                           const std::string& i_namesake,
                                                           RelayTokenGuesses* ip_guesses)
{
    std::vector<std::unique_ptr<BoundCrowd>> l_crowds;
    if (i_kind == BoundHostile::Kind::Namesake) {
        l_crowds.push_back(
            std::make_unique<BoundCrowd>(Namesake, i_port, [i_namesake](qint64) { return Introduction(i_namesake); }));
    } else if (i_kind == BoundHostile::Kind::FileFill) {
        l_crowds.push_back(std::make_unique<BoundCrowd>(FileFill, i_port, BareFile));
    } else if (i_kind == BoundHostile::Kind::Claims && ip_guesses) {
        for (const Shape& l_bare : {Bare, BareFlood})
            l_crowds.push_back(std::make_unique<BoundCrowd>(l_bare, i_port, BareFile));
        l_crowds.push_back(std::make_unique<BoundCrowd>(MadeUpToken, i_port, [](qint64 i_serial) {
            return Introduction(Claimer(i_serial), false, "F")
                   + BenchPeerWire::Token(QRandomGenerator::global()->generate());
        }));
        l_crowds.push_back(std::make_unique<BoundCrowd>(
            GuessedAnswer, i_port, [ip_guesses](qint64) { return BenchPeerWire::Answer(ip_guesses->Next()); }));
    }
    return l_crowds;
}

BoundCrowd::BoundCrowd(const Shape& i_shape, quint16 i_port, FirstBytes i_first)
    : m_shape(i_shape), m_port(i_port), m_first(std::move(i_first))
{
    m_opener.setInterval(1000 / m_shape.m_perSecond);
    m_opener.setTimerType(Qt::PreciseTimer);
    connect(&m_opener, &QTimer::timeout, this, &BoundCrowd::OpenDue);
}

BoundCrowd::~BoundCrowd()
{
    m_opener.stop();
    // The sockets are children: none may report to a half-gone crowd.
    for (QTcpSocket* lp_socket : findChildren<QTcpSocket*>()) {
        QObject::disconnect(lp_socket, nullptr, nullptr, nullptr);
        lp_socket->abort();
    }
}

void BoundCrowd::Start()
{
    m_since.start();
    m_opener.start();
}

void BoundCrowd::OpenDue()
{
    // A busy turn of the event loop delays the timer: the connections due
    // meanwhile go at once, so that the crowd keeps its rate.
    qint64 l_elapsedMs = m_since.elapsed();
    if (m_shape.m_openingMs > 0 && l_elapsedMs >= m_shape.m_openingMs) {
        m_opener.stop();
        l_elapsedMs = m_shape.m_openingMs;
    }
    while (m_opened < l_elapsedMs * m_shape.m_perSecond / 1000 + 1)
        Open();
}

void BoundCrowd::Open()
{
    const qint64 l_serial = m_opened++;
    auto* lp_socket = new QTcpSocket(this);
    const QByteArray l_first = m_first(l_serial);
    connect(lp_socket, &QTcpSocket::connected, lp_socket, [lp_socket, l_first] { lp_socket->write(l_first); });
    auto lp_taken = std::make_shared<bool>(false);
    connect(lp_socket, &QTcpSocket::readyRead, this, [this, lp_socket, lp_taken] {
        if (!lp_socket->readAll().isEmpty() && !*lp_taken) {
            *lp_taken = true;
            ++m_taken;
        }
    });
    auto l_end = [lp_socket] {
        QObject::disconnect(lp_socket, nullptr, nullptr, nullptr);
        lp_socket->abort();
        lp_socket->deleteLater();
    };
    connect(lp_socket, &QTcpSocket::disconnected, lp_socket, l_end);
    connect(lp_socket, &QTcpSocket::errorOccurred, lp_socket, l_end);
    if (m_shape.m_keepaliveMs > 0) {
        auto* lp_keepalive = new QTimer(lp_socket);
        lp_keepalive->setInterval(m_shape.m_keepaliveMs);
        lp_keepalive->setTimerType(Qt::PreciseTimer);
        connect(lp_keepalive, &QTimer::timeout, lp_socket, [lp_socket] {
            if (lp_socket->state() == QAbstractSocket::ConnectedState)
                lp_socket->write(BenchPeerWire::Keepalive());
        });
        lp_keepalive->start();
    }
    lp_socket->bind(QHostAddress(BenchPeerWire::Loopback(m_shape.m_secondByte, int(l_serial % m_shape.m_networks), 2)),
                    0);
    lp_socket->connectToHost(QHostAddress::LocalHost, m_port);
}
