#include "core/store/Data.h"
#include "ui/frame/EventToolBar.h"
#include "ui/frame/FrameResources.h"
#include "ui/frame/FrameWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

class TestEventToolBar : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void noticeOnlyForHiddenWidget_data();
    void noticeOnlyForHiddenWidget();
    void withdrawal_data();
    void withdrawal();
    void clickRaisesWidgetThroughNestedTabs();
    void iconBlinksWhileWindowInactive();
    void ignoresClickAndDestructionOnceShowIsOver();

private:
    QStringList ButtonTexts() const;
    std::size_t Notices() const;

    std::unique_ptr<class StandInWindow> mp_window;
    std::unique_ptr<EventToolBar> mp_bar;
};

// The window above the bar, as the main window stands there: never shown
// here, so never active, and its icons are the application's.
class StandInWindow : public QWidget, public FrameWindow
{
public:
    StandInWindow()
    {
        InitFrameResources();
        gp_frameWindow = this;
    }
    ~StandInWindow() override { gp_frameWindow = nullptr; }
    QWidget* Widget() override { return this; }
    bool IsActive() const override { return isActiveWindow(); }
    void SetApplicationIcon(const QString& i_icon) override { QApplication::setWindowIcon(QIcon(i_icon)); }
    void ResetApplicationIcon() override { SetApplicationIcon(":/icons/offline_icon"); }
};

namespace {

// A view that withdraws its notice when it is shown, as the chat, search
// and share views do.
class NoticeView : public QLineEdit
{
public:
    void showEvent(QShowEvent* ip_event) override
    {
        QLineEdit::showEvent(ip_event);
        eventToolBar->RemoveEvent(this);
    }
};

// A window of nested tabs: the outer tab widget's second page is an inner
// tab widget whose second page holds the target line edit; the first pages
// are current, so the target is hidden.
struct TabWindow
{
    TabWindow()
    {
        auto* lp_layout = new QVBoxLayout(&m_window);
        lp_layout->addWidget(mp_other = new QLineEdit);
        lp_layout->addWidget(mp_outer = new QTabWidget);
        mp_outer->addTab(mp_firstPage = new QLineEdit, "first");
        mp_outer->addTab(mp_inner = new QTabWidget, "second");
        mp_inner->addTab(new QWidget, "a");
        auto* lp_page = new QWidget;
        new QVBoxLayout(lp_page);
        lp_page->layout()->addWidget(mp_target = new QLineEdit);
        mp_inner->addTab(lp_page, "b");
        m_window.show();
    }

    QWidget m_window;
    QLineEdit* mp_other;
    QLineEdit* mp_firstPage;
    QTabWidget* mp_outer;
    QTabWidget* mp_inner;
    QLineEdit* mp_target;
};

QImage IconImage(const QIcon& i_icon)
{
    return i_icon.pixmap(16, 16).toImage();
}

bool ApplicationIconIs(const QString& i_path)
{
    return IconImage(QApplication::windowIcon()) == IconImage(QIcon(i_path));
}

}  // namespace

void TestEventToolBar::init()
{
    d.Reset();
    mp_window = std::make_unique<StandInWindow>();
    mp_bar = std::make_unique<EventToolBar>();
}

void TestEventToolBar::cleanup()
{
    mp_bar.reset();
    mp_window.reset();
    g_showIsOver = false;
    d.Reset();
}

QStringList TestEventToolBar::ButtonTexts() const
{
    QStringList l_texts;
    for (QAction* lp_action : mp_bar->actions())
        l_texts << lp_action->text();
    return l_texts;
}

std::size_t TestEventToolBar::Notices() const
{
    return d.GetType("event_toolbar_widget")->GetItems().size();
}

void TestEventToolBar::noticeOnlyForHiddenWidget_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("visible") << "visible" << QStringList({""});
    QTest::newRow("page not current") << "hidden page" << QStringList({"alice"});
    QTest::newRow("window never shown") << "unshown" << QStringList({"alice"});
    QTest::newRow("second notice for one widget") << "twice" << QStringList({"alice"});
}

void TestEventToolBar::noticeOnlyForHiddenWidget()
{
    QFETCH(QString, where);
    QFETCH(QStringList, buttons);
    TabWindow l_ui;
    QVERIFY(QTest::qWaitForWindowExposed(&l_ui.m_window));
    QLineEdit l_unshown;
    QWidget* lp_widget = where == "visible" ? l_ui.mp_other : where == "unshown" ? &l_unshown : l_ui.mp_target;
    mp_bar->AddEvent("alice", ":/icons/chat_icon", lp_widget);
    if (where == "twice")
        mp_bar->AddEvent("bob", ":/icons/browse_icon", lp_widget);
    QCOMPARE(ButtonTexts(), buttons);
    QCOMPARE(mp_bar->IsEmpty(), buttons == QStringList({""}));
    QCOMPARE(Notices(), std::size_t(mp_bar->IsEmpty() ? 0 : 1));
}

