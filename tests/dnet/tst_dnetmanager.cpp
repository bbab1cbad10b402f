// The distributed network: choosing a parent among the server's candidates,
// taking over its level and root, passing searches to the shares service
// and on to the children, losing and refusing connections, and the
// server's reset.
#include "DNetTestWorld.h"

#include "core/log/LogService.h"

using Frame = FarEnd::Frame;
using Search = DNetTestWorld::Search;

namespace {

std::vector<FakeCentralServer::ParentCandidate> Candidates(int i_count)
{
    std::vector<FakeCentralServer::ParentCandidate> l_candidates;
    for (int l_index = 0; l_index < i_count; ++l_index)
        l_candidates.push_back({"c" + std::to_string(l_index), FakeCentralServer::LoopbackAddress, quint32(1000 + l_index)});
    return l_candidates;
}

Frame LevelFrame(qint32 i_level)
{
    return Frame{4, WireWriter().I32(i_level)};
}

Frame RootFrame(const std::string& i_root)
{
    return Frame{5, WireWriter().Str(i_root)};
}

}  // namespace

class TestDNetManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void RootlessAfterLogin();
    void ParentChosenFromCandidates();
    void UnansweredAttemptsFreeTheirPlaces();
    void BufferedMessagesAreReadAtOnce();
    void SearchFromParentReachesSharesOnceAndEveryChild();
    void SearchFromServerWhileRootless();
    void LosingTheParent();
    void ChildLimitAndLostChildren();
    void ChildThatConnectsAgainReplacesItsOldLink();
    void QuietParentIsDroppedAndSocketsAreProbed();
    void BrokenConnectionsAreClosed();
    void SearchesArePassedOnOnlyAsFarAsRead_data();
    void SearchesArePassedOnOnlyAsFarAsRead();
    void ChildThatStopsReadingIsDropped();
    void ResetAndNewLogin();
    void DestructionClosesEverySocketSilently();

private:
    std::unique_ptr<DNetTestWorld> mp_world;
};

void TestDNetManager::init()
{
    mp_world = std::make_unique<DNetTestWorld>();
    QVERIFY(mp_world->m_loggedIn);
}

void TestDNetManager::cleanup()
{
    mp_world.reset();
}

void TestDNetManager::RootlessAfterLogin()
{
    DNetTestWorld& l_world = *mp_world;
    const FakeCentralServer::DistributedState l_state = l_world.State();
    QVERIFY(l_state.m_haveNoParentReported && l_state.m_haveNoParent);
    QVERIFY(l_state.m_acceptChildrenReported && !l_state.m_acceptChildren);
    QCOMPARE(l_world.mp_manager->BranchLevel(), 0);
    QCOMPARE(l_world.mp_manager->BranchRoot(), std::string("me"));

    // Without a parent nobody is taken as a child.
    FarEnd* lp_child = l_world.MakeChild("kid");
    QVERIFY(lp_child);
    QVERIFY(lp_child->WaitForClose());
    QVERIFY(l_world.mp_manager->ChildNames().empty());
}

