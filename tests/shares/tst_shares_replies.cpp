// What other users get from our share: search replies, browse and
// folder-contents listings, and the counts the server is told at login.
// Expected payloads are written out field by field here, not produced by
// the code under test.
#include "SharesTestWorld.h"
#include "WireBytes.h"

#include "core/persist/Settings.h"
#include "server/Server.h"
#include "shares/UploadSlotsService.h"

#include <QtTest>

#include <optional>

Q_DECLARE_METATYPE(std::string)

namespace
{
struct StandInSlots : UploadSlotsService
{
    StandInSlots() { uploadSlotsService = this; }
    ~StandInSlots() override { uploadSlotsService = nullptr; }
    bool IsFreeToUpload() override { return m_free; }
    int QueuedUploadCount() override { return m_queued; }
    bool m_free = true;
    int m_queued = 4;
};

// A FileInfo record as it travels.
WireWriter& Record(WireWriter& io_wire, const std::string& i_name, qint64 i_size, const std::string& i_extension = "",
                   std::vector<std::pair<quint32, qint32>> i_attributes = {})
{
    io_wire.U8(1).Str(i_name).I64(i_size).Str(i_extension).U32(static_cast<quint32>(i_attributes.size()));
    for (const auto& l_attribute : i_attributes)
        io_wire.U32(l_attribute.first).I32(l_attribute.second);
    return io_wire;
}

// The folders of the public share, as every browse reply here starts.
WireWriter& PublicFolders(WireWriter& io_wire)
{
    io_wire.Str("\\pub").U32(2);
    Record(io_wire, "B.txt", 3);
    Record(io_wire, "a.MP3", 100, "mp3", {{0, 192}, {2, 1}});
    io_wire.Str("\\pub\\empty").U32(0);
    io_wire.Str("\\pub\\sub").U32(2);
    Record(io_wire, "c.mp3", 5, "mp3");
    return Record(io_wire, "d.mp3", 6, "mp3", {{0, 128}, {2, 0}});
}

QByteArray Body(const MemStream& i_body)
{
    return QByteArray(i_body.mp_buffer->mp_buffer, i_body.mp_buffer->m_writeIndex);
}

// A browse reply as the peer layer gets it, once it is made; o_atOnce tells
// whether it came before the request returned.
QByteArray Browse(SharedFoldersManager& io_shares, const std::string& i_user, bool* op_atOnce = nullptr)
{
    std::optional<QByteArray> l_body;
    io_shares.RequestSharedFilesMessage(i_user, [&l_body](MemStream i_body) { l_body = Body(i_body); });
    if (op_atOnce)
        *op_atOnce = l_body.has_value();
    if (!QTest::qWaitFor([&l_body] { return l_body.has_value(); }, 10000))
        return "never answered";
    return *l_body;
}

enum class Change { Nothing, Rescan, AccessTakenAway, MP3Result, FileRemoved, FolderShared };
}  // namespace

Q_DECLARE_METATYPE(Change)

class TestSharesReplies : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void BrowseReplyBytes();
    void BrowseReplyForAnUnsharedUserIsEmpty();
    void FoldersNamedAlikeOnceSentAreOneEntry();
    void KeptBrowseReplyIsTheFreshOneUntilAChange_data();
    void KeptBrowseReplyIsTheFreshOneUntilAChange();
    void UsersWithOtherAccessGetOtherKeptReplies();
    void SearchReplyBytes();
    void SearchMatching_data();
    void SearchMatching();
    void AtMostTwoHundredResults_data();
    void AtMostTwoHundredResults();
    void FolderContentsBytes();
    void FolderContentsIgnoresWhatTheAskerMayNotSee_data();
    void FolderContentsIgnoresWhatTheAskerMayNotSee();
    void LoginSendsCountsAndTakesOwnSpeed();

private:
    std::unique_ptr<SharesTestWorld> mp_world;
    std::unique_ptr<StandInSlots> mp_slots;
};

