// File connections taken under the connection bound that introduce
// themselves and never send their token: at the bound they give their
// places to newcomers and to our own attempts, unless a download of ours
// waits for their user's file connection and they have waited only a few
// seconds; they count in their network's share. The far ends bind loopback
// addresses of networks of their own (127.0.N.x).
#include "FakePeer.h"
#include "PeerClients.h"
#include "PeerTestWorld.h"
#include "RawClient.h"

#include "peer/PeerBoundRules.h"
#include "peer/PeerFileWaits.h"
#include "peer/PeerLogNotes.h"
#include "peer/PeerMessenger.h"

#include <QtTest>

#include <memory>
#include <string>

namespace
{
using PeerClients::Address;
using PeerClients::Clients;
using PeerClients::ClosedCount;
using PeerClients::Introduce;

// Loads the world with the bound, a download of ours that waits for fay's
// file connection, and a server link that can be asked for addresses.
void Prepare(PeerTestWorld& io_world, int i_bound)
{
    io_world.m_requests.m_canAskAddress = true;
    io_world.Messenger().SetConnectionBound(std::size_t(i_bound));
    io_world.Messenger().SetFileWaitCheck([](const std::string& i_user) { return i_user == "fay"; });
    io_world.Load();
}

// File connections from the address that introduce themselves as the user
// and send nothing more, taken one after another.
bool OpenFileConnections(PeerTestWorld& io_world, Clients& io_clients, int i_count, quint32 i_from,
                         const std::string& i_user)
{
    const QString l_accepted = QString("Accepted file connection to user %1").arg(QString::fromStdString(i_user));
    for (int l_index = 0; l_index < i_count; ++l_index) {
        auto lp_client = std::make_unique<RawClient>();
        const int l_before = io_world.Count(l_accepted);
        if (!lp_client->Connect(io_world.PlainPort(), i_from) || !lp_client->Send(RawClient::FileIntroduction(i_user))
            || !PeerTestWorld::WaitFor([&] { return io_world.Count(l_accepted) == l_before + 1; }))
            return false;
        io_clients.push_back(std::move(lp_client));
    }
    return true;
}
}

