#include "core/store/Data.h"
#include "ChildProcess.h"

#include <QtTest>

#include <cstdio>

#include <memory>
#include <thread>

// Catches a store error thrown as a pointer and frees it.
#define EXPECT_THROW_PTR(expression, ExceptionType)                 \
    do {                                                            \
        bool l_thrown = false;                                      \
        try {                                                       \
            expression;                                             \
        } catch (ExceptionType * lp_error) {                        \
            l_thrown = true;                                        \
            delete lp_error;                                        \
        }                                                           \
        QVERIFY2(l_thrown, #expression " did not throw " #ExceptionType); \
    } while (false)

class TestItems : public QObject
{
    Q_OBJECT

private slots:
    void init() { d.Reset(); }
    void cleanupTestCase() { d.Reset(); }

    void declarationErrors()
    {
        Type* lp_user = d.NewType("user", true, false, true);
        Type* lp_flag = d.NewType("is_online", false, true, false);
        EXPECT_THROW_PTR(d.NewType("user", false, false, false), TypeAlreadyExistsException);
        EXPECT_THROW_PTR(d.GetType("nobody"), TypeNotFoundException);
        EXPECT_THROW_PTR(d.GetType(std::string("nobody")), TypeNotFoundException);
        QVERIFY(d.HasType("nobody") == nullptr);
        QCOMPARE(d.HasType("user"), lp_user);
        lp_user->RelateToType(lp_flag, Many, One, false);
        EXPECT_THROW_PTR(lp_user->RelateToType(lp_flag, Many, One, false), AlreadyRelatedException);
        EXPECT_THROW_PTR(lp_flag->RelateToType(lp_user, Many, One, false), AlreadyRelatedException);
        EXPECT_THROW_PTR(lp_flag->HasItem("x"), NullTypeException);
        EXPECT_THROW_PTR(lp_flag->GetItem("x"), NullTypeException);
        EXPECT_THROW_PTR(lp_user->NewItem(), NullTypeException);
        ItemPtr l_user = lp_user->GetItem("ann");
        EXPECT_THROW_PTR(l_user["no_such_type"], TypeNotFoundException);
        EXPECT_THROW_PTR(ItemPtr()["no_such_type"], TypeNotFoundException);

        QHash<std::string, Type*> l_types;
        d.GetTypes(l_types);
        QCOMPARE(l_types.size(), 2);
        QCOMPARE(l_types.value("is_online"), lp_flag);
    }

    void valuesAreUniqueAndCreatedOnLookup()
    {
        Type* lp_spontaneous = d.NewType("room", false, false, true);
        Type* lp_plain = d.NewType("token", false, false, false);
        QVERIFY(lp_spontaneous->HasItem("lobby").IsNull());
        ItemPtr l_room = lp_spontaneous->GetItem("lobby");
        QVERIFY(!l_room.IsNull());
        QCOMPARE(lp_spontaneous->GetItem("lobby").Get(), l_room.Get());
        QCOMPARE((*lp_spontaneous)["lobby"].Get(), l_room.Get());
        QCOMPARE(lp_spontaneous->ItemCount(), std::size_t(1));
        // Compared byte for byte: case and trailing bytes matter.
        QVERIFY(lp_spontaneous->HasItem("Lobby").IsNull());
        QVERIFY(lp_spontaneous->HasItem(std::string("lobby\0", 6)).IsNull());

        QVERIFY(lp_plain->GetItem("7").IsNull());
        ItemPtr l_token = lp_plain->NewItem(7);
        QCOMPARE(l_token.AsString(), std::string("7"));
        QCOMPARE(lp_plain->NewItem("7").Get(), l_token.Get());
        QCOMPARE(lp_plain->GetItem(7u).Get(), l_token.Get());
        QCOMPARE(lp_plain->ItemCount(), std::size_t(1));

        // A removed value can be made again.
        l_token.Remove();
        QVERIFY(lp_plain->HasItem("7").IsNull());
        QVERIFY(!lp_plain->NewItem("7").IsNull());
    }

    void valueReadersAndNullHandles()
    {
        Type* lp_number = d.NewType("number", false, false, true);
        QCOMPARE(lp_number->GetItem(-42).AsInt(), -42);
        QCOMPARE(lp_number->GetItem(4000000000u).AsUInt(), 4000000000u);
        QCOMPARE(lp_number->GetItem("4294967295").AsUInt(), 4294967295u);
        QCOMPARE(lp_number->GetItem("-1").AsUInt(), 0u);
        QCOMPARE(lp_number->GetItem("abc").AsUInt(), 0u);
        QCOMPARE(lp_number->GetItem(9000000000LL).AsInt64(), 9000000000LL);
        QCOMPARE(lp_number->GetItem("abc").AsInt(), 0);
        QCOMPARE(std::string(lp_number->GetItem(12).AsCStr()), std::string("12"));
        QCOMPARE(ToString<unsigned int>(12u), std::string("12"));
        QCOMPARE(ToString<long long>(-5LL), std::string("-5"));

        // Object addresses keep their full width.
        auto l_object = std::make_unique<int>(3);
        ItemPtr l_stored = lp_number->GetItem(l_object.get());
        QCOMPARE(l_stored.AsObject<int>(), l_object.get());
        QCOMPARE(lp_number->HasItem(l_object.get()).Get(), l_stored.Get());

        ItemPtr l_null;
        QCOMPARE(std::string(l_null.AsCStr()), std::string());
        QCOMPARE(l_null.AsString(), std::string());
        QCOMPARE(l_null.AsInt(), 0);
        QCOMPARE(l_null.AsUInt(), 0u);
        QCOMPARE(l_null.AsInt64(), 0LL);
        QVERIFY(l_null["number"].IsNull());
        QVERIFY(l_null.HasItem("number").IsNull());
        QVERIFY(l_null.GetItems("number").empty());
    }

    // Misuses that would go unnoticed stop a debug build; a release build
    // logs the wide read once and goes on.
    void misuseIsLoud_data()
    {
        QTest::addColumn<bool>("wideRead");
        QTest::addColumn<QByteArray>("complaint");
        QTest::newRow("an address read with AsUInt") << true << QByteArray("AsUInt");
        QTest::newRow("a change from a worker thread") << false << QByteArray("GUI thread");
    }

    void misuseIsLoud()
    {
        QFETCH(bool, wideRead);
        QFETCH(QByteArray, complaint);
        Type* lp_number = d.NewType("number", false, false, true);
        bool l_aborted = false;
        const QByteArray l_output = RunInChild(
            [&] {
                if (wideRead) {
                    ItemPtr l_address = lp_number->GetItem(std::uint64_t(1) << 40);
                    const unsigned int l_first = l_address.AsUInt();
                    const unsigned int l_second = l_address.AsUInt();
                    std::fprintf(stderr, "reads %u %u\n", l_first, l_second);
                } else {
                    std::thread([lp_number] { lp_number->GetItem("from a worker"); }).join();
                }
            },
            l_aborted);
#ifdef QT_NO_DEBUG
        // One warning for the two reads (its text names AsUInt and AsUIntPtr,
        // so the warning itself is what is counted), and both read 0.
        QVERIFY2(!l_aborted, l_output.constData());
        QCOMPARE(l_output.count("Store: AsUInt()"), wideRead ? 1 : 0);
        QCOMPARE(l_output.contains("reads 0 0"), wideRead);
#else
        QVERIFY2(l_aborted, l_output.constData());
        QVERIFY2(l_output.contains(complaint), l_output.constData());
#endif
    }

    void oneEndsReplaceTheirPartner()
    {
        Type* lp_setting = d.NewType("global", true, false, true);
        Type* lp_value = d.NewType("global_value", false, false, true);
        lp_setting->RelateToType(lp_value, Many, One, false);
        ItemPtr l_port = lp_setting->GetItem("port");
        ItemPtr l_other = lp_setting->GetItem("other_port");
        ItemPtr l_first = lp_value->GetItem("2235");
        ItemPtr l_second = lp_value->GetItem("2236");
        QCOMPARE((l_port += l_first).Get(), l_first.Get());
        l_other += l_first;  // a value is shared by settings of the same text
        l_port += l_second;
        QCOMPARE(l_port["global_value"].Get(), l_second.Get());
        QVERIFY(!l_port.IsConnected(l_first));
        QVERIFY(l_other.IsConnected(l_first));
        QCOMPARE(l_first.GetItems("global").size(), std::size_t(1));
        // Connecting again changes nothing.
        l_port += l_second;
        QCOMPARE(l_second.GetItems("global").size(), std::size_t(1));
    }

    void unrelatedTypesThrow()
    {
        Type* lp_a = d.NewType("a", true, false, true);
        Type* lp_b = d.NewType("b", true, false, true);
        ItemPtr l_a = lp_a->GetItem("1");
        ItemPtr l_b = lp_b->GetItem("1");
        EXPECT_THROW_PTR(l_a += l_b, NotRelatedException);
        EXPECT_THROW_PTR(l_a.GetItems("b"), NotRelatedException);
        EXPECT_THROW_PTR(l_a.NewItem("b"), NullTypeException);
        QVERIFY(l_a.IsDisconnectedFromAll());
    }

    void newItemSharesFlagItems()
    {
        Type* lp_user = d.NewType("user", true, false, true);
        Type* lp_online = d.NewType("is_online", false, true, false);
        Type* lp_note = d.NewType("note", false, true, false);
        Type* lp_badge = d.NewType("badge", false, true, false);
        lp_user->RelateToType(lp_online, Many, One, false);  // flag shared by many users
        lp_user->RelateToType(lp_note, Many, Many, false);   // a user holds many notes
        lp_user->RelateToType(lp_badge, One, One, false);    // one badge each, never shared
        ItemPtr l_ann = lp_user->GetItem("ann");
        ItemPtr l_bob = lp_user->GetItem("bob");

        ItemPtr l_flag = l_ann.NewItem("is_online");
        QCOMPARE(l_bob.NewItem("is_online").Get(), l_flag.Get());
        QCOMPARE(lp_online->GetGlobalNullItem().Get(), l_flag.Get());
        QCOMPARE(l_ann.NewItem("is_online").Get(), l_flag.Get());
        QCOMPARE(lp_online->ItemCount(), std::size_t(1));

        ItemPtr l_note1 = l_ann.NewItem("note");
        ItemPtr l_note2 = l_ann.NewItem("note");
        QVERIFY(l_note1.Get() != l_note2.Get());
        QCOMPARE(l_ann.GetItems("note").size(), std::size_t(2));

        ItemPtr l_badgeA = l_ann.NewItem("badge");
        ItemPtr l_badgeB = l_bob.NewItem("badge");
        QVERIFY(l_badgeA.Get() != l_badgeB.Get());
        QCOMPARE(l_ann.NewItem("badge").Get(), l_badgeA.Get());
    }

    void disconnectAndRemove()
    {
        Type* lp_user = d.NewType("user", true, false, true);
        Type* lp_room = d.NewType("room", true, false, true);
        lp_user->RelateToType(lp_room, Many, Many, false);
        ItemPtr l_ann = lp_user->GetItem("ann");
        ItemPtr l_lobby = lp_room->GetItem("lobby");
        ItemPtr l_music = lp_room->GetItem("music");
        l_ann += l_lobby;
        l_ann += l_music;
        QVERIFY(l_ann.IsConnected("room"));
        l_ann -= l_lobby;
        QVERIFY(!l_ann.IsConnected(l_lobby));
        QVERIFY(l_ann.IsConnected(l_music));
        l_ann.Disconnect("room");
        QVERIFY(l_ann.IsDisconnectedFromAll());
        l_ann += l_lobby;
        l_lobby.Remove();
        QVERIFY(l_ann.IsDisconnectedFromAll());
        QVERIFY(lp_room->HasItem("lobby").IsNull());
        QCOMPARE(lp_room->ItemCount(), std::size_t(1));
    }

    void connectedItemsTable()
    {
        Type* lp_user = d.NewType("user", true, false, true);
        Type* lp_room = d.NewType("room", true, false, true);
        Type* lp_speed = d.NewType("speed", false, false, true);
        lp_user->RelateToType(lp_room, Many, Many, false);
        lp_user->RelateToType(lp_speed, Many, One, false);
        ItemPtr l_ann = lp_user->GetItem("ann");
        l_ann += lp_room->GetItem("a");
        l_ann += lp_room->GetItem("b");
        std::map<Type*, ItemSet> l_table;
        l_ann->GetConnectedItems(l_table);
        QCOMPARE(l_table.size(), std::size_t(1));
        QCOMPARE(l_table[lp_room].size(), std::size_t(2));
        l_ann += lp_speed->GetItem(10);
        l_ann->GetConnectedItems(l_table);
        QCOMPARE(l_table.size(), std::size_t(2));
    }

    void manyPartnersStayOrderedAndCheap()
    {
        // Crosses the small-array and chunked forms both ways.
        Type* lp_file = d.NewType("file", false, true, false);
        Type* lp_flag = d.NewType("flag", true, true, false);
        lp_flag->RelateToType(lp_file, One, Many, false);
        ItemPtr l_flag = lp_flag->NewItem();
        std::vector<ItemPtr> l_files;
        for (int l_n = 0; l_n < 5000; ++l_n) {
            l_files.push_back(lp_file->NewItem());
            l_flag += l_files.back();
        }
        ItemSet l_partners = l_flag.GetItems("file");
        QCOMPARE(l_partners.size(), std::size_t(5000));
        QVERIFY(std::is_sorted(l_partners.begin(), l_partners.end(), std::less<Item*>()));
        QCOMPARE(l_flag["file"].Get(), *l_partners.begin());
        for (int l_n = 0; l_n < 5000; l_n += 2)
            l_files[l_n].Remove();
        QCOMPARE(l_flag.GetItems("file").size(), std::size_t(2500));
        for (int l_n = 1; l_n < 5000; l_n += 2) {
            QVERIFY(l_flag.IsConnected(l_files[l_n]));
            l_flag -= l_files[l_n];
        }
        QVERIFY(l_flag.IsDisconnectedFromAll());
    }
};

QTEST_GUILESS_MAIN(TestItems)
#include "tst_items.moc"
