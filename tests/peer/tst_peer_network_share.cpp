// The count of messaging connections per remote network, which one a
// crowded network gives up, and the lines the log writes once a minute. The
// sockets are only names here.
#include "peer/PeerLogNotes.h"
#include "peer/PeerNetworkShare.h"

#include <QtTest>

namespace
{
QTcpSocket* Socket(quintptr i_name)
{
    return reinterpret_cast<QTcpSocket*>(i_name * 16);
}

// The name of a connection the share chose, "none" for null: compared as
// text, a mismatch names the connection instead of following a pointer to
// no object.
QString Name(QTcpSocket* ip_socket)
{
    return ip_socket ? QString::number(reinterpret_cast<quintptr>(ip_socket) / 16) : QString("none");
}

// The name of connection i_name; "none" for 0.
QString Name(quintptr i_name)
{
    return i_name ? QString::number(i_name) : QString("none");
}

// Three addresses of one network, and two of others.
constexpr quint32 Crowd = 0x0A000002;
constexpr quint32 CrowdOther = 0x0A0000F0;
constexpr quint32 Second = 0x0A000102;
constexpr quint32 Lone = 0x0B000004;
// The peer's bytes that had reached us when we sent.
constexpr qint64 Received = 100;

// i_count connections from the address, named from i_first on, each last
// active at the millisecond of its name.
void Open(PeerNetworkShare& io_share, quint32 i_address, quintptr i_first, int i_count)
{
    for (int l_index = 0; l_index < i_count; ++l_index)
        io_share.Add(Socket(i_first + quintptr(l_index)), i_address, qint64(i_first) + l_index);
}

PeerNetworkShare::Hold AllFree(QTcpSocket*)
{
    return PeerNetworkShare::Hold::Free;
}
}

class TestPeerNetworkShare : public QObject
{
    Q_OBJECT

private slots:
    // The network holding the most gives a connection of its most crowded
    // address to a taker whose network holds at least two fewer, once it
    // holds more than a few; a taker from the crowded network itself, or
    // one nearly as large, gets nothing.
    void theGiverIsOfTheLargestNetworksMostCrowdedAddress_data()
    {
        constexpr int Few = int(PeerNetworkShare::FewConnections);
        QTest::addColumn<int>("crowd");
        QTest::addColumn<int>("crowdOther");
        QTest::addColumn<int>("second");
        QTest::addColumn<uint>("taker");
        // The name of the connection given up; 0 for none.
        QTest::addColumn<int>("giver");
        QTest::newRow("a few each, nobody gives") << Few << 0 << Few << uint(Lone) << 0;
        QTest::newRow("one address past a few, for a lone peer") << Few + 1 << 0 << 0 << uint(Lone) << 1000;
        QTest::newRow("the network past a few over two addresses") << 5 << 4 << 3 << uint(Lone) << 1000;
        QTest::newRow("a crowd at one address before a neighbour's only connection")
            << 1 << 3 << 0 << uint(Lone) << 1500;
        QTest::newRow("for a peer of the crowded network") << 5 << 4 << 0 << uint(Crowd) << 0;
        QTest::newRow("for another address of the crowded network") << Few + 1 << 0 << 0 << uint(CrowdOther) << 0;
        QTest::newRow("the taker's network one fewer") << Few + 2 << 0 << Few + 1 << uint(Second) << 0;
        QTest::newRow("the taker's network two fewer") << Few + 2 << 0 << Few << uint(Second) << 1000;
        QTest::newRow("the second network larger gives") << Few + 1 << 0 << Few + 5 << uint(Crowd) << 2000;
        QTest::newRow("the second network larger, for a lone peer") << Few + 1 << 0 << Few + 5 << uint(Lone) << 2000;
    }
    void theGiverIsOfTheLargestNetworksMostCrowdedAddress()
    {
        QFETCH(int, crowd);
        QFETCH(int, crowdOther);
        QFETCH(int, second);
        QFETCH(uint, taker);
        QFETCH(int, giver);
        PeerNetworkShare l_share;
        Open(l_share, Crowd, 1000, crowd);
        Open(l_share, CrowdOther, 1500, crowdOther);
        Open(l_share, Second, 2000, second);
        QCOMPARE(l_share.Count(CrowdOther), std::size_t(crowd + crowdOther));
        QCOMPARE(Name(l_share.Giver(taker, AllFree)), Name(quintptr(giver)));
        const int l_most = std::max(crowd + crowdOther, second);
        QCOMPARE(l_share.HasGiver(AllFree), l_most > int(PeerNetworkShare::FewConnections));
        // For a connection no network counts, the largest gives whatever
        // the taker.
        const bool l_gives = l_share.HasGiver(AllFree);
        const quintptr l_crowdFirst = crowdOther > crowd ? 1500 : 1000;
        QCOMPARE(Name(l_share.Largest(AllFree)),
                 Name(!l_gives ? 0 : crowd + crowdOther > second ? l_crowdFirst : quintptr(2000)));
    }

