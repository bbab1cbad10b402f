#include "ui/widgets/UIFunctions.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

class TestUIFunctions : public QObject
{
    Q_OBJECT

private slots:
    void SelectsEveryEnclosingPage();
    void FocusWidgetActsTheSame();
    void literalLabelDoublesAmpersands_data();
    void literalLabelDoublesAmpersands();
};

namespace {

// A window with an outer tab widget whose second page holds an inner tab
// widget; the target line edit sits deep inside the inner one's third page.
struct NestedTabs
{
    NestedTabs()
    {
        auto* lp_layout = new QVBoxLayout(&m_window);
        mp_other = new QLineEdit;
        lp_layout->addWidget(mp_other);
        mp_outer = new QTabWidget;
        lp_layout->addWidget(mp_outer);
        mp_outer->addTab(new QWidget, "first");
        auto* lp_outerPage = new QWidget;
        auto* lp_outerLayout = new QVBoxLayout(lp_outerPage);
        mp_inner = new QTabWidget;
        lp_outerLayout->addWidget(mp_inner);
        mp_outer->addTab(lp_outerPage, "second");
        mp_inner->addTab(new QWidget, "a");
        mp_inner->addTab(new QWidget, "b");
        auto* lp_innerPage = new QWidget;
        auto* lp_holder = new QWidget(lp_innerPage);
        new QVBoxLayout(lp_holder);
        mp_target = new QLineEdit(lp_holder);
        lp_holder->layout()->addWidget(mp_target);
        auto* lp_innerLayout = new QVBoxLayout(lp_innerPage);
        lp_innerLayout->addWidget(lp_holder);
        mp_inner->addTab(lp_innerPage, "c");
        m_window.show();
    }

    QWidget m_window;
    QLineEdit* mp_other;
    QTabWidget* mp_outer;
    QTabWidget* mp_inner;
    QLineEdit* mp_target;
};

// Records the reason of the last focus-in event of the watched widget.
class FocusReasonSpy : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* ip_event) override
    {
        if (ip_event->type() == QEvent::FocusIn)
            m_reason = static_cast<QFocusEvent*>(ip_event)->reason();
        return false;
    }
    Qt::FocusReason m_reason = Qt::NoFocusReason;
};

} // namespace

void TestUIFunctions::SelectsEveryEnclosingPage()
{
    NestedTabs l_ui;
    QVERIFY(QTest::qWaitForWindowExposed(&l_ui.m_window));
    l_ui.mp_other->setFocus();
    QCOMPARE(l_ui.mp_outer->currentIndex(), 0);
    QCOMPARE(l_ui.mp_inner->currentIndex(), 0);
    QVERIFY(!l_ui.mp_target->isVisible());
    FocusReasonSpy l_spy;
    l_ui.mp_target->installEventFilter(&l_spy);

    FocusWidgetAndParents(l_ui.mp_target);

    QCOMPARE(l_ui.mp_outer->currentIndex(), 1);
    QCOMPARE(l_ui.mp_inner->currentIndex(), 2);
    QVERIFY(l_ui.mp_target->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&l_ui.m_window));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_ui.mp_target));
    QTRY_COMPARE(l_spy.m_reason, Qt::OtherFocusReason);
}

void TestUIFunctions::FocusWidgetActsTheSame()
{
    NestedTabs l_ui;
    QVERIFY(QTest::qWaitForWindowExposed(&l_ui.m_window));
    // No widget: nothing happens.
    FocusWidget(nullptr);
    FocusWidgetAndParents(nullptr);
    QCOMPARE(l_ui.mp_outer->currentIndex(), 0);

    FocusWidget(l_ui.mp_target);
    QCOMPARE(l_ui.mp_outer->currentIndex(), 1);
    QCOMPARE(l_ui.mp_inner->currentIndex(), 2);
    QVERIFY(QTest::qWaitForWindowActive(&l_ui.m_window));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_ui.mp_target));

    // Focusing a widget outside any tab leaves the pages as they are.
    FocusWidget(l_ui.mp_other);
    QCOMPARE(l_ui.mp_outer->currentIndex(), 1);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_ui.mp_other));
}


void TestUIFunctions::literalLabelDoublesAmpersands_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("label");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("none") << "alice" << "alice";
    QTest::newRow("inside") << "Rock & Roll" << "Rock && Roll";
    QTest::newRow("leading") << "&bob" << "&&bob";
    QTest::newRow("already doubled") << "a&&b" << "a&&&&b";
}

void TestUIFunctions::literalLabelDoublesAmpersands()
{
    QFETCH(QString, text);
    QFETCH(QString, label);
    QCOMPARE(LiteralLabel(text), label);
    // As a button shows it: the text itself, no mnemonic taken from it.
    QAction l_action(LiteralLabel(text));
    QCOMPARE(l_action.iconText(), text);
    QCOMPARE(QKeySequence::mnemonic(l_action.text()), QKeySequence());
}

QTEST_MAIN(TestUIFunctions)
#include "tst_uifunctions.moc"
