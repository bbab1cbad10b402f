#include "core/store/Data.h"

#include <QtTest>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Values(const ItemList& i_list)
{
    std::vector<std::string> l_values;
    for (const ItemPtr& l_item : i_list)
        l_values.push_back(l_item.AsString());
    return l_values;
}

}  // namespace

class TestSets : public QObject
{
    Q_OBJECT

private:
    Type* mp_file = nullptr;
    Type* mp_size = nullptr;
    Type* mp_word = nullptr;

private slots:
    void init()
    {
        d.Reset();
        mp_file = d.NewType("file", true, false, true);
        mp_size = d.NewType("size", false, false, true);
        mp_word = d.NewType("word", false, false, true);
        mp_file->RelateToType(mp_size, Many, One, false);
        mp_file->RelateToType(mp_word, Many, Many, false);
    }
    void cleanupTestCase() { d.Reset(); }

    void setOperations()
    {
        ItemPtr l_a = mp_file->GetItem("a"), l_b = mp_file->GetItem("b"), l_c = mp_file->GetItem("c");
        ItemSet l_ab{l_a.Get(), l_b.Get(), l_a.Get()};
        ItemSet l_bc{l_c.Get(), l_b.Get()};
        QCOMPARE(l_ab.size(), std::size_t(2));
        QCOMPARE((l_ab + l_bc).size(), std::size_t(3));
        QCOMPARE(l_ab.Common(l_bc), ItemSet(l_b.Get()));
        ItemSet l_all = l_ab;
        l_all.Add(l_bc);
        QCOMPARE(l_all, g("file"));
        QVERIFY(std::is_sorted(l_all.begin(), l_all.end(), std::less<Item*>()));
        QCOMPARE(ItemPtr(l_all).Get(), *l_all.begin());
        QVERIFY(ItemPtr(ItemSet()).IsNull());
        QCOMPARE(i("file", "b"), ItemSet(l_b.Get()));
        QVERIFY(i("file", "zzz").empty());
        QCOMPARE(mp_file->ItemCount(), std::size_t(3));  // i never creates

        // A copy of a type's items does not change when items go.
        ItemSet l_copy = mp_file->GetItems();
        l_c.Remove();
        QCOMPARE(l_copy.size(), std::size_t(3));
        QCOMPARE(mp_file->GetItems().size(), std::size_t(2));
    }

    void connectedQueries()
    {
        ItemPtr l_a = mp_file->GetItem("a"), l_b = mp_file->GetItem("b"), l_c = mp_file->GetItem("c");
        ItemPtr l_red = mp_word->GetItem("red"), l_blue = mp_word->GetItem("blue");
        l_a += l_red;
        l_b += l_red;
        l_b += l_blue;
        l_c += mp_size->GetItem(1);
        ItemSet l_files = g("file");
        QCOMPARE(l_files.Connected("word"), (ItemSet{l_a.Get(), l_b.Get()}));
        QCOMPARE(l_files.NotConnected("word"), ItemSet(l_c.Get()));
        QCOMPARE(l_files.Connected("word", "blue"), ItemSet(l_b.Get()));
        QVERIFY(l_files.Connected("word", "green").empty());
        QVERIFY(mp_word->HasItem("green").IsNull());
        QCOMPARE(l_files.Connected(ItemSet(l_blue.Get())), ItemSet(l_b.Get()));
        QCOMPARE(l_files.Connected(l_red), (ItemSet{l_a.Get(), l_b.Get()}));
        QCOMPARE(l_files.GetItems("word"), (ItemSet{l_red.Get(), l_blue.Get()}));
        QCOMPARE(d.GetItems(l_files, "word"), (ItemSet{l_red.Get(), l_blue.Get()}));

        QCOMPARE(d.GetItemSubset(ItemSet{l_red.Get(), l_blue.Get()}, "file"), ItemSet(l_b.Get()));
        QVERIFY(d.GetItemSubset(ItemSet(), "file").empty());
        QVERIFY(d.GetItemSubset(ItemSet{l_red.Get(), l_c.Get()}, "word").empty());
        QCOMPARE(d.GetItem(l_red, l_blue, "file").Get(), l_b.Get());
        QVERIFY(d.GetItem(l_red, mp_word->GetItem("green"), "file").IsNull());
        QCOMPARE(d.GetItems(l_red, l_blue, "file"), ItemSet(l_b.Get()));
        QCOMPARE(d.GetItem(ItemSet{l_red.Get()}, "file").Get(), (ItemSet{l_a.Get(), l_b.Get()}).begin()[0]);
    }

