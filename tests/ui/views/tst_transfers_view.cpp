#include "ActionBarButtons.h"
#include "TransfersViewWorld.h"

#include "core/persist/Settings.h"
#include "core/platform/DesktopOpener.h"
#include "transfers/TransferFigures.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/views/ProgressBarDelegate.h"
#include "ui/views/TransferProgressText.h"
#include "ui_TransfersForm.h"

#include <QMenu>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <map>
#include <string>
#include <utility>
#include <vector>

class TestTransfersView : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void rowsGroupedByUserAndFolder();
    void savedDownloadsAppearInQueueOrderOnceLoaded();
    void uploadRows();
    void newUploadsOfAShownUserGoInAtTheRefresh();
    void anAbortedUploadShowsWhyItFailed();
    void aggregateStatus_data();
    void aggregateStatus();
    void aggregatesFollowChangesAdditionsAndRemovals_data();
    void aggregatesFollowChangesAdditionsAndRemovals();
    void statusTextAndColour_data();
    void statusTextAndColour();
    void collapseShowsAggregateExpandClearsFigures();
    void removalTakesEmptyParentsAlong();
    void parentRowsShowTheRowsTheyHold_data();
    void parentRowsShowTheRowsTheyHold();
    void placeInLineUntilNextStatus();
    void offlineMarkOnDownloadsOnly();
    void clearingFinishedDownloads();
    void clearingFinishedUploads_data();
    void clearingFinishedUploads();
    void speedLimitBoxFollowsValue();
    void settingsSurviveRestartWithoutStoringOnLoad();
    void expandCommands();
    void progressTexts_data();
    void progressTexts();
    void progressReport();
    void speedGoesToDeepestVisibleRow_data();
    void speedGoesToDeepestVisibleRow();
    void userRowBarNeedsTwoFoldersWhenExpanded();
    void reportsWaitForTheRefresh();
    void stoppedTransferKeepsItsLastReport_data();
    void stoppedTransferKeepsItsLastReport();
    void uploadsFinishedBeforeTheirRowsShowTheirLastReport_data();
    void uploadsFinishedBeforeTheirRowsShowTheirLastReport();
    void anUploadWhoseRowAFloodHoldsBackShowsItsNewestReport_data();
    void anUploadWhoseRowAFloodHoldsBackShowsItsNewestReport();
    void doubleClickOpensFinishedFile();
    void contextMenuOverRowsOnly();
    void noMenuOnARowWhoseEntryLeft();
    void thousandRowsAndAPicture();

private:
    QStringList m_opened;
};

namespace
{
QColor TextColour(QTreeWidgetItem* ip_row)
{
    return ip_row->foreground(0).color();
}

// The row's bar as the user reads it: its text and value, or "" when the
// row shows none.
QString Bar(QTreeWidgetItem* ip_row)
{
    if (!ProgressBarDelegate::HasBar(ip_row, 4))
        return {};
    return QString("%1 = %2").arg(ProgressBarDelegate::BarText(ip_row, 4)).arg(ProgressBarDelegate::BarValue(ip_row, 4));
}

// A bare entry with only a status, for the aggregate rules.
ItemSet EntriesWithStatuses(const char* ip_entryType, const char* ip_statusType, const QStringList& i_statuses)
{
    ItemSet l_entries;
    for (const QString& l_status : i_statuses) {
        ItemPtr l_entry = d.GetType(ip_entryType)->NewItem();
        l_entry += d.GetType(ip_statusType)->GetItem(l_status.toStdString());
        l_entries.insert(l_entry);
    }
    return l_entries;
}
}  // namespace

void TestTransfersView::cleanup()
{
    SetDesktopOpener({});
    m_opened.clear();
}

void TestTransfersView::rowsGroupedByUserAndFolder()
{
    TransfersViewWorld l_world;
    l_world.AddDownload("alice", "music\\artist\\album", "a.mp3", 1234567);
    l_world.AddDownload("alice", "music\\artist\\album", "b.mp3", 0);
    l_world.AddDownload("alice", "other", "c.mp3", 10);
    l_world.AddDownload("bob", "music\\artist\\album", "d.mp3", 10);
    QCOMPARE(ViewRows::Outline(l_world.Downloads()),
             QStringList({"alice [offline]", "  album/artist/music", "    a.mp3 | queued | 1,234,567",
                          "    b.mp3 | queued", "  other", "    c.mp3 | queued | 10", "bob [offline]",
                          "  album/artist/music", "    d.mp3 | queued | 10"}));
    QCOMPARE(l_world.Downloads().headerItem()->text(8), QString("Place"));
    QCOMPARE(l_world.Uploads().columnCount(), 8);
}

void TestTransfersView::savedDownloadsAppearInQueueOrderOnceLoaded()
{
    QTemporaryDir l_folder;
    const QString l_file = l_folder.filePath("client.dat");
    {
        TransfersViewWorld l_world;
        for (const char* lp_name : {"first", "second", "third"})
            l_world.AddDownload("alice", "f", lp_name, 5);
        // Orders 3, 1, 2 in the file.
        const QStringList l_orders{"3", "1", "2"};
        int l_index = 0;
        for (const char* lp_name : {"first", "second", "third"}) {
            ItemPtr l_entry = l_world.Manager().GetDownloadEntry("alice", lp_name, "f");
            l_entry += d.GetType("download_order")->GetItem(l_orders[l_index++].toStdString());
        }
        l_world.World().Save(l_file);
    }
    TransfersViewWorld l_world(false);
    l_world.Load(l_file);
    QCOMPARE(ViewRows::Outline(l_world.Downloads()),
             QStringList({"alice [offline]", "  f", "    second | queued | 5", "    third | queued | 5",
                          "    first | queued | 5"}));
}

void TestTransfersView::uploadRows()
{
    TransfersViewWorld l_world;
    TransfersViewWorld::AddUpload("carol", "d:\\shared\\music", "song.mp3", 2048, "queued");
    TransfersViewWorld::AddUpload("carol", "d:\\shared\\music", "other\\name.ogg", 1, "uploading");
    // Uploads get their status from the next change, not at once.
    QCOMPARE(ViewRows::Outline(l_world.Uploads()),
             QStringList({"carol", "  music/shared/d:", "    song.mp3 | 2,048", "    name.ogg | 1"}));
    ItemPtr l_upload = d.GetType("upload_entry")->GetItems().Connected("upload_entry_status", "uploading");
    l_world.SetStatus(l_upload, "complete");
    QCOMPARE(ViewRows::Texts(l_world.Row(l_upload)).at(3), QString("complete"));
}

// Peers queue files one request at a time: the rows of new uploads of a
// user already shown go in below his row together at the next refresh,
// with the status that came meanwhile and without the uploads removed
// meanwhile. His rows stay when the rows they held go before it.
void TestTransfersView::newUploadsOfAShownUserGoInAtTheRefresh()
{
    TransfersViewWorld l_world;
    ItemPtr l_first = TransfersViewWorld::AddUpload("carol", "/video", "a.avi", 1);
    const QStringList l_before{"carol", "  video", "    a.avi | 1"};
    QCOMPARE(ViewRows::Outline(l_world.Uploads()), l_before);
    QTreeWidgetItem* lp_user = l_world.Uploads().topLevelItem(0);
    QTreeWidgetItem* lp_folder = lp_user->child(0);

    ItemPtr l_running = TransfersViewWorld::AddUpload("carol", "/video", "b.avi", 2);
    TransfersViewWorld::AddUpload("carol", "/music", "c.ogg", 3);
    ItemPtr l_gone = TransfersViewWorld::AddUpload("carol", "/video", "d.avi", 4);
    const QTreeWidget& l_tree = *l_world.Form()->uploadsList;
    QCOMPARE(ViewRows::Outline(l_tree), l_before);
    l_world.SetStatus(l_running, "uploading");
    l_world.Manager().RemoveUpload(l_gone);
    l_world.Manager().RemoveUpload(l_first);
    QCOMPARE(ViewRows::Outline(l_world.Uploads()),
             QStringList({"carol", "  video", "    b.avi | uploading | 2", "  music", "    c.ogg | 3"}));
    QCOMPARE(l_tree.topLevelItem(0), lp_user);
    QCOMPARE(lp_user->child(0), lp_folder);
}

