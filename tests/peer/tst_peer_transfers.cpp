// Transfer negotiation: the messages this client writes, the token counter,
// and the received messages handed to the transfer manager.
#include "PeerConversation.h"

#include "core/persist/Settings.h"

#include <QtTest>

#include <string>
#include <vector>

namespace
{
// Every transfer signal, flattened to one line of text each.
struct TransferListener
{
    explicit TransferListener(PeerMessenger& io_messenger)
    {
        QObject::connect(&io_messenger, &PeerMessenger::FileTransferRequested,
                         [this](std::string i_user, int i_direction, uint i_req, std::string i_file, qint64 i_size) {
                             Note(QString("request %1 %2 %3 [%4] %5")
                                      .arg(Text(i_user)).arg(i_direction).arg(i_req).arg(Text(i_file)).arg(i_size));
                         });
        QObject::connect(&io_messenger, &PeerMessenger::FileTransferResponse,
                         [this](std::string i_user, uint i_req, bool i_accepted, bool i_receivedSize, qint64 i_size,
                                std::string i_reason) {
                             Note(QString("response %1 %2 %3 %4 %5 [%6]")
                                      .arg(Text(i_user)).arg(i_req).arg(int(i_accepted)).arg(int(i_receivedSize)).arg(i_size)
                                      .arg(Text(i_reason)));
                         });
        QObject::connect(&io_messenger, &PeerMessenger::QueueUploadRequested, [this](std::string i_user, std::string i_file) {
            Note(QString("queue %1 [%2]").arg(Text(i_user), Text(i_file)));
        });
        QObject::connect(&io_messenger, &PeerMessenger::DownloadPlaceInLine,
                         [this](std::string i_user, std::string i_file, int i_place) {
                             Note(QString("place %1 [%2] %3").arg(Text(i_user), Text(i_file)).arg(i_place));
                         });
        QObject::connect(&io_messenger, &PeerMessenger::UploadFailed, [this](std::string i_user, std::string i_file) {
            Note(QString("failed %1 [%2]").arg(Text(i_user), Text(i_file)));
        });
        QObject::connect(&io_messenger, &PeerMessenger::UploadDenied,
                         [this](std::string i_user, std::string i_file, std::string i_reason) {
                             Note(QString("denied %1 [%2] [%3]").arg(Text(i_user), Text(i_file), Text(i_reason)));
                         });
    }

    static QString Text(const std::string& i_text) { return QString::fromStdString(i_text); }
    void Note(const QString& i_line) { m_signals.append(i_line); }

    QStringList m_signals;
};

QByteArray Body(quint32 i_code, const QByteArray& i_payload)
{
    return WireWriter().U32(i_code).Raw(i_payload);
}
}

class TestPeerTransfers : public QObject
{
    Q_OBJECT

private slots:
    void theWritersLayOutTheirMessages()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        Settings::Set("transfer_req_counter", "1");
        PeerMessenger& l_messenger = l_talk.Messenger();
        QCOMPARE(l_messenger.RequestUpload("bob", "music\\a.mp3", 0x0102030405060708), 1u);
        l_messenger.AcceptTransferRequest("bob", 0xA1B2C3D4, false, 99);
        l_messenger.AcceptTransferRequest("bob", 7, true, -1);
        l_messenger.DenyTransferRequest("bob", 8, "Cancelled");
        l_messenger.QueueDownload("bob", "music\\a.mp3");
        l_messenger.DenyUpload("bob", "music\\a.mp3", "File not shared.");
        QVERIFY(l_talk.mp_far->WaitForFrames(6));

