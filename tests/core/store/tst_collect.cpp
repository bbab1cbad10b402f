#include "core/store/Data.h"

#include <QtTest>

class TestCollect : public QObject
{
    Q_OBJECT

private slots:
    void init() { d.Reset(); }
    void cleanupTestCase() { d.Reset(); }

    void unreachableItemsGoReachableStay()
    {
        Type* lp_setting = d.NewType("global", true, false, true);
        Type* lp_value = d.NewType("global_value", false, false, true);
        Type* lp_extra = d.NewType("extra", false, false, true);
        lp_setting->RelateToType(lp_value, Many, One, false);
        lp_value->RelateToType(lp_extra, Many, Many, false);
        ItemPtr l_port = lp_setting->GetItem("port");
        l_port += lp_value->GetItem("1");
        lp_value->GetItem("1") += lp_extra->GetItem("deep");  // reached through a non-primary item
        lp_value->GetItem("orphan");
        lp_extra->GetItem("lonely");
        lp_setting->GetItem("unset");  // primary: stays though unconnected
        QCOMPARE(d.RemoveDisconnectedItems(), 2);
        QVERIFY(lp_value->HasItem("orphan").IsNull());
        QVERIFY(lp_extra->HasItem("lonely").IsNull());
        QVERIFY(!lp_extra->HasItem("deep").IsNull());
        QVERIFY(!lp_setting->HasItem("unset").IsNull());
        QCOMPARE(d.RemoveDisconnectedItems(), 0);
    }

    void oneCollectionRemovesAWholeOwnedChain()
    {
        // A results tab (primary) owns user nodes, which own folder nodes,
        // which hold results; closing the tab must clear everything at once.
        Type* lp_tab = d.NewType("tab", true, true, false);
        Type* lp_userNode = d.NewType("user_node", false, true, false);
        Type* lp_folderNode = d.NewType("folder_node", false, true, false);
        Type* lp_result = d.NewType("result", false, true, false);
        Type* lp_keeper = d.NewType("keeper", true, true, false);
        lp_tab->RelateToType(lp_userNode, One, Many, true);
        lp_userNode->RelateToType(lp_folderNode, One, Many, true);
        lp_folderNode->RelateToType(lp_result, Many, Many, false);
        // The result is also linked to a primary item elsewhere, and the
        // user node to another primary, so reachability alone would keep them.
        lp_keeper->RelateToType(lp_userNode, Many, Many, false);
        lp_keeper->RelateToType(lp_result, Many, Many, false);
        ItemPtr l_keeper = lp_keeper->NewItem();
        ItemPtr l_tab = lp_tab->NewItem();
        ItemPtr l_user = l_tab.NewItem("user_node");
        l_keeper += l_user;
        ItemPtr l_folder = l_user.NewItem("folder_node");
        ItemPtr l_result = lp_result->NewItem();
        l_folder += l_result;
        ItemPtr l_orphanResult = lp_result->NewItem();
        l_folder += l_orphanResult;

        QCOMPARE(d.RemoveDisconnectedItems(), 0);
        l_tab.Remove();
        l_keeper += l_result;
        // user node (owner gone), then its folder node, then the result that
        // nothing primary reaches any more.
        QCOMPARE(d.RemoveDisconnectedItems(), 3);
        QCOMPARE(lp_userNode->ItemCount(), std::size_t(0));
        QCOMPARE(lp_folderNode->ItemCount(), std::size_t(0));
        QCOMPARE(lp_result->ItemCount(), std::size_t(1));
        QVERIFY(l_keeper.IsConnected(l_result));
    }

    void removalEventsFireForCollectedItems()
    {
        struct Counter : DataHandler
        {
            void OnRemoved(Item* ip_item)
            {
                // The first of the pair to go is still connected to the other.
                if (m_count++ == 0)
                    m_firstWasConnected = !ip_item->IsDisconnectedFromAll();
            }
            int m_count = 0;
            bool m_firstWasConnected = false;
        } l_counter;
        Type* lp_node = d.NewType("node", false, false, true);
        Type* lp_leaf = d.NewType("leaf", false, false, true);
        lp_node->RelateToType(lp_leaf, Many, Many, false);
        lp_node->GetItem("n") += lp_leaf->GetItem("l");
        d.ItemRemovedEvent.m_handlerSet.insert(l_counter.MakeHandler(&Counter::OnRemoved));
        QCOMPARE(d.RemoveDisconnectedItems(), 2);
        QCOMPARE(l_counter.m_count, 2);
        QVERIFY(l_counter.m_firstWasConnected);
    }
};

QTEST_GUILESS_MAIN(TestCollect)
#include "tst_collect.moc"
