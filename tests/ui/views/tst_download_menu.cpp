// The download commands of the downloads' context menu: which entries the
// menu gets, and what each does, also when downloads go while it is open.
#include "TransfersViewWorld.h"

#include "core/platform/DesktopOpener.h"
#include "server/Server.h"
#include "ui/views/DownloadMenuOptions.h"

#include <QMenu>
#include <QtTest>

#include <map>
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

QTEST_MAIN(TestDownloadMenu)
#include "tst_download_menu.moc"