void TestDNetManager::ParentChosenFromCandidates()
{
    DNetTestWorld& l_world = *mp_world;
    auto l_candidates = Candidates(12);
    l_candidates.insert(l_candidates.begin() + 2, {"me", FakeCentralServer::LoopbackAddress, 999});
    QVERIFY(l_world.Fake().SendParentCandidates("me", l_candidates));
    QTRY_COMPARE(l_world.m_requested.size(), std::size_t(10));
    QCOMPARE(l_world.m_requested.front(), std::string("c0"));
    QCOMPARE(l_world.m_requested.back(), std::string("c9"));
    // Reached through the items the peer layer reads.
    ItemPtr l_user = d.GetType("user")->HasItem("c3");
    QCOMPARE(l_user["user_address"].AsString(), std::string("2130706433"));
    QCOMPARE(l_user["user_port"].AsString(), std::string("1003"));
    QCOMPARE(l_user["user_obfuscated_port"].AsString(), std::string("0"));

    FarEnd* lp_parent = nullptr;
    QTcpSocket* lp_ours = l_world.MakePair(lp_parent);
    QVERIFY(lp_ours);
    l_world.Fake().ClearReceived();
    l_world.mp_manager->OnDNetConnectionAccepted("c3", lp_ours);
    QVERIFY(l_world.mp_manager->HasParent());
    QCOMPARE(l_world.mp_manager->ParentName(), std::string("c3"));
    QVERIFY(l_world.Fake().WaitFor(71));
    QVERIFY(!l_world.State().m_haveNoParent);

    lp_parent->Send(4, WireWriter().I32(2));
    lp_parent->Send(5, WireWriter().Str("top"));
    QVERIFY(l_world.Fake().WaitFor(100));
    QCOMPARE(l_world.DistributedCodesReceived(), (QList<quint32>{71, 126, 127, 100}));
    const FakeCentralServer::DistributedState l_state = l_world.State();
    QCOMPARE(l_state.m_branchLevel, quint32(3));
    QCOMPARE(l_state.m_branchRoot, std::string("top"));
    QVERIFY(l_state.m_acceptChildren);
    QCOMPARE(l_world.mp_manager->BranchLevel(), 3);

    // A later connection is closed; the parent stays.
    FarEnd* lp_late = nullptr;
    QTcpSocket* lp_lateOurs = l_world.MakePair(lp_late);
    QVERIFY(lp_lateOurs);
    l_world.mp_manager->OnDNetConnectionAccepted("c5", lp_lateOurs);
    QVERIFY(lp_late->WaitForClose());
    QCOMPARE(l_world.mp_manager->ParentName(), std::string("c3"));
    QVERIFY(lp_parent->IsOpen());

    // The rest of the candidates are not tried any more, nor is a new list.
    l_world.m_now += DNetManager::AttemptTimeoutMs;
    l_world.mp_manager->EveryHalfMinute();
    QVERIFY(l_world.Fake().SendParentCandidates("me", Candidates(3)));
    QTest::qWait(100);
    QCOMPARE(l_world.m_requested.size(), std::size_t(10));
}

void TestDNetManager::UnansweredAttemptsFreeTheirPlaces()
{
    DNetTestWorld& l_world = *mp_world;
    const quint64 l_logStart = GetLogHistory().LastSequence();
    QVERIFY(l_world.Fake().SendParentCandidates("me", Candidates(12)));
    QTRY_COMPARE(l_world.m_requested.size(), std::size_t(10));
    // The same candidate named again is not asked twice.
    QVERIFY(l_world.Fake().SendParentCandidates("me", Candidates(1)));
    QTest::qWait(50);
    QCOMPARE(l_world.mp_manager->AttemptsUnderWay(), 10);

    l_world.m_now += DNetManager::AttemptTimeoutMs - 1;
    Fire(l_world.m_setup.mp_timers->m_everyHalfMinute);
    QCOMPARE(l_world.m_requested.size(), std::size_t(10));
    l_world.m_now += 1;
    Fire(l_world.m_setup.mp_timers->m_everyHalfMinute);
    QCOMPARE(l_world.m_requested.size(), std::size_t(12));
    QCOMPARE(l_world.m_requested[10], std::string("c10"));
    QCOMPARE(l_world.mp_manager->AttemptsUnderWay(), 2);
    const QStringList l_log = LogLinesSince("Distributed Network", l_logStart);
    QCOMPARE(l_log.filter("Trying c11 as parent").size(), 1);
    QCOMPARE(l_log.filter("Parent candidate c0 not reached").size(), 1);
}

