// The Search page: tabs and what closing them frees, rows and their texts,
// order and filter, the download and tab commands, and the wish list.
#include "SearchViewWorld.h"

#include "core/persist/DataSaver.h"
#include "transfers/TransferQueueManager.h"
#include "ui/views/SearchResultsForm.h"
#include "ui_SearchForm.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

using File = SearchViewWorld::File;

class TestSearchView : public QObject
{
    Q_OBJECT

private slots:
    void searchesOpenTabs();
    void closingATabFreesItsSearch();
    void rowTexts();
    void rowOrder_data();
    void rowOrder();
    void fileNamesByCodeUnit();
    void filter_data();
    void filter();
    void newRowsFollowTheFilter();
    void doubleClickQueues_data();
    void doubleClickQueues();
    void aFileAtTheTopOfAShareIsAskedForByItsName();
    void downloadCommands();
    void expandAndOrderCommands();
    void wishListRowsAndBoxes();
    void wishListCheckColumnSortsWithoutText_data();
    void wishListCheckColumnSortsWithoutText();
    void wishListAnswersOpenOneTab();
    void wishListDropsWhatNoTabShows();
    void aDownloadKeepsItsSearchAcrossARestart();
    void pictureWithFilter();
    void resultMenuIsItsUsersMenu();
};

namespace
{
QString DownloadsText()
{
    QStringList l_lines;
    for (const ItemPtr& l_entry : d.GetType("download_entry")->GetItems().SortNumericBy("download_order", true))
        l_lines << QString::fromStdString(l_entry["user"].AsString() + " " + l_entry["remote_folder"].AsString() + "\\" +
                                          l_entry["file_name"].AsString() + " " + l_entry["file_size"].AsString() +
                                          " [" + l_entry["search_request_text"].AsString() + "]");
    return l_lines.join('\n');
}

QTreeWidgetItem* RowNamed(QTreeWidget& i_tree, int i_column, const QString& i_text)
{
    const QList<QTreeWidgetItem*> l_rows = i_tree.findItems(i_text, Qt::MatchExactly | Qt::MatchRecursive, i_column);
    return l_rows.isEmpty() ? nullptr : l_rows.first();
}

QStringList WishListTexts(Ui::SearchForm* ip_form)
{
    QStringList l_texts;
    for (int l_row = 0; l_row < ip_form->wishList->topLevelItemCount(); ++l_row) {
        QTreeWidgetItem* lp_row = ip_form->wishList->topLevelItem(l_row);
        auto* lp_box = qobject_cast<QCheckBox*>(ip_form->wishList->itemWidget(lp_row, 0));
        l_texts << QString("%1 %2").arg(lp_box && lp_box->isChecked() ? "[x]" : "[ ]", lp_row->text(1));
    }
    return l_texts;
}

QCheckBox* WishBox(Ui::SearchForm* ip_form, const QString& i_text)
{
    QTreeWidgetItem* lp_row = RowNamed(*ip_form->wishList, 1, i_text);
    return lp_row ? qobject_cast<QCheckBox*>(ip_form->wishList->itemWidget(lp_row, 0)) : nullptr;
}

// The rows a search answered: three users, two folders.
void AnswerThree(unsigned int i_token)
{
    SearchViewWorld::Answer(i_token, "ann", {{"music\\rock\\live\\a.mp3", 1234567, 320, 200, true}, {"music\\rock\\live\\B.flac", 0}},
                            true, 1536);
    SearchViewWorld::Answer(i_token, "bob", {{"jazz\\one.mp3", 5000000000LL, 128, -1}}, false, 0, 12);
    SearchViewWorld::Answer(i_token, "cy", {{"rock\\c.mp3", 10}, {"rock\\live\\d.mp3", 20}}, false, 102400, 0);
}
}  // namespace

