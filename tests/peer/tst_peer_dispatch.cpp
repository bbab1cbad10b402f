// The dispatch of messages on a messaging connection: the code, the receipt
// line, the activity time, and codes that have no handler.
#include "PeerConversation.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <sys/ioctl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
// Writes everything the far end holds unsent, without the event loop.
bool Flush(FakePeerConnection& io_far)
{
    while (io_far.Socket()->bytesToWrite() > 0) {
        if (!io_far.Socket()->waitForBytesWritten(5000))
            return false;
    }
    return true;
}

// Our end of the user's messaging connection.
QTcpSocket* OurSocket(const std::string& i_user)
{
    for (ItemPtr l_connection : d.GetType("peer_socket")->GetItems()) {
        if (l_connection["user"].AsString() == i_user)
            return l_connection.AsObject<QTcpSocket>();
    }
    return nullptr;
}

// Waits, without the event loop, until our end holds that many bytes to
// read, taken from the system or not yet; false after a wait that only a
// hang outlasts.
bool Holds(QTcpSocket* ip_ours, qint64 i_bytes)
{
    const QDeadlineTimer l_deadline(5000);
    while (ip_ours) {
        int l_inSystem = 0;
        if (::ioctl(int(ip_ours->socketDescriptor()), FIONREAD, &l_inSystem) != 0)
            return false;
        if (ip_ours->bytesAvailable() + l_inSystem >= i_bytes)
            return true;
        if (l_deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
    return false;
}
}  // namespace

class TestPeerDispatch : public QObject
{
    Q_OBJECT

private slots:
    void aBodyTooShortForItsCodeClosesTheConnection()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        QVERIFY(l_talk.Send(QByteArray("\x04\x00\x00", 3)));
        QVERIFY(l_talk.Closed());
        QCOMPARE(l_talk.m_world.LogTexts().front(),
                 QString("Could not read message code on connection to user bob, disposing of socket"));
    }

    void codesWithoutAHandlerAreOnlyLogged_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("name");
        QTest::newRow("folder contents") << QByteArray(WireWriter().U32(37).Raw("whatever")) << "PM_SHARED_FILES_IN_FOLDER";
        QTest::newRow("place in line request") << QByteArray(WireWriter().U32(51).Str("a\\b")) << "PM_UPLOAD_PLACE_IN_LINE_REQUEST";
        QTest::newRow("say") << QByteArray(WireWriter().U32(1)) << "PM_SAY";
        QTest::newRow("unnamed") << QByteArray(WireWriter().U32(7).U8(0)) << "7 (unknown)";
    }
    void codesWithoutAHandlerAreOnlyLogged()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, name);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        QVERIFY(l_talk.Send(body));
        QVERIFY(l_talk.StillOpen());
        QCOMPARE(l_talk.m_world.LogTexts().front(), QString("Received %1 message from user bob").arg(name));
        // Nothing is answered.
        QVERIFY(l_talk.mp_far->Frames().isEmpty());
    }

    void aFloodOnOneConnectionLeavesAnotherAnswered()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        FakePeerConnection* lp_carol = l_talk.m_world.ConnectAs(l_talk.m_peer, "carol");
        QVERIFY(lp_carol);
        // Carol asks while bob's flood is being read: her frame is on our
        // side before bob's second frame is handled.
        std::vector<std::string> l_askers;
        QObject::connect(&l_talk.Messenger(), &PeerMessenger::SharedFilesInFolderRequested,
                         [&l_askers, lp_carol](std::string i_user, quint32, std::string) {
                             l_askers.push_back(i_user);
                             if (l_askers.size() != 1)
                                 return;
                             const QByteArray l_ask = FakePeerFrames::Plain(WireWriter().U32(36).U32(1).Str("b"));
                             lp_carol->SendRaw(l_ask);
                             QVERIFY(Flush(*lp_carol));
                             QVERIFY(Holds(OurSocket("carol"), l_ask.size()));
                         });
        constexpr int Flood = 3000;
        QByteArray l_flood;
        for (int l_n = 0; l_n < Flood; ++l_n)
            l_flood += FakePeerFrames::Plain(WireWriter().U32(36).U32(static_cast<quint32>(l_n)).Str("a"));
        l_talk.mp_far->SendRaw(l_flood);
        QVERIFY(Flush(*l_talk.mp_far));
        // All of it waits on our side before the event loop reads any.
        QVERIFY(Holds(OurSocket("bob"), l_flood.size()));

        const auto l_carol = [&l_askers] { return std::find(l_askers.begin(), l_askers.end(), "carol"); };
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_carol() != l_askers.end(); }));
        // Bob may have a few turns first, far from all of his frames.
        QVERIFY2(l_carol() - l_askers.begin() <= Flood / 10,
                 qPrintable(QString("carol was answered after %1 of bob's frames").arg(l_carol() - l_askers.begin())));
        // The flood is read all the same, to its end.
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_askers.size() == Flood + 1; }, 20000));
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 2);
    }

    void everyMessageRenewsTheActivityTime()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        auto* lp_lastActivity = ItemPtr(d.GetType("peer_socket")->GetItems())["last_activity_time"].AsObject<QDateTime>();
        QVERIFY(lp_lastActivity);

        // An ignored message counts as much as a handled one.
        l_talk.m_world.Advance(60000);
        QVERIFY(l_talk.Send(WireWriter().U32(52)));
        QCOMPARE(*lp_lastActivity, l_talk.m_world.m_now);
        l_talk.m_world.Advance(60000);
        QVERIFY(l_talk.Send(WireWriter().U32(46).Str("a\\b")));
        QCOMPARE(*lp_lastActivity, l_talk.m_world.m_now);
    }
};

QTEST_GUILESS_MAIN(TestPeerDispatch)
#include "tst_peer_dispatch.moc"
