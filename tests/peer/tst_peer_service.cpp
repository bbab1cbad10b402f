// The messenger's schema, its start after the data file, its listeners, its
// word to the server after login, and its end.
#include "PeerTestWorld.h"

#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "server/Server.h"

#include <QTcpServer>
#include <QtTest>

namespace
{
std::string Setting(const char* ip_name)
{
    return d.GetType("global")->HasItem(ip_name)["global_value"].AsString();
}
}

class TestPeerService : public QObject
{
    Q_OBJECT

private slots:
    void firstStartGetsBothDefaultPortsAndListens()
    {
        PeerTestWorld l_world;
        l_world.Load();
        QCOMPARE(Setting("listening_port"), std::string("2235"));
        QCOMPARE(Setting("obfuscated_listening_port"), std::string("8973"));
        QCOMPARE(l_world.m_configuredPorts, (std::vector<quint16>{2235, 8973}));
        QVERIFY(l_world.PlainListening());
        QVERIFY(l_world.ObfuscatedListening());
        QVERIFY(l_world.LogTexts().isEmpty());
    }

    void savedPortsAreKeptAndAPendingPortIsApplied()
    {
        {
            PeerTestWorld l_world;
            Settings::Set("listening_port", "5000");
            l_world.Load();
            QCOMPARE(Setting("listening_port"), std::string("5000"));
            QCOMPARE(l_world.m_configuredPorts.front(), quint16(5000));
        }
        {
            PeerTestWorld l_world;
            Settings::Set("listening_port", "5000");
            Settings::Set("new_listening_port", "6000");
            l_world.Load();
            QCOMPARE(Setting("listening_port"), std::string("6000"));
            QVERIFY(!d.GetType("global")->HasItem("new_listening_port"));
            QVERIFY(!d.GetType("global_value")->HasItem("5000").IsConnected("global"));
            QCOMPARE(l_world.m_configuredPorts.front(), quint16(6000));
        }
        {
            // A pending port without a value changes nothing and stays.
            PeerTestWorld l_world;
            Settings::Set("listening_port", "5000");
            d.GetType("global")->GetItem("new_listening_port");
            l_world.Load();
            QCOMPARE(Setting("listening_port"), std::string("5000"));
            QVERIFY(d.GetType("global")->HasItem("new_listening_port"));
        }
    }

    void portsOutsideSixteenBitsAndMissingValues()
    {
        {
            PeerTestWorld l_world;
            Settings::Set("listening_port", "70000");
            l_world.Load();
            QCOMPARE(l_world.m_configuredPorts.front(), quint16(4464));
        }
        {
            // A setting that exists without a value gets no default: the
            // system picks the port.
            PeerTestWorld l_world;
            d.GetType("global")->GetItem("listening_port");
            l_world.Load();
            QCOMPARE(Setting("listening_port"), std::string());
            QCOMPARE(l_world.m_configuredPorts.front(), quint16(0));
            QVERIFY(l_world.PlainListening());
        }
    }

    void aPortThatCannotBeBoundLeavesOneLineAndTheOtherListener()
    {
        QTcpServer l_taken;
        QVERIFY(l_taken.listen(QHostAddress::LocalHost, 0));
        PeerTestWorld l_world;
        l_world.BindConfigured();
        Settings::Set("listening_port", "0");
        Settings::Set("obfuscated_listening_port", std::to_string(l_taken.serverPort()));
        l_world.Load();
        QVERIFY(l_world.PlainListening());
        QVERIFY(!l_world.ObfuscatedListening());
        const QStringList l_lines = l_world.LogTexts();
        QCOMPARE(l_lines.size(), 1);
        QVERIFY2(l_lines.front().startsWith(
                     QString("Could not listen for peer connections on port %1: ").arg(l_taken.serverPort())),
                 qPrintable(l_lines.front()));
    }