void TestSearchView::searchesOpenTabs()
{
    SearchViewWorld l_world;
    const unsigned int l_first = l_world.Search("Rock & Röll");
    QCOMPARE(l_world.Form()->searchEdit->text(), QString());
    QTabWidget* lp_tabs = l_world.Form()->searchTabControl;
    QCOMPARE(lp_tabs->count(), 1);
    QCOMPARE(lp_tabs->tabText(0), QString("Rock && Röll"));
    QCOMPARE(lp_tabs->currentWidget(), SearchViewWorld::Tab(l_first));
    QCOMPARE(ViewRows::Texts(SearchViewWorld::Tree(l_first).headerItem()),
             QStringList({"User", "Free", "K/s", "Folder", "File", "Size", "Attributes"}));
    // The same text again opens a second tab; an empty text is sent too.
    const unsigned int l_second = l_world.Search("Rock & Röll");
    const unsigned int l_empty = l_world.Search("");
    QCOMPARE(lp_tabs->count(), 3);
    QVERIFY(l_first != l_second && SearchViewWorld::Tab(l_first) != SearchViewWorld::Tab(l_second));
    QCOMPARE(lp_tabs->tabText(2), QString());
    QCOMPARE(d.GetType("search_request")->HasItem(Value(l_empty))["search_request_text"].AsString(), std::string());
    // The second tab shows every answer again.
    SearchViewWorld::Answer(l_first, "ann", {{"x\\a.mp3", 1}});
    SearchViewWorld::Answer(l_second, "ann", {{"x\\a.mp3", 1}});
    QCOMPARE(ViewRows::Outline(SearchViewWorld::Tree(l_second)), ViewRows::Outline(SearchViewWorld::Tree(l_first)));
}

void TestSearchView::closingATabFreesItsSearch()
{
    SearchViewWorld l_world;
    const unsigned int l_kept = l_world.Search("kept");
    SearchViewWorld::Answer(l_kept, "ann", {{"x\\k.mp3", 1}});
    const std::size_t l_results = SearchViewWorld::Count("search_result");
    const std::size_t l_nodes = SearchViewWorld::Count("search_result_node");
    const unsigned int l_token = l_world.Search("closed");
    AnswerThree(l_token);
    SearchViewWorld::Answer(l_token, "ann", {{"other\\e.mp3", 1}});
    QVERIFY(SearchViewWorld::Count("search_result") > l_results);
    emit l_world.Form()->searchTabControl->tabCloseRequested(1);
    QCOMPARE(l_world.Form()->searchTabControl->count(), 1);
    QCOMPARE(SearchViewWorld::Count("search_request"), std::size_t(1));
    QCOMPARE(SearchViewWorld::Count("search_results"), std::size_t(1));
    QCOMPARE(SearchViewWorld::Count("search_result"), l_results);
    QCOMPARE(SearchViewWorld::Count("search_result_node"), l_nodes);
    QCOMPARE(SearchViewWorld::Count("search_results_folder_node"), std::size_t(1));
    QCOMPARE(SearchViewWorld::Count("search_results_user_node"), std::size_t(1));
    QCOMPARE(SearchViewWorld::Count("search_results_widget"), std::size_t(1));
    // A late answer has no search to go to.
    QVERIFY(SearchViewWorld::Answer(l_token, "ann", {{"x\\late.mp3", 1}}).IsNull());
}

void TestSearchView::rowTexts()
{
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("rock");
    AnswerThree(l_token);
    // A second answer of a user keeps the first one's "Free" and "K/s".
    SearchViewWorld::Answer(l_token, "ann", {{"music\\rock\\live\\z.mp3", 1}}, false, 0, 99);
    QCOMPARE(ViewRows::Outline(SearchViewWorld::Tree(l_token)),
             QStringList({"ann | Y | 1.5", "  live/rock/music", "    B.flac", "    a.mp3 | 1,234,567 | 320 VBR, 3m20s",
                          "    z.mp3 | 1", "bob | 12", "  jazz", "    one.mp3 | 5,000,000,000 | 128 CBR", "cy | 0 | 100.0",
                          "  rock", "    c.mp3 | 10", "  live/rock", "    d.mp3 | 20"}));
    QCOMPARE(SearchViewWorld::Tree(l_token).topLevelItem(0)->textAlignment(1), int(Qt::AlignHCenter));
}

