// The report of a rescan: its form, its two lines, one dialog per rescan.
#include "SharesTestWorld.h"

#include "ui/widgets/SharedFilesRescannedDialog.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace
{
QString Text(const SharedFilesRescannedDialog* ip_dialog)
{
    return ip_dialog->findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText();
}
}  // namespace

class TestSharedFilesRescannedDialog : public QObject
{
    Q_OBJECT

private slots:
    void Report_data();
    void Report();
    void EachRescanGetsItsOwnDialog();
};

void TestSharedFilesRescannedDialog::Report_data()
{
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing changed") << 0 << 0 << "0 files added.\n0 files removed.";
    QTest::newRow("no thousands separators") << 1234567 << 1000 << "1234567 files added.\n1000 files removed.";
}

void TestSharedFilesRescannedDialog::Report()
{
    QFETCH(int, added);
    QFETCH(int, removed);
    // Even where numbers are written with separators.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QPointer<SharedFilesRescannedDialog> lp_dialog = SharedFilesRescannedDialog::ShowReport(nullptr, added, removed);
    QLocale::setDefault(QLocale::c());
    QTEST(Text(lp_dialog), "text");
    QCOMPARE(lp_dialog->windowTitle(), QString("Shared Files Rescanned"));
    QCOMPARE(lp_dialog->size(), QSize(337, 88));
    QVERIFY(lp_dialog->isVisible() && !lp_dialog->isModal());
    QTest::mouseClick(lp_dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QTRY_VERIFY(lp_dialog.isNull());
}

void TestSharedFilesRescannedDialog::EachRescanGetsItsOwnDialog()
{
    SharesTestWorld l_world;
    l_world.Share(l_world.MakeFolder("s"));
    QVERIFY(l_world.InitAndWait());
    QWidget l_window;
    QObject::connect(&l_world.Shares(), &SharedFoldersManager::SharedFilesRescanned, &l_window,
                     [&l_window](int i_added, int i_removed) { SharedFilesRescannedDialog::ShowReport(&l_window, i_added, i_removed); });
    l_world.MakeFile("s/b.txt");
    l_world.MakeFile("s/c.txt");
    QVERIFY(l_world.RescanAndWait());
    QVERIFY(l_world.RescanAndWait());
    const QList<SharedFilesRescannedDialog*> l_dialogs = l_window.findChildren<SharedFilesRescannedDialog*>();
    QCOMPARE(l_dialogs.size(), 2);
    QCOMPARE(Text(l_dialogs[0]), QString("2 files added.\n0 files removed."));
    QCOMPARE(Text(l_dialogs[1]), QString("0 files added.\n0 files removed."));
    // Closing one leaves the other.
    QPointer<SharedFilesRescannedDialog> lp_first = l_dialogs[0];
    lp_first->close();
    QTRY_VERIFY(lp_first.isNull());
    QVERIFY(l_dialogs[1]->isVisible());
}

QTEST_MAIN(TestSharedFilesRescannedDialog)
#include "tst_shared_files_rescanned_dialog.moc"
