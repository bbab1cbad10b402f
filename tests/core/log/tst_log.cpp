#include "core/log/Log.h"
#include "core/log/LogFileWriter.h"
#include "core/log/LogLine.h"
#include "core/log/LogService.h"
#include "core/store/Data.h"

#include <QtTest>

namespace
{
QStringList ReadLines(const QString& i_path)
{
    QFile l_file(i_path);
    if (!l_file.open(QIODevice::ReadOnly))
        return {};
    QStringList l_lines = QString::fromUtf8(l_file.readAll()).split('\n');
    if (!l_lines.isEmpty() && l_lines.last().isEmpty())
        l_lines.removeLast();
    return l_lines;
}

// Receives lines on the thread it lives on.
class LineCatcher : public QObject
{
    Q_OBJECT

public:
    QList<LogEntry> m_entries;
    QList<QThread*> m_threads;

public slots:
    void OnLineLogged(const LogEntry& i_entry)
    {
        m_entries.append(i_entry);
        m_threads.append(QThread::currentThread());
    }
};

const QRegularExpression g_lineShape(R"(^\[([^\]]+)\] (.*)$)");
}

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void missingFolderMeansNoFileAndNoError();
    void lineFormatIndentsThreeSpacesPerLevel();
    void headerOncePerAreaAndRun();
    void areaNamesStayInsideTheFolder();
    void filesAreCappedKeepingOneOlderFile();
    void fileOverTheCapFromAnEarlierRunIsMovedAside();
    void aFileGoneWhileLoggingIsMadeAnewAfterAMinute_data();
    void aFileGoneWhileLoggingIsMadeAnewAfterAMinute();
    void linesFromManyThreadsStayWhole();
    void linesFromAnotherThreadArriveOnTheGuiThread();
    void historyIsBoundedPerArea();
    void itemHistoryFollowsTheItem();
    void itemHistoryIsBounded();
    void droppingItemsFollowsForgetAndWatch();
    void itemHistoryIsBoundedInBytes();

private:
    QTemporaryDir m_home;
};

void TestLog::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path() + "/data"));
}

void TestLog::missingFolderMeansNoFileAndNoError()
{
    // The default folder, before anything made it: nothing appears on disk.
    const QString l_defaultFolder = m_home.path() + "/data/kestrune-client/kstr-client-logs";
    Log("server", 1, "Connecting", ItemPtr());
    Log("Peer Messenger", 2, "no folder yet", ItemPtr());
    QVERIFY(!QFileInfo::exists(l_defaultFolder));
    QVERIFY(!QFileInfo::exists(m_home.path() + "/data"));
    QCOMPARE(GetLogHistory().AreaEntries("server").size(), std::size_t(1));

    // Once the user makes the folder, the next line goes to a file.
    QVERIFY(QDir().mkpath(l_defaultFolder));
    Log("server", 1, "Connected", ItemPtr());
    const QStringList l_lines = ReadLines(l_defaultFolder + "/server.log");
    QCOMPARE(l_lines.size(), 2);
    QVERIFY(l_lines[0].startsWith("* Logging started at "));
    QVERIFY(l_lines[1].endsWith("] Connected"));
    QVERIFY(!QFileInfo::exists(l_defaultFolder + "/Peer Messenger.log"));

    // A folder that vanishes while running stops the files, quietly.
    QVERIFY(QDir(l_defaultFolder).removeRecursively());
    Log("server", 1, "after the folder went", ItemPtr());
    QVERIFY(!QFileInfo::exists(l_defaultFolder));
}