void TestSearchView::rowOrder_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("users");
    // (name, free, speed, queue) per user, answered in this order.
    QTest::addColumn<QStringList>("order");
    const QStringList l_users{"slow-Y Y 1024 0", "q12 N 9999 12", "q0 N 0 0", "fast-Y Y 4096 0", "q3 N 2048 3"};
    QTest::newRow("available") << "order_by_available" << l_users
                               << QStringList{"fast-Y", "slow-Y", "q0", "q3", "q12"};
    QTest::newRow("fastest") << "order_by_fastest" << l_users << QStringList{"q12", "fast-Y", "q3", "slow-Y", "q0"};
    QTest::newRow("ties keep their order") << "order_by_available" << QStringList{"b N 0 5", "a N 0 5", "c N 0 5"}
                                           << QStringList{"b", "a", "c"};
}

void TestSearchView::rowOrder()
{
    QFETCH(QString, command);
    QFETCH(QStringList, users);
    QFETCH(QStringList, order);
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("x");
    for (const QString& l_user : users) {
        const QStringList l_fields = l_user.split(' ');
        SearchViewWorld::Answer(l_token, l_fields[0].toStdString(), {{"f\\a", 1}}, l_fields[1] == "Y",
                                l_fields[2].toInt(), l_fields[3].toInt());
    }
    // Rows stay in arrival order until the deferred sort.
    QTreeWidget& l_tree = SearchViewWorld::Tree(l_token);
    QCOMPARE(l_tree.topLevelItem(0)->text(0), users.first().split(' ').first());
    SearchViewWorld::Buttons(SearchViewWorld::Tab(l_token));
    l_world.View().OnActionBarTriggered(command.toStdString());
    QStringList l_order;
    for (int l_row = 0; l_row < l_tree.topLevelItemCount(); ++l_row)
        l_order << l_tree.topLevelItem(l_row)->text(0);
    QCOMPARE(l_order, order);
}

void TestSearchView::fileNamesByCodeUnit()
{
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("x");
    SearchViewWorld::Answer(l_token, "ann", {{"f\\b.mp3", 1}, {"f\\B.mp3", 1}, {"f\\10.mp3", 1}, {"f\\a.mp3", 1}, {"f\\é.mp3", 1}});
    // The burst is sorted once, a second after its first answer (ten
    // allowed: only a hang takes them).
    QTRY_COMPARE_WITH_TIMEOUT(ViewRows::Outline(SearchViewWorld::Tree(l_token)),
                              QStringList({"ann | Y", "  f", "    10.mp3 | 1", "    B.mp3 | 1", "    a.mp3 | 1",
                                           "    b.mp3 | 1", "    é.mp3 | 1"}),
                              10000);
}

void TestSearchView::filter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("empty") << "" << QStringList{"ann | Y | 1.5", "  live/rock/music", "    B.flac",
                                                "    a.mp3 | 1,234,567 | 320 VBR, 3m20s", "bob | 12", "  jazz", "    one.mp3 | 5,000,000,000 | 128 CBR",
                                                "cy | 0 | 100.0", "  rock", "    c.mp3 | 10", "  live/rock", "    d.mp3 | 20"};
    QTest::newRow("folder word, file word") << "rock mp3"
                                            << QStringList{"ann | Y | 1.5", "  live/rock/music",
                                                           "    a.mp3 | 1,234,567 | 320 VBR, 3m20s", "cy | 0 | 100.0",
                                                           "  rock", "    c.mp3 | 10", "  live/rock", "    d.mp3 | 20"};
    QTest::newRow("unwanted in a folder") << "-LIVE" << QStringList{"bob | 12", "  jazz", "    one.mp3 | 5,000,000,000 | 128 CBR",
                                                                    "cy | 0 | 100.0", "  rock", "    c.mp3 | 10"};
    QTest::newRow("a user's name is not matched") << "bob" << QStringList{};
    QTest::newRow("size and attributes are not matched") << "320" << QStringList{};
}

