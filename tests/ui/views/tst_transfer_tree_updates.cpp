#include "TransfersViewWorld.h"

#include "ui/views/TransferTreeUpdates.h"
#include "ui_TransfersForm.h"

#include <QDeadlineTimer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtTest>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's own count.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

// Rows that join and leave the transfers trees in floods: the trees change
// in one step each way a refresh, and show what they would have shown had
// every row gone in and out on its own.
class TestTransferTreeUpdates : public QObject
{
    Q_OBJECT

private slots:
    void floodShowsWhatSingleChangesShow_data();
    void floodShowsWhatSingleChangesShow();
    void aLeavingRowIsNoRowAnyMore();
    void rowsLeaveOnceAFloodInterval();
    void aFloodHidesUsersAndTakesOutRowsBelowOthers();
    void childrenLeaveInOneStepAParent();
    void childrenLeaveAsRowByRowForWhatTheUserPointsAt_data();
    void childrenLeaveAsRowByRowForWhatTheUserPointsAt();
    void rowsLeavingManyParentsGoInAFewSteps_data();
    void rowsLeavingManyParentsGoInAFewSteps();
    void aRefreshMakesOneStepAndHidesTheRest_data();
    void aRefreshMakesOneStepAndHidesTheRest();
    void aTreeOutOfSightKeepsNothingOfRowsGone();
};

