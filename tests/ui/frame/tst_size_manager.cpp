#include "core/log/LogService.h"
#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "ui/main/MainWindow.h"
#include "ui/frame/SizeManager.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <climits>
#include <memory>

class TestSizeManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sizesSurviveSaveAndLoad();
    void firstRegistrationStoresWithoutChanging();
    void maximisedWindowStoresNothing();
    void fitToScreens_data();
    void fitToScreens();
    void widgetsOfOneNameFollowEachOther();
    void equalWidthsShareOneSizeItem();
    void splitterDefaultsStoredNotApplied();

private:
    // A fresh run: store, data saver and size service, as at start-up.
    void Start();
    void Stop();

    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<SizeManager> mp_sizes;
    QTemporaryDir m_folder;
};

namespace {

std::unique_ptr<QTreeWidget> MakeTree(int i_columns, bool i_stretchLast)
{
    auto lp_tree = std::make_unique<QTreeWidget>();
    lp_tree->setColumnCount(i_columns);
    lp_tree->header()->setStretchLastSection(i_stretchLast);
    for (int l_column = 0; l_column < i_columns; ++l_column)
        lp_tree->header()->resizeSection(l_column, 60);
    return lp_tree;
}

std::unique_ptr<QSplitter> MakeSplitter()
{
    auto lp_splitter = std::make_unique<QSplitter>();
    lp_splitter->addWidget(new QWidget);
    lp_splitter->addWidget(new QWidget);
    lp_splitter->resize(500, 300);
    lp_splitter->setSizes({250, 250});
    return lp_splitter;
}

// A user's drag of the handle between the panes; the sizes the panes got.
QList<int> Drag(QSplitter& io_splitter, const QList<int>& i_sizes)
{
    io_splitter.setSizes(i_sizes);
    emit io_splitter.splitterMoved(i_sizes.first(), 1);
    return io_splitter.sizes();
}

// The sizes that a splitter like those of the tests takes for these.
QList<int> AsApplied(const QList<int>& i_sizes)
{
    return Drag(*MakeSplitter(), i_sizes);
}

QList<int> ColumnWidths(QTreeWidget& i_tree)
{
    QList<int> l_widths;
    for (int l_column = 0; l_column < i_tree.columnCount(); ++l_column)
        l_widths << i_tree.header()->sectionSize(l_column);
    return l_widths;
}

int Stored(const char* ip_type, const char* ip_window)
{
    return d.GetType("sizer_window")->HasItem(ip_window)[ip_type].AsInt();
}

}  // namespace

void TestSizeManager::initTestCase()
{
    SetLogFolder(QString());
    QVERIFY(m_folder.isValid());
}

void TestSizeManager::init()
{
    Start();
}

void TestSizeManager::cleanup()
{
    Stop();
    // Set by every main window's destructor.
    g_showIsOver = false;
}

void TestSizeManager::Start()
{
    d.Reset();
    mp_saver = std::make_unique<DataSaver>();
    mp_sizes = std::make_unique<SizeManager>();
}

void TestSizeManager::Stop()
{
    mp_sizes.reset();
    mp_saver.reset();
    d.Reset();
}

void TestSizeManager::sizesSurviveSaveAndLoad()
{
    const QByteArray l_file = m_folder.filePath("client.dat").toLocal8Bit();
    QList<int> l_dragged;
    {
        MainWindow l_window;
        l_window.setGeometry(40, 50, 900, 600);
        mp_sizes->RegisterResizableWindow("main_window", &l_window.GetSizeProxy());
        l_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&l_window));
        l_window.setGeometry(60, 70, 960, 560);
        QTRY_COMPARE(Stored("sizer_width", "main_window"), 960);
        QTRY_COMPARE(Stored("sizer_x", "main_window"), 60);

        auto lp_tree = MakeTree(3, true);
        mp_sizes->RegisterTreeWidget("room_list", lp_tree.get());
        lp_tree->header()->resizeSection(0, 150);
        lp_tree->header()->resizeSection(1, 30);
        auto lp_splitter = MakeSplitter();
        mp_sizes->RegisterSplitter("room_list_splitter", lp_splitter.get(), {});
        l_dragged = Drag(*lp_splitter, {380, 120});
        mp_saver->Save(l_file.constData());
    }

    Stop();
    Start();
    mp_saver->Load(l_file.constData());
    MainWindow l_window;
    l_window.setGeometry(0, 0, 300, 200);
    mp_sizes->RegisterResizableWindow("main_window", &l_window.GetSizeProxy());
    QCOMPARE(l_window.geometry(), QRect(60, 70, 960, 560));
    auto lp_tree = MakeTree(3, true);
    mp_sizes->RegisterTreeWidget("room_list", lp_tree.get());
    QCOMPARE(ColumnWidths(*lp_tree).mid(0, 2), QList<int>({150, 30}));
    auto lp_splitter = MakeSplitter();
    mp_sizes->RegisterSplitter("room_list_splitter", lp_splitter.get(), {100, 400});
    QCOMPARE(lp_splitter->sizes(), l_dragged);
}

