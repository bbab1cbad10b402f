#include "MessageBoxCatcher.h"

#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "ui/frame/ChangeListeningPortDialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

class TestListeningPortDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void form();
    void maskKeepsOutSignsAndLeadingZeros_data();
    void maskKeepsOutSignsAndLeadingZeros();
    void ok_data();
    void ok();
    void cancelStoresNothing();
};

namespace {

// The next widget that Tab reaches.
QWidget* NextTabStop(QWidget* ip_widget)
{
    QWidget* lp_next = ip_widget->nextInFocusChain();
    while (lp_next != ip_widget && !(lp_next->focusPolicy() & Qt::TabFocus))
        lp_next = lp_next->nextInFocusChain();
    return lp_next;
}

QLineEdit* PortEdit(QDialog& i_dialog)
{
    return i_dialog.findChild<QLineEdit*>("portEdit");
}

QString Pending()
{
    return QString::fromLatin1(Settings::Get("new_listening_port"));
}

}  // namespace

void TestListeningPortDialog::init()
{
    d.Reset();
    Settings::DeclareTypes();
    Settings::Set("listening_port", "2235");
}

void TestListeningPortDialog::cleanup()
{
    d.Reset();
}

void TestListeningPortDialog::form()
{
    Settings::Set("new_listening_port", "4000");
    ChangeListeningPortDialog l_dialog;
    QCOMPARE(l_dialog.windowTitle(), QString("Change Listening Port"));
    QCOMPARE(l_dialog.size(), QSize(179, 76));
    QCOMPARE(PortEdit(l_dialog)->maxLength(), 5);
    // The port in use, not the pending one.
    QCOMPARE(PortEdit(l_dialog)->text(), QString("2235"));
    // The field has the focus, the buttons come after it, Return accepts.
    l_dialog.show();
    QCOMPARE(l_dialog.focusWidget(), PortEdit(l_dialog));
    auto* lp_buttons = l_dialog.findChild<QDialogButtonBox*>();
    QCOMPARE(NextTabStop(PortEdit(l_dialog)), lp_buttons->button(QDialogButtonBox::Ok));
    QVERIFY(lp_buttons->button(QDialogButtonBox::Ok)->isDefault());
}

void TestListeningPortDialog::maskKeepsOutSignsAndLeadingZeros_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("number");
    QTest::newRow("digits") << "65535" << 65535;
    QTest::newRow("sign") << "-1" << 1;
    QTest::newRow("leading zero") << "0123" << 123;
    QTest::newRow("zero alone") << "0" << 0;
    QTest::newRow("letters") << "8a0b8" << 808;
    QTest::newRow("six digits") << "123456" << 12345;
}

void TestListeningPortDialog::maskKeepsOutSignsAndLeadingZeros()
{
    QFETCH(QString, typed);
    QFETCH(int, number);
    ChangeListeningPortDialog l_dialog;
    l_dialog.show();
    QLineEdit* lp_edit = PortEdit(l_dialog);
    lp_edit->setFocus();
    lp_edit->selectAll();
    QTest::keyClick(lp_edit, Qt::Key_Backspace);
    lp_edit->home(false);
    QTest::keyClicks(lp_edit, typed);
    // The number that OK reads.
    QCOMPARE(lp_edit->text().toInt(), number);
    QVERIFY(!lp_edit->displayText().startsWith('0'));
}

void TestListeningPortDialog::ok_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("pendingBefore");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pendingAfter");
    const QString l_range = "Port number must be in the range of 1 to 65535.";
    const QString l_same = "Port number has not been changed.";
    const QString l_pending = "Changes to the listening port will take effect after a client restart.";
    QTest::newRow("empty") << "" << "" << "Invalid Port Number" << l_range << "";
    QTest::newRow("above the range") << "65536" << "" << "Invalid Port Number" << l_range << "";
    QTest::newRow("far above") << "99999" << "4000" << "Invalid Port Number" << l_range << "4000";
    QTest::newRow("port in use") << "2235" << "" << "Port Number Not Changed" << l_same << "";
    QTest::newRow("port in use, another pending") << "2235" << "4000" << "Port Number Not Changed" << l_same << "4000";
    QTest::newRow("highest") << "65535" << "" << "Change to Listening Port Pending" << l_pending << "65535";
    QTest::newRow("lowest") << "1" << "4000" << "Change to Listening Port Pending" << l_pending << "1";
    QTest::newRow("already pending") << "4000" << "4000" << "Change to Listening Port Pending" << l_pending << "4000";
}

void TestListeningPortDialog::ok()
{
    QFETCH(QString, port);
    QFETCH(QString, pendingBefore);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, pendingAfter);
    if (!pendingBefore.isEmpty())
        Settings::Set("new_listening_port", pendingBefore.toStdString());
    QWidget l_parent;
    QPointer<ChangeListeningPortDialog> lp_dialog = new ChangeListeningPortDialog(&l_parent);
    lp_dialog->show();
    PortEdit(*lp_dialog)->setText(port);
    MessageBoxCatcher l_catcher;
    lp_dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();

    QCOMPARE(l_catcher.m_boxes.size(), 1);
    QCOMPARE(l_catcher.m_boxes.first().m_title, title);
    QCOMPARE(l_catcher.m_boxes.first().m_text, text);
    QCOMPARE(l_catcher.m_boxes.first().m_icon, QMessageBox::Information);
    QCOMPARE(l_catcher.m_boxes.first().m_buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(Pending(), pendingAfter);
    QCOMPARE(Settings::Get("listening_port"), std::string("2235"));
    // Refused: the dialog stays open; accepted: it closes and goes.
    const bool l_accepted = title == "Change to Listening Port Pending";
    QCOMPARE(lp_dialog->isVisible(), !l_accepted);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(lp_dialog.isNull(), l_accepted);
}

void TestListeningPortDialog::cancelStoresNothing()
{
    ChangeListeningPortDialog l_dialog;
    l_dialog.show();
    PortEdit(l_dialog)->setText("5000");
    l_dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    QVERIFY(!l_dialog.isVisible());
    QCOMPARE(Pending(), QString());
}

QTEST_MAIN(TestListeningPortDialog)
#include "tst_listening_port_dialog.moc"
