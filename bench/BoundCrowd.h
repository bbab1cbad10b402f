#pragma once

#include "BoundHostile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class RelayTokenGuesses;

// A crowd of a bound run: connections to the client's plain port, opened
// PerSecond a second for OpeningMs from its start (0: until the run ends),
// the n-th bound to 127.<SecondByte>.<n mod Networks>.2, networks no other
// peer of the run has. Each sends its first bytes once it stands, then a
// keep-alive every KeepaliveMs (0: nothing more), and stays until the
// client closes it; none is opened again. What the client sends on one is
// read and dropped, and the connection counted as taken: a crowd that
// claims to be someone, or to answer a request, learns so which of its
// claims the client took. The crowds start with the hostile connections:
//   - namesake: 30 a second for 60 s from 64 networks, each introducing
//     itself for messages under an honest peer's name and speaking every
//     20 s;
//   - claims: three crowds of 15 a second, each from 64 networks: file
//     connections that introduce themselves and say nothing more ("bare"),
//     file connections that send a made-up transfer token ("token"), and
//     answers to relayed requests with guessed tokens ("answer", see
//     RelayTokenGuesses.h); and a fourth of bare's file connections, 100 a
//     second from one address ("flood");
//   - filefill: bare's file connections, 10 a second from one address
//     (127.14.0.2) for FileFillOpeningMs ("filefill").
class BoundCrowd : public QObject
{
    Q_OBJECT

public:
    static constexpr int FileFillOpeningMs = 180000;
    // Where the filefill crowd connects from, in host order.
    static quint32 FileFillAddress();

    struct Shape
    {
        const char* mp_name = "";
        int m_perSecond = 0;
        int m_secondByte = 0;
        int m_networks = 0;
        int m_keepaliveMs = 0;
        int m_openingMs = 0;
    };
    // The first bytes of the crowd's n-th connection.
    using FirstBytes = std::function<QByteArray(qint64 i_serial)>;

    // The crowds of a run (none but in namesake and claims). i_namesake:
    // the user whose name the namesake crowd takes; io_guesses: the claims
    // run's guesses at tokens.
    static std::vector<std::unique_ptr<BoundCrowd>> OfRun(BoundHostile::Kind i_kind, quint16 i_port,
                                                          const std::string& i_namesake,
                                                          RelayTokenGuesses* ip_guesses);

    BoundCrowd(const Shape& i_shape, quint16 i_port, FirstBytes i_first);
    ~BoundCrowd() override;
    BoundCrowd(const BoundCrowd&) = delete;
    BoundCrowd& operator=(const BoundCrowd&) = delete;

    void Start();
    const char* Name() const { return m_shape.mp_name; }
    qint64 Opened() const { return m_opened; }
    // Connections on which the client sent anything.
    qint64 Taken() const { return m_taken; }

private:
    void OpenDue();
    void Open();

    Shape m_shape;
    quint16 m_port;
    FirstBytes m_first;
    QTimer m_opener;
    QElapsedTimer m_since;
    qint64 m_opened = 0;
    qint64 m_taken = 0;
};