void TestTransfersView::anAbortedUploadShowsWhyItFailed()
{
    TransfersViewWorld l_world;
    ItemPtr l_upload = TransfersViewWorld::AddUpload("carol", "d:\\shared", "song.mp3", 2048, "connecting");
    l_upload += d.GetType("upload_failure_reason")->GetItem("Cannot connect.");
    l_world.SetStatus(l_upload, "aborted");
    QCOMPARE(ViewRows::Texts(l_world.Row(l_upload)).at(3), QString("cannot connect."));
    // Run again, it fails for another reason: the old one is not shown.
    for (const char* lp_status : {"queued", "uploading", "aborted"})
        l_world.SetStatus(l_upload, lp_status);
    QCOMPARE(ViewRows::Texts(l_world.Row(l_upload)).at(3), QString("aborted"));
}

void TestTransfersView::aggregateStatus_data()
{
    QTest::addColumn<bool>("downloads");
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QString>("aggregate");
    QTest::newRow("all complete") << true << QStringList{"complete", "complete"} << "complete";
    QTest::newRow("none") << true << QStringList{} << "complete";
    QTest::newRow("queued wins over complete") << true << QStringList{"complete", "queued"} << "queued";
    QTest::newRow("active wins") << true << QStringList{"queued", "downloading", "denied"} << "downloading";
    QTest::newRow("denied before aborted") << true << QStringList{"denied", "aborted"} << "denied";
    QTest::newRow("aborted") << true << QStringList{"complete", "aborted"} << "aborted";
    QTest::newRow("local error") << true << QStringList{"complete", "local error"} << "";
    QTest::newRow("uploading") << false << QStringList{"connecting", "uploading"} << "uploading";
    QTest::newRow("requesting") << false << QStringList{"requesting"} << "";
}

void TestTransfersView::aggregateStatus()
{
    QFETCH(bool, downloads);
    QFETCH(QStringList, statuses);
    QFETCH(QString, aggregate);
    TransfersViewWorld l_world;
    ItemSet l_entries = downloads ? EntriesWithStatuses("download_entry", "download_entry_status", statuses)
                                  : EntriesWithStatuses("upload_entry", "upload_entry_status", statuses);
    const std::string l_result = downloads ? TransfersForm::GetDownloadEntriesAggregateStatus(l_entries)
                                           : TransfersForm::GetUploadEntriesAggregateStatus(l_entries);
    QCOMPARE(QString::fromStdString(l_result), aggregate);
}

void TestTransfersView::aggregatesFollowChangesAdditionsAndRemovals_data()
{
    QTest::addColumn<bool>("downloads");
    QTest::newRow("downloads") << true;
    QTest::newRow("uploads") << false;
}

// A reproducible walk of status changes, new entries and removals over two
// users with three folders each; the folder and user rows are collapsed, so
// that they show their aggregate, which must be what a fresh count of the
// entries under them gives.
void TestTransfersView::aggregatesFollowChangesAdditionsAndRemovals()
{
    QFETCH(bool, downloads);
    TransfersViewWorld l_world;
    TransfersForm& l_view = l_world.View();
    const std::string l_side = downloads ? "download" : "upload";
    for (const char* lp_rows : {"users", "folders"})
        l_view.OnActionBarTriggered("expand_" + l_side + "_" + lp_rows);
    const QStringList l_statuses{"queued",  downloads ? "downloading" : "uploading", "complete", "denied",
                                 "aborted", "local error", "connecting"};
    auto l_fresh = [&](QTreeWidgetItem* ip_row) {
        ItemSet l_under = downloads ? l_view.GetNodeDownloadEntryItems(ip_row) : l_view.GetNodeUploadEntryItems(ip_row);
        return QString::fromStdString(downloads ? TransfersForm::GetDownloadEntriesAggregateStatus(l_under)
                                                : TransfersForm::GetUploadEntriesAggregateStatus(l_under));
    };
    // What a row shows: its status text and colour.
    auto l_shown = [](QTreeWidgetItem* ip_row) { return QStringList{ip_row->text(3), TextColour(ip_row).name()}; };
    auto l_expected = [&](QTreeWidgetItem* ip_row) {
        QTreeWidgetItem l_sample(QStringList{QString()});
        TransfersForm::SetItemColorByStatus(&l_sample, l_fresh(ip_row));
        return QStringList{l_fresh(ip_row), TextColour(&l_sample).name()};
    };

    std::vector<ItemPtr> l_entries;
    int l_made = 0;
    quint32 l_seed = 12345;
    auto l_next = [&](std::size_t i_range) {
        l_seed = l_seed * 1103515245u + 12345u;
        return std::size_t(l_seed >> 16) % i_range;
    };
    for (int l_step = 0; l_step < 400; ++l_step) {
        const std::size_t l_choice = l_next(8);
        if (l_entries.size() < 4 || l_choice == 0) {
            // New entries come queued (uploads without being shown so).
            const std::string l_user = "user" + std::to_string(l_made % 2);
            const std::string l_folder = "f" + std::to_string(l_made % 3);
            const std::string l_file = "file" + std::to_string(l_made++);
            l_entries.push_back(downloads ? l_world.AddDownload(l_user, l_folder, l_file, 10)
                                          : TransfersViewWorld::AddUpload(l_user, "/" + l_folder, l_file, 10));
            continue;
        }
        const std::size_t l_index = l_next(l_entries.size());
        const ItemPtr l_entry = l_entries[l_index];
        QTreeWidgetItem* lp_folder = l_world.Row(l_entry)->parent();
        QTreeWidgetItem* lp_user = lp_folder->parent();
        if (l_choice == 1) {
            // The rows that stay show what they showed.
            const bool l_folderStays = lp_folder->childCount() > 1;
            const bool l_userStays = l_folderStays || lp_user->childCount() > 1;
            const QStringList l_folderBefore = l_shown(lp_folder);
            const QStringList l_userBefore = l_shown(lp_user);
            if (downloads)
                l_world.Manager().RemoveDownload(l_entry);
            else
                l_world.Manager().RemoveUpload(l_entry);
            l_entries.erase(l_entries.begin() + std::ptrdiff_t(l_index));
            if (l_folderStays)
                QCOMPARE(l_shown(lp_folder), l_folderBefore);
            if (l_userStays)
                QCOMPARE(l_shown(lp_user), l_userBefore);
            continue;
        }
        // Always another status: setting the same one again is no change.
        const QString l_old = QString::fromStdString(
            l_entry[downloads ? "download_entry_status" : "upload_entry_status"].AsString());
        const qsizetype l_offset = qsizetype(l_next(std::size_t(l_statuses.size() - 1)));
        const qsizetype l_new = (l_statuses.indexOf(l_old) + 1 + l_offset) % l_statuses.size();
        l_world.SetStatus(l_entry, l_statuses[l_new].toStdString());
        QCOMPARE(l_shown(lp_folder), l_expected(lp_folder));
        QCOMPARE(l_shown(lp_user), l_expected(lp_user));
    }
    // Collapsing again shows every row's aggregate, removals included.
    QTreeWidget& l_tree = downloads ? l_world.Downloads() : l_world.Uploads();
    for (int l_user = 0; l_user < l_tree.topLevelItemCount(); ++l_user) {
        QTreeWidgetItem* lp_user = l_tree.topLevelItem(l_user);
        std::vector<QTreeWidgetItem*> l_rows{lp_user};
        for (int l_folder = 0; l_folder < lp_user->childCount(); ++l_folder)
            l_rows.push_back(lp_user->child(l_folder));
        for (QTreeWidgetItem* lp_row : l_rows) {
            lp_row->setExpanded(true);
            lp_row->setExpanded(false);
            QCOMPARE(lp_row->text(3), l_fresh(lp_row));
        }
    }
}