void TestLog::lineFormatIndentsThreeSpacesPerLevel()
{
    const QDateTime l_time(QDate(2011, 10, 18), QTime(21, 5, 9));
    const QString l_stamp = "[" + l_time.toString(Qt::TextDate) + "] ";
    QCOMPARE(FormatLogLine(l_time, 1, "text"), l_stamp + "text");
    QCOMPARE(FormatLogLine(l_time, 2, "text"), l_stamp + "   text");
    QCOMPARE(FormatLogLine(l_time, 3, "text"), l_stamp + "      text");
    QCOMPARE(FormatLogLine(l_time, 0, "text"), l_stamp + "text");
    QCOMPARE(FormatLogLine(l_time, -5, "text"), l_stamp + "text");
    QCOMPARE(FormatLogLine(l_time, 1, QString()), l_stamp);
    QCOMPARE(FormatLogHeader(l_time), "* Logging started at " + l_time.toString(Qt::TextDate));

    // The same through Log, into the file.
    QTemporaryDir l_folder;
    SetLogFolder(l_folder.path());
    Log("Distributed Network", 3, "child accepted", ItemPtr());
    const QStringList l_lines = ReadLines(l_folder.path() + "/Distributed Network.log");
    QCOMPARE(l_lines.size(), 2);
    const QRegularExpressionMatch l_match = g_lineShape.match(l_lines[1]);
    QVERIFY2(l_match.hasMatch(), qPrintable(l_lines[1]));
    QCOMPARE(l_match.captured(2), QString("      child accepted"));
    QVERIFY(QDateTime::fromString(l_match.captured(1), Qt::TextDate).isValid());
}

void TestLog::headerOncePerAreaAndRun()
{
    QTemporaryDir l_folder;
    const QDateTime l_time = QDateTime::currentDateTime();
    {
        LogFileWriter l_run(l_folder.path());
        l_run.Append("server", "[t] one", l_time);
        l_run.Append("server", "[t] two", l_time);
        l_run.Append("Transfer Queue", "[t] queued", l_time);
        l_run.Append("server", "[t] three", l_time);
    }
    const QString l_header = FormatLogHeader(l_time);
    QCOMPARE(ReadLines(l_folder.path() + "/server.log"),
             QStringList({l_header, "[t] one", "[t] two", "[t] three"}));
    QCOMPARE(ReadLines(l_folder.path() + "/Transfer Queue.log"), QStringList({l_header, "[t] queued"}));

    // The next run appends, with a header of its own.
    LogFileWriter l_nextRun(l_folder.path());
    l_nextRun.Append("server", "[t] four", l_time);
    QCOMPARE(ReadLines(l_folder.path() + "/server.log"),
             QStringList({l_header, "[t] one", "[t] two", "[t] three", l_header, "[t] four"}));
}