void TestDNetManager::BufferedMessagesAreReadAtOnce()
{
    DNetTestWorld& l_world = *mp_world;
    FarEnd* lp_parent = nullptr;
    QTcpSocket* lp_ours = l_world.MakePair(lp_parent);
    QVERIFY(lp_ours);
    // Everything arrives before the hand-over, as right behind a first
    // message; nothing follows it.
    QByteArray l_bytes = DFrame(4, WireWriter().I32(0)) + DFrame(5, WireWriter().Str("top")) +
                         DFrame(3, SearchPayload("asker", 9, "early bird"));
    lp_parent->SendRaw(l_bytes);
    QTRY_COMPARE(lp_ours->bytesAvailable(), qint64(l_bytes.size()));
    l_world.mp_manager->OnDNetConnectionAccepted("p", lp_ours);
    QTRY_COMPARE(l_world.m_searches, (std::vector<Search>{{"asker", 9, "early bird"}}));
    QVERIFY(l_world.Fake().WaitFor(100, 2));
    QCOMPARE(l_world.State().m_branchLevel, quint32(1));
    QCOMPARE(l_world.State().m_branchRoot, std::string("top"));

    // A child whose peer already left is forgotten once its bytes are read.
    FarEnd* lp_child = nullptr;
    QTcpSocket* lp_childOurs = l_world.MakePair(lp_child);
    QVERIFY(lp_childOurs);
    lp_child->SendRaw(DFrame(0, QByteArray()));
    lp_child->Close();
    QTRY_VERIFY(lp_childOurs->state() == QAbstractSocket::UnconnectedState);
    l_world.mp_manager->OnDNetConnectionRequested("gone", lp_childOurs);
    QTRY_VERIFY(l_world.mp_manager->ChildNames().empty());
}

void TestDNetManager::SearchFromParentReachesSharesOnceAndEveryChild()
{
    DNetTestWorld& l_world = *mp_world;
    FarEnd* lp_parent = l_world.MakeParent("p", 2, "top");
    QVERIFY(lp_parent);
    FarEnd* lp_first = l_world.MakeChild("k1");
    FarEnd* lp_second = l_world.MakeChild("k2");
    QVERIFY(lp_first && lp_second);
    // Each child hears our level and root at once.
    QVERIFY(lp_first->WaitForFrames(2));
    QCOMPARE(lp_first->Frames(), (QList<Frame>{LevelFrame(3), RootFrame("top")}));

    const QByteArray l_search = SearchPayload("asker", 77, "Some SONG");
    lp_parent->Send(3, l_search);
    QVERIFY(lp_first->WaitForFrames(3));
    QVERIFY(lp_second->WaitForFrames(3));
    QCOMPARE(lp_first->Frames().at(2), (Frame{3, l_search}));
    QCOMPARE(lp_second->Frames().at(2), (Frame{3, l_search}));
    QCOMPARE(l_world.m_searches, (std::vector<Search>{{"asker", 77, "Some SONG"}}));

    // Our own search coming back is not matched again, but still passed on.
    const QByteArray l_own = SearchPayload("me", 5, "mine");
    lp_parent->Send(3, l_own);
    QVERIFY(lp_first->WaitForFrames(4));
    QCOMPARE(lp_first->Frames().at(3), (Frame{3, l_own}));
    QCOMPARE(l_world.m_searches.size(), std::size_t(1));

    // A new level and root from the parent go to the server and the children.
    lp_parent->Send(4, WireWriter().I32(5));
    lp_parent->Send(5, WireWriter().Str("summit"));
    QVERIFY(lp_second->WaitForFrames(6));
    QCOMPARE(lp_second->Frames().mid(4), (QList<Frame>{LevelFrame(6), RootFrame("summit")}));
    QTRY_COMPARE(l_world.State().m_branchRoot, std::string("summit"));
    QCOMPARE(l_world.State().m_branchLevel, quint32(6));
    // Pings and the child depth change nothing.
    lp_parent->Send(0, QByteArray());
    lp_parent->Send(7, WireWriter().U32(4));
    lp_parent->Send(3, SearchPayload("x", 1, "y"));
    QVERIFY(lp_first->WaitForFrames(7));
    QCOMPARE(lp_first->Frames().size(), 7);
    QVERIFY(l_world.mp_manager->HasParent());
}