void TestSearchView::filter()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, shown);
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("rock");
    AnswerThree(l_token);
    SearchViewWorld::Tab(l_token)->filterEdit()->setText(filter);
    QCOMPARE(ViewRows::Outline(SearchViewWorld::Tree(l_token), true), shown);
    // Rows that come after the filter was typed are shown the same way.
    const unsigned int l_second = l_world.Search("rock");
    SearchViewWorld::Tab(l_second)->filterEdit()->setText(filter);
    AnswerThree(l_second);
    QCOMPARE(ViewRows::Outline(SearchViewWorld::Tree(l_second), true), shown);
}

void TestSearchView::newRowsFollowTheFilter()
{
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("x");
    SearchViewWorld::Tab(l_token)->filterEdit()->setText("rockone");
    // Folder and file texts are tested apart: no word across the two.
    SearchViewWorld::Answer(l_token, "ann", {{"rock\\live\\one.mp3", 1}});
    QCOMPARE(ViewRows::Outline(SearchViewWorld::Tree(l_token), true), QStringList());
    // A file that fails is hidden alone under a shown folder.
    SearchViewWorld::Tab(l_token)->filterEdit()->setText("live");
    SearchViewWorld::Answer(l_token, "ann", {{"rock\\live\\two.mp3", 1}});
    SearchViewWorld::Tab(l_token)->filterEdit()->setText("one");
    SearchViewWorld::Answer(l_token, "ann", {{"rock\\live\\three.mp3", 1}});
    QCOMPARE(ViewRows::Outline(SearchViewWorld::Tree(l_token), true),
             QStringList({"ann | Y", "  live/rock", "    one.mp3 | 1"}));
}

void TestSearchView::doubleClickQueues_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("queued");
    QTest::newRow("user row, hidden files too") << 0 << "ann"
                                                << "ann music\\b\\B.mp3 2 [rock]\nann music\\a\\a.mp3 1 [rock]\nann music\\b\\c.mp3 3 [rock]";
    QTest::newRow("folder row") << 3 << "b/music" << "ann music\\b\\B.mp3 2 [rock]\nann music\\b\\c.mp3 3 [rock]";
    QTest::newRow("file row") << 4 << "c.mp3" << "ann music\\b\\c.mp3 3 [rock]";
    QTest::newRow("folder row of no folder text") << 3 << "" << "bob \\bare 4 [rock]";
}

void TestSearchView::doubleClickQueues()
{
    QFETCH(int, column);
    QFETCH(QString, row);
    QFETCH(QString, queued);
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("rock");
    SearchViewWorld::Answer(l_token, "ann", {{"music\\a\\a.mp3", 1}, {"music\\b\\c.mp3", 3}, {"music\\b\\B.mp3", 2}});
    SearchViewWorld::Answer(l_token, "bob", {{"\\bare", 4}});
    SearchViewWorld::Tab(l_token)->filterEdit()->setText("c.mp3");
    QTreeWidget& l_tree = SearchViewWorld::Tree(l_token);
    QTreeWidgetItem* lp_row = row.isEmpty() ? l_tree.topLevelItem(1)->child(0) : RowNamed(l_tree, column, row);
    QVERIFY(lp_row);
    emit l_tree.itemDoubleClicked(lp_row, 5);
    QCOMPARE(DownloadsText(), queued);
}

void TestSearchView::aFileAtTheTopOfAShareIsAskedForByItsName()
{
    SearchViewWorld l_world;
    TransfersTestWorld::SetOnline("bob");
    const unsigned int l_token = l_world.Search("root");
    SearchViewWorld::Answer(l_token, "bob", {{"rootfile.mp3", 5}});
    QTreeWidget& l_tree = SearchViewWorld::Tree(l_token);
    QCOMPARE(ViewRows::Outline(l_tree), QStringList({"bob | Y", "  ", "    rootfile.mp3 | 5"}));
    TransfersTestWorld::ClearSent();
    emit l_tree.itemDoubleClicked(RowNamed(l_tree, 4, "rootfile.mp3"), 4);
    // Queued and its place asked for under the path bob sent.
    QCOMPARE(TransfersTestWorld::Sent("bob"),
             QList<QByteArray>({MessageBody(43, "rootfile.mp3"), MessageBody(51, "rootfile.mp3")}));
}

