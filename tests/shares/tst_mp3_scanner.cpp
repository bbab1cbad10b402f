// Reading MP3 files: what the frame headers decide, real encoder output
// against what the encoder was asked for, block ends, the results on the
// index, and exit in the middle of a long file.
#include "Mp3Frames.h"
#include "SharesTestWorld.h"

#include "core/log/LogService.h"
#include "shares/MP3Scanner.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QSemaphore>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace
{
const FrameHeader Cbr128;  // MPEG 1, Layer III, 128 kbit/s, 44.1 kHz, joint stereo
FrameHeader Version(int i_value, const FrameHeader& i_base = Cbr128) { return i_base.With(&FrameHeader::m_version, i_value); }
FrameHeader Rate(int i_index, const FrameHeader& i_base = Cbr128) { return i_base.With(&FrameHeader::m_bitrateIndex, i_index); }
FrameHeader Mode(int i_mode, const FrameHeader& i_base = Cbr128) { return i_base.With(&FrameHeader::m_mode, i_mode); }
constexpr qint64 Block = MP3Scanner::BlockSize;

bool WriteFile(const QString& i_path, const QByteArray& i_bytes)
{
    QFile l_file(i_path);
    return l_file.open(QIODevice::WriteOnly) && l_file.write(i_bytes) == i_bytes.size();
}

// A wait that only a hang outlasts.
constexpr int HangMs = 20000;

// The lines that said a worker was let go at the exit, logged after the
// sequence number.
QStringList LetGo(quint64 i_sequence)
{
    QStringList l_lines;
    for (const LogEntry& l_entry : GetLogHistory().AllEntries()) {
        if (l_entry.m_sequence > i_sequence && l_entry.m_line.contains("did not stop within"))
            l_lines << l_entry.m_line;
    }
    return l_lines;
}

// Version, mode, frequency index, cbr or vbr, bitrate; "" for no result.
QString Scan(const QString& i_path)
{
    MP3Scanner l_scanner;
    MP3Attributes l_found;
    if (!l_scanner.ScanMP3(i_path.toUtf8(), l_found))
        return QString();
    return QString("%1 %2 %3 %4 %5")
        .arg(l_found.m_mpegVersion)
        .arg(QString::fromStdString(MP3ChannelModeText(l_found.m_channelMode)))
        .arg(l_found.m_frequency)
        .arg(l_found.m_isVBR ? "vbr" : "cbr")
        .arg(l_found.m_bitrate);
}

// Three seconds of 16-bit samples: tones under noise whose loudness changes
// every quarter second, so that a variable-bitrate encoder varies.
QByteArray Pcm(int i_rate, int i_channels)
{
    QByteArray l_pcm;
    quint32 l_seed = 12345;
    for (int l_n = 0; l_n < 3 * i_rate; ++l_n) {
        const double l_loudness = (l_n / (i_rate / 4)) % 3 == 0 ? 0.02 : 0.6;
        for (int l_channel = 0; l_channel < i_channels; ++l_channel) {
            l_seed = l_seed * 1664525u + 1013904223u;
            const double l_tone = std::sin(2 * M_PI * (440.0 + 110.0 * l_channel) * l_n / i_rate);
            const auto l_sample = qint16(15000 * l_loudness * (l_tone + double(l_seed >> 16) / 32768.0 - 1.0));
            l_pcm.append(char(l_sample & 0xFF)).append(char(l_sample >> 8));
        }
    }
    return l_pcm;
}

// What this process has read so far.
qint64 BytesReadSoFar()
{
    QFile l_io("/proc/self/io");
    if (l_io.open(QIODevice::ReadOnly)) {
        for (const QByteArray& l_line : l_io.readAll().split('\n')) {
            if (l_line.startsWith("rchar:"))
                return l_line.mid(6).trimmed().toLongLong();
        }
    }
    return -1;
}
}  // namespace

