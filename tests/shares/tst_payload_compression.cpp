// The framing of compressed replies: the code, then exactly the zlib stream
// that compress2 at level 9 makes of the payload, whatever came before.
#include "peer/PeerFrameCodec.h"
#include "shares/PayloadCompression.h"

#include <QRandomGenerator>
#include <QtTest>
#include <QtEndian>

#include <zlib.h>

namespace
{
MemStream Payload(const QByteArray& i_bytes)
{
    MemStream l_stream;
    l_stream.WriteBuffer(i_bytes.constData(), static_cast<unsigned long>(i_bytes.size()));
    return l_stream;
}

QByteArray Body(const MemStream& i_body)
{
    return QByteArray(i_body.mp_buffer->mp_buffer, i_body.mp_buffer->m_writeIndex);
}

QByteArray Expected(unsigned int i_code, const QByteArray& i_payload)
{
    uLongf l_length = compressBound(static_cast<uLong>(i_payload.size()));
    QByteArray l_stream(static_cast<qsizetype>(l_length), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(l_stream.data()), &l_length, reinterpret_cast<const Bytef*>(i_payload.constData()),
                  static_cast<uLong>(i_payload.size()), 9) != Z_OK)
        return QByteArray();
    l_stream.resize(static_cast<qsizetype>(l_length));
    QByteArray l_code(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(i_code, l_code.data());
    return l_code + l_stream;
}

QByteArray Noise(qsizetype i_size)
{
    QByteArray l_bytes(i_size, Qt::Uninitialized);
    QRandomGenerator l_random(7);
    for (char& l_byte : l_bytes)
        l_byte = static_cast<char>(l_random.bounded(256));
    return l_bytes;
}
}  // namespace

class TestPayloadCompression : public QObject
{
    Q_OBJECT

private slots:
    void SameBytesAsCompress2_data();
    void SameBytesAsCompress2();
    void TooLargeLeavesTheBodyEmpty();
};

void TestPayloadCompression::SameBytesAsCompress2_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("x");
    QTest::newRow("paths") << QByteArray("\\music\\a\\01 - one.flac\\music\\a\\02 - two.flac").repeated(300);
    QTest::newRow("noise") << Noise(200000);
}

void TestPayloadCompression::SameBytesAsCompress2()
{
    QFETCH(QByteArray, payload);
    // After other payloads too, and twice: nothing of one stream reaches the next.
    for (const QByteArray& l_before : {QByteArray(), Noise(5000), payload}) {
        MemStream l_ignored;
        PayloadCompression::Frame(1, Payload(l_before), l_ignored);
        MemStream l_body;
        QCOMPARE(PayloadCompression::Frame(9, Payload(payload), l_body), PayloadCompression::Outcome::Built);
        QCOMPARE(Body(l_body), Expected(9, payload));
    }
}

void TestPayloadCompression::TooLargeLeavesTheBodyEmpty()
{
    MemStream l_body;
    QCOMPARE(PayloadCompression::Frame(5, Payload(Noise(PeerFrameCodec::MaxBodyLength + 1)), l_body),
             PayloadCompression::Outcome::TooLarge);
    QCOMPARE(l_body.mp_buffer->m_writeIndex, 0);
    // The next payload is framed as usual.
    QCOMPARE(PayloadCompression::Frame(5, Payload("abc"), l_body), PayloadCompression::Outcome::Built);
    QCOMPARE(Body(l_body), Expected(5, "abc"));
}

QTEST_GUILESS_MAIN(TestPayloadCompression)
#include "tst_payload_compression.moc"
