#pragma once

#include "BoundHonestUploads.h"
#include "BoundHostile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTcpServer>
#include <QtGlobal>

#include <memory>
#include <string>
#include <vector>

class BoundCrowd;
class FakeCentralServer;
class QTcpSocket;
class RelayHostileUser;
class RelayTokenGuesses;

// The far side of a run at the client's connection bound, in a process of
// its own: hostile peers of one kind that hold connections (see
// BoundHostile.h), and honest peers that come later, browse the client,
// download its files (ClientFiles) and check their bytes. The peers bind
// loopback addresses, so that the client sees the remote addresses and
// networks (first three bytes) that a run needs; the honest peers have a
// network of their own, 127.0.1.100 and up (HonestAddress), and each
// listens on the address it connects from. They start
// HonestStartMs after the hostile ones, half on the plain port and half on
// the obfuscated one. Once it has accepted the transfers of all it asked
// for, an honest peer closes its messaging connection, leaving its place
// under the bound to the client's file connections, except in the shared
// run.
//
// The relayed runs (relay, relaynets) add the central server, on
// 127.0.0.1, that the client logs in to, and hostile users whose requests
// it relays (RelayHostileUser.h): the relay run one at 127.0.0.3, relaynets
// one on each of RelayNetworks networks of their own, 127.0.10.3 and up.
// There the honest peers never connect to the client's ports: each listens
// on its own address and has the server relay its request for a connection
// back, which the client then opens (plain: they tell the server no
// obfuscated port); its file connection comes to the same listener.
//
// In the shared run each honest peer listens on its own address too, where
// the client finds it (the caller tells the client of each, HonestPort),
// takes the client's messaging and file connections there, and shares
// files that the client downloads (BoundHonestUploads.h).
//
// The namesake run has two honest peers, each on a network of its own
// (127.0.1.100 and 127.0.2.101), both listening as in shared: the first only
// shares files, which the client downloads, the second only downloads the
// client's. Its crowd takes the first one's name (BoundCrowd.h).
//
// The claims run has shared's honest peers, and its client logs in to the
// central server as in the relayed runs, which knows the honest peers at
// their listeners and passes the client's requests for connections back
// to nobody: each stays unanswered until the server reports it failed, 20 s
// after it, as when the user it names got it and could not connect back;
// its crowds claim file connections and answers to those requests, with
// the tokens of the requests that have ended among their guesses
// (BoundCrowd.h, RelayTokenGuesses.h).
//
// The filefill run has shared's honest peers, which start once its crowd
// of file connections that never send their token, opened from below the
// bound, holds the whole bound (BoundCrowd.h).
class BoundPeers : public QObject
{
    Q_OBJECT

public:
    // When the honest peers start, from the start of the run: 10 s in, in
    // filefill 90 s in, when its crowd of 10 connections a second has held
    // the bound of 768 for some seconds.
    static int HonestStartMs(BoundHostile::Kind i_kind);
    static constexpr int RelayNetworks = 9;
    // The client's user name, under which it logs in to the relayed runs'
    // server.
    static constexpr const char* ClientUser = "me";
    static int HonestPeers(BoundHostile::Kind i_kind);
    static std::string HonestUser(int i_index);
    static quint32 HonestAddress(BoundHostile::Kind i_kind, int i_index);
    // The shared files' bytes, which the honest peers check.
    static QByteArray FileBytes(qint64 i_size);
    // Whether the honest peers reach the client only through relayed
    // requests.
    static bool Relayed(BoundHostile::Kind i_kind);
    // Whether the client logs in to the run's central server.
    static bool LogsIn(BoundHostile::Kind i_kind);
    // Whether each honest peer listens on its own address, where the client
    // finds it, and takes the client's messaging connections there.
    static bool OwnListeners(BoundHostile::Kind i_kind);
    // Whether the honest peer fetches the client's files, and whether it
    // shares files of its own that the client downloads.
    static bool Fetches(BoundHostile::Kind i_kind, int i_index);
    static bool Shares(BoundHostile::Kind i_kind, int i_index);
    // The files the client shares, all of which each honest peer that
    // fetches fetches, and their names.
    static int ClientFiles(BoundHostile::Kind i_kind);
    static std::string ClientFileName(int i_index);

