#include "core/persist/Settings.h"
#include "core/platform/DesktopOpener.h"
#include "core/store/Data.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/FrameWindow.h"

#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QWidgetAction>
#include <QtTest>

#include <climits>
#include <memory>

class TestActionSetToolBar : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void setFollowsFocus_data();
    void setFollowsFocus();
    void refocusKeepsButtonsOtherWidgetRebuilds();
    void textOverrides();
    void autoFocusedTabWidgetMovesFocus();
    void click_data();
    void click();
    void supportButtonText_data();
    void supportButtonText();
    void supportPageCarriesEncodedName_data();
    void supportPageCarriesEncodedName();
    void destroyedWidgetLeavesNothingBehind();
    void rebuildingFreesOldButtons();
    void focusIgnoredOnceShowIsOver();
};

namespace {

// A window with the bar over a free line edit and a tab widget:
//   page 0 "roomsPage" (set "room_list", keys "room" = column 0 and
//          "page" = "rooms") holds the tree "roomTree" and "roomEdit";
//   page 1 is itself a tab widget "inner" with "userPage" (set
//          "user_list", holding "userEdit") and the unbound "plainPage";
//   page 2 "emptyPage" (set "empty_set", which has no actions).
struct BarWindow
{
    BarWindow()
    {
        d.Reset();
        Settings::DeclareTypes();
        mp_window = std::make_unique<QWidget>();
        auto* lp_layout = new QVBoxLayout(mp_window.get());
        mp_bar = new ActionSetToolBar(mp_window.get());
        lp_layout->addWidget(mp_bar);
        lp_layout->addWidget(Named(new QLineEdit, "freeEdit"));
        mp_outer = Named(new QTabWidget, "outer");
        lp_layout->addWidget(mp_outer);

        mp_roomsPage = Page(mp_outer, "roomsPage");
        mp_tree = Named(new QTreeWidget, "roomTree");
        mp_tree->setColumnCount(2);
        for (const char* lp_room : {"Lobby", "Music", "Earlier"})
            new QTreeWidgetItem(mp_tree, {lp_room, "7"});
        mp_roomsPage->layout()->addWidget(mp_tree);
        mp_roomsPage->layout()->addWidget(Named(new QLineEdit, "roomEdit"));

        mp_inner = Named(new QTabWidget, "inner");
        mp_outer->addTab(mp_inner, "inner");
        Page(mp_inner, "userPage")->layout()->addWidget(Named(new QLineEdit, "userEdit"));
        Page(mp_inner, "plainPage")->layout()->addWidget(Named(new QLineEdit, "plainEdit"));
        Page(mp_outer, "emptyPage")->layout()->addWidget(Named(new QLineEdit, "emptyEdit"));

        // Declared interleaved: each set keeps its own declaration order.
        mp_bar->AddSetAction("room_list", "enter_room", "Enter Room", ":/icons/room_icon", false);
        mp_bar->AddSetAction("user_list", "manual_add_user", "Add User", ":/icons/add_user_icon", false);
        mp_bar->AddSetAction("room_list", "create_room", "Create Room", ":/icons/room_icon", false);
        mp_bar->AddSetAction("room_list", "browse_selected", "Browse", ":/icons/browse_icon", true);
        mp_bar->AddSetAction("user_list", "configure_user_groups", "Configure User Groups", ":/icons/users_icon", false);
        mp_bar->RegisterWidget(mp_roomsPage, "room_list");
        mp_bar->AddWidgetColumnKey(mp_roomsPage, "room", 0);
        mp_bar->AddWidgetKey(mp_roomsPage, "page", "rooms");
        mp_bar->RegisterWidget(Find("userPage"), "user_list");
        mp_bar->RegisterWidget(Find("emptyPage"), "empty_set");

        QObject::connect(mp_bar, &ActionSetToolBar::ActionTriggered, mp_bar, [this](std::string i_id) {
            m_triggered << QString::fromStdString(i_id);
            m_roomKeys << mp_bar->GetKey("room");
            m_pageKeys << mp_bar->GetKey("page");
        });
        mp_window->show();
        mp_window->activateWindow();
    }

    ~BarWindow()
    {
        // As at the end of the program: the bar must not rebuild itself while
        // its window is being torn down.
        delete mp_bar;
        mp_window.reset();
        d.Reset();
    }

    template <class W>
    static W* Named(W* ip_widget, const char* ip_name)
    {
        ip_widget->setObjectName(ip_name);
        return ip_widget;
    }