class TestMp3Scanner : public QObject
{
    Q_OBJECT

private slots:
    void Decides_data();
    void Decides();
    void EncodedFiles_data();
    void EncodedFiles();
    void BlockEnds_data();
    void BlockEnds();
    void NeverReadsPastTheBlock();
    void ResultsReachTheIndex();
    void ExitDoesNotWaitForALongFile();
    void NamesThatAreNotUtf8AreScanned();
    void APipeIsNotWaitedFor();
    void ExitWaitsABoundedTimeForHungWorkers();

private:
    QTemporaryDir m_folder;
};

void TestMp3Scanner::Decides_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("expected");
    QTest::newRow("constant") << Frames(Cbr128, 50) << "1 joint stereo 0 cbr 128";
    QTest::newRow("99 per cent is constant") << Frames(Cbr128, 99) + Frames(Rate(11), 1) << "1 joint stereo 0 cbr 128";
    // 197 of 200 is 98 per cent in whole numbers; the mean 128.96 is cut.
    QTest::newRow("98.5 per cent is variable") << Frames(Cbr128, 197) + Frames(Rate(11), 3) << "1 joint stereo 0 vbr 128";
    QTest::newRow("variable mean") << Frames(Cbr128, 10) + Frames(Rate(11), 10) << "1 joint stereo 0 vbr 160";
    QTest::newRow("mode tie goes to joint stereo") << Frames(Mode(0), 5) + Frames(Rate(11), 5) << "1 joint stereo 0 cbr 192";
    // Only headers agreeing with every winner make the bitrate.
    QTest::newRow("losing mode's bitrates left out") << Frames(Mode(3), 3) + Frames(Rate(14, Mode(0)), 2) << "1 mono 0 cbr 128";
    QTest::newRow("dual channel, top bitrate") << Frames(Rate(14, Mode(2)), 4) << "1 dual mono 0 cbr 320";
    QTest::newRow("frequency tie goes to the higher index")
        << Frames(Cbr128, 3) + Frames(Rate(5, Cbr128.With(&FrameHeader::m_frequency, 1)), 3) << "1 joint stereo 1 cbr 64";
    QTest::newRow("protection tie goes to clear")
        << Frames(Cbr128, 2) + Frames(Rate(11, Cbr128.With(&FrameHeader::m_protectionBit, 0)), 2) << "1 joint stereo 0 cbr 192";
    QTest::newRow("MPEG 2 table, wins a tie") << Frames(Cbr128, 4) + Frames(Rate(8, Version(2)), 4) << "2 joint stereo 0 cbr 64";
    QTest::newRow("MPEG 2.5 minority") << Frames(Version(25), 2) + Frames(Cbr128, 3) << "1 joint stereo 0 cbr 128";
    QTest::newRow("reserved version counts nowhere") << Frames(Version(0), 9) + Frames(Cbr128, 1) << "1 joint stereo 0 cbr 128";
    // Free-format and invalid bitrates still count their fields.
    QTest::newRow("free format counts towards the mode")
        << Frames(Rate(0, Mode(0)), 2) + Frames(Rate(15, Mode(0)), 2) + Frames(Mode(3), 3) + Frames(Mode(0), 1) << "1 stereo 0 cbr 128";
    // FF FB 90 FF holds a second header from its fourth byte: both count,
    // and tie with the two stereo ones.
    QTest::newRow("header inside a header")
        << QByteArray::fromHex("fffb90fffb90c0") + QByteArray(8, '\0') + Frames(Rate(11, Mode(0)), 2) << "1 mono 0 cbr 128";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("MPEG 2.5 only") << Frames(Version(25), 5) << "";
    QTest::newRow("MPEG 2.5 ties MPEG 2") << Frames(Version(25), 3) + Frames(Version(2), 3) << "";
    QTest::newRow("MPEG 2.5 ties MPEG 1") << Frames(Version(25), 3) + Frames(Cbr128, 3) << "";
    // Layer I frames make MPEG 2 the version, and no Layer III header is MPEG 2.
    QTest::newRow("other layers count the version") << Frames(Version(2).With(&FrameHeader::m_layer, 1), 5) + Frames(Cbr128, 3) << "";
    QTest::newRow("winners all free format") << Frames(Rate(0, Mode(3)), 3) + Frames(Cbr128, 2) << "";
}

