#include "core/store/Data.h"
#include "ui/frame/DataDialog.h"
#include "ui/frame/DataTabPage.h"

#include <QListWidget>
#include <QPointer>
#include <QScrollBar>
#include <QTreeWidget>
#include <QtTest>

#include <functional>

class TestDataDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void typeListShowsKindsAndLiveCounts();
    void countsAreWrittenOncePerTurn_data();
    void countsAreWrittenOncePerTurn();
    void aLongValueCanBeScrolledTo();
    void itemListFollowsTheSelectedType();
    void treeGrowsOneLevelPerUnfolding();
    void ownTypeConnectionsLeftOut();
    void removalPrunesEveryNodeOfTheItem();
    void closingDeletesTheBrowser();
    void tabPageBuildsTheWholeTreeAtOnce();
};

namespace {

// Users in rooms, a member count per room, a flag, and friendships between
// users (a type related to itself).
void DeclareSchema()
{
    Type* lp_user = d.NewType("user", true, false, true);
    Type* lp_room = d.NewType("room", true, false, true);
    Type* lp_count = d.NewType("user_count", false, false, true);
    Type* lp_flag = d.NewType("in_room", false, true, true);
    d.NewType("empty_kind", false, false, true);
    lp_user->RelateToType(lp_room, Many, Many, false);
    lp_room->RelateToType(lp_count, Many, One, false);
    lp_room->RelateToType(lp_flag, Many, One, false);
    lp_user->RelateToType(lp_user, Many, Many, false);
}

ItemPtr Item_(const char* ip_type, const char* ip_value)
{
    return d.GetType(ip_type)->GetItem(ip_value);
}

QTreeWidgetItem* TypeRow(QDialog& i_dialog, const QString& i_type)
{
    const auto l_rows = i_dialog.findChild<QTreeWidget*>("typeList")->findItems(i_type, Qt::MatchExactly, 0);
    return l_rows.size() == 1 ? l_rows.first() : nullptr;
}

QStringList ListRows(QWidget& i_widget)
{
    QStringList l_rows;
    auto* lp_list = i_widget.findChild<QListWidget*>("itemList");
    for (int l_row = 0; l_row < lp_list->count(); ++l_row)
        l_rows << lp_list->item(l_row)->text();
    return l_rows;
}

void ClickRow(QWidget& i_widget, const QString& i_text)
{
    auto* lp_list = i_widget.findChild<QListWidget*>("itemList");
    const auto l_rows = lp_list->findItems(i_text, Qt::MatchExactly);
    QVERIFY(l_rows.size() == 1);
    emit lp_list->itemClicked(l_rows.first());
}

QTreeWidget* Tree(QWidget& i_widget)
{
    return i_widget.findChild<QTreeWidget*>("itemDataTree");
}

QStringList Children(const QTreeWidgetItem* ip_node)
{
    QStringList l_texts;
    for (int l_child = 0; l_child < ip_node->childCount(); ++l_child)
        l_texts << ip_node->child(l_child)->text(0);
    l_texts.sort();
    return l_texts;
}

QTreeWidgetItem* Child(const QTreeWidgetItem* ip_node, const QString& i_text)
{
    for (int l_child = 0; l_child < ip_node->childCount(); ++l_child) {
        if (ip_node->child(l_child)->text(0) == i_text)
            return ip_node->child(l_child);
    }
    return nullptr;
}

int CountNodes(const QTreeWidgetItem* ip_node, const QString& i_text)
{
    int l_count = ip_node->text(0) == i_text ? 1 : 0;
    for (int l_child = 0; l_child < ip_node->childCount(); ++l_child)
        l_count += CountNodes(ip_node->child(l_child), i_text);
    return l_count;
}

const QStringList g_placeholder{DataDialog::PlaceholderText};

// The width the column's texts need, as the view measures them.
int NeededWidth(const QAbstractItemView& i_view, int i_column)
{
    return i_view.sizeHintForColumn(i_column);
}

// The browser writes the counts that changed once the event loop turns.
void Turn()
{
    QCoreApplication::processEvents();
}

}  // namespace

void TestDataDialog::init()
{
    d.Reset();
    DeclareSchema();
    // alice and bob in the lobby, alice also in music; the lobby has a count
    // and the flag.
    ItemPtr l_alice = Item_("user", "alice");
    ItemPtr l_bob = Item_("user", "bob");
    ItemPtr l_lobby = Item_("room", "lobby");
    l_alice += l_lobby;
    l_bob += l_lobby;
    l_alice += Item_("room", "music");
    l_lobby += Item_("user_count", "12");
    l_lobby.NewItem("in_room");
}