    static QWidget* Page(QTabWidget* ip_tabs, const char* ip_name)
    {
        auto* lp_page = Named(new QWidget, ip_name);
        new QVBoxLayout(lp_page);
        ip_tabs->addTab(lp_page, ip_name);
        return lp_page;
    }

    QWidget* Find(const QString& i_name) const { return mp_window->findChild<QWidget*>(i_name); }

    // Focus moves away and then to the widget, so the bar always sees a change.
    bool FocusOn(QWidget* ip_widget)
    {
        if (QWidget* lp_old = QApplication::focusWidget())
            lp_old->clearFocus();
        ip_widget->setFocus(Qt::OtherFocusReason);
        return QTest::qWaitFor(
            [ip_widget] {
                QWidget* lp_focus = QApplication::focusWidget();
                return lp_focus && (lp_focus == ip_widget || lp_focus == ip_widget->focusProxy());
            },
            2000);
    }

    // Texts of the action buttons, without the spacer and the support button.
    QStringList ButtonTexts() const
    {
        QStringList l_texts;
        for (QAction* lp_action : mp_bar->actions()) {
            if (!qobject_cast<QWidgetAction*>(lp_action))
                l_texts << lp_action->text();
        }
        return l_texts;
    }

    QAction* Button(const QString& i_text) const
    {
        for (QAction* lp_action : mp_bar->actions()) {
            if (lp_action->text() == i_text)
                return lp_action;
        }
        return nullptr;
    }

    bool EndsWithSupportButton() const
    {
        const QList<QAction*> l_actions = mp_bar->actions();
        if (l_actions.size() < 2)
            return false;
        auto* lp_last = qobject_cast<QWidgetAction*>(l_actions.last());
        auto* lp_spacer = qobject_cast<QWidgetAction*>(l_actions[l_actions.size() - 2]);
        return lp_last && lp_spacer && lp_last->defaultWidget() == mp_bar->SupportButton() &&
               lp_spacer->defaultWidget()->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding;
    }

    std::unique_ptr<QWidget> mp_window;
    ActionSetToolBar* mp_bar;
    QTabWidget* mp_outer;
    QTabWidget* mp_inner;
    QWidget* mp_roomsPage;
    QTreeWidget* mp_tree;
    QStringList m_triggered;
    QStringList m_roomKeys;
    QStringList m_pageKeys;
};

const QStringList g_roomButtons{"Enter Room", "Create Room", "Browse"};
const QStringList g_userButtons{"Add User", "Configure User Groups"};

}  // namespace

void TestActionSetToolBar::cleanup()
{
    SetDesktopOpener({});
    g_showIsOver = false;
}

void TestActionSetToolBar::setFollowsFocus_data()
{
    QTest::addColumn<int>("outerPage");
    QTest::addColumn<int>("innerPage");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("tree in a bound page") << 0 << 0 << "roomTree" << g_roomButtons;
    QTest::newRow("line edit in a bound page") << 0 << 0 << "roomEdit" << g_roomButtons;
    QTest::newRow("tab widget stands for its current page") << 0 << 0 << "outer" << g_roomButtons;
    QTest::newRow("current page is a tab widget: its current page") << 1 << 0 << "outer" << g_userButtons;
    QTest::newRow("inner tab bar") << 1 << 0 << "inner" << g_userButtons;
    QTest::newRow("nested page not bound") << 1 << 1 << "outer" << QStringList();
    QTest::newRow("line edit in no bound widget") << 0 << 0 << "freeEdit" << QStringList();
    QTest::newRow("bound set without actions") << 2 << 0 << "emptyEdit" << QStringList();
}

void TestActionSetToolBar::setFollowsFocus()
{
    QFETCH(int, outerPage);
    QFETCH(int, innerPage);
    QFETCH(QString, focus);
    QFETCH(QStringList, buttons);
    BarWindow l_ui;
    QVERIFY(QTest::qWaitForWindowActive(l_ui.mp_window.get()));
    l_ui.mp_outer->setCurrentIndex(outerPage);
    l_ui.mp_inner->setCurrentIndex(innerPage);
    QVERIFY(l_ui.FocusOn(l_ui.Find(focus)));
    QCOMPARE(l_ui.ButtonTexts(), buttons);
    QVERIFY(l_ui.EndsWithSupportButton());
    QCOMPARE(l_ui.mp_bar->actions().size(), buttons.size() + 2);
}