void TestSharesReplies::init()
{
    mp_world = std::make_unique<SharesTestWorld>();
    mp_slots = std::make_unique<StandInSlots>();
    Settings::Set("username", "me");
    Settings::Set("upload_speed", "900");

    ItemPtr l_public = d.GetType("shared_folder")->GetItem("/pub");
    l_public += d.GetType("shared_public")->GetGlobalNullItem();
    SharesTestWorld::Index(l_public, "/pub", "B.txt", 3);
    ItemPtr l_tune = SharesTestWorld::Index(l_public, "/pub", "a.MP3", 100);
    l_tune += d.GetType("bitrate")->GetItem("192");
    l_tune += d.GetType("bitrate_mode")->GetItem("vbr");
    SharesTestWorld::Index(l_public, "/pub/sub", "c.mp3", 5);
    ItemPtr l_cbr = SharesTestWorld::Index(l_public, "/pub/sub", "d.mp3", 6);
    l_cbr += d.GetType("bitrate")->GetItem("128");
    l_cbr += d.GetType("bitrate_mode")->GetItem("cbr");
    l_public += d.GetType("shared_file_folder")->GetItem("/pub/empty");

    ItemPtr l_private = d.GetType("shared_folder")->GetItem("/priv");
    l_private += d.GetType("shared_userlist")->GetGlobalNullItem();
    SharesTestWorld::Index(l_private, "/priv", "secret.txt", 9);
    SharesTestWorld::Index(l_private, "/priv", "also.txt", 9);
    d.GetType("user")->GetItem("banned").NewItem("unshared");
    d.GetType("user")->GetItem("friend").NewItem("in_user_list");
}

void TestSharesReplies::cleanup()
{
    mp_slots.reset();
    mp_world.reset();
}

void TestSharesReplies::BrowseReplyBytes()
{
    MemStream l_body = mp_world->Shares().GetSharedFilesMessage("x");
    const QByteArray l_bytes(l_body.mp_buffer->mp_buffer, l_body.mp_buffer->m_writeIndex);
    QCOMPARE(l_bytes.left(5), QByteArray::fromHex("0500000078"));

    WireWriter l_expected;
    PublicFolders(l_expected.U32(3)).U32(0);
    QCOMPARE(Inflate(l_bytes.mid(4)), l_expected.Bytes());
}

void TestSharesReplies::FoldersNamedAlikeOnceSentAreOneEntry()
{
    // Two folder items that read the same once "/" is sent as "\\": one
    // entry, and a record in both (same name, same size) only once.
    ItemPtr l_public = d.GetType("shared_folder")->GetItem("/pub");
    SharesTestWorld::Index(l_public, "/pub/x", "same.txt", 7);
    SharesTestWorld::Index(l_public, "\\pub\\x", "same.txt", 7);
    SharesTestWorld::Index(l_public, "\\pub\\x", "b.txt", 1);
    MemStream l_body = mp_world->Shares().GetSharedFilesMessage("x");
    const QByteArray l_bytes(l_body.mp_buffer->mp_buffer, l_body.mp_buffer->m_writeIndex);

    WireWriter l_expected;
    PublicFolders(l_expected.U32(4));
    l_expected.Str("\\pub\\x").U32(2);
    Record(l_expected, "b.txt", 1);
    Record(l_expected, "same.txt", 7);
    l_expected.U32(0);
    QCOMPARE(Inflate(l_bytes.mid(4)), l_expected.Bytes());
}

void TestSharesReplies::BrowseReplyForAnUnsharedUserIsEmpty()
{
    MemStream l_body = mp_world->Shares().GetSharedFilesMessage("banned");
    const QByteArray l_bytes(l_body.mp_buffer->mp_buffer, l_body.mp_buffer->m_writeIndex);
    QCOMPARE(Inflate(l_bytes.mid(4)), WireWriter().U32(0).U32(0).Bytes());
}