    // Inside the network that gives, the connection silent longest goes;
    // one carrying a reply only when nothing else may and only from a
    // network beyond a few, one with work never. A network left
    // with nothing to give is passed over for the next.
    void aConnectionWithWorkHoldsOn_data()
    {
        QTest::addColumn<int>("crowd");
        QTest::addColumn<QList<int>>("never");
        QTest::addColumn<QList<int>>("last");
        QTest::addColumn<QList<int>>("touched");
        // The name of the connection given up, for a stranger and for work
        // of ours alike; 0 for none.
        QTest::addColumn<int>("giver");
        using L = QList<int>;
        const int l_beyond = int(PeerNetworkShare::KeptReplies) + 1;
        QTest::newRow("all free: the silent longest") << 3 << L{} << L{} << L{} << 1000;
        QTest::newRow("the silent longest after activity") << 3 << L{} << L{} << L{1000} << 1001;
        QTest::newRow("one with work never goes") << 3 << L{1000} << L{} << L{} << 1001;
        QTest::newRow("one carrying a reply goes last") << 3 << L{} << L{1000, 1001} << L{} << 1002;
        QTest::newRow("only replies left in a few") << 3 << L{} << L{1000, 1001, 1002} << L{} << 2000;
        QTest::newRow("only replies left in a crowd")
            << l_beyond << L{} << L{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008} << L{} << 1000;
        QTest::newRow("work and a reply") << 3 << L{1000, 1001} << L{1002} << L{} << 2000;
        QTest::newRow("nothing to give: the next network") << 3 << L{1000, 1001, 1002} << L{} << L{} << 2000;
        QTest::newRow("nothing anywhere") << 3 << L{1000, 1001, 1002, 2000, 2001} << L{} << L{} << 0;
    }
    void aConnectionWithWorkHoldsOn()
    {
        QFETCH(int, crowd);
        QFETCH(QList<int>, never);
        QFETCH(QList<int>, last);
        QFETCH(QList<int>, touched);
        QFETCH(int, giver);
        PeerNetworkShare l_share;
        Open(l_share, Crowd, 1000, crowd);
        Open(l_share, Second, 2000, 2);
        for (int l_name : touched)
            l_share.Touch(Socket(quintptr(l_name)), 9000);
        auto l_holds = [&](QTcpSocket* ip_socket) {
            const int l_name = int(reinterpret_cast<quintptr>(ip_socket) / 16);
            if (never.contains(l_name))
                return PeerNetworkShare::Hold::Never;
            return last.contains(l_name) ? PeerNetworkShare::Hold::Last : PeerNetworkShare::Hold::Free;
        };
        QCOMPARE(Name(l_share.Giver(Lone, l_holds)), Name(quintptr(giver)));
        QCOMPARE(Name(l_share.Largest(l_holds)), Name(quintptr(giver)));
    }

