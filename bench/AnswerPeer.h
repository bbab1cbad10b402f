#pragma once

#include "BoundHonestUploads.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QtGlobal>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QTcpSocket;

// An honest peer of the answers run (AnswersRun.h) on a loopback address
// of its own. It listens there for the client's messaging connections,
// shares BoundHonestUploads' two files, which it offers when the client
// queues them and sends on file connections of its own, and answers a
// browse with their listing. It keeps every messaging connection with the
// client that stands and writes each message on the one opened last.
//
// One that answers relayed requests connects from its address to where the
// server says the client is, and opens the connection with the request's
// token, AnswerAfterMs after the client's own connection to it came (or
// after AnswerAnywayMs, when none comes): both of the client's attempts
// reach it, and the answer comes after the direct one succeeded. One
// that resets instead takes no relayed request: it reads the introduction
// and the first message on the client's first connection and resets it
// (no linger), and takes later connections as the others do.
//
// It counts the client's requests that it read, a browse or a queue
// request of a file, each time one comes. One told to browse the client
// opens a messaging connection of its own from its address, asks there for
// the client's share and for a folder's files, and counts the replies that
// come, on whichever of its connections.
class AnswerPeer : public QObject
{
    Q_OBJECT

public:
    enum class Role
    {
        AnswersRelays,
        ResetsFirst
    };

    // i_address: its loopback address in host order; i_clientPort: the
    // client's plain port, where its file connections go.
    AnswerPeer(int i_index, quint32 i_address, Role i_role, quint16 i_clientPort, const QByteArray& i_fileBytes);
    ~AnswerPeer() override;
    AnswerPeer(const AnswerPeer&) = delete;
    AnswerPeer& operator=(const AnswerPeer&) = delete;

    bool Listening() const { return m_listener.isListening(); }
    quint16 Port() const { return m_listener.serverPort(); }
    // The client's relayed request as the server passes it on.
    void OnRelayed(const QByteArray& i_request);
    // Browses the client, and asks for the files of the client's folder.
    void Browse(const std::string& i_folder);
    // The client's listings of its share and of the folder that came.
    int RepliesReceived() const { return m_replies; }
    static constexpr int AnswerAfterMs = 10;
    static constexpr int AnswerAnywayMs = 2000;
    // The most times one request of the client came; 0 when none came.
    int RequestsMax() const;
    // Its answers to relayed requests that the client closed.
    int AnswersClosed() const;
    // What came and went, for standard error.
    QString Summary() const;

private:
    struct Connection
    {
        QTcpSocket* mp_socket = nullptr;
        QByteArray m_buffer;
        // Taken from the listener: the client's first message is still to
        // be read.
        bool m_introducing = false;
        bool m_standing = true;
        // Opened by the peer on a relayed request.
        bool m_answer = false;
        // When it was opened, in the order of all the peer's connections.
        qint64 m_openedAs = -1;
    };

    Connection& Add(QTcpSocket* ip_socket, bool i_answer);
    // Opens the answer to a relayed request.
    void Answer(quint32 i_address, quint16 i_port, quint32 i_token);
    void OnAccepted();
    void OnBytes(Connection& io_connection);
    void OnMessage(const QByteArray& i_body);
    // Writes on the messaging connection opened last that stands; nothing
    // when none does.
    void Send(const QByteArray& i_frame);
    static void Reset(QTcpSocket& io_socket);

    int m_index;
    quint32 m_address;
    Role m_role;
    quint16 m_clientPort;
    QTcpServer m_listener;
    BoundHonestUploads m_uploads;
    QByteArray m_listing;
    std::vector<std::unique_ptr<Connection>> m_connections;
    qint64 m_opened = 0;
    bool m_resetDone = false;
    int m_accepted = 0;
    int m_answered = 0;
    int m_replies = 0;
    // Messages written on its answers, on its other connections, and none.
    int m_sentOnAnswers = 0;
    int m_sentOnClients = 0;
    int m_lost = 0;
    // Relayed requests whose answer waits for the client's own connection.
    struct Relayed
    {
        quint32 m_address;
        quint16 m_port;
        quint32 m_token;
    };
    std::vector<Relayed> m_relayed;
    // The client's requests by what they ask, and the times each came.
    std::map<std::string, int> m_requests;
};