namespace
{
// What the user sees of a tree: the outline of its rows that are not
// hidden, every row with rows below it marked "+" when open and "-" when
// closed, and each row's text colour.
void AppendMarks(const QTreeWidgetItem* ip_row, QStringList& io_lines, int& io_line)
{
    if (ip_row->isHidden())
        return;
    if (ip_row->childCount() > 0)
        io_lines[io_line] += ip_row->isExpanded() ? " +" : " -";
    io_lines[io_line++] += " " + ip_row->foreground(0).color().name();
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        AppendMarks(ip_row->child(l_child), io_lines, io_line);
}

QStringList Shape(const QTreeWidget& i_tree)
{
    QStringList l_lines = ViewRows::Outline(i_tree, true);
    int l_line = 0;
    for (int l_row = 0; l_row < i_tree.topLevelItemCount(); ++l_row)
        AppendMarks(i_tree.topLevelItem(l_row), l_lines, l_line);
    return l_lines;
}

struct FloodResult
{
    QStringList m_shape;
    // Changes of the tree's top level once it held the first thirty users.
    int m_topRemovals = 0;
    int m_topInsertions = 0;
};

int TopLevelChanges(const QSignalSpy& i_spy)
{
    int l_changes = 0;
    for (const QList<QVariant>& l_signal : i_spy)
        l_changes += l_signal.at(0).value<QModelIndex>().isValid() ? 0 : 1;
    return l_changes;
}

// Thirty users with two files each; then the ten oldest go and the next
// loses a file, ten users come, the folders stop opening half way, one
// newcomer goes before anyone saw him, one who went comes back, and a new
// file and an old one start. With i_stepByStep the page's refresh follows
// every change, as if each row went in and out on its own.
FloodResult Flood(bool i_downloads, bool i_stepByStep)
{
    TransfersViewWorld l_world;
    TransfersForm& l_view = l_world.View();
    QTreeWidget& l_tree = i_downloads ? *l_world.Form()->downloadsList : *l_world.Form()->uploadsList;
    const std::string l_side = i_downloads ? "download" : "upload";
    auto l_settle = [&] {
        if (i_stepByStep)
            l_view.ApplyTreeUpdates();
    };
    auto l_add = [&](int i_user, const std::string& i_file) {
        const std::string l_user = "user" + std::to_string(i_user);
        ItemPtr l_entry = i_downloads ? l_world.AddDownload(l_user, "music\\" + l_user, i_file, 10 + i_user)
                                      : TransfersViewWorld::AddUpload(l_user, "/share/" + l_user, i_file, 10 + i_user);
        l_settle();
        return l_entry;
    };
    auto l_remove = [&](ItemPtr i_entry) {
        if (i_downloads)
            l_world.Manager().RemoveDownload(i_entry);
        else
            l_world.Manager().RemoveUpload(i_entry);
        l_settle();
    };
    auto l_start = [&](ItemPtr i_entry) {
        l_world.SetStatus(i_entry, i_downloads ? "downloading" : "uploading");
        l_settle();
    };

    std::vector<ItemPtr> l_entries;
    for (int l_user = 0; l_user < 30; ++l_user) {
        for (const char* lp_file : {"a.mp3", "b.mp3"})
            l_entries.push_back(l_add(l_user, lp_file));
    }
    l_view.ApplyTreeUpdates();
    QSignalSpy l_removals(l_tree.model(), &QAbstractItemModel::rowsAboutToBeRemoved);
    QSignalSpy l_insertions(l_tree.model(), &QAbstractItemModel::rowsInserted);

    for (std::size_t l_index = 0; l_index < 21; ++l_index)
        l_remove(l_entries[l_index]);
    ItemPtr l_newcomer;
    for (int l_user = 30; l_user < 40; ++l_user) {
        l_newcomer = l_add(l_user, "a.mp3");
        if (l_user == 34)
            l_view.OnActionBarTriggered("expand_" + l_side + "_folders");
    }
    l_start(l_newcomer);
    l_remove(l_add(40, "gone.mp3"));
    l_add(3, "back.mp3");
    l_start(l_entries[30]);
    l_view.ApplyTreeUpdates();

    FloodResult l_result;
    l_result.m_shape = Shape(l_tree);
    l_result.m_topRemovals = TopLevelChanges(l_removals);
    l_result.m_topInsertions = TopLevelChanges(l_insertions);
    return l_result;
}

// A row by the texts of its first column from the top, "u1/f0/a".
QString PathOf(const QTreeWidgetItem* ip_row)
{
    QStringList l_names;
    for (; ip_row; ip_row = ip_row->parent())
        l_names.prepend(ip_row->text(0));
    return l_names.join('/');
}

struct ChildFloodResult
{
    QStringList m_shape;
    QStringList m_shown;
    QString m_current;
    QStringList m_selected;
    QString m_top;
    // Removals below the top level, and in all.
    int m_childRemovals = 0;
    int m_removals = 0;
    // Rows that stay but went out of the tree and back meanwhile.
    int m_outAndBack = 0;
};

// What the tree shows once the events the removals posted have run, and
// the removals it went through.
ChildFloodResult Outcome(QTreeWidget& i_tree, const QSignalSpy& i_removals)
{
    QCoreApplication::processEvents();
    ChildFloodResult l_result;
    l_result.m_shape = Shape(i_tree);
    l_result.m_shown = ViewRows::Outline(i_tree, true);
    l_result.m_current = PathOf(i_tree.currentItem());
    for (const QTreeWidgetItem* lp_row : i_tree.selectedItems())
        l_result.m_selected.append(PathOf(lp_row));
    l_result.m_top = PathOf(i_tree.itemAt(5, 5));
    l_result.m_childRemovals = i_removals.count() - TopLevelChanges(i_removals);
    l_result.m_removals = i_removals.count();
    return l_result;
}

// User u1 holds folders f0 to f7 of files a to d, f3 closed and f7 hidden,
// user u2 a folder g of one file; the tree shows a few rows, scrolled to
// the end. Folders f1, f2, f4 and f5, files b and c of f0 and file a of f6
// leave; with i_stepByStep each goes on its own. The row named by i_current
// is made current, the one named by i_selected selected.
ChildFloodResult ChildFlood(bool i_stepByStep, const QString& i_current, const QString& i_selected)
{
    QTreeWidget l_tree;
    TransferTreeUpdates l_updates(1000, 1000, [](QTreeWidgetItem*) {});
    std::map<QString, QTreeWidgetItem*> l_rows;
    auto l_add = [&](const QString& i_name, QTreeWidgetItem* ip_parent) {
        auto* lp_row = ip_parent ? new QTreeWidgetItem(ip_parent, QStringList{i_name})
                                 : new QTreeWidgetItem(QStringList{i_name});
        l_rows[PathOf(lp_row)] = lp_row;
        return lp_row;
    };
    for (const char* lp_user : {"u1", "u2"}) {
        QTreeWidgetItem* lp_userRow = l_add(lp_user, nullptr);
        l_updates.Join(&l_tree, lp_userRow);
        const QStringList l_folders =
            lp_user == QString("u1") ? QStringList{"f0", "f1", "f2", "f3", "f4", "f5", "f6", "f7"} : QStringList{"g"};
        for (const QString& l_folder : l_folders) {
            QTreeWidgetItem* lp_folder = l_add(l_folder, lp_userRow);
            for (const char* lp_file : {"a", "b", "c", "d"}) {
                if (l_folder != "g" || lp_file == QString("a"))
                    l_add(lp_file, lp_folder);
            }
        }
    }
    l_updates.Apply();
    l_tree.expandAll();
    l_rows["u1/f3"]->setExpanded(false);
    l_rows["u1/f7"]->setHidden(true);
    l_tree.resize(200, 160);
    l_tree.show();
    if (!i_current.isEmpty())
        l_tree.setCurrentItem(l_rows[i_current]);
    if (!i_selected.isEmpty())
        l_rows[i_selected]->setSelected(true);
    l_tree.scrollToBottom();
    QCoreApplication::processEvents();

    QSignalSpy l_removals(l_tree.model(), &QAbstractItemModel::rowsAboutToBeRemoved);
    for (const char* lp_going : {"u1/f0/b", "u1/f0/c", "u1/f1", "u1/f2", "u1/f4", "u1/f5", "u1/f6/a"}) {
        l_updates.Leave(l_rows[lp_going]);
        if (i_stepByStep)
            l_updates.Apply();
    }
    l_updates.Apply();
    return Outcome(l_tree, l_removals);
}

// 30 users u0 to u29 with folders f0 to f2 of files a to c, u3 and u8/f1
// closed; the tree shows a few rows, scrolled half way. Each user loses one
// row, a folder or a file, so that the rows leave 30 parents; with
// i_stepByStep each goes on its own. The row named by i_current is made
// current, the one named by i_selected selected.
ChildFloodResult SpreadFlood(bool i_stepByStep, const QString& i_current, const QString& i_selected)
{
    QTreeWidget l_tree;
    TransferTreeUpdates l_updates(1000, 1000, [](QTreeWidgetItem*) {});
    std::map<QString, QTreeWidgetItem*> l_rows;
    for (int l_user = 0; l_user < 30; ++l_user) {
        auto* lp_user = new QTreeWidgetItem(QStringList{QString("u%1").arg(l_user)});
        l_updates.Join(&l_tree, lp_user);
        for (const char* lp_folder : {"f0", "f1", "f2"}) {
            auto* lp_folderRow = new QTreeWidgetItem(lp_user, QStringList{lp_folder});
            for (const char* lp_file : {"a", "b", "c"})
                new QTreeWidgetItem(lp_folderRow, QStringList{lp_file});
        }
    }
    l_updates.Apply();
    for (QTreeWidgetItemIterator l_row(&l_tree); *l_row; ++l_row)
        l_rows[PathOf(*l_row)] = *l_row;
    l_tree.expandAll();
    l_rows["u3"]->setExpanded(false);
    l_rows["u8/f1"]->setExpanded(false);
    l_tree.resize(200, 160);
    l_tree.show();
    if (!i_current.isEmpty())
        l_tree.setCurrentItem(l_rows[i_current]);
    if (!i_selected.isEmpty())
        l_rows[i_selected]->setSelected(true);
    l_tree.verticalScrollBar()->setValue(l_tree.verticalScrollBar()->maximum() / 2);
    QCoreApplication::processEvents();

    QStringList l_going;
    for (int l_user = 0; l_user < 30; ++l_user) {
        // Odd users lose a folder, even ones a file.
        l_going.append(QString("u%1/f%2").arg(l_user).arg(l_user % 3));
        if (l_user % 2 == 0)
            l_going.last() += QString("/") + "abc"[l_user / 2 % 3];
    }
    // Where the tree's model has the rows that stay: a row taken out and
    // put back loses its index.
    std::map<QTreeWidgetItem*, QPersistentModelIndex> l_staying;
    for (const auto& [l_path, lp_row] : l_rows) {
        if (std::none_of(l_going.begin(), l_going.end(),
                         [&l_path](const QString& i_going) { return (l_path + "/").startsWith(i_going + "/"); }))
            l_staying[lp_row] = l_tree.indexFromItem(lp_row);
    }
    QSignalSpy l_removals(l_tree.model(), &QAbstractItemModel::rowsAboutToBeRemoved);
    for (const QString& l_path : l_going) {
        l_updates.Leave(l_rows[l_path]);
        if (i_stepByStep)
            l_updates.Apply();
    }
    l_updates.Apply();
    ChildFloodResult l_result = Outcome(l_tree, l_removals);
    for (const auto& [lp_row, l_index] : l_staying)
        l_result.m_outAndBack += l_index.isValid() && l_tree.itemFromIndex(l_index) == lp_row ? 0 : 1;
    return l_result;
}
}  // namespace

