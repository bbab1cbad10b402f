#pragma once

#include "dnet/DNetProtocol.h"

#include <QByteArray>
#include <QObject>
#include <QtGlobal>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTcpSocket;

// The client's place in the distributed search network: a child of one
// parent, chosen among the candidates the server names, and a parent of up
// to ten children. Search requests come from the parent (or from the server
// while the client is a branch root), go to the shares service as
// DNetSearchRequest and on to every child. Owns the "D" sockets handed to
// it. Everything runs on the GUI thread.
class DNetManager : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxAttempts = 10;
    static constexpr int MaxChildren = 10;
    // No failure of a "D" attempt is reported: one that has not stood this
    // long has failed.
    static constexpr qint64 AttemptTimeoutMs = 90000;
    // A parent sends searches all the time; one that has said nothing for
    // this long is taken for dead even though its socket still stands.
    static constexpr qint64 ParentSilenceTimeoutMs = 10 * 60 * 1000;

    // Asks the peer layer for a "D" connection to the user.
    using ConnectionRequester = std::function<void(const std::string& i_user)>;
    // Milliseconds of a steady clock.
    using Clock = std::function<qint64()>;

    // Needs the server link and the peer layer (either may be missing in a
    // test, which then calls the slots itself).
    DNetManager();
    ~DNetManager() override;
    DNetManager(const DNetManager&) = delete;
    DNetManager& operator=(const DNetManager&) = delete;

    // Replace the peer layer's request and the clock; empty functions bring
    // back the defaults.
    void SetConnectionRequester(ConnectionRequester i_requester);
    void SetClock(Clock i_clock);

    bool HasParent() const { return mp_parent != nullptr; }
    std::string ParentName() const;
    std::vector<std::string> ChildNames() const;
    int BranchLevel() const { return m_level; }
    std::string BranchRoot() const { return m_root; }
    bool AcceptsChildren() const { return m_acceptsChildren; }
    // Candidates asked for and not yet stood or failed.
    int AttemptsUnderWay() const { return static_cast<int>(m_attempts.size()); }

signals:
    // A search that reached this client through the distributed network:
    // the asking user, the asker's token and the query exactly as read.
    void DNetSearchRequest(std::string user, quint32 token, std::string query);

public slots:
    // "D" sockets handed over by the peer layer after the first message;
    // their signal connections are cut and this object owns them.
    void OnDNetConnectionRequested(std::string i_user, QTcpSocket* ip_socket);
    void OnDNetConnectionAccepted(std::string i_user, QTcpSocket* ip_socket);
    void OnConnectedToServer();
    // Server messages 93, 102 and 130.
    void OnServerMessage(quint32 i_code, QByteArray i_payload);
    void EveryHalfMinute();

private:
    struct Link
    {
        std::string m_user;
        QTcpSocket* mp_socket = nullptr;
        DNetFrameReader m_reader;
        // When bytes last came in (or the link was adopted), by Now().
        qint64 m_lastReceivedAt = 0;
    };
    struct Attempt
    {
        std::string m_user;
        qint64 m_askedAt = 0;
    };

    // Takes a socket on: its signals come here, and bytes already in it are
    // read from the event loop.
    Link* Adopt(const std::string& i_user, QTcpSocket* ip_socket, bool i_parent);
    Link* FindLink(QTcpSocket* ip_socket) const;
    bool IsParent(const Link* ip_link) const { return ip_link && ip_link == mp_parent.get(); }
    void ReadLink(QTcpSocket* ip_socket);
    // false when the link was closed on the way.
    bool HandleFrame(Link& io_link, quint8 i_code, const QByteArray& i_payload);
    bool HandleParentFrame(Link& io_link, quint8 i_code, const QByteArray& i_payload);
    bool HandleChildFrame(Link& io_link, quint8 i_code, const QByteArray& i_payload);
    // Forgets the link as parent or child, disposes of its socket and logs
    // the loss; i_reason, when given, says why we closed it ourselves.
    void LoseLink(QTcpSocket* ip_socket, const QString& i_reason = QString());
    // Removes the link from the parent or children and disposes of its
    // socket; returns whether it was the parent.
    bool DropLink(QTcpSocket* ip_socket);
    static void DisposeOfSocket(QTcpSocket* ip_socket);

    // Server message 93.
    void HandleSearch(const QByteArray& i_payload);
    // Offers a search read from i_payload to the shares service (unless it
    // is our own) and passes it on to every child, only as far as its fields
    // go: bytes after them would only add to every child's load.
    void PassOnSearch(const DNetSearch& i_search, const QByteArray& i_payload);
    void HandleCandidates(const QByteArray& i_payload);
    void StartAttempts();
    void ClearAttempts();
    void DropSilentParent();

    // No parent: level 0, root self, told to the server and the children.
    void BecomeRoot();
    void SetParentLevel(qint32 i_level);
    void SetParentRoot(const std::string& i_root);
    void StartAcceptingChildrenWhenReady();
    void SendToChildren(const QByteArray& i_frame);
    // Writes a whole frame to a link. A frame longer than a peer may accept
    // is not sent; a link left holding more unsent than it may is lost.
    // false when the link was lost on the way.
    bool SendToLink(QTcpSocket* ip_socket, const QByteArray& i_frame);

    qint64 Now() const;
    void RequestConnection(const std::string& i_user);

    std::unique_ptr<Link> mp_parent;
    std::vector<std::unique_ptr<Link>> m_children;
    bool m_parentLevelKnown = false;
    bool m_parentRootKnown = false;
    qint32 m_level = 0;
    std::string m_root;
    bool m_acceptsChildren = false;

    std::vector<Attempt> m_attempts;
    std::deque<DNetCandidate> m_candidates;

    ConnectionRequester m_requester;
    Clock m_clock;
};

extern DNetManager* dnetManager;