class TestPeerBoundFileWaits : public QObject
{
    Q_OBJECT

private slots:
    // Four file connections from one address fill the bound and never send
    // their token. A messaging newcomer from another network, and our own
    // browse of a user we know, each take the place of the oldest of them.
    // One whose user we await a file connection from holds its place for
    // the bound's token wait, then gives it all the same.
    void bareFileConnectionsGiveTheirPlacesAtTheBound_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<qint64>("waitedMs");
        QTest::addColumn<bool>("giveAtOnce");
        constexpr qint64 Hold = PeerBoundRules::TokenWaitAtBoundMs;
        QTest::newRow("no download of ours waits for the user") << "sam" << qint64(0) << true;
        QTest::newRow("a download waits, past the token wait") << "fay" << Hold + 1 << true;
        QTest::newRow("a download waits, within the token wait") << "fay" << Hold << false;
    }
    void bareFileConnectionsGiveTheirPlacesAtTheBound()
    {
        QFETCH(QString, user);
        QFETCH(qint64, waitedMs);
        QFETCH(bool, giveAtOnce);
        constexpr int Bound = 4;
        PeerTestWorld l_world;
        Prepare(l_world, Bound);
        Clients l_files;
        QVERIFY(OpenFileConnections(l_world, l_files, Bound, Address(2, 2), user.toStdString()));
        l_world.Advance(waitedMs);
        l_world.ClearLog();

        RawClient l_pat;
        QVERIFY(l_pat.Connect(l_world.PlainPort(), Address(3, 2)));
        QVERIFY(l_pat.Send(RawClient::Introduction("pat")));
        FakePeer l_bob;
        QVERIFY(l_bob.Listen(Address(4, 2)));
        l_world.GiveAddress("bob", Address(4, 2), l_bob.Port(), 0);
        l_world.Messenger().GetUserSharedFiles("bob");
        if (!giveAtOnce) {
            PeerTestWorld::Settle(200);
            QVERIFY(!PeerTestWorld::HasMessagingConnection("pat"));
            QVERIFY(!l_pat.ClosedByPeer());
            QVERIFY(l_bob.WaitForConnection(false, 50) == nullptr);
            QCOMPARE(ClosedCount(l_files), 0);
            l_world.Advance(1);
            l_world.Messenger().EveryHalfMinute();
        }
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); }));
        FakePeerConnection* lp_browse = l_bob.WaitForConnection(false);
        QVERIFY(lp_browse && lp_browse->WaitForFrames(2));
        PeerTestWorld::Settle(50);
        QVERIFY(l_files[0]->ClosedByPeer());
        QVERIFY(l_files[1]->ClosedByPeer());
        QCOMPARE(ClosedCount(l_files), 2);
        QVERIFY(!l_pat.ClosedByPeer());
        QCOMPARE(l_world.LogTexts().filter("file connections that sent no transfer token"),
                 QStringList{"Peer connections at their bound of 4, closing file connections that sent no transfer "
                             "token to make room (said once a minute)."});
        QCOMPARE(l_world.LogTexts().filter("not accepting until one closes").size(), giveAtOnce ? 0 : 1);
    }

    // A file connection for a download of ours, still within the token
    // wait, keeps its place: its network's messaging connection gives
    // instead, for the waiting file connections count in the network's
    // share, and the bound's lines say how many of them wait.
    void aNetworksWaitingFileConnectionsCountInItsShare()
    {
        constexpr int Bound = 6;
        PeerTestWorld l_world;
        Prepare(l_world, Bound);
        Clients l_files;
        Clients l_crowd;
        Clients l_other;
        QVERIFY(OpenFileConnections(l_world, l_files, 3, Address(2, 2), "fay"));
        QVERIFY(Introduce(l_crowd, 2, Address(2, 3), "crowd", l_world.PlainPort()));
        QVERIFY(Introduce(l_other, 1, Address(3, 2), "other", l_world.PlainPort()));
        l_world.ClearLog();

        Clients l_pat;
        QVERIFY(Introduce(l_pat, 1, Address(3, 3), "pat", l_world.PlainPort()));
        RawClient l_late;
        QVERIFY(l_late.Connect(l_world.PlainPort(), Address(2, 9)));
        QVERIFY(l_late.Send(RawClient::Introduction("late")));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_late.ClosedByPeer(); }));
        PeerTestWorld::Settle(50);
        QCOMPARE(ClosedCount(l_files), 0);
        QCOMPARE(ClosedCount(l_crowd), 1);
        QCOMPARE(ClosedCount(l_other), 0);
        QVERIFY(!l_pat.front()->ClosedByPeer());
        const QStringList l_lines = l_world.LogTexts();
        QCOMPARE(l_lines.filter("closing the connections silent longest"),
                 QStringList{"Peer connections at their bound of 6, and the network of 127.0.2.3 holds 5 of them (3 "
                             "of them file connections waiting for their transfer token): closing the connections "
                             "silent longest at its most crowded address to make room for other networks (said once "
                             "a minute)."});
        QCOMPARE(l_lines.filter("refusing its new connections"),
                 QStringList{"Peer connections at their bound of 6, and the network of 127.0.2.9 holds 4 of them (3 "
                             "of them file connections waiting for their transfer token): refusing its new "
                             "connections while no room can be made for them (said once a minute)."});
    }

    // At the bound each room check looks for the file connection that
    // gives its place, among the oldest waits; whether a download of ours
    // waits for a user's file connection walks that user's downloads. A
    // crowd naming one user has it asked once a check, not once a wait.
    void eachUserIsAskedOnceARoomCheck_data()
    {
        QTest::addColumn<QStringList>("users");
        // When each began to wait, in ms; the check comes at TokenWaitAtBoundMs.
        QTest::addColumn<QList<qint64>>("since");
        QTest::addColumn<int>("giver");
        QTest::addColumn<QStringList>("asked");
        constexpr qint64 Hold = PeerBoundRules::TokenWaitAtBoundMs;
        const auto l_many = [](const QString& i_user, int i_count) { return QStringList(i_count, i_user); };
        const int Looked = int(PeerFileWaits::MaxLooked);
        QTest::newRow("a crowd of an awaited user") << l_many("fay", Looked) << QList<qint64>(Looked, 0) << -1
                                                    << QStringList{"fay"};
        QTest::newRow("two users in turn") << QStringList{"fay", "fay", "sam", "fay", "sam"}
                                           << QList<qint64>(5, 0) << 2 << QStringList{"fay", "sam"};
        QTest::newRow("beyond the waits looked at") << l_many("fay", Looked) + QStringList{"sam"}
                                                    << QList<qint64>(Looked + 1, 0) << -1 << QStringList{"fay"};
        // The clock went back: the later wait waited longer, past the hold.
        QTest::newRow("a later wait that waited longer") << QStringList{"fay", "fay", "fay"}
                                                         << QList<qint64>{1, 1, -1} << 2 << QStringList{"fay"};
        QTest::newRow("an earlier wait past the hold") << QStringList{"fay", "fay"} << QList<qint64>{-Hold, 0} << 0
                                                       << QStringList{};
    }
    void eachUserIsAskedOnceARoomCheck()
    {
        QFETCH(QStringList, users);
        QFETCH(QList<qint64>, since);
        QFETCH(int, giver);
        QFETCH(QStringList, asked);
        QStringList l_asked;
        PeerBoundRules l_rules;
        l_rules.SetFileWaitCheck([&l_asked](const std::string& i_user) {
            l_asked << QString::fromStdString(i_user);
            return i_user == "fay";
        });
        static char s_sockets[PeerFileWaits::MaxLooked + 1];
        PeerFileWaits l_waits;
        for (int l_index = 0; l_index < users.size(); ++l_index)
            l_waits.Add(reinterpret_cast<QTcpSocket*>(&s_sockets[l_index]), Address(2, 2), users[l_index].toStdString(),
                        since[l_index]);
        const PeerFileWaits::Gives l_gives = [&l_rules](const std::string& i_user, qint64 i_waitedMs) {
            return l_rules.FileWaitGives(i_user, i_waitedMs);
        };
        QTcpSocket* lp_giver = l_waits.Giver(PeerBoundRules::TokenWaitAtBoundMs, l_gives);
        QCOMPARE(lp_giver ? int(reinterpret_cast<char*>(lp_giver) - s_sockets) : -1, giver);
        QCOMPARE(l_asked, asked);
    }

    // A crowd's file connections that never send their token go faster
    // than once a minute, expired by the sweep or closed for room: the
    // first goes with its line, and the sweep a minute after that line
    // writes how many followed, with no later one to bring the count.
    void theLastFileConnectionsLeftWithoutTokenAreCounted_data()
    {
        QTest::addColumn<bool>("forRoom");
        QTest::addColumn<QString>("text");
        QTest::newRow("expired") << false
                                 << "File connections that sent no transfer token in two minutes expired, closing";
        QTest::newRow("closed for room") << true
                                         << "Peer connections at their bound of 6, closing file connections that "
                                            "sent no transfer token to make room";
    }
    void theLastFileConnectionsLeftWithoutTokenAreCounted()
    {
        QFETCH(bool, forRoom);
        QFETCH(QString, text);
        constexpr int Crowd = 6;
        PeerTestWorld l_world;
        Prepare(l_world, forRoom ? Crowd : 4 * Crowd);
        Clients l_files;
        QVERIFY(OpenFileConnections(l_world, l_files, Crowd, Address(2, 2), "sam"));
        l_world.ClearLog();
        Clients l_newcomers;
        if (forRoom) {
            for (int l_index = 0; l_index < Crowd; ++l_index)
                QVERIFY(Introduce(l_newcomers, 1, Address(3 + l_index, 2), QString("pat%1_").arg(l_index),
                                  l_world.PlainPort()));
        } else {
            l_world.Advance(2 * 60 * 1000);
            l_world.Messenger().EveryHalfMinute();
        }
        QVERIFY(PeerTestWorld::WaitFor([&] { return ClosedCount(l_files) == Crowd; }));
        const QString l_first = text + " (said once a minute).";
        QCOMPARE(l_world.LogTexts().filter(text), QStringList{l_first});
        l_world.Advance(PeerLogNotes::EveryMs - 1);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.LogTexts().filter(text), QStringList{l_first});
        l_world.Advance(1);
        l_world.Messenger().EveryHalfMinute();
        const QString l_count = QString("%1 (said once a minute; %2 since the last such line).").arg(text).arg(Crowd - 1);
        QCOMPARE(l_world.LogTexts().filter(text), (QStringList{l_first, l_count}));
        l_world.Advance(PeerLogNotes::EveryMs);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.LogTexts().filter(text), (QStringList{l_first, l_count}));
    }
};

QTEST_GUILESS_MAIN(TestPeerBoundFileWaits)
#include "tst_peer_bound_file_waits.moc"