    void listenersStartAlsoAfterADamagedDataFile()
    {
        QTemporaryDir l_folder;
        const QString l_path = l_folder.filePath("client.dat");
        QFile l_file(l_path);
        QVERIFY(l_file.open(QIODevice::WriteOnly));
        l_file.write("this is no data file");
        l_file.close();

        PeerTestWorld l_world;
        bool l_failed = false;
        try {
            dataSaver->Load(QFile::encodeName(l_path).constData());
        } catch (const DataLoadFailure&) {
            l_failed = true;
        }
        QVERIFY(l_failed);
        QVERIFY(l_world.PlainListening());
        QVERIFY(l_world.ObfuscatedListening());
    }

    void theServerLearnsBothPortsAfterEachLogin()
    {
        PeerTestWorld l_world;
        l_world.Load();
        emit gp_server->Connected();
        Settings::Set("listening_port", "4000");
        emit gp_server->Connected();
        QCOMPARE(l_world.m_requests.m_waitPorts, (std::vector<std::pair<int, int>>{{2235, 8973}, {4000, 8973}}));
    }

    void relationsHoldWhatTheyShould()
    {
        PeerTestWorld l_world;
        ItemPtr l_first = d.GetType("peer_socket")->NewItem("1");
        ItemPtr l_second = d.GetType("peer_socket")->NewItem("2");
        ItemPtr l_ann = d.GetType("user")->GetItem("ann");
        l_first += l_ann;
        l_second += l_ann;
        l_first += d.GetType("user")->GetItem("bob");
        // A socket belongs to one user; a user may hold many sockets.
        QCOMPARE(l_first["user"].AsString(), std::string("bob"));
        QCOMPARE(l_ann.GetItems("peer_socket").size(), std::size_t(1));
        // Every socket's flag is the one shared flag item.
        QVERIFY(l_first.NewItem("is_obfuscated").Get() == l_second.NewItem("is_obfuscated").Get());
        // Each one has its own activity time, which goes with it.
        QVERIFY(l_first["last_activity_time"].Get() != l_second["last_activity_time"].Get());
        l_first.Remove();
        l_second.Remove();
        QCOMPARE(PeerTestWorld::ItemCount("last_activity_time"), 0);

        // A send order holds one queued message.
        ItemPtr l_order = d.GetType("send_order")->GetItem("0");
        ItemPtr l_one = d.GetType("unsent_message")->GetItem("11");
        ItemPtr l_two = d.GetType("unsent_message")->GetItem("12");
        l_one += l_order;
        l_two += l_order;
        QVERIFY(!l_one.IsConnected("send_order"));
        QCOMPARE(l_order.GetItems("unsent_message").size(), std::size_t(1));
        l_one.Remove();
        l_two.Remove();
    }

    void aSocketClosingDuringShutDownLeavesTheStoreAlone()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_far);
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("uninitialized_socket") == 1; }));
        l_world.ClearLog();
        // The accepted socket goes with its listener.
        l_world.DestroyMessenger();
        QVERIFY(g_peerMessengerDeleted);
        QVERIFY(lp_far->WaitForDisconnect());
        PeerTestWorld::Settle(50);
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 1);
        QVERIFY(l_world.LogTexts().isEmpty());
        d.GetType("uninitialized_socket")->GetItems().Remove();
    }

    // A messaging connection still open at shut-down ends with the
    // messenger, its activity time freed; a messenger made afterwards (the
    // window started again) takes its sockets down again.
    void openConnectionsEndWithTheMessengerAndANewOneServesAgain()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        QCOMPARE(PeerTestWorld::ItemCount("last_activity_time"), 1);
        l_world.DestroyMessenger();
        QCOMPARE(PeerTestWorld::ItemCount("last_activity_time"), 0);
        QVERIFY(lp_far->WaitForDisconnect());
        QVERIFY(g_peerMessengerDeleted);
    }

    void aMessengerMadeAfterAnotherWentDisposesOfClosedConnections()
    {
        {
            PeerTestWorld l_first;
            l_first.DestroyMessenger();
        }
        QVERIFY(g_peerMessengerDeleted);
        PeerTestWorld l_world;
        l_world.Load();
        QVERIFY(!g_peerMessengerDeleted);
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        lp_far->Socket()->disconnectFromHost();
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 0; }));
    }
};

QTEST_GUILESS_MAIN(TestPeerService)
#include "tst_peer_service.moc"