void TestLog::areaNamesStayInsideTheFolder()
{
    QTemporaryDir l_parent;
    const QString l_folder = l_parent.path() + "/logs";
    QVERIFY(QDir().mkpath(l_folder));
    LogFileWriter l_writer(l_folder);
    l_writer.Append("../escape", "x", QDateTime::currentDateTime());
    l_writer.Append("..", "x", QDateTime::currentDateTime());
    l_writer.Append("", "x", QDateTime::currentDateTime());
    QCOMPARE(QDir(l_parent.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(QDir(l_folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
    QVERIFY(QFileInfo::exists(l_folder + "/.._escape.log"));
}

void TestLog::filesAreCappedKeepingOneOlderFile()
{
    QTemporaryDir l_folder;
    const QString l_path = l_folder.path() + "/server.log";
    QFile l_stale(l_path + ".1");
    QVERIFY(l_stale.open(QIODevice::WriteOnly));
    l_stale.write("from long ago\n");
    l_stale.close();

    constexpr qint64 Cap = 300;
    const QDateTime l_time = QDateTime::currentDateTime();
    const QString l_header = FormatLogHeader(l_time);
    LogFileWriter l_writer(l_folder.path(), Cap);
    constexpr int LineCount = 200;
    for (int l_index = 0; l_index < LineCount; ++l_index) {
        l_writer.Append("server", QString("[t] line %1").arg(l_index), l_time);
        QVERIFY2(QFileInfo(l_path).size() <= Cap, qPrintable(QString::number(l_index)));
    }
    l_writer.Append("Transfer Queue", "[t] queued", l_time);

    // Both files begin like a new log file; together they end with the
    // newest lines, none lost between them, and nothing older is kept.
    const QStringList l_older = ReadLines(l_path + ".1");
    const QStringList l_current = ReadLines(l_path);
    QVERIFY(l_older.size() > 2);
    QVERIFY(l_current.size() > 1);
    QCOMPARE(l_older.first(), l_header);
    QCOMPARE(l_current.first(), l_header);
    QStringList l_lines = l_older.mid(1) + l_current.mid(1);
    for (int l_index = 0; l_index < l_lines.size(); ++l_index)
        QCOMPARE(l_lines[l_index], QString("[t] line %1").arg(LineCount - l_lines.size() + l_index));
    QVERIFY(QFileInfo(l_path + ".1").size() <= Cap);
    // A file is only moved aside when the next line no longer fits.
    QVERIFY(QFileInfo(l_path + ".1").size() + l_current[1].size() + 1 > Cap);
    QCOMPARE(QDir(l_folder.path()).entryList(QDir::Files, QDir::Name),
             QStringList({"Transfer Queue.log", "server.log", "server.log.1"}));
    QCOMPARE(ReadLines(l_folder.path() + "/Transfer Queue.log"), QStringList({l_header, "[t] queued"}));
}

void TestLog::fileOverTheCapFromAnEarlierRunIsMovedAside()
{
    QTemporaryDir l_folder;
    const QString l_path = l_folder.path() + "/server.log";
    const QByteArray l_earlier(500, 'x');
    QFile l_file(l_path);
    QVERIFY(l_file.open(QIODevice::WriteOnly));
    l_file.write(l_earlier);
    l_file.close();

    const QDateTime l_time = QDateTime::currentDateTime();
    LogFileWriter l_writer(l_folder.path(), 100);
    l_writer.Append("server", "[t] first of this run", l_time);
    QFile l_kept(l_path + ".1");
    QVERIFY(l_kept.open(QIODevice::ReadOnly));
    QCOMPARE(l_kept.readAll(), l_earlier);
    QCOMPARE(ReadLines(l_path), QStringList({FormatLogHeader(l_time), "[t] first of this run"}));
}

// "gone": how the file leaves its path between two lines; "after": how long
// after the file was opened the next line comes. "atPath" and "moved" are the
// lines then in the file at the area's path and in the one moved away.
void TestLog::aFileGoneWhileLoggingIsMadeAnewAfterAMinute_data()
{
    QTest::addColumn<QString>("gone");
    QTest::addColumn<qint64>("after");
    QTest::addColumn<QStringList>("atPath");
    QTest::addColumn<QStringList>("moved");
    const QStringList l_none;
    const QStringList l_anew{"[t] after", "[t] later"};
    const QStringList l_kept{"[t] before", "[t] before"};
    QTest::newRow("deleted, just under a minute") << "deleted" << qint64(59999) << l_none << l_none;
    QTest::newRow("deleted, a minute on") << "deleted" << qint64(60000) << l_anew << l_none;
    QTest::newRow("moved away, just under a minute") << "moved" << qint64(59999) << l_none << l_kept + l_anew;
    QTest::newRow("moved away, a minute on") << "moved" << qint64(60000) << l_anew << l_kept;
}

void TestLog::aFileGoneWhileLoggingIsMadeAnewAfterAMinute()
{
    QFETCH(QString, gone);
    QFETCH(qint64, after);
    QFETCH(QStringList, atPath);
    QFETCH(QStringList, moved);
    QTemporaryDir l_folder;
    const QString l_path = l_folder.path() + "/server.log";
    const QString l_movedPath = l_folder.path() + "/kept.log";
    const QDateTime l_time = QDateTime::currentDateTime();
    LogFileWriter l_writer(l_folder.path());
    const qint64 l_opened = 5000;
    qint64 l_now = l_opened;
    l_writer.SetClock([&l_now] { return l_now; });
    // Lines within the minute do not look for the file.
    l_writer.Append("server", "[t] before", l_time);
    l_now += 30000;
    l_writer.Append("server", "[t] before", l_time);
    QCOMPARE(l_writer.ExistenceChecks(), 0);
    QVERIFY(gone == "deleted" ? QFile::remove(l_path) : QFile::rename(l_path, l_movedPath));

    l_now = l_opened + after;
    l_writer.Append("server", "[t] after", l_time);
    l_writer.Append("server", "[t] later", l_time);
    QCOMPARE(ReadLines(l_path), atPath);
    const QStringList l_moved = ReadLines(l_movedPath);
    QCOMPARE(l_moved.mid(1), moved);
    QCOMPARE(l_writer.ExistenceChecks(), after < LogFileWriter::ExistenceCheckIntervalMs ? 0 : 1);
}

void TestLog::linesFromManyThreadsStayWhole()
{
    QTemporaryDir l_folder;
    SetLogFolder(l_folder.path());
    constexpr int ThreadCount = 4;
    constexpr int LinesPerThread = 500;
    QList<QThread*> l_threads;
    for (int l_thread = 0; l_thread < ThreadCount; ++l_thread) {
        l_threads.append(QThread::create([l_thread] {
            for (int l_index = 0; l_index < LinesPerThread; ++l_index)
                Log("MP3 Scanning", 2, QString("thread %1 line %2").arg(l_thread).arg(l_index), ItemPtr());
        }));
        l_threads.last()->start();
    }
    for (QThread* lp_thread : l_threads) {
        QVERIFY(lp_thread->wait(30000));
        delete lp_thread;
    }
    const QStringList l_lines = ReadLines(l_folder.path() + "/MP3 Scanning.log");
    QCOMPARE(l_lines.size(), 1 + ThreadCount * LinesPerThread);
    QVERIFY(l_lines[0].startsWith("* Logging started at "));
    const QRegularExpression l_whole(R"(^\[[^\]]+\]    thread \d line \d+$)");
    QMap<int, int> l_next;
    for (int l_index = 1; l_index < l_lines.size(); ++l_index) {
        QVERIFY2(l_whole.match(l_lines[l_index]).hasMatch(), qPrintable(l_lines[l_index]));
        // Each thread's lines keep their order.
        const QStringList l_words = l_lines[l_index].split(' ');
        const int l_thread = l_words[l_words.size() - 3].toInt();
        QCOMPARE(l_words.last().toInt(), l_next[l_thread]);
        ++l_next[l_thread];
    }
}

void TestLog::linesFromAnotherThreadArriveOnTheGuiThread()
{
    SetLogFolder(QString());
    LineCatcher l_catcher;
    connect(GetLogNotifier(), &LogNotifier::LineLogged, &l_catcher, &LineCatcher::OnLineLogged,
            Qt::QueuedConnection);
    QThread* lp_worker = QThread::create([] { Log("UPnP", 1, "mapping renewed", ItemPtr()); });
    lp_worker->start();
    QVERIFY(lp_worker->wait(10000));
    delete lp_worker;
    QTRY_COMPARE(l_catcher.m_entries.size(), 1);
    QCOMPARE(l_catcher.m_threads.first(), QThread::currentThread());
    QCOMPARE(l_catcher.m_entries.first().m_area, QString("UPnP"));
    QVERIFY(l_catcher.m_entries.first().m_line.endsWith("] mapping renewed"));
    QCOMPARE(l_catcher.m_entries.first().m_item, quintptr(0));
}

void TestLog::historyIsBoundedPerArea()
{
    SetLogFolder(QString());
    const int l_extra = 25;
    for (int l_index = 0; l_index < LogHistory::MaxLinesPerArea + l_extra; ++l_index)
        Log("Bounded", 1, QString::number(l_index), ItemPtr());
    const std::vector<LogEntry> l_kept = GetLogHistory().AreaEntries("Bounded");
    QCOMPARE(int(l_kept.size()), LogHistory::MaxLinesPerArea);
    QVERIFY(l_kept.front().m_line.endsWith("] " + QString::number(l_extra)));
    QVERIFY(l_kept.back().m_line.endsWith("] " + QString::number(LogHistory::MaxLinesPerArea + l_extra - 1)));
    QVERIFY(l_kept.front().m_sequence < l_kept.back().m_sequence);
}

void TestLog::itemHistoryFollowsTheItem()
{
    SetLogFolder(QString());
    Type* lp_type = d.NewType("log_test_user", true, false, true);
    ItemPtr l_alice = lp_type->NewItem("alice");
    ItemPtr l_bob = lp_type->NewItem("bob");
    const quintptr l_aliceKey = reinterpret_cast<quintptr>(l_alice.Get());

    Log("server", 1, "alice is online", l_alice);
    Log("Peer Messenger", 2, "alice browsed", l_alice);
    Log("server", 1, "bob is online", l_bob);
    Log("server", 1, "no one in particular", ItemPtr());

    const std::vector<LogEntry> l_entries = GetLogHistory().ItemEntries(l_aliceKey);
    QCOMPARE(l_entries.size(), std::size_t(2));
    QCOMPARE(l_entries[0].m_area, QString("server"));
    QVERIFY(l_entries[0].m_line.endsWith("] alice is online"));
    QCOMPARE(l_entries[1].m_area, QString("Peer Messenger"));
    QVERIFY(l_entries[1].m_line.endsWith("]    alice browsed"));

    // The store reuses addresses: a removed item's lines must go with it.
    QSignalSpy l_forgotten(GetLogNotifier(), &LogNotifier::ItemForgotten);
    l_alice.Remove();
    QVERIFY(GetLogHistory().ItemEntries(l_aliceKey).empty());
    QCOMPARE(l_forgotten.count(), 1);
    QCOMPARE(l_forgotten.at(0).at(0).value<quintptr>(), l_aliceKey);
    QCOMPARE(GetLogHistory().ItemEntries(reinterpret_cast<quintptr>(l_bob.Get())).size(), std::size_t(1));
    // The area's history keeps the line.
    bool l_found = false;
    for (const LogEntry& l_entry : GetLogHistory().AreaEntries("server"))
        l_found = l_found || l_entry.m_line.endsWith("] alice is online");
    QVERIFY(l_found);

    // A store emptied without removal events drops every item's lines.
    const quintptr l_bobKey = reinterpret_cast<quintptr>(l_bob.Get());
    d.Reset();
    WatchLoggedItemRemovals();
    QVERIFY(GetLogHistory().ItemEntries(l_bobKey).empty());
    // And removals are watched again afterwards.
    ItemPtr l_carol = d.NewType("log_test_user", true, false, true)->NewItem("carol");
    Log("server", 1, "carol", l_carol);
    QCOMPARE(GetLogHistory().ItemCount(), 1);
    l_carol.Remove();
    QCOMPARE(GetLogHistory().ItemCount(), 0);
    d.Reset();
}

void TestLog::itemHistoryIsBounded()
{
    LogHistory l_history;
    int l_key = 0;
    const quintptr l_item = reinterpret_cast<quintptr>(&l_key);
    for (int l_index = 0; l_index < LogHistory::MaxLinesPerItem + 10; ++l_index)
        l_history.Add("area", QString::number(l_index), l_item);
    const std::vector<LogEntry> l_kept = l_history.ItemEntries(l_item);
    QCOMPARE(int(l_kept.size()), LogHistory::MaxLinesPerItem);
    QCOMPARE(l_kept.front().m_line, QString("10"));

    // Too many items: the one logged for least recently makes room.
    for (quintptr l_other = 1; l_other < quintptr(LogHistory::MaxItems); ++l_other)
        l_history.Add("area", "x", l_other);
    QCOMPARE(l_history.ItemCount(), LogHistory::MaxItems);
    l_history.Add("area", "y", l_item); // touch: now the newest
    l_history.Add("area", "z", quintptr(LogHistory::MaxItems));
    QCOMPARE(l_history.ItemCount(), LogHistory::MaxItems);
    QVERIFY(l_history.ItemEntries(1).empty());
    QVERIFY(!l_history.ItemEntries(l_item).empty());
}

// Items forgotten or only watched take no turn in the order in which full
// history drops the least recent: the next one dropped is the least recent
// item still kept, and a watched item without lines goes only when nothing
// else is left.
void TestLog::droppingItemsFollowsForgetAndWatch()
{
    LogHistory l_history;
    const quintptr l_watched = quintptr(LogHistory::MaxItems) + 1;
    l_history.WatchItem(l_watched);
    for (quintptr l_item = 1; l_item < quintptr(LogHistory::MaxItems); ++l_item)
        l_history.Add("area", "x", l_item);
    QVERIFY(l_history.ForgetItem(1));
    QVERIFY(!l_history.ForgetItem(1));
    l_history.Add("area", "again", 1);  // back, now the newest
    QCOMPARE(l_history.ItemCount(), LogHistory::MaxItems);

    l_history.Add("area", "new", l_watched + 1);
    QCOMPARE(l_history.ItemCount(), LogHistory::MaxItems);
    QVERIFY(l_history.ItemEntries(2).empty());
    QCOMPARE(l_history.ItemEntries(1).size(), std::size_t(1));
    QVERIFY(l_history.ForgetItem(l_watched));  // still kept, if empty

    l_history.ForgetAllItems();
    QCOMPARE(l_history.ItemCount(), 0);
    l_history.Add("area", "first", 5);
    l_history.Add("area", "second", 5);
    QCOMPARE(l_history.ItemEntries(5).size(), std::size_t(2));
}

// Long lines fill the items' budget long before their count does: the
// items logged for least recently go whole until the rest fits, and what
// leaves with a line, an item or a forgotten item is counted out again.
void TestLog::itemHistoryIsBoundedInBytes()
{
    LogHistory l_history;
    const QString l_long(4096, 'x');
    const std::size_t l_perItem = std::size_t(LogHistory::MaxLinesPerItem) * (sizeof(LogEntry) + 8192);
    for (quintptr l_item = 1; l_item <= 2; ++l_item) {
        for (int l_index = 0; l_index < LogHistory::MaxLinesPerItem; ++l_index)
            l_history.Add("area", l_long, l_item);
    }
    QCOMPARE(l_history.ItemBytes(), 2 * l_perItem);
    QVERIFY(2 * l_perItem <= LogHistory::MaxItemBytes);
    l_history.Add("area", "short", 3);
    l_history.Add("area", l_long, 1);  // the newest again
    QCOMPARE(l_history.ItemCount(), 3);

    // Item 2 is now the least recent and goes, not the smaller item 3:
    // without 2 the rest fits.
    for (int l_index = 0; l_index < 1100; ++l_index)
        l_history.Add("area", l_long, 4);
    const std::size_t l_short = sizeof(LogEntry) + 10;
    QCOMPARE(l_history.ItemCount(), 3);
    QVERIFY(l_history.ItemEntries(2).empty());
    QCOMPARE(l_history.ItemEntries(3).size(), std::size_t(1));
    QCOMPARE(int(l_history.ItemEntries(1).size()), LogHistory::MaxLinesPerItem);
    QCOMPARE(l_history.ItemBytes(), 2 * l_perItem + l_short);

    QVERIFY(l_history.ForgetItem(1));
    QCOMPARE(l_history.ItemBytes(), l_perItem + l_short);
    l_history.ForgetAllItems();
    QCOMPARE(l_history.ItemBytes(), std::size_t(0));
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
