#include "MessageBoxCatcher.h"

#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "ui/frame/ChangeUsernamePasswordDialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

class TestUsernameDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void form();
    void okStoresTrimmedFields_data();
    void okStoresTrimmedFields();
    void cancelStoresNothing();
    void keyboardGoesFromTheFieldsToTheButtons();
    void onlyLatin1IsAccepted_data();
    void onlyLatin1IsAccepted();
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

QLineEdit* Field(QDialog& i_dialog, const char* ip_name)
{
    return i_dialog.findChild<QLineEdit*>(ip_name);
}

void PressOk(QDialog& i_dialog)
{
    i_dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

}  // namespace

void TestUsernameDialog::init()
{
    d.Reset();
    Settings::DeclareTypes();
}

void TestUsernameDialog::cleanup()
{
    d.Reset();
}

void TestUsernameDialog::form()
{
    // First start: no settings yet, both fields empty, and the lookup leaves
    // the two setting items behind without a value.
    ChangeUsernamePasswordDialog l_first(true);
    QCOMPARE(l_first.windowTitle(), QString("Set Username/Password"));
    QCOMPARE(l_first.size(), QSize(303, 120));
    QCOMPARE(Field(l_first, "usernameEdit")->text(), QString());
    QCOMPARE(Field(l_first, "passwordEdit")->text(), QString());
    QCOMPARE(Field(l_first, "passwordEdit")->echoMode(), QLineEdit::Normal);
    QVERIFY(!d.GetType("global")->HasItem("username").IsNull());
    QVERIFY(!d.GetType("global")->HasItem("password").IsNull());

    Settings::Set("username", "J\xe9r\xf4me");
    Settings::Set("password", "secret");
    ChangeUsernamePasswordDialog l_later(false);
    QCOMPARE(l_later.windowTitle(), QString("Change Username/Password"));
    QCOMPARE(Field(l_later, "usernameEdit")->text(), QString::fromLatin1("J\xe9r\xf4me"));
    QCOMPARE(Field(l_later, "passwordEdit")->text(), QString("secret"));
}

void TestUsernameDialog::okStoresTrimmedFields_data()
{
    QTest::addColumn<bool>("firstRun");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("storedUsername");
    QTest::addColumn<QString>("storedPassword");
    QTest::newRow("both given") << false << "alice" << "pw" << true << "alice" << "pw";
    QTest::newRow("trimmed") << false << "  alice \t" << " p w " << true << "alice" << "p w";
    QTest::newRow("Latin-1 kept") << true << QString::fromLatin1("Ren\xe9") << "pw" << true
                                  << QString::fromLatin1("Ren\xe9") << "pw";
    QTest::newRow("empty name") << false << "" << "pw" << false << "old" << "oldpw";
    QTest::newRow("spaces for a name") << true << "   " << "pw" << false << "old" << "oldpw";
    QTest::newRow("empty password") << false << "alice" << "" << false << "old" << "oldpw";
    QTest::newRow("spaces for a password") << false << "alice" << "  " << false << "old" << "oldpw";
}

void TestUsernameDialog::okStoresTrimmedFields()
{
    QFETCH(bool, firstRun);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    QFETCH(QString, storedUsername);
    QFETCH(QString, storedPassword);
    Settings::Set("username", "old");
    Settings::Set("password", "oldpw");
    QWidget l_parent;
    QPointer<ChangeUsernamePasswordDialog> lp_dialog = new ChangeUsernamePasswordDialog(firstRun, &l_parent);
    lp_dialog->show();
    Field(*lp_dialog, "usernameEdit")->setText(username);
    Field(*lp_dialog, "passwordEdit")->setText(password);
    PressOk(*lp_dialog);

    QCOMPARE(lp_dialog->isVisible(), !accepted);
    QCOMPARE(lp_dialog->result(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(QString::fromLatin1(Settings::Get("username")), storedUsername);
    QCOMPARE(QString::fromLatin1(Settings::Get("password")), storedPassword);
    // Opened from the tool bar, it goes after a successful OK; in first-run
    // mode its caller owns it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(lp_dialog.isNull(), accepted && !firstRun);
}

void TestUsernameDialog::cancelStoresNothing()
{
    ChangeUsernamePasswordDialog l_dialog(true);
    l_dialog.show();
    Field(l_dialog, "usernameEdit")->setText("mallory");
    Field(l_dialog, "passwordEdit")->setText("pw");
    l_dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    QVERIFY(!l_dialog.isVisible());
    QCOMPARE(l_dialog.result(), int(QDialog::Rejected));
    QVERIFY(!d.GetType("global")->HasItem("username").IsConnected("global_value"));
}

// The dialog opened with the focus on OK (the button box comes first in the
// form): on a first start, typing the name, Tab, the password and Return
// cancelled the login.
void TestUsernameDialog::keyboardGoesFromTheFieldsToTheButtons()
{
    ChangeUsernamePasswordDialog l_dialog(true);
    l_dialog.show();
    QLineEdit* lp_name = Field(l_dialog, "usernameEdit");
    QLineEdit* lp_password = Field(l_dialog, "passwordEdit");
    auto* lp_buttons = l_dialog.findChild<QDialogButtonBox*>();
    QCOMPARE(l_dialog.focusWidget(), lp_name);
    QCOMPARE(NextTabStop(lp_name), lp_password);
    QCOMPARE(NextTabStop(lp_password), lp_buttons->button(QDialogButtonBox::Ok));
    QCOMPARE(NextTabStop(lp_buttons->button(QDialogButtonBox::Ok)), lp_buttons->button(QDialogButtonBox::Cancel));

    QTest::keyClicks(l_dialog.focusWidget(), "al ice");
    QTest::keyClick(l_dialog.focusWidget(), Qt::Key_Tab);
    QCOMPARE(l_dialog.focusWidget(), lp_password);
    QTest::keyClicks(l_dialog.focusWidget(), "se cret");
    QTest::keyClick(l_dialog.focusWidget(), Qt::Key_Return);
    QCOMPARE(l_dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Settings::Get("username"), std::string("al ice"));
    QCOMPARE(Settings::Get("password"), std::string("se cret"));
}

// Names and passwords are Latin-1; anything else became "?" silently.
void TestUsernameDialog::onlyLatin1IsAccepted_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("Cyrillic name") << QString::fromUtf8("\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd") << "pw" << "user name";
    QTest::newRow("a euro in the password") << "alice" << QString::fromUtf8("\xe2\x82\xac" "100") << "password";
}

void TestUsernameDialog::onlyLatin1IsAccepted()
{
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QString, refusal);
    MessageBoxCatcher l_boxes;
    Settings::Set("username", "old");
    Settings::Set("password", "oldpw");
    ChangeUsernamePasswordDialog l_dialog(false);
    l_dialog.show();
    Field(l_dialog, "usernameEdit")->setText(username);
    Field(l_dialog, "passwordEdit")->setText(password);
    PressOk(l_dialog);
    QCOMPARE(l_boxes.Titles(), QStringList{QStringLiteral("Unsupported characters")});
    QVERIFY(l_boxes.m_boxes[0].m_text.contains("Latin-1"));
    QVERIFY(l_boxes.m_boxes[0].m_text.endsWith(refusal + "."));
    QVERIFY(l_dialog.isVisible());
    QCOMPARE(Settings::Get("username"), std::string("old"));
    QCOMPARE(Settings::Get("password"), std::string("oldpw"));
}

QTEST_MAIN(TestUsernameDialog)
#include "tst_username_dialog.moc"