void TestTransfersView::statusTextAndColour_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("complete") << "complete" << "complete" << QColor(0, 100, 0);
    QTest::newRow("downloading") << "downloading" << "downloading" << QColor(0, 0, 255);
    QTest::newRow("queued") << "queued" << "queued" << QColor(51, 102, 255);
    QTest::newRow("denied shows its reason") << "denied" << "file not shared." << QColor(255, 10, 71);
    QTest::newRow("aborted") << "aborted" << "aborted" << QColor(255, 10, 71);
    QTest::newRow("local error") << "local error" << "local error" << QColor(255, 10, 71);
    QTest::newRow("unknown") << "Odd" << "odd" << QColor(Qt::black);
}

void TestTransfersView::statusTextAndColour()
{
    QFETCH(QString, status);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    TransfersViewWorld l_world;
    ItemPtr l_entry = l_world.AddDownload("alice", "f", "a", 5);
    l_entry += d.GetType("denial_reason")->GetItem("File not shared.");
    l_world.SetStatus(l_entry, status.toStdString());
    QTreeWidgetItem* lp_row = l_world.Row(l_entry);
    QCOMPARE(lp_row->text(3), text);
    QCOMPARE(TextColour(lp_row), colour);
    QCOMPARE(lp_row->foreground(7).color(), colour);
    // The parents take the colour of their aggregate.
    QCOMPARE(TextColour(lp_row->parent()->parent()), status == "Odd" || status == "local error" ? QColor(Qt::black) : colour);
}

void TestTransfersView::collapseShowsAggregateExpandClearsFigures()
{
    TransfersViewWorld l_world;
    ItemPtr l_running = l_world.AddDownload("alice", "f", "a", 3000, "downloading");
    l_world.AddDownload("alice", "f", "b", 1000, "complete");
    QTreeWidgetItem* lp_folder = l_world.Row(l_running)->parent();
    lp_folder->setExpanded(false);
    QCOMPARE(lp_folder->text(3), QString("downloading"));
    l_world.Report(l_running, 1000, 1024);
    QVERIFY(!Bar(lp_folder).isEmpty());
    QCOMPARE(lp_folder->text(6), QString("1.0"));
    lp_folder->setExpanded(true);
    QCOMPARE(lp_folder->text(3), QString());
    QCOMPARE(lp_folder->text(5), QString());
    QCOMPARE(lp_folder->text(6), QString());
    QCOMPARE(Bar(lp_folder), QString());
    QCOMPARE(TextColour(lp_folder), QColor(0, 0, 255));
}

void TestTransfersView::removalTakesEmptyParentsAlong()
{
    TransfersViewWorld l_world;
    ItemPtr l_a = l_world.AddDownload("alice", "f", "a", 1000, "downloading");
    ItemPtr l_b = l_world.AddDownload("alice", "f", "b", 1000, "queued");
    ItemPtr l_c = l_world.AddDownload("alice", "g", "c", 1000, "queued");
    QTreeWidgetItem* lp_folder = l_world.Row(l_a)->parent();
    lp_folder->setExpanded(false);
    const QString l_before = lp_folder->text(3);
    l_world.Manager().RemoveDownload(l_a);
    // The row that stays keeps its figures until the next change.
    QCOMPARE(lp_folder->text(3), l_before);
    l_world.Manager().RemoveDownload(l_b);
    QCOMPARE(ViewRows::Outline(l_world.Downloads()),
             QStringList({"alice [offline]", "  g", "    c | queued | 1,000"}));
    l_world.Manager().RemoveDownload(l_c);
    QCOMPARE(l_world.Downloads().topLevelItemCount(), 0);
    QCOMPARE(d.GetType("download_list_user_node")->ItemCount() + d.GetType("download_list_folder_node")->ItemCount() +
                 d.GetType("download_list_node")->ItemCount(),
             std::size_t(0));
}

void TestTransfersView::parentRowsShowTheRowsTheyHold_data()
{
    // Entries as "file|folder|size|status|position|bytes a second"; "run"
    // is the running status of the side, position "-" no report at all.
    // Every entry is of user hal. After the entries before, those that
    // join come and those named go, and one refresh follows. The folder
    // "video" and the user show their bar, status and time left; the user,
    // on whose closed row the speeds were shown, its speed as well. Both
    // take the text colour of the entry named in "colourOf" (none: not
    // looked at).
    QTest::addColumn<bool>("downloads");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("joining");
    QTest::addColumn<QStringList>("leaving");
    QTest::addColumn<QStringList>("folder");
    QTest::addColumn<QStringList>("user");
    QTest::addColumn<QString>("colourOf");
    for (const bool l_downloads : {true, false}) {
        const QString l_side = l_downloads ? "downloads: " : "uploads: ";
        const QString l_running = l_downloads ? "downloading" : "uploading";
        const QStringList l_oneHalfDone{"a|video|100|run|50|1"};
        const QStringList l_finishedAndRunning{"twin|video|20971520|complete|20971520|0",
                                               "mix|video|10485760|run|3000000|81920"};
        const QStringList l_done{"20,971,520 (100.0%) = 100", "complete", "   0s"};
        QTest::newRow(qPrintable(l_side + "the running one goes beside a finished one"))
            << l_downloads << l_finishedAndRunning << QStringList() << QStringList{"mix"} << l_done
            << l_done + QStringList{"80.0"} << "twin";
        const QStringList l_quarter{"50 (25.0%) = 25", l_running, "   2m:30s"};
        QTest::newRow(qPrintable(l_side + "one joins before it reports"))
            << l_downloads << l_oneHalfDone << QStringList{"b|video|100|queued|-|0"} << QStringList() << l_quarter
            << l_quarter + QStringList{"0.0"} << "";
        QTest::newRow(qPrintable(l_side + "one joins another folder"))
            << l_downloads << l_oneHalfDone << QStringList{"b|music|100|queued|-|0"} << QStringList()
            << QStringList{"50 (50.0%) = 50", l_running, "   50s"} << l_quarter + QStringList{"0.0"} << "";
        QTest::newRow(qPrintable(l_side + "several join and one of them goes at once"))
            << l_downloads << l_oneHalfDone << QStringList{"b|video|100|queued|-|0", "c|video|300|queued|-|0"}
            << QStringList{"b"} << QStringList{"50 (12.5%) = 12", l_running, "   5m:50s"}
            << QStringList{"50 (12.5%) = 12", l_running, "   5m:50s", "0.0"} << "";
        const QStringList l_waiting{" (0.0%) = 0", "queued", "   0s"};
        QTest::newRow(qPrintable(l_side + "the running one goes, one that joined waits"))
            << l_downloads << l_oneHalfDone << QStringList{"b|video|100|queued|-|0"} << QStringList{"a"}
            << l_waiting << l_waiting + QStringList{"0.0"} << "";
        QTest::newRow(qPrintable(l_side + "what stays adds up to no bytes"))
            << l_downloads << QStringList{"a|video|100|run|50|1", "c|video|100|local error|-|0"}
            << QStringList() << QStringList{"a"} << QStringList{"", "", ""} << QStringList{"", "", "", "0.0"} << "";
    }
}