void TestDNetManager::SearchFromServerWhileRootless()
{
    DNetTestWorld& l_world = *mp_world;
    QVERIFY(l_world.Fake().SendEmbeddedSearch("me", "asker", 41, "Blue Moon"));
    QTRY_COMPARE(l_world.m_searches, (std::vector<Search>{{"asker", 41, "Blue Moon"}}));

    // Broken or foreign embedded messages are ignored; the link stays.
    l_world.Fake().Send("me", 93, QByteArray());
    l_world.Fake().Send("me", 93, WireWriter().U8(3).U32(0).Str("asker").U32(42));
    l_world.Fake().Send("me", 93, WireWriter().U8(4).I32(7));
    // Our own search, which the fake server passes to every client without
    // a parent, is not matched against our own share.
    l_world.m_setup.Link().FileSearch("own words", false);
    QVERIFY(l_world.Fake().SendEmbeddedSearch("me", "other", 43, "last"));
    QTRY_COMPARE(l_world.m_searches.size(), std::size_t(2));
    QCOMPARE(l_world.m_searches.back(), (Search{"other", 43, "last"}));
    QVERIFY(l_world.m_setup.Link().IsConnected());
    QCOMPARE(l_world.mp_manager->BranchLevel(), 0);

    // With a parent, searches embedded by the server still count, and reach
    // the children.
    FarEnd* lp_parent = l_world.MakeParent("p");
    FarEnd* lp_child = l_world.MakeChild("k");
    QVERIFY(lp_parent && lp_child);
    QVERIFY(lp_child->WaitForFrames(2));
    QVERIFY(l_world.Fake().SendEmbeddedSearch("me", "far", 44, "q"));
    QVERIFY(lp_child->WaitForFrames(3));
    QCOMPARE(lp_child->Frames().at(2), (Frame{3, SearchPayload("far", 44, "q")}));
    QCOMPARE(l_world.m_searches.back(), (Search{"far", 44, "q"}));
}

void TestDNetManager::LosingTheParent()
{
    DNetTestWorld& l_world = *mp_world;
    const quint64 l_logStart = GetLogHistory().LastSequence();
    FarEnd* lp_parent = l_world.MakeParent("p", 2, "top");
    FarEnd* lp_child = l_world.MakeChild("k");
    QVERIFY(lp_parent && lp_child);
    QVERIFY(lp_child->WaitForFrames(2));

    lp_parent->Close();
    QVERIFY(lp_child->WaitForFrames(4));
    QCOMPARE(lp_child->Frames().mid(2), (QList<Frame>{LevelFrame(0), RootFrame("me")}));
    QVERIFY(!l_world.mp_manager->HasParent());
    QTRY_VERIFY(l_world.State().m_haveNoParent);
    QTRY_VERIFY(!l_world.State().m_acceptChildren);
    // The child stays, but no new one is taken.
    QCOMPARE(l_world.mp_manager->ChildNames(), std::vector<std::string>{"k"});
    FarEnd* lp_refused = l_world.MakeChild("k2");
    QVERIFY(lp_refused && lp_refused->WaitForClose());
    const QStringList l_log = LogLinesSince("Distributed Network", l_logStart);
    QCOMPARE(l_log.filter("Gained parent p").size(), 1);
    QCOMPARE(l_log.filter("Lost parent p").size(), 1);
    QCOMPARE(l_log.filter("Gained child k").size(), 1);

    // A new list of candidates is acted on again.
    QVERIFY(l_world.Fake().SendParentCandidates("me", Candidates(1)));
    QTRY_COMPARE(l_world.m_requested, std::vector<std::string>{"c0"});
}

