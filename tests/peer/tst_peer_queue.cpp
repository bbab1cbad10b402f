// Messages to users by name: sent on the user's latest messaging connection,
// or queued, flushed in order once a connection stands, and expired.
#include "LoopbackPorts.h"
#include "PeerTestMessages.h"
#include "PeerTestWorld.h"
#include "RawClient.h"
#include "WireBytes.h"

#include "core/persist/Settings.h"
#include "peer/PeerOutgoingQueue.h"
#include "peer/PeerProbation.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

namespace
{
using PeerTestMessages::Body;
using PeerTestMessages::Message;

// A message of a million bytes after its code, and the size of its frame.
constexpr qint64 LargeFrameSize = 4 + 4 + 1000000;
MemStream Large()
{
    static const QByteArray s_filler(1000000, 'x');
    MemStream l_message = Message(5);
    l_message.WriteBuffer(s_filler.constData(), static_cast<unsigned long>(s_filler.size()));
    return l_message;
}

// A request to bob, told apart by its code, and its bytes on the wire.
QByteArray RequestBody(quint32 i_code)
{
    return Body(i_code, "about " + std::to_string(i_code));
}

QList<QByteArray> RequestBodies(const QList<quint32>& i_codes)
{
    QList<QByteArray> l_bodies;
    for (quint32 l_code : i_codes)
        l_bodies.append(RequestBody(l_code));
    return l_bodies;
}

void SendRequests(PeerTestWorld& io_world, const QList<quint32>& i_codes)
{
    for (quint32 l_code : i_codes) {
        MemStream l_message = Message(l_code, "about " + std::to_string(l_code));
        io_world.Messenger().SendMessage("bob", l_message);
    }
}

std::vector<std::string> QueuedOrders(const std::string& i_user)
{
    std::vector<std::string> l_orders;
    for (ItemPtr l_entry : d.GetType("user")->GetItem(i_user).GetItems("unsent_message").SortNumericBy("send_order", true))
        l_orders.push_back(l_entry["send_order"].AsString());
    return l_orders;
}
}

class TestPeerQueue : public QObject
{
    Q_OBJECT

private slots:
    // Logged in, the server is asked where bob is before anything goes;
    // with no server to ask, an attempt of ours starts at once.
    void withoutAConnectionTheMessageIsQueuedAndAConnectionAskedFor_data()
    {
        QTest::addColumn<bool>("loggedIn");
        QTest::newRow("logged in") << true;
        QTest::newRow("no server to ask") << false;
    }
    void withoutAConnectionTheMessageIsQueuedAndAConnectionAskedFor()
    {
        QFETCH(bool, loggedIn);
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = loggedIn;
        l_world.Load();
        MemStream l_first = Message(4);
        l_world.Messenger().SendMessage("bob", l_first);
        const QStringList l_queued{"Send PM_GET_SHARED_FILE_LIST message to user bob",
                                   "Did not find messaging connection to user, queueing unsent message"};
        const QStringList l_asked{"Asking the server for the address of user bob before sending to the user"};
        const QStringList l_attempted{"Attempting peer connection of type P to user bob",
                                      "Also sending indirect connection request.",
                                      "User address not found, requesting address"};
        QCOMPARE(l_world.LogTexts(), l_queued + (loggedIn ? l_asked : l_attempted));
        QCOMPARE(l_world.m_requests.m_addressRequests, std::vector<std::string>{"bob"});
        ItemPtr l_entry = d.GetType("unsent_message")->GetItems();
        QCOMPARE(l_entry["user"].AsString(), std::string("bob"));
        QCOMPARE(l_entry["send_order"].AsString(), std::string("0"));
        QCOMPARE(l_entry["send_time"].AsString(), l_world.m_now.toString(Qt::TextDate).toStdString());
        QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(loggedIn ? 0 : 1));
        if (!loggedIn)
            QCOMPARE(l_world.m_requests.m_relayed.front().m_type, std::string("P"));

