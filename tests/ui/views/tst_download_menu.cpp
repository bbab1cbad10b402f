// The download commands of the downloads' context menu: which entries the
// menu gets, and what each does, also when downloads go while it is open;
// and which file a finished download's row opens, by the menu or a
// double-click.
#include "TransferRoad.h"
#include "TransfersViewWorld.h"
#include "WireBytes.h"

#include "core/persist/Settings.h"
#include "core/platform/DesktopOpener.h"
#include "server/Server.h"
#include "transfers/TransferStatus.h"
#include "ui/views/DownloadMenuOptions.h"

#include <QMenu>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace
{
// The menu as a user reads it; "-" for a separator.
QStringList Entries(const QMenu& i_menu)
{
    QStringList l_texts;
    for (const QAction* lp_action : i_menu.actions())
        l_texts.append(lp_action->isSeparator() ? QStringLiteral("-") : lp_action->text());
    return l_texts;
}

void Choose(const QMenu& i_menu, const QString& i_text)
{
    for (QAction* lp_action : i_menu.actions()) {
        if (lp_action->text() == i_text) {
            lp_action->trigger();
            return;
        }
    }
    QFAIL(qPrintable("no entry " + i_text));
}

// Records what would be opened on the desktop, for the life of the object.
struct OpenedPaths
{
    OpenedPaths()
    {
        SetDesktopOpener([this](const QUrl& i_url) {
            m_paths.append(i_url.toLocalFile());
            return true;
        });
    }
    ~OpenedPaths() { SetDesktopOpener({}); }
    QStringList m_paths;
};

// A user who sends us a file over the loopback network: he offers it on
// his messaging connection, then opens the file connection for it.
class Sender
{
public:
    Sender(PeerTestWorld& io_world, const std::string& i_user)
        : m_world(io_world), m_user(i_user)
    {
        mp_messages = io_world.ConnectAs(m_peer, i_user);
        TransfersTestWorld::SetOnline(i_user);
    }

    // Offers the file of "video" under the token; the file connection once
    // we have sent the offset on it, null when none came.
    FakePeerConnection* Offer(quint32 i_token, qint64 i_size)
    {
        if (!mp_messages)
            return nullptr;
        const qsizetype l_answers = Answers();
        mp_messages->SendFrame(OfferBody(i_token, "video\\mix.bin", i_size));
        if (!PeerTestWorld::WaitFor([&] { return Answers() > l_answers; }))
            return nullptr;
        FakePeerConnection* lp_file = m_peer.ConnectTo(m_world.PlainPort(), false);
        if (!lp_file)
            return nullptr;
        lp_file->SendRaw(FileConnectionOpening(m_user, i_token));
        return lp_file->WaitForBytes(8) ? lp_file : nullptr;
    }

private:
    // Our answers to his offers so far.
    qsizetype Answers()
    {
        const QList<QByteArray> l_frames = mp_messages->Frames();
        return std::count_if(l_frames.begin(), l_frames.end(),
                             [](const QByteArray& i_frame) { return WireReader(i_frame).U32() == 41; });
    }

    PeerTestWorld& m_world;
    std::string m_user;
    FakePeer m_peer;
    FakePeerConnection* mp_messages = nullptr;
};

// Hal's and dan's "video\mix.bin", of the sizes given, both downloaded
// at once: dan's starts first, hal's finishes first and takes the
// layout's name, so dan's finished file takes a numbered one beside it.
// Returns hal's and dan's entries (null ones when the transfers failed).
std::pair<ItemPtr, ItemPtr> FinishBoth(TransfersViewWorld& io_world, int i_halsSize, int i_dansSize)
{
    Sender l_hal(io_world.World().Peer(), "hal");
    Sender l_dan(io_world.World().Peer(), "dan");
    ItemPtr l_fromHal = io_world.AddDownload("hal", "video", "mix.bin", i_halsSize);
    ItemPtr l_fromDan = io_world.AddDownload("dan", "video", "mix.bin", i_dansSize);
    FakePeerConnection* lp_dansFile = l_dan.Offer(2, i_dansSize);
    if (!lp_dansFile)
        return {};
    const QByteArray l_dans = Other(i_dansSize);
    lp_dansFile->SendRaw(l_dans.left(1000));
    FakePeerConnection* lp_halsFile = l_hal.Offer(1, i_halsSize);
    if (!lp_halsFile)
        return {};
    lp_halsFile->SendRaw(Pattern(i_halsSize));
    if (!TransferRoad::Reaches(l_fromHal, TransferStatus::Complete))
        return {};
    lp_dansFile->SendRaw(l_dans.mid(1000));
    if (!TransferRoad::Reaches(l_fromDan, TransferStatus::Complete))
        return {};
    return {l_fromHal, l_fromDan};
}
}  // namespace

