// The bounds of the upload queue: per user, in all, and who makes room at
// the bound. Users are reported online or offline the way the server does
// it: the real server link asks a fake central server about each user who
// queues, and hands on what it answers.
#include "FakeCentralServer.h"
#include "TransfersTestWorld.h"
#include "UploadQueries.h"
#include "WireBytes.h"

#include "core/persist/Settings.h"
#include "peer/PeerMessageCodes.h"
#include "portmap/PortForwarderInterface.h"
#include "server/Server.h"
#include "transfers/TransferStatus.h"

#include <QtTest>

#include <string>
#include <vector>

namespace
{
using Codes = PeerMessageCodes::Code;
using namespace UploadQueries;

const std::string TooMany("Too many queued uploads.");
const int Bound = int(TransferQueueManager::MaxQueuedUploads);

QList<QByteArray> Denial(const std::string& i_path)
{
    return {MessageBody(Codes::UploadDenied, i_path, TooMany)};
}

// The transfer manager with the real server link, logged in as "me" to a
// fake central server that knows the users the test names: it answers the
// link's look-up of each user who queues with that user's status, and
// tells status changes on the test's word.
class LinkedWorld
{
public:
    LinkedWorld()
    {
        // "busy" holds the slot while the thousands of look-ups go over the
        // socket, which a busy machine may take half a minute for: on a
        // clock that stands still, the half-minute tick never ends its
        // upload's set-up and hands the slot to a waiting user.
        Manager().SetClock([] { return qint64(0); });
        Link().SetPortForwarder(nullptr);
        Settings::Set("password", "secret");
        m_ok = m_central.Start();
        Link().SetServerAddress("127.0.0.1", m_central.Port());
        m_ok = m_ok && LogIn();
    }

    bool Ok() const { return m_ok; }
    // The user, whom the server knows online or offline, asks to queue the
    // file.
    void Queue(const std::string& i_user, bool i_online, const std::string& i_path)
    {
        Know(i_user, i_online);
        Manager().OnQueueUploadRequested(i_user, i_path);
    }
    // "busy", online, takes the one upload slot, so that online users wait
    // too.
    bool TakeTheSlot(const std::string& i_path)
    {
        Queue("busy", true, i_path);
        return PeerTestWorld::WaitFor([] { return Active() == 1; });
    }
    // Users reported offline (the prefix and an index from 1) queue the file
    // until the queue holds its bound.
    void FillWithOffline(const std::string& i_prefix, const std::string& i_path)
    {
        for (int l_index = 1; Manager().QueuedUploadCount() < Bound; ++l_index)
            Queue(i_prefix + std::to_string(l_index), false, i_path);
    }
    TransferQueueManager& Manager() { return m_world.Manager(); }
    Server& Link() { return m_world.Peer().Link(); }

    void Know(const std::string& i_user, bool i_online)
    {
        FakeCentralServer::KnownUser l_user;
        l_user.m_status = i_online ? 2 : 0;
        m_central.AddKnownUser(i_user, l_user);
    }
    // The server tells the user's new status.
    bool Tell(const std::string& i_user, bool i_online)
    {
        return m_central.Send("me", Server::UserStatusCode, WireWriter().Str(i_user).U32(i_online ? 2 : 0).U8(0));
    }
    bool LogIn()
    {
        Link().Connect();
        return PeerTestWorld::WaitFor([this] { return Link().IsConnected(); });
    }
    // The server drops the connection; the link notices.
    bool LoseLink()
    {
        m_central.DropClient("me");
        return PeerTestWorld::WaitFor([this] { return Link().GetState() == Server::State::Disconnected; });
    }
    // Until the link has handled what the server sent before the answer to
    // a question the link asks now: every answer to its earlier look-ups,
    // and every status the server told before.
    bool Settle()
    {
        const std::string l_marker = "settled" + std::to_string(++m_settles);
        bool l_answered = false;
        QObject l_receiver;
        QObject::connect(&Link(), &Server::ReceivedUserStats, &l_receiver,
                         [&](std::string i_user, UserStats) { l_answered = l_answered || i_user == l_marker; });
        Link().GetUserStats(l_marker);
        return PeerTestWorld::WaitFor([&] { return l_answered; }, 60000);
    }

private:
    TransfersTestWorld m_world;
    FakeCentralServer m_central;
    bool m_ok = false;
    int m_settles = 0;
};
}  // namespace