void TestTransferTreeUpdates::floodShowsWhatSingleChangesShow_data()
{
    QTest::addColumn<bool>("downloads");
    QTest::newRow("downloads") << true;
    QTest::newRow("uploads") << false;
}

void TestTransferTreeUpdates::floodShowsWhatSingleChangesShow()
{
    QFETCH(bool, downloads);
    const FloodResult l_single = Flood(downloads, true);
    const FloodResult l_flood = Flood(downloads, false);
    QCOMPARE(l_flood.m_shape, l_single.m_shape);
    // Users 10 to 39 but 40, and 3 back at the end.
    const QString l_offline = downloads ? " [offline]" : "";
    QCOMPARE(l_single.m_shape.first().section(' ', 0, downloads ? 1 : 0), "user10" + l_offline);
    QCOMPARE(l_single.m_shape.filter(QRegularExpression("^user")).size(), 31);
    QVERIFY(l_single.m_shape.last().contains("back.mp3"));
    // The command that stops folders opening brings in the rows made before
    // it: the users gone and the first newcomers go out and in then, the
    // rest at the end.
    QCOMPARE(l_flood.m_topRemovals, 1);
    QCOMPARE(l_flood.m_topInsertions, 2);
}

// Until the refresh takes it out of its tree, a row whose entry went still
// shows, but nothing acts on it: no entries under it, no user row of its
// own, no removal through it.
void TestTransferTreeUpdates::aLeavingRowIsNoRowAnyMore()
{
    TransfersViewWorld l_world;
    TransfersForm& l_view = l_world.View();
    ItemPtr l_going = l_world.AddDownload("alice", "f", "a", 5);
    l_world.AddDownload("alice", "g", "b", 5);
    QTreeWidgetItem* lp_row = l_world.Row(l_going);
    QTreeWidgetItem* lp_folder = lp_row->parent();
    l_world.Manager().RemoveDownload(l_going);
    QTreeWidget& l_tree = *l_world.Form()->downloadsList;
    QCOMPARE(l_tree.topLevelItem(0)->childCount(), 2);
    for (QTreeWidgetItem* lp_left : {lp_row, lp_folder}) {
        QVERIFY(l_view.GetNodeDownloadEntryItems(lp_left).empty());
        QVERIFY(!l_view.GetDownloadNodeUserNode(lp_left));
    }
    l_tree.setCurrentItem(lp_folder);
    l_view.OnActionBarTriggered("remove_download");
    QCOMPARE(d.GetType("download_entry")->ItemCount(), std::size_t(1));
    QCOMPARE(ViewRows::Outline(l_world.Downloads()), QStringList({"alice [offline]", "  g", "    b | queued | 5"}));
}

