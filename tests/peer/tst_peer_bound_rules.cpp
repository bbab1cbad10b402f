// The rules of the connection bound: what a newcomer's first message earns,
// which connection of a user holds on, and how long work lasts.
#include "peer/PeerBoundRules.h"
#include "peer/PeerConnectionBudget.h"

#include <QtTest>

#include <string>

namespace
{
using Claim = PeerBoundRules::Claim;
using Hold = PeerNetworkShare::Hold;

// Stand-ins for connections: only their addresses are used.
QTcpSocket* Socket(int i_index)
{
    static char s_sockets[8];
    return reinterpret_cast<QTcpSocket*>(&s_sockets[i_index]);
}

PeerFirstMessage::Parsed Direct(const std::string& i_user, const std::string& i_type)
{
    PeerFirstMessage::Parsed l_first;
    l_first.m_kind = PeerFirstMessage::Kind::Direct;
    l_first.m_user = i_user;
    l_first.m_connectionType = i_type;
    return l_first;
}

PeerBoundRules RulesWithWork()
{
    PeerBoundRules l_rules;
    l_rules.SetWorkCheck([](const std::string& i_user) { return i_user == "ann"; });
    l_rules.SetTokenCheck([](const std::string& i_user, quint32 i_token) { return i_user == "ann" && i_token == 7; });
    l_rules.SetFileWaitCheck([](const std::string& i_user) { return i_user == "ann"; });
    return l_rules;
}

QString ClaimName(Claim i_claim)
{
    switch (i_claim) {
    case Claim::Refuse: return "refuse";
    case Claim::AsPeer: return "as a peer";
    case Claim::AwaitToken: return "await its token";
    case Claim::Keep: return "keep";
    }
    return "?";
}

QString HoldName(Hold i_hold)
{
    switch (i_hold) {
    case Hold::Free: return "free";
    case Hold::Last: return "last";
    case Hold::Never: return "never";
    }
    return "?";
}
}