void TestActionSetToolBar::refocusKeepsButtonsOtherWidgetRebuilds()
{
    BarWindow l_ui;
    QVERIFY(QTest::qWaitForWindowActive(l_ui.mp_window.get()));
    QVERIFY(l_ui.FocusOn(l_ui.Find("roomTree")));
    const QList<QAction*> l_before = l_ui.mp_bar->actions();
    // Another widget inside the same bound page: the bar is left alone.
    l_ui.Find("roomEdit")->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), l_ui.Find("roomEdit"));
    QCOMPARE(l_ui.mp_bar->actions(), l_before);

    // A second widget bound to the same set gets buttons of its own, with its
    // own texts.
    auto* lp_second = new QLineEdit(l_ui.mp_window.get());
    l_ui.mp_window->layout()->addWidget(lp_second);
    lp_second->show();
    l_ui.mp_bar->RegisterWidget(lp_second, "room_list");
    l_ui.mp_bar->SetWidgetActionText(lp_second, "enter_room", "Enter Here");
    QVERIFY(l_ui.FocusOn(lp_second));
    QCOMPARE(l_ui.ButtonTexts(), QStringList({"Enter Here", "Create Room", "Browse"}));
    QVERIFY(!l_ui.mp_bar->actions().contains(l_before.first()));

    // Bound again to another set: the next focus change shows that one.
    l_ui.mp_bar->RegisterWidget(lp_second, "user_list");
    QVERIFY(l_ui.FocusOn(l_ui.Find("freeEdit")));
    QVERIFY(l_ui.FocusOn(lp_second));
    QCOMPARE(l_ui.ButtonTexts(), g_userButtons);
}

void TestActionSetToolBar::textOverrides()
{
    BarWindow l_ui;
    QVERIFY(QTest::qWaitForWindowActive(l_ui.mp_window.get()));
    QVERIFY(l_ui.FocusOn(l_ui.mp_tree));
    QWidget* lp_userPage = l_ui.Find("userPage");

    // The widget whose set is shown: the button changes at once.
    l_ui.mp_bar->SetWidgetActionText(l_ui.mp_roomsPage, "create_room", "Create Room [on]");
    QCOMPARE(l_ui.ButtonTexts(), QStringList({"Enter Room", "Create Room [on]", "Browse"}));
    // Another widget, an undeclared id or an unbound widget: nothing shown changes.
    l_ui.mp_bar->SetWidgetActionText(lp_userPage, "manual_add_user", "Add Someone");
    l_ui.mp_bar->SetWidgetActionText(l_ui.mp_roomsPage, "no_such_action", "Nothing");
    l_ui.mp_bar->SetWidgetActionText(l_ui.Find("freeEdit"), "enter_room", "Nothing");
    QCOMPARE(l_ui.ButtonTexts(), QStringList({"Enter Room", "Create Room [on]", "Browse"}));
    QCOMPARE(d.GetType("widget_action_text")->HasItem("Nothing").IsNull(), true);

    // Replacing an override that another widget shares leaves the other's.
    l_ui.mp_bar->SetWidgetActionText(lp_userPage, "manual_add_user", "Create Room [on]");
    l_ui.mp_bar->SetWidgetActionText(l_ui.mp_roomsPage, "create_room", "Create Room [off]");
    QCOMPARE(l_ui.ButtonTexts(), QStringList({"Enter Room", "Create Room [off]", "Browse"}));
    l_ui.mp_outer->setCurrentIndex(1);
    QVERIFY(l_ui.FocusOn(l_ui.Find("userEdit")));
    QCOMPARE(l_ui.ButtonTexts(), QStringList({"Create Room [on]", "Configure User Groups"}));

    // Overrides stay with their widget.
    l_ui.mp_outer->setCurrentIndex(0);
    QVERIFY(l_ui.FocusOn(l_ui.mp_tree));
    QCOMPARE(l_ui.ButtonTexts(), QStringList({"Enter Room", "Create Room [off]", "Browse"}));
}

void TestActionSetToolBar::autoFocusedTabWidgetMovesFocus()
{
    BarWindow l_ui;
    QVERIFY(QTest::qWaitForWindowActive(l_ui.mp_window.get()));
    l_ui.mp_outer->setCurrentIndex(1);
    l_ui.mp_inner->setCurrentIndex(1);
    l_ui.mp_bar->AutoFocusTabWidget(l_ui.mp_inner);
    QVERIFY(l_ui.FocusOn(l_ui.Find("plainEdit")));
    QCOMPARE(l_ui.ButtonTexts(), QStringList());

    l_ui.mp_inner->setCurrentIndex(0);
    QTRY_COMPARE(QApplication::focusWidget(), l_ui.Find("userPage"));
    QCOMPARE(l_ui.ButtonTexts(), g_userButtons);
    l_ui.mp_inner->setCurrentIndex(1);
    QTRY_COMPARE(QApplication::focusWidget(), l_ui.Find("plainPage"));
    QCOMPARE(l_ui.ButtonTexts(), QStringList());
}