// While rows keep leaving, the tree changes once a flood interval, rows
// coming and going together, and takes them out for good once the flood
// is over; rows the user removed, and the first row to leave after a
// quiet spell, go out of sight at the next refresh, and out of the tree a
// turn or two later. The updates' clock is the test's: their timers are
// real, and a refresh they bring decides by that clock, as does one that
// comes early.
void TestTransferTreeUpdates::rowsLeaveOnceAFloodInterval()
{
    constexpr int IntervalMs = 20;
    constexpr int FloodMs = 800;
    QTreeWidget l_tree;
    TransferTreeUpdates l_updates(IntervalMs, FloodMs, [](QTreeWidgetItem*) {});
    qint64 l_now = 0;
    l_updates.SetClock([&l_now] { return l_now; });
    std::map<QString, QTreeWidgetItem*> l_rows;
    auto l_join = [&](const QString& i_name) {
        l_rows[i_name] = new QTreeWidgetItem(QStringList{i_name});
        l_updates.Join(&l_tree, l_rows[i_name]);
    };
    auto l_shown = [&](const QString& i_name) {
        const QList<QTreeWidgetItem*> l_found = l_tree.findItems(i_name, Qt::MatchExactly);
        return !l_found.isEmpty() && !l_found.first()->isHidden();
    };
    for (const char* lp_name : {"a", "b", "c", "d"})
        l_join(lp_name);
    l_updates.Apply();
    QCOMPARE(l_tree.topLevelItemCount(), 4);

    l_updates.Leave(l_rows["a"]);
    QTRY_VERIFY(!l_shown("a"));
    const qint64 l_firstLeft = l_now;
    l_updates.Leave(l_rows["b"]);
    l_join("e");
    for (const qint64 l_after : {qint64(IntervalMs), qint64(FloodMs / 2), qint64(FloodMs - 1)}) {
        l_now = l_firstLeft + l_after;
        l_updates.Refresh();
        QVERIFY(l_shown("b"));
        QVERIFY(!l_shown("e"));
    }
    l_now = l_firstLeft + FloodMs;
    QTRY_VERIFY(!l_shown("b"));
    QVERIFY(l_shown("e"));
    // Out of the tree for good once the flood is over: a refresh interval
    // later.
    l_now += 2 * IntervalMs - 1;
    l_updates.Refresh();
    QCOMPARE(l_tree.topLevelItemCount(), 4);
    l_now += 1;
    QTRY_COMPARE(l_tree.topLevelItemCount(), 3);

    // Still a flood: the last refresh took rows out.
    l_updates.Leave(l_rows["c"]);
    l_updates.Hurry();
    QTRY_VERIFY(!l_shown("c"));

    l_now += 3 * IntervalMs;
    l_updates.Leave(l_rows["d"]);
    QTRY_VERIFY(!l_shown("d"));
    QTRY_COMPARE(l_tree.topLevelItemCount(), 1);
}