    // Networks whose connections all hold on are passed over for one that
    // may give, whatever their number, as long as a choice has connections
    // left to look at; whether there is a giver says what a choice finds.
    void aNetworkThatGivesIsFoundPastNetworksThatHoldAll_data()
    {
        constexpr int Kept = int(PeerNetworkShare::KeptReplies);
        constexpr int Looked = int(PeerNetworkShare::MaxLookedInAll);
        QTest::addColumn<int>("held");
        QTest::addColumn<bool>("work");
        QTest::addColumn<bool>("idle");
        // The name of the connection given up; 0 for none.
        QTest::addColumn<int>("giver");
        QTest::newRow("four of a few carrying replies, then an idle one") << 4 << false << true << 1000;
        QTest::newRow("four with work, then an idle one") << 4 << true << true << 1000;
        QTest::newRow("many of a few carrying replies, then an idle one")
            << Looked / Kept - 1 << false << true << 1000;
        QTest::newRow("four carrying replies, nothing idle") << 4 << false << false << 0;
        QTest::newRow("more than a choice looks at, then an idle one") << Looked / Kept << false << true << 0;
    }
    void aNetworkThatGivesIsFoundPastNetworksThatHoldAll()
    {
        QFETCH(int, held);
        QFETCH(bool, work);
        QFETCH(bool, idle);
        QFETCH(int, giver);
        constexpr int Each = int(PeerNetworkShare::KeptReplies);
        PeerNetworkShare l_share;
        // The idle network ranks last of those as large.
        if (idle)
            Open(l_share, 0x0C000002, 1000, Each);
        for (int l_network = 0; l_network < held; ++l_network)
            Open(l_share, 0x0D000002 + quint32(l_network << 8), quintptr(2000 + l_network * Each), Each);
        auto l_holds = [work](QTcpSocket* ip_socket) {
            if (reinterpret_cast<quintptr>(ip_socket) / 16 < 2000)
                return PeerNetworkShare::Hold::Free;
            return work ? PeerNetworkShare::Hold::Never : PeerNetworkShare::Hold::Last;
        };
        QCOMPARE(Name(l_share.Giver(Lone, l_holds)), Name(quintptr(giver)));
        QCOMPARE(Name(l_share.Largest(l_holds)), Name(quintptr(giver)));
        QCOMPARE(l_share.HasGiver(l_holds), giver != 0);
    }

    // File connections waiting for their token count in their network, for
    // the network that gives and for the taker's, but are never given here;
    // a network of them alone costs a choice one look.
    void waitingFileConnectionsCountButAreNeverGiven_data()
    {
        constexpr int Looked = int(PeerNetworkShare::MaxLookedInAll);
        QTest::addColumn<int>("crowd");
        QTest::addColumn<int>("crowdWaiting");
        QTest::addColumn<int>("second");
        // Networks of three waiting file connections alone, larger than
        // the second.
        QTest::addColumn<int>("waitingNetworks");
        QTest::addColumn<uint>("taker");
        // The name of the connection given up; 0 for none.
        QTest::addColumn<int>("giver");
        QTest::newRow("a network of waiting ones alone is passed over") << 0 << 5 << 3 << 0 << uint(Lone) << 2000;
        QTest::newRow("waiting ones make their network the largest") << 2 << 3 << 3 << 0 << uint(Lone) << 1000;
        QTest::newRow("the taker's waiting ones count") << 2 << 3 << 4 << 0 << uint(CrowdOther) << 0;
        QTest::newRow("networks of waiting ones within what a choice looks at")
            << 0 << 0 << 2 << Looked - 1 << uint(Lone) << 2000;
        QTest::newRow("more networks of waiting ones than a choice looks at")
            << 0 << 0 << 2 << Looked << uint(Lone) << 0;
    }
    void waitingFileConnectionsCountButAreNeverGiven()
    {
        QFETCH(int, crowd);
        QFETCH(int, crowdWaiting);
        QFETCH(int, second);
        QFETCH(int, waitingNetworks);
        QFETCH(uint, taker);
        QFETCH(int, giver);
        PeerNetworkShare l_share;
        Open(l_share, Crowd, 1000, crowd);
        for (int l_index = 0; l_index < crowdWaiting; ++l_index)
            l_share.AddWaiting(CrowdOther);
        Open(l_share, Second, 2000, second);
        for (int l_network = 0; l_network < waitingNetworks; ++l_network) {
            for (int l_index = 0; l_index < 3; ++l_index)
                l_share.AddWaiting(0x0E000002 + quint32(l_network << 8));
        }
        QCOMPARE(l_share.Count(Crowd), std::size_t(crowd + crowdWaiting));
        QCOMPARE(l_share.Waiting(Crowd), std::size_t(crowdWaiting));
        QCOMPARE(Name(l_share.Giver(taker, AllFree)), Name(quintptr(giver)));

        // Their waits end: the network holds its messaging connections
        // alone; one never counted changes nothing.
        for (int l_index = 0; l_index < crowdWaiting; ++l_index)
            l_share.RemoveWaiting(Crowd);
        l_share.RemoveWaiting(Crowd);
        l_share.RemoveWaiting(Lone);
        QCOMPARE(l_share.Count(Crowd), std::size_t(crowd));
        QCOMPARE(l_share.Waiting(Crowd), std::size_t(0));
        QCOMPARE(l_share.Count(Second), std::size_t(second));
    }