void TestDataDialog::cleanup()
{
    d.Reset();
}

void TestDataDialog::typeListShowsKindsAndLiveCounts()
{
    DataDialog l_dialog(&d);
    QCOMPARE(l_dialog.windowTitle(), QString("Dialog"));
    auto* lp_types = l_dialog.findChild<QTreeWidget*>("typeList");
    QCOMPARE(lp_types->topLevelItemCount(), 5);
    QStringList l_names;
    for (int l_row = 0; l_row < lp_types->topLevelItemCount(); ++l_row)
        l_names << lp_types->topLevelItem(l_row)->text(0);
    QCOMPARE(l_names, QStringList({"empty_kind", "in_room", "room", "user", "user_count"}));
    QCOMPARE(lp_types->headerItem()->text(2), QString("#"));
    QCOMPARE(TypeRow(l_dialog, "user")->text(1), QString("value   "));
    QCOMPARE(TypeRow(l_dialog, "in_room")->text(1), QString("null   "));
    QCOMPARE(TypeRow(l_dialog, "room")->text(2), QString("2"));

    QCOMPARE(TypeRow(l_dialog, "empty_kind")->text(2), QString("0"));
    ItemPtr l_first = Item_("empty_kind", "x");
    Turn();
    QCOMPARE(TypeRow(l_dialog, "empty_kind")->text(2), QString("1"));
    l_first.Remove();
    Turn();
    QCOMPARE(TypeRow(l_dialog, "empty_kind")->text(2), QString("0"));

    // A type declared later gets its row with its first item, in its place.
    d.NewType("late_kind", true, false, true)->GetItem("y");
    Turn();
    QVERIFY(TypeRow(l_dialog, "late_kind"));
    QCOMPARE(TypeRow(l_dialog, "late_kind")->text(2), QString("1"));
    QCOMPARE(lp_types->indexOfTopLevelItem(TypeRow(l_dialog, "late_kind")), 2);
    QVERIFY(lp_types->columnWidth(0) >= NeededWidth(*lp_types, 0));
}

void TestDataDialog::countsAreWrittenOncePerTurn_data()
{
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("shown");
    // The cell is written when its text changes.
    QTest::addColumn<int>("writes");
    QTest::newRow("many added") << 12345 << 0 << "12345" << 1;
    QTest::newRow("added, most removed again") << 3000 << 2999 << "1" << 1;
    QTest::newRow("added and removed again") << 500 << 500 << "0" << 0;
}

// A folder being shared adds thousands of items in a turn of the event
// loop: the count is written once when the loop turns, with the figure then,
// and its column is wide enough for it.
void TestDataDialog::countsAreWrittenOncePerTurn()
{
    QFETCH(int, added);
    QFETCH(int, removed);
    QFETCH(QString, shown);
    QFETCH(int, writes);
    DataDialog l_dialog(&d);
    l_dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_dialog));
    auto* lp_types = l_dialog.findChild<QTreeWidget*>("typeList");
    QTreeWidgetItem* lp_row = TypeRow(l_dialog, "empty_kind");
    const QModelIndex l_cell = lp_types->model()->index(lp_types->indexOfTopLevelItem(lp_row), 2);
    int l_writes = 0;
    connect(lp_types->model(), &QAbstractItemModel::dataChanged, this,
            [&](const QModelIndex& i_from, const QModelIndex& i_to) {
                if (i_from.row() <= l_cell.row() && l_cell.row() <= i_to.row() && i_from.column() <= 2 &&
                    2 <= i_to.column())
                    ++l_writes;
            });

    Type* lp_kind = d.GetType("empty_kind");
    std::vector<ItemPtr> l_items;
    for (int l_n = 0; l_n < added; ++l_n)
        l_items.push_back(lp_kind->GetItem(std::to_string(l_n)));
    for (int l_n = 0; l_n < removed; ++l_n)
        l_items[std::size_t(l_n)].Remove();
    QCOMPARE(lp_row->text(2), QString("0"));
    QCOMPARE(l_writes, 0);

    Turn();
    QCOMPARE(lp_row->text(2), shown);
    QCOMPARE(l_writes, writes);
    QVERIFY(lp_types->columnWidth(2) >= NeededWidth(*lp_types, 2));
    QVERIFY(lp_types->columnWidth(2) >= lp_types->fontMetrics().horizontalAdvance(shown));
    Turn();
    QCOMPARE(l_writes, writes);
}

