#include "core/io/ByteArrayInputStream.h"
#include "core/io/MemStream.h"
#include "core/io/Stream.h"
#include "ChildProcess.h"
#include "StreamBytes.h"

#include <QtTest>


namespace {


// A sink that refuses exactly one call (counted from 0) and accepts the rest,
// so a writer that carried on after a refusal would show up in m_calls.
class RefusingSink : public OutputStream
{
public:
    explicit RefusingSink(int i_refusedCall) : m_refusedCall(i_refusedCall) {}
    bool WriteBuffer(const void*, unsigned long) override { return m_calls++ != m_refusedCall; }
    int m_refusedCall;
    int m_calls = 0;
};

} // namespace

class TestStreams : public QObject
{
    Q_OBJECT

private slots:
    void Layouts();
    void RoundTrip();
    void StringLimit();
    void ContainerLimit();
    void NulEndsString();
    void ShortReadConsumesNothing();
    void ByteArrayStreamReadsTheArray();
    void FailingSinkStopsWrite();
    void GrowthAndPending();
    void CopiesShareBuffer();
    void DirectBufferOperations();
    void BrokenPreconditionsStop();
};

void TestStreams::Layouts()
{
    MemStream l_stream;
    QVERIFY(l_stream.Write(-2));
    QVERIFY(l_stream.Write(0x01020304u));
    QVERIFY(l_stream.Write(qint64(-3)));
    QVERIFY(l_stream.Write(quint64(0x0102030405060708ull)));
    QVERIFY(l_stream.Write(true));
    QVERIFY(l_stream.Write(false));
    QVERIFY(l_stream.Write(quint8(0xAB)));
    QVERIFY(l_stream.Write(std::string("abc")));
    QVERIFY(l_stream.Write(std::string()));
    QVERIFY(l_stream.Write("P"));
    QVERIFY(l_stream.Write(std::string("a\0b", 3)));
    QVERIFY(l_stream.Write(std::list<int>{1, -1}));
    QVERIFY(l_stream.Write(std::set<std::string>{"b", "a"}));
    QVERIFY(l_stream.Write(std::map<int, std::string>{{7, "x"}}));
    QVERIFY(l_stream.Write(std::list<std::pair<unsigned int, int>>{{2, 1}}));
    QCOMPARE(Content(l_stream).toHex(' '),
             QByteArray("fe ff ff ff 04 03 02 01 fd ff ff ff ff ff ff ff 08 07 06 05 04 03 02 01 01 00 ab "
                        "03 00 00 00 61 62 63 00 00 00 00 01 00 00 00 50 03 00 00 00 61 00 62 "
                        "02 00 00 00 01 00 00 00 ff ff ff ff "
                        "02 00 00 00 01 00 00 00 61 01 00 00 00 62 "
                        "01 00 00 00 07 00 00 00 01 00 00 00 78 "
                        "01 00 00 00 02 00 00 00 01 00 00 00"));
}

void TestStreams::RoundTrip()
{
    MemStream l_stream;
    const std::map<int, std::string> l_table{{0, "bitrate"}, {1, "length"}, {-5, ""}};
    const std::vector<quint64> l_sizes{0, 1, ~0ull};
    QVERIFY(l_stream.Write(int(0x80000000)));
    QVERIFY(l_stream.Write(0xFFFFFFFFu));
    QVERIFY(l_stream.Write(std::numeric_limits<qint64>::min()));
    QVERIFY(l_stream.Write(std::string("h\xc3\xa9llo")));
    QVERIFY(l_stream.Write(l_table));
    QVERIFY(l_stream.Write(l_sizes));
    QVERIFY(l_stream.Write(quint8(7)));

    int l_int = 0;
    unsigned int l_uint = 0;
    qint64 l_int64 = 0;
    std::string l_text;
    std::map<int, std::string> l_tableRead;
    std::vector<quint64> l_sizesRead;
    bool l_flag = false;
    QVERIFY(l_stream.Read(l_int));
    QVERIFY(l_stream.Read(l_uint));
    QVERIFY(l_stream.Read(l_int64));
    QVERIFY(l_stream.Read(l_text));
    QVERIFY(l_stream.Read(l_tableRead));
    QVERIFY(l_stream.Read(l_sizesRead));
    QVERIFY(l_stream.Read(l_flag));
    QCOMPARE(l_int, int(0x80000000));
    QCOMPARE(l_uint, 0xFFFFFFFFu);
    QCOMPARE(l_int64, std::numeric_limits<qint64>::min());
    QCOMPARE(l_text, std::string("h\xc3\xa9llo"));
    QVERIFY(l_tableRead == l_table);
    QVERIFY(l_sizesRead == l_sizes);
    QVERIFY(l_flag); // any non-zero byte reads as true
    QCOMPARE(l_stream.GetPendingReadLength(), 0);
}

