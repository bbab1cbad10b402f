#pragma once

#include "BoundHostile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTcpServer>
#include <QtGlobal>

#include <memory>
#include <string>
#include <vector>

class FakeCentralServer;
class QTcpSocket;
class RelayHostileUser;

// The far side of a run at the client's connection bound, in a process of
// its own: hostile peers of one kind that hold connections (see
// BoundHostile.h), and honest peers that come later, browse the client,
// download one file and check its bytes. The peers bind loopback addresses,
// so that the client sees the remote addresses and networks (first three
// bytes) that a run needs; the honest peers have a network of their own,
// 127.0.1.100 and up. They start HonestStartMs after the hostile ones, half
// on the plain port and half on the obfuscated one.
//
// The relay run adds the central server, on 127.0.0.1, that the client logs
// in to, and a hostile user whose requests it relays (RelayHostileUser.h).
// There the honest peers never connect to the client's ports: each listens
// on its own address and has the server relay its request for a connection
// back, which the client then opens (plain: they tell the server no
// obfuscated port); its file connection comes to the same listener.
class BoundPeers : public QObject
{
    Q_OBJECT

public:
    static constexpr int HonestPeers = 6;
    static constexpr int HonestStartMs = 10000;
    // The client's user name, under which it logs in to the relay run's
    // server.
    static constexpr const char* ClientUser = "me";
    static std::string HonestUser(int i_index);
    // The shared file's bytes, which the honest peers check.
    static QByteArray FileBytes(qint64 i_size);

    struct HonestResult
    {
        bool m_answered = false;
        // From the start of its connection (in the relay run, of its
        // relayed request) to the client's first reply.
        qint64 m_waitMs = -1;
        bool m_verified = false;
        // When it sent its accepting transfer response, from the start of
        // the run; -1 when it never did.
        qint64 m_acceptedAtMs = -1;
        // From then to the client's file connection reaching it; -1 when
        // none came.
        qint64 m_fileConnectMs = -1;
        // The relay run's: when its relayed request went, from the start of
        // the run, and from then to the client's connection back reaching
        // it; -1 when none went or came.
        qint64 m_requestedAtMs = -1;
        qint64 m_connectBackMs = -1;
    };

    // i_sharedPath: the file's path as the client shares it.
    BoundPeers(BoundHostile::Kind i_kind, quint16 i_plainPort, quint16 i_obfuscatedPort,
               const std::string& i_sharedPath, qint64 i_fileSize);
    ~BoundPeers() override;
    BoundPeers(const BoundPeers&) = delete;
    BoundPeers& operator=(const BoundPeers&) = delete;

    // Whether every listener listens and, in the relay run, the hostile
    // user's port holds connects unanswered.
    bool Ready() const;
    // Where the client is to send the honest peers' files outside the relay
    // run.
    quint16 HonestPort() const { return m_honestListener.serverPort(); }
    // The relay run's central server; 0 in the other runs.
    quint16 ServerPort() const;
    void Start();
    std::vector<HonestResult> Results() const;
    const BoundHostile& Hostile() const { return m_hostile; }
    // The relay run's hostile requests delivered to the client; 0 in the
    // other runs.
    qint64 RelayedHostileRequests() const;

private:
    struct Honest;
    struct Accepted;

    void StartHonest(Honest& io_peer);
    void RequestConnectionBack(Honest& io_peer);
    void Browse(Honest& io_peer);
    void OnHonestBytes(Honest& io_peer);
    void OnHonestMessage(Honest& io_peer, const QByteArray& i_body);
    void OnConnection(QTcpServer& io_listener);
    void OnAcceptedBytes(Accepted& io_connection);
    bool TakeConnectionBack(Accepted& io_connection, const QByteArray& i_first, const QByteArray& i_rest);
    void OnFileBytes(Accepted& io_connection);

    quint16 m_plainPort;
    quint16 m_obfuscatedPort;
    std::string m_sharedPath;
    QByteArray m_fileBytes;
    std::vector<std::unique_ptr<Honest>> m_honest;
    std::vector<std::unique_ptr<Accepted>> m_accepted;
    QTcpServer m_honestListener;
    std::unique_ptr<FakeCentralServer> mp_server;
    std::unique_ptr<RelayHostileUser> mp_relayHostile;
    BoundHostile m_hostile;
    QElapsedTimer m_run;
};
