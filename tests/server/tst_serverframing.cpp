// Cutting the server's byte stream into frames, and reading and writing
// message fields with bounds.
#include "HeapMeter.h"
#include "WireBytes.h"

#include "core/io/Stream.h"
#include "core/io/UserStats.h"
#include "server/ServerFrameReader.h"
#include "server/ServerMessageReader.h"
#include "server/ServerMessageWriter.h"

#include <QTest>

namespace {

// [u32 length][code of 4 or 1 bytes][payload], written by hand.
QByteArray FrameOf(int i_codeBytes, quint32 i_code, const QByteArray& i_payload)
{
    WireWriter l_frame;
    l_frame.U32(static_cast<quint32>(i_payload.size() + i_codeBytes));
    if (i_codeBytes == 4)
        l_frame.U32(i_code);
    else
        l_frame.U8(static_cast<quint8>(i_code));
    return l_frame.Raw(i_payload);
}

QByteArray Pattern(int i_size)
{
    QByteArray l_bytes(i_size, Qt::Uninitialized);
    for (int l_index = 0; l_index < i_size; ++l_index)
        l_bytes[l_index] = static_cast<char>(l_index * 7 + l_index / 251);
    return l_bytes;
}

}  // namespace

class TestServerFraming : public QObject
{
    Q_OBJECT

private slots:
    void FramesSurviveAnySplit();
    void SeveralFramesInOneChunk();
    void ImpossibleLengthsAreErrors();
    void LongFrameWithinLimitWaits();
    void PayloadKeepsTheBufferStorage_data();
    void PayloadKeepsTheBufferStorage();
    void LargePayloadReachesTheReaderUncopied();
    void WriterProducesTheWireLayout();
    void ReaderFailsOnShortPayloadAndStaysFailed();
    void ReaderRefusesOversizedStringsAndCounts();
    void ListCountLargerThanPayloadFails();
};

void TestServerFraming::FramesSurviveAnySplit()
{
    const QByteArray l_stream = WireWriter::Frame(13, WireWriter().Str("room").Str("bob").Str("hi"))
        + WireWriter::Frame(92, WireWriter().U32(77)) + WireWriter::Frame(64, QByteArray());
    // Every split point, including one byte at a time.
    for (int l_chunk = 1; l_chunk <= l_stream.size(); ++l_chunk) {
        ServerFrameReader l_reader;
        QList<quint32> l_codes;
        QList<QByteArray> l_payloads;
        for (int l_at = 0; l_at < l_stream.size(); l_at += l_chunk) {
            l_reader.Append(l_stream.mid(l_at, l_chunk));
            quint32 l_code = 0;
            QByteArray l_payload;
            ServerFrameReader::Result l_result;
            while ((l_result = l_reader.Next(l_code, l_payload)) == ServerFrameReader::Result::Frame) {
                l_codes.append(l_code);
                l_payloads.append(l_payload);
            }
            QCOMPARE(l_result, ServerFrameReader::Result::NeedMore);
        }
        QCOMPARE(l_codes, (QList<quint32>{13, 92, 64}));
        QCOMPARE(l_payloads[0], QByteArray(WireWriter().Str("room").Str("bob").Str("hi")));
        QCOMPARE(l_payloads[1], QByteArray(WireWriter().U32(77)));
        QVERIFY(l_payloads[2].isEmpty());
        QCOMPARE(l_reader.Buffered(), 0);
    }
}

void TestServerFraming::SeveralFramesInOneChunk()
{
    ServerFrameReader l_reader;
    l_reader.Append(WireWriter::Frame(1, "a") + WireWriter::Frame(2, "bc") + WireWriter::Frame(3, "def").left(10));
    quint32 l_code = 0;
    QByteArray l_payload;
    QCOMPARE(l_reader.Next(l_code, l_payload), ServerFrameReader::Result::Frame);
    QCOMPARE(l_code, 1u);
    QCOMPARE(l_payload, QByteArray("a"));
    QCOMPARE(l_reader.Next(l_code, l_payload), ServerFrameReader::Result::Frame);
    QCOMPARE(l_code, 2u);
    QCOMPARE(l_payload, QByteArray("bc"));
    QCOMPARE(l_reader.Next(l_code, l_payload), ServerFrameReader::Result::NeedMore);
    l_reader.Append("f");
    QCOMPARE(l_reader.Next(l_code, l_payload), ServerFrameReader::Result::Frame);
    QCOMPARE(l_code, 3u);
    QCOMPARE(l_payload, QByteArray("def"));
}