// Folder and user rows show the rows under them now, whatever came and
// went since the last report, and not the figures of rows that left.
void TestTransfersView::parentRowsShowTheRowsTheyHold()
{
    QFETCH(bool, downloads);
    QFETCH(QStringList, before);
    QFETCH(QStringList, joining);
    QFETCH(QStringList, leaving);
    QFETCH(QStringList, folder);
    QFETCH(QStringList, user);
    QFETCH(QString, colourOf);
    TransfersViewWorld l_world;
    const std::string l_side = downloads ? "download" : "upload";
    for (const char* lp_rows : {"users", "folders"})
        l_world.View().OnActionBarTriggered("expand_" + l_side + "_" + lp_rows);
    const std::string l_running = downloads ? "downloading" : "uploading";
    std::map<QString, ItemPtr> l_entries;
    auto l_add = [&](const QString& i_spec) {
        const QStringList l_fields = i_spec.split('|');
        const std::string l_file = l_fields[0].toStdString();
        const std::string l_folder = l_fields[1].toStdString();
        const qint64 l_size = l_fields[2].toLongLong();
        const std::string l_status = l_fields[3] == "run" ? l_running : l_fields[3].toStdString();
        const bool l_reports = l_fields[4] != "-";
        const std::string l_first = l_reports ? l_running : l_status;
        ItemPtr l_entry = downloads ? l_world.AddDownload("hal", l_folder, l_file, l_size, l_first)
                                    : TransfersViewWorld::AddUpload("hal", "/" + l_folder, l_file, l_size, l_first);
        if (l_reports) {
            l_world.Report(l_entry, l_fields[4].toLongLong(), l_fields[5].toInt());
            if (l_status != l_running)
                l_world.SetStatus(l_entry, l_status);
        }
        l_entries[l_fields[0]] = l_entry;
    };
    for (const QString& l_spec : before)
        l_add(l_spec);
    QTreeWidgetItem* lp_folder = l_world.Row(l_entries.begin()->second)->parent();
    QTreeWidgetItem* lp_user = lp_folder->parent();
    QVERIFY(!Bar(lp_folder).isEmpty());
    for (const QString& l_spec : joining)
        l_add(l_spec);
    for (const QString& l_file : leaving) {
        if (downloads)
            l_world.Manager().RemoveDownload(l_entries[l_file]);
        else
            l_world.Manager().RemoveUpload(l_entries[l_file]);
    }
    l_world.View().RefreshProgress();
    QCOMPARE((QStringList{Bar(lp_folder), lp_folder->text(3), lp_folder->text(5)}), folder);
    QCOMPARE((QStringList{Bar(lp_user), lp_user->text(3), lp_user->text(5), lp_user->text(6)}), user);
    if (!colourOf.isEmpty()) {
        for (QTreeWidgetItem* lp_row : {lp_folder, lp_user})
            QCOMPARE(TextColour(lp_row), TextColour(l_world.Row(l_entries[colourOf])));
    }
}

void TestTransfersView::placeInLineUntilNextStatus()
{
    TransfersViewWorld l_world;
    ItemPtr l_entry = l_world.AddDownload("alice", "f", "a", 1000);
    l_entry += d.GetType("place_in_line")->GetItem("3");
    QCOMPARE(l_world.Row(l_entry)->text(8), QString("3"));
    l_world.SetStatus(l_entry, "aborted");
    QCOMPARE(l_world.Row(l_entry)->text(8), QString());
}

void TestTransfersView::offlineMarkOnDownloadsOnly()
{
    TransfersViewWorld l_world;
    ItemPtr l_entry = l_world.AddDownload("dave", "f", "a", 1000);
    TransfersViewWorld::AddUpload("dave", "/s", "b", 1);
    QTreeWidgetItem* lp_user = l_world.Row(l_entry)->parent()->parent();
    QCOMPARE(lp_user->text(0), QString("dave [offline]"));
    TransfersTestWorld::SetOnline("dave");
    QCOMPARE(lp_user->text(0), QString("dave"));
    TransfersTestWorld::SetOnline("dave", false);
    QCOMPARE(lp_user->text(0), QString("dave [offline]"));
    QCOMPARE(l_world.Uploads().topLevelItem(0)->text(0), QString("dave"));
}

void TestTransfersView::clearingFinishedDownloads()
{
    QTemporaryDir l_folder;
    const QString l_file = l_folder.filePath("client.dat");
    {
        TransfersViewWorld l_world;
        ItemPtr l_kept = l_world.AddDownload("alice", "f", "kept", 5, "complete");
        QCoreApplication::processEvents();
        l_world.Form()->clearDownloadsCheckBox->setChecked(true);
        QCOMPARE(Settings::Get("clear_complete_downloads"), std::string("yes"));
        ItemPtr l_done = l_world.AddDownload("alice", "f", "done", 5, "complete");
        // Removed before its clearing runs: the queued call does nothing.
        ItemPtr l_gone = l_world.AddDownload("alice", "f", "gone", 5, "complete");
        l_world.Manager().RemoveDownload(l_gone);
        QVERIFY(l_world.Row(l_done));
        QTRY_VERIFY(d.GetType("download_entry")->GetItems().size() == 1);
        QVERIFY(!l_kept.IsNull() && l_world.Row(l_kept));
        l_world.World().Save(l_file);
    }
    // Downloads already complete when their rows are made go as well.
    TransfersViewWorld l_world(false);
    l_world.Load(l_file);
    QVERIFY(l_world.Form()->clearDownloadsCheckBox->isChecked());
    QTRY_COMPARE(d.GetType("download_entry")->ItemCount(), std::size_t(0));
    QCOMPARE(l_world.Downloads().topLevelItemCount(), 0);
}

void TestTransfersView::clearingFinishedUploads_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<qint64>("sinceChange");
    QTest::addColumn<int>("secondsSinceReceipt");
    QTest::addColumn<bool>("removed");
    QTest::newRow("just under five minutes") << "complete" << qint64(299999) << -1 << false;
    QTest::newRow("five minutes") << "complete" << qint64(300000) << -1 << true;
    QTest::newRow("aborted long ago") << "aborted" << qint64(3600000) << -1 << true;
    QTest::newRow("queued, however old") << "queued" << qint64(3600000) << -1 << false;
    QTest::newRow("data a minute ago") << "uploading" << qint64(600000) << 60 << false;
    QTest::newRow("data six minutes ago") << "uploading" << qint64(600000) << 360 << true;
}