    // The common partners are the same whichever item has the fewest and
    // wherever it stands: one side large enough for the chunked form, the
    // other a single partner or a few.
    void subsetOfUnevenSets()
    {
        std::vector<ItemPtr> l_files;
        for (int l_n = 0; l_n < 300; ++l_n)
            l_files.push_back(mp_file->GetItem("f" + std::to_string(l_n)));
        ItemPtr l_many = mp_word->GetItem("many"), l_one = mp_word->GetItem("one"), l_few = mp_word->GetItem("few");
        for (ItemPtr l_file : l_files)
            l_file += l_many;
        l_files[150] += l_one;
        ItemPtr l_outside = mp_file->GetItem("outside");
        l_outside += l_few;
        l_files[7] += l_few;
        l_files[150] += l_few;

        QCOMPARE(d.GetItem(l_many, l_one, "file").Get(), l_files[150].Get());
        QCOMPARE(d.GetItem(l_one, l_many, "file").Get(), l_files[150].Get());
        QCOMPARE(d.GetItems(l_many, l_few, "file"), (ItemSet{l_files[7].Get(), l_files[150].Get()}));
        QCOMPARE(d.GetItemSubset(ItemSet{l_many.Get(), l_one.Get(), l_few.Get()}, "file"), ItemSet(l_files[150].Get()));
        QVERIFY(d.GetItemSubset(ItemSet{l_many.Get(), l_one.Get(), mp_word->GetItem("none").Get()}, "file").empty());
        QCOMPARE(d.GetItemSubset(ItemSet(l_many.Get()), "file").size(), std::size_t(300));
    }

    void sortsAndTheirExactReverse()
    {
        // Equal keys keep address order ascending and reverse it descending.
        std::vector<ItemPtr> l_files;
        const long long l_sizes[] = {30, 10, 20, 10, 9000000000LL, -1};
        for (int l_n = 0; l_n < 6; ++l_n) {
            l_files.push_back(mp_file->GetItem("f" + std::to_string(l_n)));
            l_files.back() += mp_size->GetItem(l_sizes[l_n]);
        }
        mp_file->GetItem("nosize");
        ItemSet l_all = g("file");
        ItemList l_up = l_all.SortNumericBy("size", true);
        ItemList l_down = l_all.SortNumericBy("size", false);
        QCOMPARE(l_up.size(), std::size_t(6));
        QCOMPARE(l_up.front().AsString(), std::string("f5"));
        QCOMPARE(l_up.back().AsString(), std::string("f4"));
        ItemList l_reversed(l_up.rbegin(), l_up.rend());
        QCOMPARE(Values(l_down), Values(l_reversed));
        // The two files of size 10 in address order.
        Item* lp_first10 = std::min(l_files[1].Get(), l_files[3].Get(), std::less<Item*>());
        QCOMPARE(l_up[1].Get(), lp_first10);

        Type* lp_name = d.NewType("name", false, false, true);
        mp_file->RelateToType(lp_name, Many, One, false);
        l_files[0] += lp_name->GetItem("b");
        l_files[1] += lp_name->GetItem("B");
        l_files[2] += lp_name->GetItem("\xE9");
        l_files[3] += lp_name->GetItem("b");
        ItemList l_byName = l_all.SortAlphabeticBy("name", true);
        QCOMPARE(l_byName.size(), std::size_t(4));
        QCOMPARE(l_byName.front().Get(), l_files[1].Get());  // "B" before "b": case-sensitive
        QCOMPARE(l_byName.back().Get(), l_files[2].Get());   // bytes compare unsigned
        ItemList l_byNameDown = l_all.SortAlphabeticBy("name", false);
        QCOMPARE(Values(l_byNameDown), Values(ItemList(l_byName.rbegin(), l_byName.rend())));

        ItemList l_alpha = l_all.SortAlphabetic(true);
        QCOMPARE(Values(l_alpha), (std::vector<std::string>{"f0", "f1", "f2", "f3", "f4", "f5", "nosize"}));
        ItemList l_alphaDown = l_all.SortAlphabetic(false);
        QCOMPARE(Values(l_alphaDown), Values(ItemList(l_alpha.rbegin(), l_alpha.rend())));
    }
};

QTEST_GUILESS_MAIN(TestSets)
#include "tst_sets.moc"