    // A connection we sent on awaits the peer until the peer is heard from
    // or the grace is over, whatever the clock says of the two moments; one
    // never sent on, or not counted, awaits nothing. Bytes of the peer's
    // that had reached us when we sent, read only after, are not heard
    // from it since.
    void aConnectionAwaitsThePeerForAGrace_data()
    {
        QTest::addColumn<bool>("sent");
        QTest::addColumn<qint64>("heardThrough");
        QTest::addColumn<qint64>("after");
        QTest::addColumn<bool>("awaits");
        constexpr qint64 Grace = 5000;
        QTest::newRow("never sent on") << false << qint64(0) << qint64(0) << false;
        QTest::newRow("sent, at once") << true << qint64(0) << qint64(0) << true;
        QTest::newRow("sent, just within the grace") << true << qint64(0) << Grace - 1 << true;
        QTest::newRow("sent, the grace over") << true << qint64(0) << Grace << false;
        QTest::newRow("sent, then heard from in the same millisecond") << true << Received + 1 << qint64(0) << false;
        QTest::newRow("sent, then read what had reached us before") << true << Received << qint64(0) << true;
    }
    void aConnectionAwaitsThePeerForAGrace()
    {
        QFETCH(bool, sent);
        QFETCH(qint64, heardThrough);
        QFETCH(qint64, after);
        QFETCH(bool, awaits);
        constexpr qint64 Grace = 5000;
        constexpr qint64 At = 100000;
        PeerNetworkShare l_share;
        l_share.Add(Socket(1), Crowd, At);
        if (sent)
            l_share.Sent(Socket(1), At, Received);
        if (heardThrough > 0)
            l_share.Touch(Socket(1), At, heardThrough);
        QCOMPARE(l_share.AwaitsPeer(Socket(1), At + after, Grace), awaits);
        l_share.Sent(Socket(2), At);
        QVERIFY(!l_share.AwaitsPeer(Socket(2), At, Grace));
    }

    // Connections that go leave the count and the order; one added twice
    // counts once.
    void closedConnectionsLeaveTheCount()
    {
        constexpr int Few = int(PeerNetworkShare::FewConnections);
        PeerNetworkShare l_share;
        Open(l_share, Crowd, 1000, Few + 2);
        l_share.Add(Socket(1000), Crowd, 5000);
        QCOMPARE(l_share.Count(Crowd), std::size_t(Few + 2));
        l_share.Remove(Socket(1000));
        l_share.Remove(Socket(1000));
        QCOMPARE(Name(l_share.Giver(Lone, AllFree)), Name(quintptr(1001)));
        QCOMPARE(l_share.AddressOf(Socket(1001)), Crowd);
        QCOMPARE(l_share.AddressOf(Socket(1000)), 0u);
        l_share.Remove(Socket(1001));
        QCOMPARE(l_share.Count(Crowd), std::size_t(Few));
        QVERIFY(!l_share.HasGiver(AllFree));
        QCOMPARE(Name(l_share.Giver(Lone, AllFree)), Name(quintptr(0)));
    }