// In a flood, a user row that leaves is hidden until the flood is over,
// with the rows below it; a row below a user who stays is hidden at once
// and goes a turn or two later. On the test's clock, as above.
void TestTransferTreeUpdates::aFloodHidesUsersAndTakesOutRowsBelowOthers()
{
    constexpr int IntervalMs = 100;
    constexpr int FloodMs = 600;
    QTreeWidget l_tree;
    TransferTreeUpdates l_updates(IntervalMs, FloodMs, [](QTreeWidgetItem*) {});
    qint64 l_now = 0;
    l_updates.SetClock([&l_now] { return l_now; });
    std::map<QString, QTreeWidgetItem*> l_rows;
    auto l_add = [&](const QString& i_name, const QString& i_parent) {
        l_rows[i_name] = i_parent.isEmpty() ? new QTreeWidgetItem(QStringList{i_name})
                                            : new QTreeWidgetItem(l_rows[i_parent], QStringList{i_name});
        if (i_parent.isEmpty())
            l_updates.Join(&l_tree, l_rows[i_name]);
    };
    // Users u1 to u4 with a folder each; u1's folder holds x and y.
    for (const char* lp_user : {"u1", "u2", "u3", "u4"}) {
        l_add(lp_user, {});
        l_add(QString(lp_user) + "f", lp_user);
    }
    l_add("x", "u1f");
    l_add("y", "u1f");
    l_updates.Apply();

    l_updates.Leave(l_rows["u4"]);
    QTRY_COMPARE(l_tree.topLevelItemCount(), 3);
    // Held by the flood; then u3 and its folder hide, x and u2's folder go.
    l_updates.Leave(l_rows["x"]);
    l_updates.Leave(l_rows["u2f"]);
    l_updates.Leave(l_rows["u3f"]);
    l_updates.Leave(l_rows["u3"]);
    QCOMPARE(l_updates.ChildrenStaying(l_rows["u1f"]), 1);
    l_now = FloodMs - 1;
    l_updates.Refresh();
    QVERIFY(!l_rows["u3"]->isHidden());
    l_now = FloodMs;
    QTRY_VERIFY(l_rows["u3"]->isHidden());
    // Out of sight with u3, out of the tree a turn or two later.
    QCOMPARE(ViewRows::Outline(l_tree, true), QStringList({"u1", "  u1f", "    y", "u2"}));
    QTRY_COMPARE(l_rows["u1f"]->childCount(), 1);
    QCOMPARE(l_rows["u1f"]->child(0)->text(0), QString("y"));
    QTRY_COMPARE(l_rows["u2"]->childCount(), 0);
    QCOMPARE(l_tree.topLevelItemCount(), 3);
    QCOMPARE(l_updates.ChildrenStaying(l_rows["u1f"]), 1);
    QCOMPARE(l_updates.ChildrenStaying(l_rows["u2"]), 0);
    l_now += 2 * IntervalMs;
    QTRY_COMPARE(l_tree.topLevelItemCount(), 2);
    QCOMPARE(ViewRows::Outline(l_tree), QStringList({"u1", "  u1f", "    y", "u2"}));
}

// Children that leave a row that stays go in one step for that row, not
// one a row, and the tree shows what it would have shown had they gone one
// by one: the rows that stay in their order, open, closed or hidden as they
// were, and the same rows in sight.
void TestTransferTreeUpdates::childrenLeaveInOneStepAParent()
{
    const ChildFloodResult l_single = ChildFlood(true, {}, {});
    const ChildFloodResult l_flood = ChildFlood(false, {}, {});
    QCOMPARE(l_flood.m_shape, l_single.m_shape);
    QCOMPARE(l_flood.m_shown, l_single.m_shown);
    QCOMPARE(l_flood.m_top, l_single.m_top);
    QCOMPARE(l_single.m_childRemovals, 7);
    // u1, f0 and f6.
    QCOMPARE(l_flood.m_childRemovals, 3);
    QCOMPARE(l_flood.m_shown, QStringList({"u1", "  f0", "    a", "    d", "  f3", "    a", "    b", "    c", "    d",
                                           "  f6", "    b", "    c", "    d", "u2", "  g", "    a"}));
}

