// The transfer item model: states, settings and their defaults, what a
// restart keeps, and the freeing of live figures.
#include "TransfersTestWorld.h"

#include "core/persist/Settings.h"
#include "core/store/Exceptions.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"

#include <QSignalSpy>
#include <QtTest>

#include <map>
#include <set>

namespace
{
bool IsTracked(const char* ip_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(ip_user);
    return l_user && l_user.IsConnected("is_tracked");
}

ItemPtr AddUpload(const std::string& i_user)
{
    ItemPtr l_upload = d.GetType("upload_entry")->NewItem();
    l_upload += d.GetType("user")->GetItem(i_user);
    return l_upload;
}
}  // namespace

class TestTransfersModel : public QObject
{
    Q_OBJECT

private slots:
    // Which transfers make a user one we have work with, whose connections
    // the peer layer keeps at its bound: our downloads that wait or run, and
    // uploads that hold a slot; not uploads that only wait, which anyone can
    // queue, nor what has ended.
    void workWithAUserIsADownloadOfOursOrAnUploadInASlot_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("work");
        namespace Status = TransferStatus;
        QTest::newRow("a download queued") << "download" << Status::Queued << true;
        QTest::newRow("a download running") << "download" << Status::Downloading << true;
        QTest::newRow("a download complete") << "download" << Status::Complete << false;
        QTest::newRow("a download denied") << "download" << Status::Denied << false;
        QTest::newRow("an upload queued") << "upload" << Status::Queued << false;
        QTest::newRow("an upload requesting") << "upload" << Status::Requesting << true;
        QTest::newRow("an upload connecting") << "upload" << Status::Connecting << true;
        QTest::newRow("an upload running") << "upload" << Status::Uploading << true;
        QTest::newRow("an upload aborted") << "upload" << Status::Aborted << false;
    }
    void workWithAUserIsADownloadOfOursOrAnUploadInASlot()
    {
        QFETCH(QString, kind);
        QFETCH(QString, status);
        QFETCH(bool, work);
        TransfersTestWorld l_world;
        const std::string l_kind = kind.toStdString();
        ItemPtr l_entry = d.GetType((l_kind + "_entry").c_str())->NewItem();
        l_entry += d.GetType("user")->GetItem("ann");
        l_entry += d.GetType((l_kind + "_entry_status").c_str())->GetItem(status.toStdString());
        d.GetType("user")->GetItem("bob");
        QCOMPARE(TransferQueueManager::HasWorkWith("ann"), work);
        QVERIFY(!TransferQueueManager::HasWorkWith("bob"));
        QVERIFY(!TransferQueueManager::HasWorkWith("nobody"));
    }

    void aSecondManagerFailsAndTheFirstStays()
    {
        TransfersTestWorld l_world;
        bool l_thrown = false;
        try {
            TransferQueueManager l_second;
        } catch (TypeAlreadyExistsException* lp_error) {
            delete lp_error;
            l_thrown = true;
        }
        QVERIFY(l_thrown);
        QCOMPARE(transferQueueManager, &l_world.Manager());
        QCOMPARE(uploadSlotsService, static_cast<UploadSlotsService*>(&l_world.Manager()));
    }

    void onlyTheRunningStatesAreActive()
    {
        TransfersTestWorld l_world;
        // The marks outlast the collection of unreachable items.
        d.RemoveDisconnectedItems();
        const std::map<std::string, std::set<std::string>> l_active{
            {"download_entry_status", {"downloading"}},
            {"upload_entry_status", {"requesting", "connecting", "waiting for offset", "uploading"}}};
        for (const auto& [l_type, l_states] : l_active) {
            for (const char* lp_state : {"queued", "downloading", "requesting", "connecting", "waiting for offset",
                                         "uploading", "complete", "aborted", "denied", "local error"})
                QCOMPARE(TransferEntries::IsActiveStatus(d.GetType(l_type)->HasItem(lp_state)), l_states.count(lp_state) == 1);
        }
    }

    void settingsComeFromTheDataFileElseTheirDefaults()
    {
        // name: default, saved value
        const std::map<std::string, std::pair<std::string, std::string>> l_settings{
            {"upload_slots", {"1", "3"}},
            {"upload_speed_limit", {"0", "50"}},
            {"upload_speed_limit_enabled", {"no", "yes"}},
            {"transfer_order_counter", {"1", "9"}},
            {"transfer_req_counter", {"1", "7"}},
        };
        QTemporaryDir l_folder;
        const QString l_file = l_folder.filePath("client.dat");
        {
            TransfersTestWorld l_world;
            for (const auto& [l_name, l_values] : l_settings) {
                QCOMPARE(Settings::Get(l_name.c_str()), l_values.first);
                Settings::Set(l_name.c_str(), l_values.second);
            }
            l_world.Save(l_file);
        }
        TransfersTestWorld l_world(false);
        l_world.Load(l_file);
        for (const auto& [l_name, l_values] : l_settings)
            QCOMPARE(Settings::Get(l_name.c_str()), l_values.second);
        // The loaded limit is in force at once.
        QCOMPARE(l_world.Manager().GetUploadSpeed(), 50);
    }

    void aRestartQueuesUnfinishedDownloadsAgainAndForgetsUploads()
    {
        QTemporaryDir l_folder;
        const QString l_file = l_folder.filePath("client.dat");
        const std::vector<std::string> l_states{"queued", "downloading", "aborted", "denied", "local error", "complete"};
        {
            TransfersTestWorld l_world;
            TransferQueueManager& l_manager = l_world.Manager();
            for (const std::string& l_state : l_states) {
                ItemPtr l_download = l_manager.AddDownload(l_state == "complete" ? "carol" : "bob", l_state, "Blue", 7, 1);
                l_manager.SetDownloadEntryStatus(l_download, l_state);
                l_download += d.GetType("place_in_line")->GetItem(4);
                l_download += d.GetType("denial_reason")->GetItem("Busy");
                TransferFigures::Attach<TransferFigures::Position>(l_download, "write_position", 10);
            }
            l_manager.SetUploadEntryStatus(AddUpload("dave"), TransferStatus::Queued);
            ItemPtr l_finished = d.GetType("complete_download")->NewItem();
            l_finished += d.GetType("user")->GetItem("erin");
            l_finished += d.GetType("complete_download_filename")->GetItem("g.mp3");
            l_finished += d.GetType("complete_download_relative_folder")->GetItem("Blue");
            l_world.Save(l_file);
        }

        TransfersTestWorld l_world(false);
        QSignalSpy l_loaded(&l_world.Manager(), &TransferQueueManager::TransfersLoaded);
        l_world.Load(l_file);
        QCOMPARE(l_loaded.count(), 1);
        QCOMPARE(d.GetType("download_entry")->ItemCount(), l_states.size());
        std::set<long long> l_orders;
        for (const std::string& l_state : l_states) {
            ItemPtr l_download = l_world.Manager().GetDownloadEntry(l_state == "complete" ? "carol" : "bob", l_state, "Blue");
            QVERIFY2(l_download, l_state.c_str());
            QCOMPARE(l_download["download_entry_status"].AsString(), l_state == "complete" ? l_state : "queued");
            QCOMPARE(l_download["file_size"].AsInt(), 7);
            QCOMPARE(l_download["subfolder_save_level"].AsInt(), 1);
            l_orders.insert(l_download["download_order"].AsInt64());
            for (const char* lp_gone : {"last_status_change_time", "place_in_line", "denial_reason", "write_position"})
                QVERIFY2(!l_download.IsConnected(lp_gone), lp_gone);
        }
        QCOMPARE(l_orders.size(), l_states.size());
        QCOMPARE(d.GetType("upload_entry")->ItemCount(), std::size_t(0));
        // The users of every download are tracked, the complete one's too.
        QVERIFY(IsTracked("bob") && IsTracked("carol") && !IsTracked("dave"));
        ItemPtr l_finished = d.GetType("complete_download")->GetItems();
        QCOMPARE(l_finished["user"].AsString(), std::string("erin"));
        QCOMPARE(l_finished["complete_download_filename"].AsString(), std::string("g.mp3"));
        QCOMPARE(l_finished["complete_download_relative_folder"].AsString(), std::string("Blue"));
    }

    void statusChangesAreStampedInTextAndOnAMonotonicClock()
    {
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        const QDateTime l_before = QDateTime::currentDateTime();
        ItemPtr l_download = l_manager.AddDownload("bob", "a.mp3", "One", 1, 0);
        const QDateTime l_after = QDateTime::currentDateTime();
        const QDateTime l_stamp =
            QDateTime::fromString(QString::fromStdString(l_download["last_status_change_time"].AsString()), Qt::TextDate);
        // The moment of the change, to the second.
        QVERIFY2(l_stamp >= l_before.addMSecs(-l_before.time().msec()) && l_stamp <= l_after,
                 qPrintable(l_stamp.toString(Qt::ISODateWithMs)));
        // On the manager's clock: the time since the change, and the same
        // status again renews it.
        qint64 l_now = 1000;
        l_manager.SetClock([&] { return l_now; });
        l_manager.SetDownloadEntryStatus(l_download, TransferStatus::Queued);
        l_now += 30;
        QCOMPARE(l_manager.MsSinceStatusChange(l_download), qint64(30));
        l_manager.SetDownloadEntryStatus(l_download, TransferStatus::Queued);
        QCOMPARE(l_manager.MsSinceStatusChange(l_download), qint64(0));
        l_manager.RemoveDownload(l_download);
        QCOMPARE(l_manager.MsSinceStatusChange(l_download), qint64(-1));
    }

    // Each cell is freed exactly once, whoever removes its item; the
    // sanitizer reports a leak or a second free.
    void figureCellsAreFreedOnceWhoeverRemovesThem_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("how");
        for (const char* lp_type : {"write_position", "read_position", "last_receipt_time", "last_speed_measurement_time",
                                    "bytes_per_second", "bytes_since_last_receipt", "bytes_uploaded"}) {
            for (const char* lp_how : {"removed", "collected", "replaced", "released"})
                QTest::addRow("%s %s", lp_type, lp_how) << lp_type << lp_how;
        }
    }
    void figureCellsAreFreedOnceWhoeverRemovesThem()
    {
        QFETCH(QString, type);
        QFETCH(QString, how);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        const QByteArray l_type = type.toLatin1();
        const bool l_download = type == "write_position";
        ItemPtr l_entry = l_download ? l_manager.AddDownload("bob", "a", "b", 1, 0) : AddUpload("bob");
        auto l_attach = [&] {
            if (type.endsWith("_time"))
                TransferFigures::Attach<TransferFigures::Time>(l_entry, l_type, QDateTime::currentDateTime());
            else if (type == "bytes_per_second")
                TransferFigures::Attach<TransferFigures::Speed>(l_entry, l_type, 5);
            else
                TransferFigures::Attach<TransferFigures::ByteCount>(l_entry, l_type, 5);
        };
        l_attach();
        if (how == "removed") {
            l_entry[l_type].Remove();
        } else if (how == "collected") {
            l_entry.Disconnect(l_type);
        } else if (how == "replaced") {
            l_attach();
        } else if (l_download) {
            l_manager.SetDownloadEntryStatus(l_entry, TransferStatus::Downloading);
            l_manager.SetDownloadEntryStatus(l_entry, TransferStatus::Aborted);
        } else {
            l_manager.SetUploadEntryStatus(l_entry, TransferStatus::Uploading);
            l_manager.SetUploadEntryStatus(l_entry, TransferStatus::Complete);
        }
        d.RemoveDisconnectedItems();
        d.RemoveDisconnectedItems();
        QCOMPARE(l_entry.IsConnected(l_type), how == "replaced" || (how == "released" && type == "bytes_uploaded"));
    }
};

QTEST_MAIN(TestTransfersModel)
#include "tst_transfers_model.moc"
