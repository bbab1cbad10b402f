// Adding a shared folder: the form, the coupling of the access controls,
// choosing the folder, and what OK does to the index and its access marks.
#include "SharesTestWorld.h"

#include "ui/widgets/AddSharedFolderDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace
{
template <class T>
T* Part(const QWidget* ip_dialog, const char* ip_name)
{
    return ip_dialog->findChild<T*>(ip_name);
}

// User-list box enabled and checked, group list enabled, as "ec e" ("-" for no).
QString Access(const AddSharedFolderDialog* ip_dialog)
{
    const auto* lp_userList = Part<QCheckBox>(ip_dialog, "userListCheckBox");
    return QString("%1%2 %3")
        .arg(lp_userList->isEnabled() ? "e" : "-", lp_userList->isChecked() ? "c" : "-",
             Part<QListWidget>(ip_dialog, "groupsListWidget")->isEnabled() ? "e" : "-");
}

// Steps such as "everyone 0" or "userList 2": the box and its new check
// state; "group band" checks that group's row.
void Apply(AddSharedFolderDialog* ip_dialog, const QStringList& i_steps)
{
    for (const QString& l_step : i_steps) {
        const QString l_what = l_step.section(' ', 0, 0);
        const QString l_value = l_step.section(' ', 1);
        if (l_what == "group") {
            Part<QListWidget>(ip_dialog, "groupsListWidget")->findItems(l_value, Qt::MatchExactly).front()->setCheckState(Qt::Checked);
            continue;
        }
        auto* lp_box = ip_dialog->findChild<QCheckBox*>(l_what + "CheckBox");
        lp_box->setTristate(l_value == "1");
        lp_box->setCheckState(Qt::CheckState(l_value.toInt()));
    }
}

QStringList Marks(ItemPtr i_share)
{
    QStringList l_marks;
    if (i_share.IsConnected("shared_public"))
        l_marks << "public";
    if (i_share.IsConnected("shared_userlist"))
        l_marks << "user list";
    for (const ItemPtr l_group : i_share.GetItems("user_list_group").SortAlphabetic(true))
        l_marks << QString::fromLatin1(l_group.AsCStr());
    return l_marks;
}

void Click(AddSharedFolderDialog* ip_dialog, QDialogButtonBox::StandardButton i_button)
{
    QTest::mouseClick(Part<QDialogButtonBox>(ip_dialog, "buttonBox")->button(i_button), Qt::LeftButton);
}
}  // namespace

class TestAddSharedFolderDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { mp_world.reset(); }
    void Form();
    void Coupling_data();
    void Coupling();
    void OkSharesWithTheChosenAccess_data();
    void OkSharesWithTheChosenAccess();
    void NothingWithoutAFolderOrOnCancel();
    void SelectFolder();

private:
    std::unique_ptr<SharesTestWorld> mp_world;
};

void TestAddSharedFolderDialog::init()
{
    mp_world = std::make_unique<SharesTestWorld>();
    QVERIFY(mp_world->InitAndWait());
    for (const char* lp_group : {"friends", "Caf\xe9", "band"})  // Latin-1 in the store
        d.GetType("user_list_group")->GetItem(lp_group);
}

void TestAddSharedFolderDialog::Form()
{
    AddSharedFolderDialog l_dialog;
    QCOMPARE(l_dialog.windowTitle(), QString("Add Shared Folder"));
    QCOMPARE(l_dialog.size(), QSize(359, 414));
    QVERIFY(Part<QLineEdit>(&l_dialog, "selectedFolderEdit")->isReadOnly());
    QVERIFY(Part<QCheckBox>(&l_dialog, "everyoneCheckBox")->isChecked());
    QCOMPARE(Access(&l_dialog), QString("-c -"));
    // One unchecked row per group, sorted by text (capitals first).
    auto* lp_groups = Part<QListWidget>(&l_dialog, "groupsListWidget");
    QStringList l_rows;
    for (int l_row = 0; l_row < lp_groups->count(); ++l_row) {
        QVERIFY(lp_groups->item(l_row)->flags() & Qt::ItemIsUserCheckable);
        QCOMPARE(lp_groups->item(l_row)->checkState(), Qt::Unchecked);
        l_rows << lp_groups->item(l_row)->text();
    }
    QCOMPARE(l_rows, (QStringList{QString::fromUtf8("Café"), "band", "friends"}));
}

void TestAddSharedFolderDialog::Coupling_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("access");
    QTest::newRow("everyone unchecked") << QStringList{"everyone 0"} << "ec -";
    QTest::newRow("both unchecked") << QStringList{"everyone 0", "userList 0"} << "e- e";
    QTest::newRow("user list checked again") << QStringList{"everyone 0", "userList 0", "userList 2"} << "ec -";
    QTest::newRow("everyone checked again") << QStringList{"everyone 0", "userList 0", "everyone 2"} << "-c -";
    QTest::newRow("everyone off, on, off") << QStringList{"everyone 0", "userList 0", "everyone 2", "everyone 0"} << "ec -";
    QTest::newRow("everyone partly checked") << QStringList{"everyone 0", "userList 0", "everyone 1"} << "e- e";
    QTest::newRow("user list partly checked") << QStringList{"everyone 0", "userList 1"} << "ec -";
}

void TestAddSharedFolderDialog::Coupling()
{
    QFETCH(QStringList, steps);
    AddSharedFolderDialog l_dialog;
    Apply(&l_dialog, steps);
    QTEST(Access(&l_dialog), "access");
}