void TestMp3Scanner::Decides()
{
    QFETCH(QByteArray, stream);
    QVERIFY(WriteFile(m_folder.filePath("decide.mp3"), stream));
    QTEST(Scan(m_folder.filePath("decide.mp3")), "expected");
}

void TestMp3Scanner::EncodedFiles_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("expected");  // VBR: the bitrate is checked against the range asked for
    QTest::newRow("CBR 128 joint stereo 44.1 kHz") << 44100 << 2 << "-m j --cbr -b 128" << "1 joint stereo 0 cbr 128";
    QTest::newRow("CBR 64 mono") << 44100 << 1 << "-m m --cbr -b 64" << "1 mono 0 cbr 64";
    QTest::newRow("VBR 96 to 256") << 44100 << 2 << "-m j -V 2 -b 96 -B 256 -F" << "1 joint stereo 0 vbr";
    QTest::newRow("MPEG 2 22.05 kHz") << 22050 << 2 << "-m s --cbr -b 64" << "2 stereo 0 cbr 64";
    QTest::newRow("48 kHz") << 48000 << 2 << "-m s --cbr -b 192" << "1 stereo 1 cbr 192";
}

void TestMp3Scanner::EncodedFiles()
{
    const QString l_lame = QStandardPaths::findExecutable("lame");
    if (l_lame.isEmpty())
        QSKIP("the MP3 encoder 'lame' is not installed (scripts/setup.sh installs it): no real files to scan");
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QString, options);
    QFETCH(QString, expected);
    const QString l_raw = m_folder.filePath("in.raw");
    const QString l_mp3 = m_folder.filePath("out.mp3");
    QVERIFY(WriteFile(l_raw, Pcm(rate, channels)));
    const QString l_kHz = QString::number(rate / 1000.0);
    QProcess l_encoder;
    l_encoder.start(l_lame, QString("--quiet -r -s %1 --resample %1 --bitwidth 16 --signed --little-endian ").arg(l_kHz).split(' ')
                                + options.split(' ') + QStringList{l_raw, l_mp3});
    QVERIFY(l_encoder.waitForFinished(60000));
    QVERIFY2(l_encoder.exitCode() == 0, l_encoder.readAllStandardError().constData());
    const QString l_found = Scan(l_mp3);
    if (expected.endsWith("vbr"))
        QVERIFY2(l_found.startsWith(expected) && l_found.section(' ', -1).toInt() > 96 && l_found.section(' ', -1).toInt() < 256,
                 qPrintable(l_found));
    else
        QCOMPARE(l_found, expected);
}

void TestMp3Scanner::BlockEnds_data()
{
    // One header in a file of zeros: a result comes exactly when it counts.
    // Several blocks are read at a time; a block is the same either way.
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("at");
    QTest::addColumn<bool>("counted");
    QTest::newRow("whole in the first block") << 6 * Block << Block - 5 << true;
    QTest::newRow("fourth byte is the block's last") << 6 * Block << Block - 4 << false;
    QTest::newRow("sync byte is the block's last") << 6 * Block << 4 * Block - 1 << false;
    QTest::newRow("start of a block") << 6 * Block << Block << true;
    QTest::newRow("short last block, fits") << 5 * Block + 10 << 5 * Block + 5 << true;
    QTest::newRow("sync byte is the file's last") << 2 * Block + 7 << 2 * Block + 6 << false;
}

void TestMp3Scanner::BlockEnds()
{
    QFETCH(qint64, size);
    QFETCH(qint64, at);
    QByteArray l_bytes(size, '\0');
    l_bytes.replace(at, qMin<qint64>(4, size - at), Cbr128.Bytes().left(size - at));
    QVERIFY(WriteFile(m_folder.filePath("one.mp3"), l_bytes));
    QFETCH(bool, counted);
    QCOMPARE(!Scan(m_folder.filePath("one.mp3")).isEmpty(), counted);
}

void TestMp3Scanner::NeverReadsPastTheBlock()
{
    // Exactly sized, so that the sanitizer sees any read of the byte after.
    for (std::size_t l_length : {1u, 2u, 5u, 64u}) {
        std::vector<unsigned char> l_block(l_length, 0);
        l_block.back() = 0xFF;
        MP3HeaderCounter l_counter;
        l_counter.Examine(l_block.data(), l_block.size());
        MP3Attributes l_found;
        QVERIFY(!l_counter.Decide(l_found));
    }
}

