// The columns of the views that show figures: at first start each is wide
// enough for its header and a typical figure in the tree's own font and
// style; widths stored earlier are applied as they were stored.
#include "SearchViewWorld.h"
#include "SharesViewWorld.h"
#include "TransfersViewWorld.h"

#include "ui/social/QRoomUserListItemWidget.h"
#include "ui/social/RoomForm.h"
#include "ui/views/CompleteDownloadsForm.h"
#include "ui/views/SearchResultsForm.h"
#include "ui_CompleteDownloadsForm.h"
#include "ui_RoomForm.h"
#include "ui_SearchForm.h"
#include "ui_ShareForm.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <optional>

namespace
{
// As the style draws a cell's text: elided unless the cell holds the text's
// advance and the style's text margin on either side.
int NeededForText(const QTreeWidget& i_tree, const QString& i_text)
{
    const int l_margin = i_tree.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &i_tree) + 1;
    return i_tree.fontMetrics().horizontalAdvance(i_text) + 2 * l_margin;
}

// As the header draws its label: inside the header's margin on either side.
int NeededForHeader(const QTreeWidget& i_tree, int i_column)
{
    const QHeaderView& l_header = *i_tree.header();
    const int l_margin = l_header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &l_header);
    return l_header.fontMetrics().horizontalAdvance(i_tree.headerItem()->text(i_column)) + 2 * l_margin;
}

// Fusion as it draws on a screen of twice the density: indicators of 28 px.
class LargeIndicatorStyle : public QProxyStyle
{
public:
    LargeIndicatorStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}

    int pixelMetric(PixelMetric i_metric, const QStyleOption* ip_option, const QWidget* ip_widget) const override
    {
        const int l_value = QProxyStyle::pixelMetric(i_metric, ip_option, ip_widget);
        const bool l_indicator = i_metric == PM_IndicatorWidth || i_metric == PM_IndicatorHeight;
        return l_indicator ? 2 * l_value : l_value;
    }
};

// The application's style while it lives; the one before comes back after.
class StyleForTheTest
{
public:
    explicit StyleForTheTest(QStyle* ip_style) : m_before(QApplication::style()->name())
    {
        QApplication::setStyle(ip_style);
    }
    ~StyleForTheTest() { QApplication::setStyle(m_before); }
    StyleForTheTest(const StyleForTheTest&) = delete;
    StyleForTheTest& operator=(const StyleForTheTest&) = delete;

private:
    QString m_before;
};

// Every view made as the program makes it, in one world.
struct Views
{
    Views() : mp_results(std::make_unique<SearchResultsForm>()), mp_room(std::make_unique<RoomForm>("lobby"))
    {
        m_transfers.View().OnActionBarTriggered("complete_downloads");
    }

    QTreeWidget* Tree(const QString& i_view)
    {
        if (i_view == "downloads")
            return &m_transfers.Downloads();
        if (i_view == "uploads")
            return &m_transfers.Uploads();
        if (i_view == "complete")
            return completeDownloadsForm->Form()->downloadList;
        if (i_view == "results")
            return mp_results->searchResults();
        if (i_view == "members")
            return mp_room->Form()->userList;
        return nullptr;
    }

    TransfersViewWorld m_transfers;
    std::unique_ptr<SearchResultsForm> mp_results;
    std::unique_ptr<RoomForm> mp_room;
};
}  // namespace

class TestColumnWidths : public QObject
{
    Q_OBJECT

private slots:
    void figuresShowWhole_data();
    void figuresShowWhole();
    void busyRoomShowsEveryMemberColumn();
    void storedWidthsStillApply();
    void wishListCheckBoxShowsWhole_data();
    void wishListCheckBoxShowsWhole();
};

void TestColumnWidths::figuresShowWhole_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("figure");

    for (const char* lp_view : {"downloads", "uploads"}) {
        // A gigabit network passes 100,000 K/s.
        QTest::addRow("%s Kbs", lp_view) << lp_view << 6 << "999999.9";
        QTest::addRow("%s Size", lp_view) << lp_view << 7 << "99,999,999,999";
        QTest::addRow("%s ETA", lp_view) << lp_view << 5 << "   99h:59m:59s";
    }
    QTest::newRow("downloads Place") << "downloads" << 8 << "9999";
    QTest::newRow("results K/s") << "results" << 2 << "999999.9";
    QTest::newRow("results Size") << "results" << 5 << "99,999,999,999";
    QTest::newRow("results Attributes") << "results" << 6 << "320 VBR, 59m59s";
    QTest::newRow("members Files") << "members" << 3 << "1,234,567";
    QTest::newRow("members K/s") << "members" << 4 << "999999.9";
    QTest::newRow("complete Size") << "complete" << 3 << "99,999,999,999";
    QTest::newRow("complete Completion time")
        << "complete" << 4 << QDateTime(QDate(2026, 5, 27), QTime(23, 59, 59)).toString(Qt::TextDate);
    QTest::newRow("browse Size") << "browse" << 1 << "99,999,999,999";
}

