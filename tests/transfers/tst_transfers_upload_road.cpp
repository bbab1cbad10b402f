// The sending side of uploads over the loopback network, with a fake peer
// as the downloader: answers to our offers, the file connection, the offset
// the peer asks for and the bytes sent; a file connection that cannot be
// made; uploads taken away while they run, the half-minute checks on an
// injected clock, and the shut-down.
#include "FakeCentralServer.h"
#include "LoopbackPorts.h"
#include "TransferRoad.h"
#include "UploadQueries.h"
#include "WireBytes.h"

#include "core/persist/Settings.h"
#include "server/Server.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"
#include "transfers/TransferThread.h"

#include <QElapsedTimer>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace
{
using UploadQueries::UploadOf;

QByteArray Offset(qint64 i_offset)
{
    return WireWriter().I64(i_offset);
}

// Every progress report arrives as its own signal while it is set.
struct ReportEveryChunk
{
    ReportEveryChunk() : m_before(TransferThread::ReportIntervalMs()) { TransferThread::SetReportIntervalMs(0); }
    ~ReportEveryChunk() { TransferThread::SetReportIntervalMs(m_before); }
    int m_before;
};
}  // namespace

class TestTransfersUploadRoad : public QObject
{
    Q_OBJECT

private slots:
    // "offset" is what bob asks for, "pieces" how many writes carry it.
    void theFileIsSentFromTheOffsetThePeerAsksFor_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QList<qint64>>("positions");
        const QByteArray l_file = Pattern(20000);
        QTest::newRow("the whole file") << l_file << qint64(0) << 1 << "complete" << QList<qint64>{8192, 16384, 20000};
        QTest::newRow("resumed after 4 bytes") << l_file << qint64(4) << 1 << "complete"
                                               << QList<qint64>{8196, 16388, 20000};
        QTest::newRow("the offset in two writes") << l_file << qint64(12000) << 2 << "complete" << QList<qint64>{20000};
        QTest::newRow("the peer has it all") << l_file << qint64(20000) << 1 << "complete" << QList<qint64>{20000};
        QTest::newRow("an empty file") << QByteArray() << qint64(0) << 1 << "complete" << QList<qint64>{0};
        QTest::newRow("beyond the end") << l_file << qint64(20001) << 1 << "aborted" << QList<qint64>{};
        QTest::newRow("a negative offset") << l_file << qint64(-1) << 1 << "aborted" << QList<qint64>{};
    }
    void theFileIsSentFromTheOffsetThePeerAsksFor()
    {
        QFETCH(QByteArray, file);
        QFETCH(qint64, offset);
        QFETCH(int, pieces);
        QFETCH(QString, status);
        QFETCH(QList<qint64>, positions);
        ReportEveryChunk l_everyChunk;
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        QList<qint64> l_positions;
        connect(&l_road.Manager(), &TransferQueueManager::UploadProgressed, this, [&](ItemPtr i_upload) {
            l_positions.append(*TransferFigures::Of<TransferFigures::Position>(i_upload, "read_position"));
        });
        const std::string l_path = l_road.Share("a.bin", file);
        const quint32 l_token = l_road.Ask(l_path);
        QVERIFY(l_token != 0);
        l_road.Answer(l_token, true);
        quint32 l_written = 0;
        FakePeerConnection* lp_file = l_road.TakeFileConnection(l_written);
        QVERIFY(lp_file);
        QCOMPARE(l_written, l_token);
        ItemPtr l_upload = UploadOf("bob", l_path);
        QCOMPARE(TransferRoad::StatusOf(l_upload), std::string("uploading"));

        const qsizetype l_opening = lp_file->Received().size();
        if (pieces == 2) {
            lp_file->SendRaw(Offset(offset).left(3));
            PeerTestWorld::Settle(30);
        }
        lp_file->SendRaw(Offset(offset).mid(pieces == 2 ? 3 : 0));
        const QByteArray l_expected = status == "complete" ? file.mid(offset) : QByteArray();
        QVERIFY(lp_file->WaitForBytes(int(l_opening + l_expected.size())));
        // Bob closes once he holds the file; we close a failed upload.
        if (status == "complete")
            lp_file->Socket()->disconnectFromHost();
        QVERIFY(TransferRoad::Reaches(l_upload, status.toUtf8().constData()));
        QVERIFY(lp_file->WaitForDisconnect());
        QCOMPARE(lp_file->Received().mid(l_opening), l_expected);
        QCOMPARE(l_positions, positions);
        QVERIFY(!l_upload.IsConnected("upload_thread") && !l_upload.IsConnected("upload_socket"));
        QVERIFY(!l_upload.IsConnected("upload_file") && !l_upload.IsConnected("read_position"));
        // A failed upload tells the peer.
        const QList<QByteArray> l_failed = l_road.FramesWithCode(46);
        QCOMPARE(l_failed.size(), status == "aborted" ? 1 : 0);
    }

    // The file changed on disk after it was indexed: "indexed" bytes were
    // offered, "now" are on disk. The peer gets exactly what was offered, or
    // is told at once that the upload failed.
    void anUploadSendsExactlyTheSizeItOffered_data()
    {
        QTest::addColumn<int>("indexed");
        QTest::addColumn<int>("now");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QString>("status");
        QTest::newRow("grown") << 5000 << 5000 + 8 * 1048576 << qint64(0) << "complete";
        QTest::newRow("grown, resumed") << 20000 << 20000 + 8 * 1048576 << qint64(12000) << "complete";
        QTest::newRow("grown, the peer has what was offered") << 5000 << 9000 << qint64(5000) << "complete";
        QTest::newRow("shrunk") << 180 << 50 << qint64(0) << "aborted";
        QTest::newRow("shrunk below the offset") << 180 << 50 << qint64(100) << "aborted";
        QTest::newRow("shrunk, the peer has what was offered") << 180 << 50 << qint64(180) << "aborted";
        QTest::newRow("emptied") << 20000 << 0 << qint64(0) << "aborted";
    }
    void anUploadSendsExactlyTheSizeItOffered()
    {
        QFETCH(int, indexed);
        QFETCH(int, now);
        QFETCH(qint64, offset);
        QFETCH(QString, status);
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        qint64 l_lastPosition = -1;
        connect(&l_road.Manager(), &TransferQueueManager::UploadProgressed, this, [&](ItemPtr i_upload) {
            l_lastPosition = *TransferFigures::Of<TransferFigures::Position>(i_upload, "read_position");
        });
        const QByteArray l_onDisk = Pattern(now);
        const std::string l_path = l_road.Share("cover.jpg", Pattern(indexed));
        // Changed after the index learnt its size.
        TransfersTestWorld::MakeFile(l_road.m_files.filePath("cover.jpg"), l_onDisk);
        const quint32 l_token = l_road.Ask(l_path);
        QVERIFY(l_token != 0);
        // The offer names the indexed size.
        WireReader l_offer(l_road.FramesWithCode(40).last());
        l_offer.U32();
        l_offer.U32();
        l_offer.U32();
        l_offer.Str();
        QCOMPARE(l_offer.I64(), qint64(indexed));
        l_road.Answer(l_token, true);
        quint32 l_written = 0;
        FakePeerConnection* lp_file = l_road.TakeFileConnection(l_written);
        QVERIFY(lp_file);
        ItemPtr l_upload = UploadOf("bob", l_path);

        const qsizetype l_opening = lp_file->Received().size();
        lp_file->SendRaw(Offset(offset));
        if (status == "complete") {
            const QByteArray l_offered = l_onDisk.left(indexed).mid(offset);
            QVERIFY(lp_file->WaitForBytes(int(l_opening + l_offered.size())));
            // Anything sent past the offer would arrive meanwhile.
            PeerTestWorld::Settle(200);
            QCOMPARE(lp_file->Received().size() - l_opening, l_offered.size());
            QCOMPARE(lp_file->Received().mid(l_opening), l_offered);
            // The downloader closes once it holds what was offered.
            lp_file->Socket()->disconnectFromHost();
            QVERIFY(TransferRoad::Reaches(l_upload, "complete"));
            QCOMPARE(l_lastPosition, qint64(indexed));
            QVERIFY(l_road.FramesWithCode(46).isEmpty());
        } else {
            // Failed at once, not after the half-minute wait for a close:
            // within half of it, which only a hang outlasts.
            QVERIFY(PeerTestWorld::WaitFor([&] { return TransferRoad::StatusOf(l_upload) == "aborted"; },
                                           TransferThread::NetworkWaitMs / 2));
            QVERIFY(lp_file->WaitForDisconnect());
            // Known short before the first byte, so none was sent.
            QCOMPARE(lp_file->Received().size(), l_opening);
            QCOMPARE(l_lastPosition, qint64(-1));
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_road.FramesWithCode(46).size() == 1; }));
            QCOMPARE(l_road.FramesWithCode(46).first(), MessageBody(46, l_path));
        }
    }

    // A name that is not valid UTF-8 is indexed and advertised; it was
    // opened through text and failed ("File read error." to the peer).
    void aFileWhoseNameIsNotUtf8IsSent()
    {
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        const QByteArray l_bytes = Pattern(10000);
        const std::string l_folder = l_road.m_files.path().toStdString();
        const std::string l_name = "caf\xe9 \xff.bin";
        const std::string l_path = l_folder + "/" + l_name;
        const int l_fd = ::open(l_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(l_fd >= 0);
        QCOMPARE(::write(l_fd, l_bytes.constData(), size_t(l_bytes.size())), ssize_t(l_bytes.size()));
        ::close(l_fd);
        TransfersTestWorld::ShareFile(l_folder, l_name, l_bytes.size(), l_folder);

        const quint32 l_token = l_road.Ask(l_path);
        QVERIFY(l_token != 0);
        l_road.Answer(l_token, true);
        quint32 l_written = 0;
        FakePeerConnection* lp_file = l_road.TakeFileConnection(l_written);
        QVERIFY(lp_file);
        ItemPtr l_upload = UploadOf("bob", l_path);
        QCOMPARE(TransferRoad::StatusOf(l_upload), std::string("uploading"));
        const qsizetype l_opening = lp_file->Received().size();
        lp_file->SendRaw(Offset(0));
        QVERIFY(lp_file->WaitForBytes(int(l_opening + l_bytes.size())));
        lp_file->Socket()->disconnectFromHost();
        QVERIFY(TransferRoad::Reaches(l_upload, "complete"));
        QCOMPARE(lp_file->Received().mid(l_opening), l_bytes);
        QVERIFY(l_road.FramesWithCode(50).isEmpty());
    }

    // "setup": what becomes of bob's upload before the answer arrives.
    void answersToOurOffers_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("line");
        QTest::newRow("accepted") << "" << "bob" << true << "connecting" << "   Requesting file connection to user";
        QTest::newRow("refused") << "" << "bob" << false << "denied" << "   Upload was not accepted, marking denied";
        QTest::newRow("from another user") << "" << "carol" << true << "requesting"
                                           << "   Upload user bob not the same as user who opened the connection, not "
                                              "doing anything";
        QTest::newRow("unknown token") << "unknown" << "bob" << true << "requesting" << "   req not found";
        QTest::newRow("token of a download") << "download" << "bob" << true << "requesting"
                                             << "   Found download, not processing";
        QTest::newRow("the file is gone") << "gone" << "bob" << true << "local error"
                                          << "   File could not be opened, marking local error and sending denial "
                                             "message. Shouldn't we have done this before we requested the transfer?";
    }
    void answersToOurOffers()
    {
        QFETCH(QString, setup);
        QFETCH(QString, user);
        QFETCH(bool, accepted);
        QFETCH(QString, status);
        QFETCH(QString, line);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        QTemporaryDir l_files;
        const std::string l_folder = l_files.path().toStdString();
        if (setup != "gone")
            TransfersTestWorld::MakeFile(l_files.filePath("a.bin"), "data");
        TransfersTestWorld::ShareFile(l_folder, "a.bin", 4, l_folder);
        TransfersTestWorld::SetOnline("bob");
        l_manager.OnQueueUploadRequested("bob", l_folder + "/a.bin");
        ItemPtr l_upload = UploadOf("bob", l_folder + "/a.bin");
        unsigned int l_token = l_upload["transfer_req"].AsUInt();
        if (setup == "download")
            l_manager.AddDownload("bob", "x", "y", 1, 0) += d.GetType("transfer_req")->GetItem(ToString(l_token));
        else if (setup == "unknown")
            l_token += 100;
        TransfersTestWorld::ClearSent();
        l_world.ClearLog();
        const long l_askedBefore = l_world.FileConnectionsAsked();

        l_manager.OnFileTransferResponse(user.toStdString(), l_token, accepted, false, 0, accepted ? "" : "Queued");
        QCOMPARE(QString::fromStdString(TransferRoad::StatusOf(l_upload)), status);
        QVERIFY2(l_world.LogTexts().contains(line), qPrintable(l_world.LogTexts().join('|')));
        QCOMPARE(l_upload.IsConnected("upload_file"), status == "connecting");
        QCOMPARE(l_upload["denial_reason"].AsString(), std::string(status == "denied" ? "Queued" : ""));
        const QList<QByteArray> l_denial{MessageBody(50, l_folder + "/a.bin", "File read error.")};
        QCOMPARE(TransfersTestWorld::Sent("bob"), setup == "gone" ? l_denial : QList<QByteArray>{});
        // Asked for a file connection exactly when the file could be opened.
        QCOMPARE(l_world.FileConnectionsAsked() - l_askedBefore, setup == "" && accepted && user == "bob" ? 1 : 0);
    }

    // Our offer went twice (the peer reset the connection that carried it
    // first), and bob answers the copy too, once the upload runs on its
    // file connection or has completed: accepting it again, or refusing it
    // as a download it already has. Nothing changes: no second file
    // connection, no second upload in the one slot, the file sent once.
    void aSecondAnswerToAnOfferChangesNothing_data()
    {
        QTest::addColumn<bool>("complete");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("accepted again while it runs") << false << true;
        QTest::newRow("refused while it runs") << false << false;
        QTest::newRow("accepted again once complete") << true << true;
        QTest::newRow("refused once complete") << true << false;
    }
    void aSecondAnswerToAnOfferChangesNothing()
    {
        QFETCH(bool, complete);
        QFETCH(bool, accepted);
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        const QByteArray l_bytes = Pattern(20000);
        const std::string l_path = l_road.Share("a.bin", l_bytes);
        const quint32 l_token = l_road.Ask(l_path);
        QVERIFY(l_token != 0);
        // Waits for the one slot.
        l_road.mp_bob->SendFrame(MessageBody(43, l_road.Share("b.bin", "more")));
        QVERIFY(PeerTestWorld::WaitFor([] { return d.GetType("upload_entry")->ItemCount() == 2; }));
        l_road.Answer(l_token, true);
        quint32 l_written = 0;
        FakePeerConnection* lp_file = l_road.TakeFileConnection(l_written);
        QVERIFY(lp_file);
        // Bob has two uploads: his first offer's is found by its file.
        ItemPtr l_upload = UploadOf("bob", l_path);
        const qsizetype l_opening = lp_file->Received().size();
        // Bob takes the whole file and closes.
        auto l_finish = [&] {
            lp_file->SendRaw(Offset(0));
            if (!lp_file->WaitForBytes(int(l_opening + l_bytes.size())))
                return false;
            lp_file->Socket()->disconnectFromHost();
            return TransferRoad::Reaches(l_upload, TransferStatus::Complete);
        };
        if (complete) {
            QVERIFY(l_finish());
            // The slot went to b.bin.
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_road.FramesWithCode(40).size() == 2; }));
        }
        const char* lp_status = complete ? TransferStatus::Complete : TransferStatus::Uploading;
        const qsizetype l_offers = l_road.FramesWithCode(40).size();

        l_road.m_world.ClearLog();
        l_road.Answer(l_token, accepted, "Complete");
        QVERIFY(PeerTestWorld::WaitFor([&] { return !l_road.m_world.LogTexts().isEmpty(); }));
        PeerTestWorld::Settle(100);
        QCOMPARE(TransferRoad::StatusOf(l_upload), std::string(lp_status));
        QCOMPARE(d.GetType("upload_thread")->ItemCount(), complete ? 0 : 1);
        QCOMPARE(l_road.FramesWithCode(40).size(), l_offers);
        QVERIFY(!l_road.m_peer.WaitForConnection(false, 200));
        if (!complete)
            QVERIFY(l_finish());
        QCOMPARE(lp_file->Received().mid(l_opening), l_bytes);
        QVERIFY(l_road.FramesWithCode(46).isEmpty());
    }

    void aFileConnectionNobodyWaitsForIsClosed()
    {
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        l_road.m_world.ClearLog();
        FakePeer l_far;
        QVERIFY(l_far.Listen());
        QTcpSocket* lp_socket = new QTcpSocket;
        lp_socket->connectToHost(QHostAddress::LocalHost, l_far.Port());
        QVERIFY(lp_socket->waitForConnected(5000));
        FakePeerConnection* lp_accepted = l_far.WaitForConnection(false);
        QVERIFY(lp_accepted);
        l_road.Manager().OnFileConnectionAccepted("bob", lp_socket);
        QVERIFY(lp_accepted->WaitForDisconnect());
        QVERIFY(l_road.m_world.LogTexts().isEmpty());
    }

    // The clock moves by "after" ms since the upload entered "state". An
    // upload bob accepted whose file connection never came (the peer layer
    // still waits for his address), or whose offer never left (no
    // connection to bob carried it), fails as the peer layer's failure would
    // have failed it: the Uploads view shows "reason". An offer that never
    // left then never goes.
    void uploadsStuckInASetUpStateAreAbortedAfterHalfAMinute_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("aborted");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("offerHeld");
        QTest::newRow("requesting, just under") << "requesting" << 29999 << false << "" << false;
        QTest::newRow("requesting") << "requesting" << 30000 << true << "" << false;
        QTest::newRow("requesting, our offer never left") << "requesting" << 30000 << true << "Cannot connect." << true;
        QTest::newRow("connecting") << "connecting" << 45000 << true << "Cannot connect." << false;
        QTest::newRow("waiting for offset") << "waiting for offset" << 30000 << true << "" << false;
        QTest::newRow("uploading is never timed out") << "uploading" << 3600000 << false << "" << false;
    }
    void uploadsStuckInASetUpStateAreAbortedAfterHalfAMinute()
    {
        QFETCH(QString, state);
        QFETCH(int, after);
        QFETCH(bool, aborted);
        QFETCH(QString, reason);
        QFETCH(bool, offerHeld);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        qint64 l_now = 1000;
        l_manager.SetClock([&] { return l_now; });
        QTemporaryDir l_files;
        const std::string l_folder = l_files.path().toStdString();
        l_world.OfferToBobWithCarolWaiting(l_files);
        ItemPtr l_upload = UploadOf("bob", l_folder + "/a");
        if (state == "connecting")
            l_manager.OnFileTransferResponse("bob", l_upload["transfer_req"].AsUInt(), true, false, 0, "");
        else if (state != "requesting")
            l_manager.SetUploadEntryStatus(l_upload, state.toStdString());
        // The offer waits for bob's address, or it went and bob holds it.
        const QList<QByteArray> l_held = offerHeld ? TransfersTestWorld::Sent("bob") : QList<QByteArray>{};
        QCOMPARE(l_held.size(), offerHeld ? 1 : 0);
        if (!offerHeld)
            TransfersTestWorld::ClearSent();
        l_world.ClearLog();

        l_now += after;
        l_manager.EveryHalfMinute();
        QCOMPARE(TransferRoad::StatusOf(l_upload), aborted ? std::string("aborted") : state.toStdString());
        // The offer of an upload that ended never goes; its failure does.
        const QList<QByteArray> l_left = aborted ? QList<QByteArray>{} : l_held;
        QCOMPARE(TransfersTestWorld::Sent("bob"),
                 l_left + (aborted ? QList<QByteArray>{MessageBody(46, l_folder + "/a")} : QList<QByteArray>{}));
        QCOMPARE(l_world.LogTexts().contains(QString("Upload of a to bob timed out in %1 phase, aborting").arg(state)),
                 aborted);
        QVERIFY(!l_upload.IsConnected("upload_file") || !aborted);
        QCOMPARE(QString::fromStdString(l_upload["upload_failure_reason"].AsString()), reason);
        // The slot it held goes to the next upload.
        QCOMPARE(TransferRoad::StatusOf(UploadOf("carol", l_folder + "/b")),
                 std::string(aborted ? "requesting" : "queued"));
    }

    // Our file connection to carl fails for good, with the server answering
    // every look-up: carl is logged in nowhere, known at no address or at a
    // closed port. With the one upload slot, bob's upload waits behind his.
    // With no address the relayed request decides, as the user may still
    // answer it: its failure, or else its expiry, ends the upload.
    void anUploadWhoseFileConnectionFailsGivesItsSlotAtOnce_data()
    {
        QTest::addColumn<bool>("closedPort");
        QTest::addColumn<bool>("relayAnswered");
        QTest::newRow("no address, the relayed request unanswered") << false << false;
        QTest::newRow("no address, the relayed request failed") << false << true;
        QTest::newRow("the direct and the relayed attempt failed") << true << true;
    }
    void anUploadWhoseFileConnectionFailsGivesItsSlotAtOnce()
    {
        QFETCH(bool, closedPort);
        QFETCH(bool, relayAnswered);
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        FakeCentralServer l_central;
        FakeCentralServer::KnownUser l_carlAtServer;
        if (closedPort) {
            l_carlAtServer.m_address = PeerTestWorld::Loopback;
            l_carlAtServer.m_port = ClosedLoopbackPort();
        }
        l_central.AddKnownUser("carl", l_carlAtServer);
        l_central.AddKnownUser("bob", {});
        l_central.SetSilentOnAbsentRelays(!relayAnswered);
        QVERIFY(l_central.Start());
        SetPeerServerRequests(nullptr);
        Server& l_link = l_road.m_world.Peer().Link();
        l_link.SetServerAddress("127.0.0.1", l_central.Port());
        Settings::Set("password", "secret");
        l_link.Connect();
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_link.IsConnected(); }));

        FakePeer l_carlEnd;
        FakePeerConnection* lp_carl = l_road.m_world.Peer().ConnectAs(l_carlEnd, "carl");
        QVERIFY(lp_carl);
        TransfersTestWorld::SetOnline("carl");
        const std::string l_carlPath = l_road.Share("a.bin", "data");
        lp_carl->SendFrame(MessageBody(43, l_carlPath));
        QVERIFY(lp_carl->WaitForFrames(1));
        const std::string l_bobPath = l_road.Share("b.bin", "more");
        l_road.mp_bob->SendFrame(MessageBody(43, l_bobPath));
        QVERIFY(PeerTestWorld::WaitFor([] { return d.GetType("upload_entry")->ItemCount() == 2; }));
        ItemPtr l_carls = UploadOf("carl", l_carlPath);
        ItemPtr l_bobs = UploadOf("bob", l_bobPath);
        lp_carl->SendFrame(WireWriter().U32(41).U32(l_carls["transfer_req"].AsUInt()).U8(1));

        if (!relayAnswered) {
            PeerTestWorld::Settle(300);
            QCOMPARE(TransferRoad::StatusOf(l_carls), std::string(TransferStatus::Connecting));
            l_road.m_world.Peer().Advance(61000);
            l_road.m_world.Peer().Messenger().EveryHalfMinute();
        }
        QVERIFY(TransferRoad::Reaches(l_carls, TransferStatus::Aborted));
        QCOMPARE(l_carls["upload_failure_reason"].AsString(), std::string("Cannot connect."));
        QVERIFY(PeerTestWorld::WaitFor([&] { return TransferRoad::FramesWithCode(lp_carl, 46).size() == 1; }));
        QCOMPARE(TransferRoad::FramesWithCode(lp_carl, 46).front(), MessageBody(46, l_carlPath));
        // Bob's upload took the slot: he is offered his file.
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_road.FramesWithCode(40).size() == 1; }));
        QCOMPARE(TransferRoad::StatusOf(l_bobs), std::string("requesting"));
    }

    void placesInLineAreAskedAtMostEveryTenMinutesPerUser()
    {
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        qint64 l_now = 0;
        l_manager.SetClock([&] { return l_now; });
        for (const char* lp_user : {"bob", "carol", "dave"}) {
            l_manager.AddDownload(lp_user, "a", "Music", 1, 0);
            l_manager.AddDownload(lp_user, "b", "Music", 1, 0);
        }
        // Carol is downloading one of hers; Dave is offline.
        l_manager.SetDownloadEntryStatus(l_manager.GetDownloadEntry("carol", "b", "Music"), TransferStatus::Downloading);
        TransfersTestWorld::SetOnline("bob");
        TransfersTestWorld::SetOnline("carol");
        auto l_asked = [](const char* ip_user) {
            int l_count = 0;
            for (const QByteArray& l_body : TransfersTestWorld::Sent(ip_user))
                l_count += WireReader(l_body).U32() == 51 ? 1 : 0;
            TransfersTestWorld::ClearSent();
            return l_count;
        };
        l_asked("bob");
        const std::vector<std::pair<qint64, int>> l_ticks{{0, 2}, {30000, 0}, {599999, 0}, {600000, 2}, {600001, 0}};
        for (const auto& [l_at, l_bob] : l_ticks) {
            l_now = l_at;
            l_manager.EveryHalfMinute();
            QCOMPARE(l_asked("bob"), l_bob);
            QCOMPARE(l_asked("carol"), 0);
            QCOMPARE(l_asked("dave"), 0);
        }
        QVERIFY(d.GetType("user")->GetItem("bob").IsConnected("last_place_in_line_request_time"));
        QVERIFY(!d.GetType("user")->GetItem("dave").IsConnected("last_place_in_line_request_time"));
    }

    void unsharingAUserStopsAndRemovesAllTheirUploads()
    {
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        TransferQueueManager& l_manager = l_road.Manager();
        QList<QByteArray> l_denials;
        for (const char* lp_name : {"running", "done", "waiting"})
            l_denials.append(MessageBody(50, l_road.Share(lp_name, lp_name), "File not shared."));
        const std::string l_folder = l_road.m_files.path().toStdString();
        // One upload runs (its peer never asks for an offset), one is
        // finished and one waits behind it.
        l_road.Answer(l_road.Ask(l_folder + "/running"), true);
        quint32 l_token = 0;
        FakePeerConnection* lp_file = l_road.TakeFileConnection(l_token);
        QVERIFY(lp_file);
        l_manager.OnQueueUploadRequested("bob", l_folder + "/done");
        l_manager.OnQueueUploadRequested("bob", l_folder + "/waiting");
        ItemPtr l_done = d.GetItem(d.GetType("user")->GetItem("bob"),
                                   d.GetType("filename_as_requested")->GetItem(l_folder + "/done"), "upload_entry");
        l_manager.SetUploadEntryStatus(l_done, TransferStatus::Complete);

        l_manager.UnshareUser("bob");
        QCOMPARE(d.GetType("upload_entry")->ItemCount(), std::size_t(0));
        QCOMPARE(d.GetType("upload_thread")->ItemCount() + d.GetType("upload_file")->ItemCount(), std::size_t(0));
        QVERIFY(lp_file->WaitForDisconnect());
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_road.FramesWithCode(50).size() == 3; }));
        QList<QByteArray> l_sent = l_road.FramesWithCode(50);
        std::sort(l_sent.begin(), l_sent.end());
        std::sort(l_denials.begin(), l_denials.end());
        QCOMPARE(l_sent, l_denials);

        // From then on bob is refused, until he is shared with again.
        l_manager.OnQueueUploadRequested("bob", l_folder + "/waiting");
        QCOMPARE(d.GetType("upload_entry")->ItemCount(), std::size_t(0));
        l_manager.ReshareUser("bob");
        QVERIFY(!d.GetType("user")->GetItem("bob").IsConnected("unshared"));
        l_manager.OnQueueUploadRequested("bob", l_folder + "/waiting");
        QCOMPARE(d.GetType("upload_entry")->ItemCount(), std::size_t(1));
    }

    void theShutDownStopsEveryTransferAtOnce()
    {
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        TransferQueueManager& l_manager = l_road.Manager();
        // An upload that sleeps for its limit, and nine downloads whose peer
        // sends nothing.
        l_manager.SetUploadSpeedLimit(1);
        l_manager.EnableUploadSpeedLimit(true);
        l_road.Answer(l_road.Ask(l_road.Share("big", Pattern(100000))), true);
        quint32 l_token = 0;
        FakePeerConnection* lp_upload = l_road.TakeFileConnection(l_token);
        QVERIFY(lp_upload);
        lp_upload->SendRaw(Offset(0));
        QVERIFY(lp_upload->WaitForBytes(int(lp_upload->Received().size()) + 8192));
        QList<FakePeerConnection*> l_connections{lp_upload};
        for (quint32 l_download = 1; l_download <= 9; ++l_download) {
            const std::string l_name = "song" + std::to_string(l_download);
            l_manager.AddDownload("bob", l_name, "Music", 1000, 0);
            QCOMPARE(l_road.Offer(l_download, "Music\\" + l_name, 1000), QByteArray(WireWriter().U32(41).U32(l_download).U8(1)));
            FakePeerConnection* lp_file = l_road.Open("bob", l_download);
            QVERIFY(lp_file && lp_file->WaitForBytes(8));
            l_connections.append(lp_file);
        }
        QCOMPARE(d.GetType("download_thread")->ItemCount() + d.GetType("upload_thread")->ItemCount(), std::size_t(10));

        // Each thread sees the stop within a slice of its wait or sleep, all
        // at once: a slice in all. One that waited for the network or slept
        // off its limit would hold the shut-down for seconds; thirty slices
        // are many times what it takes.
        QElapsedTimer l_timer;
        l_timer.start();
        l_road.m_world.DestroyManager();
        QVERIFY2(l_timer.elapsed() < 30 * TransferThread::WaitSliceMs, qPrintable(QString::number(l_timer.elapsed())));
        for (FakePeerConnection* lp_connection : l_connections)
            QVERIFY(lp_connection->WaitForDisconnect());
        QCOMPARE(d.GetType("download_thread")->ItemCount() + d.GetType("upload_socket")->ItemCount(), std::size_t(0));
    }
};

QTEST_MAIN(TestTransfersUploadRoad)
#include "tst_transfers_upload_road.moc"