void TestSearchView::downloadCommands()
{
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("jazz");
    SearchViewWorld::Answer(l_token, "ann", {{"f\\b.mp3", 2}, {"f\\a.mp3", 1}, {"g\\c.mp3", 3}});
    QTreeWidget& l_tree = SearchViewWorld::Tree(l_token);
    auto l_select = [&](const QStringList& i_files, int i_column) {
        l_tree.clearSelection();
        for (const QString& l_text : i_files)
            RowNamed(l_tree, i_column, l_text)->setSelected(true);
    };
    // Download File takes the selected files only.
    l_select({"f"}, 3);
    RowNamed(l_tree, 0, "ann")->setSelected(true);
    l_world.View().OnActionBarTriggered("download_search_results_file");
    QCOMPARE(DownloadsText(), QString());
    l_select({"b.mp3"}, 4);
    l_world.View().OnActionBarTriggered("download_search_results_file");
    QCOMPARE(DownloadsText(), QString("ann f\\b.mp3 2 [jazz]"));
    // Download Folder: the folders of the selected rows, each file once.
    l_select({"b.mp3", "a.mp3"}, 4);
    l_world.View().OnActionBarTriggered("download_search_results_folder");
    QCOMPARE(DownloadsText(), QString("ann f\\b.mp3 2 [jazz]\nann f\\a.mp3 1 [jazz]"));
    // A user row in the selection queues nothing at all.
    l_select({"c.mp3"}, 4);
    RowNamed(l_tree, 0, "ann")->setSelected(true);
    l_world.View().OnActionBarTriggered("download_search_results_folder");
    QCOMPARE(d.GetType("download_entry")->ItemCount(), std::size_t(2));
    // An entry queued again is linked to the newer search's text.
    const unsigned int l_other = l_world.Search("blues");
    SearchViewWorld::Answer(l_other, "ann", {{"f\\b.mp3", 2}});
    emit SearchViewWorld::Tree(l_other).itemDoubleClicked(RowNamed(SearchViewWorld::Tree(l_other), 4, "b.mp3"), 4);
    QCOMPARE(DownloadsText(), QString("ann f\\b.mp3 2 [blues]\nann f\\a.mp3 1 [jazz]"));
}

void TestSearchView::expandAndOrderCommands()
{
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("x");
    SearchResultsForm* lp_tab = SearchViewWorld::Tab(l_token);
    SearchViewWorld::Answer(l_token, "ann", {{"f\\a", 1}});
    QTreeWidgetItem* lp_folder = SearchViewWorld::Tree(l_token).topLevelItem(0)->child(0);
    QCOMPARE(SearchViewWorld::Buttons(lp_tab),
             QStringList({"Download File", "Download Folder", "Order by Available [on]", "Order by Fastest",
                          "Expand Folders [on]", "Expand Users [on]", "Add to Wishlist"}));
    l_world.View().OnActionBarTriggered("expand_folders");
    QVERIFY(!lp_folder->isExpanded());
    // A new answer under a collapsed folder leaves it collapsed now.
    SearchViewWorld::Answer(l_token, "ann", {{"f\\b", 1}});
    QVERIFY(!lp_folder->isExpanded());
    l_world.View().OnActionBarTriggered("order_by_fastest");
    QCOMPARE(lp_tab->SortColumn(), 2);
    QCOMPARE(SearchViewWorld::Buttons(lp_tab).mid(2, 3),
             QStringList({"Order by Available", "Order by Fastest [on]", "Expand Folders [off]"}));
    lp_folder->setExpanded(false);
    l_world.View().OnActionBarTriggered("expand_folders");
    l_world.View().OnActionBarTriggered("order_by_available");
    QVERIFY(lp_folder->isExpanded());
    QCOMPARE(lp_tab->SortColumn(), 1);
    QCOMPARE(SearchViewWorld::Buttons(lp_tab).mid(2, 3),
             QStringList({"Order by Available [on]", "Order by Fastest", "Expand Folders [on]"}));
    l_world.View().OnActionBarTriggered("expand_users");
    QVERIFY(!SearchViewWorld::Tree(l_token).topLevelItem(0)->isExpanded());
}

