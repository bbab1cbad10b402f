#include "core/store/Data.h"

#include <QtTest>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

// Random changes through the store's public API, each followed by the same
// questions to the store and to a standard container. The seed is fixed, so
// a failure repeats; the sizes walk a partner set through every form and
// back, with chunk splits, and grow the value index several times.
class TestDifferential : public QObject
{
    Q_OBJECT

private:
    std::mt19937 m_random;
    std::size_t Pick(std::size_t i_count) { return std::uniform_int_distribution<std::size_t>(0, i_count - 1)(m_random); }

private slots:
    void init()
    {
        d.Reset();
        m_random.seed(20240611);
    }
    void cleanupTestCase() { d.Reset(); }

    void partnerSetsMatchStdSet_data()
    {
        QTest::addColumn<int>("order");
        QTest::newRow("new partners in random order") << 0;
        QTest::newRow("new partners by ascending address") << 1;
        QTest::newRow("new partners by descending address") << 2;
    }

    void partnerSetsMatchStdSet()
    {
        QFETCH(int, order);
        Type* lp_hubType = d.NewType("hub", true, false, false);
        Type* lp_leafType = d.NewType("leaf", false, false, false);
        lp_hubType->RelateToType(lp_leafType, Many, Many, false);
        std::vector<Item*> l_hubs{lp_hubType->NewItem(0), lp_hubType->NewItem(1), lp_hubType->NewItem(2)};
        Item* lp_hub = l_hubs[0];
        int l_made = 0;
        std::vector<Item*> l_leaves;
        while (l_made < 1200)
            l_leaves.push_back(lp_leafType->NewItem(l_made++));
        // The hub takes new partners in this order of leaf slots.
        std::vector<std::size_t> l_order(l_leaves.size());
        std::iota(l_order.begin(), l_order.end(), std::size_t(0));
        if (order == 0)
            std::shuffle(l_order.begin(), l_order.end(), m_random);
        else
            std::sort(l_order.begin(), l_order.end(), [&](std::size_t i_a, std::size_t i_b) {
                return (order == 1) == std::less<Item*>()(l_leaves[i_a], l_leaves[i_b]);
            });
        std::size_t l_cursor = 0;

        std::map<Item*, std::set<Item*>> l_model;
        auto l_agrees = [&l_model](Item* ip_item, Type* ip_partnerType) {
            const PartnerSet* lp_set = ip_item->Partners(ip_partnerType);
            const std::set<Item*>& l_want = l_model[ip_item];
            if (!lp_set)
                return l_want.empty();
            std::vector<Item*> l_got;
            lp_set->AppendTo(l_got);
            return lp_set->Size() == l_want.size() && lp_set->First() == *l_want.begin() &&
                   std::equal(l_got.begin(), l_got.end(), l_want.begin(), l_want.end());
        };
        auto l_connect = [&](Item* ip_hub, Item* ip_leaf) {
            ItemPtr(ip_hub) += ip_leaf;
            l_model[ip_hub].insert(ip_leaf);
            l_model[ip_leaf].insert(ip_hub);
        };
        auto l_disconnect = [&](Item* ip_hub, Item* ip_leaf) {
            ItemPtr(ip_hub) -= ip_leaf;
            l_model[ip_hub].erase(ip_leaf);
            l_model[ip_leaf].erase(ip_hub);
        };

        std::set<int> l_formsSeen;
        std::size_t l_step = 0;
        // Single, small array, chunked (with splits), back down to a small
        // array and a single partner, none, and up again.
        for (const std::size_t l_target : {1, 2, 5, 300, 1000, 500, 70, 20, 1, 0, 600}) {
            while (l_model[lp_hub].size() != l_target) {
                ++l_step;
                const bool l_grow = l_model[lp_hub].size() < l_target;
                Item* lp_leaf = nullptr;
                if ((Pick(10) < 7) == l_grow) {
                    while (l_model[lp_hub].count(lp_leaf = l_leaves[l_order[l_cursor++ % l_order.size()]])) {
                    }
                    l_connect(lp_hub, lp_leaf);
                } else if (!l_model[lp_hub].empty()) {
                    auto l_it = l_model[lp_hub].lower_bound(l_leaves[Pick(l_leaves.size())]);
                    lp_leaf = l_it == l_model[lp_hub].end() ? *l_model[lp_hub].begin() : *l_it;
                    l_disconnect(lp_hub, lp_leaf);
                }
                // A random leaf: asked from both sides, sometimes connected
                // again (a no-op when it is already), to another hub, or removed.
                const std::size_t l_slot = Pick(l_leaves.size());
                Item* lp_other = l_leaves[l_slot];
                const bool l_linked = l_model[lp_hub].count(lp_other) != 0;
                if (lp_hub->IsConnected(lp_other) != l_linked || lp_other->IsConnected(lp_hub) != l_linked)
                    QFAIL(qPrintable(QString("lookup differs at step %1").arg(l_step)));
                switch (Pick(16)) {
                case 0:
                    l_connect(lp_hub, lp_other);
                    break;
                case 1:
                    l_connect(l_hubs[1 + Pick(2)], lp_other);
                    break;
                case 2:
                    l_disconnect(l_hubs[1 + Pick(2)], lp_other);
                    break;
                case 3:
                    for (Item* lp_partner : l_model[lp_other])
                        l_model[lp_partner].erase(lp_other);
                    l_model.erase(lp_other);
                    ItemPtr(lp_other).Remove();
                    if (lp_leaf == lp_other)
                        lp_leaf = nullptr;
                    l_leaves[l_slot] = lp_other = lp_leafType->NewItem(l_made++);
                    break;
                }
                if (!l_agrees(lp_hub, lp_leafType) || !l_agrees(lp_other, lp_hubType) || (lp_leaf && !l_agrees(lp_leaf, lp_hubType)))
                    QFAIL(qPrintable(QString("partners differ at step %1, hub size %2").arg(l_step).arg(l_model[lp_hub].size())));
                // The form follows the size: one partner in place, a chunked
                // array past 256, a small array again below 64.
                const std::size_t l_size = l_model[lp_hub].size();
                if (l_size > 0) {
                    const int l_form = lp_hub->Partners(lp_leafType)->LookupCost();
                    l_formsSeen.insert(l_form);
                    QVERIFY(l_size == 1 ? l_form == 0 : l_size > 256 ? l_form == 2 : l_size < 64 ? l_form == 1 : l_form > 0);
                }
            }
        }
        QCOMPARE(l_formsSeen, (std::set<int>{0, 1, 2}));
        for (Item* lp_item : l_leaves)
            QVERIFY(l_agrees(lp_item, lp_hubType));
        for (Item* lp_item : l_hubs)
            QVERIFY(l_agrees(lp_item, lp_leafType));
    }