// Every row of the item list has one size: it is as wide as the longest
// value, whichever row the list measures.
void TestDataDialog::aLongValueCanBeScrolledTo()
{
    DataDialog l_dialog(&d);
    l_dialog.resize(400, 300);
    l_dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_dialog));
    TypeRow(l_dialog, "user")->setSelected(true);
    const std::string l_long = "aaron " + std::string(300, 'w');
    Item_("user", l_long.c_str());
    Item_("user", "zoe");
    Turn();
    auto* lp_list = l_dialog.findChild<QListWidget*>("itemList");
    QCOMPARE(ListRows(l_dialog).first(), QString::fromStdString(l_long));
    QTRY_VERIFY(lp_list->horizontalScrollBar()->maximum() + lp_list->viewport()->width() >=
                lp_list->fontMetrics().horizontalAdvance(QString::fromStdString(l_long)));
    // Shorter values only: nothing to scroll.
    d.GetType("user")->HasItem(l_long).Remove();
    TypeRow(l_dialog, "user")->setSelected(false);
    TypeRow(l_dialog, "user")->setSelected(true);
    QTRY_COMPARE(lp_list->horizontalScrollBar()->maximum(), 0);
}

void TestDataDialog::itemListFollowsTheSelectedType()
{
    DataDialog l_dialog(&d);
    TypeRow(l_dialog, "user")->setSelected(true);
    QCOMPARE(ListRows(l_dialog), QStringList({"alice", "bob"}));
    Item_("user", "aaron");
    Item_("user", "zoe");
    Item_("room", "jazz");
    QCOMPARE(ListRows(l_dialog), QStringList({"aaron", "alice", "bob", "zoe"}));
    ClickRow(l_dialog, "aaron");
    QCOMPARE(Tree(l_dialog)->topLevelItem(0)->text(0), QString("aaron"));
    d.GetType("user")->HasItem("bob").Remove();
    QCOMPARE(ListRows(l_dialog), QStringList({"aaron", "alice", "zoe"}));

    // A null type lists nothing and clears the tree.
    TypeRow(l_dialog, "user")->setSelected(false);
    TypeRow(l_dialog, "in_room")->setSelected(true);
    QCOMPARE(ListRows(l_dialog), QStringList());
    QCOMPARE(Tree(l_dialog)->topLevelItemCount(), 0);
    Item_("user", "yan");
    QCOMPARE(ListRows(l_dialog), QStringList());
}

void TestDataDialog::treeGrowsOneLevelPerUnfolding()
{
    DataDialog l_dialog(&d);
    TypeRow(l_dialog, "user")->setSelected(true);
    ClickRow(l_dialog, "alice");
    QTreeWidgetItem* lp_root = Tree(l_dialog)->topLevelItem(0);
    QCOMPARE(lp_root->text(0), QString("alice"));
    QVERIFY(lp_root->isExpanded());
    QCOMPARE(Children(lp_root), QStringList({"[room] lobby", "[room] music"}));
    QTreeWidgetItem* lp_lobby = Child(lp_root, "[room] lobby");
    QCOMPARE(Children(lp_lobby), g_placeholder);

    lp_lobby->setExpanded(true);
    // Everything but other rooms, the way back to alice included.
    QCOMPARE(Children(lp_lobby), QStringList({"[in_room, null]", "[user] alice", "[user] bob", "[user_count] 12"}));
    QCOMPARE(Tree(l_dialog)->currentItem(), lp_lobby);
    QCOMPARE(Children(Child(lp_lobby, "[user] bob")), g_placeholder);
    // Folding and unfolding again adds nothing.
    lp_lobby->setExpanded(false);
    lp_lobby->setExpanded(true);
    QCOMPARE(lp_lobby->childCount(), 4);
}

void TestDataDialog::ownTypeConnectionsLeftOut()
{
    // erin's only partner is another user: her root has no children. Reached
    // through a room whose link is gone since, her unfolding drops the
    // placeholder and shows nothing.
    Item_("user", "dan") += Item_("user", "erin");
    Item_("room", "music") += Item_("user", "erin");
    DataDialog l_dialog(&d);
    TypeRow(l_dialog, "user")->setSelected(true);
    ClickRow(l_dialog, "alice");
    QTreeWidgetItem* lp_music = Child(Tree(l_dialog)->topLevelItem(0), "[room] music");
    lp_music->setExpanded(true);
    QTreeWidgetItem* lp_erin = Child(lp_music, "[user] erin");
    QVERIFY(lp_erin);
    d.GetType("user")->HasItem("erin").Disconnect(Item_("room", "music"));
    lp_erin->setExpanded(true);
    QCOMPARE(lp_erin->childCount(), 0);
    ClickRow(l_dialog, "erin");
    QCOMPARE(Tree(l_dialog)->topLevelItem(0)->childCount(), 0);
}

