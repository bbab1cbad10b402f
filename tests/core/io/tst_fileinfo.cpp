#include "core/io/FileInfo.h"
#include "core/io/MemStream.h"
#include "core/io/UserStats.h"
#include "StreamBytes.h"

#include <QtTest>

namespace {


FileInfo MakeFile(const std::string& i_name, qint64 i_size)
{
    FileInfo l_file;
    l_file.m_name = i_name;
    l_file.m_fileSize = i_size;
    return l_file;
}

class RefusingSink : public OutputStream
{
public:
    explicit RefusingSink(int i_refusedCall) : m_refusedCall(i_refusedCall) {}
    bool WriteBuffer(const void*, unsigned long) override { return m_calls++ != m_refusedCall; }
    int m_refusedCall;
    int m_calls = 0;
};

} // namespace

class TestFileInfo : public QObject
{
    Q_OBJECT

private slots:
    void FileInfoLayoutAndRoundTrip();
    void EmptyRecordLeavesFields();
    void ShortRecordLeavesFields();
    void RefusedWriteReportsFailure();
    void AttributeMapReadTwice();
    void AttributeMapCountLimit();
    void SetOrder();
    void FileInfoMapSkipsEmptyRecords();
    void FileInfoMapRoundTrip();
    void UserStatsLayout();
};

void TestFileInfo::FileInfoLayoutAndRoundTrip()
{
    FileInfo l_file = MakeFile("a.mp3", 0x0102030405LL);
    l_file.m_attributeMap.m_extension = "mp3";
    l_file.m_attributeMap.m_map = {{0, 192}, {2, 1}, {1, -1}};

    MemStream l_stream;
    QVERIFY(l_stream.Write(l_file));
    QCOMPARE(Content(l_stream).toHex(' '),
             QByteArray("01 "
                        "05 00 00 00 61 2e 6d 70 33 "
                        "05 04 03 02 01 00 00 00 "
                        "03 00 00 00 6d 70 33 "
                        "03 00 00 00 "
                        "00 00 00 00 c0 00 00 00 "
                        "02 00 00 00 01 00 00 00 "
                        "01 00 00 00 ff ff ff ff"));

    FileInfo l_read;
    QVERIFY(l_stream.Read(l_read));
    QCOMPARE(l_read.m_name, l_file.m_name);
    QCOMPARE(l_read.m_fileSize, l_file.m_fileSize);
    QCOMPARE(l_read.m_attributeMap.m_extension, std::string("mp3"));
    QVERIFY(l_read.m_attributeMap.m_map == l_file.m_attributeMap.m_map);
    QCOMPARE(l_stream.GetPendingReadLength(), 0);
}

void TestFileInfo::EmptyRecordLeavesFields()
{
    MemStream l_stream = StreamOf(QByteArray::fromHex("00ff"));
    FileInfo l_file = MakeFile("kept", 7);
    l_file.m_attributeMap.m_map = {{1, 2}};
    bool l_present = true;
    QVERIFY(l_file.Read(l_stream, l_present));
    QVERIFY(!l_present);
    QCOMPARE(l_file.m_name, std::string("kept"));
    QCOMPARE(l_file.m_fileSize, qint64(7));
    QCOMPARE(l_file.m_attributeMap.m_map.size(), std::size_t(1));
    // Only the marker byte was taken.
    QCOMPARE(l_stream.GetPendingReadLength(), 1);
}

void TestFileInfo::ShortRecordLeavesFields()
{
    FileInfo l_source = MakeFile("song", 12345);
    l_source.m_attributeMap.m_extension = "ogg";
    l_source.m_attributeMap.m_map = {{1, 300}};
    MemStream l_full;
    QVERIFY(l_full.Write(l_source));
    const QByteArray l_bytes = Content(l_full);

    // Cut the record at every length: each read fails and leaves the target.
    for (int l_length = 0; l_length < l_bytes.size(); ++l_length) {
        MemStream l_stream = StreamOf(l_bytes.left(l_length));
        FileInfo l_file = MakeFile("old", 1);
        QVERIFY2(!l_stream.Read(l_file), qPrintable(QString::number(l_length)));
        QCOMPARE(l_file.m_name, std::string("old"));
        QCOMPARE(l_file.m_fileSize, qint64(1));
        QVERIFY(l_file.m_attributeMap.m_map.empty());
    }

    // A name above the string limit fails.
    MemStream l_long = StreamOf(QByteArray::fromHex("01" "01000200"));
    FileInfo l_file;
    QVERIFY(!l_long.Read(l_file));
}

