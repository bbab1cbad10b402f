#include "core/log/Log.h"
#include "core/log/LogFileWriter.h"
#include "core/log/LogService.h"
#include "ui/widgets/DiagnosticsForm.h"
#include "ui/widgets/LogForm.h"

#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

#include <memory>

class TestDiagnosticsForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void showsLinesLoggedBeforeItExisted();
    void tabAppearsWithTheAreasFirstLine();
    void lineFromAnotherThreadReachesTheTab();
    void globalPointsAtTheLivePage();
    void aBurstReachesTheViewInOneAppendAndTheFileAtOnce();
};

void TestDiagnosticsForm::initTestCase()
{
    // No log files from this test.
    SetLogFolder(QString());
}

void TestDiagnosticsForm::showsLinesLoggedBeforeItExisted()
{
    Log("server", 1, "early line", ItemPtr());
    Log("server", 2, "early detail", ItemPtr());
    // Lines announced before the page existed are still queued: once the
    // loop delivers them, they must not show twice.
    DiagnosticsForm l_form;
    QCoreApplication::processEvents();
    QCOMPARE(l_form.Areas(), QStringList({"server"}));
    const QStringList l_lines = l_form.AreaForm("server")->Lines();
    QCOMPARE(l_lines.size(), 2);
    QVERIFY(l_lines[0].endsWith("] early line"));
    QVERIFY(l_lines[1].endsWith("]    early detail"));
}

void TestDiagnosticsForm::tabAppearsWithTheAreasFirstLine()
{
    DiagnosticsForm l_form;
    QCoreApplication::processEvents();
    const int l_before = l_form.Areas().size();
    QCOMPARE(l_form.AreaForm("Wish List"), nullptr);

    Log("Wish List", 1, "searching for wishes", ItemPtr());
    Log("Transfer Queue", 1, "queued", ItemPtr());
    Log("Wish List", 1, "next wish", ItemPtr());
    QTRY_VERIFY(l_form.AreaForm("Wish List") && l_form.AreaForm("Wish List")->LineCount() == 2);
    QCOMPARE(l_form.Areas().size(), l_before + 2);
    QCOMPARE(l_form.Areas().mid(l_before), QStringList({"Wish List", "Transfer Queue"}));
    QCOMPARE(l_form.AreaForm("Transfer Queue")->LineCount(), 1);

    // The tab shows the area's name as it is, even with a "&" in it.
    Log("Search & Find", 1, "x", ItemPtr());
    QTRY_VERIFY(l_form.AreaForm("Search & Find"));
    auto* lp_tabs = l_form.findChild<QTabWidget*>();
    QVERIFY(lp_tabs);
    QCOMPARE(lp_tabs->tabBar()->tabText(lp_tabs->count() - 1).replace("&&", "&"), QString("Search & Find"));
    QCOMPARE(lp_tabs->count(), l_form.Areas().size());
}

void TestDiagnosticsForm::lineFromAnotherThreadReachesTheTab()
{
    DiagnosticsForm l_form;
    QThread* lp_worker = QThread::create([] {
        Log("UPnP Worker", 1, "gateway found", ItemPtr());
        Log("UPnP Worker", 2, "port mapped", ItemPtr());
    });
    lp_worker->start();
    QVERIFY(lp_worker->wait(10000));
    delete lp_worker;

    QTRY_VERIFY(l_form.AreaForm("UPnP Worker") && l_form.AreaForm("UPnP Worker")->LineCount() == 2);
    const QStringList l_lines = l_form.AreaForm("UPnP Worker")->Lines();
    QVERIFY(l_lines[0].endsWith("] gateway found"));
    QVERIFY(l_lines[1].endsWith("]    port mapped"));
    // The tab's widget belongs to the GUI thread.
    QCOMPARE(l_form.AreaForm("UPnP Worker")->thread(), QThread::currentThread());
}

void TestDiagnosticsForm::globalPointsAtTheLivePage()
{
    auto lp_form = std::make_unique<DiagnosticsForm>();
    QCOMPARE(diagnosticsForm, lp_form.get());
    lp_form.reset();
    QCOMPARE(diagnosticsForm, nullptr);
    // Lines keep coming after the page is gone.
    Log("server", 1, "after the page", ItemPtr());
    QCoreApplication::processEvents();
}

void TestDiagnosticsForm::aBurstReachesTheViewInOneAppendAndTheFileAtOnce()
{
    QTemporaryDir l_logs;
    SetLogFolder(l_logs.path());
    DiagnosticsForm l_form;
    l_form.show();
    Log("Burst", 1, "before", ItemPtr());
    QTRY_VERIFY(l_form.AreaForm("Burst"));
    auto* lp_text = l_form.AreaForm("Burst")->findChild<QPlainTextEdit*>("logText");
    QVERIFY(lp_text);
    // A tab not shown takes its lines only once it is shown.
    QTest::qWait(2 * LogForm::FlushIntervalMs);
    QVERIFY(lp_text->document()->isEmpty());
    QCOMPARE(l_form.AreaForm("Burst")->LineCount(), 1);
    l_form.findChild<QTabWidget*>()->setCurrentWidget(l_form.AreaForm("Burst"));
    QTRY_VERIFY(!lp_text->document()->isEmpty());
    int l_appends = 0;
    connect(lp_text->document(), &QTextDocument::contentsChange, this, [&l_appends] { ++l_appends; });

    constexpr int Burst = 1000;
    for (int l_n = 0; l_n < Burst; ++l_n)
        Log("Burst", 1, QString("line %1").arg(l_n), ItemPtr());
    // The file has every line before the loop runs: the header, the line
    // before and the burst.
    QFile l_file(QDir(l_logs.path()).filePath(LogFileWriter::FileNameForArea("Burst")));
    QVERIFY(l_file.open(QIODevice::ReadOnly));
    QCOMPARE(l_file.readAll().count('\n'), Burst + 2);

    QTRY_COMPARE(lp_text->document()->blockCount(), Burst + 1);
    QCOMPARE(l_appends, 1);
    const QStringList l_lines = l_form.AreaForm("Burst")->Lines();
    for (int l_n = 0; l_n < Burst; ++l_n)
        QVERIFY(l_lines[l_n + 1].endsWith(QString("] line %1").arg(l_n)));
    SetLogFolder(QString());
}

QTEST_MAIN(TestDiagnosticsForm)
#include "tst_diagnostics_form.moc"
