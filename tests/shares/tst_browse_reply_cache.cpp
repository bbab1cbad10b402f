// Kept browse replies: one build and one compression per set of folders
// until the share changes, requests that wait for the reply under way, the
// known-too-large answer, the bound on kept replies, and the answers owed
// when the cache goes.
#include "shares/BrowseReplyCache.h"

#include <QRandomGenerator>
#include <QtTest>

#include <map>
#include <memory>
#include <vector>

namespace
{
QByteArray Body(const MemStream& i_body)
{
    return QByteArray(i_body.mp_buffer->mp_buffer, i_body.mp_buffer->m_writeIndex);
}

// Builds a listing naming the key and how often that key was built, or,
// for the key "huge", noise that no compression brings under a frame.
struct CountingBuilder
{
    BrowseListing operator()(const BrowseReplyCache::Key& i_key)
    {
        const std::string l_name = i_key.empty() ? std::string() : i_key.front();
        const int l_count = ++(*mp_builds)[l_name];
        BrowseListing l_listing;
        if (l_name == "huge") {
            QByteArray l_noise(1100 * 1024, Qt::Uninitialized);
            QRandomGenerator l_random(3);
            for (char& l_byte : l_noise)
                l_byte = static_cast<char>(l_random.bounded(256));
            l_listing.m_payload.WriteBuffer(l_noise.constData(), static_cast<unsigned long>(l_noise.size()));
        } else {
            l_listing.m_payload.Write(l_name + "#" + std::to_string(l_count));
        }
        l_listing.m_files = static_cast<std::size_t>(l_count);
        return l_listing;
    }
    std::shared_ptr<std::map<std::string, int>> mp_builds = std::make_shared<std::map<std::string, int>>();
};

// The answers one test gets, in the order they came.
struct Answers
{
    BrowseReplyCache::Done Catch()
    {
        return [this](const BrowseReply& i_reply) { m_replies.push_back(i_reply); };
    }
    bool WaitFor(std::size_t i_count)
    {
        return QTest::qWaitFor([&] { return m_replies.size() >= i_count; }, 10000);
    }
    std::vector<BrowseReply> m_replies;
};
}  // namespace

class TestBrowseReplyCache : public QObject
{
    Q_OBJECT

private slots:
    void requestsWhileOneIsMadeShareIt()
    {
        CountingBuilder l_builder;
        BrowseReplyCache l_cache(l_builder);
        Answers l_answers;
        for (int l_n = 0; l_n < 3; ++l_n)
            l_cache.Request({"a"}, l_answers.Catch());
        // Built at once, compressed later: nobody is answered yet.
        QCOMPARE((*l_builder.mp_builds)["a"], 1);
        QVERIFY(l_answers.m_replies.empty());
        QVERIFY(l_cache.IsMaking());
        QVERIFY(l_answers.WaitFor(3));
        for (const BrowseReply& l_reply : l_answers.m_replies) {
            QCOMPARE(l_reply.m_outcome, PayloadCompression::Outcome::Built);
            QCOMPARE(Body(l_reply.m_body), Body(l_answers.m_replies.front().m_body));
        }
        QVERIFY(Body(l_answers.m_replies.front().m_body).startsWith(QByteArray::fromHex("05000000")));

        // A kept reply answers before Request returns, without a build.
        l_cache.Request({"a"}, l_answers.Catch());
        QCOMPARE(l_answers.m_replies.size(), std::size_t(4));
        QCOMPARE(Body(l_answers.m_replies.back().m_body), Body(l_answers.m_replies.front().m_body));
        QCOMPARE((*l_builder.mp_builds)["a"], 1);
    }

