// Answers to our offer of an upload. The peer layer may send an offer twice
// under one token (it resends what a connection that died early carried),
// so that the peer may answer twice: the first answer taken decides the
// upload, and while none is taken the offer awaits its answer.
#include "TransfersTestWorld.h"
#include "UploadQueries.h"

#include "transfers/TransferStatus.h"

#include <QtTest>

namespace
{
using namespace UploadQueries;
}  // namespace

class TestTransfersUploadAnswers : public QObject
{
    Q_OBJECT

private slots:
    // "answers": bob's answers in order, "+" accepting and any other text
    // refusing with that reason. "status" and "reason" are what the Uploads
    // view shows of his upload then; carol's upload waits for the one slot.
    void onlyTheFirstAnswerToAnOfferIsTaken_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("reason");
        QTest::newRow("accepted") << QStringList{"+"} << "connecting" << "";
        QTest::newRow("refused") << QStringList{"Cancelled"} << "denied" << "Cancelled";
        QTest::newRow("accepted twice") << QStringList{"+", "+"} << "connecting" << "";
        QTest::newRow("refused after an accept") << QStringList{"+", "Cancelled"} << "connecting" << "";
        QTest::newRow("refused after two accepts") << QStringList{"+", "+", "Cancelled"} << "connecting" << "";
        QTest::newRow("accepted again after a refusal after an accept")
            << QStringList{"+", "Cancelled", "+"} << "connecting" << "";
        QTest::newRow("accepted after a refusal") << QStringList{"Cancelled", "+"} << "denied" << "Cancelled";
        QTest::newRow("refused twice") << QStringList{"Cancelled", "Too many files"} << "denied" << "Cancelled";
    }
    void onlyTheFirstAnswerToAnOfferIsTaken()
    {
        QFETCH(QStringList, answers);
        QFETCH(QString, status);
        QFETCH(QString, reason);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        QTemporaryDir l_files;
        const std::string l_folder = l_files.path().toStdString();
        l_world.OfferToBobWithCarolWaiting(l_files);
        ItemPtr l_upload = UploadOf("bob", l_folder + "/a");
        ItemPtr l_waiting = UploadOf("carol", l_folder + "/b");
        QCOMPARE(Status(l_upload), std::string(TransferStatus::Requesting));
        const quint32 l_token = l_upload["transfer_req"].AsUInt();
        QVERIFY(TransferQueueManager::OfferAwaitsAnswer("bob", l_token));
        // Only the offer to that user under that token.
        QVERIFY(!TransferQueueManager::OfferAwaitsAnswer("carol", l_token));
        QVERIFY(!TransferQueueManager::OfferAwaitsAnswer("bob", l_token + 100));
        const long l_askedBefore = l_world.FileConnectionsAsked();

        for (const QString& l_answer : answers) {
            const bool l_accepted = l_answer == "+";
            l_manager.OnFileTransferResponse("bob", l_token, l_accepted, false, 0,
                                             l_accepted ? "" : l_answer.toStdString());
            QVERIFY(!TransferQueueManager::OfferAwaitsAnswer("bob", l_token));
        }
        QCOMPARE(QString::fromStdString(Status(l_upload)), status);
        QCOMPARE(QString::fromStdString(l_upload["denial_reason"].AsString()), reason);
        // An accepted upload keeps its file and its slot, and one file
        // connection is asked for; a refused one passes its slot on.
        QCOMPARE(l_upload.IsConnected("upload_file"), status == "connecting");
        QCOMPARE(l_world.FileConnectionsAsked() - l_askedBefore, status == "connecting" ? 1 : 0);
        QCOMPARE(Status(l_waiting), std::string(status == "denied" ? "requesting" : "queued"));
    }
};

QTEST_MAIN(TestTransfersUploadAnswers)
#include "tst_transfers_upload_answers.moc"
