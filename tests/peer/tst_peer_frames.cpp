// Frames, masks and first messages, byte for byte, without sockets.
#include "FakePeer.h"
#include "WireBytes.h"

#include "core/platform/RandomSource.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerFrameCodec.h"
#include "peer/PeerFrameReader.h"

#include <QIODevice>
#include <QtTest>

#include <deque>

namespace
{
// Bytes that arrive when the test says so, like a socket's.
class ByteFeed : public QIODevice
{
public:
    ByteFeed() { open(QIODevice::ReadOnly); }
    void Feed(const QByteArray& i_bytes) { m_pending += i_bytes; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_pending.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* op_data, qint64 i_max) override
    {
        const qint64 l_count = qMin<qint64>(i_max, m_pending.size());
        std::memcpy(op_data, m_pending.constData(), size_t(l_count));
        m_pending.remove(0, l_count);
        return l_count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_pending;
};

struct Outcome
{
    QList<QByteArray> m_messages;
    QList<quint32> m_tokens;
    bool m_tooLong = false;
};

// Runs the reader over what the device holds, as one readiness notification.
void ReadAll(PeerSocketBufferInfo& io_info, ByteFeed& io_feed, Outcome& io_outcome)
{
    qint64 l_available = io_feed.bytesAvailable();
    for (;;) {
        MemStream l_message;
        quint32 l_token = 0;
        switch (PeerFrameReader::Next(io_info, io_feed, l_available, l_message, l_token)) {
        case PeerReadStep::NeedMore:
            return;
        case PeerReadStep::TooLong:
        case PeerReadStep::ReadError:
            io_outcome.m_tooLong = true;
            return;
        case PeerReadStep::Token:
            io_outcome.m_tokens.append(l_token);
            io_info.m_readFileConnectionReq = false;
            continue;
        case PeerReadStep::Message:
            io_outcome.m_messages.append(QByteArray(l_message.GetReadBuffer(), l_message.GetPendingReadLength()));
            PeerFrameReader::MessageDone(io_info);
            continue;
        }
    }
}

QByteArray Bytes(std::initializer_list<int> i_bytes)
{
    QByteArray l_out;
    for (int l_byte : i_bytes)
        l_out.append(static_cast<char>(l_byte));
    return l_out;
}

QByteArray Body(int i_size, int i_seed)
{
    QByteArray l_body(i_size, Qt::Uninitialized);
    for (int l_index = 0; l_index < i_size; ++l_index)
        l_body[l_index] = static_cast<char>((l_index * 31 + i_seed) & 0xff);
    return l_body;
}

QByteArray Content(const MemStream& i_stream)
{
    return QByteArray(i_stream.mp_buffer->mp_buffer, i_stream.mp_buffer->m_writeIndex);
}
}

class TestPeerFrames : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SetRandomSource({}); }

    void plainFrameIsLengthAndBody()
    {
        QCOMPARE(PeerFrameCodec::EncodeFrame("abc", 3, false, 0), Bytes({3, 0, 0, 0, 'a', 'b', 'c'}));
        QCOMPARE(PeerFrameCodec::EncodeFrame(nullptr, 0, false, 0), Bytes({0, 0, 0, 0}));
    }

    void maskedFrameTurnsTheMaskOncePerFourBytes()
    {
        // Mask 0x80000001: turned by 1 bit 0x00000003, by 2 bits 0x00000006,
        // by 3 bits 0x0000000C. Length 5 and five zero bytes of body.
        const QByteArray l_frame = PeerFrameCodec::EncodeFrame(QByteArray(5, '\0').constData(), 5, true, 0x80000001);
        QCOMPARE(l_frame, Bytes({0x01, 0x00, 0x00, 0x80, 0x06, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x0C}));
        // A body of 1 to 3 bytes uses the mask turned by two bits only.
        QCOMPARE(PeerFrameCodec::EncodeFrame(QByteArray(3, '\0').constData(), 3, true, 0x80000001),
                 Bytes({0x01, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00}));
    }

    void maskedFramesMatchAnIndependentWriterOverEveryTurn()
    {
        // 200 bytes take the key past 32 turns, where it comes back round.
        for (quint32 l_mask : {0x9E3779B9u, 0x00000001u, 0xFFFFFFFFu, 0x12345678u}) {
            const QByteArray l_body = Body(200, int(l_mask & 0xff));
            QCOMPARE(PeerFrameCodec::EncodeFrame(l_body.constData(), quint32(l_body.size()), true, l_mask),
                     FakePeerFrames::Masked(l_body, l_mask));
        }
        // Masking twice gives the bytes back.
        QByteArray l_bytes = Body(37, 5);
        PeerFrameCodec::ApplyMask(l_bytes.data(), l_bytes.size(), 0xCAFEBABE, 4);
        QVERIFY(l_bytes != Body(37, 5));
        PeerFrameCodec::ApplyMask(l_bytes.data(), l_bytes.size(), 0xCAFEBABE, 4);
        QCOMPARE(l_bytes, Body(37, 5));
    }

    void maskBytesComeFromFourDrawsFirstDrawMostSignificant()
    {
        std::deque<quint32> l_draws{0x1AB, 0x2CD, 0x3EF, 0x401, 7, 8, 9, 10};
        SetRandomSource([&] {
            const quint32 l_next = l_draws.front();
            l_draws.pop_front();
            return l_next;
        });
        QCOMPARE(PeerFrameCodec::MakeMask(), 0xABCDEF01u);
        QCOMPARE(PeerFrameCodec::MakeMask(), 0x0708090Au);
    }

    void framesSplitAtEveryBytePositionArriveWholeAndInOrder_data()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("plain") << false;
        QTest::newRow("obfuscated") << true;
    }
    void framesSplitAtEveryBytePositionArriveWholeAndInOrder()
    {
        QFETCH(bool, obfuscated);
        const QList<QByteArray> l_bodies{Body(9, 1), Body(0, 0), Body(4, 2), Body(300, 3)};
        QByteArray l_wire;
        quint32 l_mask = 0x01234567;
        for (const QByteArray& l_body : l_bodies) {
            l_wire += obfuscated ? FakePeerFrames::Masked(l_body, l_mask) : FakePeerFrames::Plain(l_body);
            l_mask = l_mask * 2654435761u + 1;
        }
        for (int l_split = 0; l_split <= l_wire.size(); ++l_split) {
            for (int l_second = l_split; l_second <= l_wire.size(); l_second += 37) {
                PeerSocketBufferInfo l_info;
                l_info.m_obfuscated = obfuscated;
                ByteFeed l_feed;
                Outcome l_outcome;
                l_feed.Feed(l_wire.left(l_split));
                ReadAll(l_info, l_feed, l_outcome);
                l_feed.Feed(l_wire.mid(l_split, l_second - l_split));
                ReadAll(l_info, l_feed, l_outcome);
                l_feed.Feed(l_wire.mid(l_second));
                ReadAll(l_info, l_feed, l_outcome);
                QCOMPARE(l_outcome.m_messages, l_bodies);
                QVERIFY(!l_outcome.m_tooLong);
            }
        }
    }

    void fourToSevenBytesOfAnObfuscatedFrameConsumeNothing()
    {
        const QByteArray l_wire = FakePeerFrames::Masked("hello", 0xA5A5A5A5);
        for (int l_count = 0; l_count < 8; ++l_count) {
            PeerSocketBufferInfo l_info;
            l_info.m_obfuscated = true;
            ByteFeed l_feed;
            Outcome l_outcome;
            l_feed.Feed(l_wire.left(l_count));
            ReadAll(l_info, l_feed, l_outcome);
            QCOMPARE(l_feed.bytesAvailable(), qint64(l_count));
            QVERIFY(!l_info.m_messageLengthRead);
            l_feed.Feed(l_wire.mid(l_count));
            ReadAll(l_info, l_feed, l_outcome);
            QCOMPARE(l_outcome.m_messages, QList<QByteArray>{"hello"});
        }
    }

    void bodiesUpToOneMebibyteAreAcceptedLongerOnesRefused_data()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("plain") << false;
        QTest::newRow("obfuscated") << true;
    }
    void bodiesUpToOneMebibyteAreAcceptedLongerOnesRefused()
    {
        QFETCH(bool, obfuscated);
        const QByteArray l_largest = Body(1048576, 9);
        PeerSocketBufferInfo l_info;
        l_info.m_obfuscated = obfuscated;
        ByteFeed l_feed;
        Outcome l_outcome;
        l_feed.Feed(obfuscated ? FakePeerFrames::Masked(l_largest, 77) : FakePeerFrames::Plain(l_largest));
        ReadAll(l_info, l_feed, l_outcome);
        QCOMPARE(l_outcome.m_messages.size(), 1);
        QVERIFY(l_outcome.m_messages.front() == l_largest);
        QVERIFY(!l_outcome.m_tooLong);

        // One byte more is refused as soon as its length is read: the body is
        // not waited for.
        const QByteArray l_tooLong = obfuscated ? FakePeerFrames::Masked(Body(1048577, 1), 78)
                                                : FakePeerFrames::Plain(Body(1048577, 1));
        l_feed.Feed(l_tooLong.left(obfuscated ? 8 : 4));
        ReadAll(l_info, l_feed, l_outcome);
        QVERIFY(l_outcome.m_tooLong);
        QCOMPARE(l_outcome.m_messages.size(), 1);
    }

    // The length is only the peer's word: a body announced at the limit and
    // sent a little at a time holds no more than has arrived (at most twice
    // that, as the storage doubles), and still arrives whole.
    void theBodyStorageGrowsOnlyWithTheBytesReceived_data()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("plain") << false;
        QTest::newRow("obfuscated") << true;
    }
    void theBodyStorageGrowsOnlyWithTheBytesReceived()
    {
        QFETCH(bool, obfuscated);
        const QByteArray l_body = Body(1048576, 5);
        const QByteArray l_wire = obfuscated ? FakePeerFrames::Masked(l_body, 0x0BADF00D) : FakePeerFrames::Plain(l_body);
        const int l_header = obfuscated ? 8 : 4;
        PeerSocketBufferInfo l_info;
        l_info.m_obfuscated = obfuscated;
        ByteFeed l_feed;
        Outcome l_outcome;
        l_feed.Feed(l_wire.left(l_header + 1));
        ReadAll(l_info, l_feed, l_outcome);
        QVERIFY(l_info.m_messageLengthRead);
        QVERIFY(l_info.m_readBuffer.mp_buffer->m_bufferSize <= MemStream::InitialSize);

        int l_at = l_header + 1;
        for (int l_step = 1; l_at < l_wire.size(); l_step = l_step * 3 + 7) {
            const int l_count = qMin<int>(l_step, int(l_wire.size()) - l_at);
            l_feed.Feed(l_wire.mid(l_at, l_count));
            l_at += l_count;
            ReadAll(l_info, l_feed, l_outcome);
            if (l_at < l_wire.size()) {
                const qint32 l_received = l_at - l_header;
                QVERIFY(l_outcome.m_messages.isEmpty());
                QVERIFY2(l_info.m_readBuffer.mp_buffer->m_bufferSize <= qMax<qint32>(MemStream::InitialSize, 2 * l_received),
                         qPrintable(QString("%1 bytes held for %2 received")
                                        .arg(l_info.m_readBuffer.mp_buffer->m_bufferSize)
                                        .arg(l_received)));
            }
        }
        QCOMPARE(l_outcome.m_messages.size(), 1);
        QVERIFY(l_outcome.m_messages.front() == l_body);
        QVERIFY(!l_outcome.m_tooLong);
    }

    // Storage beyond a small working size is given back once a message has
    // been handled: a connection that once took a large message holds
    // little while it idles. Up to that size it is kept for the next one.
    void largeMessagesGiveTheirStorageBack_data()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("piece");  // bytes per delivery
        const int l_kept = PeerFrameReader::KeptStorage;
        const int l_whole = 1 << 30;
        for (const bool l_obfuscated : {false, true}) {
            const char* lp_kind = l_obfuscated ? "obfuscated" : "plain";
            QTest::addRow("%s, small", lp_kind) << l_obfuscated << 100 << l_whole;
            QTest::addRow("%s, at the working size", lp_kind) << l_obfuscated << l_kept << l_whole;
            QTest::addRow("%s, one byte over", lp_kind) << l_obfuscated << l_kept + 1 << l_whole;
            QTest::addRow("%s, 1 MiB at once", lp_kind) << l_obfuscated << 1048576 << l_whole;
            QTest::addRow("%s, 1 MiB in pieces", lp_kind) << l_obfuscated << 1048576 << 4000;
        }
    }
    void largeMessagesGiveTheirStorageBack()
    {
        QFETCH(bool, obfuscated);
        QFETCH(int, size);
        QFETCH(int, piece);
        const auto l_wire = [obfuscated](const QByteArray& i_body) {
            return obfuscated ? FakePeerFrames::Masked(i_body, 0x2468ACE0) : FakePeerFrames::Plain(i_body);
        };
        const auto l_capacity = [](const PeerSocketBufferInfo& i_info) { return i_info.m_readBuffer.mp_buffer->m_bufferSize; };
        PeerSocketBufferInfo l_info;
        l_info.m_obfuscated = obfuscated;
        ByteFeed l_feed;
        Outcome l_outcome;
        const QByteArray l_body = Body(size, 3);
        const QByteArray l_bytes = l_wire(l_body);
        for (qsizetype l_at = 0; l_at < l_bytes.size(); l_at += piece) {
            l_feed.Feed(l_bytes.mid(l_at, piece));
            ReadAll(l_info, l_feed, l_outcome);
        }
        QCOMPARE(l_outcome.m_messages.size(), 1);
        QVERIFY(l_outcome.m_messages.front() == l_body);
        QVERIFY2(l_capacity(l_info) <= PeerFrameReader::KeptStorage, qPrintable(QString::number(l_capacity(l_info))));
        if (size <= PeerFrameReader::KeptStorage)
            QVERIFY(l_capacity(l_info) >= size);

        // The next message is read as well and leaves no more behind.
        l_feed.Feed(l_wire("after"));
        ReadAll(l_info, l_feed, l_outcome);
        QCOMPARE(l_outcome.m_messages.size(), 2);
        QCOMPARE(l_outcome.m_messages.back(), QByteArray("after"));
        QVERIFY(l_capacity(l_info) <= PeerFrameReader::KeptStorage);
        QVERIFY(!l_outcome.m_tooLong);
    }

    void anEmptyFrameIsDeliveredAtOnce()
    {
        PeerSocketBufferInfo l_info;
        ByteFeed l_feed;
        Outcome l_outcome;
        l_feed.Feed(FakePeerFrames::Plain({}));
        ReadAll(l_info, l_feed, l_outcome);
        QCOMPARE(l_outcome.m_messages, QList<QByteArray>{QByteArray()});
    }

    void theTransferTokenIsTakenRawAndNothingAfterIt()
    {
        // After an obfuscated first message the token still comes unmasked.
        PeerSocketBufferInfo l_info;
        l_info.m_obfuscated = true;
        ByteFeed l_feed;
        l_feed.Feed(FakePeerFrames::Masked("first", 0x55AA55AA) + Bytes({0x78, 0x56, 0x34, 0x12}) + "tail");
        qint64 l_available = l_feed.bytesAvailable();
        MemStream l_message;
        quint32 l_token = 0;
        QCOMPARE(PeerFrameReader::Next(l_info, l_feed, l_available, l_message, l_token), PeerReadStep::Message);
        QCOMPARE(QByteArray(l_message.GetReadBuffer(), l_message.GetPendingReadLength()), QByteArray("first"));
        PeerFrameReader::MessageDone(l_info);
        l_info.m_readFileConnectionReq = true;
        QCOMPARE(PeerFrameReader::Next(l_info, l_feed, l_available, l_message, l_token), PeerReadStep::Token);
        QCOMPARE(l_token, 0x12345678u);
        QCOMPARE(l_feed.readAll(), QByteArray("tail"));

        // Three bytes of a token wait for the fourth.
        PeerSocketBufferInfo l_waiting;
        l_waiting.m_readFileConnectionReq = true;
        l_feed.Feed(Bytes({1, 2, 3}));
        l_available = l_feed.bytesAvailable();
        QCOMPARE(PeerFrameReader::Next(l_waiting, l_feed, l_available, l_message, l_token), PeerReadStep::NeedMore);
        QCOMPARE(l_feed.bytesAvailable(), qint64(3));
    }

    void directFirstMessageLayout()
    {
        QCOMPARE(Content(PeerFirstMessage::MakeDirect("me", "P")),
                 Bytes({1, 2, 0, 0, 0, 'm', 'e', 1, 0, 0, 0, 'P', 0, 0, 0, 0}));
        QCOMPARE(Content(PeerFirstMessage::MakeIndirect(0x01020304)), Bytes({0, 4, 3, 2, 1}));
    }

    void firstMessagesAreReadInBothForms()
    {
        auto l_read = [](const QByteArray& i_body) {
            MemStream l_stream;
            l_stream.WriteBuffer(i_body.constData(), static_cast<unsigned long>(i_body.size()));
            return PeerFirstMessage::Read(l_stream);
        };
        using Kind = PeerFirstMessage::Kind;

        PeerFirstMessage::Parsed l_parsed = l_read(WireWriter().U8(1).Str("bob").Str("F").I32(-5).Raw("extra"));
        QCOMPARE(l_parsed.m_kind, Kind::Direct);
        QCOMPARE(l_parsed.m_user, std::string("bob"));
        QCOMPARE(l_parsed.m_connectionType, std::string("F"));
        // Any direction but 0 is the direct form; an empty name is a name.
        l_parsed = l_read(WireWriter().U8(2).Str("").Str("P").U32(0));
        QCOMPARE(l_parsed.m_kind, Kind::Direct);
        QCOMPARE(l_parsed.m_user, std::string());
        // A name ends at its first NUL.
        l_parsed = l_read(WireWriter().U8(1).Str(std::string("bo\0b", 4)).Str("D").U32(0));
        QCOMPARE(l_parsed.m_user, std::string("bo"));

        QCOMPARE(l_read({}).m_kind, Kind::NoDirection);
        QCOMPARE(l_read(WireWriter().U8(1).Str("bob").Str("P")).m_kind, Kind::DirectUnreadable);
        QCOMPARE(l_read(WireWriter().U8(1).U32(131073).Raw(QByteArray(131073, 'a'))).m_kind, Kind::DirectUnreadable);
        QCOMPARE(l_read(WireWriter().U8(1).U32(10).Raw("short")).m_kind, Kind::DirectUnreadable);

        l_parsed = l_read(WireWriter().U8(0).U32(4000000000u));
        QCOMPARE(l_parsed.m_kind, Kind::Indirect);
        QCOMPARE(l_parsed.m_token, 4000000000u);
        QCOMPARE(l_read(Bytes({0, 1, 2, 3})).m_kind, Kind::IndirectUnreadable);
    }
};

QTEST_GUILESS_MAIN(TestPeerFrames)
#include "tst_peer_frames.moc"
