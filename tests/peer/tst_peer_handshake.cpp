// Connections accepted on our listeners: the first message in both forms,
// what each connection becomes, and what a bad frame ends.
#include "PeerSignalCatcher.h"
#include "LoopbackPorts.h"
#include "PeerTestWorld.h"
#include "WireBytes.h"

#include "core/platform/RandomSource.h"
#include "peer/PeerLogNotes.h"

#include <QTcpSocket>
#include <QtTest>

#include <deque>

namespace
{
QByteArray Direct(const std::string& i_user, const std::string& i_type)
{
    return WireWriter().U8(1).Str(i_user).Str(i_type).U32(0);
}

QByteArray Indirect(quint32 i_token)
{
    return WireWriter().U8(0).U32(i_token);
}

const QString RefusedAnswers =
    "Connections that answered a relayed request with a token not ours, or no longer live, closed";
const QString NoDirection = "Connections whose first message told no direction, closed";
const QString Unreadable = "Connections whose first message could not be read, closed";
const QString UnknownType = "Connections of a type we do not know closed, the latest of type p from user bob";

QString OnceAMinute(const QString& i_text)
{
    return i_text + " (said once a minute).";
}

bool WaitForItems(const char* ip_type, int i_count)
{
    return PeerTestWorld::WaitFor([&] { return PeerTestWorld::ItemCount(ip_type) == i_count; });
}

MemStream Message(quint32 i_code, const QByteArray& i_payload = {})
{
    MemStream l_message;
    l_message.Write(static_cast<unsigned int>(i_code));
    l_message.WriteBuffer(i_payload.constData(), static_cast<unsigned long>(i_payload.size()));
    return l_message;
}
}