// The current row and the selection follow the rows that go as they do
// when the rows go one by one, wherever the user put them.
void TestTransferTreeUpdates::childrenLeaveAsRowByRowForWhatTheUserPointsAt_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("selected");
    QTest::newRow("current row stays below a row that loses children") << "u1/f0/a" << "";
    QTest::newRow("current row leaves") << "u1/f4" << "";
    QTest::newRow("current row at the end of a run that leaves") << "u1/f2" << "";
    QTest::newRow("current row below another user") << "u2/g/a" << "";
    QTest::newRow("selected row, not current, stays") << "u2/g" << "u1/f6/b";
    QTest::newRow("current row is the row that loses children") << "u1" << "";
}

void TestTransferTreeUpdates::childrenLeaveAsRowByRowForWhatTheUserPointsAt()
{
    QFETCH(QString, current);
    QFETCH(QString, selected);
    const ChildFloodResult l_single = ChildFlood(true, current, selected);
    const ChildFloodResult l_flood = ChildFlood(false, current, selected);
    QCOMPARE(l_flood.m_current, l_single.m_current);
    QCOMPARE(l_flood.m_selected, l_single.m_selected);
    QCOMPARE(l_flood.m_shape, l_single.m_shape);
    QCOMPARE(l_flood.m_top, l_single.m_top);
    QVERIFY(!l_flood.m_current.isEmpty());
}

// Rows that leave many parents, one each, as users dropped one entry each
// do, go in a few removals however many parents they leave, none of the
// rows that stay goes out of the tree and back, and the tree shows what it
// would have shown had they gone one by one: the same rows open, closed and
// in sight, the same current row and selection.
void TestTransferTreeUpdates::rowsLeavingManyParentsGoInAFewSteps_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("selected");
    QTest::newRow("current row where the tree put it") << "" << "";
    QTest::newRow("current row stays below a row that loses a file") << "u4/f1/a" << "";
    QTest::newRow("current row leaves") << "u4/f1/c" << "";
    QTest::newRow("current row below a folder that leaves") << "u1/f1/b" << "";
    QTest::newRow("current row is a user row that loses a folder") << "u5" << "";
    QTest::newRow("current row in a closed folder") << "u8/f1/c" << "";
    QTest::newRow("selected row stays below a user row that loses a folder") << "u0/f1" << "u7/f0/a";
    QTest::newRow("selected row leaves") << "u0/f1" << "u9/f0";
}

void TestTransferTreeUpdates::rowsLeavingManyParentsGoInAFewSteps()
{
    QFETCH(QString, current);
    QFETCH(QString, selected);
    const ChildFloodResult l_single = SpreadFlood(true, current, selected);
    const ChildFloodResult l_flood = SpreadFlood(false, current, selected);
    QCOMPARE(l_flood.m_current, l_single.m_current);
    QCOMPARE(l_flood.m_selected, l_single.m_selected);
    QCOMPARE(l_flood.m_shape, l_single.m_shape);
    QCOMPARE(l_flood.m_shown, l_single.m_shown);
    QCOMPARE(l_flood.m_top, l_single.m_top);
    QCOMPARE(l_single.m_removals, 30);
    // At most the rows the current row leaves go on their own, the rest
    // wait out of sight; the rows that stay stay in the tree.
    QVERIFY2(l_flood.m_removals <= 3, qPrintable(QString::number(l_flood.m_removals)));
    QCOMPARE(l_flood.m_outAndBack, 0);
}

namespace
{
// What the user sees of a tree at one turn: the rows shown, by path, the
// current row, the selection and the row at the top.
struct Sight
{
    QStringList m_shown;
    QString m_current;
    QStringList m_selected;
    QString m_top;