void TestSizeManager::firstRegistrationStoresWithoutChanging()
{
    // The last column stretches: its width is never stored.
    auto lp_tree = MakeTree(3, true);
    lp_tree->header()->resizeSection(1, 90);
    mp_sizes->RegisterTreeWidget("download_list", lp_tree.get());
    const ItemPtr l_layout = d.GetType("sizer_tree")->HasItem("download_list");
    QVERIFY(!l_layout.IsNull());
    QCOMPARE(l_layout.GetItems("sizer_tree_column").size(), std::size_t(2));
    QCOMPARE(ColumnWidths(*lp_tree).mid(0, 2), QList<int>({60, 90}));

    // Only stored columns are applied to a later tree.
    auto lp_later = MakeTree(3, true);
    lp_later->header()->resizeSection(2, 33);
    lp_later->header()->resizeSection(1, 10);
    mp_sizes->RegisterTreeWidget("download_list", lp_later.get());
    QCOMPARE(lp_later->header()->sectionSize(1), 90);

    // A tree that goes takes only its own registration with it.
    lp_tree.reset();
    lp_later.reset();
    QCOMPARE(d.GetType("sizer_tree_widget")->GetItems().size(), std::size_t(0));
    QCOMPARE(l_layout.GetItems("sizer_tree_column").size(), std::size_t(2));
}

void TestSizeManager::maximisedWindowStoresNothing()
{
    MainWindow l_window;
    l_window.setGeometry(20, 30, 400, 300);
    mp_sizes->RegisterResizableWindow("main_window", &l_window.GetSizeProxy());
    QCOMPARE(Stored("sizer_width", "main_window"), 400);
    l_window.showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(&l_window));
    QTRY_VERIFY(l_window.isMaximized());
    QCoreApplication::processEvents();
    QCOMPARE(Stored("sizer_x", "main_window"), 20);
    QCOMPARE(Stored("sizer_y", "main_window"), 30);
    QCOMPARE(Stored("sizer_width", "main_window"), 400);
    QCOMPARE(Stored("sizer_height", "main_window"), 300);
    // The old values are the only ones of their types.
    QCOMPARE(d.GetType("sizer_width")->GetItems().size(), std::size_t(1));
}

void TestSizeManager::fitToScreens_data()
{
    QTest::addColumn<QList<int>>("stored");
    QTest::addColumn<QList<QRect>>("areas");
    QTest::addColumn<QRect>("fitted");
    const QList<QRect> l_one{QRect(0, 0, 1920, 1040)};
    const QList<QRect> l_two{QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1000)};
    QTest::newRow("inside") << QList<int>{100, 80, 800, 600} << l_one << QRect(100, 80, 800, 600);
    QTest::newRow("over the right edge") << QList<int>{1500, 80, 800, 600} << l_one << QRect(1120, 80, 800, 600);
    QTest::newRow("far away") << QList<int>{-40000, 70000, 800, 600} << l_one << QRect(0, 440, 800, 600);
    QTest::newRow("larger than the screen") << QList<int>{10, 10, 5000, 3000} << l_one << QRect(0, 0, 1920, 1040);
    QTest::newRow("no size") << QList<int>{10, 10, 0, 0} << l_one << QRect(10, 10, 200, 150);
    QTest::newRow("negative size") << QList<int>{10, 10, -5, INT_MIN} << l_one << QRect(10, 10, 200, 150);
    QTest::newRow("second screen") << QList<int>{2000, 100, 800, 600} << l_two << QRect(2000, 100, 800, 600);
    QTest::newRow("mostly on the second screen") << QList<int>{1800, 100, 800, 600} << l_two
                                                 << QRect(1920, 100, 800, 600);
    QTest::newRow("largest numbers") << QList<int>{INT_MAX, INT_MAX, INT_MAX, INT_MAX} << l_two
                                     << QRect(0, 0, 1920, 1040);
    QTest::newRow("smallest numbers") << QList<int>{INT_MIN, INT_MIN, INT_MAX, INT_MAX} << l_one
                                      << QRect(0, 0, 1920, 1040);
    QTest::newRow("no screen: minimum only") << QList<int>{5, 6, 7, 8} << QList<QRect>() << QRect(5, 6, 200, 150);
}