void TestActionSetToolBar::click_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("selectedRoom");
    QTest::addColumn<bool>("emitted");
    QTest::addColumn<QString>("roomKey");
    QTest::newRow("selected row fills the column key") << "roomTree" << "Enter Room" << "Music" << true << "Music";
    QTest::newRow("no selection: key keeps its last value") << "roomTree" << "Enter Room" << "" << true << "Earlier";
    QTest::newRow("needs selection, none") << "roomTree" << "Browse" << "" << false << "";
    QTest::newRow("needs selection, row selected") << "roomTree" << "Browse" << "Lobby" << true << "Lobby";
    QTest::newRow("no tree on the focus path: flag not consulted") << "roomEdit" << "Browse" << "" << true << "Earlier";
}

void TestActionSetToolBar::click()
{
    QFETCH(QString, focus);
    QFETCH(QString, button);
    QFETCH(QString, selectedRoom);
    QFETCH(bool, emitted);
    QFETCH(QString, roomKey);
    BarWindow l_ui;
    QVERIFY(QTest::qWaitForWindowActive(l_ui.mp_window.get()));
    QCOMPARE(l_ui.mp_bar->GetKey("room"), QString());

    // An earlier click leaves a value behind.
    QVERIFY(l_ui.FocusOn(l_ui.mp_tree));
    l_ui.mp_tree->findItems("Earlier", Qt::MatchExactly).first()->setSelected(true);
    l_ui.Button("Enter Room")->trigger();
    l_ui.mp_tree->clearSelection();
    l_ui.m_triggered.clear();
    l_ui.m_roomKeys.clear();
    l_ui.m_pageKeys.clear();

    QVERIFY(l_ui.FocusOn(l_ui.Find(focus)));
    if (!selectedRoom.isEmpty())
        l_ui.mp_tree->findItems(selectedRoom, Qt::MatchExactly).first()->setSelected(true);
    QAction* lp_button = l_ui.Button(button);
    QVERIFY(lp_button);
    lp_button->trigger();
    if (!emitted) {
        QCOMPARE(l_ui.m_triggered, QStringList());
        return;
    }
    QCOMPARE(l_ui.m_triggered.size(), 1);
    QCOMPARE(l_ui.m_roomKeys, QStringList({roomKey}));
    // The fixed key was in place from the focus change on.
    QCOMPARE(l_ui.m_pageKeys, QStringList({"rooms"}));
    QCOMPARE(l_ui.m_triggered.first(), button == "Browse" ? QString("browse_selected") : QString("enter_room"));
}

void TestActionSetToolBar::supportButtonText_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0 << "Support Kestrune!";
    QTest::newRow("negative") << -5 << "Support Kestrune!";
    QTest::newRow("one second") << 1 << "0 Days Left";
    QTest::newRow("just under half a day") << 43199 << "0 Days Left";
    QTest::newRow("half a day rounds up") << 43200 << "1 Days Left";
    QTest::newRow("a day and a half") << 86400 + 43200 << "2 Days Left";
    // Rounding must not overflow for the largest report.
    QTest::newRow("largest") << INT_MAX << "24855 Days Left";
}

void TestActionSetToolBar::supportButtonText()
{
    QFETCH(int, seconds);
    QFETCH(QString, text);
    BarWindow l_ui;
    l_ui.mp_bar->OnReceivedOwnPrivilegesStatus(seconds);
    QCOMPARE(l_ui.mp_bar->SupportButton()->text(), text);

    // A rebuilt bar reads the stored time.
    Settings::Set("privileges_time_left", std::to_string(seconds));
    l_ui.mp_bar->Clear();
    l_ui.mp_bar->AddSupportKestruneButton();
    QCOMPARE(l_ui.mp_bar->SupportButton()->text(), text);
    QVERIFY(l_ui.EndsWithSupportButton());
    QCOMPARE(l_ui.mp_bar->SupportButton()->focusPolicy(), Qt::NoFocus);
}

void TestActionSetToolBar::supportPageCarriesEncodedName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("url");
    const QByteArray l_page = QByteArray(ActionSetToolBar::SupportPage) + "?username=";
    QTest::newRow("plain") << "alice" << l_page + "alice";
    QTest::newRow("delimiters") << "a&b=c#d" << l_page + "a%26b%3Dc%23d";
    QTest::newRow("space and plus") << "Mr Smith+1" << l_page + "Mr%20Smith%2B1";
    QTest::newRow("percent") << "100%" << l_page + "100%25";
    QTest::newRow("Latin-1") << QString::fromLatin1("J\xe9r\xf4me") << l_page + "J%C3%A9r%C3%B4me";
    QTest::newRow("no name yet") << QString() << l_page;
}