void TestAddSharedFolderDialog::OkSharesWithTheChosenAccess_data()
{
    QTest::addColumn<bool>("sharedBefore");  // already shared with everyone
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("marks");
    QTest::newRow("as it opens") << false << QStringList{} << QStringList{"public"};
    QTest::newRow("user list") << false << QStringList{"everyone 0"} << QStringList{"user list"};
    QTest::newRow("two groups") << false << QStringList{"everyone 0", "userList 0", "group friends", QString::fromUtf8("group Café")}
                                << QStringList{QString::fromUtf8("Café"), "friends"};
    QTest::newRow("nobody") << false << QStringList{"everyone 0", "userList 0"} << QStringList{};
    QTest::newRow("groups, then everyone again") << false << QStringList{"everyone 0", "userList 0", "group band", "everyone 2"}
                                                 << QStringList{"public"};
    QTest::newRow("marks are only added") << true << QStringList{"everyone 0"} << QStringList{"public", "user list"};
}

void TestAddSharedFolderDialog::OkSharesWithTheChosenAccess()
{
    QFETCH(bool, sharedBefore);
    QFETCH(QStringList, steps);
    const std::string l_root = mp_world->MakeFolder("M\xc3\xbcsik");
    mp_world->MakeFile("M\xc3\xbcsik/a.txt");
    if (sharedBefore) {
        mp_world->Share(l_root);
        QVERIFY(mp_world->WaitIdle());
    }
    const std::size_t l_groups = d.GetType("user_list_group")->ItemCount();
    QSignalSpy l_rescans(&mp_world->Shares(), &SharedFoldersManager::SharedFilesRescanned);
    QSignalSpy l_walks(&mp_world->Shares(), &SharedFoldersManager::WalkRequested);

    QPointer<AddSharedFolderDialog> lp_dialog = new AddSharedFolderDialog;
    lp_dialog->show();
    Part<QLineEdit>(lp_dialog, "selectedFolderEdit")->setText(QString::fromUtf8(l_root.c_str()));
    Apply(lp_dialog, steps);
    Click(lp_dialog, QDialogButtonBox::Ok);
    QTRY_VERIFY(lp_dialog.isNull());

    ItemPtr l_share = d.GetType("shared_folder")->HasItem(l_root);
    QTEST(Marks(l_share), "marks");
    QCOMPARE(d.GetType("shared_folder")->ItemCount(), std::size_t(1));
    QCOMPARE(d.GetType("user_list_group")->ItemCount(), l_groups);
    // A new folder is indexed at once, an old one not again; neither is a
    // rescan to report.
    QCOMPARE(l_walks.size(), sharedBefore ? 0 : 1);
    QVERIFY(mp_world->WaitIdle());
    QVERIFY(SharesTestWorld::FileItem(l_root, "a.txt"));
    QCOMPARE(l_rescans.size(), 0);
}

void TestAddSharedFolderDialog::NothingWithoutAFolderOrOnCancel()
{
    QPointer<AddSharedFolderDialog> lp_dialog = new AddSharedFolderDialog;
    lp_dialog->show();
    Click(lp_dialog, QDialogButtonBox::Ok);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!lp_dialog.isNull() && lp_dialog->isVisible());

    Part<QLineEdit>(lp_dialog, "selectedFolderEdit")->setText(QString::fromStdString(mp_world->MakeFolder("x")));
    Click(lp_dialog, QDialogButtonBox::Cancel);
    QTRY_VERIFY(lp_dialog.isNull());
    QCOMPARE(d.GetType("shared_folder")->ItemCount(), std::size_t(0));
}

void TestAddSharedFolderDialog::SelectFolder()
{
    const QString l_folder = QString::fromStdString(mp_world->MakeFolder("picked"));
    AddSharedFolderDialog l_dialog;
    // The chooser is modal: it is answered from the event loop it runs.
    QString l_seen;
    auto l_chooseAndAnswer = [&](bool i_accept) {
        QTimer::singleShot(0, [&, i_accept] {
            auto* lp_chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!lp_chooser)
                return;
            l_seen = lp_chooser->windowTitle() + (lp_chooser->fileMode() == QFileDialog::Directory ? ", folders" : "");
            lp_chooser->setDirectory(l_folder);
            static_cast<QDialog*>(lp_chooser)->done(i_accept ? QDialog::Accepted : QDialog::Rejected);
        });
        QTest::mouseClick(Part<QPushButton>(&l_dialog, "pushButton"), Qt::LeftButton);
    };
    // Folders only, opened at the home folder while the field is empty (it
    // listed files too, and opened in the program's working folder).
    QString l_listing;
    QTimer::singleShot(0, [&] {
        auto* lp_chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!lp_chooser)
            return;
        const auto* lp_model = lp_chooser->findChild<QFileSystemModel*>();
        l_listing = lp_chooser->directory().absolutePath() +
                    (lp_model && !(lp_model->filter() & QDir::Files) ? ", folders only" : ", files too");
        lp_chooser->reject();
    });
    QTest::mouseClick(Part<QPushButton>(&l_dialog, "pushButton"), Qt::LeftButton);
    QCOMPARE(l_listing, QDir::homePath() + ", folders only");

    l_chooseAndAnswer(true);
    QCOMPARE(l_seen, QString("Select Folder to Share, folders"));
    QCOMPARE(Part<QLineEdit>(&l_dialog, "selectedFolderEdit")->text(), l_folder);
    Part<QLineEdit>(&l_dialog, "selectedFolderEdit")->setText("/before");
    l_chooseAndAnswer(false);
    QCOMPARE(Part<QLineEdit>(&l_dialog, "selectedFolderEdit")->text(), QString("/before"));
}

QTEST_MAIN(TestAddSharedFolderDialog)
#include "tst_add_shared_folder_dialog.moc"
