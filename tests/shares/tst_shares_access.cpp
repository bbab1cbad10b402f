// Who may see which shared folder, and finding indexed files by path.
#include "SharesTestWorld.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::string)

class TestSharesAccess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void Precedence_data();
    void Precedence();
    void UnknownUserGetsPublicRootsAndOnlyTheFileTestMakesHim();
    void NestedRootsGiveTheWiderAccess();
    void RemovingUnsharedRestoresAccess();
    void FindsFilesByPath_data();
    void FindsFilesByPath();

private:
    std::unique_ptr<SharesTestWorld> mp_world;
    std::map<std::string, ItemPtr> m_roots;
    std::map<std::string, ItemPtr> m_files;
};

void TestSharesAccess::init()
{
    mp_world = std::make_unique<SharesTestWorld>();
    Type* lp_shares = d.GetType("shared_folder");
    m_roots["public"] = lp_shares->GetItem("/pub");
    m_roots["public"] += d.GetType("shared_public")->GetGlobalNullItem();
    m_roots["list"] = lp_shares->GetItem("/list");
    m_roots["list"] += d.GetType("shared_userlist")->GetGlobalNullItem();
    m_roots["group"] = lp_shares->GetItem("/group");
    m_roots["group"] += d.GetType("user_list_group")->GetItem("g");
    m_roots["none"] = lp_shares->GetItem("/none");
    for (const auto& l_root : m_roots)
        m_files[l_root.first] = SharesTestWorld::Index(l_root.second, l_root.second.AsString(), "f.txt");

    Type* lp_users = d.GetType("user");
    lp_users->GetItem("listed").NewItem("in_user_list");
    lp_users->GetItem("member").NewItem("in_user_list") += d.GetType("user_list_group")->GetItem("g");
    lp_users->GetItem("outsider").NewItem("in_user_list") += d.GetType("user_list_group")->GetItem("h");
    lp_users->GetItem("banned").NewItem("in_user_list") += d.GetType("user_list_group")->GetItem("g");
    lp_users->GetItem("banned").NewItem("unshared");
    lp_users->GetItem("unlisted");
}

void TestSharesAccess::cleanup()
{
    m_roots.clear();
    m_files.clear();
    mp_world.reset();
}

void TestSharesAccess::Precedence_data()
{
    QTest::addColumn<std::string>("user");
    QTest::addColumn<QStringList>("visible");
    QTest::newRow("not in the user list") << std::string("unlisted") << QStringList{"public"};
    QTest::newRow("in the list, no group") << std::string("listed") << QStringList{"list", "public"};
    QTest::newRow("in the group") << std::string("member") << QStringList{"group", "list", "public"};
    QTest::newRow("in another group") << std::string("outsider") << QStringList{"list", "public"};
    QTest::newRow("unshared beats everything") << std::string("banned") << QStringList{};
}

void TestSharesAccess::Precedence()
{
    QFETCH(std::string, user);
    QFETCH(QStringList, visible);
    const ItemSet l_folders = mp_world->Shares().GetUserSharedFolders(user);
    QStringList l_seen;
    for (const auto& l_root : m_roots) {
        if (l_folders.contains(l_root.second))
            l_seen << QString::fromStdString(l_root.first);
        // A file is shared with a user exactly when its root is visible.
        QCOMPARE(mp_world->Shares().IsFileSharedWithUser(m_files[l_root.first], user),
                 l_folders.contains(l_root.second));
    }
    QCOMPARE(l_folders.size(), std::size_t(visible.size()));
    QCOMPARE(l_seen, visible);
}

void TestSharesAccess::UnknownUserGetsPublicRootsAndOnlyTheFileTestMakesHim()
{
    QCOMPARE(mp_world->Shares().GetUserSharedFolders("nobody"), ItemSet(m_roots["public"]));
    QVERIFY(!d.GetType("user")->HasItem("nobody"));
    QVERIFY(mp_world->Shares().IsFileSharedWithUser(m_files["public"], "nobody"));
    QVERIFY(!mp_world->Shares().IsFileSharedWithUser(m_files["list"], "nobody"));
    QVERIFY(d.GetType("user")->HasItem("nobody"));
}

void TestSharesAccess::NestedRootsGiveTheWiderAccess()
{
    ItemPtr l_outer = d.GetType("shared_folder")->GetItem("/outer");
    l_outer += d.GetType("user_list_group")->GetItem("g");
    ItemPtr l_file = SharesTestWorld::Index(l_outer, "/outer/in", "x.txt");
    ItemPtr l_inner = d.GetType("shared_folder")->GetItem("/outer/in");
    l_inner += d.GetType("shared_public")->GetGlobalNullItem();
    l_inner += l_file["shared_file_folder"];
    QVERIFY(mp_world->Shares().IsFileSharedWithUser(l_file, "unlisted"));
    QVERIFY(mp_world->Shares().IsFileSharedWithUser(l_file, "stranger"));
    QVERIFY(!mp_world->Shares().IsFileSharedWithUser(l_file, "banned"));
}

void TestSharesAccess::RemovingUnsharedRestoresAccess()
{
    ItemPtr l_banned = d.GetType("user")->HasItem("banned");
    l_banned.Disconnect("unshared");
    QCOMPARE(mp_world->Shares().GetUserSharedFolders("banned").size(), std::size_t(3));
    QVERIFY(mp_world->Shares().IsFileSharedWithUser(m_files["group"], "banned"));
    // A root without a mark is seen by nobody but still found by path.
    QVERIFY(!mp_world->Shares().IsFileSharedWithUser(m_files["none"], "member"));
    QCOMPARE(mp_world->Shares().GetSharedFileItem("/none/f.txt"), m_files["none"]);
}

void TestSharesAccess::FindsFilesByPath_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<QString>("found");
    QTest::newRow("exact") << std::string("C:/Music/Rock/Song.mp3") << "Song";
    QTest::newRow("other case, doubled separator") << std::string("C:/MUSIC//Rock/SONG.MP3") << "Song";
    QTest::newRow("exact case wins") << std::string("C:/Music/Rock/song.mp3") << "song";
    QTest::newRow("backslashes are not folded") << std::string("C:\\Music\\Rock\\Song.mp3") << "";
    QTest::newRow("a folder") << std::string("C:/Music/Rock") << "";
    QTest::newRow("non-ASCII case differs") << std::string("C:/Music/Rock/\xc3\xa4.txt") << "";
    QTest::newRow("empty") << std::string("") << "";
    QTest::newRow("outside the index") << std::string("/etc/passwd") << "";
}

void TestSharesAccess::FindsFilesByPath()
{
    QFETCH(std::string, path);
    QFETCH(QString, found);
    ItemPtr l_share = d.GetType("shared_folder")->GetItem("C:/Music");
    std::map<QString, ItemPtr> l_files;
    l_files["Song"] = SharesTestWorld::Index(l_share, "C:/Music/Rock", "Song.mp3");
    l_files["song"] = SharesTestWorld::Index(l_share, "C:/Music/Rock", "song.mp3");
    SharesTestWorld::Index(l_share, "C:/Music/Rock", "\xc3\x84.txt");
    QCOMPARE(mp_world->Shares().GetSharedFileItem(path), found.isEmpty() ? ItemPtr() : l_files[found]);
}

QTEST_MAIN(TestSharesAccess)
#include "tst_shares_access.moc"