void TestStreams::StringLimit()
{
    // 131072 bytes is the largest string a read accepts.
    MemStream l_stream;
    QVERIFY(l_stream.Write(std::string(131072, 'x')));
    std::string l_text;
    QVERIFY(l_stream.Read(l_text));
    QCOMPARE(l_text.size(), std::size_t(131072));

    // One byte more: the count is consumed, the target stays as it was and
    // the bytes are left for the caller to discard with the connection.
    QVERIFY(l_stream.Write(std::string(131073, 'y')));
    l_text = "before";
    QVERIFY(!l_stream.Read(l_text));
    QCOMPARE(l_text, std::string("before"));
    QCOMPARE(l_stream.GetPendingReadLength(), 131073);

    // A huge count is refused without trying to allocate it.
    MemStream l_huge = StreamOf(QByteArray::fromHex("ffffffff"));
    QVERIFY(!l_huge.Read(l_text));
    QCOMPARE(l_text, std::string("before"));
    QCOMPARE(l_huge.GetPendingReadLength(), 0);
}

void TestStreams::ContainerLimit()
{
    MemStream l_stream;
    QVERIFY(l_stream.Write(std::vector<quint8>(131072, 1)));
    std::vector<quint8> l_bytes;
    QVERIFY(l_stream.Read(l_bytes));
    QCOMPARE(l_bytes.size(), std::size_t(131072));

    std::map<int, std::string> l_table{{1, "kept"}};
    std::list<int> l_list{5};
    QVERIFY(l_stream.Write(131073u));
    QVERIFY(!l_stream.Read(l_table));
    QVERIFY(l_stream.Write(131073u));
    QVERIFY(!l_stream.Read(l_list));
    QCOMPARE(l_stream.GetPendingReadLength(), 0);
    QCOMPARE(l_table.size(), std::size_t(1));
    QCOMPARE(l_table[1], std::string("kept"));
    QCOMPARE(l_list, std::list<int>{5});

    // An accepted read replaces what the container held.
    QVERIFY(l_stream.Write(std::set<int>{3, 4}));
    std::set<int> l_set{1, 2, 3};
    QVERIFY(l_stream.Read(l_set));
    QCOMPARE(l_set, (std::set<int>{3, 4}));
}

void TestStreams::NulEndsString()
{
    MemStream l_stream = StreamOf(QByteArray("\x05\x00\x00\x00" "ab\0cd" "\x07", 10));
    std::string l_text;
    QVERIFY(l_stream.Read(l_text));
    QCOMPARE(l_text, std::string("ab"));
    // All five counted bytes were consumed, not just the text before the NUL.
    quint8 l_next = 0;
    QVERIFY(l_stream.Read(l_next));
    QCOMPARE(l_next, quint8(7));
}