void TestServerFraming::ImpossibleLengthsAreErrors()
{
    quint32 l_code = 0;
    QByteArray l_payload;
    for (quint32 l_length : {0u, 3u, ServerFrameReader::MaxFrameLength + 1, 0xFFFFFFFFu}) {
        ServerFrameReader l_reader;
        l_reader.Append(WireWriter().U32(l_length).U32(5));
        QCOMPARE(l_reader.Next(l_code, l_payload), ServerFrameReader::Result::Error);
    }
    // A length of exactly 4 is a frame with a code and no payload.
    ServerFrameReader l_reader;
    l_reader.Append(WireWriter().U32(4).U32(64));
    QCOMPARE(l_reader.Next(l_code, l_payload), ServerFrameReader::Result::Frame);
    QCOMPARE(l_code, 64u);
    QVERIFY(l_payload.isEmpty());
}

void TestServerFraming::LongFrameWithinLimitWaits()
{
    ServerFrameReader l_reader;
    l_reader.Append(WireWriter().U32(ServerFrameReader::MaxFrameLength).U32(9).Raw(QByteArray(100, 'x')));
    quint32 l_code = 0;
    QByteArray l_payload;
    QCOMPARE(l_reader.Next(l_code, l_payload), ServerFrameReader::Result::NeedMore);
}

void TestServerFraming::PayloadKeepsTheBufferStorage_data()
{
    QTest::addColumn<int>("codeBytes");
    QTest::addColumn<bool>("smallFrameBefore");
    QTest::addColumn<int>("nextFrameBytesAfter");
    QTest::newRow("server frame alone") << 4 << false << 0;
    QTest::newRow("server frame after a small one") << 4 << true << 0;
    QTest::newRow("server frame, next one begun") << 4 << false << 9;
    QTest::newRow("server frame between others") << 4 << true << 3;
    QTest::newRow("distributed frame alone") << 1 << false << 0;
    QTest::newRow("distributed frame between others") << 1 << true << 6;
}

void TestServerFraming::PayloadKeepsTheBufferStorage()
{
    QFETCH(int, codeBytes);
    QFETCH(bool, smallFrameBefore);
    QFETCH(int, nextFrameBytesAfter);
    const QByteArray l_small = FrameOf(codeBytes, 5, "ab");
    const QByteArray l_big = Pattern(4096);
    const QByteArray l_next = FrameOf(codeBytes, 7, "next frame");
    const qsizetype l_bigAt = (smallFrameBefore ? l_small.size() : 0) + 4 + codeBytes;

    QByteArray l_bytes = (smallFrameBefore ? l_small : QByteArray()) + FrameOf(codeBytes, 6, l_big)
        + l_next.left(nextFrameBytesAfter);
    const char* lp_storage = l_bytes.constData();
    FrameReader l_reader(codeBytes, 1u << 20);
    l_reader.Append(std::move(l_bytes));

    quint32 l_code = 0;
    QByteArray l_payload;
    if (smallFrameBefore) {
        QCOMPARE(l_reader.Next(l_code, l_payload), FrameReader::Result::Frame);
        QCOMPARE(l_payload, QByteArray("ab"));
    }
    QByteArray l_bigPayload;
    QCOMPARE(l_reader.Next(l_code, l_bigPayload), FrameReader::Result::Frame);
    QCOMPARE(l_code, 6u);
    QCOMPARE(l_bigPayload, l_big);
    // Handed over in the bytes as they arrived, not copied out of them.
    QCOMPARE(static_cast<const void*>(l_bigPayload.constData()), static_cast<const void*>(lp_storage + l_bigAt));
    QCOMPARE(l_reader.Buffered(), nextFrameBytesAfter);

    // The stream goes on, and what follows never lands in the payload.
    l_reader.Append(l_next.mid(nextFrameBytesAfter) + FrameOf(codeBytes, 8, Pattern(100)));
    QCOMPARE(l_reader.Next(l_code, l_payload), FrameReader::Result::Frame);
    QCOMPARE(l_code, 7u);
    QCOMPARE(l_payload, QByteArray("next frame"));
    QCOMPARE(l_reader.Next(l_code, l_payload), FrameReader::Result::Frame);
    QCOMPARE(l_payload, Pattern(100));
    QCOMPARE(l_reader.Next(l_code, l_payload), FrameReader::Result::NeedMore);
    QCOMPARE(l_bigPayload, l_big);
}