void TestSearchView::wishListRowsAndBoxes()
{
    QTemporaryDir l_folder;
    const QString l_file = l_folder.filePath("client.dat");
    {
        SearchViewWorld l_world;
        // Add to Wishlist from an ordinary tab, twice: one entry.
        l_world.Search("zeta ü");
        l_world.View().OnActionBarTriggered("add_remove_wishlist");
        l_world.View().OnActionBarTriggered("add_remove_wishlist");
        l_world.Search("alpha");
        l_world.View().OnActionBarTriggered("add_remove_wishlist");
        QCOMPARE(WishListTexts(l_world.Form()), QStringList({"[x] alpha", "[x] zeta ü"}));
        WishBox(l_world.Form(), "alpha")->setChecked(false);
        WishBox(l_world.Form(), "alpha")->setChecked(true);
        WishBox(l_world.Form(), "zeta ü")->setChecked(false);
        QCOMPARE(d.GetType("wish_list_item_enabled")->GetGlobalNullItem().GetItems("wish_list_item").size(),
                 std::size_t(1));
        dataSaver->Save(l_file.toUtf8().constData());
    }
    SearchViewWorld l_world(false);
    l_world.Load(l_file);
    QCOMPARE(WishListTexts(l_world.Form()), QStringList({"[x] alpha", "[ ] zeta ü"}));
    l_world.View().OnActionBarTriggered("enable_all_wish_list_items");
    QCOMPARE(WishListTexts(l_world.Form()), QStringList({"[x] alpha", "[x] zeta ü"}));
    l_world.View().OnActionBarTriggered("disable_all_wish_list_items");
    QCOMPARE(d.GetType("wish_list_item")->GetItems().Connected("wish_list_item_enabled").size(), std::size_t(0));
    RowNamed(*l_world.Form()->wishList, 1, "alpha")->setSelected(true);
    l_world.View().OnActionBarTriggered("remove_wish_list_item");
    QCOMPARE(WishListTexts(l_world.Form()), QStringList({"[ ] zeta ü"}));
    QCOMPARE(SearchViewWorld::Count("wish_list_item"), std::size_t(1));
    QCOMPARE(SearchViewWorld::Count("wish_list_node"), std::size_t(1));
}

// The check column is just wide enough for its box: a sort text written
// under the box showed at its right as a stray stroke.
void TestSearchView::wishListCheckColumnSortsWithoutText_data()
{
    QTest::addColumn<Qt::SortOrder>("order");
    QTest::addColumn<QString>("boxes");
    QTest::newRow("ascending") << Qt::AscendingOrder << QString("[ ] [ ] [x] [x]");
    QTest::newRow("descending") << Qt::DescendingOrder << QString("[x] [x] [ ] [ ]");
}