class TestDownloadMenu : public QObject
{
    Q_OBJECT

private slots:
    void entries_data();
    void entries();
    void opensTheDownloadsTarget_data();
    void opensTheDownloadsTarget();
    void actsOnTheDownloadsStillThere_data();
    void actsOnTheDownloadsStillThere();
    void rerunsTheSearch();
    void eachUsersRowOpensItsOwnFile_data();
    void eachUsersRowOpensItsOwnFile();
    void aRestartKeepsWhereTheFileWasStored_data();
    void aRestartKeepsWhereTheFileWasStored();
};

void TestDownloadMenu::entries_data()
{
    QTest::addColumn<QStringList>("statuses");  // one download each
    QTest::addColumn<bool>("filled");           // the menu holds an entry already
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("no download, filled menu") << QStringList{} << true << QStringList{"Existing"};
    QTest::newRow("one finished") << QStringList{"complete"} << false
                                  << QStringList{"Open File", "Open Folder", "-", "Remove download"};
    QTest::newRow("one queued") << QStringList{"queued"} << false << QStringList{"Open Folder", "-", "Remove download"};
    QTest::newRow("one failed") << QStringList{"local error"} << false
                                << QStringList{"Open Folder", "-", "Remove download"};
    QTest::newRow("two finished") << QStringList{"complete", "complete"} << false
                                  << QStringList{"Open Folder", "-", "Remove downloads"};
    QTest::newRow("one finished, filled menu")
        << QStringList{"complete"} << true
        << QStringList{"Existing", "-", "Open File", "Open Folder", "-", "Remove download"};
}

void TestDownloadMenu::entries()
{
    QFETCH(QStringList, statuses);
    QFETCH(bool, filled);
    QFETCH(QStringList, shown);
    TransfersViewWorld l_world;
    ItemSet l_downloads;
    for (const QString& l_status : statuses)
        l_downloads.insert(l_world.AddDownload("bob", "Music", "f" + std::to_string(l_downloads.size()), 1,
                                               l_status.toStdString()));
    QMenu l_menu;
    if (filled)
        l_menu.addAction(QStringLiteral("Existing"));
    DownloadMenuOptions l_options(&l_menu, l_downloads, nullptr);
    QCOMPARE(Entries(l_menu), shown);
}

// Paths below the download root.
void TestDownloadMenu::opensTheDownloadsTarget_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("opened");

    QTest::newRow("file") << QByteArray("Music\\Jazz") << QByteArray("a.mp3") << "Open File" << "complete/Jazz/a.mp3";
    QTest::newRow("folder") << QByteArray("Music\\Jazz") << QByteArray("a.mp3") << "Open Folder" << "complete/Jazz";
    QTest::newRow("non-ASCII file") << QByteArray("M\xc3\xbcsik\\\xc3\x85lbum") << QByteArray("F\xc3\xbc\xc3\x9f" "e.mp3")
                                    << "Open File" << QString::fromUtf8("complete/\xc3\x85lbum/F\xc3\xbc\xc3\x9f" "e.mp3");
    QTest::newRow("climbing names, file") << QByteArray("..\\..") << QByteArray("..") << "Open File" << "complete/_/_";
}

void TestDownloadMenu::opensTheDownloadsTarget()
{
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, file);
    QFETCH(QString, entry);
    QFETCH(QString, opened);
    TransfersViewWorld l_world;
    ItemPtr l_download = l_world.AddDownload("bob", folder.toStdString(), file.toStdString(), 1, "complete");
    OpenedPaths l_opened;
    QMenu l_menu;
    DownloadMenuOptions l_options(&l_menu, ItemSet(l_download), nullptr);
    Choose(l_menu, entry);
    QCOMPARE(l_opened.m_paths, QStringList{l_world.World().DownloadRoot() + "/" + opened});
}