    struct HonestResult
    {
        bool m_answered = false;
        // From the start of its connection (in the relayed runs, of its
        // relayed request) to the client's first reply.
        qint64 m_waitMs = -1;
        // The client's files that came with their bytes.
        int m_verified = 0;
        // When it sent its accepting transfer response, from the start of
        // the run; -1 when it never did. Of a peer with several transfers,
        // the first never reached, else the one reached last.
        qint64 m_acceptedAtMs = -1;
        // From then to the client's file connection reaching it; -1 when
        // none came.
        qint64 m_fileConnectMs = -1;
        // The relayed runs': when its relayed request went, from the start
        // of the run, and from then to the client's connection back
        // reaching it; -1 when none went or came.
        qint64 m_requestedAtMs = -1;
        qint64 m_connectBackMs = -1;
        // Of a peer that shares: its files whose bytes went to the client
        // whole, and its file connections to the client that ended before
        // that (reset, closed, or never connected).
        int m_sent = 0;
        int m_cut = 0;
        // Of a peer that shares: what became of each of its files there.
        std::vector<BoundHonestUploads::FileRecord> m_files;
    };

    // i_sharedFolder: the client's shared folder as the client shares it.
    BoundPeers(BoundHostile::Kind i_kind, quint16 i_plainPort, quint16 i_obfuscatedPort,
               const std::string& i_sharedFolder, qint64 i_fileSize);
    ~BoundPeers() override;
    BoundPeers(const BoundPeers&) = delete;
    BoundPeers& operator=(const BoundPeers&) = delete;

    // Whether every listener listens and, in the relayed runs, each hostile
    // user's port holds connects unanswered.
    bool Ready() const;
    // Where the client is to reach the honest peer outside the relayed
    // runs: its own listener in the shared run, one of them all otherwise.
    quint16 HonestPort(int i_index) const;
    // The relayed runs' central server; 0 in the other runs.
    quint16 ServerPort() const;
    void Start();
    std::vector<HonestResult> Results() const;
    const BoundHostile& Hostile() const { return m_hostile; }
    const std::vector<std::unique_ptr<BoundCrowd>>& Crowds() const { return m_crowds; }
    // The relayed runs' hostile requests delivered to the client; 0 in the
    // other runs.
    qint64 RelayedHostileRequests() const;
    // The claims run's: the client's requests for connections back that
    // the server saw, and the crowd's guesses among the tokens of those
    // that ended; 0 in the other runs.
    qint64 ClientRelayRequests() const { return m_clientRelayRequests; }
    qint64 EndedTokenGuesses() const;

private:
    struct Honest;
    struct Accepted;

    void StartHonest(Honest& io_peer);
    void RequestConnectionBack(Honest& io_peer);
    void OnHonestBytes(Honest& io_peer);
    // The client's first reply: a message on the peer's own connection, or
    // the listing on any.
    void MarkAnswered(Honest& io_peer);
    // A message from the client on one of the peer's connections, answered
    // there.
    void OnHonestMessage(Honest& io_peer, QTcpSocket& io_socket, bool i_obfuscated, const QByteArray& i_body);
    void QueueFiles(QTcpSocket& io_socket, bool i_obfuscated, const QByteArray& i_body);
    void AcceptTransfer(Honest& io_peer, QTcpSocket& io_socket, bool i_obfuscated, const QByteArray& i_body);
    void OnConnection(QTcpServer& io_listener, Honest* ip_owner);
    void OnAcceptedBytes(Accepted& io_connection);
    bool TakeConnectionBack(Accepted& io_connection, quint32 i_token, const QByteArray& i_rest);
    void OnFileBytes(Accepted& io_connection);
    // The claims run's: a request of the client's for a connection back,
    // which the server later reports failed.
    void OnClientRelayRequest(quint32 i_token);

    bool m_relayed;
    bool m_ownListeners;
    quint16 m_plainPort;
    quint16 m_obfuscatedPort;
    std::vector<std::string> m_sharedPaths;
    QByteArray m_fileBytes;
    std::vector<std::unique_ptr<Honest>> m_honest;
    std::vector<std::unique_ptr<Accepted>> m_accepted;
    std::unique_ptr<FakeCentralServer> mp_server;
    std::vector<std::unique_ptr<RelayHostileUser>> m_relayHostile;
    std::unique_ptr<RelayTokenGuesses> mp_guesses;
    qint64 m_clientRelayRequests = 0;
    BoundHostile m_hostile;
    int m_honestStartMs;
    std::vector<std::unique_ptr<BoundCrowd>> m_crowds;
    QElapsedTimer m_run;
};
