// The "Complete" tab of the Transfers page: how it is opened, and the
// finished downloads it lists, newest first.
#include "TransfersViewWorld.h"

#include "ui/views/CompleteDownloadsForm.h"
#include "ui_CompleteDownloadsForm.h"
#include "ui_TransfersForm.h"

#include <QTreeWidget>
#include <QtTest>

namespace
{
// Completion times as the manager writes them, in seconds after a fixed moment.
std::string TimeText(int i_seconds)
{
    return QDateTime(QDate(2024, 5, 1), QTime(12, 0)).addSecs(i_seconds).toString(Qt::TextDate).toStdString();
}

// A record as the manager makes it when a download finishes.
ItemPtr MakeRecord(const std::string& i_user, const std::string& i_folder, const std::string& i_file,
                   const std::string& i_size, const std::string& i_time)
{
    ItemPtr l_record = d.GetType("complete_download")->NewItem();
    l_record += d.GetType("user")->GetItem(i_user);
    l_record += d.GetType("complete_download_folder")->GetItem("/downloads/complete/" + i_folder);
    l_record += d.GetType("complete_download_relative_folder")->GetItem(i_folder);
    l_record += d.GetType("complete_download_filename")->GetItem(i_file);
    l_record += d.GetType("complete_download_file_size")->GetItem(i_size);
    l_record += d.GetType("complete_download_completion_time")->GetItem(i_time);
    return l_record;
}

// "name@seconds", or "name@?" for a time text that does not parse.
ItemPtr MakeRecord(const QString& i_spec)
{
    const QStringList l_parts = i_spec.split('@');
    const std::string l_time = l_parts[1] == "?" ? "some day" : TimeText(l_parts[1].toInt());
    return MakeRecord("bob", "Music", l_parts[0].toStdString(), "1", l_time);
}

// What a long run does before: items made and removed. Records made
// afterwards reuse their memory (with the usual allocator), so the records'
// addresses no longer follow the order in which they were made.
void RemoveItemsMadeBefore()
{
    ItemSet l_items;
    for (int l_count = 0; l_count < 100; ++l_count)
        l_items.insert(d.GetType("download_entry")->NewItem());
    l_items.Remove();
}

// Opens the tab as the user does, through the downloads' action set.
QTreeWidget& OpenTab(TransfersViewWorld& io_world)
{
    io_world.View().OnActionBarTriggered("complete_downloads");
    return *completeDownloadsForm->Form()->downloadList;
}

QStringList Column(const QTreeWidget& i_list, int i_column)
{
    QStringList l_texts;
    for (int l_row = 0; l_row < i_list.topLevelItemCount(); ++l_row)
        l_texts.append(i_list.topLevelItem(l_row)->text(i_column));
    return l_texts;
}
}  // namespace

class TestCompleteDownloads : public QObject
{
    Q_OBJECT

private slots:
    void openedOnceAsThirdTab();
    void rowsNewestFirst_data();
    void rowsNewestFirst();
    void rowShowsTheRecord();
};

void TestCompleteDownloads::openedOnceAsThirdTab()
{
    TransfersViewWorld l_world;
    QTabWidget* lp_tabs = l_world.View().Form()->transfersTabControl;
    lp_tabs->setCurrentIndex(1);
    QVERIFY(!completeDownloadsForm);
    l_world.View().OnActionBarTriggered("complete_downloads");
    QVERIFY(completeDownloadsForm);
    CompleteDownloadsForm* lp_form = completeDownloadsForm;
    l_world.View().OnActionBarTriggered("complete_downloads");
    QCOMPARE(completeDownloadsForm, lp_form);
    QCOMPARE(lp_tabs->count(), 3);
    QCOMPARE(lp_tabs->tabText(2), "Complete");
    QCOMPARE(lp_tabs->widget(2), lp_form);
    QCOMPARE(lp_tabs->currentIndex(), 1);

    // No record yet: an empty list under its headers.
    QTreeWidget* lp_list = lp_form->Form()->downloadList;
    QCOMPARE(lp_list->topLevelItemCount(), 0);
    QCOMPARE(ViewRows::Texts(lp_list->headerItem()),
             QStringList({"File", "Folder", "User", "Size", "Completion time"}));

    // Gone, it is no longer reached, and a later record finds no dead form.
    delete lp_form;
    QVERIFY(!completeDownloadsForm);
    QCOMPARE(lp_tabs->count(), 2);
    emit l_world.Manager().CompleteDownloadAdded(MakeRecord("x@0"));
}

