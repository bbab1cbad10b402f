// The server link's item types: their flags and relations, what survives the
// collection of unreachable items, and what a save and load keep.
#include "ServerTestSetup.h"

class TestServerData : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void TypeFlags_data();
    void TypeFlags();
    void OneEndsReplaceTheirPartner();
    void CollectionKeepsRoomsAndDropsAnsweredRequests();
    void SaveAndLoadKeepUserListRoomsAndPriorities();

private:
    std::unique_ptr<ServerTestSetup> mp_setup;
};

void TestServerData::init()
{
    mp_setup = std::make_unique<ServerTestSetup>();
}

void TestServerData::cleanup()
{
    mp_setup.reset();
}

void TestServerData::TypeFlags_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("primary");
    QTest::addColumn<bool>("null");
    QTest::addColumn<bool>("spontaneous");
    QTest::newRow("user") << "user" << true << false << true;
    QTest::newRow("user_address_request") << "user_address_request" << false << true << false;
    QTest::newRow("is_online") << "is_online" << false << true << true;
    QTest::newRow("is_offline") << "is_offline" << false << true << true;
    QTest::newRow("is_tracked") << "is_tracked" << false << true << true;
    QTest::newRow("is_privileged") << "is_privileged" << false << true << true;
    QTest::newRow("room") << "room" << true << false << true;
    QTest::newRow("in_room") << "in_room" << false << true << true;
    QTest::newRow("room_autojoin") << "room_autojoin" << false << true << true;
    QTest::newRow("user_count") << "user_count" << false << false << true;
    QTest::newRow("average_download_speed") << "average_download_speed" << false << false << true;
    QTest::newRow("shared_files_count") << "shared_files_count" << false << false << true;
    QTest::newRow("country_code") << "country_code" << false << false << true;
    QTest::newRow("in_user_list") << "in_user_list" << false << true << true;
    QTest::newRow("user_list_group") << "user_list_group" << true << false << true;
    QTest::newRow("group_download_priority") << "group_download_priority" << false << false << true;
}

void TestServerData::TypeFlags()
{
    QFETCH(QString, type);
    Type* lp_type = d.HasType(type.toStdString());
    QVERIFY(lp_type);
    QTEST(lp_type->m_primary, "primary");
    QTEST(lp_type->m_null, "null");
    QTEST(lp_type->m_spontaneousCreation, "spontaneous");
}

void TestServerData::OneEndsReplaceTheirPartner()
{
    ItemPtr l_bob = d.GetType("user")->GetItem("bob");
    ItemPtr l_carol = d.GetType("user")->GetItem("carol");
    ItemPtr l_lobby = d.GetType("room")->GetItem("lobby");
    ItemPtr l_music = d.GetType("room")->GetItem("music");
    // Rooms and users are many to many.
    l_lobby += l_bob;
    l_lobby += l_carol;
    l_music += l_bob;
    QCOMPARE(l_bob.GetItems("room").size(), std::size_t(2));
    QCOMPARE(l_lobby.GetItems("user").size(), std::size_t(2));
    // A user holds one of each figure, a room one count.
    l_bob += d.GetType("country_code")->GetItem("NL");
    l_bob += d.GetType("country_code")->GetItem("BE");
    QCOMPARE(l_bob.GetItems("country_code").size(), std::size_t(1));
    l_carol += d.GetType("country_code")->GetItem("BE");
    QCOMPARE(d.GetType("country_code")->HasItem("BE").GetItems("user").size(), std::size_t(2));
    l_lobby += d.GetType("user_count")->GetItem("3");
    l_lobby += d.GetType("user_count")->GetItem("4");
    QCOMPARE(l_lobby["user_count"].AsString(), std::string("4"));
    // One list entry per user; a group holds one priority shared by groups.
    ItemPtr l_entry = l_bob.NewItem("in_user_list");
    QCOMPARE(l_bob["in_user_list"].Get(), l_entry.Get());
    ItemPtr l_friends = d.GetType("user_list_group")->GetItem("friends");
    ItemPtr l_family = d.GetType("user_list_group")->GetItem("family");
    l_entry += l_friends;
    l_entry += l_family;
    QCOMPARE(l_entry.GetItems("user_list_group").size(), std::size_t(2));
    l_friends += d.GetType("group_download_priority")->GetItem("2");
    l_family += d.GetType("group_download_priority")->GetItem("2");
    l_friends += d.GetType("group_download_priority")->GetItem("5");
    QCOMPARE(l_friends["group_download_priority"].AsString(), std::string("5"));
    QCOMPARE(l_family["group_download_priority"].AsString(), std::string("2"));
}

