#include "core/store/Data.h"

#include <QtTest>

#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_journal;

std::string Describe(const Item* ip_item)
{
    return ip_item->mp_type->m_name + ":" + ip_item->m_value;
}

// A subscriber whose reactions the test sets per case.
class Recorder : public DataHandler
{
public:
    explicit Recorder(std::string i_name) : m_name(std::move(i_name)) {}

    void OnItem(Item* ip_item)
    {
        g_journal.push_back(m_name + " " + Describe(ip_item));
        if (m_reaction)
            m_reaction(ip_item);
    }
    void OnConnection(ConnectionInfo i_info)
    {
        g_journal.push_back(m_name + " " + Describe(i_info.mp_item1) + "-" + Describe(i_info.mp_item2));
    }
    void OnConnectionRef(ConnectionInfo& i_info)
    {
        g_journal.push_back(m_name + " " + Describe(i_info.mp_item1) + "-" + Describe(i_info.mp_item2));
    }

    std::string m_name;
    std::function<void(Item*)> m_reaction;
};

}  // namespace

class TestEvents : public QObject
{
    Q_OBJECT

private:
    Type* mp_user = nullptr;
    Type* mp_room = nullptr;
    Type* mp_value = nullptr;

private slots:
    void init()
    {
        d.Reset();
        g_journal.clear();
        mp_user = d.NewType("user", true, false, true);
        mp_room = d.NewType("room", true, false, true);
        mp_value = d.NewType("value", false, false, true);
        mp_user->RelateToType(mp_room, Many, Many, false);
        mp_user->RelateToType(mp_value, Many, One, false);
    }
    void cleanupTestCase() { d.Reset(); }

    void addedEventsRunBeforeAnyConnection()
    {
        Recorder l_type("type"), l_store("store");
        l_type.m_reaction = [](Item* ip_item) { QVERIFY(ip_item->IsDisconnectedFromAll()); };
        mp_user->ItemAddedEvent.m_handlerSet.insert(l_type.MakeHandler(&Recorder::OnItem));
        d.ItemAddedEvent.m_handlerSet.insert(l_store.MakeHandler(&Recorder::OnItem));
        mp_user->GetItem("ann");
        mp_user->GetItem("ann");
        QCOMPARE(g_journal, (std::vector<std::string>{"type user:ann", "store user:ann"}));
    }

    void removalEventsSeeTheItemStillConnectedAndCounted()
    {
        Recorder l_type("type"), l_store("store");
        ItemPtr l_ann = mp_user->GetItem("ann");
        l_ann += mp_room->GetItem("lobby");
        auto l_check = [this](Item* ip_item) {
            QVERIFY(ip_item->IsConnected("room"));
            QCOMPARE(mp_user->ItemCount(), std::size_t(1));
            QVERIFY(mp_user->GetItems().contains(ip_item));
        };
        l_type.m_reaction = l_check;
        l_store.m_reaction = l_check;
        Recorder l_disconnect("gone");
        mp_room->ItemsDisconnectedEvent.m_handlerSet.insert(l_disconnect.MakeHandler(&Recorder::OnConnection));
        mp_user->ItemRemovedEvent.m_handlerSet.insert(l_type.MakeHandler(&Recorder::OnItem));
        d.ItemRemovedEvent.m_handlerSet.insert(l_store.MakeHandler(&Recorder::OnItem));
        l_ann.Remove();
        QCOMPARE(g_journal, (std::vector<std::string>{"type user:ann", "store user:ann", "gone room:lobby-user:ann"}));
        QCOMPARE(mp_user->ItemCount(), std::size_t(0));
    }