void TestDNetManager::ChildLimitAndLostChildren()
{
    DNetTestWorld& l_world = *mp_world;
    QVERIFY(l_world.MakeParent("p"));
    std::vector<FarEnd*> l_children;
    for (int l_index = 0; l_index < DNetManager::MaxChildren; ++l_index) {
        l_children.push_back(l_world.MakeChild("k" + std::to_string(l_index)));
        QVERIFY(l_children.back());
    }
    FarEnd* lp_eleventh = l_world.MakeChild("k10");
    QVERIFY(lp_eleventh && lp_eleventh->WaitForClose());
    QCOMPARE(l_world.mp_manager->ChildNames().size(), std::size_t(DNetManager::MaxChildren));
    for (FarEnd* lp_child : l_children)
        QVERIFY(lp_child->IsOpen());

    // A lost child is forgotten and frees its place.
    l_children[4]->Close();
    QTRY_COMPARE(l_world.mp_manager->ChildNames().size(), std::size_t(DNetManager::MaxChildren - 1));
    FarEnd* lp_newcomer = l_world.MakeChild("late");
    QVERIFY(lp_newcomer && lp_newcomer->WaitForFrames(2));
    QVERIFY(lp_newcomer->IsOpen());
    QCOMPARE(l_world.mp_manager->ChildNames().back(), std::string("late"));
}

void TestDNetManager::ChildThatConnectsAgainReplacesItsOldLink()
{
    DNetTestWorld& l_world = *mp_world;
    const quint64 l_logStart = GetLogHistory().LastSequence();
    FarEnd* lp_parent = l_world.MakeParent("p", 2, "top");
    QVERIFY(lp_parent);
    FarEnd* lp_old = l_world.MakeChild("kid");
    QVERIFY(lp_old && lp_old->WaitForFrames(2));

    // The child comes back before its old connection was seen to go: the
    // old one is closed, the new one takes its place and hears our level
    // and root.
    FarEnd* lp_new = l_world.MakeChild("kid");
    QVERIFY(lp_new);
    QVERIFY(lp_old->WaitForClose());
    QCOMPARE(l_world.mp_manager->ChildNames(), std::vector<std::string>{"kid"});
    QVERIFY(lp_new->WaitForFrames(2));
    QCOMPARE(lp_new->Frames(), (QList<Frame>{LevelFrame(3), RootFrame("top")}));
    const QByteArray l_search = SearchPayload("asker", 7, "q");
    lp_parent->Send(3, l_search);
    QVERIFY(lp_new->WaitForFrames(3));
    QCOMPARE(lp_new->Frames().at(2), (Frame{3, l_search}));
    QCOMPARE(LogLinesSince("Distributed Network", l_logStart).filter("Lost child kid: it connected again").size(), 1);

    // With every place taken, a child that comes back still gets its own.
    std::vector<FarEnd*> l_others;
    for (int l_index = 1; l_index < DNetManager::MaxChildren; ++l_index) {
        l_others.push_back(l_world.MakeChild("k" + std::to_string(l_index)));
        QVERIFY(l_others.back());
    }
    FarEnd* lp_k3 = l_world.MakeChild("k3");
    QVERIFY(lp_k3 && lp_k3->WaitForFrames(2));
    QVERIFY(l_others[2]->WaitForClose());
    QVERIFY(lp_k3->IsOpen());
    QCOMPARE(l_world.mp_manager->ChildNames().size(), std::size_t(DNetManager::MaxChildren));

    // So it does while no new child is taken, after the parent is lost.
    lp_parent->Close();
    QTRY_VERIFY(!l_world.mp_manager->HasParent());
    FarEnd* lp_back = l_world.MakeChild("kid");
    QVERIFY(lp_back && lp_back->WaitForFrames(2));
    QCOMPARE(lp_back->Frames(), (QList<Frame>{LevelFrame(0), RootFrame("me")}));
    QVERIFY(lp_new->WaitForClose());
    QCOMPARE(l_world.mp_manager->ChildNames().size(), std::size_t(DNetManager::MaxChildren));
}