void TestEventToolBar::withdrawal_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("withdrawn") << "withdrawn";
    QTest::newRow("view shown") << "shown";
    QTest::newRow("widget destroyed") << "destroyed";
}

void TestEventToolBar::withdrawal()
{
    QFETCH(QString, how);
    auto lp_first = std::make_unique<NoticeView>();
    QLineEdit l_second;
    QLineEdit l_never;
    mp_bar->AddEvent("first", ":/icons/chat_icon", lp_first.get());
    mp_bar->AddEvent("second", ":/icons/wishlist_icon", &l_second);
    QCOMPARE(ButtonTexts(), QStringList({"first", "second"}));

    if (how == "withdrawn")
        mp_bar->RemoveEvent(lp_first.get());
    else if (how == "shown")
        lp_first->show();
    else
        lp_first.reset();
    mp_bar->RemoveEvent(&l_never);
    QCOMPARE(ButtonTexts(), QStringList({"second"}));
    QCOMPARE(Notices(), std::size_t(1));

    // The last one withdrawn brings back the placeholder; a widget destroyed
    // after its notice went changes nothing.
    mp_bar->RemoveEvent(&l_second);
    lp_first.reset();
    QCOMPARE(ButtonTexts(), QStringList({""}));
    QVERIFY(mp_bar->IsEmpty());
    QCOMPARE(Notices(), std::size_t(0));
    QCOMPARE(d.GetType("event_toolbar_action")->GetItems().size(), std::size_t(0));
    mp_bar->AddEvent("second again", ":/icons/chat_icon", &l_second);
    QCOMPARE(ButtonTexts(), QStringList({"second again"}));
}

void TestEventToolBar::clickRaisesWidgetThroughNestedTabs()
{
    TabWindow l_ui;
    QVERIFY(QTest::qWaitForWindowExposed(&l_ui.m_window));
    mp_bar->AddEvent("frank", ":/icons/chat_icon", l_ui.mp_target);
    QPointer<QAction> lp_button = mp_bar->actions().first();
    QCOMPARE(lp_button->text(), QString("frank"));

    lp_button->trigger();
    QCOMPARE(l_ui.mp_outer->currentIndex(), 1);
    QCOMPARE(l_ui.mp_inner->currentIndex(), 1);
    QVERIFY(l_ui.mp_target->isVisible());
    QTRY_COMPARE(QApplication::focusWidget(), l_ui.mp_target);
    QCOMPARE(ButtonTexts(), QStringList({""}));
    QCOMPARE(Notices(), std::size_t(0));
    // The clicked button goes once its signal has been delivered.
    QVERIFY(lp_button);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!lp_button);
}

void TestEventToolBar::iconBlinksWhileWindowInactive()
{
    // The main window was never shown, so it is not the active window.
    QVERIFY(!gp_frameWindow->IsActive());
    QLineEdit l_hidden;
    TabWindow l_ui;
    QVERIFY(QTest::qWaitForWindowExposed(&l_ui.m_window));
    // A visible widget gets no button but still starts the blinking.
    mp_bar->AddEvent("visible", ":/icons/wishlist_icon", l_ui.mp_other);
    mp_bar->AddEvent("hidden", ":/icons/chat_icon", &l_hidden);
    mp_bar->AddEvent("again", ":/icons/wishlist_icon", l_ui.mp_target);
    QVERIFY(mp_bar->IsBlinking());
    QCOMPARE(mp_bar->IconAlerts().size(), std::size_t(2));

    // The icons in their sorted order, then the normal icon, and again.
    const QStringList l_cycle{":/icons/chat_icon", ":/icons/wishlist_icon", ":/icons/offline_icon",
                              ":/icons/chat_icon"};
    for (const QString& l_icon : l_cycle) {
        mp_bar->OnIconAlertTimeout();
        QVERIFY2(ApplicationIconIs(l_icon), qPrintable(l_icon));
    }

    // Any focus change ends it and restores the normal icon; the buttons stay.
    const QStringList l_buttons = ButtonTexts();
    l_ui.m_window.activateWindow();
    l_ui.mp_firstPage->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(!mp_bar->IsBlinking());
    QVERIFY(mp_bar->IconAlerts().empty());
    QVERIFY(ApplicationIconIs(":/icons/offline_icon"));
    QCOMPARE(ButtonTexts(), l_buttons);
    QCOMPARE(l_buttons, QStringList({"hidden", "again"}));
}

void TestEventToolBar::ignoresClickAndDestructionOnceShowIsOver()
{
    auto lp_widget = std::make_unique<QLineEdit>();
    mp_bar->AddEvent("grace", ":/icons/chat_icon", lp_widget.get());
    g_showIsOver = true;
    mp_bar->actions().first()->trigger();
    lp_widget.reset();
    QCOMPARE(ButtonTexts(), QStringList({"grace"}));
}

QTEST_MAIN(TestEventToolBar)
#include "tst_event_toolbar.moc"