void TestFileInfo::RefusedWriteReportsFailure()
{
    const FileInfo l_file = MakeFile("x", 1);
    // Marker, name count, name bytes, size, extension count, pair count.
    for (int l_call = 0; l_call < 6; ++l_call) {
        RefusingSink l_sink(l_call);
        QVERIFY(!l_sink.Write(l_file));
        QCOMPARE(l_sink.m_calls, l_call + 1);
    }
    UserStats l_stats;
    RefusingSink l_statsSink(1);
    QVERIFY(!l_stats.Write(l_statsSink));
    QCOMPARE(l_statsSink.m_calls, 2);
}

void TestFileInfo::AttributeMapReadTwice()
{
    AttributeMap l_first;
    l_first.m_extension = "mp3";
    l_first.m_map = {{0, 320}, {1, 200}};
    AttributeMap l_second;
    l_second.m_extension = "flac";
    l_second.m_map = {{2, 1}};
    AttributeMap l_empty;

    MemStream l_stream;
    QVERIFY(l_stream.Write(l_first));
    QVERIFY(l_stream.Write(l_second));
    QVERIFY(l_stream.Write(l_empty));

    AttributeMap l_map;
    QVERIFY(l_stream.Read(l_map));
    QVERIFY(l_map.m_map == l_first.m_map);
    QVERIFY(l_stream.Read(l_map));
    QCOMPARE(l_map.m_extension, std::string("flac"));
    QVERIFY(l_map.m_map == l_second.m_map);
    QVERIFY(l_stream.Read(l_map));
    QCOMPARE(l_map.m_extension, std::string());
    QVERIFY(l_map.m_map.empty());
}

void TestFileInfo::AttributeMapCountLimit()
{
    // Extension "", then a pair count of 131073.
    MemStream l_stream = StreamOf(QByteArray::fromHex("00000000" "01000200"));
    AttributeMap l_map;
    l_map.m_map = {{9, 9}};
    QVERIFY(!l_stream.Read(l_map));
    QVERIFY(l_map.m_map.empty());
}

void TestFileInfo::SetOrder()
{
    // Bytes compare as unsigned: a name with a byte above 0x7f sorts last.
    QVERIFY(MakeFile("z", 0) < MakeFile("\xe9", 0));
    QVERIFY(!(MakeFile("\xe9", 0) < MakeFile("z", 0)));
    // A prefix sorts before every longer name that begins with it.
    QVERIFY(MakeFile("music", 100) < MakeFile("music\\a", 1));
    QVERIFY(MakeFile("ab", 5) < MakeFile("ab\x01", 0));
    // Equal names: the smaller size first; equal name and size are one entry.
    QVERIFY(MakeFile("a", 1) < MakeFile("a", 2));
    QVERIFY(!(MakeFile("a", 2) < MakeFile("a", 1)));
    std::set<FileInfo> l_set{MakeFile("b", 1), MakeFile("a", 3), MakeFile("a", 2), MakeFile("a", 2)};
    QCOMPARE(l_set.size(), std::size_t(3));
    auto l_it = l_set.begin();
    QCOMPARE(l_it->m_fileSize, qint64(2));
    QCOMPARE((++l_it)->m_fileSize, qint64(3));
    QCOMPARE((++l_it)->m_name, std::string("b"));
}