void TestDNetManager::QuietParentIsDroppedAndSocketsAreProbed()
{
    DNetTestWorld& l_world = *mp_world;
    QTimer& l_tick = l_world.m_setup.mp_timers->m_everyHalfMinute;
    const quint64 l_logStart = GetLogHistory().LastSequence();
    // Both kinds of link ask the system to probe a quiet peer.
    FarEnd* lp_parent = nullptr;
    QTcpSocket* lp_parentSocket = l_world.MakePair(lp_parent);
    QVERIFY(lp_parentSocket);
    l_world.mp_manager->OnDNetConnectionAccepted("p", lp_parentSocket);
    QCOMPARE(lp_parentSocket->socketOption(QAbstractSocket::KeepAliveOption).toInt(), 1);
    lp_parent->Send(4, WireWriter().I32(2));
    lp_parent->Send(5, WireWriter().Str("top"));
    QTRY_VERIFY(l_world.mp_manager->AcceptsChildren());
    FarEnd* lp_child = nullptr;
    QTcpSocket* lp_childSocket = l_world.MakePair(lp_child);
    QVERIFY(lp_childSocket);
    l_world.mp_manager->OnDNetConnectionRequested("k", lp_childSocket);
    QCOMPARE(lp_childSocket->socketOption(QAbstractSocket::KeepAliveOption).toInt(), 1);

    // The silence counts from the parent's last bytes.
    l_world.m_now += DNetManager::ParentSilenceTimeoutMs - 1;
    Fire(l_tick);
    QVERIFY(l_world.mp_manager->HasParent());
    lp_parent->Send(3, SearchPayload("asker", 1, "q"));
    QTRY_COMPARE(l_world.m_searches.size(), std::size_t(1));
    l_world.m_now += DNetManager::ParentSilenceTimeoutMs - 1;
    Fire(l_tick);
    QVERIFY(l_world.mp_manager->HasParent());

    l_world.m_now += 1;
    Fire(l_tick);
    QVERIFY(!l_world.mp_manager->HasParent());
    QVERIFY(lp_parent->WaitForClose());
    QTRY_VERIFY(l_world.State().m_haveNoParent);
    QCOMPARE(LogLinesSince("Distributed Network", l_logStart).filter("Lost parent p: silent for 10 minutes").size(), 1);
    // A child need not say anything: it stays however quiet it is.
    QCOMPARE(l_world.mp_manager->ChildNames(), std::vector<std::string>{"k"});
    QVERIFY(lp_child->IsOpen());
}

void TestDNetManager::BrokenConnectionsAreClosed()
{
    DNetTestWorld& l_world = *mp_world;
    // The parent's frame of exactly 1 MiB is fine; one byte more is not.
    FarEnd* lp_parent = l_world.MakeParent("p");
    FarEnd* lp_child = l_world.MakeChild("k");
    QVERIFY(lp_parent && lp_child);
    lp_parent->SendRaw(WireWriter().U32(1024 * 1024).U8(42).Raw(QByteArray(1024 * 1024 - 1, 'x')));
    lp_parent->Send(3, SearchPayload("a", 1, "still"));
    QTRY_COMPARE(l_world.m_searches.size(), std::size_t(1));
    lp_parent->SendRaw(WireWriter().U32(1024 * 1024 + 1).U8(3));
    QVERIFY(lp_parent->WaitForClose());
    QVERIFY(!l_world.mp_manager->HasParent());
    QTRY_VERIFY(l_world.State().m_haveNoParent);

    // A malformed message from a child closes it alone.
    lp_child->Send(3, WireWriter().U32(0).Str("a").U32(1));
    QVERIFY(lp_child->WaitForClose());
    QVERIFY(l_world.mp_manager->ChildNames().empty());

    // A parent whose branch root is our own name hangs below us.
    FarEnd* lp_circular = nullptr;
    QTcpSocket* lp_ours = l_world.MakePair(lp_circular);
    QVERIFY(lp_ours);
    l_world.mp_manager->OnDNetConnectionAccepted("q", lp_ours);
    lp_circular->Send(4, WireWriter().I32(1));
    lp_circular->Send(5, WireWriter().Str("me"));
    QVERIFY(lp_circular->WaitForClose());
    QVERIFY(!l_world.mp_manager->HasParent());

    // A zero length, a negative level and a short root each end a parent.
    const QList<QByteArray> l_broken{WireWriter().U32(0).U32(0), DFrame(4, WireWriter().I32(-1)),
                                     DFrame(5, WireWriter().U32(10).Raw("abc"))};
    for (const QByteArray& l_bytes : l_broken) {
        FarEnd* lp_far = nullptr;
        QTcpSocket* lp_socket = l_world.MakePair(lp_far);
        QVERIFY(lp_socket);
        l_world.mp_manager->OnDNetConnectionAccepted("r", lp_socket);
        lp_far->SendRaw(l_bytes);
        QVERIFY(lp_far->WaitForClose());
        QVERIFY(!l_world.mp_manager->HasParent());
    }
    QCOMPARE(l_world.m_searches.size(), std::size_t(1));
}