    void connectionEventOrderAndOneEndReplacement()
    {
        Recorder l_user("user"), l_value("value"), l_pair("pair");
        mp_user->ItemsConnectedEvent.m_handlerSet.insert(l_user.MakeHandler(&Recorder::OnConnection));
        mp_user->ItemsDisconnectedEvent.m_handlerSet.insert(l_user.MakeHandler(&Recorder::OnConnection));
        mp_value->ItemsConnectedEvent.m_handlerSet.insert(l_value.MakeHandler(&Recorder::OnConnection));
        // Registered value-first: the value item comes first whichever side connects.
        d.AddConnectionEventHandler(mp_value, mp_user, l_pair.MakeHandler(&Recorder::OnConnectionRef));
        ItemPtr l_ann = mp_user->GetItem("ann");
        l_ann += mp_value->GetItem("1");
        l_ann += mp_value->GetItem("1");  // no new connection, no events
        l_ann += mp_value->GetItem("2");
        QCOMPARE(g_journal, (std::vector<std::string>{
                                "user user:ann-value:1", "value value:1-user:ann", "pair value:1-user:ann",
                                // the old partner goes first, with its events
                                "user user:ann-value:1",
                                "user user:ann-value:2", "value value:2-user:ann", "pair value:2-user:ann"}));

        Recorder l_unrelated("x");
        bool l_thrown = false;
        try {
            d.AddConnectionEventHandler(mp_room, mp_value, l_unrelated.MakeHandler(&Recorder::OnConnectionRef));
        } catch (NotRelatedException* lp_error) {
            l_thrown = true;
            delete lp_error;
        }
        QVERIFY(l_thrown);
    }

    void disconnectingStrangersFiresNothing()
    {
        Recorder l_gone("gone");
        mp_user->ItemsDisconnectedEvent.m_handlerSet.insert(l_gone.MakeHandler(&Recorder::OnConnection));
        ItemPtr l_ann = mp_user->GetItem("ann");
        l_ann -= mp_room->GetItem("lobby");
        l_ann.Disconnect("room");
        QVERIFY(g_journal.empty());
    }

    void handlerAddedDuringNotificationIsNotCalledByIt()
    {
        auto* lp_late = new Recorder("late");
        Recorder l_first("first");
        l_first.m_reaction = [&](Item*) {
            if (lp_late->m_handlerSet.size() == 0)
                mp_user->ItemAddedEvent.m_handlerSet.insert(lp_late->MakeHandler(&Recorder::OnItem));
        };
        mp_user->ItemAddedEvent.m_handlerSet.insert(l_first.MakeHandler(&Recorder::OnItem));
        mp_user->GetItem("ann");
        QCOMPARE(g_journal, (std::vector<std::string>{"first user:ann"}));
        mp_user->GetItem("bob");
        QCOMPARE(g_journal.size(), std::size_t(3));
        delete lp_late;
    }

    void subscriberDestroyedInsideNotificationIsNeverCalledAgain()
    {
        // Two subscribers on one event: the first deletes the second and
        // itself while the notification runs.
        auto* lp_first = new Recorder("first");
        auto* lp_second = new Recorder("second");
        // Kept outside the subscribers, which die while it runs.
        std::function<void(Item*)> l_killBoth = [&](Item*) {
            delete lp_second;
            lp_second = nullptr;
            delete lp_first;
            lp_first = nullptr;
        };
        lp_first->m_reaction = [&l_killBoth](Item* ip_item) { l_killBoth(ip_item); };
        lp_second->m_reaction = lp_first->m_reaction;
        mp_user->ItemAddedEvent.m_handlerSet.insert(lp_first->MakeHandler(&Recorder::OnItem));
        mp_user->ItemAddedEvent.m_handlerSet.insert(lp_second->MakeHandler(&Recorder::OnItem));
        mp_user->GetItem("ann");
        QCOMPARE(g_journal.size(), std::size_t(1));
        mp_user->GetItem("bob");
        QCOMPARE(g_journal.size(), std::size_t(1));
        QCOMPARE(mp_user->ItemAddedEvent.m_handlerSet.size(), std::size_t(0));
    }