void TestSharesReplies::KeptBrowseReplyIsTheFreshOneUntilAChange_data()
{
    QTest::addColumn<Change>("change");
    QTest::newRow("nothing") << Change::Nothing;
    // The folders are not on disk: the rescan empties them.
    QTest::newRow("rescan") << Change::Rescan;
    QTest::newRow("access taken away") << Change::AccessTakenAway;
    QTest::newRow("MP3 scan result") << Change::MP3Result;
    QTest::newRow("file removed") << Change::FileRemoved;
    QTest::newRow("folder shared") << Change::FolderShared;
}

void TestSharesReplies::KeptBrowseReplyIsTheFreshOneUntilAChange()
{
    QFETCH(Change, change);
    SharedFoldersManager& l_shares = mp_world->Shares();
    const QByteArray l_first = Browse(l_shares, "x");
    QCOMPARE(l_first, Body(l_shares.GetSharedFilesMessage("x")));

    switch (change) {
    case Change::Nothing:
        break;
    case Change::Rescan:
        QVERIFY(mp_world->RescanAndWait());
        break;
    case Change::AccessTakenAway:
        d.GetType("shared_folder")->GetItem("/pub").Disconnect("shared_public");
        break;
    case Change::MP3Result:
        l_shares.OnMP3Scanned("/pub/sub/c.mp3", 1, "stereo", 44100, false, 256);
        break;
    case Change::FileRemoved:
        SharesTestWorld::FileItem("/pub", "B.txt").Remove();
        break;
    case Change::FolderShared: {
        ItemPtr l_more = d.GetType("shared_folder")->GetItem("/more");
        l_more += d.GetType("shared_public")->GetGlobalNullItem();
        SharesTestWorld::Index(l_more, "/more", "new.txt", 4);
        break;
    }
    }

    bool l_atOnce = false;
    const QByteArray l_second = Browse(l_shares, "x", &l_atOnce);
    QCOMPARE(l_second, Body(l_shares.GetSharedFilesMessage("x")));
    QCOMPARE(l_atOnce, change == Change::Nothing);
    QCOMPARE(l_second == l_first, change == Change::Nothing);
}

void TestSharesReplies::UsersWithOtherAccessGetOtherKeptReplies()
{
    SharedFoldersManager& l_shares = mp_world->Shares();
    const QByteArray l_stranger = Browse(l_shares, "x");
    const QByteArray l_friend = Browse(l_shares, "friend");
    QVERIFY(l_stranger != l_friend);
    QCOMPARE(l_friend, Body(l_shares.GetSharedFilesMessage("friend")));
    QVERIFY(Inflate(l_friend.mid(4)).contains("secret.txt"));
    QVERIFY(!Inflate(l_stranger.mid(4)).contains("secret.txt"));

    // Another stranger sees the same folders: the kept reply, at once.
    bool l_atOnce = false;
    QCOMPARE(Browse(l_shares, "y", &l_atOnce), l_stranger);
    QVERIFY(l_atOnce);
    QCOMPARE(l_shares.BrowseReplies().KeptCount(), std::size_t(2));
    // A user who may see nothing gets the empty listing, kept apart.
    QCOMPARE(Inflate(Browse(l_shares, "banned").mid(4)), WireWriter().U32(0).U32(0).Bytes());
}

void TestSharesReplies::SearchReplyBytes()
{
    mp_slots->m_free = false;
    mp_world->Shares().OnDNetSearchRequest("asker", 77, "mp3");
    QCOMPARE(mp_world->m_replies.size(), std::size_t(1));
    const CaughtReply& l_reply = mp_world->m_replies.front();
    QCOMPARE(l_reply.m_user, std::string("asker"));
    QCOMPARE(l_reply.m_code, 9u);

    WireWriter l_expected;
    l_expected.Str("me").U32(77).U32(3);
    Record(l_expected, "\\pub\\a.MP3", 100, "mp3", {{0, 192}, {2, 1}});
    Record(l_expected, "\\pub\\sub\\c.mp3", 5, "mp3");
    Record(l_expected, "\\pub\\sub\\d.mp3", 6, "mp3", {{0, 128}, {2, 0}});
    l_expected.U8(0).U32(900).U32(4).U32(0);
    QCOMPARE(l_reply.m_payload, l_expected.Bytes());
}