    void aChangeWhileMakingServesLaterRequestsFromANewBuild()
    {
        CountingBuilder l_builder;
        BrowseReplyCache l_cache(l_builder);
        Answers l_answers;
        l_cache.Request({"a"}, l_answers.Catch());
        l_cache.Invalidate();
        l_cache.Request({"a"}, l_answers.Catch());
        // The one under way is not started again while it runs.
        QCOMPARE((*l_builder.mp_builds)["a"], 1);
        QVERIFY(l_answers.WaitFor(2));
        QCOMPARE((*l_builder.mp_builds)["a"], 2);
        QVERIFY(Body(l_answers.m_replies[0].m_body) != Body(l_answers.m_replies[1].m_body));
        QCOMPARE(l_answers.m_replies[0].m_files, std::size_t(1));
        QCOMPARE(l_answers.m_replies[1].m_files, std::size_t(2));
        // Only the reply made after the change is kept.
        QCOMPARE(l_cache.KeptCount(), std::size_t(1));
        l_cache.Request({"a"}, l_answers.Catch());
        QCOMPARE(l_answers.m_replies.back().m_files, std::size_t(2));
    }

    void aTooLargeListingIsNotBuiltAgainUntilAChange()
    {
        CountingBuilder l_builder;
        BrowseReplyCache l_cache(l_builder);
        Answers l_answers;
        l_cache.Request({"huge"}, l_answers.Catch());
        QVERIFY(l_answers.WaitFor(1));
        QCOMPARE(l_answers.m_replies[0].m_outcome, PayloadCompression::Outcome::TooLarge);
        QCOMPARE(l_answers.m_replies[0].m_body.mp_buffer->m_writeIndex, 0);
        QCOMPARE(l_answers.m_replies[0].m_listingBytes, 1100 * 1024);

        l_cache.Request({"huge"}, l_answers.Catch());
        QCOMPARE(l_answers.m_replies.size(), std::size_t(2));
        QCOMPARE(l_answers.m_replies[1].m_outcome, PayloadCompression::Outcome::TooLarge);
        QCOMPARE((*l_builder.mp_builds)["huge"], 1);

        l_cache.Invalidate();
        l_cache.Request({"huge"}, l_answers.Catch());
        QCOMPARE((*l_builder.mp_builds)["huge"], 2);
        QVERIFY(l_answers.WaitFor(3));
    }

    void theOldestOfFiveSetsGoesFirst()
    {
        CountingBuilder l_builder;
        BrowseReplyCache l_cache(l_builder);
        Answers l_answers;
        const std::vector<std::string> l_sets = {"s1", "s2", "s3", "s4", "s5"};
        for (std::size_t l_n = 0; l_n < l_sets.size(); ++l_n) {
            l_cache.Request({l_sets[l_n]}, l_answers.Catch());
            QVERIFY(l_answers.WaitFor(l_n + 1));
        }
        QCOMPARE(l_cache.KeptCount(), BrowseReplyCache::KeptReplies);
        for (const char* lp_set : {"s2", "s3", "s4", "s5"}) {
            const std::string l_set = lp_set;
            l_cache.Request({l_set}, l_answers.Catch());
            QCOMPARE((*l_builder.mp_builds)[l_set], 1);
        }
        l_cache.Request({"s1"}, l_answers.Catch());
        QCOMPARE((*l_builder.mp_builds)["s1"], 2);
        QVERIFY(l_answers.WaitFor(10));
    }

    void waitingRequestsAreAnsweredWhenTheCacheGoes()
    {
        CountingBuilder l_builder;
        Answers l_answers;
        {
            BrowseReplyCache l_cache(l_builder);
            l_cache.Request({"a"}, l_answers.Catch());
            l_cache.Request({"a"}, l_answers.Catch());
        }
        QCOMPARE(l_answers.m_replies.size(), std::size_t(2));
        for (const BrowseReply& l_reply : l_answers.m_replies) {
            QVERIFY(l_reply.m_abandoned);
            QCOMPARE(l_reply.m_body.mp_buffer->m_writeIndex, 0);
        }
        // Nothing posted by the worker reaches the dead cache.
        QTest::qWait(50);
        QCOMPARE(l_answers.m_replies.size(), std::size_t(2));
    }
};

QTEST_GUILESS_MAIN(TestBrowseReplyCache)
#include "tst_browse_reply_cache.moc"
