#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QtGlobal>

#include <string>
#include <vector>

class QTcpSocket;

// Hostile peers against a client's peer port on the loopback, each kind on
// a timer of its own, every message on a new connection that the peer
// closes a few seconds later (unless the client closed it first):
//   - unsolicited listings: a new user name each, a listing of 2,000 files
//     that nobody asked for;
//   - frame-level garbage: random bytes with no introduction, a frame
//     longer than an introduction may be, a frame cut short, or a random
//     message body after an introduction;
//   - queue requests for unshared files, under a new user name each;
//   - logged-in hostile kinds: users the server reports online send the
//     same search reply to the client's live search again and again,
//     browse requests, place-in-line requests, upload offers for files
//     never asked for, and queue requests for unshared files.
class HostilePeers : public QObject
{
    Q_OBJECT

public:
    // Connections a second of each kind.
    static constexpr int ListingsPerSecond = 2;
    static constexpr int GarbagePerSecond = 20;
    static constexpr int QueueRequestsPerSecond = 20;
    static constexpr int LoggedInPerSecond = 20;
    // The users of the logged-in kinds; the caller puts them online.
    static constexpr int LoggedInUsers = 20;
    static std::string LoggedInUser(int i_index);

    // i_searchToken: a search of the client that is live.
    HostilePeers(quint16 i_port, const std::string& i_sharedPath, quint32 i_searchToken);
    ~HostilePeers() override;
    HostilePeers(const HostilePeers&) = delete;
    HostilePeers& operator=(const HostilePeers&) = delete;

    void Start();
    void Stop();
    // Connections made so far.
    qint64 Connections() const { return m_connections; }

private:
    void Every(int i_perSecond, void (HostilePeers::*ip_send)());
    // A new connection that sends the frames once it stands.
    void Connect(const QByteArray& i_bytes);

    void SendListing();
    void SendGarbage();
    void SendQueueRequest();
    void SendLoggedIn();

    quint16 m_port;
    std::string m_sharedPath;
    quint32 m_searchToken;
    QByteArray m_listing;
    // Each logged-in user's reply: a reply names its sender.
    std::vector<QByteArray> m_searchReplies;
    std::vector<QTimer*> m_timers;
    qint64 m_connections = 0;
    qint64 m_serial = 0;
};