    void handlerRemovingItemsDuringRemovalIsTolerated()
    {
        // Removing one member of a set removes the next one through a handler.
        ItemPtr l_ann = mp_user->GetItem("ann");
        ItemPtr l_bob = mp_user->GetItem("bob");
        ItemPtr l_cid = mp_user->GetItem("cid");
        Recorder l_chain("chain");
        l_chain.m_reaction = [&](Item*) {
            l_ann->IsBeingRemoved() ? void() : l_ann.Remove();
            l_bob->IsBeingRemoved() ? void() : l_bob.Remove();
            l_cid->IsBeingRemoved() ? void() : l_cid.Remove();
        };
        mp_user->ItemRemovedEvent.m_handlerSet.insert(l_chain.MakeHandler(&Recorder::OnItem));
        mp_user->GetItems().Remove();
        QCOMPARE(mp_user->ItemCount(), std::size_t(0));
        QCOMPARE(g_journal.size(), std::size_t(3));
    }

    void laterStagesAreSkippedOnceTheConnectionIsGone()
    {
        // The user's own handler removes the user: the room's handler and the
        // path over that step must not hear of a connection that is gone.
        Recorder l_user("user"), l_room("room"), l_path("path");
        l_user.m_reaction = [](Item* ip_item) { ip_item->Remove(); };
        struct Remover : DataHandler
        {
            void OnConnection(ConnectionInfo i_info)
            {
                g_journal.push_back("user-side");
                i_info.mp_item1->Remove();
            }
        } l_remover;
        mp_user->ItemsConnectedEvent.m_handlerSet.insert(l_remover.MakeHandler(&Remover::OnConnection));
        mp_room->ItemsConnectedEvent.m_handlerSet.insert(l_room.MakeHandler(&Recorder::OnConnection));
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "room", Connected);
        d.AddPathEventHandler(lp_root, l_path.MakeHandler(&Recorder::OnItem));
        ItemPtr l_ann = mp_user->GetItem("ann");
        l_ann += mp_room->GetItem("lobby");
        QCOMPARE(g_journal, std::vector<std::string>{"user-side"});
        QVERIFY(mp_user->HasItem("ann").IsNull());
    }

    void disconnectingATypeEndsWhenHandlersReplaceValues()
    {
        // A handler that restores a default on every loss of a value must not
        // keep Disconnect(type) going for ever.
        struct Restorer : DataHandler
        {
            void OnGone(ConnectionInfo i_info)
            {
                if (++m_calls < 100)
                    ItemPtr(i_info.mp_item1) += mp_default;
            }
            Item* mp_default = nullptr;
            int m_calls = 0;
        } l_restorer;
        ItemPtr l_ann = mp_user->GetItem("ann");
        l_restorer.mp_default = mp_value->GetItem("default");
        l_ann += mp_value->GetItem("chosen");
        mp_user->ItemsDisconnectedEvent.m_handlerSet.insert(l_restorer.MakeHandler(&Restorer::OnGone));
        l_ann.Disconnect("value");
        QCOMPARE(l_restorer.m_calls, 1);
        QCOMPARE(l_ann["value"].AsString(), std::string("default"));
    }

    void oneHandlerInSeveralEvents()
    {
        auto* lp_both = new Recorder("both");
        auto* lp_handler = lp_both->MakeHandler(&Recorder::OnItem);
        mp_user->ItemAddedEvent.m_handlerSet.insert(lp_handler);
        mp_user->ItemRemovedEvent.m_handlerSet.insert(lp_handler);
        mp_user->GetItem("ann").Remove();
        QCOMPARE(g_journal.size(), std::size_t(2));
        delete lp_both;
        mp_user->GetItem("bob").Remove();
        QCOMPARE(g_journal.size(), std::size_t(2));
        QVERIFY(mp_user->ItemAddedEvent.m_handlerSet.empty());
        QVERIFY(mp_user->ItemRemovedEvent.m_handlerSet.empty());
    }
};

QTEST_GUILESS_MAIN(TestEvents)
#include "tst_events.moc"