void TestTransfersView::clearingFinishedUploads()
{
    QFETCH(QString, status);
    QFETCH(qint64, sinceChange);
    QFETCH(int, secondsSinceReceipt);
    QFETCH(bool, removed);
    TransfersViewWorld l_world;
    qint64 l_now = 1000;
    l_world.Manager().SetClock([&l_now] { return l_now; });
    ItemPtr l_upload = TransfersViewWorld::AddUpload("erin", "/s", "a", 10);
    l_world.SetStatus(l_upload, status.toStdString());
    if (secondsSinceReceipt >= 0)
        TransferFigures::Attach(l_upload, "last_receipt_time",
                                QDateTime::currentDateTime().addSecs(-secondsSinceReceipt));
    l_now += sinceChange;

    // Nothing goes while the switch is off.
    l_world.View().EveryHalfMinute();
    QCOMPARE(d.GetType("upload_entry")->ItemCount(), std::size_t(1));
    l_world.Form()->clearUploadsCheckBox->setChecked(true);
    l_world.View().EveryHalfMinute();
    QCOMPARE(d.GetType("upload_entry")->ItemCount(), std::size_t(removed ? 0 : 1));
    QCOMPARE(l_world.Uploads().topLevelItemCount(), removed ? 0 : 1);
}

void TestTransfersView::speedLimitBoxFollowsValue()
{
    TransfersViewWorld l_world;
    Ui::TransfersForm* lp_form = l_world.Form();
    lp_form->uploadLimitSpinBox->setValue(5);
    QVERIFY(lp_form->uploadLimitCheckBox->isChecked());
    QCOMPARE(Settings::Get("upload_speed_limit_enabled"), std::string("yes"));
    QCOMPARE(Settings::Get("upload_speed_limit"), std::string("5"));
    lp_form->uploadLimitSpinBox->setValue(0);
    QVERIFY(!lp_form->uploadLimitCheckBox->isChecked());
    QCOMPARE(Settings::Get("upload_speed_limit_enabled"), std::string("no"));
    QCOMPARE(Settings::Get("upload_speed_limit"), std::string("0"));
    // The form's own ranges.
    lp_form->uploadSlotsSpinBox->setValue(0);
    QCOMPARE(lp_form->uploadSlotsSpinBox->value(), 1);
    lp_form->uploadSlotsSpinBox->setValue(100);
    QCOMPARE(Settings::Get("upload_slots"), std::string("99"));
    lp_form->uploadLimitSpinBox->setValue(100000);
    QCOMPARE(Settings::Get("upload_speed_limit"), std::string("99999"));
}

void TestTransfersView::settingsSurviveRestartWithoutStoringOnLoad()
{
    QTemporaryDir l_folder;
    const QString l_file = l_folder.filePath("client.dat");
    {
        TransfersViewWorld l_world;
        Ui::TransfersForm* lp_form = l_world.Form();
        lp_form->uploadSlotsSpinBox->setValue(4);
        lp_form->uploadLimitSpinBox->setValue(250);
        lp_form->clearUploadsCheckBox->setChecked(true);
        lp_form->clearDownloadsCheckBox->setChecked(true);
        lp_form->clearDownloadsCheckBox->setChecked(false);
        // Switched off is no value, not "no".
        QVERIFY(!d.GetType("global")->GetItem("clear_complete_downloads").IsConnected("global_value"));
        // A value the widgets would clamp must come back as it was stored.
        Settings::Set("upload_slots", "0");
        l_world.World().Save(l_file);
    }
    TransfersViewWorld l_world(false);
    l_world.Load(l_file);
    Ui::TransfersForm* lp_form = l_world.Form();
    QCOMPARE(lp_form->uploadLimitSpinBox->value(), 250);
    QVERIFY(lp_form->uploadLimitCheckBox->isChecked());
    QVERIFY(lp_form->clearUploadsCheckBox->isChecked());
    QVERIFY(!lp_form->clearDownloadsCheckBox->isChecked());
    // Filling the spin box clamped 0 to 1 and stored nothing.
    QCOMPARE(lp_form->uploadSlotsSpinBox->value(), 1);
    QCOMPARE(Settings::Get("upload_slots"), std::string("0"));
    QVERIFY(!d.GetType("global")->GetItem("clear_complete_downloads").IsConnected("global_value"));
}

void TestTransfersView::expandCommands()
{
    TransfersViewWorld l_world;
    ItemPtr l_entry = l_world.AddDownload("alice", "f", "a", 5);
    QTreeWidgetItem* lp_folder = l_world.Row(l_entry)->parent();
    QCOMPARE(BarButtons(l_world.Downloads(), "downloads"),
             QStringList({"Expand Folders [on]", "Expand Users [on]", "Complete Downloads"}));
    l_world.View().OnActionBarTriggered("expand_download_folders");
    QVERIFY(!lp_folder->isExpanded());
    QVERIFY(lp_folder->parent()->isExpanded());
    QCOMPARE(BarButtons(l_world.Downloads(), "downloads").first(), QString("Expand Folders [off]"));
    // New rows follow the flags.
    ItemPtr l_other = l_world.AddDownload("alice", "g", "b", 5);
    QVERIFY(!l_world.Row(l_other)->parent()->isExpanded());
    l_world.View().OnActionBarTriggered("expand_download_folders");
    QVERIFY(lp_folder->isExpanded());
    QCOMPARE(BarButtons(l_world.Downloads(), "downloads").first(), QString("Expand Folders [on]"));

    TransfersViewWorld::AddUpload("bob", "/s", "c", 1);
    l_world.View().OnActionBarTriggered("expand_upload_users");
    QVERIFY(!l_world.Uploads().topLevelItem(0)->isExpanded());
    QCOMPARE(BarButtons(l_world.Uploads(), "uploads"), QStringList({"Expand Folders [on]", "Expand Users [off]"}));
    QVERIFY(lp_folder->parent()->isExpanded());
}

void TestTransfersView::progressTexts_data()
{
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("bytesPerSecond");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("timeLeft");
    QTest::newRow("a quarter") << qint64(1048576) << qint64(4194304) << qint64(2048) << "1,048,576 (25.0%)" << 25
                               << "2.0" << "   25m:36s";
    QTest::newRow("nothing yet") << qint64(0) << qint64(1000) << qint64(0) << " (0.0%)" << 0 << "0.0" << "   0s";
    QTest::newRow("rounding down") << qint64(1234567) << qint64(2725313) << qint64(1536) << "1,234,567 (45.3%)" << 45
                                   << "1.5" << "   16m:10s";
    QTest::newRow("59 seconds") << qint64(0) << qint64(59) << qint64(1) << " (0.0%)" << 0 << "0.0" << "   59s";
    QTest::newRow("one minute") << qint64(0) << qint64(60) << qint64(1) << " (0.0%)" << 0 << "0.0" << "   1m:0s";
    QTest::newRow("hours") << qint64(0) << qint64(3725) << qint64(1) << " (0.0%)" << 0 << "0.0" << "   1h:2m:5s";
    QTest::newRow("past a day") << qint64(0) << qint64(90000) << qint64(1) << " (0.0%)" << 0 << "0.0"
                                << "   25h:0m:0s";
    QTest::newRow("empty file is done") << qint64(0) << qint64(0) << qint64(10) << " (100.0%)" << 100 << "0.0"
                                        << "   0s";
    QTest::newRow("negative speed") << qint64(5) << qint64(10) << qint64(-3) << "5 (50.0%)" << 50 << "-0.0"
                                    << "   0s";
}

void TestTransfersView::progressTexts()
{
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(qint64, bytesPerSecond);
    QFETCH(QString, progress);
    QFETCH(int, percent);
    QFETCH(QString, speed);
    QFETCH(QString, timeLeft);
    QCOMPARE(TransferProgressText::Progress(done, total), progress);
    QCOMPARE(TransferProgressText::Percent(done, total), percent);
    QCOMPARE(TransferProgressText::Speed(bytesPerSecond), speed);
    QCOMPARE(TransferProgressText::TimeLeft(total - done, bytesPerSecond), timeLeft);
}

