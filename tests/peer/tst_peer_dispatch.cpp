// The dispatch of messages on a messaging connection: the code, the receipt
// line, the activity time, and codes that have no handler.
#include "PeerConversation.h"

#include <QtTest>

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
