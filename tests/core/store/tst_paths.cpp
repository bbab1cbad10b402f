#include "core/store/Data.h"

#include <QtTest>

#include <string>
#include <vector>

namespace {

class Watcher : public DataHandler
{
public:
    void OnPath(Item* ip_item) { m_seen.push_back(ip_item->m_value); }
    void Watch(PathNode* ip_root) { d.AddPathEventHandler(ip_root, MakeHandler(&Watcher::OnPath)); }

    std::vector<std::string> m_seen;
};

using Seen = std::vector<std::string>;

}  // namespace

class TestPaths : public QObject
{
    Q_OBJECT

private:
    Type* mp_user = nullptr;
    Type* mp_room = nullptr;

private slots:
    void init()
    {
        d.Reset();
        mp_user = d.NewType("user", true, false, true);
        mp_room = d.NewType("room", true, false, true);
        for (const char* lp_name : {"user_address", "user_port", "user_obfuscated_port", "average_download_speed",
                                    "shared_files_count", "country_code"})
            mp_user->RelateToType(d.NewType(lp_name, false, false, true), Many, One, false);
        for (const char* lp_flag : {"is_online", "in_room", "room_autojoin"})
            d.NewType(lp_flag, false, true, false);
        mp_user->RelateToType(d.GetType("is_online"), Many, One, false);
        mp_user->RelateToType(mp_room, Many, Many, false);
        mp_room->RelateToType(d.GetType("in_room"), Many, One, false);
        mp_room->RelateToType(d.GetType("room_autojoin"), Many, One, false);
        Type* lp_membership = d.NewType("in_user_list", false, true, false);
        Type* lp_group = d.NewType("user_list_group", false, false, true);
        mp_user->RelateToType(lp_membership, One, One, false);
        lp_membership->RelateToType(lp_group, Many, One, false);
        Type* lp_request = d.NewType("peer_connection_request", true, true, false);
        lp_request->RelateToType(d.NewType("peer_connection_request_id", false, false, true), One, One, false);
        lp_request->RelateToType(d.NewType("peer_connection_type", false, false, true), Many, One, false);
        lp_request->RelateToType(mp_user, Many, One, false);
    }
    void cleanupTestCase() { d.Reset(); }