void TestActionSetToolBar::supportPageCarriesEncodedName()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, url);
    BarWindow l_ui;
    if (!name.isNull())
        Settings::Set("username", name.toLatin1().toStdString());
    QList<QUrl> l_opened;
    SetDesktopOpener([&l_opened](const QUrl& i_url) {
        l_opened << i_url;
        return true;
    });
    l_ui.mp_bar->SupportButton()->click();
    QCOMPARE(l_opened.size(), 1);
    QCOMPARE(l_opened.first().toEncoded(), url);
    const QUrlQuery l_query(l_opened.first());
    QCOMPARE(l_query.queryItems().size(), 1);
    QCOMPARE(l_query.queryItemValue("username", QUrl::FullyDecoded), name.isNull() ? QString("") : name);
}

void TestActionSetToolBar::destroyedWidgetLeavesNothingBehind()
{
    BarWindow l_ui;
    QVERIFY(QTest::qWaitForWindowActive(l_ui.mp_window.get()));
    auto* lp_tab = new QTreeWidget(l_ui.mp_window.get());
    lp_tab->setColumnCount(1);
    new QTreeWidgetItem(lp_tab, {"row"});
    l_ui.mp_window->layout()->addWidget(lp_tab);
    lp_tab->show();
    l_ui.mp_bar->RegisterWidget(lp_tab, "room_list");
    l_ui.mp_bar->AddWidgetKey(lp_tab, "widget", QString::number(reinterpret_cast<quintptr>(lp_tab)));
    l_ui.mp_bar->AddWidgetColumnKey(lp_tab, "room", 0);
    l_ui.mp_bar->SetWidgetActionText(lp_tab, "enter_room", "Enter This");
    QVERIFY(l_ui.FocusOn(lp_tab));
    QCOMPARE(l_ui.ButtonTexts().first(), QString("Enter This"));
    QVERIFY(!l_ui.mp_bar->GetKey("widget").isEmpty());
    const ItemSet l_before = d.GetType("toolbar_action_widget")->GetItems();

    delete lp_tab;
    // The binding, its keys and the key value it put in place are gone; the
    // other bindings stay.
    QCOMPARE(d.GetType("toolbar_action_widget")->GetItems().size(), l_before.size() - 1);
    QCOMPARE(d.GetType("action_key_value_pair")->GetItems().size(), std::size_t(1));
    QCOMPARE(d.GetType("action_key_column_pair")->GetItems().size(), std::size_t(1));
    QCOMPARE(l_ui.mp_bar->GetKey("widget"), QString());
    QVERIFY(d.GetType("widget_action_text")->HasItem("Enter This")["toolbar_action_widget"].IsNull());
}

void TestActionSetToolBar::rebuildingFreesOldButtons()
{
    BarWindow l_ui;
    QVERIFY(QTest::qWaitForWindowActive(l_ui.mp_window.get()));
    QVERIFY(l_ui.FocusOn(l_ui.mp_tree));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const qsizetype l_actions = l_ui.mp_bar->findChildren<QAction*>().size();
    for (int l_round = 0; l_round < 5; ++l_round) {
        QVERIFY(l_ui.FocusOn(l_ui.Find("freeEdit")));
        QVERIFY(l_ui.FocusOn(l_ui.mp_tree));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(l_ui.mp_bar->findChildren<QAction*>().size(), l_actions);
    QCOMPARE(l_ui.mp_bar->findChildren<QPushButton*>().size(), 1);
    // Only the buttons on the bar are recorded.
    QCOMPARE(d.GetType("toolbar_action_object")->GetItems().size(), std::size_t(g_roomButtons.size()));
}

void TestActionSetToolBar::focusIgnoredOnceShowIsOver()
{
    BarWindow l_ui;
    QVERIFY(QTest::qWaitForWindowActive(l_ui.mp_window.get()));
    QVERIFY(l_ui.FocusOn(l_ui.mp_tree));
    const QList<QAction*> l_before = l_ui.mp_bar->actions();
    g_showIsOver = true;
    QVERIFY(l_ui.FocusOn(l_ui.Find("freeEdit")));
    QCOMPARE(l_ui.mp_bar->actions(), l_before);
}

QTEST_MAIN(TestActionSetToolBar)
#include "tst_action_set_toolbar.moc"