void TestSharesReplies::SearchMatching_data()
{
    QTest::addColumn<std::string>("user");
    QTest::addColumn<std::string>("query");
    QTest::addColumn<QStringList>("results");

    const std::string x = "x";
    QTest::newRow("word") << x << std::string("sub") << QStringList{"\\pub\\sub\\c.mp3", "\\pub\\sub\\d.mp3"};
    QTest::newRow("capital finds nothing") << x << std::string("MP3") << QStringList{};
    QTest::newRow("part words only") << x << std::string("*mp3") << QStringList{};
    QTest::newRow("unknown word") << x << std::string("mp3 zzz") << QStringList{};
    QTest::newRow("malformed") << x << std::string("mp3 \"\"") << QStringList{};
    QTest::newRow("excluded in the name") << x << std::string("mp3 -c.") << QStringList{"\\pub\\a.MP3", "\\pub\\sub\\d.mp3"};
    QTest::newRow("excluded only in the folder") << x << std::string("c -sub") << QStringList{"\\pub\\sub\\c.mp3"};
    QTest::newRow("part in the name, case counts") << x << std::string("mp3 *MP3") << QStringList{"\\pub\\a.MP3"};
    QTest::newRow("part only in the folder") << x << std::string("mp3 *sub") << QStringList{};
    QTest::newRow("two words") << x << std::string("pub txt") << QStringList{"\\pub\\B.txt"};
    QTest::newRow("hidden root not answered") << x << std::string("secret") << QStringList{};
    QTest::newRow("user-list root for a listed user") << std::string("friend") << std::string("txt")
                                                      << QStringList{"\\priv\\also.txt", "\\priv\\secret.txt", "\\pub\\B.txt"};
    QTest::newRow("unshared user") << std::string("banned") << std::string("txt") << QStringList{};
}

void TestSharesReplies::SearchMatching()
{
    QFETCH(std::string, user);
    QFETCH(std::string, query);
    QFETCH(QStringList, results);
    mp_world->Shares().ProcessSearch(user, 1, query);
    QCOMPARE(mp_world->m_replies.size(), std::size_t(results.isEmpty() ? 0 : 1));
    if (results.isEmpty())
        return;
    WireReader l_reader(mp_world->m_replies.front().m_payload);
    l_reader.Str();
    l_reader.U32();
    QStringList l_paths;
    for (quint32 l_count = l_reader.U32(); l_count > 0 && l_reader.Ok(); --l_count) {
        l_reader.U8();
        l_paths << QString::fromStdString(l_reader.Str());
        l_reader.I64();
        l_reader.Str();
        for (quint32 l_attributes = l_reader.U32(); l_attributes > 0; --l_attributes)
            l_reader.I64();
    }
    QVERIFY(l_reader.Ok());
    QCOMPARE(l_paths, results);
}

void TestSharesReplies::AtMostTwoHundredResults_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<bool>("answered");
    QTest::newRow("200") << 200 << true;
    QTest::newRow("201") << 201 << false;
}

void TestSharesReplies::AtMostTwoHundredResults()
{
    QFETCH(int, files);
    ItemPtr l_public = d.GetType("shared_folder")->HasItem("/pub");
    for (int l_index = 0; l_index < files; ++l_index)
        SharesTestWorld::Index(l_public, "/pub/bulk", "item" + std::to_string(l_index) + ".dat");
    // Hidden matches do not count towards the limit.
    ItemPtr l_private = d.GetType("shared_folder")->HasItem("/priv");
    for (int l_index = 0; l_index < 5; ++l_index)
        SharesTestWorld::Index(l_private, "/priv/bulk", "item" + std::to_string(l_index) + ".dat");

    mp_world->Shares().ProcessSearch("x", 1, "bulk dat");
    QFETCH(bool, answered);
    QCOMPARE(mp_world->m_replies.size(), std::size_t(answered ? 1 : 0));
    if (answered) {
        WireReader l_reader(mp_world->m_replies.front().m_payload);
        l_reader.Str();
        l_reader.U32();
        QCOMPARE(l_reader.U32(), 200u);
    }
}