void TestSearchView::wishListCheckColumnSortsWithoutText()
{
    QFETCH(Qt::SortOrder, order);
    QFETCH(QString, boxes);
    SearchViewWorld l_world;
    for (const char* lp_text : {"alpha", "beta", "gamma", "delta"}) {
        l_world.Search(lp_text);
        l_world.View().OnActionBarTriggered("add_remove_wishlist");
    }
    WishBox(l_world.Form(), "beta")->setChecked(false);
    WishBox(l_world.Form(), "delta")->setChecked(false);
    QTreeWidget& l_list = *l_world.Form()->wishList;
    // The box states top to bottom, each row's check column as shown.
    auto l_boxes = [&l_list] {
        QStringList l_states;
        for (int l_row = 0; l_row < l_list.topLevelItemCount(); ++l_row) {
            QTreeWidgetItem* lp_row = l_list.topLevelItem(l_row);
            const QString l_shown = lp_row->data(0, Qt::DisplayRole).toString();
            auto* lp_box = qobject_cast<QCheckBox*>(l_list.itemWidget(lp_row, 0));
            l_states << QString(lp_box && lp_box->isChecked() ? "[x]" : "[ ]") + l_shown;
        }
        return l_states.join(' ');
    };
    QCOMPARE(l_boxes(), QString("[x] [ ] [ ] [x]"));

    l_list.sortByColumn(0, order);
    QCOMPARE(l_boxes(), boxes);
    // A box ticked or cleared takes its row into its group.
    WishBox(l_world.Form(), "beta")->setChecked(true);
    WishBox(l_world.Form(), "alpha")->setChecked(false);
    QCOMPARE(l_boxes(), boxes);
}

void TestSearchView::wishListAnswersOpenOneTab()
{
    SearchViewWorld l_world;
    l_world.Search("jazz");
    l_world.View().OnActionBarTriggered("add_remove_wishlist");
    // The searcher's first search opens nothing until it is answered.
    const unsigned int l_first = SearchViewWorld::WishListSearch("jazz");
    QCOMPARE(l_world.Form()->searchTabControl->count(), 1);
    SearchViewWorld::Answer(l_first, "ann", {{"f\\a.mp3", 1}});
    QCOMPARE(l_world.Form()->searchTabControl->count(), 2);
    QCOMPARE(l_world.Form()->searchTabControl->currentIndex(), 0);
    QCOMPARE(l_world.Notices(), QStringList({"jazz"}));
    // Every later repetition feeds that one tab.
    const unsigned int l_second = SearchViewWorld::WishListSearch("jazz");
    SearchViewWorld::Answer(l_second, "bob", {{"g\\b.mp3", 1}});
    QCOMPARE(l_world.Form()->searchTabControl->count(), 2);
    QCOMPARE(SearchViewWorld::Tab(l_second), SearchViewWorld::Tab(l_first));
    QCOMPARE(SearchViewWorld::Tree(l_first).topLevelItemCount(), 2);
    // Shown, the tab withdraws its notice; on a wish-list tab the button
    // takes the entry off, and the tab stays.
    l_world.Form()->searchTabControl->setCurrentIndex(1);
    l_world.View().show();
    QTRY_COMPARE(l_world.Notices(), QStringList());
    QCOMPARE(SearchViewWorld::Buttons(SearchViewWorld::Tab(l_first)).last(),
             QString("Remove from Wish List"));
    l_world.View().OnActionBarTriggered("add_remove_wishlist");
    QCOMPARE(SearchViewWorld::Count("wish_list_item"), std::size_t(0));
    QCOMPARE(l_world.Form()->searchTabControl->count(), 2);
    // Closing the tab keeps nothing of its searches.
    emit l_world.Form()->searchTabControl->tabCloseRequested(1);
    QCOMPARE(SearchViewWorld::Count("search_request"), std::size_t(1));
}

void TestSearchView::wishListDropsWhatNoTabShows()
{
    SearchViewWorld l_world;
    l_world.Search("jazz");
    l_world.View().OnActionBarTriggered("add_remove_wishlist");
    emit l_world.Form()->searchTabControl->tabCloseRequested(0);
    // Of the entry's searches that no tab shows, only the newest stays.
    SearchViewWorld::WishListSearch("jazz");
    const unsigned int l_newest = SearchViewWorld::WishListSearch("jazz");
    QCOMPARE(SearchViewWorld::Count("search_request"), std::size_t(1));
    // Disabled meanwhile: the answer is dropped, with its results.
    WishBox(l_world.Form(), "jazz")->setChecked(false);
    SearchViewWorld::Answer(l_newest, "ann", {{"f\\a.mp3", 1}});
    QCOMPARE(l_world.Form()->searchTabControl->count(), 0);
    QCOMPARE(SearchViewWorld::Count("search_results"), std::size_t(0));
    QCOMPARE(SearchViewWorld::Count("search_result"), std::size_t(0));
    // The entry takes its searches with it.
    RowNamed(*l_world.Form()->wishList, 1, "jazz")->setSelected(true);
    l_world.View().OnActionBarTriggered("remove_wish_list_item");
    QCOMPARE(SearchViewWorld::Count("search_request"), std::size_t(0));
}