// Records made before the tab opens ("loaded"; with "earlier", in an
// earlier run and read from its data file), then records announced one by
// one while it is open ("added"); the file names top to bottom.
void TestCompleteDownloads::rowsNewestFirst_data()
{
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<bool>("earlier");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("shown");

    const QStringList l_loaded{"a@60", "b@60", "old@0", "c@60", "new@120", "d@60", "e@60", "f@60"};
    const QStringList l_shown{"new", "a", "b", "c", "d", "e", "f", "old"};
    QTest::newRow("loaded: newest first, a second's rows in the order made")
        << l_loaded << false << QStringList{} << l_shown;
    QTest::newRow("earlier run: newest first, a second's rows in the order made")
        << l_loaded << true << QStringList{} << l_shown;
    QTest::newRow("loaded, unreadable time last") << QStringList{"x@?", "a@0", "b@1"} << false << QStringList{}
                                                  << QStringList{"b", "a", "x"};
    QTest::newRow("added to an empty list") << QStringList{} << false << QStringList{"a@0", "b@60"}
                                            << QStringList{"b", "a"};
    QTest::newRow("added, newest on top") << QStringList{"a@0", "b@60"} << true << QStringList{"c@61"}
                                          << QStringList{"c", "b", "a"};
    QTest::newRow("added in between") << QStringList{"a@0", "b@120"} << false << QStringList{"c@60"}
                                      << QStringList{"b", "c", "a"};
    QTest::newRow("added, oldest at the bottom") << QStringList{"a@60", "b@120"} << false << QStringList{"c@-1"}
                                                 << QStringList{"b", "a", "c"};
    QTest::newRow("added in a second shown, below its rows")
        << QStringList{"new@120", "a@60", "old@0"} << false << QStringList{"b@60", "c@60"}
        << QStringList{"new", "a", "b", "c", "old"};
    QTest::newRow("added, unreadable time last") << QStringList{"a@0", "x@?"} << false << QStringList{"y@?", "b@-60"}
                                                 << QStringList{"a", "b", "x", "y"};
}

void TestCompleteDownloads::rowsNewestFirst()
{
    QFETCH(QStringList, loaded);
    QFETCH(bool, earlier);
    QFETCH(QStringList, added);
    QFETCH(QStringList, shown);
    QTemporaryDir l_folder;
    const QString l_dataFile = l_folder.filePath("data");
    if (earlier) {
        TransfersViewWorld l_run;
        for (const QString& l_spec : loaded)
            MakeRecord(l_spec);
        l_run.World().Save(l_dataFile);
    }
    TransfersViewWorld l_world(!earlier);
    RemoveItemsMadeBefore();
    if (earlier)
        l_world.Load(l_dataFile);
    else
        for (const QString& l_spec : loaded)
            MakeRecord(l_spec);
    QTreeWidget& l_list = OpenTab(l_world);
    for (const QString& l_spec : added)
        emit l_world.Manager().CompleteDownloadAdded(MakeRecord(l_spec));
    QCOMPARE(Column(l_list, 0), shown);
}

// File name and folder are UTF-8, the user name is taken byte for byte,
// the size is the byte count as stored.
void TestCompleteDownloads::rowShowsTheRecord()
{
    TransfersViewWorld l_world;
    MakeRecord("J\xf6rg", "Musik/\xc3\x85lbum", "F\xc3\xbc\xc3\x9f" "e \xe2\x99\xab.mp3", "1048576", TimeText(0));
    QTreeWidget& l_list = OpenTab(l_world);
    QCOMPARE(l_list.topLevelItemCount(), 1);
    QCOMPARE(ViewRows::Texts(l_list.topLevelItem(0)),
             QStringList({QString::fromUtf8("F\xc3\xbc\xc3\x9f" "e \xe2\x99\xab.mp3"),
                          QString::fromUtf8("Musik/\xc3\x85lbum"), QString::fromUtf8("J\xc3\xb6rg"), "1048576",
                          QString::fromStdString(TimeText(0))}));
}

QTEST_MAIN(TestCompleteDownloads)
#include "tst_complete_downloads.moc"