    bool operator==(const Sight&) const = default;
};

Sight SightOf(const QTreeWidget& i_tree)
{
    Sight l_sight;
    for (QTreeWidgetItemIterator l_row(const_cast<QTreeWidget*>(&i_tree), QTreeWidgetItemIterator::NotHidden); *l_row;
         ++l_row) {
        bool l_shown = true;
        for (const QTreeWidgetItem* lp_above = (*l_row)->parent(); lp_above; lp_above = lp_above->parent())
            l_shown = l_shown && !lp_above->isHidden();
        if (l_shown)
            l_sight.m_shown.append(PathOf(*l_row));
    }
    l_sight.m_current = PathOf(i_tree.currentItem());
    for (const QTreeWidgetItem* lp_row : i_tree.selectedItems())
        l_sight.m_selected.append(PathOf(lp_row));
    l_sight.m_selected.sort();
    l_sight.m_top = PathOf(i_tree.itemAt(5, 5));
    return l_sight;
}

int AllRows(const QTreeWidget& i_tree)
{
    int l_rows = 0;
    for (QTreeWidgetItemIterator l_row(const_cast<QTreeWidget*>(&i_tree)); *l_row; ++l_row)
        ++l_rows;
    return l_rows;
}

struct TurnsResult
{
    // What the user saw once the rows went.
    Sight m_sight;
    // Whether the user saw the same at every turn from the refresh on.
    bool m_steady = true;
    // The steps out of the tree at the turn of the refresh, which brings
    // the newcomer.
    int m_stepsAtRefresh = 0;
    // The rows in the tree once the rows went, shown or not.
    int m_rows = 0;
    // No step out of the tree was still to come.
    bool m_settled = false;
};

// 40 users u0 to u39 with folders f0 to f9 of files a to c, all open, the
// tree showing a few rows half way down, u20/f5/b current and u21/f0
// selected. The rows named by i_going leave and a newcomer joins; with
// i_byTimer the refresh comes from the event loop, otherwise Apply takes
// the rows out at once.
TurnsResult Turns(const QStringList& i_going, bool i_byTimer)
{
    TurnsResult l_result;
    // A turn ends when the events posted during it are served.
    int l_removedThisTurn = 0;
    bool l_refreshed = false;
    bool l_watching = false;
    QTreeWidget l_tree;
    l_tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
    TransferTreeUpdates l_updates(20, 200, [&](QTreeWidgetItem*) {
        if (!l_watching || l_refreshed)
            return;
        l_refreshed = true;
        l_result.m_stepsAtRefresh = l_removedThisTurn;
    });
    auto l_makeUser = [](const QString& i_name, int i_folders) {
        auto* lp_user = new QTreeWidgetItem(QStringList{i_name});
        for (int l_folder = 0; l_folder < i_folders; ++l_folder) {
            auto* lp_folder = new QTreeWidgetItem(lp_user, QStringList{QString("f%1").arg(l_folder)});
            for (const char* lp_file : {"a", "b", "c"})
                new QTreeWidgetItem(lp_folder, QStringList{lp_file});
        }
        return lp_user;
    };
    for (int l_user = 0; l_user < 40; ++l_user)
        l_updates.Join(&l_tree, l_makeUser(QString("u%1").arg(l_user), 10));
    l_updates.Apply();
    std::map<QString, QTreeWidgetItem*> l_rows;
    for (QTreeWidgetItemIterator l_row(&l_tree); *l_row; ++l_row)
        l_rows[PathOf(*l_row)] = *l_row;
    l_tree.expandAll();
    l_tree.resize(200, 160);
    l_tree.show();
    l_tree.setCurrentItem(l_rows["u20/f5/b"]);
    l_rows["u21/f0"]->setSelected(true);
    l_tree.verticalScrollBar()->setValue(l_tree.verticalScrollBar()->maximum() / 2);
    QCoreApplication::processEvents();

    QObject l_turns;
    QObject::connect(l_tree.model(), &QAbstractItemModel::rowsAboutToBeRemoved, &l_turns, [&] {
        if (l_removedThisTurn++ == 0)
            QMetaObject::invokeMethod(&l_turns, [&] { l_removedThisTurn = 0; }, Qt::QueuedConnection);
    });
    l_watching = true;
    for (const QString& l_path : i_going)
        l_updates.Leave(l_rows[l_path]);
    l_updates.Join(&l_tree, l_makeUser("newcomer", 1));
    if (!i_byTimer)
        l_updates.Apply();
    std::vector<Sight> l_seen;
    // Until no step is to come: every row went, or waits to be worth a step.
    // The deadline is one that only a hang outlasts.
    const QDeadlineTimer l_deadline(30000);
    while (!l_deadline.hasExpired() && (!l_refreshed || l_updates.Stepping())) {
        QTest::qWait(1);
        if (l_refreshed)
            l_seen.push_back(SightOf(l_tree));
    }
    l_result.m_settled = !l_updates.Stepping();
    QTest::qWait(50);
    l_result.m_sight = SightOf(l_tree);
    l_result.m_rows = AllRows(l_tree);
    for (const Sight& l_sight : l_seen)
        l_result.m_steady = l_result.m_steady && l_sight == l_result.m_sight;
    return l_result;
}
}  // namespace

// A refresh makes one step out of the tree at most, each a pass over the
// open rows, and takes the other rows that leave out of sight at once and
// out of the tree at later turns of the event loop. What the user sees
// stays as the refresh left it, and as it is when the rows go at once.
void TestTransferTreeUpdates::aRefreshMakesOneStepAndHidesTheRest_data()
{
    QTest::addColumn<QStringList>("going");
    QTest::newRow("a run of users at the top") << QStringList{"u0", "u1", "u2", "u3", "u4", "u5"};
    QTest::newRow("folders of a few users, many each")
        << QStringList{"u19/f0", "u19/f1", "u19/f2", "u19/f3", "u19/f4", "u19/f5", "u19/f6", "u19/f7", "u19/f8",
                       "u25/f1", "u25/f2", "u25/f3", "u25/f4", "u25/f5", "u25/f6", "u25/f7", "u25/f8", "u25/f9"};
    QTest::newRow("users above the rows in sight, and in it")
        << QStringList{"u2", "u9", "u10", "u11", "u18", "u21", "u22", "u23"};
    QTest::newRow("a folder of many users") << QStringList{"u3/f1",  "u5/f1",  "u7/f1",  "u9/f1",  "u11/f1",
                                                          "u13/f1", "u15/f1", "u17/f1", "u19/f1", "u21/f1"};
}