void TestSharesReplies::FolderContentsBytes()
{
    mp_world->Shares().OnFilesInFoldersRequested("x", 5, "\\pub\\sub");
    QCOMPARE(mp_world->m_replies.size(), std::size_t(1));
    QCOMPARE(mp_world->m_replies.front().m_code, 37u);
    WireWriter l_expected;
    l_expected.U32(5).Str("\\pub\\sub").U32(1).Str("\\pub\\sub").U32(2);
    Record(l_expected, "c.mp3", 5);
    Record(l_expected, "d.mp3", 6);
    l_expected.U32(0);
    QCOMPARE(mp_world->m_replies.front().m_payload, l_expected.Bytes());
}

void TestSharesReplies::FolderContentsIgnoresWhatTheAskerMayNotSee_data()
{
    QTest::addColumn<std::string>("user");
    QTest::addColumn<std::string>("folder");
    QTest::addColumn<int>("files");  // -1: no reply
    QTest::newRow("slashes match too") << std::string("x") << std::string("/pub/sub") << 2;
    QTest::newRow("empty folder") << std::string("x") << std::string("\\pub\\empty") << 0;
    QTest::newRow("other case") << std::string("x") << std::string("\\PUB\\sub") << -1;
    QTest::newRow("trailing separator") << std::string("x") << std::string("\\pub\\sub\\") << -1;
    QTest::newRow("user-list folder, outsider") << std::string("x") << std::string("\\priv") << -1;
    QTest::newRow("user-list folder, listed user") << std::string("friend") << std::string("\\priv") << 2;
    QTest::newRow("unshared user") << std::string("banned") << std::string("\\pub") << -1;
}

void TestSharesReplies::FolderContentsIgnoresWhatTheAskerMayNotSee()
{
    QFETCH(std::string, user);
    QFETCH(std::string, folder);
    QFETCH(int, files);
    mp_world->Shares().OnFilesInFoldersRequested(user, 9, folder);
    QCOMPARE(mp_world->m_replies.size(), std::size_t(files < 0 ? 0 : 1));
    if (files < 0)
        return;
    WireReader l_reader(mp_world->m_replies.front().m_payload);
    QCOMPARE(l_reader.U32(), 9u);
    QCOMPARE(l_reader.Str(), folder);
    QCOMPARE(l_reader.U32(), 1u);
    QCOMPARE(l_reader.Str(), folder);
    QCOMPARE(l_reader.U32(), quint32(files));
}

void TestSharesReplies::LoginSendsCountsAndTakesOwnSpeed()
{
    QVERIFY(mp_world->LogIn("me"));
    QVERIFY(mp_world->Central().WaitFor(Server::SendFilesFoldersCode));
    // Every folder of the index and every file, whoever may see them.
    QCOMPARE(mp_world->Central().Received(Server::SendFilesFoldersCode).front().m_payload,
             WireWriter().U32(4).U32(6).Bytes());
    QVERIFY(mp_world->Central().WaitFor(Server::GetUserStatsCode));
    QCOMPARE(mp_world->Central().Received(Server::GetUserStatsCode).front().m_payload, WireWriter().Str("me").Bytes());
    // The server's answer for us replaces the speed we had.
    QTRY_COMPARE(Settings::Get("upload_speed"), std::string("0"));
    QVERIFY(mp_world->Central().Send("me", Server::GetUserStatsCode,
                                     WireWriter().Str("me").I32(4321).I64(0).I32(0).I32(0)));
    QTRY_COMPARE(Settings::Get("upload_speed"), std::string("4321"));

    UserStats l_other;
    l_other.m_averageDownloadSpeed = 5;
    mp_world->Shares().OnReceivedUserStats("ME", l_other);
    QCOMPARE(Settings::Get("upload_speed"), std::string("4321"));
}

QTEST_MAIN(TestSharesReplies)
#include "tst_shares_replies.moc"