void TestMp3Scanner::ResultsReachTheIndex()
{
    SharesTestWorld l_world;
    const std::string l_root = l_world.MakeFolder(std::string("M\xc3\xbcsik"));
    const QString l_folder = QString::fromStdString(l_root);
    QVERIFY(WriteFile(l_folder + "/mono.mp3", Frames(Rate(11, Mode(3)), 200)));
    QVERIFY(WriteFile(l_folder + "/mixed.MP3", Frames(Mode(0, Version(2)), 30) + Frames(Rate(13, Mode(0, Version(2))), 30)));
    QVERIFY(WriteFile(l_folder + "/silent.mp3", QByteArray(5000, '\0')));
    l_world.Share(l_root);
    QVERIFY(l_world.InitAndWait());

    auto l_stored = [&](const char* ip_name) {
        ItemPtr l_file = SharesTestWorld::FileItem(l_root, ip_name);
        QStringList l_values;
        for (const char* lp_type : {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate"})
            l_values << QString::fromStdString(l_file[lp_type].AsString());
        return l_file.IsConnected("is_scanned") ? l_values.join(' ') : QString();
    };
    QTRY_COMPARE(l_stored("mono.mp3"), QString("1 mono 0 cbr 192"));
    QTRY_COMPARE(l_stored("mixed.MP3"), QString("2 stereo 0 vbr 112"));  // (80 + 144) / 2 by the MPEG 2 table

    // Asked again after the rest, a file comes back once all before it have;
    // a later result replaces the earlier values.
    ItemPtr l_mono = SharesTestWorld::FileItem(l_root, "mono.mp3");
    l_mono.Disconnect("is_scanned");
    l_world.Shares().OnMP3Scanned(QString::fromLatin1((l_root + "/MONO.mp3").c_str()), 2, "dual mono", 1, true, 77);
    QCOMPARE(l_stored("mono.mp3"), QString("2 dual mono 1 vbr 77"));
    l_mono.Disconnect("is_scanned");
    emit l_world.Shares().MP3ScanRequired(QString::fromLatin1((l_root + "/mono.mp3").c_str()));
    QTRY_COMPARE(l_stored("mono.mp3"), QString("1 mono 0 cbr 192"));
    QCOMPARE(l_stored("silent.mp3"), QString());
    // A result for a file gone from the index changes nothing.
    const std::size_t l_items = d.ItemCount();
    l_world.Shares().OnMP3Scanned(l_folder + "/gone.mp3", 2, "stereo", 1, true, 99);
    QCOMPARE(d.ItemCount(), l_items);
    // The next rescan asks again for the one that gave nothing, and only that.
    QSignalSpy l_requests(&l_world.Shares(), &SharedFoldersManager::MP3ScanRequired);
    QVERIFY(l_world.RescanAndWait());
    QCOMPARE(l_requests.size(), 1);
    QCOMPARE(l_requests[0][0].toString(), QString::fromLatin1((l_root + "/silent.mp3").c_str()));
}

void TestMp3Scanner::ExitDoesNotWaitForALongFile()
{
    auto lp_world = std::make_unique<SharesTestWorld>();
    // Far too long to read within the test's time, and sparse, so it takes no room.
    QFile l_huge(m_folder.filePath("huge.mp3"));
    QVERIFY(l_huge.open(QIODevice::WriteOnly) && l_huge.resize(qint64(64) << 30));
    const qint64 l_before = BytesReadSoFar();
    emit lp_world->Shares().MP3ScanRequired(l_huge.fileName());
    QVERIFY(QTest::qWaitFor([&] { return BytesReadSoFar() - l_before > (qint64(64) << 20); }, 10000));
    // Stopped at the next block: the exit's bounded wait never runs out, so
    // the scanner is not let go (which is said in the log).
    const quint64 l_logAtExit = GetLogHistory().LastSequence();
    lp_world.reset();
    QCOMPARE(LetGo(l_logAtExit), QStringList());
}

// The scanner opened the path decoded as UTF-8: such a file was never read
// and asked for again at every rescan.
void TestMp3Scanner::NamesThatAreNotUtf8AreScanned()
{
    SharesTestWorld l_world;
    const std::string l_root = l_world.MakeFolder("latin");
    const std::string l_name = "caf\xe9 \xff.mp3";
    const QByteArray l_frames = Frames(Rate(11, Mode(3)), 200);
    const int l_fd = ::open((l_root + "/" + l_name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(l_fd >= 0);
    QCOMPARE(::write(l_fd, l_frames.constData(), size_t(l_frames.size())), ssize_t(l_frames.size()));
    ::close(l_fd);
    l_world.Share(l_root);
    QVERIFY(l_world.InitAndWait());
    ItemPtr l_file = SharesTestWorld::FileItem(l_root, l_name);
    QVERIFY(l_file);
    QTRY_VERIFY(l_file.IsConnected("is_scanned"));
    QCOMPARE(l_file["bitrate"].AsString(), std::string("192"));
    QSignalSpy l_requests(&l_world.Shares(), &SharedFoldersManager::MP3ScanRequired);
    QVERIFY(l_world.RescanAndWait());
    QCOMPARE(l_requests.size(), 0);
}

// A FIFO put where an MP3 file was is not read: opening it would wait for a
// writer for ever.
void TestMp3Scanner::APipeIsNotWaitedFor()
{
    const QString l_pipe = m_folder.filePath("pipe.mp3");
    QCOMPARE(::mkfifo(QFile::encodeName(l_pipe).constData(), 0644), 0);
    // A writer comes once the scan has returned, or after a wait that only a
    // hang outlasts: a scan that waited for one returns only after that.
    QSemaphore l_scanned;
    std::atomic<bool> l_writerCame{false};
    std::thread l_writer([&] {
        if (l_scanned.tryAcquire(1, HangMs))
            return;
        l_writerCame = true;
        const int l_fd = ::open(QFile::encodeName(l_pipe).constData(), O_RDWR);
        if (l_fd >= 0)
            ::close(l_fd);
    });
    const QString l_found = Scan(l_pipe);
    l_scanned.release();
    l_writer.join();
    QVERIFY2(!l_writerCame, "the scan waited for a writer");
    QCOMPARE(l_found, QString());
}

// A read of a hung network mount must not hold the exit for ever: the
// scanner and the walker are given a bounded time, then let go with their
// threads.
void TestMp3Scanner::ExitWaitsABoundedTimeForHungWorkers()
{
    auto lp_world = std::make_unique<SharesTestWorld>();
    QSemaphore l_hang;
    QSemaphore l_started;
    for (QObject* lp_worker : {static_cast<QObject*>(lp_world->Shares().Scanner()), lp_world->Shares().Walker()}) {
        QMetaObject::invokeMethod(
            lp_worker,
            [&] {
                l_started.release();
                l_hang.acquire();
            },
            Qt::QueuedConnection);
    }
    QVERIFY(l_started.tryAcquire(2, 5000));
    // The workers hang until the exit has returned, or for a wait that only
    // a hang of the exit outlasts.
    QSemaphore l_exited;
    std::atomic<bool> l_exitedFirst{false};
    std::thread l_gate([&] {
        l_exitedFirst = l_exited.tryAcquire(1, HangMs);
        l_hang.release(2);
    });
    const quint64 l_logAtExit = GetLogHistory().LastSequence();
    QElapsedTimer l_exit;
    l_exit.start();
    lp_world.reset();
    const qint64 l_took = l_exit.elapsed();
    l_exited.release();
    l_gate.join();
    QVERIFY2(l_exitedFirst, "the exit waited for the hung workers");
    // It waited the bounded time for them, then let both go alive.
    QVERIFY2(l_took >= SharedFoldersManager::ShutDownWaitMs - 100, qPrintable(QString::number(l_took)));
    QCOMPARE(LetGo(l_logAtExit).size(), 2);
    // Released, they end on their own.
    QTest::qWait(200);
}

QTEST_GUILESS_MAIN(TestMp3Scanner)
#include "tst_mp3_scanner.moc"
