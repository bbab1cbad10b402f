#pragma once

// The distributed-network manager in a test: the server link logged in to
// the fake central server as "me", a controllable clock, the requests for
// "D" connections recorded instead of sent to a peer layer, and "D"
// connections made as socket pairs on the loopback: our end is handed to the
// manager, the far end stays with the test.

#include "ServerTestSetup.h"
#include "WireBytes.h"

#include "dnet/DNetManager.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

// A "D" message as another client writes it: [u32 length][u8 code][payload].
inline QByteArray DFrame(quint8 i_code, const QByteArray& i_payload)
{
    return WireWriter().U32(quint32(i_payload.size() + 1)).U8(i_code).Raw(i_payload);
}

inline QByteArray SearchPayload(const std::string& i_user, quint32 i_token, const std::string& i_query)
{
    return WireWriter().U32(0).Str(i_user).U32(i_token).Str(i_query);
}

// The far end of one "D" connection.
class FarEnd
{
public:
    struct Frame
    {
        quint8 m_code;
        QByteArray m_payload;
        bool operator==(const Frame& i_other) const { return m_code == i_other.m_code && m_payload == i_other.m_payload; }
    };

    explicit FarEnd(QTcpSocket* ip_socket) : mp_socket(ip_socket) {}

    void Send(quint8 i_code, const QByteArray& i_payload) { SendRaw(DFrame(i_code, i_payload)); }
    void SendRaw(const QByteArray& i_bytes)
    {
        mp_socket->write(i_bytes);
        mp_socket->flush();
    }
    // Every complete frame received so far.
    QList<Frame> Frames()
    {
        m_received.append(mp_socket->readAll());
        QList<Frame> l_frames;
        qsizetype l_at = 0;
        while (m_received.size() - l_at >= 4) {
            const quint32 l_length = qFromLittleEndian<quint32>(m_received.constData() + l_at);
            if (l_length == 0 || m_received.size() - l_at - 4 < qsizetype(l_length))
                break;
            l_frames.append(Frame{quint8(m_received.at(l_at + 4)), m_received.mid(l_at + 5, qsizetype(l_length) - 1)});
            l_at += 4 + qsizetype(l_length);
        }
        return l_frames;
    }
    QByteArray Bytes()
    {
        m_received.append(mp_socket->readAll());
        return m_received;
    }
    bool WaitForFrames(int i_count)
    {
        return QTest::qWaitFor([&] { return Frames().size() >= i_count; }, 5000);
    }
    bool WaitForClose()
    {
        return QTest::qWaitFor([&] { return mp_socket->state() == QAbstractSocket::UnconnectedState; }, 5000);
    }
    // Takes no more bytes off the connection: what is sent piles up in the
    // system's buffers, then at the sender.
    void StopReading() { mp_socket->setReadBufferSize(1); }
    bool IsOpen() const { return mp_socket->state() == QAbstractSocket::ConnectedState; }
    void Close() { mp_socket->disconnectFromHost(); }

private:
    QTcpSocket* mp_socket;
    QByteArray m_received;
};

struct DNetTestWorld
{
    using Search = std::tuple<std::string, quint32, std::string>;

    DNetTestWorld()
    {
        m_listener.listen(QHostAddress::LocalHost, 0);
        mp_manager = std::make_unique<DNetManager>();
        mp_manager->SetConnectionRequester([this](const std::string& i_user) { m_requested.push_back(i_user); });
        mp_manager->SetClock([this] { return m_now; });
        QObject::connect(mp_manager.get(), &DNetManager::DNetSearchRequest, mp_manager.get(),
                         [this](std::string i_user, quint32 i_token, std::string i_query) {
                             m_searches.push_back(Search{i_user, i_token, i_query});
                         });
        m_loggedIn = m_setup.LogIn("me", "pw");
        m_loggedIn = m_loggedIn && m_setup.m_fake.WaitFor(Server::AcceptChildrenCode);
    }

    ~DNetTestWorld()
    {
        mp_manager.reset();
        m_farEnds.clear();
        m_listener.close();
    }

    // A connected pair: our end (for the manager, which then owns it) and
    // the far end (kept here).
    QTcpSocket* MakePair(FarEnd*& op_far)
    {
        op_far = nullptr;
        auto* lp_ours = new QTcpSocket;
        lp_ours->connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        if (!m_listener.waitForNewConnection(5000) || !lp_ours->waitForConnected(5000)) {
            delete lp_ours;
            return nullptr;
        }
        m_farEnds.push_back(std::make_unique<FarEnd>(m_listener.nextPendingConnection()));
        op_far = m_farEnds.back().get();
        return lp_ours;
    }

    // A parent that told its level and root, once the server has heard
    // that we accept children.
    FarEnd* MakeParent(const std::string& i_user, qint32 i_level = 2, const std::string& i_root = "top")
    {
        FarEnd* lp_far = nullptr;
        QTcpSocket* lp_ours = MakePair(lp_far);
        if (!lp_ours)
            return nullptr;
        const int l_accepts = m_setup.m_fake.CountOf(Server::AcceptChildrenCode);
        mp_manager->OnDNetConnectionAccepted(i_user, lp_ours);
        lp_far->Send(4, WireWriter().I32(i_level));
        lp_far->Send(5, WireWriter().Str(i_root));
        if (!m_setup.m_fake.WaitFor(Server::AcceptChildrenCode, l_accepts + 1))
            return nullptr;
        return lp_far;
    }

    FarEnd* MakeChild(const std::string& i_user)
    {
        FarEnd* lp_far = nullptr;
        QTcpSocket* lp_ours = MakePair(lp_far);
        if (!lp_ours)
            return nullptr;
        mp_manager->OnDNetConnectionRequested(i_user, lp_ours);
        return lp_far;
    }

    FakeCentralServer& Fake() { return m_setup.m_fake; }
    FakeCentralServer::DistributedState State() { return m_setup.m_fake.DistributedStateOf("me"); }
    // The codes of the distributed network the server got, in order.
    QList<quint32> DistributedCodesReceived()
    {
        QList<quint32> l_codes;
        for (const FakeCentralServer::Message& l_message : m_setup.m_fake.m_received) {
            if (l_message.m_code == 71 || l_message.m_code == 100 || l_message.m_code == 126 || l_message.m_code == 127)
                l_codes.append(l_message.m_code);
        }
        return l_codes;
    }

    ServerTestSetup m_setup;
    QTcpServer m_listener;
    std::vector<std::unique_ptr<FarEnd>> m_farEnds;
    std::unique_ptr<DNetManager> mp_manager;
    std::vector<std::string> m_requested;
    std::vector<Search> m_searches;
    qint64 m_now = 1000000;
    bool m_loggedIn = false;
};