void TestSizeManager::fitToScreens()
{
    QFETCH(QList<int>, stored);
    QFETCH(QList<QRect>, areas);
    QFETCH(QRect, fitted);
    QCOMPARE(SizeManager::FitToScreens(stored[0], stored[1], stored[2], stored[3], areas), fitted);
}

void TestSizeManager::widgetsOfOneNameFollowEachOther()
{
    auto lp_first = MakeTree(3, false);
    auto lp_second = MakeTree(3, false);
    mp_sizes->RegisterTreeWidget("room_user_list", lp_first.get());
    mp_sizes->RegisterTreeWidget("room_user_list", lp_second.get());
    lp_first->header()->resizeSection(2, 111);
    QCOMPARE(ColumnWidths(*lp_second), QList<int>({60, 60, 111}));
    lp_second->header()->resizeSection(0, 77);
    QCOMPARE(ColumnWidths(*lp_first), QList<int>({77, 60, 111}));

    auto lp_splitterA = MakeSplitter();
    auto lp_splitterB = MakeSplitter();
    mp_sizes->RegisterSplitter("room_splitter", lp_splitterA.get(), {});
    mp_sizes->RegisterSplitter("room_splitter", lp_splitterB.get(), {});
    QCOMPARE(lp_splitterB->sizes(), Drag(*lp_splitterA, {300, 200}));

    // A tab closed: the layout stays for the next one, which gets the latest.
    lp_splitterA.reset();
    lp_first.reset();
    const QList<int> l_latest = Drag(*lp_splitterB, {420, 80});
    lp_second->header()->resizeSection(1, 44);
    auto lp_later = MakeTree(3, false);
    auto lp_laterSplitter = MakeSplitter();
    mp_sizes->RegisterTreeWidget("room_user_list", lp_later.get());
    mp_sizes->RegisterSplitter("room_splitter", lp_laterSplitter.get(), {});
    QCOMPARE(ColumnWidths(*lp_later), QList<int>({77, 44, 111}));
    QCOMPARE(lp_laterSplitter->sizes(), l_latest);
    QCOMPARE(d.GetType("sizer_splitter_widget")->GetItems().size(), std::size_t(2));
}

void TestSizeManager::equalWidthsShareOneSizeItem()
{
    auto lp_tree = MakeTree(2, false);
    mp_sizes->RegisterTreeWidget("user_list", lp_tree.get());
    const ItemPtr l_sixty = d.GetType("sizer_size")->HasItem(60);
    QCOMPARE(l_sixty.GetItems("sizer_tree_column").size(), std::size_t(2));

    lp_tree->header()->resizeSection(0, 90);
    QCOMPARE(d.GetType("sizer_size")->HasItem(60).Get(), l_sixty.Get());
    QCOMPARE(l_sixty.GetItems("sizer_tree_column").size(), std::size_t(1));
    // Both at the new width: the old value is left to nobody and goes.
    lp_tree->header()->resizeSection(1, 90);
    QVERIFY(d.GetType("sizer_size")->HasItem(60).IsNull());
    QCOMPARE(d.GetType("sizer_size")->HasItem(90).GetItems("sizer_tree_column").size(), std::size_t(2));
}

void TestSizeManager::splitterDefaultsStoredNotApplied()
{
    auto lp_splitter = MakeSplitter();
    const QList<int> l_before = lp_splitter->sizes();
    mp_sizes->RegisterSplitter("wish_list_splitter", lp_splitter.get(), {300, 200});
    QCOMPARE(lp_splitter->sizes(), l_before);
    auto lp_next = MakeSplitter();
    lp_next->setSizes({10, 490});
    mp_sizes->RegisterSplitter("wish_list_splitter", lp_next.get(), {});
    QCOMPARE(lp_next->sizes(), AsApplied({300, 200}));
}

QTEST_MAIN(TestSizeManager)
#include "tst_size_manager.moc"