void TestServerFraming::LargePayloadReachesTheReaderUncopied()
{
    if (!HeapMeter::Available())
        QSKIP("Counting the heap needs AddressSanitizer");
    const int l_fillerSize = 32 * 1024 * 1024;
    const int l_chunkSize = 64 * 1024;
    ServerFrameReader l_reader;
    {
        const QByteArray l_stream
            = WireWriter::Frame(13, WireWriter().Str("room").Str("bob").Str("hi").Raw(QByteArray(l_fillerSize, 'x')));
        // As a socket delivers them: a chunk at a time, each handed over.
        for (qsizetype l_at = 0; l_at < l_stream.size(); l_at += l_chunkSize)
            l_reader.Append(l_stream.mid(l_at, l_chunkSize));
    }

    HeapMeter l_meter;
    quint32 l_code = 0;
    QByteArray l_payload;
    QCOMPARE(l_reader.Next(l_code, l_payload), ServerFrameReader::Result::Frame);
    ServerMessageReader l_message(l_payload);
    std::string l_room, l_user, l_text;
    QVERIFY(l_message.Str(l_room).Str(l_user).Str(l_text).Ok());
    QCOMPARE(l_text, std::string("hi"));
    QCOMPARE(l_message.Remaining(), l_fillerSize);
    // A copy of the payload would cost 32 MiB.
    QVERIFY2(l_meter.Peak() < 1024 * 1024, QByteArray::number(l_meter.Peak()));
}

void TestServerFraming::WriterProducesTheWireLayout()
{
    ServerMessageWriter l_writer;
    l_writer.U8(1).U32(0x01020304).I32(-2).I64(Q_INT64_C(0x0102030405060708)).Str("ab");
    const QByteArray l_expected("\x01"
                                "\x04\x03\x02\x01"
                                "\xfe\xff\xff\xff"
                                "\x08\x07\x06\x05\x04\x03\x02\x01"
                                "\x02\x00\x00\x00"
                                "ab",
                                1 + 4 + 4 + 8 + 4 + 2);
    QCOMPARE(l_writer.Payload(), l_expected);
    QCOMPARE(ServerMessageWriter::Frame(26, "xyz"), QByteArray("\x07\x00\x00\x00\x1a\x00\x00\x00xyz", 11));
    QCOMPARE(ServerMessageWriter::Frame(92, QByteArray()), QByteArray("\x04\x00\x00\x00\x5c\x00\x00\x00", 8));
}

void TestServerFraming::ReaderFailsOnShortPayloadAndStaysFailed()
{
    ServerMessageReader l_reader(WireWriter().Str("bob").U8(1).Raw("\x02\x00"));
    std::string l_name;
    quint8 l_flag = 0;
    quint32 l_status = 7;
    QVERIFY(l_reader.Str(l_name).U8(l_flag).Ok());
    QCOMPARE(l_name, std::string("bob"));
    QCOMPARE(l_flag, quint8(1));
    QVERIFY(!l_reader.U32(l_status).Ok());
    QCOMPARE(l_status, 7u);
    // Once failed, a read that would fit fails as well.
    quint8 l_byte = 9;
    QVERIFY(!l_reader.U8(l_byte).Ok());
    QCOMPARE(l_byte, quint8(9));

    UserStats l_stats;
    ServerMessageReader l_statsReader(WireWriter().I32(5).I64(6).I32(7));
    QVERIFY(!l_statsReader.Stats(l_stats).Ok());
}

void TestServerFraming::ReaderRefusesOversizedStringsAndCounts()
{
    const quint32 l_over = InputStream::MaxCount + 1;
    std::string l_text;
    ServerMessageReader l_stringReader(WireWriter().U32(l_over).Raw(QByteArray(int(l_over), 'a')));
    QVERIFY(!l_stringReader.Str(l_text).Ok());

    std::vector<quint32> l_numbers;
    ServerMessageReader l_countReader(WireWriter().U32(l_over));
    QVERIFY(!l_countReader.U32List(l_numbers).Ok());
    QVERIFY(l_numbers.empty());

    // At the limit itself the string is read.
    ServerMessageReader l_limitReader(WireWriter().U32(InputStream::MaxCount).Raw(QByteArray(int(InputStream::MaxCount), 'b')));
    QVERIFY(l_limitReader.Str(l_text).Ok());
    QCOMPARE(l_text.size(), std::size_t(InputStream::MaxCount));
    QVERIFY(l_limitReader.AtEnd());
}

void TestServerFraming::ListCountLargerThanPayloadFails()
{
    std::vector<std::string> l_names;
    ServerMessageReader l_reader(WireWriter().U32(100000).Str("only").Str("two"));
    QVERIFY(!l_reader.StrList(l_names).Ok());

    std::vector<UserStats> l_stats;
    ServerMessageReader l_statsReader(WireWriter().U32(2).I32(1).I64(2).I32(3).I32(4));
    QVERIFY(!l_statsReader.StatsList(l_stats).Ok());

    ServerMessageReader l_good(WireWriter().U32(2).Str("a").Str("b").U32(0));
    std::vector<quint32> l_empty{1, 2};
    QVERIFY(l_good.StrList(l_names).U32List(l_empty).Ok());
    QCOMPARE(l_names, (std::vector<std::string>{"a", "b"}));
    QVERIFY(l_empty.empty());
}

QTEST_GUILESS_MAIN(TestServerFraming)
#include "tst_serverframing.moc"