void TestTransferTreeUpdates::aRefreshMakesOneStepAndHidesTheRest()
{
    QFETCH(QStringList, going);
    const TurnsResult l_atOnce = Turns(going, false);
    const TurnsResult l_byTimer = Turns(going, true);
    QVERIFY(l_atOnce.m_settled && l_byTimer.m_settled);
    QVERIFY2(l_byTimer.m_stepsAtRefresh <= 1, qPrintable(QString::number(l_byTimer.m_stepsAtRefresh)));
    QVERIFY(l_byTimer.m_steady);
    QCOMPARE(l_byTimer.m_sight.m_shown, l_atOnce.m_sight.m_shown);
    QCOMPARE(l_byTimer.m_sight.m_current, l_atOnce.m_sight.m_current);
    QCOMPARE(l_byTimer.m_sight.m_selected, l_atOnce.m_sight.m_selected);
    QCOMPARE(l_byTimer.m_sight.m_top, l_atOnce.m_sight.m_top);
    QCOMPARE(l_byTimer.m_sight.m_current, QString("u20/f5/b"));
    QVERIFY(l_byTimer.m_sight.m_shown.contains("newcomer/f0/a"));
    for (const QString& l_path : going)
        QVERIFY(!l_byTimer.m_sight.m_shown.contains(l_path));
    // The rows that wait for more of their parent's rows stay, hidden, as
    // they do when they go at once.
    QCOMPARE(l_byTimer.m_rows, l_atOnce.m_rows);
}

namespace
{
// The bytes the process holds on its heap.
std::size_t HeapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}
}  // namespace

// A tree out of sight lays nothing out, and so never forgets by itself
// the open and hidden rows that left it. Users come and go, one in ten a
// refresh, and as many others lose a folder, for many refreshes: its memory
// stays what its rows take, and it shows what is left.
void TestTransferTreeUpdates::aTreeOutOfSightKeepsNothingOfRowsGone()
{
    constexpr int Users = 1000;
    constexpr int UsersARound = 100;
    constexpr int Rounds = 60;
    QTreeWidget l_tree;
    TransferTreeUpdates l_updates(1000, 1000, [](QTreeWidgetItem* ip_row) { ip_row->setExpanded(true); });
    std::vector<QTreeWidgetItem*> l_users;
    auto l_join = [&](int i_user) {
        auto* lp_user = new QTreeWidgetItem(QStringList{QString("u%1").arg(i_user)});
        for (const char* lp_folder : {"f0", "f1"})
            new QTreeWidgetItem(new QTreeWidgetItem(lp_user, QStringList{lp_folder}), QStringList{"a"});
        l_updates.Join(&l_tree, lp_user);
        l_users.push_back(lp_user);
    };
    for (int l_user = 0; l_user < Users; ++l_user)
        l_join(l_user);
    l_updates.Apply();

    std::size_t l_settled = 0;
    for (int l_round = 0; l_round < Rounds; ++l_round) {
        const std::size_t l_first = std::size_t(l_round * UsersARound);
        // The oldest users go; those half way lose their first folder.
        for (std::size_t l_user = l_first; l_user < l_first + UsersARound; ++l_user) {
            l_updates.Leave(l_users[l_user]);
            l_updates.Leave(l_users[l_user + Users / 2]->child(0));
        }
        for (int l_user = 0; l_user < UsersARound; ++l_user)
            l_join(Users + l_round * UsersARound + l_user);
        l_updates.Apply();
        if (l_round == Rounds / 3)
            l_settled = HeapInUse();
    }
    const std::size_t l_grown = HeapInUse() - std::min(HeapInUse(), l_settled);
    QVERIFY2(l_grown < 1024 * 1024, qPrintable(QString::number(l_grown)));
    QCOMPARE(ViewRows::Outline(l_tree, true).size(), Users / 2 * 5 + Users / 2 * 3);
    QCOMPARE(l_tree.topLevelItem(0)->text(0), QString("u%1").arg(Rounds * UsersARound));
}

QTEST_MAIN(TestTransferTreeUpdates)
#include "tst_transfer_tree_updates.moc"
