// The framing and payloads of the distributed network, against bytes
// written apart from the code under test.
#include "WireBytes.h"

#include "core/io/Stream.h"
#include "dnet/DNetProtocol.h"

#include <QTest>

class TestDNetProtocol : public QObject
{
    Q_OBJECT

private slots:
    void FramesSurviveAnySplit();
    void ImpossibleLengthsAreSeenFromTheHeader();
    void CandidateListsAreBounded();
    void PayloadsFailOnShortOrOversizedFields();
};

void TestDNetProtocol::FramesSurviveAnySplit()
{
    const QByteArray l_search = WireWriter().U32(0).Str("asker").U32(7).Str("q");
    const QByteArray l_bytes = DNetMessages::Frame(3, l_search) + DNetMessages::BranchLevelFrame(-2) +
                               DNetMessages::Frame(0, QByteArray()) + DNetMessages::BranchRootFrame("top");
    // The writer's layout, byte for byte.
    QCOMPARE(DNetMessages::BranchLevelFrame(-2), QByteArray(WireWriter().U32(5).U8(4).I32(-2)));
    QCOMPARE(DNetMessages::Frame(0, QByteArray()), QByteArray(WireWriter().U32(1).U8(0)));

    for (int l_chunk : {1, 3, 7, int(l_bytes.size())}) {
        DNetFrameReader l_reader;
        QList<QPair<quint8, QByteArray>> l_frames;
        for (qsizetype l_at = 0; l_at < l_bytes.size(); l_at += l_chunk) {
            l_reader.Append(l_bytes.mid(l_at, l_chunk));
            quint8 l_code = 0;
            QByteArray l_payload;
            DNetFrameReader::Result l_result;
            while ((l_result = l_reader.Next(l_code, l_payload)) == DNetFrameReader::Result::Frame)
                l_frames.append({l_code, l_payload});
            QCOMPARE(l_result, DNetFrameReader::Result::NeedMore);
        }
        QCOMPARE(l_frames.size(), 4);
        QCOMPARE(l_frames[0], (QPair<quint8, QByteArray>{3, l_search}));
        QCOMPARE(l_frames[2], (QPair<quint8, QByteArray>{0, QByteArray()}));
        std::string l_root;
        QVERIFY(DNetMessages::ReadBranchRoot(l_frames[3].second, l_root));
        QCOMPARE(l_root, std::string("top"));
    }
}

void TestDNetProtocol::ImpossibleLengthsAreSeenFromTheHeader()
{
    quint8 l_code = 0;
    QByteArray l_payload;
    DNetFrameReader l_over;
    l_over.Append(WireWriter().U32(DNetFrameReader::MaxFrameLength + 1));
    QCOMPARE(l_over.Next(l_code, l_payload), DNetFrameReader::Result::Error);
    DNetFrameReader l_empty;
    l_empty.Append(WireWriter().U32(0).U8(3));
    QCOMPARE(l_empty.Next(l_code, l_payload), DNetFrameReader::Result::Error);
    DNetFrameReader l_limit;
    l_limit.Append(WireWriter().U32(DNetFrameReader::MaxFrameLength).U8(9));
    QCOMPARE(l_limit.Next(l_code, l_payload), DNetFrameReader::Result::NeedMore);
}

void TestDNetProtocol::CandidateListsAreBounded()
{
    std::vector<DNetCandidate> l_candidates;
    QVERIFY(DNetMessages::ReadCandidates(WireWriter().U32(2).Str("a").U32(0x7F000001).U32(2234).Str("b").U32(1).U32(2),
                                         l_candidates));
    QCOMPARE(l_candidates.size(), std::size_t(2));
    QCOMPARE(l_candidates[0].m_user, std::string("a"));
    QCOMPARE(l_candidates[0].m_address, quint32(0x7F000001));
    QCOMPARE(l_candidates[0].m_port, quint32(2234));
    QVERIFY(DNetMessages::ReadCandidates(WireWriter().U32(0), l_candidates));
    QVERIFY(l_candidates.empty());

    // A count the bytes cannot hold, a cut entry, or no count at all.
    l_candidates.push_back({"kept", 1, 1});
    QVERIFY(!DNetMessages::ReadCandidates(WireWriter().U32(0xFFFFFFFF).Str("a").U32(1).U32(2), l_candidates));
    QVERIFY(!DNetMessages::ReadCandidates(WireWriter().U32(2).Str("a").U32(1).U32(2).Str("b").U32(1), l_candidates));
    QVERIFY(!DNetMessages::ReadCandidates(QByteArray(3, '\0'), l_candidates));
    QCOMPARE(l_candidates.size(), std::size_t(1));
}

void TestDNetProtocol::PayloadsFailOnShortOrOversizedFields()
{
    DNetSearch l_search;
    QVERIFY(DNetMessages::ReadSearch(WireWriter().U32(0).Str("u").U32(5).Str("Mixed Case").Raw("tail"), l_search));
    QCOMPARE(l_search.m_query, std::string("Mixed Case"));
    QCOMPARE(l_search.m_token, quint32(5));
    // The fields end before the tail.
    QCOMPARE(l_search.m_length, qsizetype(4 + 5 + 4 + 14));
    QVERIFY(!DNetMessages::ReadSearch(WireWriter().U32(0).Str("u").U32(5), l_search));
    QVERIFY(!DNetMessages::ReadSearch(WireWriter().U32(0).U32(InputStream::MaxCount + 1).Raw(QByteArray(64, 'a')), l_search));
    qint32 l_level = 0;
    QVERIFY(!DNetMessages::ReadBranchLevel(QByteArray(3, '\0'), l_level));
    QVERIFY(!DNetMessages::ReadChildDepth(QByteArray(2, '\0')));
    quint8 l_code = 0;
    QByteArray l_payload;
    QVERIFY(!DNetMessages::ReadEmbedded(QByteArray(), l_code, l_payload));
    QVERIFY(DNetMessages::ReadEmbedded(QByteArray("\x03", 1), l_code, l_payload));
    QCOMPARE(l_code, quint8(3));
    QVERIFY(l_payload.isEmpty());
}

QTEST_GUILESS_MAIN(TestDNetProtocol)
#include "tst_dnetprotocol.moc"