    void connectedFiresOnceAllHoldAndOnEachLaterConnection()
    {
        Watcher l_watcher;
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "user_address", Connected);
        new PathNode(lp_root, "user_port", Connected);
        new PathNode(lp_root, "user_obfuscated_port", Connected);
        l_watcher.Watch(lp_root);
        ItemPtr l_ann = mp_user->GetItem("ann");
        l_ann += d.GetType("user_address")->GetItem("1.2.3.4");
        l_ann += d.GetType("user_port")->GetItem(2235);
        QVERIFY(l_watcher.m_seen.empty());
        l_ann += d.GetType("user_obfuscated_port")->GetItem(8973);
        QCOMPARE(l_watcher.m_seen, Seen{"ann"});
        l_ann += d.GetType("user_port")->GetItem(2236);  // a new address while the others stand
        QCOMPARE(l_watcher.m_seen, (Seen{"ann", "ann"}));
        l_ann += d.GetType("user_port")->GetItem(2236);  // no change, no call
        QCOMPARE(l_watcher.m_seen.size(), std::size_t(2));
    }

    void nestedChildrenAreConditionsOnTheirParentsItem()
    {
        Watcher l_watcher;
        auto* lp_root = new PathNode(&d, "peer_connection_request");
        new PathNode(lp_root, "peer_connection_request_id", Connected);
        new PathNode(lp_root, "peer_connection_type", Connected);
        auto* lp_user = new PathNode(lp_root, "user", Connected);
        new PathNode(lp_user, "user_address", Connected);
        new PathNode(lp_user, "user_port", Connected);
        new PathNode(lp_user, "user_obfuscated_port", Connected);
        l_watcher.Watch(lp_root);

        ItemPtr l_request = d.GetType("peer_connection_request")->NewItem();
        l_request += d.GetType("peer_connection_request_id")->GetItem(77);
        l_request += d.GetType("peer_connection_type")->GetItem("P");
        ItemPtr l_ann = mp_user->GetItem("ann");
        l_request += l_ann;
        l_ann += d.GetType("user_address")->GetItem("1.2.3.4");
        l_ann += d.GetType("user_port")->GetItem(2235);
        QVERIFY(l_watcher.m_seen.empty());
        // The last address item of the user completes the request's path.
        l_ann += d.GetType("user_obfuscated_port")->GetItem(0);
        QCOMPARE(l_watcher.m_seen.size(), std::size_t(1));

        // A second request for a user who has every address fires on the user link.
        ItemPtr l_second = d.GetType("peer_connection_request")->NewItem();
        l_second += d.GetType("peer_connection_request_id")->GetItem(78);
        l_second += d.GetType("peer_connection_type")->GetItem("F");
        QCOMPARE(l_watcher.m_seen.size(), std::size_t(1));
        l_second += l_ann;
        QCOMPARE(l_watcher.m_seen.size(), std::size_t(2));
        // A user change reaches both requests.
        l_ann += d.GetType("user_port")->GetItem(1);
        QCOMPARE(l_watcher.m_seen.size(), std::size_t(4));
    }

    void newlyConnectedIgnoresExistingConnections()
    {
        ItemPtr l_ann = mp_user->GetItem("ann");
        l_ann.NewItem("is_online");
        Watcher l_watcher;
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "is_online", NewlyConnected);
        l_watcher.Watch(lp_root);
        ItemPtr l_bob = mp_user->GetItem("bob");
        l_bob.NewItem("is_online");
        l_ann.NewItem("is_online");
        QCOMPARE(l_watcher.m_seen, Seen{"bob"});
        l_bob.Disconnect("is_online");
        QCOMPARE(l_watcher.m_seen, Seen{"bob"});
    }

    void alreadyConnectedIsAConditionThatNeverTriggers()
    {
        Watcher l_online, l_offline;
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "is_online", NewlyConnected);
        new PathNode(lp_root, "in_user_list", AlreadyConnected);
        l_online.Watch(lp_root);
        auto* lp_gone = new PathNode(&d, "user");
        new PathNode(lp_gone, "is_online", NewlyDisconnected);
        new PathNode(lp_gone, "in_user_list", AlreadyConnected);
        l_offline.Watch(lp_gone);

        ItemPtr l_ann = mp_user->GetItem("ann");
        ItemPtr l_bob = mp_user->GetItem("bob");
        l_ann.NewItem("in_user_list");
        QVERIFY(l_online.m_seen.empty());
        l_ann.NewItem("is_online");
        l_bob.NewItem("is_online");  // not listed
        QCOMPARE(l_online.m_seen, Seen{"ann"});
        l_ann.Disconnect("is_online");
        l_bob.Disconnect("is_online");
        QCOMPARE(l_offline.m_seen, Seen{"ann"});
    }

    void grandchildTriggersReportTheRoot()
    {
        Watcher l_added, l_removed;
        auto* lp_root = new PathNode(&d, "user");
        auto* lp_listed = new PathNode(lp_root, "in_user_list", AlreadyConnected);
        new PathNode(lp_listed, "user_list_group", NewlyConnected);
        l_added.Watch(lp_root);
        auto* lp_root2 = new PathNode(&d, "user");
        auto* lp_listed2 = new PathNode(lp_root2, "in_user_list", AlreadyConnected);
        new PathNode(lp_listed2, "user_list_group", NewlyDisconnected);
        l_removed.Watch(lp_root2);

        ItemPtr l_ann = mp_user->GetItem("ann");
        ItemPtr l_membership = l_ann.NewItem("in_user_list");
        l_membership += d.GetType("user_list_group")->GetItem("friends");
        QCOMPARE(l_added.m_seen, Seen{"ann"});
        l_membership += d.GetType("user_list_group")->GetItem("family");
        QCOMPARE(l_added.m_seen, (Seen{"ann", "ann"}));
        QCOMPARE(l_removed.m_seen, Seen{"ann"});
    }

    void fixedItemNodesAndRemoval()
    {
        ItemPtr l_lobby = mp_room->GetItem("lobby");
        ItemPtr l_music = mp_room->GetItem("music");
        Watcher l_members, l_leaving, l_left, l_autojoinOn;
        auto* lp_members = new PathNode(&d, "user");
        new PathNode(lp_members, l_lobby.Get(), Connected);
        new PathNode(lp_members, "average_download_speed", Connected);
        new PathNode(lp_members, "shared_files_count", Connected);
        new PathNode(lp_members, "country_code", Connected);
        l_members.Watch(lp_members);
        auto* lp_leaving = new PathNode(&d, "user");
        new PathNode(lp_leaving, l_lobby.Get(), NewlyDisconnected);
        l_leaving.Watch(lp_leaving);
        auto* lp_left = new PathNode(l_lobby.Get());
        new PathNode(lp_left, "in_room", NewlyDisconnected);
        l_left.Watch(lp_left);
        auto* lp_autojoin = new PathNode(l_lobby.Get());
        new PathNode(lp_autojoin, "room_autojoin", NewlyConnected);
        l_autojoinOn.Watch(lp_autojoin);

        ItemPtr l_ann = mp_user->GetItem("ann");
        l_ann += d.GetType("average_download_speed")->GetItem(10);
        l_ann += d.GetType("shared_files_count")->GetItem(5);
        l_ann += d.GetType("country_code")->GetItem("NZ");
        l_ann += l_music;  // another room: not this path's item
        QVERIFY(l_members.m_seen.empty());
        l_ann += l_lobby;
        QCOMPARE(l_members.m_seen, Seen{"ann"});

        l_music.NewItem("room_autojoin");
        QVERIFY(l_autojoinOn.m_seen.empty());
        l_lobby.NewItem("room_autojoin");
        QCOMPARE(l_autojoinOn.m_seen, Seen{"lobby"});

        l_lobby.NewItem("in_room");
        l_lobby.Disconnect("in_room");
        QCOMPARE(l_left.m_seen, Seen{"lobby"});

        // Removing the fixed room itself wakes none of its own paths.
        ItemPtr l_hall = mp_room->GetItem("hall");
        Watcher l_hallLeft;
        auto* lp_hall = new PathNode(l_hall.Get());
        new PathNode(lp_hall, "in_room", NewlyDisconnected);
        l_hallLeft.Watch(lp_hall);
        l_hall.NewItem("in_room");
        l_hall.Remove();
        QVERIFY(l_hallLeft.m_seen.empty());

        // A removed member is reported while it is still readable.
        l_ann.Remove();
        QCOMPARE(l_leaving.m_seen, Seen{"ann"});

        // Once the fixed room goes, its paths are inert, also for a new room
        // of the same name.
        l_lobby.Remove();
        ItemPtr l_again = mp_room->GetItem("lobby");
        l_again.NewItem("room_autojoin");
        l_again.NewItem("in_room");
        l_again.Disconnect("in_room");
        ItemPtr l_bob = mp_user->GetItem("bob");
        l_bob += l_again;
        l_bob -= l_again;
        QCOMPARE(l_autojoinOn.m_seen, Seen{"lobby"});
        QCOMPARE(l_left.m_seen, Seen{"lobby"});
        QCOMPARE(l_leaving.m_seen, Seen{"ann"});
    }

    void destroyedSubscriberIsDropped()
    {
        auto* lp_watcher = new Watcher;
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "is_online", NewlyConnected);
        lp_watcher->Watch(lp_root);
        // The watcher deletes itself from inside its own notification.
        struct SelfDeleting : DataHandler
        {
            void OnPath(Item*)
            {
                ++*mp_calls;
                delete this;
            }
            int* mp_calls;
        };
        int l_calls = 0;
        auto* lp_self = new SelfDeleting;
        lp_self->mp_calls = &l_calls;
        auto* lp_root2 = new PathNode(&d, "user");
        new PathNode(lp_root2, "is_online", NewlyConnected);
        d.AddPathEventHandler(lp_root2, lp_self->MakeHandler(&SelfDeleting::OnPath));
        delete lp_watcher;
        mp_user->GetItem("ann").NewItem("is_online");
        mp_user->GetItem("bob").NewItem("is_online");
        QCOMPARE(l_calls, 1);
    }

    void badPathsThrow()
    {
        bool l_thrown = false;
        try {
            new PathNode(&d, "no_such_type");
        } catch (TypeNotFoundException* lp_error) {
            l_thrown = true;
            delete lp_error;
        }
        QVERIFY(l_thrown);
        Watcher l_watcher;
        auto* lp_root = new PathNode(&d, "room");
        new PathNode(lp_root, "user_port", Connected);
        l_thrown = false;
        try {
            l_watcher.Watch(lp_root);
        } catch (NotRelatedException* lp_error) {
            l_thrown = true;
            delete lp_error;
            delete lp_root;
        }
        QVERIFY(l_thrown);
    }
};

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
