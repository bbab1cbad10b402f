#include "core/log/LogService.h"
#include "core/persist/DataFile.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/store/Data.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

class LoadCounter : public DataLoadedEventHandler
{
public:
    void DataLoaded() override { ++m_calls; }
    int m_calls = 0;
};

// Declares a small client-like schema: settings, users with flags and
// groups, shared folders owning files, and a type that is never saved.
void DeclareSchema(DataSaver& io_saver)
{
    Settings::DeclareTypes();
    Type* lp_user = d.NewType("user", true, false, true);
    Type* lp_listed = d.NewType("in_user_list", false, true, false);
    Type* lp_group = d.NewType("user_list_group", false, false, true);
    Type* lp_unshared = d.NewType("unshared", false, true, false);
    Type* lp_folder = d.NewType("shared_folder", true, false, true);
    Type* lp_file = d.NewType("shared_file", false, true, false);
    Type* lp_name = d.NewType("file_name", false, false, true);
    Type* lp_socket = d.NewType("socket", false, false, true);
    lp_user->RelateToType(lp_listed, One, One, false);
    lp_listed->RelateToType(lp_group, Many, One, false);
    lp_user->RelateToType(lp_unshared, Many, One, false);
    lp_folder->RelateToType(lp_file, One, Many, false);
    lp_file->RelateToType(lp_name, One, One, false);
    lp_user->RelateToType(lp_socket, Many, Many, false);
    io_saver.AddSavedType("shared_folder");
    io_saver.AddSavedType("unshared");
    io_saver.AddSavedByConnectionType("user", "in_user_list");
    io_saver.AddSavedByConnectionType("user", "unshared");
    io_saver.AddSavedByConnectionType("in_user_list", "user");
    io_saver.AddSavedByConnectionType("user_list_group", "in_user_list");
    io_saver.AddSavedByConnectionType("shared_file", "shared_folder");
    io_saver.AddSavedByConnectionType("file_name", "shared_file");
}

// A canonical text of the store's content, independent of addresses:
// valued items by value, anonymous items by what they are connected to.
std::string Describe(const Item* ip_item, int i_depth = 0);

std::string DescribeNeighbours(const Item* ip_item, int i_depth)
{
    std::vector<std::string> l_parts;
    std::map<Type*, ItemSet> l_table;
    ip_item->GetConnectedItems(l_table);
    for (const auto& [lp_type, l_items] : l_table) {
        for (const Item* lp_partner : l_items)
            l_parts.push_back(lp_partner->mp_type->m_null && i_depth < 1 ? Describe(lp_partner, i_depth + 1)
                                                                         : lp_partner->mp_type->m_name + "=" + lp_partner->m_value);
    }
    std::sort(l_parts.begin(), l_parts.end());
    std::string l_text;
    for (const std::string& l_part : l_parts)
        l_text += l_part + ",";
    return l_text;
}

std::string Describe(const Item* ip_item, int i_depth)
{
    std::string l_text = ip_item->mp_type->m_name + "=" + ip_item->m_value;
    if (ip_item->mp_type->m_null)
        l_text += (ip_item->mp_type->IsGlobalNullItem(ip_item) ? "[shared]" : "") + std::string("{") +
                  DescribeNeighbours(ip_item, i_depth) + "}";
    return l_text;
}

std::vector<std::string> Snapshot()
{
    std::vector<std::string> l_lines;
    QHash<std::string, Type*> l_types;
    d.GetTypes(l_types);
    for (Type* lp_type : l_types) {
        for (Item* lp_item : lp_type->UnorderedItems())
            l_lines.push_back(Describe(lp_item) + " -> " + DescribeNeighbours(lp_item, 0));
    }
    std::sort(l_lines.begin(), l_lines.end());
    return l_lines;
}

QByteArray ReadFile(const QString& i_path)
{
    QFile l_file(i_path);
    return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray();
}