// Three downloads, the menu on the first "count" of them (in set order),
// "removed" of those removed after the menu was built: the folder that the
// "Open" entries open (of which download; none for -1). "Remove
// download(s)" then leaves only the downloads outside the menu.
void TestDownloadMenu::actsOnTheDownloadsStillThere_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("opened");

    QTest::newRow("two") << 2 << 0 << 0;
    QTest::newRow("two, the first gone") << 2 << 1 << 1;
    QTest::newRow("one, gone") << 1 << 1 << -1;
}

void TestDownloadMenu::actsOnTheDownloadsStillThere()
{
    QFETCH(int, count);
    QFETCH(int, removed);
    QFETCH(int, opened);
    TransfersViewWorld l_world;
    std::map<Item*, QString> l_folderOf;
    for (const char* lp_folder : {"A", "B", "C"})
        l_folderOf[l_world.AddDownload("bob", std::string("Music\\") + lp_folder, "f.mp3", 1, "complete")] = lp_folder;
    const std::vector<Item*> l_all = d.GetType("download_entry")->GetItems().Items();
    QMenu l_menu;
    DownloadMenuOptions l_options(&l_menu, ItemSet::FromUnsorted(std::vector<Item*>(l_all.begin(), l_all.begin() + count)),
                                  nullptr);
    for (int l_index = 0; l_index < removed; ++l_index)
        l_world.Manager().RemoveDownload(l_all[l_index]);

    OpenedPaths l_paths;
    for (const QString& l_entry : Entries(l_menu)) {
        if (l_entry.startsWith("Open "))
            Choose(l_menu, l_entry);
    }
    const QString l_complete = l_world.World().DownloadRoot() + "/complete/";
    QCOMPARE(l_paths.m_paths, opened < 0 ? QStringList() : QStringList{l_complete + l_folderOf[l_all[opened]]});
    Choose(l_menu, count > 1 ? "Remove downloads" : "Remove download");
    QCOMPARE(d.GetType("download_entry")->GetItems(),
             ItemSet::FromUnsorted(std::vector<Item*>(l_all.begin() + count, l_all.end())));
}

// The search a download came from, with characters beyond ASCII and an "&"
// the label must show as such.
void TestDownloadMenu::rerunsTheSearch()
{
    TransfersViewWorld l_world;
    // As the search view declares it: a download keeps the search it came from.
    d.GetType("download_entry")->RelateToType(d.GetType("search_request_text"), Many, One, false);
    const std::string l_text = "Caf\xc3\xa9 & Cr\xc3\xa8me \xe2\x99\xab";
    ItemPtr l_download = l_world.AddDownload("bob", "Music", "a.mp3", 1);
    l_download += d.GetType("search_request_text")->GetItem(l_text);
    QMenu l_menu;
    DownloadMenuOptions l_options(&l_menu, ItemSet(l_download), nullptr);
    const QString l_entry = QString::fromUtf8("Re-run Search: Caf\xc3\xa9 && Cr\xc3\xa8me \xe2\x99\xab");
    QCOMPARE(Entries(l_menu), QStringList({"Open Folder", "-", "Remove download", l_entry}));

    // The link sends only while logged in; what it was asked for shows in
    // its announcement of every search.
    QSignalSpy l_searches(&l_world.World().Peer().Link(), &Server::SearchRequested);
    Choose(l_menu, l_entry);
    QCOMPARE(l_searches.count(), 1);
    QCOMPARE(l_searches[0][1].value<std::string>(), l_text);
    QCOMPARE(l_searches[0][2].toBool(), false);
}