void TestTransfersView::progressReport()
{
    TransfersViewWorld l_world;
    l_world.View().OnActionBarTriggered("expand_download_folders");
    ItemPtr l_running = l_world.AddDownload("alice", "f", "a", 3000, "downloading");
    l_world.AddDownload("alice", "f", "b", 1000, "complete");
    l_world.AddDownload("alice", "f", "c", 7000, "denied");
    l_world.AddDownload("alice", "f", "d", 9000, "local error");
    l_world.Report(l_running, 1000, 2048);
    QTreeWidgetItem* lp_row = l_world.Row(l_running);
    QCOMPARE(Bar(lp_row), QString("1,000 (33.3%) = 33"));
    QCOMPARE(lp_row->text(5), QString("   0s"));
    // The folder adds the finished file whole and leaves out the others.
    QTreeWidgetItem* lp_folder = lp_row->parent();
    QCOMPARE(Bar(lp_folder), QString("2,000 (50.0%) = 50"));
    QCOMPARE(lp_folder->text(6), QString("2.0"));
    // A zero-size file shows done, not a broken figure.
    ItemPtr l_empty = l_world.AddDownload("bob", "g", "empty", 0, "downloading");
    l_world.Report(l_empty, 0, 0);
    QCOMPARE(Bar(l_world.Row(l_empty)), QString(" (100.0%) = 100"));
    // Finishing empties the file row's text and keeps its bar.
    l_world.SetStatus(l_running, "complete");
    QCOMPARE(Bar(lp_row), QString("1,000 (33.3%) = 33"));
    QCOMPARE(lp_row->text(4), QString());
}

void TestTransfersView::speedGoesToDeepestVisibleRow_data()
{
    QTest::addColumn<bool>("userExpanded");
    QTest::addColumn<bool>("folderExpanded");
    QTest::addColumn<int>("row");
    QTest::newRow("user collapsed") << false << true << 0;
    QTest::newRow("folder collapsed") << true << false << 1;
    QTest::newRow("both expanded") << true << true << 2;
}

void TestTransfersView::speedGoesToDeepestVisibleRow()
{
    QFETCH(bool, userExpanded);
    QFETCH(bool, folderExpanded);
    QFETCH(int, row);
    TransfersViewWorld l_world;
    ItemPtr l_entry = l_world.AddDownload("alice", "f", "a", 3000, "downloading");
    QTreeWidgetItem* lp_file = l_world.Row(l_entry);
    QTreeWidgetItem* const lp_rows[] = {lp_file->parent()->parent(), lp_file->parent(), lp_file};
    lp_rows[1]->setExpanded(folderExpanded);
    lp_rows[0]->setExpanded(userExpanded);
    l_world.Report(l_entry, 0, 1536);
    for (int l_row = 0; l_row < 3; ++l_row)
        QCOMPARE(lp_rows[l_row]->text(6), QString(l_row == row ? "1.5" : ""));
}

void TestTransfersView::userRowBarNeedsTwoFoldersWhenExpanded()
{
    TransfersViewWorld l_world;
    ItemPtr l_entry = l_world.AddDownload("alice", "f", "a", 3000, "downloading");
    QTreeWidgetItem* lp_user = l_world.Row(l_entry)->parent()->parent();
    l_world.Report(l_entry, 100, 10);
    QCOMPARE(Bar(lp_user), QString());
    l_world.AddDownload("alice", "g", "b", 1000, "queued");
    l_world.Report(l_entry, 200, 10);
    QCOMPARE(Bar(lp_user), QString("200 (5.0%) = 5"));
    QCOMPARE(lp_user->text(5), QString("   6m:20s"));
}

void TestTransfersView::reportsWaitForTheRefresh()
{
    TransfersViewWorld l_world;
    ItemPtr l_first = l_world.AddDownload("alice", "f", "a", 1000, "downloading");
    ItemPtr l_second = l_world.AddDownload("alice", "f", "b", 1000, "downloading");
    QTreeWidgetItem* lp_folder = l_world.Row(l_first)->parent();
    l_world.Report(l_first, 100, 10);
    QCOMPARE(Bar(lp_folder), QString("100 (5.0%) = 5"));
    // Several reports, one of an entry that goes before the refresh.
    l_world.Report(l_first, 300, 10, false);
    l_world.Report(l_second, 500, 20, false);
    l_world.Report(l_first, 400, 30, false);
    QCOMPARE(Bar(l_world.Row(l_first)), QString("100 (10.0%) = 10"));
    l_world.Manager().RemoveDownload(l_second);
    QTRY_COMPARE(Bar(l_world.Row(l_first)), QString("400 (40.0%) = 40"));
    QCOMPARE(Bar(lp_folder), QString("400 (40.0%) = 40"));
    QCOMPARE(lp_folder->parent()->text(6), QString());
    QCOMPARE(l_world.Row(l_first)->text(6), QString("0.0"));
}

void TestTransfersView::stoppedTransferKeepsItsLastReport_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("bar");
    QTest::addColumn<QString>("timeLeft");
    QTest::newRow("download ends whole") << true << qint64(5000) << "complete" << "5,000 (100.0%) = 100" << "   0s";
    QTest::newRow("upload ends whole") << false << qint64(5000) << "complete" << "5,000 (100.0%) = 100" << "   0s";
    QTest::newRow("download breaks off") << true << qint64(1000) << "aborted" << "1,000 (20.0%) = 20" << "   3s";
    QTest::newRow("upload breaks off") << false << qint64(1000) << "aborted" << "1,000 (20.0%) = 20" << "   3s";
}

// The transfer's last report still waits for the refresh when it stops and
// lets go of its figures: the row shows that report, and nothing later.
void TestTransfersView::stoppedTransferKeepsItsLastReport()
{
    QFETCH(bool, download);
    QFETCH(qint64, position);
    QFETCH(QString, status);
    QFETCH(QString, bar);
    QFETCH(QString, timeLeft);
    TransfersViewWorld l_world;
    ItemPtr l_entry = download ? l_world.AddDownload("alice", "f", "a", 5000, "downloading")
                               : TransfersViewWorld::AddUpload("alice", "/s", "a", 5000, "uploading");
    QTreeWidgetItem* lp_row = l_world.Row(l_entry);
    l_world.Report(l_entry, 100, 512);
    l_world.Report(l_entry, position, 1024, false);
    l_world.SetStatus(l_entry, status.toStdString());
    QVERIFY(!TransferFigures::Of<TransferFigures::Speed>(l_entry, "bytes_per_second"));
    auto l_shown = [&] { return QStringList{Bar(lp_row), lp_row->text(5), lp_row->text(6), Bar(lp_row->parent())}; };
    const QStringList l_expected{bar, timeLeft, "1.0", bar};
    QCOMPARE(l_shown(), l_expected);
    l_world.View().RefreshProgress();
    QCOMPARE(l_shown(), l_expected);
}

void TestTransfersView::uploadsFinishedBeforeTheirRowsShowTheirLastReport_data()
{
    QTest::addColumn<bool>("pageShown");
    QTest::addColumn<bool>("treeFirst");
    QTest::newRow("page shown, rows made at the page's refresh") << true << false;
    QTest::newRow("page shown, rows made at the tree's change") << true << true;
    QTest::newRow("page hidden, rows made at the page's refresh") << false << false;
    QTest::newRow("page hidden, rows made at the tree's change") << false << true;
}