    void valueIndexMatchesStdMap()
    {
        Type* lp_word = d.NewType("word", false, false, false);
        // Distinct keys of 0 to 11 random bytes, the empty one and NULs among them.
        std::set<std::string> l_distinct{""};
        while (l_distinct.size() < 5000) {
            std::string l_key(Pick(12), '\0');
            for (char& l_byte : l_key)
                l_byte = char(Pick(256));
            l_distinct.insert(l_key);
        }
        std::vector<std::string> l_keys(l_distinct.begin(), l_distinct.end());
        std::shuffle(l_keys.begin(), l_keys.end(), m_random);

        std::map<std::string, Item*> l_model;
        std::size_t l_step = 0, l_cursor = 0;
        for (const std::size_t l_target : {3, 4000, 200, 0, 3000}) {
            while (l_model.size() != l_target) {
                ++l_step;
                if ((Pick(10) < 7) == (l_model.size() < l_target)) {
                    while (l_model.count(l_keys[l_cursor % l_keys.size()]))
                        ++l_cursor;
                    const std::string& l_key = l_keys[l_cursor++ % l_keys.size()];
                    Item* lp_item = lp_word->NewItem(l_key);
                    if (lp_item->m_value != l_key)
                        QFAIL(qPrintable(QString("new item's value differs at step %1").arg(l_step)));
                    l_model[l_key] = lp_item;
                } else if (!l_model.empty()) {
                    auto l_it = l_model.lower_bound(l_keys[Pick(l_keys.size())]);
                    if (l_it == l_model.end())
                        l_it = l_model.begin();
                    ItemPtr(l_it->second).Remove();
                    l_model.erase(l_it);
                }
                // A random key: looked up, and sometimes made again, which
                // must give the item it has if it has one.
                const std::string& l_asked = l_keys[Pick(l_keys.size())];
                auto l_known = l_model.find(l_asked);
                Item* lp_want = l_known == l_model.end() ? nullptr : l_known->second;
                if (lp_word->HasItem(l_asked).Get() != lp_want || (lp_want && Pick(8) == 0 && lp_word->NewItem(l_asked).Get() != lp_want))
                    QFAIL(qPrintable(QString("lookup differs at step %1").arg(l_step)));
            }
            QCOMPARE(lp_word->ItemCount(), l_model.size());
            for (const std::string& l_key : l_keys) {
                auto l_known = l_model.find(l_key);
                QVERIFY(lp_word->HasItem(l_key).Get() == (l_known == l_model.end() ? nullptr : l_known->second));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestDifferential)
#include "tst_differential.moc"
