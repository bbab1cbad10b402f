// Other users' replies to our searches: the items each reply makes, replies
// that make nothing, replies that end the connection, and paths a user
// reported before.
#include "PeerConversation.h"

#include <QtTest>

#include <utility>
#include <vector>

namespace
{
using Attributes = std::vector<std::pair<quint32, qint32>>;

QByteArray File(const std::string& i_path, qint64 i_size, const Attributes& i_attributes = {})
{
    WireWriter l_file;
    l_file.U8(1).Str(i_path).I64(i_size).Str("ext").U32(static_cast<quint32>(i_attributes.size()));
    for (const auto& [l_code, l_value] : i_attributes)
        l_file.U32(l_code).I32(l_value);
    return l_file;
}

// Free slot, upload speed, queue length and an attribute name table.
QByteArray Tail(quint8 i_freeSlot, qint32 i_speed, qint32 i_queue)
{
    return WireWriter().U8(i_freeSlot).I32(i_speed).I32(i_queue).U32(1).I32(0).Str("bitrate");
}

QByteArray Reply(const std::string& i_user, quint32 i_token, quint32 i_count, const QByteArray& i_files,
                 const QByteArray& i_tail = Tail(1, 100, 0))
{
    const QByteArray l_plain = WireWriter().Str(i_user).U32(i_token).U32(i_count).Raw(i_files).Raw(i_tail);
    return WireWriter().U32(9).Raw(Compressed(l_plain));
}

ItemPtr Search(quint32 i_token)
{
    return d.GetType("search_request")->NewItem(Value(i_token));
}

// A search the user typed, for that text.
ItemPtr TypedSearch(quint32 i_token, const std::string& i_text)
{
    ItemPtr l_request = Search(i_token);
    l_request += d.GetType("search_request_text")->GetItem(i_text);
    return l_request;
}

// A search the wish list sent, for that text.
ItemPtr WishListSearch(quint32 i_token, const std::string& i_text)
{
    ItemPtr l_request = TypedSearch(i_token, i_text);
    l_request += d.GetType("wishlist_search")->GetGlobalNullItem();
    return l_request;
}

// Files "n.mp3" for n from i_first on, twenty to an album folder.
QByteArray Albums(int i_first, int i_count)
{
    QByteArray l_files;
    for (int l_index = i_first; l_index < i_first + i_count; ++l_index)
        l_files += File("music\\album " + std::to_string(l_index / 20) + "\\" + std::to_string(l_index) + ".mp3", l_index);
    return l_files;
}

const QString BoundLine = QStringLiteral("Search for jazz holds 50000 results, further results are dropped");

ItemPtr ResultNamed(ItemPtr i_results, const std::string& i_name)
{
    return i_results.GetItems("search_result").Connected("search_result_file_name", i_name);
}

std::vector<std::string> Names(ItemPtr i_results)
{
    std::vector<std::string> l_names;
    for (ItemPtr l_result : i_results.GetItems("search_result").SortAlphabeticBy("search_result_file_name", true))
        l_names.push_back(l_result["search_result_file_name"].AsString());
    return l_names;
}

struct ResultsListener
{
    explicit ResultsListener(PeerMessenger& io_messenger)
    {
        QObject::connect(&io_messenger, &PeerMessenger::SearchResults,
                         [this](ItemPtr i_results) { m_emitted.push_back(i_results); });
    }
    std::vector<ItemPtr> m_emitted;
};
}

class TestPeerSearchReplies : public QObject
{
    Q_OBJECT

private slots:
    void aReplyBecomesResultsUnderItsSearch()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ResultsListener l_listener(l_talk.Messenger());
        ItemPtr l_search = Search(77);
        // The lone 0 between the files is an empty record: no file of its own,
        // and no copy of the one before it.
        const QByteArray l_files = File("music\\jazz\\a.mp3", 1000, {{0, 320}, {1, 245}, {2, 0}}) + QByteArray(1, '\0')
                                 + File("b.ogg", -2, {{2, 5}, {3, 9}, {4, 1}});
        QVERIFY(l_talk.Send(Reply("bob", 77, 3, l_files, Tail(1, 250000, 3))));
        QVERIFY(l_talk.StillOpen());
        QVERIFY(l_talk.LinesAfterReceipt().isEmpty());

        QCOMPARE(l_listener.m_emitted.size(), std::size_t(1));
        ItemPtr l_results = l_listener.m_emitted.front();
        QCOMPARE(l_results.Get(), l_search["search_results"].Get());
        QCOMPARE(l_results["user"].AsString(), std::string("bob"));
        QCOMPARE(l_results["search_results_user_available"].AsString(), std::string("yes"));
        QCOMPARE(l_results["search_results_user_speed"].AsString(), std::string("250000"));
        QCOMPARE(l_results["search_results_uploads_in_queue"].AsString(), std::string("3"));
        QCOMPARE(Names(l_results), (std::vector<std::string>{"a.mp3", "b.ogg"}));