void WriteFile(const QString& i_path, const QByteArray& i_bytes)
{
    QFile l_file(i_path);
    QVERIFY(l_file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(l_file.write(i_bytes), i_bytes.size());
}

// Whether a line of the data file's log area since i_from contains the text.
bool Logged(std::size_t i_from, const QString& i_text)
{
    const std::vector<LogEntry> l_lines = GetLogHistory().AreaEntries("Data File");
    return std::any_of(l_lines.begin() + qMin(i_from, l_lines.size()), l_lines.end(),
                       [&](const LogEntry& i_entry) { return i_entry.m_line.contains(i_text); });
}

std::size_t LoggedSoFar()
{
    return GetLogHistory().AreaEntries("Data File").size();
}

}  // namespace

class TestDataSaver : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::unique_ptr<DataSaver> mp_saver;

    std::string PathOf(const char* ip_name) const { return m_folder.filePath(ip_name).toStdString(); }

    void FreshStore()
    {
        mp_saver.reset();
        d.Reset();
        mp_saver = std::make_unique<DataSaver>();
        DeclareSchema(*mp_saver);
    }

    void FillSample()
    {
        Settings::Set("listening_port", "2235");
        Settings::Set("use_upnp", "yes");
        Settings::SetVolatile("session", "not saved");
        ItemPtr l_ann = d.GetType("user")->GetItem("ann");
        l_ann.NewItem("in_user_list") += d.GetType("user_list_group")->GetItem("friends");
        l_ann.NewItem("unshared");
        d.GetType("user")->GetItem("bob").NewItem("unshared");  // the same shared flag item
        d.GetType("user")->GetItem("stranger");                 // connected to nothing saved
        d.GetType("user")->GetItem("stranger") += d.GetType("socket")->GetItem("1234");
        ItemPtr l_folder = d.GetType("shared_folder")->GetItem("music");
        for (int l_n = 0; l_n < 3; ++l_n) {
            ItemPtr l_file = l_folder.NewItem("shared_file");
            l_file += d.GetType("file_name")->GetItem("song" + std::to_string(l_n) + ".mp3");
        }
        d.GetType("file_name")->GetItem("orphan.mp3");
    }

    void SaveNow(const std::string& i_path, bool i_background)
    {
        if (!i_background) {
            mp_saver->Save(i_path.c_str());
            return;
        }
        mp_saver->SaveInBackground(i_path.c_str());
        mp_saver->WaitForPendingSave();
    }

