// The download folder layout: where partial and complete files go, that no
// remote name reaches outside the download folder, and the clean-up of
// emptied partial folders.
#include "TransfersTestWorld.h"

#include "core/persist/Settings.h"
#include "core/platform/Paths.h"
#include "transfers/DownloadLayout.h"
#include "transfers/TransferStatus.h"

#include <QDir>
#include <QtTest>

namespace
{
std::string Bytes(const QByteArray& i_bytes)
{
    return std::string(i_bytes.constData(), static_cast<std::size_t>(i_bytes.size()));
}
}  // namespace

class TestTransfersLayout : public QObject
{
    Q_OBJECT

private slots:
    // Relative folders below "downloading" and "complete" for remote names,
    // hostile ones included.
    void remoteNamesLandInsideTheDownloadFolder_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("name");

        QTest::newRow("example, level 1") << QByteArray("Music\\Albums\\Blue\\CD1") << QByteArray("01.mp3") << 1
                                          << "Blue/CD1" << "01.mp3";
        QTest::newRow("example, level 0") << QByteArray("Music\\Albums\\Blue\\CD1") << QByteArray("01.mp3") << 0 << "CD1"
                                          << "01.mp3";
        QTest::newRow("written with slashes") << QByteArray("Music/Albums/Blue") << QByteArray("a") << 1
                                              << "Albums/Blue" << "a";
        QTest::newRow("no folder") << QByteArray("") << QByteArray("a") << 0 << "" << "a";
        QTest::newRow("no folder, level 3") << QByteArray("") << QByteArray("a") << 3 << "" << "a";
        QTest::newRow("only a separator") << QByteArray("\\") << QByteArray("a") << 0 << "" << "a";
        QTest::newRow("one trailing separator") << QByteArray("Music\\CD1\\") << QByteArray("a") << 0 << "CD1" << "a";
        QTest::newRow("negative level") << QByteArray("x\\y\\z") << QByteArray("a") << -3 << "z" << "a";
        QTest::newRow("level past the depth") << QByteArray("C:\\x") << QByteArray("a") << 5 << "C:/x" << "a";
        QTest::newRow("climbing folder") << QByteArray("..\\..\\etc") << QByteArray("passwd") << 2 << "_/_/etc"
                                         << "passwd";
        QTest::newRow("climbing inside") << QByteArray("a\\..\\..\\b") << QByteArray("f") << 3 << "a/_/_/b" << "f";
        QTest::newRow("current folder") << QByteArray(".\\.") << QByteArray("f") << 1 << "_/_" << "f";
        QTest::newRow("empty names") << QByteArray("a\\\\b") << QByteArray("f") << 2 << "a/_/b" << "f";
        QTest::newRow("absolute slash folder") << QByteArray("/etc") << QByteArray("f") << 1 << "_/etc" << "f";
        QTest::newRow("file climbing") << QByteArray("Music") << QByteArray("..\\y") << 0 << "Music" << "y";
        QTest::newRow("file absolute") << QByteArray("Music") << QByteArray("C:\\x") << 0 << "Music" << "x";
        QTest::newRow("file only dots") << QByteArray("Music") << QByteArray("..") << 0 << "Music" << "_";
        QTest::newRow("file empty") << QByteArray("Music") << QByteArray("") << 0 << "Music" << "_";
        QTest::newRow("NUL in a folder") << QByteArray("a\0b", 3) << QByteArray("f") << 0 << "ab" << "f";
        QTest::newRow("NUL between dots") << QByteArray(".\0.", 3) << QByteArray("f") << 0 << "_" << "f";
        QTest::newRow("NUL in the file") << QByteArray("m") << QByteArray("x\0/../y", 7) << 0 << "m" << "y";
        QTest::newRow("NUL making a file name") << QByteArray("m") << QByteArray("x\0y", 3) << 0 << "m" << "xy";
    }
    void remoteNamesLandInsideTheDownloadFolder()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, file);
        QFETCH(int, level);
        QFETCH(QString, relative);
        QFETCH(QString, name);
        TransfersTestWorld l_world;
        const QString l_root = l_world.DownloadRoot();
        TransferQueueManager& l_manager = l_world.Manager();
        ItemPtr l_download = l_manager.AddDownload("bob", Bytes(file), Bytes(folder), 10, level);
        // The entry keeps the exact remote names.
        QCOMPARE(l_download["remote_folder"].AsString(), Bytes(folder));
        QCOMPARE(l_download["file_name"].AsString(), Bytes(file));

        QCOMPARE(l_manager.GetDownloadRelativeDownloadFolder(l_download), relative);
        const QString l_below = relative.isEmpty() ? QString() : "/" + relative;
        for (const char* lp_side : {"downloading", "complete"}) {
            const bool l_complete = QString(lp_side) == "complete";
            const QString l_base = l_root + "/" + lp_side;
            QCOMPARE(l_manager.GetDownloadTargetFolder(l_download, l_complete), l_base + l_below);
            const QString l_path = l_manager.GetDownloadTargetPath(l_download, l_complete);
            QCOMPARE(l_path, l_base + l_below + "/" + name);
            QVERIFY(DownloadLayout::IsInside(l_base, l_path));
        }
    }

    void theRootFallsBackToTheDefaultAndIsCleaned_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("partialPath");
        QTest::newRow("empty") << "" << DefaultDownloadFolder() + "/downloading/CD1/a";
        QTest::newRow("trailing separator") << "/srv/dl/" << "/srv/dl/downloading/CD1/a";
        QTest::newRow("doubled separators") << "/srv//dl" << "/srv/dl/downloading/CD1/a";
    }
    void theRootFallsBackToTheDefaultAndIsCleaned()
    {
        QFETCH(QString, setting);
        QFETCH(QString, partialPath);
        TransfersTestWorld l_world;
        Settings::Set("download_folder", setting.toStdString());
        ItemPtr l_download = l_world.Manager().AddDownload("bob", "a", "Music\\CD1", 1, 0);
        QCOMPARE(l_world.Manager().GetDownloadTargetPath(l_download, false), partialPath);
    }

    void containment_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("inside");
        QTest::newRow("child") << "/a/b" << "/a/b/c" << true;
        QTest::newRow("base with slash") << "/a/b/" << "/a/b/c" << true;
        QTest::newRow("dot step") << "/a/b" << "/a/b/./c" << true;
        QTest::newRow("the base itself") << "/a/b" << "/a/b" << false;
        QTest::newRow("the base with slash") << "/a/b" << "/a/b/" << false;
        QTest::newRow("sibling with prefix") << "/a/b" << "/a/bc" << false;
        QTest::newRow("climbing out") << "/a/b" << "/a/b/../c" << false;
        QTest::newRow("climbing back in") << "/a/b" << "/a/b/x/../c" << true;
    }
    void containment()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(bool, inside);
        QCOMPARE(DownloadLayout::IsInside(base, path), inside);
    }

    void theCleanUpTakesOnlyEmptyCarriedFolders_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("other");  // another user's download of the folder
        QTest::addColumn<QStringList>("made");
        QTest::addColumn<QStringList>("gone");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("the carried levels") << QByteArray("Music\\Blue\\CD1") << 1 << "" << QStringList{"downloading/Blue/CD1/"}
                                            << QStringList{"downloading/Blue"} << QStringList{"downloading"};
        QTest::newRow("another user's unfinished download") << QByteArray("x\\y") << 1 << "queued"
                                                            << QStringList{"downloading/x/y/"} << QStringList{}
                                                            << QStringList{"downloading/x/y"};
        QTest::newRow("another user's finished download") << QByteArray("x\\y") << 1 << "complete"
                                                          << QStringList{"downloading/x/y/"}
                                                          << QStringList{"downloading/x"} << QStringList{};
        QTest::newRow("a file keeps its folders") << QByteArray("x\\y") << 1 << "" << QStringList{"downloading/x/y/part"}
                                                  << QStringList{} << QStringList{"downloading/x/y/part"};
        QTest::newRow("a sibling keeps the upper folder")
            << QByteArray("x\\y") << 1 << "" << QStringList{"downloading/x/y/", "downloading/x/z/"}
            << QStringList{"downloading/x/y"} << QStringList{"downloading/x/z"};
        QTest::newRow("hostile names stay below")
            << QByteArray("..\\..\\x") << 9 << "" << QStringList{"downloading/_/_/x/", "x/", "../outside/"}
            << QStringList{"downloading/_"} << QStringList{"downloading", "x", "../outside"};
        QTest::newRow("no folder: at most the partial folder")
            << QByteArray("") << 3 << "" << QStringList{"downloading/"} << QStringList{"downloading"} << QStringList{"."};
    }
    void theCleanUpTakesOnlyEmptyCarriedFolders()
    {
        QFETCH(QByteArray, folder);
        QFETCH(int, level);
        QFETCH(QString, other);
        QFETCH(QStringList, made);
        QFETCH(QStringList, gone);
        QFETCH(QStringList, kept);
        TransfersTestWorld l_world;
        // The root one level down, so that "../outside" stays in the test's folder.
        const QString l_root = l_world.DownloadRoot() + "/root";
        Settings::Set("download_folder", l_root.toStdString());
        for (const QString& l_path : made) {
            if (l_path.endsWith('/'))
                QDir().mkpath(l_root + "/" + l_path);
            else
                TransfersTestWorld::MakeFile(l_root + "/" + l_path);
        }
        TransferQueueManager& l_manager = l_world.Manager();
        ItemPtr l_download = l_manager.AddDownload("bob", "f", Bytes(folder), 1, level);
        l_manager.SetDownloadEntryStatus(l_download, TransferStatus::Complete);
        if (!other.isEmpty())
            l_manager.SetDownloadEntryStatus(l_manager.AddDownload("carol", "g", Bytes(folder), 1, level), other.toStdString());
        l_manager.RemoveDownloadDownloadingFolderIfAppropriate(l_download);
        for (const QString& l_path : gone)
            QVERIFY2(!QFileInfo::exists(l_root + "/" + l_path), qPrintable(l_path));
        for (const QString& l_path : kept)
            QVERIFY2(QFileInfo::exists(l_root + "/" + l_path), qPrintable(l_path));
    }
};

QTEST_MAIN(TestTransfersLayout)
#include "tst_transfers_layout.moc"