    // Once a minute per key, whatever the others do; a clock that went
    // back lets it say it again. Two kinds of line keep notes of their own.
    void eachKeyIsLoggedOnceAMinute()
    {
        PeerLogNotes l_notes;
        PeerLogNotes l_otherKind;
        const QDateTime l_start(QDate(2024, 5, 1), QTime(12, 0, 0));
        QVERIFY(l_notes.MayLog(Crowd, l_start));
        QVERIFY(l_otherKind.MayLog(Crowd, l_start.addSecs(1)));
        QVERIFY(l_notes.MayLog(Second, l_start.addSecs(1)));
        QVERIFY(!l_notes.MayLog(Crowd, l_start.addSecs(59)));
        QVERIFY(!l_notes.MayLog(Second, l_start.addSecs(60)));
        QVERIFY(l_notes.MayLog(Crowd, l_start.addSecs(60)));
        QVERIFY(!l_notes.MayLog(Crowd, l_start.addSecs(61)));
        QVERIFY(l_notes.MayLog(Second, l_start.addSecs(61)));
        QVERIFY(l_notes.MayLog(Crowd, l_start.addSecs(-10)));

        // Beyond so many keys in a minute, new ones are not logged.
        PeerLogNotes l_many;
        for (quint32 l_key = 0; l_key < PeerLogNotes::MaxKeys; ++l_key)
            QVERIFY(l_many.MayLog(l_key, l_start));
        QVERIFY(!l_many.MayLog(quint32(PeerLogNotes::MaxKeys), l_start.addSecs(59)));
        QVERIFY(l_many.MayLog(quint32(PeerLogNotes::MaxKeys), l_start.addSecs(60)));
    }

    // An event's line comes at most once a minute and counts the events
    // since the last one, itself included; the first has no last one.
    void aCountedLineSaysHowOftenSinceTheLast()
    {
        PeerLogCounter l_counter;
        const QDateTime l_start(QDate(2024, 5, 1), QTime(12, 0, 0));
        const auto l_text = [](const QString&) { return QString("closed"); };
        int l_count = -1;
        QVERIFY(l_counter.Count(l_start, l_count, l_text));
        QCOMPARE(l_count, 0);
        for (int l_second = 1; l_second < 60; ++l_second)
            QVERIFY(!l_counter.Count(l_start.addSecs(l_second), l_count, l_text));
        QVERIFY(l_counter.Count(l_start.addSecs(60), l_count, l_text));
        QCOMPARE(l_count, 60);
        QVERIFY(l_counter.Count(l_start.addSecs(30), l_count, l_text));
        QCOMPARE(l_count, 1);
    }

    // The events after a line are due a minute after it, or at once when
    // the clock went back, also with no event to bring them: their number,
    // and the text of the latest of them, made from its user's name then.
    void theEventsAfterALineAreDueAMinuteLater()
    {
        PeerLogCounter l_counter;
        const QDateTime l_start(QDate(2024, 5, 1), QTime(12, 0, 0));
        int l_made = 0;
        const auto l_text = [&l_made](const QString& i_user) {
            ++l_made;
            return "closed " + i_user;
        };
        int l_count = -1;
        QVERIFY(!l_counter.Due(l_start, l_count));
        QVERIFY(l_counter.Count(l_start, l_count, l_text, "ann"));
        QVERIFY(!l_counter.Due(l_start.addSecs(60), l_count));
        QVERIFY(!l_counter.Count(l_start.addSecs(10), l_count, l_text, "bob"));
        QVERIFY(!l_counter.Count(l_start.addSecs(20), l_count, l_text, "cy"));
        QCOMPARE(l_made, 0);
        QVERIFY(!l_counter.Due(l_start.addSecs(59), l_count));
        QVERIFY(l_counter.Due(l_start.addSecs(60), l_count));
        QCOMPARE(l_count, 2);
        QCOMPARE(l_counter.Text(), QString("closed cy"));
        QCOMPARE(l_counter.User(), std::string("cy"));
        QVERIFY(!l_counter.Due(l_start.addSecs(120), l_count));

        QVERIFY(!l_counter.Count(l_start.addSecs(100), l_count, l_text));
        QVERIFY(!l_counter.Due(l_start.addSecs(119), l_count));
        QVERIFY(l_counter.Due(l_start.addSecs(120), l_count));
        QCOMPARE(l_count, 1);
        QCOMPARE(l_counter.User(), std::string());
        QVERIFY(!l_counter.Count(l_start.addSecs(130), l_count, l_text, "dee"));
        QVERIFY(l_counter.Due(l_start.addSecs(50), l_count));
        QCOMPARE(l_count, 1);
        QCOMPARE(l_counter.Text(), QString("closed dee"));
    }
};

QTEST_GUILESS_MAIN(TestPeerNetworkShare)
#include "tst_peer_network_share.moc"