class TestTransfersUploadBounds : public QObject
{
    Q_OBJECT

private slots:
    // A user may have 500 uploads waiting; the 501st is denied, and so is a
    // re-queued one past the bound. Other users still queue.
    void aUserQueuesAtMostFiveHundredUploads()
    {
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        const std::size_t l_bound = TransferQueueManager::MaxQueuedUploadsPerUser;
        for (std::size_t l_index = 0; l_index <= l_bound; ++l_index)
            TransfersTestWorld::ShareFile("/shares/Music", std::to_string(l_index) + ".mp3");
        for (std::size_t l_index = 0; l_index < l_bound; ++l_index)
            l_manager.OnQueueUploadRequested("bob", Path("Music\\" + std::to_string(l_index) + ".mp3"));
        QCOMPARE(l_manager.QueuedUploadCount(), int(l_bound));
        TransfersTestWorld::ClearSent();

        const std::string l_last = Path("Music\\" + std::to_string(l_bound) + ".mp3");
        l_manager.OnQueueUploadRequested("bob", l_last);
        QCOMPARE(TransfersTestWorld::Sent("bob"), Denial(l_last));
        QVERIFY(!UploadOf("bob", l_last));
        QVERIFY(l_world.LogTexts().contains("Denied, too many queued uploads"));

        // A finished entry leaves room; asked for again once the room is
        // taken, it is refused as well.
        ItemPtr l_first = UploadOf("bob", Path("Music\\0.mp3"));
        l_manager.SetUploadEntryStatus(l_first, TransferStatus::Complete);
        l_manager.OnQueueUploadRequested("bob", l_last);
        QCOMPARE(Status(UploadOf("bob", l_last)), std::string("queued"));
        l_manager.OnQueueUploadRequested("bob", Path("Music\\0.mp3"));
        QCOMPARE(Status(l_first), std::string("complete"));

        l_manager.OnQueueUploadRequested("ann", l_last);
        QCOMPARE(Status(UploadOf("ann", l_last)), std::string("queued"));
    }

    // At the queue's bound the longest-waiting entry of a user the server
    // reported offline makes room; when every waiting user is online the
    // request is denied.
    void aFullQueueDropsTheLongestWaitingOfflineEntry()
    {
        LinkedWorld l_linked;
        QVERIFY(l_linked.Ok());
        TransferQueueManager& l_manager = l_linked.Manager();
        TransfersTestWorld::ShareFile("/shares/Music", "a.mp3");
        const std::string l_path = Path("Music\\a.mp3");
        QVERIFY(l_linked.TakeTheSlot(l_path));
        l_linked.Queue("olly", true, l_path);
        l_linked.FillWithOffline("u", l_path);
        for (const char* lp_user : {"newcomer", "late", "last"})
            l_linked.Know(lp_user, false);
        QVERIFY(l_linked.Settle());
        QCOMPARE(l_manager.QueuedUploadCount(), Bound);

        l_manager.OnQueueUploadRequested("newcomer", l_path);
        QCOMPARE(l_manager.QueuedUploadCount(), Bound);
        QVERIFY(UploadOf("olly", l_path));
        QVERIFY(!UploadOf("u1", l_path));
        QVERIFY(UploadOf("u2", l_path));
        QCOMPARE(Status(UploadOf("newcomer", l_path)), std::string("queued"));

        // An entry that waited, ran and was queued again waits from then on.
        ItemPtr l_second = UploadOf("u2", l_path);
        l_manager.SetUploadEntryStatus(l_second, TransferStatus::Complete);
        l_manager.OnQueueUploadRequested("u2", l_path);
        l_manager.OnQueueUploadRequested("late", l_path);
        QVERIFY(UploadOf("u2", l_path));
        QVERIFY(!UploadOf("u3", l_path));

        // The answers to the last look-ups first: they would come after.
        QVERIFY(l_linked.Settle());
        const ItemSet l_users = d.GetType("upload_entry")->GetItems().GetItems("user");
        for (ItemPtr l_user : l_users) {
            if (!TransferEntries::IsOnline(l_user))
                QVERIFY(l_linked.Tell(l_user.AsString(), true));
        }
        QVERIFY(l_linked.Settle());
        TransfersTestWorld::ClearSent();
        l_manager.OnQueueUploadRequested("last", l_path);
        QVERIFY(!UploadOf("last", l_path));
        QCOMPARE(TransfersTestWorld::Sent("last"), Denial(l_path));
        QCOMPARE(l_manager.QueuedUploadCount(), Bound);
    }