// A user takes four files from two folders at once: the first one's rows
// join the tree before the others come, whose rows then wait for its next
// change. All four run, report their last bytes and finish before it: the
// rows made late show that report as the row made in time does, the file
// whole, and the folders add them up. The tree's change makes the rows
// either at the page's refresh or on its own before it (treeFirst).
void TestTransfersView::uploadsFinishedBeforeTheirRowsShowTheirLastReport()
{
    QFETCH(bool, pageShown);
    QFETCH(bool, treeFirst);
    TransfersViewWorld l_world;
    TransfersForm& l_view = l_world.View();
    if (pageShown) {
        l_world.Form()->transfersTabControl->setCurrentIndex(1);
        l_view.resize(1100, 400);
        l_view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&l_view));
    }
    const QTreeWidget& l_tree = *l_world.Form()->uploadsList;
    std::vector<ItemPtr> l_uploads;
    for (const auto& [lp_folder, lp_file] : {std::pair{"/share/live", "a.ogg"}, std::pair{"/share/live", "b.ogg"},
                                             std::pair{"/share/demo", "c.ogg"}, std::pair{"/share/demo", "d.ogg"}}) {
        l_uploads.push_back(TransfersViewWorld::AddUpload("ivy", lp_folder, lp_file, 300000));
        if (l_uploads.size() == 1)
            l_view.ApplyTreeUpdates();
    }
    QCOMPARE(ViewRows::Outline(l_tree), QStringList({"ivy", "  live/share", "    a.ogg | 300,000"}));
    for (const ItemPtr& l_upload : l_uploads) {
        l_world.SetStatus(l_upload, "uploading");
        l_world.Report(l_upload, 300000, 102400, false);
        l_world.SetStatus(l_upload, "complete");
    }
    if (treeFirst)
        l_view.ApplyTreeUpdates();
    l_view.RefreshProgress();

    const QString l_file = "%1 | complete |    0s | 100.0 | 300,000";
    QCOMPARE(ViewRows::Outline(l_tree),
             QStringList({"ivy |    0s", "  live/share |    0s", "    " + l_file.arg("a.ogg"),
                          "    " + l_file.arg("b.ogg"), "  demo/share |    0s", "    " + l_file.arg("c.ogg"),
                          "    " + l_file.arg("d.ogg")}));
    for (const ItemPtr& l_upload : l_uploads) {
        QTreeWidgetItem* lp_row = l_world.Row(l_upload);
        QCOMPARE(Bar(lp_row), QString("300,000 (100.0%) = 100"));
        QCOMPARE(Bar(lp_row->parent()), QString("600,000 (100.0%) = 100"));
    }
    QCOMPARE(Bar(l_tree.topLevelItem(0)), QString("1,200,000 (100.0%) = 100"));
}

void TestTransfersView::anUploadWhoseRowAFloodHoldsBackShowsItsNewestReport_data()
{
    QTest::addColumn<bool>("pageShown");
    QTest::addColumn<QStringList>("restart");
    QTest::addColumn<QList<qint64>>("before");
    QTest::addColumn<QList<qint64>>("after");
    QTest::addColumn<QList<QStringList>>("shown");
    const QStringList l_whole{"    b.ogg | complete |    0s | 100.0 | 300,000", "300,000 (100.0%) = 100",
                              "600,000 (100.0%) = 100"};
    const QStringList l_fifth{"    b.ogg | uploading |    11s | 20.0 | 300,000", "60,000 (20.0%) = 20",
                              "360,000 (60.0%) = 60"};
    const QStringList l_half{"    b.ogg | uploading |    7s | 20.0 | 300,000", "150,000 (50.0%) = 50",
                             "450,000 (75.0%) = 75"};
    for (const bool l_pageShown : {true, false}) {
        const char* lp_page = l_pageShown ? "page shown" : "page hidden";
        QTest::addRow("finished, %s", lp_page)
            << l_pageShown << QStringList() << QList<qint64>() << QList<qint64>() << QList<QStringList>{l_whole};
        QTest::addRow("queued again and restarted, %s", lp_page)
            << l_pageShown << QStringList({"queued", "uploading"}) << QList<qint64>{60000} << QList<qint64>{150000}
            << QList<QStringList>{l_fifth, l_half};
    }
}

// Strangers' uploads keep leaving the tree, so that its changes wait for the
// flood interval, while ivy's second file waits for its row. The page
// refreshes during the flood with the file's report of its end waiting, then
// the file finishes; it may be queued again (restart) and run anew,
// reporting (before) with the page refreshing meanwhile. Once the flood lets
// the row be made, it shows the newest report, of the file whole or of the
// new run, with the folder's sums, and each later report (after) moves it
// on. shown: the file's line, its bar and the folder's bar, once the row is
// made, then after each later report.
void TestTransfersView::anUploadWhoseRowAFloodHoldsBackShowsItsNewestReport()
{
    QFETCH(bool, pageShown);
    QFETCH(QStringList, restart);
    QFETCH(QList<qint64>, before);
    QFETCH(QList<qint64>, after);
    QFETCH(QList<QStringList>, shown);
    TransfersViewWorld l_world;
    TransfersForm& l_view = l_world.View();
    qint64 l_now = 1000000;
    l_view.SetTreeClock([&] { return l_now; });
    if (pageShown) {
        l_world.Form()->transfersTabControl->setCurrentIndex(1);
        l_view.resize(1100, 400);
        l_view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&l_view));
    }
    QTreeWidget& l_tree = *l_world.Form()->uploadsList;
    ItemPtr l_first = TransfersViewWorld::AddUpload("x1", "/share/s", "s1.ogg", 10);
    ItemPtr l_second = TransfersViewWorld::AddUpload("x2", "/share/s", "s2.ogg", 10);
    ItemPtr l_ivysFirst = TransfersViewWorld::AddUpload("ivy", "/share/live", "a.ogg", 300000, "complete");
    l_view.ApplyTreeUpdates();
    l_world.Manager().RemoveUpload(l_first);
    l_view.ApplyTreeUpdates();
    l_world.Manager().RemoveUpload(l_second);
    ItemPtr l_upload = TransfersViewWorld::AddUpload("ivy", "/share/live", "b.ogg", 300000);
    l_world.SetStatus(l_upload, "uploading");
    l_world.Report(l_upload, 300000, 102400, false);
    l_view.RefreshProgress();
    auto l_rowsOf = [&](const char* ip_file) {
        QList<QTreeWidgetItem*> l_rows;
        for (QTreeWidgetItemIterator l_row(&l_tree); *l_row; ++l_row) {
            if (ViewRows::Texts(*l_row).contains(ip_file))
                l_rows.append(*l_row);
        }
        return l_rows;
    };
    // Without the flood the refresh would have made the row.
    QVERIFY(l_rowsOf("b.ogg").isEmpty());
    l_world.SetStatus(l_upload, "complete");
    for (const QString& l_status : restart)
        l_world.SetStatus(l_upload, l_status.toStdString());
    for (const qint64 l_position : before)
        l_world.Report(l_upload, l_position, 20480, false);
    l_view.RefreshProgress();
    QVERIFY(l_rowsOf("b.ogg").isEmpty());

    l_now += TransfersForm::FloodIntervalMs;
    l_view.RefreshProgress();
    const QList<QTreeWidgetItem*> l_rows = l_rowsOf("b.ogg");
    QCOMPARE(l_rows.size(), 1);
    auto l_shown = [&] {
        return QStringList{ViewRows::Outline(l_tree).filter("b.ogg").join(QString()), Bar(l_rows.front()),
                           Bar(l_rows.front()->parent())};
    };
    QCOMPARE(l_shown(), shown.front());
    for (qsizetype l_report = 0; l_report < after.size(); ++l_report) {
        l_world.Report(l_upload, after[l_report], 20480);
        QCOMPARE(l_shown(), shown[l_report + 1]);
    }
    QVERIFY(l_ivysFirst);
}