void TestSearchView::aDownloadKeepsItsSearchAcrossARestart()
{
    QTemporaryDir l_folder;
    const QString l_file = l_folder.filePath("client.dat");
    {
        SearchViewWorld l_world;
        const unsigned int l_token = l_world.Search("Bläck & white");
        SearchViewWorld::Answer(l_token, "ann", {{"f\\a.mp3", 1}});
        emit SearchViewWorld::Tree(l_token).itemDoubleClicked(RowNamed(SearchViewWorld::Tree(l_token), 4, "a.mp3"), 0);
        dataSaver->Save(l_file.toUtf8().constData());
    }
    SearchViewWorld l_world(false);
    l_world.Load(l_file);
    QCOMPARE(DownloadsText(), QString::fromUtf8("ann f\\a.mp3 1 [Bläck & white]"));
}

void TestSearchView::pictureWithFilter()
{
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("rock");
    AnswerThree(l_token);
    for (int l_user = 0; l_user < 20; ++l_user)
        SearchViewWorld::Answer(l_token, "user" + std::to_string(l_user),
                                {{"music\\rock\\album " + std::to_string(l_user) + "\\0" + std::to_string(l_user % 9) + " song.mp3",
                                  3000000 + l_user, 192, 240}},
                                l_user % 3 == 0, 1024 * l_user, l_user % 4);
    SearchViewWorld::Tab(l_token)->filterEdit()->setText("rock -live");
    SearchViewWorld::Tab(l_token)->Sort();
    l_world.View().resize(1000, 500);
    l_world.View().show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_world.View()));
    QVERIFY(l_world.View().grab().save(QCoreApplication::applicationDirPath() + "/search_view.png"));
}

void TestSearchView::resultMenuIsItsUsersMenu()
{
    SearchViewWorld l_world;
    const unsigned int l_token = l_world.Search("rock");
    AnswerThree(l_token);
    d.GetType("user")->GetItem("bob").NewItem("in_user_list");
    SearchViewWorld::Tab(l_token)->Sort();
    l_world.View().resize(1000, 500);
    l_world.View().show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_world.View()));
    QStringList l_entries;
    int l_menus = 0;
    QTimer l_reader;
    connect(&l_reader, &QTimer::timeout, [&] {
        if (auto* lp_menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            ++l_menus;
            for (QAction* lp_action : lp_menu->actions())
                l_entries << (lp_action->isSeparator() ? QString("-") : lp_action->text());
            lp_menu->close();
        }
    });
    l_reader.start(10);
    QTreeWidget& l_tree = SearchViewWorld::Tree(l_token);
    emit l_tree.customContextMenuRequested(QPoint(5, l_tree.viewport()->height() - 5));
    QCOMPARE(l_menus, 0);
    // A file row of bob, two levels under his row.
    QTreeWidgetItem* lp_file = nullptr;
    for (int l_row = 0; l_row < l_tree.topLevelItemCount(); ++l_row) {
        if (l_tree.topLevelItem(l_row)->text(0) == QStringLiteral("bob"))
            lp_file = l_tree.topLevelItem(l_row)->child(0)->child(0);
    }
    QVERIFY(lp_file);
    l_tree.expandAll();
    emit l_tree.customContextMenuRequested(l_tree.visualItemRect(lp_file).center());
    QCOMPARE(l_menus, 1);
    QCOMPARE(l_entries, QStringList({"Message user", "Set user's groups", "Remove user from list",
                                     "Browse user's files", "-", "Unshare files from user"}));
}

QTEST_MAIN(TestSearchView)
#include "tst_search_view.moc"