class TestPeerBoundRules : public QObject
{
    Q_OBJECT

private slots:
    void whatAnIntroductionEarns_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("answersOurs");
        QTest::addColumn<bool>("fromAddress");
        QTest::addColumn<QString>("claim");
        QTest::newRow("our token") << "indirect" << "" << "" << true << false << "keep";
        QTest::newRow("a token not ours") << "indirect" << "" << "" << false << false << "refuse";
        QTest::newRow("a file connection for a download of ours") << "direct" << "ann" << "F" << false << false
                                                                  << "await its token";
        QTest::newRow("a file connection of a user we await none from") << "direct" << "bob" << "F" << false << true
                                                                         << "refuse";
        QTest::newRow("a user we work with, from their address") << "direct" << "ann" << "P" << false << true << "keep";
        QTest::newRow("a namesake of a user we work with") << "direct" << "ann" << "P" << false << false << "as a peer";
        QTest::newRow("a stranger from their own address") << "direct" << "bob" << "P" << false << true << "as a peer";
        QTest::newRow("a network connection") << "direct" << "bob" << "D" << false << false << "as a peer";
        QTest::newRow("an unknown type") << "direct" << "ann" << "X" << false << true << "refuse";
        QTest::newRow("an unreadable introduction") << "unreadable" << "" << "" << false << false << "refuse";
    }
    void whatAnIntroductionEarns()
    {
        QFETCH(QString, kind);
        QFETCH(QString, user);
        QFETCH(QString, type);
        QFETCH(bool, answersOurs);
        QFETCH(bool, fromAddress);
        QFETCH(QString, claim);
        PeerBoundRules::Newcomer l_newcomer{Direct(user.toStdString(), type.toStdString()), answersOurs, fromAddress};
        if (kind == "indirect")
            l_newcomer.m_first.m_kind = PeerFirstMessage::Kind::Indirect;
        else if (kind == "unreadable")
            l_newcomer.m_first.m_kind = PeerFirstMessage::Kind::DirectUnreadable;
        QCOMPARE(ClaimName(RulesWithWork().OfIntroduction(l_newcomer, 0)), claim);
    }

    void onlyATokenOfOursKeepsAFileConnection_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<quint32>("token");
        QTest::addColumn<bool>("kept");
        QTest::newRow("ours") << "ann" << 7u << true;
        QTest::newRow("another token") << "ann" << 8u << false;
        QTest::newRow("our token from another user") << "bob" << 7u << false;
    }
    void onlyATokenOfOursKeepsAFileConnection()
    {
        QFETCH(QString, user);
        QFETCH(quint32, token);
        QFETCH(bool, kept);
        QCOMPARE(RulesWithWork().KeepsToken(user.toStdString(), token), kept);
        QVERIFY(!PeerBoundRules().KeepsToken(user.toStdString(), token));
    }

    // One connection per user we have work with never goes: the newest
    // authentic one. Anything carrying a reply goes last.
    void whoHoldsOn_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<int>("socket");
        QTest::addColumn<QString>("hold");
        QTest::newRow("the user's only authentic connection") << "auth0" << 0 << "never";
        QTest::newRow("an older one, after a newer") << "auth0 auth1" << 0 << "free";
        QTest::newRow("the newer one") << "auth0 auth1" << 1 << "never";
        QTest::newRow("a namesake after the authentic one") << "auth0 name1" << 1 << "free";
        QTest::newRow("the authentic one, after a namesake") << "auth0 name1" << 0 << "never";
        QTest::newRow("the newer one went, the older does not hold") << "auth0 auth1 gone1" << 0 << "free";
        QTest::newRow("a user we have no work with") << "bob0" << 0 << "free";
        QTest::newRow("a request not yet answered") << "bob0 asked0" << 0 << "last";
        QTest::newRow("a request answered") << "bob0 asked0 answered0" << 0 << "free";
        QTest::newRow("a request left unanswered too long") << "bob0 asked0 late" << 0 << "free";
    }
    void whoHoldsOn()
    {
        QFETCH(QString, events);
        QFETCH(int, socket);
        QFETCH(QString, hold);
        PeerBoundRules l_rules = RulesWithWork();
        qint64 l_now = 1000;
        std::string l_user = "ann";
        for (const QString& l_event : events.split(' ')) {
            const int l_index = l_event.back().isDigit() ? l_event.back().digitValue() : -1;
            if (l_event.startsWith("auth"))
                l_rules.Introduced(Socket(l_index), "ann", true);
            else if (l_event.startsWith("name"))
                l_rules.Introduced(Socket(l_index), "ann", false);
            else if (l_event.startsWith("bob")) {
                l_rules.Introduced(Socket(l_index), "bob", true);
                l_user = "bob";
            } else if (l_event.startsWith("gone"))
                l_rules.Gone(Socket(l_index));
            else if (l_event.startsWith("asked"))
                l_rules.RequestCame(Socket(l_index), l_now);
            else if (l_event.startsWith("answered"))
                l_rules.Answered(Socket(l_index));
            else if (l_event == "late")
                l_now += PeerBoundRules::AnswerOwedMs;
        }
        QCOMPARE(HoldName(l_rules.HoldOf(Socket(socket), l_user, {}, l_now)), hold);
    }

    void carryingAReplyGoesLast_data()
    {
        QTest::addColumn<bool>("unsent");
        QTest::addColumn<bool>("beingMade");
        QTest::addColumn<bool>("awaitsPeer");
        QTest::addColumn<QString>("hold");
        QTest::newRow("nothing") << false << false << false << "free";
        QTest::newRow("bytes unsent") << true << false << false << "last";
        QTest::newRow("a browse reply being made") << false << true << false << "last";
        QTest::newRow("our message not yet acted on") << false << false << true << "last";
    }
    void carryingAReplyGoesLast()
    {
        QFETCH(bool, unsent);
        QFETCH(bool, beingMade);
        QFETCH(bool, awaitsPeer);
        QFETCH(QString, hold);
        PeerBoundRules l_rules;
        QCOMPARE(HoldName(l_rules.HoldOf(Socket(0), "bob", {unsent, beingMade, awaitsPeer}, 0)), hold);
    }

    // A browse of ours is work while its answer may still come, and no
    // longer: a user who never answers is not kept for good.
    void aBrowseIsWorkForAWhile_data()
    {
        QTest::addColumn<qint64>("after");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("swept");
        QTest::addColumn<bool>("work");
        QTest::newRow("at once") << qint64(0) << false << false << true;
        QTest::newRow("just before the end") << PeerBoundRules::BrowseWorkMs - 1 << false << false << true;
        QTest::newRow("at the end") << PeerBoundRules::BrowseWorkMs << false << false << false;
        QTest::newRow("answered") << qint64(0) << true << false << false;
        QTest::newRow("swept after the end") << PeerBoundRules::BrowseWorkMs << false << true << false;
        QTest::newRow("swept before the end") << PeerBoundRules::BrowseWorkMs - 1 << false << true << true;
    }
    void aBrowseIsWorkForAWhile()
    {
        QFETCH(qint64, after);
        QFETCH(bool, answered);
        QFETCH(bool, swept);
        QFETCH(bool, work);
        PeerBoundRules l_rules;
        l_rules.BrowseAsked("bob", 5000);
        if (answered)
            l_rules.BrowseAnswered("bob");
        if (swept)
            l_rules.Sweep(5000 + after);
        QCOMPARE(l_rules.HasWorkWith("bob", 5000 + after), work);
        QVERIFY(!l_rules.HasWorkWith("", 5000));
    }

    void theAllowanceFitsWhatTheBoundLeaves_data()
    {
        QTest::addColumn<int>("softLimit");
        QTest::addColumn<int>("allowance");
        QTest::newRow("the usual 1,024") << 1024 << 60;
        QTest::newRow("far more") << 1048576 << 60;
        QTest::newRow("256") << 256 << 16;
        QTest::newRow("128") << 128 << 16;
    }
    void theAllowanceFitsWhatTheBoundLeaves()
    {
        QFETCH(int, softLimit);
        QFETCH(int, allowance);
        QCOMPARE(int(PeerConnectionBudget::AllowanceFor(std::size_t(softLimit))), allowance);
        // The rest of the client keeps three quarters of what the bound
        // leaves it.
        const std::size_t l_limit = std::min<std::size_t>(std::size_t(softLimit), 1024);
        QVERIFY(PeerConnectionBudget::BoundFor(std::size_t(softLimit)) + std::size_t(allowance) <= l_limit);
    }
};

QTEST_GUILESS_MAIN(TestPeerBoundRules)
#include "tst_peer_bound_rules.moc"