        const QList<QByteArray> l_expected{
            QByteArray::fromHex("28000000" "01000000" "01000000" "0b000000") + "music\\a.mp3" + QByteArray::fromHex("0807060504030201"),
            QByteArray::fromHex("29000000" "d4c3b2a1" "01"),
            QByteArray::fromHex("29000000" "07000000" "01" "ffffffffffffffff"),
            QByteArray::fromHex("29000000" "08000000" "00" "09000000") + "Cancelled",
            QByteArray::fromHex("2b000000" "0b000000") + "music\\a.mp3",
            QByteArray::fromHex("32000000" "0b000000") + "music\\a.mp3" + QByteArray::fromHex("10000000") + "File not shared.",
        };
        QCOMPARE(l_talk.mp_far->Frames(), l_expected);
    }

    void theTokenCounterAdvancesAndWraps_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QList<uint>>("tokens");
        QTest::addColumn<QString>("after");
        QTest::newRow("from the default") << "1" << QList<uint>{1, 2} << "3";
        QTest::newRow("without a value") << "" << QList<uint>{0} << "1";
        QTest::newRow("at the top") << "4294967295" << QList<uint>{4294967295u, 0} << "1";
    }
    void theTokenCounterAdvancesAndWraps()
    {
        QFETCH(QString, start);
        QFETCH(QList<uint>, tokens);
        QFETCH(QString, after);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        if (!start.isEmpty())
            Settings::Set("transfer_req_counter", start.toStdString());
        QList<uint> l_returned;
        for (qsizetype l_call = 0; l_call < tokens.size(); ++l_call)
            l_returned.push_back(l_talk.Messenger().RequestUpload("bob", "f", 1));
        QCOMPARE(l_returned, tokens);
        QCOMPARE(QString::fromStdString(Settings::Get("transfer_req_counter")), after);
        // The setting has one value.
        QCOMPARE(d.GetType("global")->GetItem("transfer_req_counter").GetItems("global_value").size(), std::size_t(1));

        QVERIFY(l_talk.mp_far->WaitForFrames(int(tokens.size())));
        const QList<QByteArray> l_frames = l_talk.mp_far->Frames();
        for (int l_index = 0; l_index < l_frames.size(); ++l_index) {
            WireReader l_reader(l_frames[l_index]);
            l_reader.U32();
            l_reader.I32();
            QCOMPARE(l_reader.U32(), tokens[l_index]);
        }
    }

    void receivedMessagesReachTheTransferManager_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("signal");
        const QByteArray l_size = QByteArray::fromHex("0807060504030201");
        QTest::newRow("offer to send") << Body(40, WireWriter().I32(1).U32(9).Str("a\\b").Raw(l_size))
                                       << "request bob 1 9 [a\\b] 72623859790382856";
        QTest::newRow("direction 0, no size") << Body(40, WireWriter().I32(0).U32(9).Str("a\\b"))
                                              << "request bob 0 9 [a\\b] 0";
        QTest::newRow("direction 0, size ignored") << Body(40, WireWriter().I32(0).U32(9).Str("a\\b").Raw(l_size))
                                                   << "request bob 0 9 [a\\b] 0";
        QTest::newRow("direction 2") << Body(40, WireWriter().I32(2).U32(9).Str("a\\b")) << "request bob 2 9 [a\\b] 0";
        QTest::newRow("accept without size") << Body(41, WireWriter().U32(4).U8(1)) << "response bob 4 1 0 0 []";
        QTest::newRow("accept, 3 stray bytes") << Body(41, WireWriter().U32(4).U8(1).Raw("xyz")) << "response bob 4 1 0 0 []";
        QTest::newRow("accept with size") << Body(41, WireWriter().U32(4).U8(1).I64(1000)) << "response bob 4 1 1 1000 []";
        QTest::newRow("accept as 7") << Body(41, WireWriter().U32(4).U8(7)) << "response bob 4 1 0 0 []";
        QTest::newRow("refusal") << Body(41, WireWriter().U32(4).U8(0).Str("Complete")) << "response bob 4 0 0 0 [Complete]";
        QTest::newRow("queue") << Body(43, WireWriter().Str("a\\b").Raw("more")) << "queue bob [a\\b]";
        QTest::newRow("queue, text cut at a zero byte") << Body(43, WireWriter().Str(std::string("a\\b\0c", 5)))
                                                        << "queue bob [a\\b]";
        QTest::newRow("place in line") << Body(44, WireWriter().Str("a\\b").Raw(QByteArray::fromHex("ffffffff")))
                                       << "place bob [a\\b] -1";
        QTest::newRow("failed") << Body(46, WireWriter().Str("a\\b")) << "failed bob [a\\b]";
        QTest::newRow("denied") << Body(50, WireWriter().Str("a\\b").Str("File read error.")) << "denied bob [a\\b] [File read error.]";
    }
    void receivedMessagesReachTheTransferManager()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, signal);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        TransferListener l_listener(l_talk.Messenger());
        QVERIFY(l_talk.Send(body));
        QVERIFY(l_talk.StillOpen());
        QCOMPARE(l_listener.m_signals, QStringList{signal});
        QVERIFY(l_talk.LinesAfterReceipt().isEmpty());
    }

    void malformedMessagesCloseTheConnection_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("offer to send, 5 bytes of size") << Body(40, WireWriter().I32(1).U32(9).Str("a\\b").Raw("12345"));
        QTest::newRow("offer without file") << Body(40, WireWriter().I32(1).U32(9));
        QTest::newRow("response without allowed byte") << Body(41, WireWriter().U32(4));
        QTest::newRow("refusal without reason") << Body(41, WireWriter().U32(4).U8(0));
        QTest::newRow("queue, count 131073") << Body(43, WireWriter().U32(131073).Raw(QByteArray(16, 'a')));
        QTest::newRow("place in line, place cut short") << Body(44, WireWriter().Str("a\\b").Raw("\xff\xff"));
        QTest::newRow("failed, empty") << Body(46, QByteArray());
        QTest::newRow("denied without reason") << Body(50, WireWriter().Str("a\\b"));
    }
    void malformedMessagesCloseTheConnection()
    {
        QFETCH(QByteArray, body);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        TransferListener l_listener(l_talk.Messenger());
        QVERIFY(l_talk.Send(body));
        QVERIFY(l_talk.Closed());
        QVERIFY(l_listener.m_signals.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPeerTransfers)
#include "tst_peer_transfers.moc"
