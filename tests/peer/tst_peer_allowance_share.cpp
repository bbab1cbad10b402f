// The places above the connection bound, shared by network: who takes one,
// who gives one up for a newcomer, and who is refused.
#include "peer/PeerAllowanceShare.h"

#include <QStringList>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <set>
#include <vector>

namespace
{
// A network by its letter: 127.0.<letter's place>.<index>.
quint32 AddressOf(QChar i_network, int i_index)
{
    return 0x7F000000u | quint32(i_network.unicode() - 'A' + 1) << 8 | quint32(i_index + 1);
}
}

class TestPeerAllowanceShare : public QObject
{
    Q_OBJECT

private slots:
    void theShareIsAQuarter_data()
    {
        QTest::addColumn<int>("allowance");
        QTest::addColumn<int>("share");
        QTest::newRow("60") << 60 << 15;
        QTest::newRow("16") << 16 << 4;
        QTest::newRow("3") << 3 << 1;
        QTest::newRow("0") << 0 << 1;
    }
    void theShareIsAQuarter()
    {
        QFETCH(int, allowance);
        QFETCH(int, share);
        QCOMPARE(int(PeerAllowanceShare::Share(std::size_t(allowance))), share);
    }

    // Holders in the order they came: a network's letter, then "s" for one
    // that has not spoken, "p" for one that has, "x" for one that left.
    // What the newcomer of a network gets: "take", "refuse", or "after N",
    // the place of the holder that gives.
    void aNewcomerTakesGivesOrIsRefused_data()
    {
        QTest::addColumn<int>("allowance");
        QTest::addColumn<QString>("holders");
        QTest::addColumn<QString>("newcomer");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("room, within its share") << 8 << "As" << "A" << "take";
        QTest::newRow("its share full: its oldest silent gives") << 8 << "Ap As" << "A" << "after 1";
        QTest::newRow("its share full of ones that spoke") << 8 << "Ap Ap" << "A" << "refuse";
        QTest::newRow("its share full, another network with room") << 8 << "Ap Ap" << "B" << "take";
        QTest::newRow("holders that left hold nothing") << 8 << "Ax Ax As" << "A" << "take";
        QTest::newRow("full, networks alike: the oldest silent gives")
            << 8 << "Ap As Bs Bp Cs Cs Dp Ds" << "E" << "after 1";
        QTest::newRow("full: the oldest silent gives, not the largest network")
            << 12 << "As Bs Bs Bs Cp Cp Cp Dp Dp Dp Ep Ep" << "F" << "after 0";
        QTest::newRow("full: only a network with a silent one gives")
            << 8 << "Ap Ap Bp Bs Cp Cp Dp Dp" << "E" << "after 3";
        QTest::newRow("full, every holder spoke") << 8 << "Ap Ap Bp Bp Cp Cp Dp Dp" << "E" << "refuse";
        QTest::newRow("full but for one that left") << 8 << "Ap Ap Bp Bp Cp Cp Dp Dx" << "E" << "take";
    }
    void aNewcomerTakesGivesOrIsRefused()
    {
        QFETCH(int, allowance);
        QFETCH(QString, holders);
        QFETCH(QString, newcomer);
        QFETCH(QString, outcome);
        PeerAllowanceShare l_share;
        std::vector<std::unique_ptr<QTcpSocket>> l_sockets;
        std::set<QTcpSocket*> l_left;
        std::set<QTcpSocket*> l_spoke;
        const QStringList l_holders = holders.split(' ');
        for (int l_index = 0; l_index < l_holders.size(); ++l_index) {
            const QString& l_holder = l_holders[l_index];
            l_sockets.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket* lp_socket = l_sockets.back().get();
            l_share.Took(lp_socket, AddressOf(l_holder[0], l_index));
            if (l_holder[1] == 'x')
                l_left.insert(lp_socket);
            else if (l_holder[1] == 'p')
                l_spoke.insert(lp_socket);
        }
        std::size_t l_held = l_sockets.size() - l_left.size();
        QTcpSocket* lp_giver = nullptr;
        const bool l_placed = l_share.Place(
            AddressOf(newcomer[0], 99), std::size_t(allowance), l_held,
            [&](QTcpSocket* ip_socket) { return !l_left.contains(ip_socket); },
            [&](QTcpSocket* ip_socket) { return !l_spoke.contains(ip_socket); }, lp_giver);
        QString l_outcome = "refuse";
        if (l_placed && !lp_giver) {
            l_outcome = "take";
        } else if (l_placed) {
            for (std::size_t l_index = 0; l_index < l_sockets.size(); ++l_index) {
                if (l_sockets[l_index].get() == lp_giver)
                    l_outcome = QString("after %1").arg(l_index);
            }
        }
        QCOMPARE(l_outcome, outcome);
    }

    // Records of holders that left go as they are met, so that the records
    // stay within twice the places however many come and go.
    void recordsOfHoldersThatLeftDoNotPileUp()
    {
        constexpr std::size_t Allowance = 8;
        PeerAllowanceShare l_share;
        std::set<QTcpSocket*> l_live;
        std::vector<std::unique_ptr<QTcpSocket>> l_sockets;
        for (int l_round = 0; l_round < 1000; ++l_round) {
            QTcpSocket* lp_giver = nullptr;
            const quint32 l_address = AddressOf(QChar('A' + l_round % 20), l_round);
            QVERIFY(l_share.Place(
                l_address, Allowance, l_live.size(), [&](QTcpSocket* ip_socket) { return l_live.contains(ip_socket); },
                [](QTcpSocket*) { return true; }, lp_giver));
            if (lp_giver)
                l_live.erase(lp_giver);
            l_sockets.push_back(std::make_unique<QTcpSocket>());
            l_share.Took(l_sockets.back().get(), l_address);
            l_live.insert(l_sockets.back().get());
            // Every other one leaves by itself, as one that spoke and was
            // taken for room below the bound does.
            if (l_round % 2 == 1)
                l_live.erase(l_sockets[std::size_t(l_round - 1)].get());
            QVERIFY(l_live.size() <= Allowance);
            QVERIFY2(l_share.Records() <= 2 * Allowance + 1, qPrintable(QString::number(l_share.Records())));
        }
    }
};

QTEST_GUILESS_MAIN(TestPeerAllowanceShare)
#include "tst_peer_allowance_share.moc"
