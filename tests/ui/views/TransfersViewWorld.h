#pragma once

// The Transfers page in a test: the transfer manager's test world, the two
// tool bars' stand-ins the page needs (action bar, remembered sizes) and
// the page itself, set up in the program's order (Init before the data file
// loads). Entries are made as the manager makes them; progress is reported
// as the manager reports it.

#include "TransfersTestWorld.h"
#include "ViewRows.h"

#include "ui/views/TransfersForm.h"

#include <QStringList>

#include <memory>
#include <string>

class ActionSetToolBar;
class QTreeWidget;
class QTreeWidgetItem;
class SizeManager;

class TransfersViewWorld
{
public:
    // i_load false leaves the data-loaded step to the test (Load).
    explicit TransfersViewWorld(bool i_load = true);
    ~TransfersViewWorld();
    TransfersViewWorld(const TransfersViewWorld&) = delete;
    TransfersViewWorld& operator=(const TransfersViewWorld&) = delete;

    TransfersTestWorld& World() { return *mp_world; }
    TransferQueueManager& Manager() { return mp_world->Manager(); }
    TransfersForm& View() { return *mp_view; }
    Ui::TransfersForm* Form() const { return mp_view->Form(); }
    // The trees, and the row of an entry below, as the page's next refresh
    // leaves them: rows that join or leave their tree have done so.
    QTreeWidget& Downloads() const;
    QTreeWidget& Uploads() const;
    // Reads the data file (or finds none): every data-loaded step runs.
    void Load(const QString& i_dataFile = QString());

    // A download queued through the manager, then given the status.
    ItemPtr AddDownload(const std::string& i_user, const std::string& i_folder, const std::string& i_file,
                        qint64 i_size, const std::string& i_status = "queued");
    // An upload of a shared file in a local folder, with its status from
    // before its row exists.
    static ItemPtr AddUpload(const std::string& i_user, const std::string& i_folder, const std::string& i_file,
                             qint64 i_size, const std::string& i_status = "queued");
    // The manager's doing: a status change.
    void SetStatus(ItemPtr i_entry, const std::string& i_status);
    // A progress report as the manager makes it: the running entry's
    // figures move, then the manager's signal goes out; the page's next
    // refresh follows at once unless i_refresh is false.
    void Report(ItemPtr i_entry, qint64 i_position, int i_bytesPerSecond, bool i_refresh = true);

    // The row of an entry.
    QTreeWidgetItem* Row(ItemPtr i_entry) const;

private:
    std::unique_ptr<TransfersTestWorld> mp_world;
    std::unique_ptr<ActionSetToolBar> mp_bar;
    std::unique_ptr<SizeManager> mp_sizes;
    std::unique_ptr<TransfersForm> mp_view;
};