void TestColumnWidths::figuresShowWhole()
{
    QFETCH(QString, view);
    QFETCH(int, column);
    QFETCH(QString, figure);
    // The browse page has a world of its own.
    std::optional<Views> l_views;
    std::optional<SharesViewWorld> l_shares;
    QTreeWidget* lp_tree = nullptr;
    if (view == "browse") {
        l_shares.emplace();
        lp_tree = l_shares->Receive("alice", {{"Music", {}}})->Form()->fileList;
    } else {
        lp_tree = l_views.emplace().Tree(view);
    }
    const int l_width = lp_tree->columnWidth(column);
    QVERIFY2(l_width >= NeededForText(*lp_tree, figure),
             qPrintable(QStringLiteral("%1 px for %2").arg(l_width).arg(NeededForText(*lp_tree, figure))));
    QVERIFY2(l_width >= NeededForHeader(*lp_tree, column),
             qPrintable(QStringLiteral("%1 px for the header").arg(l_width)));
}

void TestColumnWidths::busyRoomShowsEveryMemberColumn()
{
    Views l_views;
    RoomForm& l_room = *l_views.mp_room;
    QTreeWidget* lp_list = l_room.Form()->userList;
    // More members than the pane has lines: a vertical scroll bar.
    for (int l_member = 0; l_member < 100; ++l_member)
        new QTreeWidgetItem(lp_list, {QString(), QString(), QString::number(l_member), "1,234,567", "999999.9"});
    l_room.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_room));
    QVERIFY(lp_list->verticalScrollBar()->isVisible());
    // Nothing to scroll to: the last column, the speed, shows whole.
    QCOMPARE(lp_list->horizontalScrollBar()->maximum(), 0);
    const int l_speedStart = lp_list->header()->sectionViewportPosition(QRoomUserListItemWidget::SpeedColumn);
    QVERIFY(l_speedStart + NeededForText(*lp_list, "999999.9") <= lp_list->viewport()->width());
}

void TestColumnWidths::storedWidthsStillApply()
{
    QTemporaryDir l_folder;
    const QString l_file = l_folder.filePath("client.dat");
    int l_sizeWidth = 0;
    {
        // The narrow speed column an earlier first start stored.
        TransfersViewWorld l_world;
        l_world.Downloads().header()->resizeSection(6, 40);
        l_sizeWidth = l_world.Downloads().columnWidth(7);
        l_world.World().Save(l_file);
    }
    TransfersViewWorld l_world(false);
    l_world.Load(l_file);
    QCOMPARE(l_world.Downloads().columnWidth(6), 40);
    QCOMPARE(l_world.Downloads().columnWidth(7), l_sizeWidth);
}

void TestColumnWidths::wishListCheckBoxShowsWhole_data()
{
    QTest::addColumn<QString>("style");
    QTest::newRow("fusion") << "Fusion";
    QTest::newRow("windows") << "Windows";
    QTest::newRow("large indicator") << "large";
}

void TestColumnWidths::wishListCheckBoxShowsWhole()
{
    QFETCH(QString, style);
    // The page takes the application's style when it is made.
    const StyleForTheTest l_style(style == "large" ? new LargeIndicatorStyle : QStyleFactory::create(style));
    SearchViewWorld l_world;
    l_world.Search("jazz");
    l_world.View().OnActionBarTriggered("add_remove_wishlist");
    QTreeWidget& l_list = *l_world.Form()->wishList;
    // The indicator with the cell's margins on either side, in the tree's style.
    const QStyle& l_treeStyle = *l_list.style();
    const int l_needed = l_treeStyle.pixelMetric(QStyle::PM_IndicatorWidth, nullptr, &l_list) +
                         2 * (l_treeStyle.pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &l_list) + 1);
    QVERIFY2(l_list.columnWidth(0) >= l_needed,
             qPrintable(QStringLiteral("%1 px for %2").arg(l_list.columnWidth(0)).arg(l_needed)));
    QCOMPARE(l_list.header()->sectionResizeMode(0), QHeaderView::Fixed);
    QCOMPARE(l_list.header()->sectionResizeMode(1), QHeaderView::Fixed);
    // Shown, the row's box gets all the width it asks for.
    l_list.window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(l_list.window()));
    const QWidget* lp_box = l_list.itemWidget(l_list.topLevelItem(0), 0);
    QVERIFY(lp_box);
    QVERIFY2(lp_box->width() >= lp_box->sizeHint().width(),
             qPrintable(QStringLiteral("%1 px for %2").arg(lp_box->width()).arg(lp_box->sizeHint().width())));
}

QTEST_MAIN(TestColumnWidths)
#include "tst_column_widths.moc"
