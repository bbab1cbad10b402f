// The wish-list searcher: its server-set timer, the turn of enabled entries
// and its silence while offline.
#include "ServerTestSetup.h"
#include "WireBytes.h"

#include "server/WishListSearcher.h"

class TestWishListSearcher : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void ServerSetsTheInterval();
    void SendsEnabledEntriesInTurn();
    void OfflineTickDoesNothing();
    void NoEnabledEntrySendsNothing();
    void OutlivesTheServerLink();

private:
    void AddEntry(const char* ip_text, bool i_enabled);
    QList<QByteArray> WishSearchesSent();

    std::unique_ptr<ServerTestSetup> mp_setup;
    std::unique_ptr<WishListSearcher> mp_searcher;
};

void TestWishListSearcher::init()
{
    mp_setup = std::make_unique<ServerTestSetup>();
    mp_searcher = std::make_unique<WishListSearcher>(nullptr);
}

void TestWishListSearcher::cleanup()
{
    mp_searcher.reset();
    mp_setup.reset();
}

void TestWishListSearcher::AddEntry(const char* ip_text, bool i_enabled)
{
    ItemPtr l_entry = d.GetType("wish_list_item")->GetItem(ip_text);
    if (i_enabled)
        l_entry += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
}

QList<QByteArray> TestWishListSearcher::WishSearchesSent()
{
    QList<QByteArray> l_payloads;
    for (const auto& l_message : mp_setup->m_fake.Received(103))
        l_payloads << l_message.m_payload;
    return l_payloads;
}

void TestWishListSearcher::ServerSetsTheInterval()
{
    QCOMPARE(wishListSearcher, mp_searcher.get());
    QVERIFY(!mp_searcher->GetTimer().isActive());
    QVERIFY(mp_setup->LogIn());
    QVERIFY(mp_setup->m_fake.Send("alice", 104, WireWriter().U32(720)));
    QTRY_VERIFY(mp_searcher->GetTimer().isActive());
    QCOMPARE(mp_searcher->GetTimer().interval(), 720000);
    QVERIFY(mp_setup->m_fake.Send("alice", 104, WireWriter().U32(60)));
    QTRY_COMPARE(mp_searcher->GetTimer().interval(), 60000);
    // A zero interval would search without pause: it stops the timer.
    QVERIFY(mp_setup->m_fake.Send("alice", 104, WireWriter().U32(0)));
    QTRY_VERIFY(!mp_searcher->GetTimer().isActive());
    // An interval beyond the timer's range is held at the longest it takes.
    mp_searcher->SetInterval(0xFFFFFFFF);
    QVERIFY(mp_searcher->GetTimer().isActive());
    QVERIFY(mp_searcher->GetTimer().interval() > 2000000000);
}

void TestWishListSearcher::SendsEnabledEntriesInTurn()
{
    QVERIFY(mp_setup->LogIn());
    const quint64 l_logStart = GetLogHistory().LastSequence();
    AddEntry("zebra", true);
    AddEntry("abba", true);
    AddEntry("muse", false);
    for (int l_tick = 0; l_tick < 3; ++l_tick)
        mp_searcher->OnTimer();
    QVERIFY(mp_setup->m_fake.WaitFor(103, 3));
    QCOMPARE(WishSearchesSent(), (QList<QByteArray>{WireWriter().U32(1).Str("abba"), WireWriter().U32(2).Str("zebra"),
                                                    WireWriter().U32(3).Str("abba")}));
    QVERIFY(d.GetType("search_request")->HasItem("3").IsConnected("wishlist_search"));
    QCOMPARE(LogLinesSince("Wish List", l_logStart).filter("Sent wish list search: ").size(), 3);
    QCOMPARE(LogLinesSince("Wish List", l_logStart).filter("Sent wish list search: zebra").size(), 1);

    // Entries that go away do not stop the turn.
    d.GetType("wish_list_item")->HasItem("zebra").Disconnect("wish_list_item_enabled");
    mp_searcher->OnTimer();
    mp_searcher->OnTimer();
    QVERIFY(mp_setup->m_fake.WaitFor(103, 5));
    QCOMPARE(WishSearchesSent().mid(3), (QList<QByteArray>{WireWriter().U32(4).Str("abba"), WireWriter().U32(5).Str("abba")}));
}

void TestWishListSearcher::OfflineTickDoesNothing()
{
    AddEntry("abba", true);
    Settings::SetVolatile("wish_list_search_index", "0");
    mp_searcher->OnTimer();
    QCOMPARE(d.GetType("search_request")->ItemCount(), std::size_t(0));
    QCOMPARE(Settings::GetVolatile("wish_list_search_index"), std::string("0"));
    // Once logged in, the first enabled entry goes first.
    QVERIFY(mp_setup->LogIn());
    mp_searcher->OnTimer();
    QVERIFY(mp_setup->m_fake.WaitFor(103));
    QCOMPARE(WishSearchesSent(), QList<QByteArray>{WireWriter().U32(1).Str("abba")});
}

void TestWishListSearcher::NoEnabledEntrySendsNothing()
{
    QVERIFY(mp_setup->LogIn());
    AddEntry("muse", false);
    mp_searcher->OnTimer();
    QTest::qWait(50);
    QCOMPARE(mp_setup->m_fake.CountOf(103), 0);
    QCOMPARE(d.GetType("search_request")->ItemCount(), std::size_t(0));
}

void TestWishListSearcher::OutlivesTheServerLink()
{
    AddEntry("abba", true);
    // The window deletes the link first and the searcher with itself later.
    mp_setup->mp_server.reset();
    QVERIFY(gp_server == nullptr);
    mp_searcher->SetInterval(1);
    mp_searcher->OnTimer();
    mp_searcher.reset();
    QVERIFY(wishListSearcher == nullptr);
}

QTEST_GUILESS_MAIN(TestWishListSearcher)
#include "tst_wishlistsearcher.moc"