        ItemPtr l_audio = ResultNamed(l_results, "a.mp3");
        QCOMPARE(l_audio["search_result_file_folder"].AsString(), std::string("music\\jazz"));
        QCOMPARE(l_audio["search_result_file_size"].AsString(), std::string("1000"));
        QCOMPARE(l_audio["bitrate"].AsString(), std::string("320"));
        QCOMPARE(l_audio["length_seconds"].AsString(), std::string("245"));
        QCOMPARE(l_audio["bitrate_mode"].AsString(), std::string("cbr"));

        // No separator: a file at the top of the share, in the folder "". A
        // size above the signed range reads as negative. Codes 3 and 4 mean
        // nothing here.
        ItemPtr l_plain = ResultNamed(l_results, "b.ogg");
        QCOMPARE(l_plain["search_result_file_folder"].AsString(), std::string());
        QCOMPARE(l_plain["search_result_file_size"].AsString(), std::string("-2"));
        QCOMPARE(l_plain["bitrate_mode"].AsString(), std::string("vbr"));
        QVERIFY(!l_plain.IsConnected("bitrate"));
        QVERIFY(!l_plain.IsConnected("length_seconds"));
    }

    void aReplyEndingAfterItsFilesIsUsed()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ResultsListener l_listener(l_talk.Messenger());
        Search(5);
        QVERIFY(l_talk.Send(Reply("bob", 5, 1, File("a\\b", 1), QByteArray())));
        QVERIFY(l_talk.StillOpen());
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(1));
        ItemPtr l_results = l_listener.m_emitted.front();
        QCOMPARE(l_results["search_results_user_available"].AsString(), std::string("no"));
        QCOMPARE(l_results["search_results_user_speed"].AsString(), std::string("0"));
        QCOMPARE(l_results["search_results_uploads_in_queue"].AsString(), std::string("0"));
    }

    void repliesThatMakeNothing_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("closes");
        QTest::newRow("token of no search") << Reply("bob", 6, 1, File("a\\b", 1)) << false;
        QTest::newRow("token of no search, unreadable after it") << Reply("bob", 6, 131073, QByteArray()) << false;
        QTest::newRow("no files") << Reply("bob", 5, 0, QByteArray()) << false;
        QTest::newRow("only an empty record") << Reply("bob", 5, 1, QByteArray(1, '\0')) << false;
        QTest::newRow("another user") << Reply("eve", 5, 1, File("a\\b", 1)) << true;
        QTest::newRow("the user and more") << Reply("bobby", 5, 1, File("a\\b", 1)) << true;
        QTest::newRow("nothing after the code") << QByteArray(WireWriter().U32(9)) << true;
        QTest::newRow("no token") << QByteArray(WireWriter().U32(9).Raw(Compressed(WireWriter().Str("bob").U8(5)))) << true;
        QTest::newRow("file count above the limit") << Reply("bob", 5, 131073, File("a\\b", 1)) << true;
        QTest::newRow("fewer files than counted") << Reply("bob", 5, 2, File("a\\b", 1), QByteArray()) << true;
        QTest::newRow("a file cut short") << Reply("bob", 5, 1, File("a\\b", 1).chopped(1), QByteArray()) << true;
    }
    // Unreadable replies close the connection; readable ones that name no
    // search or no file keep it. Neither makes a result.
    void repliesThatMakeNothing()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, closes);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ResultsListener l_listener(l_talk.Messenger());
        Search(5);
        QVERIFY(l_talk.Send(body));
        if (closes) {
            QVERIFY(l_talk.Closed());
            // The handler adds nothing to the disposal's own lines.
            QCOMPARE(l_talk.LinesAfterReceipt(), (QStringList{"Disposing of socket", "Identified as peer socket"}));
        } else {
            QVERIFY(l_talk.StillOpen());
            QVERIFY(l_talk.LinesAfterReceipt().isEmpty());
        }
        QVERIFY(l_listener.m_emitted.empty());
        QCOMPARE(PeerTestWorld::ItemCount("search_results"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("search_result"), 0);
    }

    // A file claims at most 16 attributes: more, up to the bomb of the
    // stream's own limit, closes the connection before anything is made.
    void aFileWithTooManyAttributesClosesTheConnection_data()
    {
        QTest::addColumn<int>("attributes");
        QTest::addColumn<bool>("closes");
        QTest::newRow("16") << 16 << false;
        QTest::newRow("17") << 17 << true;
        QTest::newRow("131072") << 131072 << true;
    }
    void aFileWithTooManyAttributesClosesTheConnection()
    {
        QFETCH(int, attributes);
        QFETCH(bool, closes);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ResultsListener l_listener(l_talk.Messenger());
        Search(5);
        Attributes l_attributes;
        for (int l_index = 0; l_index < attributes; ++l_index)
            l_attributes.emplace_back(quint32(l_index), l_index);
        // The bomb comes after a good file: nothing of the reply is kept.
        QVERIFY(l_talk.Send(Reply("bob", 5, 2, File("x\\good", 1) + File("x\\bomb", 2, l_attributes))));
        if (!closes) {
            QVERIFY(l_talk.StillOpen());
            QCOMPARE(l_listener.m_emitted.size(), std::size_t(1));
            QCOMPARE(PeerTestWorld::ItemCount("search_result"), 2);
            return;
        }
        QVERIFY(l_talk.Closed());
        QCOMPARE(l_talk.LinesAfterReceipt().first(),
                 QString("PM_FILE_SEARCH_RESULT message from user bob has a file with more than 16 attributes, "
                         "disposing of socket"));
        QVERIFY(l_listener.m_emitted.empty());
        QCOMPARE(PeerTestWorld::ItemCount("search_results"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("search_result"), 0);
    }

    // Within one search (the repetitions of a wish-list text are one) a
    // user's path is reported once; another search shows it again.
    void aUsersPathsAreReportedOncePerSearch()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ResultsListener l_listener(l_talk.Messenger());
        Search(1);
        Search(2);
        WishListSearch(3, "jazz");
        WishListSearch(4, "jazz");
        WishListSearch(5, "blues");

        // Within one reply a path may come twice.
        QVERIFY(l_talk.Send(Reply("bob", 1, 3, File("x\\a.mp3", 1) + File("x\\a.mp3", 1) + File("x/b.mp3", 2))));
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(1));
        QCOMPARE(Names(l_listener.m_emitted.back()), (std::vector<std::string>{"a.mp3", "a.mp3", "b.mp3"}));

        // A later reply to the same search adds only new paths; the same
        // name in another folder is another path.
        QVERIFY(l_talk.Send(Reply("bob", 1, 3, File("x\\a.mp3", 1) + File("y\\a.mp3", 1) + File("x\\c.mp3", 3))));
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(2));
        QCOMPARE(Names(l_listener.m_emitted.back()), (std::vector<std::string>{"a.mp3", "c.mp3"}));
        QCOMPARE(l_listener.m_emitted.back().GetItems("search_result").Connected("search_result_file_folder", "y").size(),
                 std::size_t(1));

        // A reply of known paths only leaves nothing behind.
        QVERIFY(l_talk.Send(Reply("bob", 1, 1, File("x/b.mp3", 2))));
        QVERIFY(l_talk.StillOpen());
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(2));
        QCOMPARE(PeerTestWorld::ItemCount("search_results"), 2);

        // Another search shows every path again.
        QVERIFY(l_talk.Send(Reply("bob", 2, 2, File("x\\a.mp3", 1) + File("x/b.mp3", 2))));
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(3));
        QCOMPARE(Names(l_listener.m_emitted.back()), (std::vector<std::string>{"a.mp3", "b.mp3"}));

        // Two repetitions of one wish-list text are one search; another
        // text is another.
        QVERIFY(l_talk.Send(Reply("bob", 3, 1, File("x/a.mp3", 1))));
        QVERIFY(l_talk.Send(Reply("bob", 4, 2, File("x/a.mp3", 1) + File("x/d.mp3", 1))));
        QVERIFY(l_talk.Send(Reply("bob", 5, 1, File("x/a.mp3", 1))));
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(6));
        QCOMPARE(Names(l_listener.m_emitted[4]), std::vector<std::string>{"d.mp3"});
        QCOMPARE(Names(l_listener.m_emitted[5]), std::vector<std::string>{"a.mp3"});

        // A path whose results went is new again.
        l_listener.m_emitted[0].GetItems("search_result").Remove();
        l_listener.m_emitted[0].Remove();
        QVERIFY(l_talk.Send(Reply("bob", 1, 1, File("x/b.mp3", 2))));
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(7));

        // Another user's report of the same path is new.
        FakePeerConnection* lp_ann = l_talk.m_peer.ConnectTo(l_talk.m_world.PlainPort(), false);
        QVERIFY(lp_ann);
        lp_ann->SendFrame(WireWriter().U8(1).Str("ann").Str("P").U32(0));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 2; }));
        lp_ann->SendFrame(Reply("ann", 2, 1, File("x/b.mp3", 2)));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_listener.m_emitted.size() == 8; }));
        QCOMPARE(l_listener.m_emitted.back()["user"].AsString(), std::string("ann"));
        QCOMPARE(Names(l_listener.m_emitted.back()), std::vector<std::string>{"b.mp3"});
    }

    // A search keeps at most 50,000 results: the reply that reaches the
    // bound keeps its first new files up to it, later replies nothing, and
    // the log says so once. The repetitions of a wish-list text share one
    // bound, as they share one tab.
    void aSearchKeepsAtMostItsBound_data()
    {
        QTest::addColumn<bool>("wishList");
        QTest::newRow("typed search") << false;
        QTest::newRow("wish-list search, two repetitions") << true;
    }
    void aSearchKeepsAtMostItsBound()
    {
        QFETCH(bool, wishList);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ResultsListener l_listener(l_talk.Messenger());
        const quint32 l_first = wishList ? 3 : 7;
        const quint32 l_later = wishList ? 4 : 7;
        if (wishList) {
            WishListSearch(3, "jazz");
            WishListSearch(4, "jazz");
        } else {
            TypedSearch(7, "jazz");
        }

        // A path given twice in a reply counts twice.
        QVERIFY(l_talk.Send(Reply("bob", l_first, 40000, Albums(0, 39999) + Albums(0, 1))));
        QCOMPARE(PeerTestWorld::ItemCount("search_result"), 40000);
        QVERIFY(l_talk.LinesAfterReceipt().isEmpty());

        // Known paths count for nothing; of the new files the first 10,000
        // are kept.
        QVERIFY(l_talk.Send(Reply("bob", l_later, 30005, Albums(0, 5) + Albums(40000, 30000))));
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(2));
        const ItemPtr l_crossing = l_listener.m_emitted.back();
        QCOMPARE(l_crossing.GetItems("search_result").size(), std::size_t(10000));
        QVERIFY(ResultNamed(l_crossing, "40000.mp3"));
        QVERIFY(ResultNamed(l_crossing, "49999.mp3"));
        QVERIFY(!ResultNamed(l_crossing, "50000.mp3"));
        QCOMPARE(PeerTestWorld::ItemCount("search_result"), 50000);
        QCOMPARE(l_talk.LinesAfterReceipt(), QStringList{BoundLine});

        QVERIFY(l_talk.Send(Reply("bob", l_later, 2, File("x\\new.mp3", 1) + File("y\\new.mp3", 1))));
        QVERIFY(l_talk.StillOpen());
        QVERIFY(l_talk.LinesAfterReceipt().isEmpty());
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(2));
        QCOMPARE(PeerTestWorld::ItemCount("search_results"), 2);
        QCOMPARE(PeerTestWorld::ItemCount("search_result"), 50000);
    }

    // A wish-list search has a bound of its own: full, it leaves the typed
    // searches of its text as they were, and once it ends (its tab closed),
    // its next repetition starts from nothing.
    void aWishListSearchCountsItsOwnResults()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ResultsListener l_listener(l_talk.Messenger());
        TypedSearch(1, "jazz");
        ItemPtr l_wish = WishListSearch(2, "jazz");
        TypedSearch(3, "jazz");

        QVERIFY(l_talk.Send(Reply("bob", 2, 50001, Albums(0, 50001))));
        QCOMPARE(l_wish.GetItems("search_results").GetItems("search_result").size(), std::size_t(50000));
        QCOMPARE(l_talk.LinesAfterReceipt(), QStringList{BoundLine});
        QVERIFY(l_talk.Send(Reply("bob", 2, 1, File("x\\new.mp3", 1))));
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(1));

        for (const quint32 l_token : {1u, 3u}) {
            QVERIFY(l_talk.Send(Reply("bob", l_token, 2, Albums(0, 2))));
            QVERIFY(l_talk.LinesAfterReceipt().isEmpty());
            QCOMPARE(Names(l_listener.m_emitted.back()), (std::vector<std::string>{"0.mp3", "1.mp3"}));
            QCOMPARE(l_listener.m_emitted.back()["search_request"].AsString(), std::to_string(l_token));
        }
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(3));

        l_wish.GetItems("search_results").GetItems("search_result").Remove();
        l_wish.GetItems("search_results").Remove();
        l_wish.Remove();
        WishListSearch(4, "jazz");
        QVERIFY(l_talk.Send(Reply("bob", 4, 1, File("x\\new.mp3", 1))));
        QCOMPARE(l_listener.m_emitted.size(), std::size_t(4));
        QCOMPARE(l_listener.m_emitted.back()["search_request"].AsString(), std::string("4"));
    }
};

QTEST_GUILESS_MAIN(TestPeerSearchReplies)
#include "tst_peer_search_replies.moc"