void TestStreams::ShortReadConsumesNothing()
{
    MemStream l_stream = StreamOf(QByteArray::fromHex("010203"));
    int l_int = 42;
    QVERIFY(!l_stream.Read(l_int));
    QCOMPARE(l_int, 42);
    QCOMPARE(l_stream.GetPendingReadLength(), 3);

    char l_buffer[4] = {'z', 'z', 'z', 'z'};
    QVERIFY(!l_stream.ReadBuffer(l_buffer, 4));
    QCOMPARE(QByteArray(l_buffer, 4), QByteArray("zzzz"));
    QCOMPARE(l_stream.GetPendingReadLength(), 3);

    MemStream l_seven = StreamOf(QByteArray(7, '\x01'));
    qint64 l_int64 = 9;
    QVERIFY(!l_seven.Read(l_int64));
    QCOMPARE(l_int64, qint64(9));
    QCOMPARE(l_seven.GetPendingReadLength(), 7);

    // A string whose bytes are short: the count is gone, the target unchanged.
    MemStream l_string = StreamOf(QByteArray::fromHex("0a000000") + "abc");
    std::string l_text = "old";
    QVERIFY(!l_string.Read(l_text));
    QCOMPARE(l_text, std::string("old"));
    QCOMPARE(l_string.GetPendingReadLength(), 3);
}

void TestStreams::ByteArrayStreamReadsTheArray()
{
    MemStream l_written;
    QVERIFY(l_written.Write(std::string("abc")) && l_written.Write(-5) && l_written.Write(quint8(9)));
    QByteArray l_bytes = Content(l_written);
    ByteArrayInputStream l_stream(l_bytes);
    // The stream holds its own reference: the caller's array may change.
    l_bytes.fill('\0');
    std::string l_text;
    int l_int = 0;
    QVERIFY(l_stream.Read(l_text) && l_stream.Read(l_int));
    QCOMPARE(l_text, std::string("abc"));
    QCOMPARE(l_int, -5);
    QCOMPARE(l_stream.GetPendingReadLength(), 1);

    // A short read consumes nothing, as for every stream.
    qint64 l_wide = 3;
    QVERIFY(!l_stream.Read(l_wide));
    QCOMPARE(l_wide, qint64(3));
    quint8 l_byte = 0;
    QVERIFY(l_stream.Read(l_byte));
    QCOMPARE(l_byte, quint8(9));
    QVERIFY(!l_stream.Read(l_byte));
    QCOMPARE(l_stream.GetPendingReadLength(), 0);

    ByteArrayInputStream l_empty{QByteArray()};
    QVERIFY(l_empty.ReadBuffer(nullptr, 0));
    QVERIFY(!l_empty.Read(l_byte));
}

void TestStreams::FailingSinkStopsWrite()
{
    // The second element is refused: the third is never attempted.
    RefusingSink l_listSink(2);
    QVERIFY(!l_listSink.Write(std::list<int>{1, 2, 3}));
    QCOMPARE(l_listSink.m_calls, 3);

    // A refused count is not followed by the bytes.
    RefusingSink l_stringSink(0);
    QVERIFY(!l_stringSink.Write(std::string("abc")));
    QCOMPARE(l_stringSink.m_calls, 1);
}

void TestStreams::GrowthAndPending()
{
    MemStream l_stream;
    QCOMPARE(l_stream.mp_buffer->m_bufferSize, 256);
    QCOMPARE(l_stream.GetPendingReadLength(), 0);

    const QByteArray l_bytes(257, 'q');
    QVERIFY(l_stream.WriteBuffer(l_bytes.constData(), l_bytes.size()));
    QCOMPARE(l_stream.mp_buffer->m_bufferSize, 512);
    QVERIFY(l_stream.WriteBuffer(QByteArray(2000, 'r').constData(), 2000));
    QCOMPARE(l_stream.mp_buffer->m_bufferSize, 4096);
    QCOMPARE(l_stream.GetPendingReadLength(), 2257);

    char l_first[10];
    QVERIFY(l_stream.ReadBuffer(l_first, 10));
    // Neither accessor moves the read position.
    QCOMPARE(l_stream.GetPendingReadLength(), 2247);
    QVERIFY(l_stream.GetReadBuffer() == l_stream.mp_buffer->mp_buffer + 10);
    QCOMPARE(l_stream.GetPendingReadLength(), 2247);
    QCOMPARE(Content(l_stream), QByteArray(247, 'q') + QByteArray(2000, 'r'));
}