// Two users' files of one folder and name, "Open File", "Open Folder" or a
// double-click on each user's row; the download folder may have changed
// since they finished.
void TestDownloadMenu::eachUsersRowOpensItsOwnFile_data()
{
    QTest::addColumn<int>("halsSize");
    QTest::addColumn<int>("dansSize");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("moved");
    QTest::addColumn<QStringList>("opened");  // by hal's row, then dan's

    const QStringList l_files{"complete/video/mix.bin", "complete/video/mix (1).bin"};
    QTest::newRow("other sizes, Open File") << 10000 << 8000 << "Open File" << false << l_files;
    QTest::newRow("other sizes, double-click") << 10000 << 8000 << "double-click" << false << l_files;
    QTest::newRow("the same size, Open File") << 8000 << 8000 << "Open File" << false << l_files;
    QTest::newRow("the same size, double-click") << 8000 << 8000 << "double-click" << false << l_files;
    QTest::newRow("the download folder moved since, Open File")
        << 10000 << 8000 << "Open File" << true << l_files;
    QTest::newRow("the download folder moved since, Open Folder")
        << 10000 << 8000 << "Open Folder" << true << QStringList{"complete/video", "complete/video"};
}

void TestDownloadMenu::eachUsersRowOpensItsOwnFile()
{
    QFETCH(int, halsSize);
    QFETCH(int, dansSize);
    QFETCH(QString, how);
    QFETCH(bool, moved);
    QFETCH(QStringList, opened);
    TransfersViewWorld l_world;
    const auto [l_fromHal, l_fromDan] = FinishBoth(l_world, halsSize, dansSize);
    QVERIFY(l_fromHal && l_fromDan);
    const QString l_root = l_world.World().DownloadRoot() + "/";
    QCOMPARE(TransfersTestWorld::ReadFile(l_root + "complete/video/mix.bin"), Pattern(halsSize));
    QCOMPARE(TransfersTestWorld::ReadFile(l_root + "complete/video/mix (1).bin"), Other(dansSize));
    QTemporaryDir l_elsewhere;
    if (moved)
        Settings::Set("download_folder", l_elsewhere.path().toStdString());

    OpenedPaths l_opened;
    for (ItemPtr l_download : {l_fromHal, l_fromDan}) {
        if (how == "double-click") {
            emit l_world.Downloads().itemDoubleClicked(l_world.Row(l_download), 0);
            continue;
        }
        QMenu l_menu;
        DownloadMenuOptions l_options(&l_menu, ItemSet(l_download), nullptr);
        Choose(l_menu, how);
    }
    QStringList l_expected;
    for (const QString& l_path : opened)
        l_expected.append(l_root + l_path);
    QCOMPARE(l_opened.m_paths, l_expected);
}

// Dan's finished file took a numbered name; the data file is read by the
// next run. One of an older version ("older") keeps no such name: its row
// opens the layout's name, as that version did.
void TestDownloadMenu::aRestartKeepsWhereTheFileWasStored_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<QString>("opened");
    QTest::newRow("this version's data file") << false << "complete/video/mix (1).bin";
    QTest::newRow("an older version's") << true << "complete/video/mix.bin";
}

void TestDownloadMenu::aRestartKeepsWhereTheFileWasStored()
{
    QFETCH(bool, older);
    QFETCH(QString, opened);
    QTemporaryDir l_dataFolder;
    const QString l_dataFile = l_dataFolder.filePath("client.dat");
    QTemporaryDir l_downloads;
    {
        TransfersViewWorld l_world;
        Settings::Set("download_folder", l_downloads.path().toStdString());
        auto [l_fromHal, l_fromDan] = FinishBoth(l_world, 10000, 8000);
        QVERIFY(l_fromHal && l_fromDan);
        if (older)
            l_fromDan.Disconnect("complete_path");
        l_world.World().Save(l_dataFile);
    }
    TransfersViewWorld l_world(false);
    l_world.Load(l_dataFile);
    ItemPtr l_fromDan = l_world.Manager().GetDownloadEntry("dan", "mix.bin", "video");
    QVERIFY(l_fromDan);
    QCOMPARE(l_fromDan["download_entry_status"].AsString(), std::string(TransferStatus::Complete));
    OpenedPaths l_opened;
    QMenu l_menu;
    DownloadMenuOptions l_options(&l_menu, ItemSet(l_fromDan), nullptr);
    Choose(l_menu, "Open File");
    emit l_world.Downloads().itemDoubleClicked(l_world.Row(l_fromDan), 0);
    const QString l_path = l_downloads.path() + "/" + opened;
    QCOMPARE(l_opened.m_paths, QStringList({l_path, l_path}));
}

QTEST_MAIN(TestDownloadMenu)
#include "tst_download_menu.moc"