void TestFileInfo::FileInfoMapSkipsEmptyRecords()
{
    // One folder "d" with three records: an empty one, file "f" of size 2,
    // and another empty one.
    const QByteArray l_file = QByteArray::fromHex("01" "01000000" "66" "0200000000000000" "00000000" "00000000");
    const QByteArray l_bytes = QByteArray::fromHex("01000000" "01000000" "64" "03000000") + QByteArray(1, '\0')
        + l_file + QByteArray(1, '\0');
    MemStream l_stream = StreamOf(l_bytes);
    FileInfoMap l_map;
    QVERIFY(l_stream.Read(l_map));
    QCOMPARE(l_map.size(), std::size_t(1));
    const std::set<FileInfo>& l_files = l_map["d"];
    QCOMPARE(l_files.size(), std::size_t(1));
    QCOMPARE(l_files.begin()->m_name, std::string("f"));
    QCOMPARE(l_files.begin()->m_fileSize, qint64(2));
    QCOMPARE(l_stream.GetPendingReadLength(), 0);

    // Two folders whose second holds only an empty record: it stays empty
    // and does not inherit the first folder's file.
    const QByteArray l_twoFolders = QByteArray::fromHex("02000000" "01000000" "61" "01000000") + l_file
        + QByteArray::fromHex("01000000" "62" "01000000" "00");
    MemStream l_second = StreamOf(l_twoFolders);
    QVERIFY(l_second.Read(l_map));
    QCOMPARE(l_map.size(), std::size_t(2));
    QCOMPARE(l_map["a"].size(), std::size_t(1));
    QVERIFY(l_map["b"].empty());
}

void TestFileInfo::FileInfoMapRoundTrip()
{
    FileInfoMap l_map;
    FileInfo l_song = MakeFile("song.mp3", 4000000);
    l_song.m_attributeMap.m_extension = "mp3";
    l_song.m_attributeMap.m_map = {{0, 128}};
    l_map["music"] = {l_song, MakeFile("cover.jpg", 20000)};
    l_map["music\\live"] = {};

    MemStream l_stream;
    QVERIFY(l_stream.Write(l_map));
    FileInfoMap l_read;
    QVERIFY(l_stream.Read(l_read));
    QCOMPARE(l_read.size(), std::size_t(2));
    QVERIFY(l_read["music\\live"].empty());
    QCOMPARE(l_read["music"].begin()->m_name, std::string("cover.jpg"));
    QVERIFY(l_read["music"].rbegin()->m_attributeMap.m_map == l_song.m_attributeMap.m_map);

    // A folder count above the limit fails.
    MemStream l_tooMany = StreamOf(QByteArray::fromHex("01000200"));
    QVERIFY(!l_tooMany.Read(l_read));
    // So does a file count above the limit inside a folder.
    MemStream l_tooManyFiles = StreamOf(QByteArray::fromHex("01000000" "01000000" "64" "01000200"));
    QVERIFY(!l_tooManyFiles.Read(l_read));
}

void TestFileInfo::UserStatsLayout()
{
    UserStats l_stats;
    l_stats.m_averageDownloadSpeed = 1536;
    l_stats.m_downloadCount = 0x100000000LL;
    l_stats.m_sharedFiles = -1;
    l_stats.m_sharedFolders = 3;
    MemStream l_stream;
    QVERIFY(l_stream.Write(l_stats));
    const QByteArray l_bytes = Content(l_stream);
    QCOMPARE(l_bytes.toHex(' '),
             QByteArray("00 06 00 00 00 00 00 00 01 00 00 00 ff ff ff ff 03 00 00 00"));

    UserStats l_read;
    QVERIFY(l_stream.Read(l_read));
    QCOMPARE(l_read.m_averageDownloadSpeed, 1536);
    QCOMPARE(l_read.m_downloadCount, 0x100000000LL);
    QCOMPARE(l_read.m_sharedFiles, -1);
    QCOMPARE(l_read.m_sharedFolders, 3);

    // A short record leaves the target as it was.
    MemStream l_short = StreamOf(l_bytes.left(19));
    UserStats l_untouched;
    QVERIFY(!l_short.Read(l_untouched));
    QCOMPARE(l_untouched.m_averageDownloadSpeed, 0);
    QCOMPARE(l_untouched.m_downloadCount, qint64(0));
}

QTEST_GUILESS_MAIN(TestFileInfo)
#include "tst_fileinfo.moc"