// Bytes after a search's fields, from the server or the parent, are not
// passed on: the server's message may be far longer than a child accepts.
void TestDNetManager::SearchesArePassedOnOnlyAsFarAsRead_data()
{
    QTest::addColumn<bool>("fromServer");
    QTest::addColumn<int>("tail");
    QTest::newRow("server, nothing after") << true << 0;
    QTest::newRow("server, a few bytes after") << true << 7;
    QTest::newRow("server, 2 MiB after") << true << 2 * 1024 * 1024;
    QTest::newRow("parent, a few bytes after") << false << 7;
    QTest::newRow("parent, nearly 1 MiB after") << false << 1024 * 1024 - 64;
}

void TestDNetManager::SearchesArePassedOnOnlyAsFarAsRead()
{
    QFETCH(bool, fromServer);
    QFETCH(int, tail);
    DNetTestWorld& l_world = *mp_world;
    FarEnd* lp_parent = l_world.MakeParent("p");
    FarEnd* lp_child = l_world.MakeChild("k");
    QVERIFY(lp_parent && lp_child);
    QVERIFY(lp_child->WaitForFrames(2));

    const QByteArray l_search = SearchPayload("asker", 12, "with a tail");
    const QByteArray l_payload = l_search + QByteArray(tail, '\xAB');
    if (fromServer)
        QVERIFY(l_world.Fake().Send("me", 93, WireWriter().U8(3).Raw(l_payload)));
    else
        lp_parent->Send(3, l_payload);
    QVERIFY(lp_child->WaitForFrames(3));
    QCOMPARE(lp_child->Frames().at(2), (Frame{3, l_search}));
    QCOMPARE(l_world.m_searches, (std::vector<Search>{{"asker", 12, "with a tail"}}));
    QCOMPARE(l_world.mp_manager->ChildNames(), std::vector<std::string>{"k"});
    QVERIFY(lp_child->IsOpen());
}