void TestStreams::CopiesShareBuffer()
{
    MemStream l_original;
    QVERIFY(l_original.Write(1));
    QVERIFY(l_original.Write(2));

    MemStream l_copy = l_original;
    int l_value = 0;
    QVERIFY(l_copy.Read(l_value));
    QCOMPARE(l_value, 1);
    // The read through the copy moved the original's position too.
    QCOMPARE(l_original.GetPendingReadLength(), 4);

    // A stream passed by value is the same stream; growth is shared as well.
    auto l_append = [](MemStream i_stream) { return i_stream.Write(std::string(1000, 'g')); };
    QVERIFY(l_append(l_original));
    QCOMPARE(l_copy.GetPendingReadLength(), 4 + 4 + 1000);
    QVERIFY(l_original.Read(l_value));
    QCOMPARE(l_value, 2);

    MemStream l_other;
    l_other = l_copy;
    QCOMPARE(l_other.mp_buffer.Get(), l_original.mp_buffer.Get());
}

void TestStreams::DirectBufferOperations()
{
    MemStream l_stream;
    char* lp_storage = l_stream.ReplaceStorage(6);
    QCOMPARE(l_stream.mp_buffer->m_bufferSize, 6);
    QVERIFY(l_stream.mp_buffer->mp_buffer == lp_storage);
    std::memcpy(lp_storage, "\x02\x00\x00\x00hi", 6);
    l_stream.CommitWritten(4);
    l_stream.CommitWritten(2);
    std::string l_text;
    QVERIFY(l_stream.Read(l_text));
    QCOMPARE(l_text, std::string("hi"));

    // A reset keeps the storage and starts over at the front.
    l_stream.ResetPositions();
    QCOMPARE(l_stream.mp_buffer->m_readIndex, 0);
    QCOMPARE(l_stream.mp_buffer->m_writeIndex, 0);
    QVERIFY(l_stream.mp_buffer->mp_buffer == lp_storage);
    QCOMPARE(l_stream.mp_buffer->m_bufferSize, 6);

    // The exact-size block still grows by doubling on an ordinary write.
    QVERIFY(l_stream.Write(std::string("abcdef")));
    QCOMPARE(l_stream.mp_buffer->m_bufferSize, 12);
    QVERIFY(l_stream.Read(l_text));
    QCOMPARE(l_text, std::string("abcdef"));

    // A zero-size block is usable too.
    MemStream l_empty;
    l_empty.ReplaceStorage(0);
    QVERIFY(l_empty.Write(7));
    int l_value = 0;
    QVERIFY(l_empty.Read(l_value));
    QCOMPARE(l_value, 7);
}

void TestStreams::BrokenPreconditionsStop()
{
    bool l_aborted = false;
    QByteArray l_output = RunInChild(
        [] {
            MemStream l_stream;
            l_stream.Write(1);
            l_stream.ReplaceStorage(10);
        },
        l_aborted);
    QVERIFY(l_aborted);
    QVERIFY2(l_output.contains("mp_buffer->m_writeIndex == 0"), l_output.constData());

    l_output = RunInChild(
        [] {
            MemStream l_stream;
            l_stream.ReplaceStorage(4);
            l_stream.CommitWritten(5);
        },
        l_aborted);
    QVERIFY(l_aborted);
    QVERIFY2(l_output.contains("mp_buffer->m_writeIndex <= mp_buffer->m_bufferSize"), l_output.constData());

    l_output = RunInChild(
        [] {
            rcptr<MemStream::Buffer> l_null;
            (void)l_null->m_bufferSize;
        },
        l_aborted);
    QVERIFY(l_aborted);
    QVERIFY2(l_output.contains("mp_object != 0"), l_output.constData());
}

QTEST_GUILESS_MAIN(TestStreams)
#include "tst_streams.moc"