void TestTransfersView::doubleClickOpensFinishedFile()
{
    SetDesktopOpener([this](const QUrl& i_url) {
        m_opened << i_url.toLocalFile();
        return true;
    });
    TransfersViewWorld l_world;
    ItemPtr l_entry = l_world.AddDownload("alice", "Music\\Album", "a.mp3", 5);
    QTreeWidgetItem* lp_row = l_world.Row(l_entry);
    emit l_world.Downloads().itemDoubleClicked(lp_row->parent(), 0);
    emit l_world.Downloads().itemDoubleClicked(lp_row->parent()->parent(), 0);
    QVERIFY(m_opened.isEmpty());
    emit l_world.Downloads().itemDoubleClicked(lp_row, 3);
    QCOMPARE(m_opened, QStringList({l_world.World().DownloadRoot() + "/complete/Album/a.mp3"}));
}

void TestTransfersView::contextMenuOverRowsOnly()
{
    TransfersViewWorld l_world;
    ItemPtr l_entry = l_world.AddDownload("alice", "f", "a", 5);
    l_world.View().resize(800, 400);
    l_world.View().show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_world.View()));
    QStringList l_entries;
    int l_menus = 0;
    auto l_readMenu = [&] {
        if (auto* lp_menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            ++l_menus;
            for (QAction* lp_action : lp_menu->actions())
                l_entries << (lp_action->isSeparator() ? QString("-") : lp_action->text());
            lp_menu->close();
        }
    };
    QTimer l_reader;
    connect(&l_reader, &QTimer::timeout, l_readMenu);
    l_reader.start(10);
    QTreeWidget& l_tree = l_world.Downloads();
    emit l_tree.customContextMenuRequested(QPoint(5, l_tree.viewport()->height() - 5));
    emit l_world.Uploads().customContextMenuRequested(QPoint(5, 5));
    QCOMPARE(l_menus, 0);
    const QRect l_userRow = l_tree.visualItemRect(l_world.Row(l_entry)->parent()->parent());
    emit l_tree.customContextMenuRequested(l_userRow.center());
    QCOMPARE(l_menus, 1);
    // The download entries, then the commands on the row's user.
    QCOMPARE(l_entries, QStringList({"Open Folder", "-", "Remove download", "-", "Message user", "Add user to list",
                                     "Browse user's files", "-", "Unshare files from user"}));

    // An upload's menu is its user's alone, from any row of the user.
    l_entries.clear();
    ItemPtr l_upload = TransfersViewWorld::AddUpload("bert", "/shares/Set", "b.mp3", 7);
    d.GetType("user")->GetItem("bert").NewItem("in_user_list");
    QTreeWidgetItem* lp_uploadRow = l_world.Row(l_upload);
    QVERIFY(lp_uploadRow);
    l_world.Form()->transfersTabControl->setCurrentIndex(1);
    QTRY_VERIFY(l_world.Uploads().isVisible());
    emit l_world.Uploads().customContextMenuRequested(l_world.Uploads().visualItemRect(lp_uploadRow).center());
    QCOMPARE(l_menus, 2);
    QCOMPARE(l_entries, QStringList({"Message user", "Set user's groups", "Remove user from list",
                                     "Browse user's files", "-", "Unshare files from user"}));
}

// A finished download cleared while the page shows: its rows stay on
// screen until the tree lets them go, with no entry and no user behind
// them, and a right-click on any of them opens nothing.
void TestTransfersView::noMenuOnARowWhoseEntryLeft()
{
    TransfersViewWorld l_world;
    ItemPtr l_entry = l_world.AddDownload("alice", "f", "a", 5, "downloading");
    QTreeWidgetItem* lp_file = l_world.Row(l_entry);
    const std::vector<QTreeWidgetItem*> l_rows{lp_file->parent()->parent(), lp_file->parent(), lp_file};
    l_world.View().resize(800, 400);
    l_world.View().show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_world.View()));
    l_world.Form()->clearDownloadsCheckBox->setChecked(true);
    l_world.SetStatus(l_entry, "complete");
    // The clearing, queued by the completion, runs; the tree's own refresh
    // does not.
    QCoreApplication::sendPostedEvents(&l_world.View(), QEvent::MetaCall);
    QCOMPARE(d.GetType("download_entry")->ItemCount(), std::size_t(0));
    QTreeWidget& l_tree = *l_world.Form()->downloadsList;
    QCOMPARE(l_tree.topLevelItem(0), l_rows.front());

    // Were a menu to open, the user would add its user to the list.
    int l_menus = 0;
    QTimer l_reader;
    connect(&l_reader, &QTimer::timeout, [&] {
        if (auto* lp_menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            ++l_menus;
            for (QAction* lp_action : lp_menu->actions()) {
                if (lp_action->text() == "Add user to list")
                    lp_action->trigger();
            }
            lp_menu->close();
        }
    });
    l_reader.start(10);
    for (QTreeWidgetItem* lp_row : l_rows) {
        QCOMPARE(l_tree.itemAt(l_tree.visualItemRect(lp_row).center()), lp_row);
        emit l_tree.customContextMenuRequested(l_tree.visualItemRect(lp_row).center());
    }
    QCOMPARE(l_menus, 0);
    for (QWidget* lp_window : QApplication::topLevelWidgets())
        QVERIFY2(!lp_window->isVisible() || !lp_window->windowTitle().startsWith("User Groups"),
                 qPrintable(lp_window->windowTitle()));
    const ItemPtr l_nameless = d.GetType("user")->HasItem("");
    QVERIFY(l_nameless.IsNull() || !l_nameless.IsConnected("in_user_list"));
    // The rows go at the tree's refresh.
    QTRY_COMPARE(l_tree.topLevelItemCount(), 0);
}

void TestTransfersView::thousandRowsAndAPicture()
{
    TransfersViewWorld l_world;
    const char* const l_statuses[] = {"queued", "downloading", "complete", "aborted", "denied", "local error"};
    for (int l_index = 0; l_index < 1000; ++l_index) {
        const std::string l_user = "user" + std::to_string(l_index % 37);
        const std::string l_folder = "music\\set" + std::to_string(l_index % 5);
        ItemPtr l_entry = l_world.AddDownload(l_user, l_folder, "file" + std::to_string(l_index) + ".mp3",
                                              1000 + l_index, l_statuses[l_index % 6]);
        if (l_index % 6 == 1)
            l_world.Report(l_entry, l_index, 1000 * l_index);
    }
    QCOMPARE(d.GetType("download_list_node")->ItemCount(), std::size_t(1000));
    QCOMPARE(l_world.Downloads().topLevelItemCount(), 37);
    l_world.View().OnActionBarTriggered("expand_download_users");
    l_world.View().OnActionBarTriggered("expand_download_users");
    l_world.View().resize(1100, 500);
    l_world.View().show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_world.View()));
    const QString l_picture = QCoreApplication::applicationDirPath() + "/transfers_view.png";
    QVERIFY(l_world.View().grab().save(l_picture));
    for (Item* lp_entry : d.GetType("download_entry")->GetItems())
        l_world.Manager().RemoveDownload(lp_entry);
    QCOMPARE(l_world.Downloads().topLevelItemCount(), 0);
}

QTEST_MAIN(TestTransfersView)
#include "tst_transfers_view.moc"