// A child that stops reading is dropped once 16 MiB wait for it; a child
// that reads gets every search.
void TestDNetManager::ChildThatStopsReadingIsDropped()
{
    DNetTestWorld& l_world = *mp_world;
    const quint64 l_logStart = GetLogHistory().LastSequence();
    FarEnd* lp_parent = l_world.MakeParent("p");
    FarEnd* lp_stalled = l_world.MakeChild("stalled");
    FarEnd* lp_reader = l_world.MakeChild("reader");
    QVERIFY(lp_parent && lp_stalled && lp_reader);
    QVERIFY(lp_stalled->WaitForFrames(2) && lp_reader->WaitForFrames(2));
    const qsizetype l_greeting = lp_reader->Bytes().size();
    lp_stalled->StopReading();

    // About 30 MiB of searches: past the limit and whatever the system
    // buffers on the way.
    const std::string l_query(120000, 'q');
    const int l_searches = 256;
    qsizetype l_expected = l_greeting;
    for (int l_index = 0; l_index < l_searches; ++l_index) {
        const QByteArray l_frame = DFrame(3, SearchPayload("asker", quint32(l_index), l_query));
        l_expected += l_frame.size();
        lp_parent->SendRaw(l_frame);
    }
    QTRY_COMPARE_WITH_TIMEOUT(l_world.mp_manager->ChildNames(), std::vector<std::string>{"reader"}, 60000);
    QCOMPARE(LogLinesSince("Distributed Network", l_logStart).filter("Lost child stalled").size(), 1);

    QVERIFY(QTest::qWaitFor([&] { return lp_reader->Bytes().size() >= l_expected; }, 60000));
    QCOMPARE(lp_reader->Bytes().size(), l_expected);
    const QList<Frame> l_frames = lp_reader->Frames();
    QCOMPARE(l_frames.size(), 2 + l_searches);
    QCOMPARE(l_frames.back(), (Frame{3, SearchPayload("asker", quint32(l_searches - 1), l_query)}));
    QCOMPARE(l_world.m_searches.size(), std::size_t(l_searches));
    QVERIFY(lp_reader->IsOpen());
    QVERIFY(l_world.mp_manager->HasParent());
}

void TestDNetManager::ResetAndNewLogin()
{
    DNetTestWorld& l_world = *mp_world;
    FarEnd* lp_parent = l_world.MakeParent("p");
    FarEnd* lp_child = l_world.MakeChild("k");
    QVERIFY(lp_parent && lp_child);
    QVERIFY(l_world.Fake().WaitFor(126));
    l_world.Fake().ClearReceived();
    QVERIFY(l_world.Fake().SendDistributedReset("me"));
    QVERIFY(lp_parent->WaitForClose());
    QVERIFY(lp_child->WaitForClose());
    QVERIFY(l_world.Fake().WaitFor(100));
    QCOMPARE(l_world.DistributedCodesReceived(), (QList<quint32>{71, 100}));
    QVERIFY(l_world.State().m_haveNoParent);
    QVERIFY(!l_world.mp_manager->HasParent());
    QVERIFY(l_world.mp_manager->ChildNames().empty());
    QCOMPARE(l_world.mp_manager->BranchRoot(), std::string("me"));

    // A new login starts without a parent too; children hear of it.
    lp_parent = l_world.MakeParent("p2", 0, "top");
    lp_child = l_world.MakeChild("k2");
    QVERIFY(lp_parent && lp_child && lp_child->WaitForFrames(2));
    l_world.m_setup.Link().Disconnect();
    QVERIFY(l_world.m_setup.LogIn("me", "pw"));
    QVERIFY(lp_parent->WaitForClose());
    QVERIFY(lp_child->WaitForFrames(4));
    QCOMPARE(lp_child->Frames().mid(2), (QList<Frame>{LevelFrame(0), RootFrame("me")}));
    QTRY_VERIFY(l_world.State().m_haveNoParentReported && l_world.State().m_haveNoParent);
}

void TestDNetManager::DestructionClosesEverySocketSilently()
{
    DNetTestWorld& l_world = *mp_world;
    FarEnd* lp_parent = l_world.MakeParent("p");
    FarEnd* lp_child = l_world.MakeChild("k");
    QVERIFY(lp_parent && lp_child);
    QCOMPARE(dnetManager, l_world.mp_manager.get());
    const quint64 l_logStart = GetLogHistory().LastSequence();
    l_world.Fake().ClearReceived();
    l_world.mp_manager.reset();
    QCOMPARE(dnetManager, nullptr);
    QVERIFY(lp_parent->WaitForClose());
    QVERIFY(lp_child->WaitForClose());
    QVERIFY(LogLinesSince("Distributed Network", l_logStart).isEmpty());
    QTest::qWait(50);
    QVERIFY(l_world.DistributedCodesReceived().isEmpty());
}

QTEST_GUILESS_MAIN(TestDNetManager)
#include "tst_dnetmanager.moc"