        // A second one waits behind it; nothing is asked or attempted again.
        l_world.ClearLog();
        MemStream l_second = Message(99);
        l_world.Messenger().SendMessage("bob", l_second);
        QCOMPARE(l_world.LogTexts().front(), QString("Send 99 (unknown) message to user bob"));
        QCOMPARE(l_world.LogTexts().contains(
                     "Connection attempt to same user of same type already in progress, not re-attempting."),
                 !loggedIn);
        QCOMPARE(QueuedOrders("bob"), (std::vector<std::string>{"0", "1"}));
        QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(loggedIn ? 0 : 1));
        QCOMPARE(l_world.m_requests.m_addressRequests.size(), std::size_t(1));
    }

    void aNewConnectionFlushesItsUsersQueueInOrder()
    {
        PeerTestWorld l_world;
        l_world.Load();
        for (const char* lp_text : {"one", "two", "three"}) {
            MemStream l_message = Message(36, lp_text);
            l_world.Messenger().SendMessage("bob", l_message);
            if (std::string(lp_text) == "one") {
                MemStream l_other = Message(4);
                l_world.Messenger().SendMessage("ann", l_other);
            }
        }
        // The code is read from the start, wherever the stream was read to.
        MemStream l_read = Message(36, "four");
        unsigned int l_skipped = 0;
        QVERIFY(l_read.Read(l_skipped));
        l_world.Messenger().SendMessage("bob", l_read);
        QCOMPARE(l_world.Count("Send PM_GET_SHARED_FILES_IN_FOLDER message to user bob"), 4);

        FakePeer l_peer;
        l_world.ClearLog();
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        QVERIFY(lp_far->WaitForFrames(4));
        QCOMPARE(lp_far->Frames(), (QList<QByteArray>{Body(36, "one"), Body(36, "two"), Body(36, "three"), Body(36, "four")}));
        QCOMPARE(l_world.Count("Sending 4 pending peer messages to user bob"), 1);
        QVERIFY(QueuedOrders("bob").empty());
        QCOMPARE(QueuedOrders("ann"), (std::vector<std::string>{"1"}));

        // With bob's own connection standing, a message goes out at once.
        l_world.ClearLog();
        MemStream l_now = Message(4);
        l_world.Messenger().SendMessage("bob", l_now);
        QCOMPARE(l_world.LogTexts(), QStringList{"Send PM_GET_SHARED_FILE_LIST message to user bob"});
        QVERIFY(lp_far->WaitForFrames(5));
        QCOMPARE(lp_far->Frames().back(), Body(4));
    }

    void aFlushStopsAtTheFirstFailedWrite()
    {
        PeerTestWorld l_world;
        PeerOutgoingQueue l_queue;
        ItemPtr l_bob = d.GetType("user")->GetItem("bob");
        for (quint32 l_code : {40u, 41u, 43u})
            l_queue.Enqueue(l_bob, Message(l_code));
        l_world.Advance(5000);
        const std::string l_queuedAt = QDateTime(QDate(2024, 5, 1), QTime(12, 0, 0)).toString(Qt::TextDate).toStdString();
        QCOMPARE(l_queue.m_sendOrder, 3);

        // A flush without a messaging connection does nothing.
        int l_writes = 0;
        auto l_writer = [&](QTcpSocket*, MemStream& i_message, bool) {
            ++l_writes;
            return l_writes == 1 && QByteArray(i_message.mp_buffer->mp_buffer, 4) == Body(40);
        };
        PeerOutgoingQueue::Sending l_sending;
        l_sending.m_write = l_writer;
        l_queue.Flush(l_bob, ItemPtr(), l_sending);
        QCOMPARE(l_writes, 0);

        QTcpSocket l_socket;
        ItemPtr l_connection = d.GetType("peer_socket")->NewItem(Value(&l_socket));
        l_connection += l_bob;
        l_world.ClearLog();
        QVERIFY(l_queue.Flush(l_bob, l_connection, l_sending));
        QCOMPARE(l_writes, 2);
        QCOMPARE(l_world.LogTexts(), QStringList{"Sending 3 pending peer messages to user bob"});
        QCOMPARE(QueuedOrders("bob"), (std::vector<std::string>{"1", "2"}));
        for (ItemPtr l_entry : l_bob.GetItems("unsent_message"))
            QCOMPARE(l_entry["send_time"].AsString(), l_queuedAt);
        d.GetType("peer_socket")->HasItem(Value(&l_socket)).Remove();
    }

    // The user's connection goes while its queue is being flushed (the
    // peer reset it): nothing more is written to it, and what it did not
    // take waits for the user's next connection.
    void aConnectionThatGoesMidFlushKeepsTheRestQueued()
    {
        QTest::failOnWarning(QRegularExpression("device not open"));
        PeerTestWorld l_world;
        // With no server to ask, bob's name is all there is to go by: the
        // reset can take the connection's address with it before it is read.
        l_world.m_requests.m_canAskAddress = false;
        l_world.Load();
        for (const char* lp_text : {"one", "two", "three"}) {
            MemStream l_message = Message(36, lp_text);
            l_world.Messenger().SendMessage("bob", l_message);
        }
        RawClient l_bob;
        QVERIFY(l_bob.Connect(l_world.PlainPort()));
        QVERIFY(l_bob.Send(RawClient::Introduction("bob")));
        l_bob.Reset();
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Sending 3 pending peer messages to user bob") == 1; }));
        PeerTestWorld::Settle(100);
        QVERIFY(!PeerTestWorld::HasMessagingConnection("bob"));
        QCOMPARE(QueuedOrders("bob"), (std::vector<std::string>{"0", "1", "2"}));
    }

    // A peer at its bound reads a new connection's introduction and what
    // follows, then resets the connection and forgets what it read. Until
    // the peer spoke on it or it stood for the grace, the requests that do
    // no harm twice go again on the next connection, opened for them,
    // once; answers and replies do not.
    void requestsOnAConnectionResetAtOnceGoAgain_data()
    {
        using Codes = QList<quint32>;
        QTest::addColumn<Codes>("sent");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<qint64>("standsMs");
        QTest::addColumn<bool>("spoke");
        QTest::addColumn<Codes>("repeated");
        const qint64 l_grace = PeerProbation::GraceMs;
        QTest::newRow("browse") << Codes{4} << false << qint64(0) << false << Codes{4};
        QTest::newRow("browse, queue a file") << Codes{4, 43} << false << qint64(0) << false << Codes{4, 43};
        QTest::newRow("folder, place in line") << Codes{36, 51} << false << qint64(0) << false << Codes{36, 51};
        QTest::newRow("an answer between requests") << Codes{43, 41, 51} << false << qint64(0) << false
                                                    << Codes{43, 51};
        QTest::newRow("replies and notices") << Codes{5, 37, 9, 44, 46, 50} << false << qint64(0) << false << Codes{};
        QTest::newRow("just within the grace") << Codes{4} << false << l_grace - 1 << false << Codes{4};
        QTest::newRow("after the grace") << Codes{4} << false << l_grace << false << Codes{};
        QTest::newRow("after the peer spoke") << Codes{4, 43} << false << qint64(0) << true << Codes{};
        QTest::newRow("accepted, sent on it") << Codes{4, 41, 51} << true << qint64(0) << false << Codes{4, 51};
        QTest::newRow("accepted, after the peer spoke") << Codes{4} << true << qint64(0) << true << Codes{};
    }
    void requestsOnAConnectionResetAtOnceGoAgain()
    {
        QFETCH(QList<quint32>, sent);
        QFETCH(bool, accepted);
        QFETCH(qint64, standsMs);
        QFETCH(bool, spoke);
        QFETCH(QList<quint32>, repeated);
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);
        // The peer's connection stands before the requests go on it.
        FakePeerConnection* lp_first = accepted ? l_world.ConnectAs(l_peer, "bob") : nullptr;
        SendRequests(l_world, sent);
        if (!accepted)
            lp_first = l_peer.WaitForConnection(false);
        QVERIFY(lp_first);
        const int l_ours = accepted ? 0 : 1;  // our introduction
        QVERIFY(lp_first->WaitForFrames(l_ours + int(sent.size())));
        QCOMPARE(lp_first->Frames().mid(l_ours), RequestBodies(sent));
        if (spoke) {
            lp_first->SendFrame(Body(52));
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Received PM_NOTHING message from user bob") == 1; }));
        }
        l_world.Advance(standsMs);
        lp_first->Reset();

        FakePeerConnection* lp_second = l_peer.WaitForConnection(false, repeated.isEmpty() ? 300 : 5000);
        QCOMPARE(lp_second != nullptr, !repeated.isEmpty());
        if (lp_second) {
            QVERIFY(lp_second->WaitForFrames(1 + int(repeated.size())));
            // Once this one has spoken nothing is kept: its reset repeats
            // nothing, and nothing came twice.
            lp_second->SendFrame(Body(52));
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Received PM_NOTHING message from user bob") == 1 + spoke; }));
            QCOMPARE(lp_second->Frames().mid(1), RequestBodies(repeated));
            lp_second->Reset();
            QVERIFY(!l_peer.WaitForConnection(false, 300));
        }
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }

    // Our offer to send a file, as the transfer manager makes it, goes again
    // like the requests: the peer at its bound forgot it, and the upload
    // would wait for an answer until it times out; not once the transfer
    // manager took an answer to it (on another connection, say). A transfer
    // request of the other direction, and our answers to offers of theirs,
    // do not.
    void anOfferOfOursOnAConnectionResetAtOnceGoesAgain_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("repeated");
        const std::string l_file = "music\\a.mp3";
        QTest::newRow("our offer to send a file")
            << "offer" << QByteArray(WireWriter().U32(40).U32(1).U32(7).Str(l_file).I64(4000)) << true;
        QTest::newRow("our offer, answered meanwhile")
            << "answered offer" << QByteArray(WireWriter().U32(40).U32(1).U32(7).Str(l_file).I64(4000)) << false;
        QTest::newRow("a request to be sent a file")
            << "request" << QByteArray(WireWriter().U32(40).U32(0).U32(7).Str(l_file)) << false;
        QTest::newRow("our accept of an offer") << "accept" << QByteArray(WireWriter().U32(41).U32(7).U8(1)) << false;
        QTest::newRow("our refusal of an offer")
            << "refusal" << QByteArray(WireWriter().U32(41).U32(7).U8(0).Str("Queued")) << false;
    }
    void anOfferOfOursOnAConnectionResetAtOnceGoesAgain()
    {
        QFETCH(QString, message);
        QFETCH(QByteArray, body);
        QFETCH(bool, repeated);
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);
        PeerMessenger& l_messenger = l_world.Messenger();
        Settings::Set("transfer_req_counter", "7");
        // The transfer manager's answer: does the offer still await one?
        l_messenger.SetOfferCheck([&message](const std::string& i_user, quint32 i_token) {
            return !(message == "answered offer" && i_user == "bob" && i_token == 7);
        });
        if (message.endsWith("offer")) {
            QCOMPARE(l_messenger.RequestUpload("bob", "music\\a.mp3", 4000), 7u);
        } else if (message == "accept") {
            l_messenger.AcceptTransferRequest("bob", 7, false, 0);
        } else if (message == "refusal") {
            l_messenger.DenyTransferRequest("bob", 7, "Queued");
        } else {
            MemStream l_request;
            l_request.WriteBuffer(body.constData(), static_cast<unsigned long>(body.size()));
            l_messenger.SendMessage("bob", l_request);
        }
        FakePeerConnection* lp_first = l_peer.WaitForConnection(false);
        QVERIFY(lp_first && lp_first->WaitForFrames(2));
        QCOMPARE(lp_first->Frames().mid(1), QList<QByteArray>{body});
        lp_first->Reset();

        FakePeerConnection* lp_second = l_peer.WaitForConnection(false, repeated ? 5000 : 300);
        QCOMPARE(lp_second != nullptr, repeated);
        if (lp_second) {
            QVERIFY(lp_second->WaitForFrames(2));
            QCOMPARE(lp_second->Frames().mid(1), QList<QByteArray>{body});
        }
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }

    // A peer that resets every new connection gets a request MaxSends times,
    // and a connection keeps at most MaxKeptBytes: what it could not keep
    // is lost with it. Copies still kept at shut-down are freed.
    void whatIsRepeatedIsBounded()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);
        QList<QByteArray> l_sent;
        const std::string l_name(300000, 'q');
        const qint64 l_fit = PeerProbation::MaxKeptBytes / Message(43, l_name).mp_buffer->m_bufferSize;
        QVERIFY(l_fit >= 1 && l_fit < 8);
        for (qint64 l_file = 0; l_file <= l_fit; ++l_file) {
            const std::string l_fileName = l_name + char('a' + l_file);
            MemStream l_big = Message(43, l_fileName);
            l_world.Messenger().SendMessage("bob", l_big);
            l_sent.append(Body(43, l_fileName));
        }
        for (int l_send = 1; l_send <= PeerProbation::MaxSends; ++l_send) {
            const QList<QByteArray> l_carried = l_send == 1 ? l_sent : l_sent.mid(0, l_fit);
            FakePeerConnection* lp_far = l_peer.WaitForConnection(false);
            QVERIFY(lp_far && lp_far->WaitForFrames(1 + int(l_carried.size())));
            QVERIFY(lp_far->Frames().mid(1) == l_carried);
            lp_far->Reset();
        }
        QVERIFY(!l_peer.WaitForConnection(false, 300));
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);

        // The next connection has neither spoken nor stood the grace when
        // the messenger goes: its copy goes with it.
        SendRequests(l_world, {4});
        FakePeerConnection* lp_next = l_peer.WaitForConnection(false);
        QVERIFY(lp_next && lp_next->WaitForFrames(2));
        l_world.DestroyMessenger();
    }

    // A small reply leaves before the event loop turns again: the far end
    // reads it while we run nothing.
    void aSmallMessageLeavesAtOnce()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        MemStream l_small = Message(37);
        l_world.Messenger().SendMessage("bob", l_small);
        QVERIFY(lp_far->Socket()->bytesAvailable() > 0 || lp_far->Socket()->waitForReadyRead(2000));
    }

    // A peer that stops reading cannot make us hold without bound what we
    // write to it. Without the event loop nothing leaves our buffer: sixteen
    // frames of a million bytes stay under 16 MiB, the seventeenth passes it.
    void aConnectionHoldingTooMuchUnsentIsDropped()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        QPointer<QTcpSocket> l_ours = ItemPtr(d.GetType("peer_socket")->GetItems()).AsObject<QTcpSocket>();
        for (int l_frame = 1; l_frame <= 16; ++l_frame) {
            MemStream l_big = Large();
            l_world.Messenger().SendMessage("bob", l_big);
        }
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 1);
        QCOMPARE(l_ours->bytesToWrite(), qint64(16) * LargeFrameSize);

        l_world.ClearLog();
        MemStream l_last = Large();
        l_world.Messenger().SendMessage("bob", l_last);
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("last_activity_time"), 0);
        QCOMPARE(l_ours->state(), QAbstractSocket::UnconnectedState);
        const std::vector<PeerLogLine> l_lines = l_world.Log();
        QCOMPARE(l_lines.size(), std::size_t(4));
        QCOMPARE(l_lines[1].m_text, QString("Peer connection to user bob does not take what we send (%1 bytes waiting), closing.")
                                        .arg(qint64(17) * LargeFrameSize));
        QCOMPARE(l_lines[1].m_level, 1);
        QCOMPARE(l_lines[2].m_text, QString("Disposing of socket"));
        QCOMPARE(l_lines[3].m_text, QString("Identified as peer socket"));
        QVERIFY(lp_far->WaitForDisconnect());

        // What follows waits for a new connection instead of going nowhere.
        MemStream l_next = Message(4);
        l_world.Messenger().SendMessage("bob", l_next);
        QCOMPARE(QueuedOrders("bob").size(), std::size_t(1));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 1);
    }

    void aFlushPastTheUnsentCapKeepsTheRestQueued()
    {
        PeerTestWorld l_world;
        l_world.Load();
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, ClosedLoopbackPort(), 0);
        for (int l_frame = 0; l_frame < 18; ++l_frame) {
            MemStream l_big = Large();
            l_world.Messenger().SendMessage("bob", l_big);
        }
        QCOMPARE(QueuedOrders("bob").size(), std::size_t(18));
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_far);
        l_world.ClearLog();
        lp_far->SendFrame(WireWriter().U8(1).Str("bob").Str("P").U32(0));
        QVERIFY(lp_far->WaitForDisconnect());
        QCOMPARE(l_world.Count("Sending 18 pending peer messages to user bob"), 1);
        QCOMPARE(l_world.Count(QString("Peer connection to user bob does not take what we send (%1 bytes waiting), closing.")
                                   .arg(qint64(17) * LargeFrameSize)),
                 1);
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);
        // The frame that passed the cap never left either: it goes again
        // with the next connection.
        QCOMPARE(QueuedOrders("bob"), (std::vector<std::string>{"16", "17"}));
    }

    // With no server to ask where bob is, the connections under his name
    // are all there is to choose from.
    void ofSeveralConnectionsTheLatestOpenedCarriesTheMessage()
    {
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = false;
        l_world.Load();
        l_world.GiveAddress("bob", 0, 0, 0);
        FakePeer l_peer;
        FakePeerConnection* lp_early = l_world.ConnectAs(l_peer, "bob");
        const QString l_earlyTime = l_world.m_now.toString(Qt::TextDate);
        l_world.Advance(5000);
        FakePeerConnection* lp_late = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_early && lp_late);
        const QString l_lateTime = l_world.m_now.toString(Qt::TextDate);

        l_world.ClearLog();
        MemStream l_message = Message(4);
        l_world.Messenger().SendMessage("bob", l_message);
        QVERIFY(lp_late->WaitForFrames(1));
        PeerTestWorld::Settle(20);
        QVERIFY(lp_early->Frames().isEmpty());
        const QStringList l_lines = l_world.LogTexts();
        QCOMPARE(l_lines.at(1), QString("Found 2 existing messaging connections to user, picking latest"));
        // Whichever comes first in the set, the later one is taken.
        QVERIFY(l_lines.at(2) == QString("First connection opened %1").arg(l_earlyTime)
                || l_lines.at(2) == QString("First connection opened %1").arg(l_lateTime));
        if (l_lines.at(2).endsWith(l_earlyTime))
            QCOMPARE(l_lines.at(3), QString("Found connection opened %1, exchanging").arg(l_lateTime));
        else
            QCOMPARE(l_lines.size(), 3);
    }

    void connectionsOpenedInTheSameSecondGoByTheSetOrder()
    {
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = false;
        l_world.Load();
        l_world.GiveAddress("bob", 0, 0, 0);
        FakePeer l_peer;
        FakePeerConnection* lp_one = l_world.ConnectAs(l_peer, "bob");
        l_world.Advance(999);
        FakePeerConnection* lp_two = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_one && lp_two);
        auto* lp_first = ItemPtr(d.GetType("user")->GetItem("bob").GetItems("peer_socket")).AsObject<QTcpSocket>();
        FakePeerConnection* lp_expected = lp_first->peerPort() == lp_one->Socket()->localPort() ? lp_one : lp_two;
        FakePeerConnection* lp_other = lp_expected == lp_one ? lp_two : lp_one;

        MemStream l_message = Message(4);
        l_world.Messenger().SendMessage("bob", l_message);
        QVERIFY(lp_expected->WaitForFrames(1));
        PeerTestWorld::Settle(20);
        QVERIFY(lp_other->Frames().isEmpty());
        QVERIFY(!l_world.LogTexts().join('\n').contains("exchanging"));
    }

    void queuedMessagesExpireAfterFiveMinutes()
    {
        PeerTestWorld l_world;
        l_world.Load();
        // Queued at 12:00:00.900, stamped 12:00:00.
        l_world.Advance(900);
        MemStream l_message = Message(4);
        l_world.Messenger().SendMessage("bob", l_message);
        l_world.m_now = QDateTime(QDate(2024, 5, 1), QTime(12, 4, 59, 999));
        l_world.ClearLog();
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 1);
        l_world.m_now = QDateTime(QDate(2024, 5, 1), QTime(12, 5, 0, 0));
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
        // The relayed request has long expired too; nothing names the message.
        QVERIFY(!l_world.LogTexts().join('\n').contains("message"));

        // A connection made afterwards finds nothing to send.
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        PeerTestWorld::Settle(30);
        QVERIFY(lp_far->Frames().isEmpty());
    }

    void aStampAheadOfTheClockOrMissingOne()
    {
        PeerTestWorld l_world;
        l_world.Load();
        MemStream l_message = Message(4);
        l_world.Messenger().SendMessage("bob", l_message);
        // The clock was set back an hour: the entry waits for it to catch up.
        l_world.Advance(-3600 * 1000);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 1);
        // An entry whose time cannot be read would never leave: it goes.
        ItemPtr l_entry = d.GetType("unsent_message")->GetItems();
        l_entry.Disconnect("send_time");
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }

    // Messages for a user never reached are freed when the messenger goes
    // (the leak checker reports them otherwise).
    void messagesStillQueuedAtShutDownAreFreed()
    {
        PeerTestWorld l_world;
        l_world.Load();
        for (unsigned int l_code : {4u, 36u}) {
            MemStream l_message = Message(l_code);
            l_world.Messenger().SendMessage("bob", l_message);
        }
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 2);
        l_world.DestroyMessenger();
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }
};

QTEST_GUILESS_MAIN(TestPeerQueue)
#include "tst_peer_queue.moc"
