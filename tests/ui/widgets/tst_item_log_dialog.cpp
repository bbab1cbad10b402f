#include "core/log/Log.h"
#include "core/log/LogService.h"
#include "core/store/Data.h"
#include "ui/widgets/ItemLogDialog.h"
#include "ui/widgets/LogForm.h"

#include <QTabBar>
#include <QTabWidget>
#include <QtTest>

class TestItemLogDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsTheItemsLinesInAllAndAreaTabs();
    void followsNewLinesOfItsItemOnly();
    void stopsFollowingWhenTheItemIsRemoved();
    void isANonModalSelfDeletingDialog();

private:
    Type* mp_userType = nullptr;
};

void TestItemLogDialog::initTestCase()
{
    SetLogFolder(QString());
}

void TestItemLogDialog::init()
{
    mp_userType = d.NewType("user", true, false, true);
}

void TestItemLogDialog::cleanup()
{
    d.Reset();
}

void TestItemLogDialog::showsTheItemsLinesInAllAndAreaTabs()
{
    ItemPtr l_alice = mp_userType->NewItem("alice");
    ItemPtr l_bob = mp_userType->NewItem("bob");
    Log("server", 1, "alice logged in", l_alice);
    Log("server", 1, "bob logged in", l_bob);
    Log("Peer Messenger", 2, "alice sent a search reply", l_alice);
    Log("server", 1, "unrelated", ItemPtr());

    QPointer<ItemLogDialog> lp_dialog = new ItemLogDialog(l_alice);
    QCoreApplication::processEvents();
    QCOMPARE(lp_dialog->windowTitle(), QString("Item Log"));
    auto* lp_tabs = lp_dialog->findChild<QTabWidget*>();
    QVERIFY(lp_tabs);
    QCOMPARE(lp_tabs->tabText(0), QString("All"));
    QCOMPARE(lp_dialog->Areas(), QStringList({"server", "Peer Messenger"}));
    QCOMPARE(lp_tabs->count(), 3);

    const QStringList l_all = lp_dialog->AllForm()->Lines();
    QCOMPARE(l_all.size(), 2);
    QVERIFY(l_all[0].endsWith("] alice logged in"));
    QVERIFY(l_all[1].endsWith("]    alice sent a search reply"));
    QCOMPARE(lp_dialog->AreaForm("server")->Lines(), QStringList({l_all[0]}));
    QCOMPARE(lp_dialog->AreaForm("Peer Messenger")->Lines(), QStringList({l_all[1]}));
    delete lp_dialog;
}

void TestItemLogDialog::followsNewLinesOfItsItemOnly()
{
    ItemPtr l_alice = mp_userType->NewItem("alice");
    ItemPtr l_bob = mp_userType->NewItem("bob");
    Log("server", 1, "before", l_alice);
    // Queued but not yet delivered when the dialog opens: shown once.
    ItemLogDialog* lp_dialog = new ItemLogDialog(l_alice);
    Log("Transfer Queue", 1, "download queued", l_alice);
    Log("Transfer Queue", 1, "bob's download", l_bob);
    QThread* lp_worker = QThread::create([l_alice] { Log("server", 3, "from a worker", l_alice); });
    lp_worker->start();
    QVERIFY(lp_worker->wait(10000));
    delete lp_worker;

    QTRY_COMPARE(lp_dialog->AllForm()->LineCount(), 3);
    QCoreApplication::processEvents();
    const QStringList l_all = lp_dialog->AllForm()->Lines();
    QCOMPARE(l_all.size(), 3);
    QVERIFY(l_all[0].endsWith("] before"));
    QVERIFY(l_all[1].endsWith("] download queued"));
    QVERIFY(l_all[2].endsWith("]       from a worker"));
    QCOMPARE(lp_dialog->AreaForm("Transfer Queue")->LineCount(), 1);
    QCOMPARE(lp_dialog->AreaForm("server")->LineCount(), 2);
    delete lp_dialog;
}

void TestItemLogDialog::stopsFollowingWhenTheItemIsRemoved()
{
    ItemPtr l_alice = mp_userType->NewItem("alice");
    Log("server", 1, "alice here", l_alice);
    ItemLogDialog* lp_dialog = new ItemLogDialog(l_alice);
    QVERIFY(lp_dialog->IsFollowing());
    Log("server", 1, "alice still here", l_alice);
    const quintptr l_key = reinterpret_cast<quintptr>(l_alice.Get());
    l_alice.Remove();
    QVERIFY(!lp_dialog->IsFollowing());

    // A new item may take the freed address; its lines are not alice's.
    ItemPtr l_next;
    for (int l_index = 0; l_index < 64 && !l_next; ++l_index) {
        ItemPtr l_candidate = mp_userType->NewItem("user" + std::to_string(l_index));
        if (reinterpret_cast<quintptr>(l_candidate.Get()) == l_key)
            l_next = l_candidate;
    }
    ItemPtr l_other = l_next ? l_next : mp_userType->NewItem("carol");
    Log("server", 1, "someone else", l_other);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    // What was shown stays, the line alice got just before her removal
    // still arrives, and the new item's line does not appear.
    QCOMPARE(lp_dialog->AllForm()->LineCount(), 2);
    QVERIFY(lp_dialog->AllForm()->Lines()[0].endsWith("] alice here"));
    QVERIFY(lp_dialog->AllForm()->Lines()[1].endsWith("] alice still here"));

    // A dialog opened for the new item shows none of alice's lines.
    ItemLogDialog* lp_fresh = new ItemLogDialog(l_other);
    QCOMPARE(lp_fresh->AllForm()->LineCount(), 1);
    QVERIFY(lp_fresh->AllForm()->Lines()[0].endsWith("] someone else"));
    delete lp_fresh;
    delete lp_dialog;
}

void TestItemLogDialog::isANonModalSelfDeletingDialog()
{
    ItemPtr l_alice = mp_userType->NewItem("alice");
    QWidget l_parent;
    QPointer<ItemLogDialog> lp_dialog = new ItemLogDialog(l_alice, &l_parent);
    QVERIFY(!lp_dialog->isModal());
    lp_dialog->show();
    QVERIFY(lp_dialog->isVisible());
    lp_dialog->close();
    QTRY_VERIFY(lp_dialog.isNull());

    // A null item gives an empty dialog that follows nothing.
    ItemLogDialog l_empty{ItemPtr()};
    QVERIFY(!l_empty.IsFollowing());
    Log("server", 1, "no item", ItemPtr());
    QCoreApplication::processEvents();
    QCOMPARE(l_empty.AllForm()->LineCount(), 0);
}

QTEST_MAIN(TestItemLogDialog)
#include "tst_item_log_dialog.moc"