    // Whether the longest-waiting entry makes room follows what the server
    // last said of its user ("+" online, "-" offline: the answer to the
    // link's look-up, then status changes); the other entries are of users
    // reported offline, the next of whom makes room instead.
    void theLongestWaitingEntryMakesRoomWhileItsUserIsReportedOffline_data()
    {
        QTest::addColumn<QString>("reports");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("offline") << "-" << true;
        QTest::newRow("online") << "+" << false;
        QTest::newRow("offline, then online") << "-+" << false;
        QTest::newRow("online, then offline") << "+-" << true;
    }
    void theLongestWaitingEntryMakesRoomWhileItsUserIsReportedOffline()
    {
        QFETCH(QString, reports);
        QFETCH(bool, dropped);
        LinkedWorld l_linked;
        QVERIFY(l_linked.Ok());
        TransferQueueManager& l_manager = l_linked.Manager();
        TransfersTestWorld::ShareFile("/shares/Music", "a.mp3");
        const std::string l_path = Path("Music\\a.mp3");
        QVERIFY(l_linked.TakeTheSlot(l_path));
        l_linked.Queue("old", reports.front() == '+', l_path);
        l_linked.FillWithOffline("s", l_path);
        QVERIFY(l_linked.Settle());
        for (QChar l_report : reports.mid(1))
            QVERIFY(l_linked.Tell("old", l_report == '+'));
        QVERIFY(l_linked.Settle());

        l_linked.Queue("newcomer", false, l_path);
        QCOMPARE(Status(UploadOf("newcomer", l_path)), std::string("queued"));
        QCOMPARE(l_manager.QueuedUploadCount(), Bound);
        QCOMPARE(!UploadOf("old", l_path), dropped);
        QCOMPARE(!UploadOf("s1", l_path), !dropped);
        QVERIFY(UploadOf("s2", l_path));
    }