class TestPeerHandshake : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SetRandomSource({}); }

    void aDirectMessagingConnectionBecomesAPeerSocket()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_far);
        QVERIFY(WaitForItems("uninitialized_socket", 1));
        QVERIFY(!ItemPtr(d.GetType("uninitialized_socket")->GetItems()).IsConnected("is_obfuscated"));

        lp_far->SendFrame(Direct("bob", "P"));
        QVERIFY(WaitForItems("peer_socket", 1));
        ItemPtr l_socket = d.GetType("peer_socket")->GetItems();
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 0);
        QCOMPARE(l_socket["user"].AsString(), std::string("bob"));
        QCOMPARE(l_socket["connection_open_time"].AsString(), l_world.m_now.toString(Qt::TextDate).toStdString());
        QVERIFY(!l_socket.IsConnected("is_obfuscated"));
        // Replies are not held back for the peer's delayed acknowledgements.
        QCOMPARE(l_socket.AsObject<QTcpSocket>()->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
        QCOMPARE(l_world.LogTexts(), (QStringList{"Accepted messaging connection to user bob",
                                                  "Peer connection of type P opened from user bob"}));

        // Every message read renews the connection's activity time.
        l_world.Advance(90000);
        l_world.ClearLog();
        lp_far->SendFrame(WireWriter().U32(1).Str("hi"));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Received PM_SAY message from user bob") == 1; }));
        QCOMPARE(*l_socket["last_activity_time"].AsObject<QDateTime>(), l_world.m_now);

        // A second messaging connection of the same user stands beside it.
        FakePeerConnection* lp_second = l_peer.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_second);
        lp_second->SendFrame(Direct("bob", "P"));
        QVERIFY(WaitForItems("peer_socket", 2));
        QCOMPARE(d.GetType("user")->GetItem("bob").GetItems("peer_socket").size(), std::size_t(2));
    }

    // A user known only through a connection goes when the connection
    // does; one the client knows otherwise stays.
    void aUserKnownOnlyByItsConnectionGoesWithIt_data()
    {
        QTest::addColumn<bool>("knownOtherwise");
        QTest::newRow("only the connection") << false;
        QTest::newRow("with an address") << true;
    }
    void aUserKnownOnlyByItsConnectionGoesWithIt()
    {
        QFETCH(bool, knownOtherwise);
        PeerTestWorld l_world;
        l_world.Load();
        if (knownOtherwise)
            l_world.GiveAddress("bob", PeerTestWorld::Loopback, 1, 0);
        {
            FakePeer l_peer;
            FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.PlainPort(), false);
            QVERIFY(lp_far);
            lp_far->SendFrame(Direct("bob", "P"));
            QVERIFY(WaitForItems("peer_socket", 1));
        }
        QVERIFY(WaitForItems("peer_socket", 0));
        PeerTestWorld::Settle();
        QCOMPARE(!d.GetType("user")->HasItem("bob").IsNull(), knownOtherwise);
    }

    void anObfuscatedConnectionIsReadAndWrittenMasked()
    {
        std::deque<quint32> l_draws{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
        SetRandomSource([&] {
            const quint32 l_next = l_draws.empty() ? 0 : l_draws.front();
            if (!l_draws.empty())
                l_draws.pop_front();
            return l_next;
        });
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.ObfuscatedPort(), true);
        QVERIFY(lp_far);
        lp_far->SendFrame(Direct("bob", "P"), 0xDEADBEEF);
        QVERIFY(WaitForItems("peer_socket", 1));
        QVERIFY(ItemPtr(d.GetType("peer_socket")->GetItems()).IsConnected("is_obfuscated"));
        // The server knows bob where he connects from: this is his own.
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, ClosedLoopbackPort(), 0);

        MemStream l_first = Message(4);
        MemStream l_second = Message(36, WireWriter().U32(9).Str("folder"));
        l_world.Messenger().SendMessage("bob", l_first);
        l_world.Messenger().SendMessage("bob", l_second);
        QVERIFY(lp_far->WaitForFrames(2));
        QCOMPARE(lp_far->Frames(), (QList<QByteArray>{WireWriter().U32(4), WireWriter().U32(36).U32(9).Str("folder")}));
        // A fresh mask for every frame, from four draws each.
        QCOMPARE(lp_far->Masks(), (QList<quint32>{0x11223344u, 0x55667788u}));
    }

    void aFileConnectionIsHandedOverWithItsRawToken_data()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::addColumn<bool>("tokenLater");
        QTest::newRow("plain, token in the same write") << false << false;
        QTest::newRow("obfuscated, token in the same write") << true << false;
        QTest::newRow("plain, token later") << false << true;
        QTest::newRow("obfuscated, token later") << true << true;
    }
    void aFileConnectionIsHandedOverWithItsRawToken()
    {
        QFETCH(bool, obfuscated);
        QFETCH(bool, tokenLater);
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far =
            l_peer.ConnectTo(obfuscated ? l_world.ObfuscatedPort() : l_world.PlainPort(), obfuscated);
        QVERIFY(lp_far);
        const QByteArray l_first = obfuscated ? FakePeerFrames::Masked(Direct("bob", "F"), 0x0BADF00D)
                                              : FakePeerFrames::Plain(Direct("bob", "F"));
        const QByteArray l_token = WireWriter().U32(0xA1B2C3D4);
        if (tokenLater) {
            lp_far->SendRaw(l_first);
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Accepted file connection to user bob") == 1; }));
            QVERIFY(l_catcher.m_handOvers.empty());
            lp_far->SendRaw(l_token.left(3));
            PeerTestWorld::Settle(30);
            QVERIFY(l_catcher.m_handOvers.empty());
            lp_far->SendRaw(l_token.mid(3) + "data");
        } else {
            lp_far->SendRaw(l_first + l_token + "data");
        }
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 1; }));
        const PeerSignalCatcher::HandOver& l_handOver = l_catcher.m_handOvers.front();
        QCOMPARE(l_handOver.m_signal, std::string("FileConnectionRequested"));
        QCOMPARE(l_handOver.m_user, std::string("bob"));
        QCOMPARE(l_handOver.m_token, 0xA1B2C3D4u);
        QVERIFY(l_handOver.mp_socket->parent() == nullptr);
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_handOver.mp_socket->bytesAvailable() >= 4; }));
        QCOMPARE(l_handOver.mp_socket->readAll(), QByteArray("data"));
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);

        // The messenger reads the socket no more, nor disposes of it.
        l_world.ClearLog();
        lp_far->SendFrame("more");
        const qint64 l_frameSize = obfuscated ? 12 : 8;
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_handOver.mp_socket->bytesAvailable() >= l_frameSize; }));
        QVERIFY(l_world.LogTexts().isEmpty());
        QCOMPARE(l_handOver.mp_socket->readAll().size(), l_frameSize);
    }

    void aDistributedConnectionLeavesWhatFollowsToItsNewOwner()
    {
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_far);
        lp_far->SendRaw(FakePeerFrames::Plain(Direct("carl", "D")) + FakePeerFrames::Plain("dnet message"));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 1; }));
        QCOMPARE(l_catcher.m_handOvers.front().m_signal, std::string("DNetConnectionRequested"));
        QCOMPARE(l_catcher.m_handOvers.front().m_user, std::string("carl"));
        QTcpSocket* lp_socket = l_catcher.m_handOvers.front().mp_socket;
        QVERIFY(lp_socket->parent() == nullptr);
        QVERIFY(PeerTestWorld::WaitFor([&] { return lp_socket->bytesAvailable() >= 16; }));
        QCOMPARE(lp_socket->readAll(), FakePeerFrames::Plain("dnet message"));
        QCOMPARE(l_world.LogTexts(), (QStringList{"Accepted DNet connection to user carl",
                                                  "Peer connection of type D opened from user carl"}));
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 0);
    }

    // Each kind of unusable first message is counted in a line a minute,
    // which stands for the connection's disposal too: a crowd can send them
    // by the thousand. What was counted since the line is written when the
    // peer layer shuts down, however recent the line: the events would be
    // lost with the counters.
    void badFirstMessagesEndTheConnection_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << NoDirection;
        QTest::newRow("direct, no token") << QByteArray(WireWriter().U8(1).Str("bob").Str("P")) << Unreadable;
        QTest::newRow("lower-case type") << Direct("bob", "p") << UnknownType;
        QTest::newRow("indirect, short token") << QByteArray(WireWriter().U8(0).U8(1).U8(2)) << Unreadable;
        // (refusedAnswersAreCountedOnceAMinute)
        QTest::newRow("indirect, unknown token") << Indirect(99) << RefusedAnswers;
    }
    void badFirstMessagesEndTheConnection()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        constexpr int Connections = 3;
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        for (int l_connection = 0; l_connection < Connections; ++l_connection) {
            FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.PlainPort(), false);
            QVERIFY(lp_far);
            QVERIFY(WaitForItems("uninitialized_socket", 1));
            lp_far->SendFrame(body);
            QVERIFY(lp_far->WaitForDisconnect());
            QCOMPARE(l_world.LogTexts(), QStringList{OnceAMinute(text)});
            QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 0);
            QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);
        }
        l_world.Advance(1000);
        l_world.DestroyMessenger();
        const QString l_count =
            QString("%1 (said once a minute; %2 since the last such line).").arg(text).arg(Connections - 1);
        QCOMPARE(l_world.LogTexts(), (QStringList{OnceAMinute(text), l_count}));
    }

    // Answers to relayed requests that are not ours, or no longer live,
    // come by the thousand when a crowd guesses tokens: each is closed, and
    // the log counts them once a minute, the last of them written by the
    // sweep once due; none writes a line of its own.
    void refusedAnswersAreCountedOnceAMinute_data()
    {
        QTest::addColumn<bool>("expired");
        QTest::newRow("tokens never ours") << false;
        QTest::newRow("the token of an expired request") << true;
    }
    void refusedAnswersAreCountedOnceAMinute()
    {
        QFETCH(bool, expired);
        constexpr int Answers = 20;
        PeerTestWorld l_world;
        l_world.Load();
        quint32 l_token = 99;
        if (expired) {
            l_world.GiveAddress("bob", 0, 0, 0);
            l_world.Messenger().RequestFileConnectionToUser("bob");
            QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(1));
            l_token = l_world.m_requests.m_relayed.front().m_token;
            l_world.Advance(2 * 60 * 1000);
            l_world.Messenger().EveryHalfMinute();
            QCOMPARE(PeerTestWorld::ItemCount("indirect_connect_to_peer_request"), 0);
        }
        l_world.ClearLog();
        FakePeer l_peer;
        for (int l_answer = 0; l_answer < Answers; ++l_answer) {
            FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.PlainPort(), false);
            QVERIFY(lp_far);
            lp_far->SendFrame(Indirect(expired ? l_token : l_token + quint32(l_answer)));
            QVERIFY(lp_far->WaitForDisconnect());
        }
        const QString l_first = RefusedAnswers + " (said once a minute).";
        QCOMPARE(l_world.LogTexts(), QStringList{l_first});
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 0);

        l_world.Advance(PeerLogNotes::EveryMs - 1);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.LogTexts().filter(RefusedAnswers), QStringList{l_first});
        l_world.Advance(1);
        l_world.Messenger().EveryHalfMinute();
        const QString l_count = QString("%1 (said once a minute; %2 since the last such line).")
                                    .arg(RefusedAnswers)
                                    .arg(Answers - 1);
        QCOMPARE(l_world.LogTexts().filter(RefusedAnswers), (QStringList{l_first, l_count}));
    }

    void ourRelayedRequestAnsweredByThePeer_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("signal");
        QTest::newRow("P") << "P" << "";
        QTest::newRow("F") << "F" << "FileConnectionAccepted";
        QTest::newRow("D") << "D" << "DNetConnectionAccepted";
    }
    void ourRelayedRequestAnsweredByThePeer()
    {
        QFETCH(QString, type);
        QFETCH(QString, signal);
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        // The server knows no address for bob: only the relayed path is
        // open.
        l_world.GiveAddress("bob", 0, 0, 0);
        if (type == "P") {
            MemStream l_message = Message(4);
            l_world.Messenger().SendMessage("bob", l_message);
        } else if (type == "F") {
            l_world.Messenger().RequestFileConnectionToUser("bob");
        } else {
            l_world.Messenger().RequestDNetConnection("bob");
        }
        QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(1));
        const unsigned int l_token = l_world.m_requests.m_relayed.front().m_token;

        FakePeer l_peer;
        FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_far);
        l_world.ClearLog();
        lp_far->SendFrame(Indirect(l_token));
        if (type == "P") {
            // The queued message follows at once.
            QVERIFY(lp_far->WaitForFrames(1));
            QCOMPARE(lp_far->Frames().front(), QByteArray(WireWriter().U32(4)));
            QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 1);
            QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
        } else {
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 1; }));
            QCOMPARE(l_catcher.m_handOvers.front().m_signal, signal.toStdString());
            QCOMPARE(l_catcher.m_handOvers.front().m_user, std::string("bob"));
        }
        const QStringList l_lines = l_world.LogTexts();
        QCOMPARE(l_lines.mid(0, 2),
                 (QStringList{QString("Disposing of peer connection request of type %1 to user bob").arg(type),
                              QString("Found req, accepted indirect connection to user bob, connection type %1").arg(type)}));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("indirect_connect_to_peer_request"), 0);
    }

    void anOverlongFrameEndsOnlyItsOwnConnection()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_good = l_peer.ConnectTo(l_world.PlainPort(), false);
        FakePeerConnection* lp_bad = l_peer.ConnectTo(l_world.ObfuscatedPort(), true);
        QVERIFY(lp_good && lp_bad);
        lp_good->SendFrame(Direct("ann", "P"));
        lp_bad->SendFrame(Direct("bob", "P"));
        QVERIFY(WaitForItems("peer_socket", 2));

        // Just the length and the mask: the body is not waited for.
        QByteArray l_header = FakePeerFrames::Masked(QByteArray(1048577, 'x'), 0x31415926).left(8);
        lp_bad->SendRaw(l_header);
        QVERIFY(lp_bad->WaitForDisconnect());
        QVERIFY(WaitForItems("peer_socket", 1));
        QCOMPARE(ItemPtr(d.GetType("peer_socket")->GetItems())["user"].AsString(), std::string("ann"));

        // A body of exactly one mebibyte is still a message.
        l_world.ClearLog();
        lp_good->SendFrame(QByteArray(WireWriter().U32(52)) + QByteArray(1048572, 'y'));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Received PM_NOTHING message from user ann") == 1; }));
    }

    // Before a connection has said who it is, a frame longer than a first
    // message can be ends it at once: its length alone is enough. Once it is
    // introduced, frames of the full size are taken again.
    void anOverlongFirstFrameEndsTheConnection_data()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::addColumn<int>("length");
        QTest::newRow("plain, longest") << false << 4096;
        QTest::newRow("plain, a byte more") << false << 4097;
        QTest::newRow("obfuscated, longest") << true << 4096;
        QTest::newRow("obfuscated, a byte more") << true << 4097;
    }
    void anOverlongFirstFrameEndsTheConnection()
    {
        QFETCH(bool, obfuscated);
        QFETCH(int, length);
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_peer.ConnectTo(obfuscated ? l_world.ObfuscatedPort() : l_world.PlainPort(), obfuscated);
        QVERIFY(lp_far);
        QVERIFY(WaitForItems("uninitialized_socket", 1));
        // A direct first message padded to the length: what follows its
        // fields is not read.
        QByteArray l_body = Direct("bob", "P");
        l_body.append(length - l_body.size(), 'x');
        if (length > 4096) {
            // The header, and a body that never comes.
            lp_far->SendRaw(obfuscated ? FakePeerFrames::Masked(l_body, 0x27182818).left(8)
                                       : QByteArray(WireWriter().U32(quint32(length))));
            QVERIFY(lp_far->WaitForDisconnect());
            QVERIFY(WaitForItems("uninitialized_socket", 0));
            QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);
            return;
        }
        lp_far->SendFrame(l_body);
        QVERIFY(WaitForItems("peer_socket", 1));
        l_world.ClearLog();
        lp_far->SendFrame(QByteArray(WireWriter().U32(52)) + QByteArray(1048572, 'y'));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Received PM_NOTHING message from user bob") == 1; }));
    }

    void aMessageTooShortForItsCodeEndsTheConnection()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        l_world.ClearLog();
        lp_far->SendFrame("abc");
        QVERIFY(lp_far->WaitForDisconnect());
        QVERIFY(WaitForItems("peer_socket", 0));
        QCOMPARE(l_world.LogTexts(), (QStringList{"Could not read message code on connection to user bob, disposing of socket",
                                                  "Disposing of socket", "Identified as peer socket"}));
        QCOMPARE(PeerTestWorld::ItemCount("last_activity_time"), 0);
    }
};

QTEST_GUILESS_MAIN(TestPeerHandshake)
#include "tst_peer_handshake.moc"