void TestServerData::CollectionKeepsRoomsAndDropsAnsweredRequests()
{
    d.GetType("room")->GetItem("lobby") += d.GetType("room_autojoin")->GetGlobalNullItem();
    d.GetType("room")->GetItem("empty");
    mp_setup->Link().GetUserAddress("bob");
    ItemPtr l_request = d.GetType("user")->HasItem("bob")["user_address_request"];
    QVERIFY(!l_request.IsNull());
    d.RemoveDisconnectedItems();
    QCOMPARE(d.GetType("user_address_request")->ItemCount(), std::size_t(1));
    d.GetType("user")->HasItem("bob").Disconnect("user_address_request");
    d.RemoveDisconnectedItems();
    QCOMPARE(d.GetType("user_address_request")->ItemCount(), std::size_t(0));
    QVERIFY(!d.GetType("room")->HasItem("lobby").IsNull());
    QVERIFY(!d.GetType("room")->HasItem("empty").IsNull());
}

void TestServerData::SaveAndLoadKeepUserListRoomsAndPriorities()
{
    QTemporaryDir l_folder;
    const QByteArray l_path = l_folder.filePath("client.dat").toLocal8Bit();
    {
        ItemPtr l_bob = d.GetType("user")->GetItem("bob");
        ItemPtr l_entry = l_bob.NewItem("in_user_list");
        ItemPtr l_friends = d.GetType("user_list_group")->GetItem("friends");
        l_entry += l_friends;
        l_friends += d.GetType("group_download_priority")->GetItem("3");
        l_bob += d.GetType("is_online")->GetGlobalNullItem();
        ItemPtr l_dora = d.GetType("user")->GetItem("dora");
        l_dora.NewItem("in_user_list") += l_friends;
        l_dora += d.GetType("is_offline")->GetGlobalNullItem();
        d.GetType("user")->GetItem("carol");
        ItemPtr l_lobby = d.GetType("room")->GetItem("lobby");
        l_lobby += d.GetType("room_autojoin")->GetGlobalNullItem();
        l_lobby += d.GetType("in_room")->GetGlobalNullItem();
        l_lobby += l_bob;
        d.GetType("room")->GetItem("music") += d.GetType("in_room")->GetGlobalNullItem();
        mp_setup->mp_saver->Save(l_path.constData());
    }
    // The old surroundings go first: their end empties the store.
    mp_setup.reset();
    mp_setup = std::make_unique<ServerTestSetup>();
    mp_setup->mp_saver->Load(l_path.constData());

    ItemPtr l_bob = d.GetType("user")->HasItem("bob");
    QVERIFY(!l_bob.IsNull());
    ItemPtr l_friends = l_bob["in_user_list"]["user_list_group"];
    QCOMPARE(l_friends.AsString(), std::string("friends"));
    QCOMPARE(l_friends["group_download_priority"].AsString(), std::string("3"));
    QVERIFY(!l_bob.IsConnected("is_online"));
    // Statuses are the server's word of this login, none of the last.
    ItemPtr l_dora = d.GetType("user")->HasItem("dora");
    QVERIFY(!l_dora.IsNull());
    QVERIFY(!l_dora.IsConnected("is_offline"));
    QVERIFY(d.GetType("user")->HasItem("carol").IsNull());
    ItemPtr l_lobby = d.GetType("room")->HasItem("lobby");
    QVERIFY(!l_lobby.IsNull());
    QVERIFY(l_lobby.IsConnected("room_autojoin"));
    QVERIFY(!l_lobby.IsConnected("in_room"));
    QVERIFY(d.GetType("room")->HasItem("music").IsNull());
    // The loaded handlers ran: "use_upnp" has its default.
    QCOMPARE(Settings::Get("use_upnp"), std::string("yes"));
}

QTEST_GUILESS_MAIN(TestServerData)
#include "tst_serverdata.moc"
