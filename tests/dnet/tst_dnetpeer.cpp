// The distributed network on top of the real peer layer: a candidate named
// by the server is reached through the peer layer and becomes the parent,
// and a peer that opens a "D" connection to us becomes a child, with the
// message it sent right behind its first message read at once.
#include "FakeCentralServer.h"
#include "FakeGateway.h"
#include "FakePeer.h"
#include "WireBytes.h"

#include "core/log/LogService.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "dnet/DNetManager.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <tuple>

namespace {

QByteArray DBody(quint8 i_code, const QByteArray& i_payload)
{
    return WireWriter().U8(i_code).Raw(i_payload);
}

QByteArray DirectInit(const std::string& i_user, const std::string& i_type)
{
    return WireWriter().U8(1).Str(i_user).Str(i_type).U32(0);
}

void Settle()
{
    QTest::qWait(50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

class TestDNetPeer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void CandidateReachedThroughThePeerLayerBecomesParent();
    void PeerOpeningADConnectionBecomesAChild();

private:
    QTemporaryDir m_logFolder;
    FakeCentralServer m_fake;
    QTcpServer* mp_plainListener = nullptr;
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
    PeerMessenger* mp_messenger = nullptr;
    std::unique_ptr<DNetManager> mp_manager;
    std::vector<std::tuple<std::string, quint32, std::string>> m_searches;
};

void TestDNetPeer::init()
{
    d.Reset();
    SetLogFolder(m_logFolder.path());
    mp_timers = std::make_unique<TimerManager>();
    mp_saver = std::make_unique<DataSaver>();
    PortForwarder::SetGatewayFactory(FakeGateway::Factory(std::make_shared<FakeGatewayScript>()));
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();
    SetPeerListenFunction([this](QTcpServer& io_server, quint16) {
        if (!mp_plainListener)
            mp_plainListener = &io_server;
        return io_server.listen(QHostAddress::LocalHost, 0);
    });
    mp_messenger = new PeerMessenger;
    mp_manager = std::make_unique<DNetManager>();
    connect(mp_manager.get(), &DNetManager::DNetSearchRequest, this,
            [this](std::string i_user, quint32 i_token, std::string i_query) { m_searches.emplace_back(i_user, i_token, i_query); });
    Settings::DeclareTypes();
    dataSaver->EmitDataLoaded();
    Settings::Set("use_upnp", "no");
    QVERIFY(m_fake.Start());
    mp_server->SetServerAddress("127.0.0.1", m_fake.Port());
    Settings::Set("username", "me");
    Settings::Set("password", "pw");
    mp_server->Connect();
    QVERIFY(QTest::qWaitFor([this] { return mp_server->IsConnected(); }, 5000));
    QVERIFY(m_fake.WaitFor(Server::AcceptChildrenCode));
}

void TestDNetPeer::cleanup()
{
    mp_manager.reset();
    Settle();
    // Sockets the peer layer still holds go with their items.
    std::vector<QTcpSocket*> l_sockets;
    for (const char* lp_type : {"peer_connection_request_socket", "uninitialized_socket", "peer_socket", "connect_to_peer_request_socket"}) {
        for (ItemPtr l_item : d.GetType(lp_type)->GetItems()) {
            if (auto* lp_socket = l_item.AsObject<QTcpSocket>())
                l_sockets.push_back(lp_socket);
            l_item.Remove();
        }
    }
    for (QTcpSocket* lp_socket : l_sockets) {
        QObject::disconnect(lp_socket, nullptr, nullptr, nullptr);
        delete lp_socket;
    }
    delete mp_messenger;
    mp_messenger = nullptr;
    mp_plainListener = nullptr;
    Settle();
    SetPeerListenFunction({});
    mp_server.reset();
    mp_saver.reset();
    mp_timers.reset();
    m_fake.Stop();
    m_searches.clear();
    d.Reset();
}

void TestDNetPeer::CandidateReachedThroughThePeerLayerBecomesParent()
{
    FakePeer l_candidate;
    QVERIFY(l_candidate.Listen());
    QVERIFY(m_fake.SendParentCandidates("me", {{"up", FakeCentralServer::LoopbackAddress, l_candidate.Port()}}));
    FakePeerConnection* lp_connection = l_candidate.WaitForConnection(false);
    QVERIFY(lp_connection);
    QVERIFY(lp_connection->WaitForFrames(1));
    QCOMPARE(lp_connection->Frames().front(), DirectInit("me", "D"));
    QTRY_VERIFY(mp_manager->HasParent());
    QCOMPARE(mp_manager->ParentName(), std::string("up"));
    QVERIFY(m_fake.WaitFor(Server::HaveNoParentCode, 2));
    QCOMPARE(m_fake.Received(Server::HaveNoParentCode).back().m_payload, QByteArray(1, '\0'));

    // From here on the connection carries the distributed network's messages.
    lp_connection->SendRaw(FakePeerFrames::Plain(DBody(4, WireWriter().I32(0))) +
                           FakePeerFrames::Plain(DBody(5, WireWriter().Str("up"))) +
                           FakePeerFrames::Plain(DBody(3, WireWriter().U32(0).Str("asker").U32(3).Str("tune"))));
    QVERIFY(m_fake.WaitFor(Server::BranchRootCode));
    QCOMPARE(m_fake.DistributedStateOf("me").m_branchLevel, quint32(1));
    QCOMPARE(m_fake.DistributedStateOf("me").m_branchRoot, std::string("up"));
    QTRY_COMPARE(m_searches.size(), std::size_t(1));
    QCOMPARE(std::get<2>(m_searches.front()), std::string("tune"));
}

void TestDNetPeer::PeerOpeningADConnectionBecomesAChild()
{
    // First a parent, so that children are taken.
    QTcpServer l_listener;
    QVERIFY(l_listener.listen(QHostAddress::LocalHost, 0));
    auto* lp_ours = new QTcpSocket;
    lp_ours->connectToHost(QHostAddress::LocalHost, l_listener.serverPort());
    QVERIFY(l_listener.waitForNewConnection(5000));
    QTcpSocket* lp_parentEnd = l_listener.nextPendingConnection();
    QVERIFY(lp_ours->waitForConnected(5000));
    mp_manager->OnDNetConnectionAccepted("up", lp_ours);
    lp_parentEnd->write(WireWriter().U32(5).U8(4).I32(0));
    lp_parentEnd->write(WireWriter().U32(7).U8(5).Str("up"));
    QVERIFY(m_fake.WaitFor(Server::AcceptChildrenCode, 2));

    // The child's first message and a ping arrive in one piece.
    QVERIFY(mp_plainListener && mp_plainListener->isListening());
    FakePeer l_child;
    FakePeerConnection* lp_connection = l_child.ConnectTo(mp_plainListener->serverPort(), false);
    QVERIFY(lp_connection);
    lp_connection->SendRaw(FakePeerFrames::Plain(DirectInit("kid", "D")) + FakePeerFrames::Plain(DBody(0, QByteArray())));
    QTRY_COMPARE(mp_manager->ChildNames(), std::vector<std::string>{"kid"});
    QVERIFY(lp_connection->WaitForFrames(2));
    QCOMPARE(lp_connection->Frames(), (QList<QByteArray>{DBody(4, WireWriter().I32(1)), DBody(5, WireWriter().Str("up"))}));

    // A search from the parent reaches the child through the peer layer's socket.
    const QByteArray l_search = WireWriter().U32(0).Str("asker").U32(8).Str("song");
    lp_parentEnd->write(WireWriter().U32(quint32(l_search.size() + 1)).U8(3).Raw(l_search));
    QVERIFY(lp_connection->WaitForFrames(3));
    QCOMPARE(lp_connection->Frames().at(2), DBody(3, l_search));
}

QTEST_GUILESS_MAIN(TestDNetPeer)
#include "tst_dnetpeer.moc"
