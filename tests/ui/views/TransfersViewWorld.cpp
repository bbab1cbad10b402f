#include "TransfersViewWorld.h"

#include "transfers/TransferFigures.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/SizeManager.h"
#include "ui_TransfersForm.h"

#include <QTreeWidget>

TransfersViewWorld::TransfersViewWorld(bool i_load)
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    mp_world = std::make_unique<TransfersTestWorld>(false);
    mp_bar = std::make_unique<ActionSetToolBar>();
    mp_sizes = std::make_unique<SizeManager>();
    mp_view = std::make_unique<TransfersForm>();
    mp_view->Init();
    if (i_load)
        Load();
}

TransfersViewWorld::~TransfersViewWorld()
{
    // The page goes before the services, as at the program's end.
    mp_view.reset();
    mp_sizes.reset();
    mp_bar.reset();
    mp_world.reset();
}

QTreeWidget& TransfersViewWorld::Downloads() const
{
    mp_view->ApplyTreeUpdates();
    return *mp_view->Form()->downloadsList;
}

QTreeWidget& TransfersViewWorld::Uploads() const
{
    mp_view->ApplyTreeUpdates();
    return *mp_view->Form()->uploadsList;
}

void TransfersViewWorld::Load(const QString& i_dataFile)
{
    if (i_dataFile.isEmpty())
        mp_world->Peer().Load();
    else
        mp_world->Load(i_dataFile);
}

ItemPtr TransfersViewWorld::AddDownload(const std::string& i_user, const std::string& i_folder,
                                        const std::string& i_file, qint64 i_size, const std::string& i_status)
{
    ItemPtr l_entry = Manager().AddDownload(i_user, i_file, i_folder, i_size, 0);
    if (i_status != "queued")
        SetStatus(l_entry, i_status);
    return l_entry;
}

ItemPtr TransfersViewWorld::AddUpload(const std::string& i_user, const std::string& i_folder,
                                      const std::string& i_file, qint64 i_size, const std::string& i_status)
{
    ItemPtr l_entry = d.GetType("upload_entry")->NewItem();
    l_entry += d.GetType("upload_entry_status")->GetItem(i_status);
    l_entry += d.GetType("user")->GetItem(i_user);
    l_entry += TransfersTestWorld::ShareFile(i_folder, i_file, i_size);
    return l_entry;
}

void TransfersViewWorld::SetStatus(ItemPtr i_entry, const std::string& i_status)
{
    if (i_entry.IsConnected("download_entry_status"))
        Manager().SetDownloadEntryStatus(i_entry, i_status);
    else
        Manager().SetUploadEntryStatus(i_entry, i_status);
}

void TransfersViewWorld::Report(ItemPtr i_entry, qint64 i_position, int i_bytesPerSecond, bool i_refresh)
{
    const bool l_download = i_entry.IsConnected("download_entry_status");
    const char* lp_position = l_download ? "write_position" : "read_position";
    if (!TransferFigures::Of<TransferFigures::Position>(i_entry, lp_position)) {
        TransferFigures::Attach<TransferFigures::Position>(i_entry, lp_position, 0);
        TransferFigures::Attach<TransferFigures::Speed>(i_entry, "bytes_per_second", 0);
        TransferFigures::Attach<TransferFigures::Time>(i_entry, "last_receipt_time", QDateTime());
    }
    TransferFigures::RecordProgress(i_entry, lp_position, i_position, i_bytesPerSecond);
    if (l_download)
        emit Manager().DownloadProgressed(i_entry);
    else
        emit Manager().UploadProgressed(i_entry);
    if (i_refresh)
        mp_view->RefreshProgress();
}

QTreeWidgetItem* TransfersViewWorld::Row(ItemPtr i_entry) const
{
    const char* lp_node = i_entry.IsConnected("download_entry_status") || i_entry.IsConnected("file_name")
                              ? "download_list_node"
                              : "upload_list_node";
    mp_view->ApplyTreeUpdates();
    return i_entry[lp_node].AsObject<QTreeWidgetItem>();
}