    // The server link dropped for half a minute while strangers held the
    // queue at its bound: the entries of users who stayed logged in all
    // along were dropped as those of offline users, without a word, since
    // the loss takes every online flag away. While no status is known (the
    // link is down, or the server has not answered since the login) nobody
    // makes room and a request that needs room is denied; once the
    // strangers are reported offline again they make room as before.
    void aLostServerLinkDropsNoWaitingUpload()
    {
        LinkedWorld l_linked;
        QVERIFY(l_linked.Ok());
        TransferQueueManager& l_manager = l_linked.Manager();
        const std::vector<std::string> l_files{Path("Music\\a.mp3"), Path("Music\\b.mp3")};
        TransfersTestWorld::ShareFile("/shares/Music", "a.mp3");
        TransfersTestWorld::ShareFile("/shares/Music", "b.mp3");
        QVERIFY(l_linked.TakeTheSlot(l_files[0]));
        // Ten users who stay logged in queue first: theirs are the
        // longest-waiting entries.
        std::vector<std::string> l_honest;
        for (int l_index = 0; l_index < 10; ++l_index) {
            l_honest.push_back("legit" + std::to_string(l_index));
            for (const std::string& l_file : l_files)
                l_linked.Queue(l_honest.back(), true, l_file);
        }
        l_linked.FillWithOffline("stranger", l_files[0]);
        for (const char* lp_user : {"intruder", "early", "late"})
            l_linked.Know(lp_user, false);
        QVERIFY(l_linked.Settle());
        QCOMPARE(l_manager.QueuedUploadCount(), Bound);
        auto l_honestWaiting = [&] {
            int l_count = 0;
            for (const std::string& l_user : l_honest) {
                for (const std::string& l_file : l_files)
                    l_count += Status(UploadOf(l_user, l_file)) == TransferStatus::Queued ? 1 : 0;
            }
            return l_count;
        };
        QCOMPARE(l_honestWaiting(), 20);

        QVERIFY(l_linked.LoseLink());
        TransfersTestWorld::ClearSent();
        l_manager.OnQueueUploadRequested("intruder", l_files[0]);
        QCOMPARE(TransfersTestWorld::Sent("intruder"), Denial(l_files[0]));
        QVERIFY(!UploadOf("intruder", l_files[0]));
        QCOMPARE(l_manager.QueuedUploadCount(), Bound);
        QCOMPARE(l_honestWaiting(), 20);
        QVERIFY(UploadOf("stranger1", l_files[0]));

        // Logged in again: a request before the server has answered for
        // anyone finds nobody reported offline.
        QList<QByteArray> l_earlyAnswer;
        QObject l_receiver;
        connect(&l_linked.Link(), &Server::Connected, &l_receiver, [&] {
            l_manager.OnQueueUploadRequested("early", l_files[0]);
            l_earlyAnswer = TransfersTestWorld::Sent("early");
        });
        QVERIFY(l_linked.LogIn());
        QCOMPARE(l_earlyAnswer, Denial(l_files[0]));
        QVERIFY(!UploadOf("early", l_files[0]));
        QVERIFY(UploadOf("stranger1", l_files[0]));

        // The link asks about every user it tracks again; the strangers are
        // offline, and the longest-waiting of them makes room.
        QVERIFY(l_linked.Settle());
        l_manager.OnQueueUploadRequested("late", l_files[0]);
        QCOMPARE(Status(UploadOf("late", l_files[0])), std::string("queued"));
        QVERIFY(TransfersTestWorld::Sent("late").isEmpty());
        QVERIFY(!UploadOf("stranger1", l_files[0]));
        QVERIFY(UploadOf("stranger2", l_files[0]));
        QCOMPARE(l_manager.QueuedUploadCount(), Bound);
        QCOMPARE(l_honestWaiting(), 20);
    }

    // A user the server does not know can never fetch what it queued.
    void aUserTheServerDoesNotKnowLosesItsQueuedUploads()
    {
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        TransfersTestWorld::ShareFile("/shares/Music", "a.mp3");
        TransfersTestWorld::ShareFile("/shares/Music", "b.mp3");
        for (const char* lp_user : {"ghost", "bob"}) {
            l_manager.OnQueueUploadRequested(lp_user, Path("Music\\a.mp3"));
            l_manager.OnQueueUploadRequested(lp_user, Path("Music\\b.mp3"));
        }
        ItemPtr l_done = UploadOf("ghost", Path("Music\\b.mp3"));
        l_manager.SetUploadEntryStatus(l_done, TransferStatus::Complete);
        emit gp_server->AddUserResponse("bob", true);
        emit gp_server->AddUserResponse("ghost", false);
        QVERIFY(!UploadOf("ghost", Path("Music\\a.mp3")));
        QCOMPARE(Status(l_done), std::string("complete"));
        QCOMPARE(l_manager.QueuedUploadCount(), 2);
    }
};

QTEST_MAIN(TestTransfersUploadBounds)
#include "tst_transfers_upload_bounds.moc"
