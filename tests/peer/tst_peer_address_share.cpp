// The count of messaging connections per remote address, and which one an
// address beyond its share gives up. The sockets are only names here.
#include "peer/PeerAddressShare.h"

#include <QtTest>

namespace
{
QTcpSocket* Socket(quintptr i_name)
{
    return reinterpret_cast<QTcpSocket*>(i_name * 16);
}

constexpr quint32 Crowd = 0x7F000002;
constexpr quint32 Second = 0x7F000003;
constexpr quint32 Lone = 0x7F000004;

// i_count connections from the address, named from i_first on, in order.
void Open(PeerAddressShare& io_share, quint32 i_address, quintptr i_first, int i_count)
{
    for (int l_index = 0; l_index < i_count; ++l_index)
        io_share.Add(Socket(i_first + quintptr(l_index)), i_address);
}
}

class TestPeerAddressShare : public QObject
{
    Q_OBJECT

private slots:
    void theDonorIsTheLongestOpenOfTheLargestOtherAddress_data()
    {
        constexpr int Share = int(PeerAddressShare::Share);
        QTest::addColumn<int>("crowd");
        QTest::addColumn<int>("second");
        QTest::addColumn<uint>("taker");
        // The name of the connection given up; 0 for none.
        QTest::addColumn<int>("donor");
        QTest::newRow("every address within its share") << Share << Share << uint(Lone) << 0;
        QTest::newRow("the crowd beyond, for another") << Share + 1 << 3 << uint(Lone) << 1000;
        QTest::newRow("the crowd beyond, for itself") << Share + 1 << 3 << uint(Crowd) << 0;
        QTest::newRow("both beyond, the larger gives") << Share + 1 << Share + 5 << uint(Lone) << 2000;
        QTest::newRow("both beyond, the larger takes") << Share + 1 << Share + 5 << uint(Second) << 1000;
    }
    void theDonorIsTheLongestOpenOfTheLargestOtherAddress()
    {
        QFETCH(int, crowd);
        QFETCH(int, second);
        QFETCH(uint, taker);
        QFETCH(int, donor);
        PeerAddressShare l_share;
        Open(l_share, Crowd, 1000, crowd);
        Open(l_share, Second, 2000, second);
        QCOMPARE(l_share.Count(Crowd), std::size_t(crowd));
        QCOMPARE(l_share.Donor(taker), donor ? Socket(quintptr(donor)) : nullptr);
        QCOMPARE(l_share.HasDonor(), crowd > int(PeerAddressShare::Share) || second > int(PeerAddressShare::Share));
    }

    // Connections that go leave the count and the order; one added twice
    // counts once.
    void closedConnectionsLeaveTheCount()
    {
        PeerAddressShare l_share;
        Open(l_share, Crowd, 1000, int(PeerAddressShare::Share) + 2);
        l_share.Add(Socket(1000), Crowd);
        QCOMPARE(l_share.Count(Crowd), PeerAddressShare::Share + 2);
        l_share.Remove(Socket(1000));
        l_share.Remove(Socket(1000));
        QCOMPARE(l_share.Donor(Lone), Socket(1001));
        QCOMPARE(l_share.AddressOf(Socket(1001)), Crowd);
        QCOMPARE(l_share.AddressOf(Socket(1000)), 0u);
        l_share.Remove(Socket(1001));
        QCOMPARE(l_share.Count(Crowd), PeerAddressShare::Share);
        QVERIFY(!l_share.HasDonor());
        QCOMPARE(l_share.Donor(Lone), nullptr);
    }

    // Once a minute per address, whatever the others do; a clock that went
    // back lets it say it again.
    void eachAddressIsLoggedOnceAMinute()
    {
        PeerAddressShare l_share;
        const QDateTime l_start(QDate(2024, 5, 1), QTime(12, 0, 0));
        QVERIFY(l_share.MayLog(Crowd, l_start));
        QVERIFY(l_share.MayLog(Second, l_start.addSecs(1)));
        QVERIFY(!l_share.MayLog(Crowd, l_start.addSecs(59)));
        QVERIFY(!l_share.MayLog(Second, l_start.addSecs(60)));
        QVERIFY(l_share.MayLog(Crowd, l_start.addSecs(60)));
        QVERIFY(l_share.MayLog(Second, l_start.addSecs(61)));
        QVERIFY(l_share.MayLog(Crowd, l_start.addSecs(-10)));
    }
};

QTEST_GUILESS_MAIN(TestPeerAddressShare)
#include "tst_peer_address_share.moc"