private slots:
    void initTestCase() { QVERIFY(m_folder.isValid()); }
    void init() { FreshStore(); }
    void cleanupTestCase()
    {
        mp_saver.reset();
        d.Reset();
    }

    void roundTripKeepsTheSavedPartExactly()
    {
        FillSample();
        std::vector<std::string> l_before = Snapshot();
        mp_saver->Save(PathOf("roundtrip.dat").c_str());

        FreshStore();
        LoadCounter l_counter;
        mp_saver->m_dataLoadedEventHandlers.insert(&l_counter);
        mp_saver->Load(PathOf("roundtrip.dat").c_str());
        QCOMPARE(l_counter.m_calls, 1);
        QVERIFY(mp_saver->IsLoaded());

        // What was not saved: the volatile setting, the stranger and its
        // socket, the orphan name.
        std::vector<std::string> l_expected;
        for (const std::string& l_line : l_before) {
            if (l_line.find("session") == std::string::npos && l_line.find("not saved") == std::string::npos &&
                l_line.find("stranger") == std::string::npos && l_line.find("socket") == std::string::npos &&
                l_line.find("orphan") == std::string::npos)
                l_expected.push_back(l_line);
        }
        QCOMPARE(Snapshot(), l_expected);
        QCOMPARE(d.GetType("unshared")->ItemCount(), std::size_t(1));
        QCOMPARE(d.GetType("user")->GetItem("bob")["unshared"].Get(), d.GetType("unshared")->GetGlobalNullItem().Get());
    }

    void largeStoresAndLongValuesSurvive()
    {
        // Past every limit of the wire streams: counts and value lengths.
        ItemPtr l_folder = d.GetType("shared_folder")->GetItem("big");
        const int l_files = 140000;
        for (int l_n = 0; l_n < l_files; ++l_n)
            l_folder.NewItem("shared_file") += d.GetType("file_name")->GetItem("f" + std::to_string(l_n));
        const std::string l_long(200000, 'x');
        Settings::Set("long_value", l_long);
        mp_saver->Save(PathOf("large.dat").c_str());

        FreshStore();
        mp_saver->Load(PathOf("large.dat").c_str());
        QCOMPARE(d.GetType("shared_file")->ItemCount(), std::size_t(l_files));
        QCOMPARE(d.GetType("shared_folder")->GetItem("big").GetItems("shared_file").size(), std::size_t(l_files));
        QCOMPARE(Settings::Get("long_value"), l_long);
        QCOMPARE(d.GetType("file_name")->HasItem("f139999")["shared_file"]["shared_folder"].AsString(), std::string("big"));
    }

    void savedValueReplacesADefaultSetBeforeTheLoad()
    {
        Settings::Set("upload_slots", "7");
        mp_saver->Save(PathOf("defaults.dat").c_str());
        FreshStore();
        Settings::Set("upload_slots", "2");  // the owner's default, before the load
        ItemPtr l_setting = d.GetType("global")->GetItem("upload_slots");
        mp_saver->Load(PathOf("defaults.dat").c_str());
        QCOMPARE(Settings::Get("upload_slots"), std::string("7"));
        QCOMPARE(d.GetType("global")->GetItem("upload_slots").Get(), l_setting.Get());
        QCOMPARE(l_setting.GetItems("global_value").size(), std::size_t(1));
    }

    void missingFileRunsHandlersOnly()
    {
        LoadCounter l_counter;
        mp_saver->m_dataLoadedEventHandlers.insert(&l_counter);
        Settings::Set("kept", "1");
        const std::vector<std::string> l_before = Snapshot();
        mp_saver->Load(PathOf("does-not-exist.dat").c_str());
        QCOMPARE(l_counter.m_calls, 1);
        QCOMPARE(Snapshot(), l_before);
    }

    void damagedFilesChangeNothing()
    {
        FillSample();
        mp_saver->Save(PathOf("whole.dat").c_str());
        const QByteArray l_whole = ReadFile(m_folder.filePath("whole.dat"));
        QVERIFY(l_whole.size() > 100);

        // Every strict prefix, so every record boundary and every cut inside
        // a record, and a few corrupted copies.
        std::vector<QByteArray> l_damaged;
        for (qsizetype l_length = 0; l_length < l_whole.size(); ++l_length)
            l_damaged.push_back(l_whole.left(l_length));
        QByteArray l_trailing = l_whole + QByteArray(1, '\0');
        l_damaged.push_back(l_trailing);
        QByteArray l_badId = l_whole;
        l_badId[l_badId.size() - 1] = char(0x7F);  // the last connection names a missing item
        l_damaged.push_back(l_badId);
        QByteArray l_hugeCount = l_whole;
        l_hugeCount[0] = char(0xFF);
        l_hugeCount[3] = char(0x7F);
        l_damaged.push_back(l_hugeCount);

        for (const QByteArray& l_bytes : l_damaged) {
            FreshStore();
            Settings::Set("before_load", "1");
            d.GetType("user")->GetItem("made_before");
            const std::vector<std::string> l_before = Snapshot();
            LoadCounter l_counter;
            mp_saver->m_dataLoadedEventHandlers.insert(&l_counter);
            WriteFile(m_folder.filePath("damaged.dat"), l_bytes);
            bool l_failed = false;
            try {
                mp_saver->Load(PathOf("damaged.dat").c_str());
            } catch (const DataLoadFailure&) {
                l_failed = true;
            }
            QVERIFY2(l_failed, qPrintable(QString("length %1 loaded").arg(l_bytes.size())));
            QCOMPARE(l_counter.m_calls, 1);
            QCOMPARE(Snapshot(), l_before);
        }
    }

    void unknownTypesAndUnrelatedPairsAreSkipped()
    {
        FillSample();
        mp_saver->Save(PathOf("schema.dat").c_str());
        // The next version of the schema lost a type and a relation.
        mp_saver.reset();
        d.Reset();
        mp_saver = std::make_unique<DataSaver>();
        Settings::DeclareTypes();
        d.NewType("shared_folder", true, false, true);
        d.NewType("shared_file", false, true, false);  // no longer related to folders
        d.NewType("file_name", false, false, true)->RelateToType(d.GetType("shared_file"), One, One, false);
        mp_saver->AddSavedType("shared_folder");
        mp_saver->AddSavedType("shared_file");
        mp_saver->AddSavedByConnectionType("file_name", "shared_file");
        mp_saver->Load(PathOf("schema.dat").c_str());
        QCOMPARE(Settings::Get("listening_port"), std::string("2235"));
        QCOMPARE(d.GetType("shared_file")->ItemCount(), std::size_t(3));
        QVERIFY(d.GetType("shared_folder")->GetItem("music").IsDisconnectedFromAll());
        QVERIFY(!d.GetType("file_name")->HasItem("song1.mp3")["shared_file"].IsNull());
    }

    void onlySavedTypesAreLoaded_data()
    {
        QTest::addColumn<QString>("typeName");
        QTest::addColumn<bool>("null");
        QTest::addColumn<QString>("ownerOf");  // registers the type as an owner only
        QTest::addColumn<bool>("loaded");
        QTest::newRow("saved") << "unshared" << true << "" << true;
        QTest::newRow("saved by connection") << "in_user_list" << true << "" << true;
        QTest::newRow("declared, never saved") << "socket" << false << "" << false;
        QTest::newRow("only the owner of saved items") << "socket" << false << "user" << false;
        QTest::newRow("saved, but the other kind") << "unshared" << false << "" << false;
        QTest::newRow("undeclared") << "no_such_type" << false << "" << false;
    }

    void onlySavedTypesAreLoaded()
    {
        // A tampered file: a user connected to an item of the given type,
        // whose value, had it been an object address, would be used as one.
        QFETCH(QString, typeName);
        QFETCH(bool, null);
        QFETCH(QString, ownerOf);
        QFETCH(bool, loaded);
        if (!ownerOf.isEmpty())
            mp_saver->AddSavedByConnectionType(ownerOf.toStdString(), typeName.toStdString());
        DataFile::Writer l_writer;
        l_writer.BeginSection("user", false, 1);
        l_writer.AddValue("ann");
        l_writer.BeginSection(typeName.toStdString(), null, 1);
        if (null)
            l_writer.AddNullItem(false);
        else
            l_writer.AddValue("140737488355328");
        l_writer.SetSectionCount(2);
        l_writer.BeginConnections();
        l_writer.AddConnection(0, 1);
        const std::vector<char> l_bytes = l_writer.Finish();
        WriteFile(m_folder.filePath("tampered.dat"), QByteArray(l_bytes.data(), qsizetype(l_bytes.size())));

        const std::size_t l_logged = LoggedSoFar();
        mp_saver->Load(PathOf("tampered.dat").c_str());
        ItemPtr l_ann = d.GetType("user")->HasItem("ann");
        QVERIFY(!l_ann.IsNull());
        Type* lp_type = d.HasType(typeName.toStdString());
        QCOMPARE(lp_type && lp_type->ItemCount() == 1, loaded);
        QCOMPARE(!l_ann->IsDisconnectedFromAll(), loaded);
        if (loaded)
            QVERIFY(l_ann.IsConnected(typeName.toStdString().c_str()));
        QCOMPARE(Logged(l_logged, '"' + typeName + '"'), !loaded);
    }

    void damagedFileIsKeptByTheNextSave_data()
    {
        QTest::addColumn<QString>("file");  // what the load finds
        QTest::addColumn<bool>("background");
        QTest::addColumn<bool>("kept");
        for (const bool l_background : {false, true}) {
            const char* lp_how = l_background ? ", in the background" : "";
            QTest::addRow("damaged%s", lp_how) << "damaged" << l_background << true;
            QTest::addRow("whole%s", lp_how) << "whole" << l_background << false;
            QTest::addRow("missing%s", lp_how) << "missing" << l_background << false;
        }
    }

    void damagedFileIsKeptByTheNextSave()
    {
        QFETCH(QString, file);
        QFETCH(bool, background);
        QFETCH(bool, kept);
        const std::string l_path = PathOf("client.dat");
        const QString l_file = QString::fromStdString(l_path);
        const QString l_keptFile = l_file + ".damaged";
        QFile::remove(l_file);
        WriteFile(l_keptFile, "from an earlier failure");
        const QByteArray l_damaged("\x05\x00\x00\x00 not a data file", 20);
        if (file == "damaged") {
            WriteFile(l_file, l_damaged);
        } else if (file == "whole") {
            Settings::Set("from_the_file", "1");
            mp_saver->Save(l_path.c_str());
            FreshStore();
        }

        bool l_failed = false;
        try {
            mp_saver->Load(l_path.c_str());
        } catch (const DataLoadFailure&) {
            l_failed = true;
        }
        QCOMPARE(l_failed, kept);
        const std::size_t l_logged = LoggedSoFar();
        Settings::Set("after_load", "1");
        SaveNow(l_path, background);
        QCOMPARE(ReadFile(l_keptFile), kept ? l_damaged : QByteArray("from an earlier failure"));
        QCOMPARE(Logged(l_logged, l_keptFile), kept);

        // Only the first save moves the file aside; later ones leave the
        // kept copy alone.
        Settings::Set("after_load", "2");
        SaveNow(l_path, background);
        QCOMPARE(ReadFile(l_keptFile), kept ? l_damaged : QByteArray("from an earlier failure"));
        FreshStore();
        mp_saver->Load(l_path.c_str());
        QCOMPARE(Settings::Get("after_load"), std::string("2"));
        QCOMPARE(Settings::Get("from_the_file"), std::string(file == "whole" ? "1" : ""));
    }

    void saveWaitsWhileTheDamagedFileCannotBeKept()
    {
        const std::string l_path = PathOf("stuck.dat");
        const QString l_file = QString::fromStdString(l_path);
        const QByteArray l_damaged("damaged");
        WriteFile(l_file, l_damaged);
        QVERIFY_THROWS_EXCEPTION(DataLoadFailure, mp_saver->Load(l_path.c_str()));
        // A folder with something in it where the copy would go: renaming
        // onto it fails, whatever the user's rights.
        QVERIFY(QDir().mkpath(l_file + ".damaged/inside"));
        Settings::Set("after_load", "1");
        for (const bool l_background : {false, true}) {
            const std::size_t l_logged = LoggedSoFar();
            SaveNow(l_path, l_background);
            QCOMPARE(ReadFile(l_file), l_damaged);
            QVERIFY(Logged(l_logged, "Saving skipped"));
        }

        QVERIFY(QDir(l_file + ".damaged").removeRecursively());
        mp_saver->Save(l_path.c_str());
        QCOMPARE(ReadFile(l_file + ".damaged"), l_damaged);
        FreshStore();
        mp_saver->Load(l_path.c_str());
        QCOMPARE(Settings::Get("after_load"), std::string("1"));
    }

    void saveOverTheFileSizeLimitFails_data()
    {
        QTest::addColumn<bool>("background");
        QTest::newRow("now") << false;
        QTest::newRow("in the background") << true;
    }

    void saveOverTheFileSizeLimitFails()
    {
        QFETCH(bool, background);
        // The saver itself must keep SIGXFSZ from ending the process.
        std::signal(SIGXFSZ, SIG_DFL);
        FreshStore();
        const std::string l_path = PathOf("limited.dat");
        Settings::Set("version", "old");
        mp_saver->Save(l_path.c_str());
        const QByteArray l_old = ReadFile(QString::fromStdString(l_path));
        QVERIFY(!l_old.isEmpty());
        Settings::Set("version", std::string(256 * 1024, 'n'));

        struct rlimit l_limit = {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &l_limit), 0);
        const rlimit l_saved = l_limit;
        l_limit.rlim_cur = 64 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &l_limit), 0);
        const std::size_t l_logged = LoggedSoFar();
        SaveNow(l_path, background);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &l_saved), 0);

        QCOMPARE(ReadFile(QString::fromStdString(l_path)), l_old);
        QVERIFY(!QFile::exists(QString::fromStdString(l_path + ".tmp")));
        QVERIFY(Logged(l_logged, "Saving failed, the previous file is kept: cannot write"));
    }

    void failedSaveKeepsTheOldFile()
    {
        Settings::Set("version", "old");
        const std::string l_path = PathOf("keep.dat");
        mp_saver->Save(l_path.c_str());
        const QByteArray l_old = ReadFile(QString::fromStdString(l_path));
        // A folder where the temporary file would go makes every write fail,
        // whatever the user's rights.
        QVERIFY(QDir().mkpath(QString::fromStdString(l_path + ".tmp")));
        Settings::Set("version", "new");
        mp_saver->Save(l_path.c_str());
        QCOMPARE(ReadFile(QString::fromStdString(l_path)), l_old);
        QVERIFY(QDir().rmdir(QString::fromStdString(l_path + ".tmp")));

        // The same in the background: the old file stays and the failure is
        // told in the log.
        QVERIFY(QDir().mkpath(QString::fromStdString(l_path + ".tmp")));
        const std::size_t l_linesBefore = GetLogHistory().AreaEntries("Data File").size();
        mp_saver->SaveInBackground(l_path.c_str());
        mp_saver->WaitForPendingSave();
        QCOMPARE(ReadFile(QString::fromStdString(l_path)), l_old);
        const std::vector<LogEntry> l_lines = GetLogHistory().AreaEntries("Data File");
        QCOMPARE(l_lines.size(), l_linesBefore + 1);
        QVERIFY(l_lines.back().m_line.contains("Saving failed, the previous file is kept: cannot create"));
        QVERIFY(QDir().rmdir(QString::fromStdString(l_path + ".tmp")));

        // Into a folder that does not exist: no file at all, no crash.
        mp_saver->Save(PathOf("no/such/folder/x.dat").c_str());
        QVERIFY(!QFile::exists(QString::fromStdString(PathOf("no/such/folder/x.dat"))));
    }

    void backgroundSaveIsCompleteOnceWaitedFor()
    {
        FillSample();
        const std::vector<std::string> l_before = Snapshot();
        mp_saver->SaveInBackground(PathOf("background.dat").c_str());
        Settings::Set("changed_after_snapshot", "1");
        mp_saver->WaitForPendingSave();
        FreshStore();
        mp_saver->Load(PathOf("background.dat").c_str());
        QVERIFY(Settings::Get("changed_after_snapshot").empty());
        QCOMPARE(Settings::Get("listening_port"), std::string("2235"));
        QVERIFY(!QFile::exists(QString::fromStdString(PathOf("background.dat.tmp"))));
    }
};

QTEST_GUILESS_MAIN(TestDataSaver)
#include "tst_datasaver.moc"