void TestDataDialog::removalPrunesEveryNodeOfTheItem()
{
    Item_("user", "bob") += Item_("room", "music");
    DataDialog l_dialog(&d);
    TypeRow(l_dialog, "user")->setSelected(true);
    ClickRow(l_dialog, "alice");
    QTreeWidgetItem* lp_root = Tree(l_dialog)->topLevelItem(0);
    Child(lp_root, "[room] lobby")->setExpanded(true);
    Child(lp_root, "[room] music")->setExpanded(true);
    Child(Child(lp_root, "[room] lobby"), "[user] bob")->setExpanded(true);
    QCOMPARE(CountNodes(lp_root, "[user] bob"), 2);
    QCOMPARE(CountNodes(lp_root, "[room] music"), 2);

    // bob goes, with everything under both his nodes.
    d.GetType("user")->HasItem("bob").Remove();
    QCOMPARE(CountNodes(lp_root, "[user] bob"), 0);
    QCOMPARE(CountNodes(lp_root, "[room] music"), 1);
    QCOMPARE(ListRows(l_dialog), QStringList({"alice"}));
    // Another shown item goes: its node goes.
    d.GetType("user_count")->HasItem("12").Remove();
    QCOMPARE(Children(Child(lp_root, "[room] lobby")), QStringList({"[in_room, null]", "[user] alice"}));

    // The root's item goes: the tree empties.
    d.GetType("user")->HasItem("alice").Remove();
    QCOMPARE(Tree(l_dialog)->topLevelItemCount(), 0);
    Item_("room", "music").Remove();
    Turn();
    QCOMPARE(TypeRow(l_dialog, "room")->text(2), QString("1"));
}

void TestDataDialog::closingDeletesTheBrowser()
{
    QWidget l_window;
    QPointer<DataDialog> lp_dialog = new DataDialog(&d, &l_window);
    lp_dialog->show();
    lp_dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(lp_dialog.isNull());
    // Its subscriptions went with it.
    Item_("user", "after");
    d.GetType("user")->HasItem("after").Remove();

    DataDialog l_fresh(&d);
    QCOMPARE(TypeRow(l_fresh, "user")->text(2), QString("2"));
    QCOMPARE(ListRows(l_fresh), QStringList());
}

void TestDataDialog::tabPageBuildsTheWholeTreeAtOnce()
{
    DataTabPage l_page(d.GetType("user"));
    QCOMPARE(Tree(l_page)->headerItem()->text(0), QString("Item"));
    QCOMPARE(ListRows(l_page), QStringList());
    Item_("user", "bob") += Item_("room", "music");
    Item_("user", "carol") += Item_("user", "alice");
    Item_("user", "dan");
    Item_("room", "not listed");
    QCOMPARE(ListRows(l_page), QStringList({"dan", "carol"}));

    // A cycle (carol - alice - lobby - bob - music - alice) ends because no
    // type repeats along a path.
    ClickRow(l_page, "carol");
    QTreeWidgetItem* lp_root = Tree(l_page)->topLevelItem(0);
    QCOMPARE(lp_root->text(0), QString("carol"));
    QCOMPARE(Children(lp_root), QStringList());
    d.GetType("user")->HasItem("dan") += Item_("room", "lobby");
    ClickRow(l_page, "dan");
    lp_root = Tree(l_page)->topLevelItem(0);
    QCOMPARE(Children(lp_root), QStringList({"[room] lobby"}));
    QTreeWidgetItem* lp_lobby = lp_root->child(0);
    QVERIFY(lp_lobby->isExpanded());
    QCOMPARE(Children(lp_lobby), QStringList({"[in_room, null]", "[user_count] 12"}));
    QCOMPARE(CountNodes(lp_root, DataDialog::PlaceholderText), 0);

    d.GetType("user")->HasItem("carol").Remove();
    QCOMPARE(ListRows(l_page), QStringList({"dan"}));
}

QTEST_MAIN(TestDataDialog)
#include "tst_data_dialog.moc"
