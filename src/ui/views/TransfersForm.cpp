#include "ui/views/TransfersForm.h"

#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferQueueManager.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/SizeManager.h"
#include "ui/social/UserMenuOptions.h"
#include "ui/views/CompleteDownloadsForm.h"
#include "ui/views/DownloadMenuOptions.h"
#include "ui/views/ProgressBarDelegate.h"
#include "ui/views/TransferProgressText.h"
#include "ui/views/TransferTreeSide.h"
#include "ui/widgets/ColumnWidths.h"
#include "ui_TransfersForm.h"

#include <QHeaderView>
#include <QMenu>

#include <initializer_list>
#include <optional>

namespace
{
constexpr char ClearDownloadsSetting[] = "clear_complete_downloads";
constexpr char ClearUploadsSetting[] = "clear_complete_aborted_uploads";
// How long a finished upload stays listed after its last activity.
constexpr qint64 UploadClearAfterMs = 300000;

void SetUpColumns(QTreeWidget* ip_tree, const QStringList& i_labels, std::initializer_list<int> i_widths)
{
    ip_tree->setHeaderLabels(i_labels);
    // Every row is one line: the tree need not measure each row again when
    // a figure in it changes.
    ip_tree->setUniformRowHeights(true);
    ip_tree->setItemDelegateForColumn(TransferColumns::Progress, new ProgressBarDelegate(ip_tree));
    int l_column = 0;
    for (int l_width : i_widths)
        ip_tree->setColumnWidth(l_column++, l_width);
    WidenColumnToShow(ip_tree, TransferColumns::Speed, TypicalText::Speed());
    WidenColumnToShow(ip_tree, TransferColumns::Size, TypicalText::Size());
    // Time left as the rows write it, for a transfer of some days.
    WidenColumnToShow(ip_tree, TransferColumns::TimeLeft, TransferProgressText::TimeLeft(99 * 3600 + 59 * 60 + 59, 1));
    if (ip_tree->columnCount() > TransferColumns::Place)
        WidenColumnToShow(ip_tree, TransferColumns::Place, TypicalText::Place());
    ip_tree->header()->setSectionsMovable(false);
}

// Calls the handler with the entry once it has every one of the types.
void WatchCompleteEntries(const char* ip_entryType, std::initializer_list<const char*> i_types,
                          EventHandlerBase<Item*>* ip_handler)
{
    auto* lp_root = new PathNode(&d, ip_entryType);
    for (const char* lp_type : i_types)
        new PathNode(lp_root, lp_type, Connected);
    d.AddPathEventHandler(lp_root, ip_handler);
}

void DeclareNodeTypes(const TransferKind& i_kind, const char* ip_folderKeyType)
{
    Type* lp_user = d.NewType(i_kind.mp_userNodeType, true, false, true);
    Type* lp_folder = d.NewType(i_kind.mp_folderNodeType, true, false, true);
    Type* lp_file = d.NewType(i_kind.mp_fileNodeType, true, false, true);
    lp_user->RelateToType(d.GetType("user"), One, One, false);
    lp_folder->RelateToType(lp_user, Many, One, false);
    lp_folder->RelateToType(d.GetType(ip_folderKeyType), Many, One, false);
    lp_folder->RelateToType(lp_file, One, Many, false);
    lp_file->RelateToType(d.GetType(i_kind.mp_entryType), One, One, false);
}

// A clearing switch: checked stores "yes", unchecked leaves no value.
void StoreSwitch(const char* ip_setting, int i_state)
{
    if (i_state == Qt::Checked)
        Settings::Set(ip_setting, "yes");
    else if (i_state == Qt::Unchecked)
        Settings::Clear(ip_setting);
}

// Milliseconds since the upload's last activity, the later of its last
// status change and its last receipt of data; none when neither can be
// read. The status change is timed on the manager's monotonic clock, or by
// its stored time when it did not change in this run.
std::optional<qint64> MsSinceLastActivity(ItemPtr i_upload, const QDateTime& i_now)
{
    std::optional<qint64> l_age;
    const qint64 l_sinceChange = transferQueueManager->MsSinceStatusChange(i_upload);
    if (l_sinceChange >= 0) {
        l_age = l_sinceChange;
    } else {
        const QDateTime l_changed =
            QDateTime::fromString(QString::fromLatin1(i_upload["last_status_change_time"].AsString()), Qt::TextDate);
        if (l_changed.isValid())
            l_age = l_changed.msecsTo(i_now);
    }
    const auto* lp_receipt = TransferFigures::Of<TransferFigures::Time>(i_upload, "last_receipt_time");
    if (lp_receipt && lp_receipt->isValid()) {
        const qint64 l_sinceReceipt = lp_receipt->msecsTo(i_now);
        if (!l_age || l_sinceReceipt < *l_age)
            l_age = l_sinceReceipt;
    }
    return l_age;
}
}  // namespace

TransfersForm::TransfersForm(QWidget* ip_parent) : QWidget(ip_parent), ui(new Ui::TransfersForm)
{
    ui->setupUi(this);
    mp_downloads.reset(new Side{TransferKind::Download, ui->downloadsList, &TransfersForm::m_expandDownloadUsers,
                                &TransfersForm::m_expandDownloadFolders, true, m_downloadTreeUpdates});
    mp_uploads.reset(new Side{TransferKind::Upload, ui->uploadsList, &TransfersForm::m_expandUploadUsers,
                              &TransfersForm::m_expandUploadFolders, false, m_uploadTreeUpdates});
    // The form's own signals, connected here rather than by name.
    connect(ui->downloadsList, &QWidget::customContextMenuRequested, this,
            &TransfersForm::OnDownloadsContextMenuRequested);
    connect(ui->uploadsList, &QWidget::customContextMenuRequested, this, &TransfersForm::OnUploadsContextMenuRequested);
    connect(ui->transfersTabControl, &QTabWidget::currentChanged, this, &TransfersForm::OnCurrentTabChanged);

    const QStringList l_labels{tr("User"), tr("Folder"), tr("File"), tr("Status"), tr("Progress"),
                               tr("   ETA"), tr("Kbs"), tr("Size")};
    SetUpColumns(ui->downloadsList, l_labels + QStringList{tr("Place")}, {100, 125, 125, 100, 140, 80, 40, 90, 40});
    SetUpColumns(ui->uploadsList, l_labels, {100, 125, 125, 100, 140, 80, 40, 90});
    ui->uploadsList->header()->setStretchLastSection(false);

    connect(ui->downloadsList, &QTreeWidget::itemDoubleClicked, this, &TransfersForm::OnDownloadListItemDoubleClicked);
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(RefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TransfersForm::RefreshProgress);
}

TransfersForm::~TransfersForm()
{
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.erase(this);
    delete ui;
}

void TransfersForm::Init()
{
    WatchCompleteEntries("download_entry", {"user", "file_name", "file_size", "remote_folder"},
                         MakeHandler(&TransfersForm::OnDownloadEntryAdded));
    DeclareNodeTypes(TransferKind::Download, "remote_folder");
    d.AddConnectionEventHandler(d.GetType("download_entry"), d.GetType("download_entry_status"),
                                MakeHandler(&TransfersForm::OnDownloadEntryStatusChange));
    d.AddConnectionEventHandler(d.GetType("upload_entry"), d.GetType("upload_entry_status"),
                                MakeHandler(&TransfersForm::OnUploadEntryStatusChange));
    connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, this, &TransfersForm::OnDownloadProgress);
    connect(transferQueueManager, &TransferQueueManager::UploadProgressed, this, &TransfersForm::OnUploadProgress);

    WatchCompleteEntries("upload_entry", {"user", "shared_file"}, MakeHandler(&TransfersForm::OnUploadEntryAdded));
    DeclareNodeTypes(TransferKind::Upload, "shared_file_folder");

    m_transfersLoaded = false;
    connect(transferQueueManager, &TransferQueueManager::TransfersLoaded, this, &TransfersForm::OnTransfersLoaded);

    d.GetType("download_entry")->ItemRemovedEvent.m_handlerSet.insert(
        MakeHandler(&TransfersForm::OnDownloadEntryRemoved));
    d.GetType("upload_entry")->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&TransfersForm::OnUploadEntryRemoved));

    DeclareActions();

    auto* lp_online = new PathNode(&d, "user");
    new PathNode(lp_online, "is_online", NewlyConnected);
    d.AddPathEventHandler(lp_online, MakeHandler(&TransfersForm::OnUserOnline));
    auto* lp_offline = new PathNode(&d, "user");
    new PathNode(lp_offline, "is_online", NewlyDisconnected);
    d.AddPathEventHandler(lp_offline, MakeHandler(&TransfersForm::OnUserOffline));
    WatchCompleteEntries("download_entry", {"place_in_line"}, MakeHandler(&TransfersForm::OnDownloadPlaceInLine));

    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.insert(this);

    for (QTreeWidget* lp_tree : {ui->downloadsList, ui->uploadsList}) {
        connect(lp_tree, &QTreeWidget::itemExpanded, this, &TransfersForm::OnItemExpanded);
        connect(lp_tree, &QTreeWidget::itemCollapsed, this, &TransfersForm::OnItemCollapsed);
    }
    // The downloads' set is on the action bar from the start.
    ui->downloadsList->setFocus(Qt::OtherFocusReason);
    if (timerManager)
        connect(&timerManager->m_everyHalfMinute, &QTimer::timeout, this, &TransfersForm::EveryHalfMinute);
    // Queued, so that clearing a finished download never runs inside the
    // store notification that announced it.
    connect(this, &TransfersForm::DownloadComplete, this, &TransfersForm::OnDownloadComplete, Qt::QueuedConnection);
}

void TransfersForm::DeclareActions()
{
    const std::string l_icon = ":/icons/transfer_icon";
    actionBar->AddSetAction("downloads", "expand_download_folders", "Expand Folders", l_icon, false);
    actionBar->AddSetAction("downloads", "expand_download_users", "Expand Users", l_icon, false);
    actionBar->AddSetAction("downloads", "complete_downloads", "Complete Downloads", l_icon, false);
    actionBar->RegisterWidget(ui->downloadsList, QStringLiteral("downloads"));
    actionBar->SetWidgetActionText(ui->downloadsList, QStringLiteral("expand_download_folders"),
                                   tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(ui->downloadsList, QStringLiteral("expand_download_users"), tr("Expand Users [on]"));

    actionBar->AddSetAction("uploads", "expand_upload_folders", "Expand Folders", l_icon, false);
    actionBar->AddSetAction("uploads", "expand_upload_users", "Expand Users", l_icon, false);
    actionBar->RegisterWidget(ui->uploadsList, QStringLiteral("uploads"));
    actionBar->SetWidgetActionText(ui->uploadsList, QStringLiteral("expand_upload_folders"), tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(ui->uploadsList, QStringLiteral("expand_upload_users"), tr("Expand Users [on]"));

    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &TransfersForm::OnActionBarTriggered);
}

void TransfersForm::DataLoaded()
{
    ui->uploadLimitSpinBox->setValue(static_cast<int>(Settings::GetUInt("upload_speed_limit")));
    ui->uploadSlotsSpinBox->setValue(static_cast<int>(Settings::GetUInt("upload_slots")));
    ui->uploadLimitCheckBox->setChecked(Settings::IsYes("upload_speed_limit_enabled"));
    ui->clearDownloadsCheckBox->setChecked(Settings::IsYes(ClearDownloadsSetting));
    ui->clearUploadsCheckBox->setChecked(Settings::IsYes(ClearUploadsSetting));
    // Only now: filling the widgets must store nothing.
    ConnectSettingsWidgets();
    if (sizeManager) {
        sizeManager->RegisterTreeWidget(QStringLiteral("download_list"), ui->downloadsList);
        sizeManager->RegisterTreeWidget(QStringLiteral("upload_list"), ui->uploadsList);
    }
}

void TransfersForm::ConnectSettingsWidgets()
{
    connect(ui->uploadLimitSpinBox, &QSpinBox::valueChanged, this, &TransfersForm::OnUploadSpeedLimitSpinValueChanged);
    connect(ui->uploadLimitCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnUploadSpeedLimitCheckStateChanged);
    connect(ui->clearDownloadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearDownloadsCheckStateChanged);
    connect(ui->clearUploadsCheckBox, &QCheckBox::stateChanged, this, &TransfersForm::OnClearUploadsCheckStateChanged);
    connect(ui->uploadSlotsSpinBox, &QSpinBox::valueChanged, this, &TransfersForm::OnUploadSlotsSpinValueChanged);
}

void TransfersForm::OnUploadSlotsSpinValueChanged(int i_value)
{
    transferQueueManager->SetUploadSlots(i_value);
}

void TransfersForm::OnUploadSpeedLimitSpinValueChanged(int i_value)
{
    // The box follows the value first, so that a limit of 0 is switched off
    // before it is stored, and a new limit switched on.
    ui->uploadLimitCheckBox->setChecked(i_value != 0);
    transferQueueManager->SetUploadSpeedLimit(i_value);
}

void TransfersForm::OnUploadSpeedLimitCheckStateChanged(int i_state)
{
    if (i_state == Qt::Checked)
        transferQueueManager->EnableUploadSpeedLimit(true);
    else if (i_state == Qt::Unchecked)
        transferQueueManager->EnableUploadSpeedLimit(false);
}

void TransfersForm::OnClearDownloadsCheckStateChanged(int i_state)
{
    StoreSwitch(ClearDownloadsSetting, i_state);
}

void TransfersForm::OnClearUploadsCheckStateChanged(int i_state)
{
    StoreSwitch(ClearUploadsSetting, i_state);
}

void TransfersForm::OnCurrentTabChanged(int) {}

// Uploads that are not waiting in the queue go five minutes after their
// last activity, while the switch is on.
void TransfersForm::EveryHalfMinute()
{
    const QDateTime l_now = QDateTime::currentDateTime();
    if (!Settings::IsYes(ClearUploadsSetting))
        return;
    const ItemSet l_uploads = d.GetType("upload_entry")->GetItems();
    for (Item* lp_upload : l_uploads) {
        const ItemPtr l_upload(lp_upload);
        if (l_upload["upload_entry_status"].AsString() == "queued")
            continue;
        const std::optional<qint64> l_age = MsSinceLastActivity(l_upload, l_now);
        if (l_age && *l_age >= UploadClearAfterMs)
            transferQueueManager->RemoveUpload(l_upload);
    }
}

void TransfersForm::OnTransfersLoaded()
{
    m_transfersLoaded = true;
    for (const ItemPtr& l_download : d.GetType("download_entry")->GetItems().SortNumericBy("download_order", true))
        OnDownloadEntryAdded(l_download);
}

void TransfersForm::OnActionBarTriggered(std::string i_action)
{
    if (i_action == "expand_download_folders")
        ToggleExpansion(*mp_downloads, m_expandDownloadFolders, false);
    else if (i_action == "expand_download_users")
        ToggleExpansion(*mp_downloads, m_expandDownloadUsers, true);
    else if (i_action == "expand_upload_folders")
        ToggleExpansion(*mp_uploads, m_expandUploadFolders, false);
    else if (i_action == "expand_upload_users")
        ToggleExpansion(*mp_uploads, m_expandUploadUsers, true);
    else if (i_action == "complete_downloads")
        OpenCompleteDownloads();
    else if (i_action == "remove_download")
        RemoveSelectedDownloads();
    else if (i_action == "dl_add_user")
        AddSelectedUsersToList();
}

void TransfersForm::ToggleExpansion(const Side& i_side, bool& io_flag, bool i_users)
{
    // Rows made before the command are in the tree as they were made, and
    // change with the others.
    i_side.m_updates.Apply();
    io_flag = !io_flag;
    const bool l_downloads = i_side.m_isDownloads;
    const QString l_id = QString::fromLatin1(l_downloads ? (i_users ? "expand_download_users" : "expand_download_folders")
                                                         : (i_users ? "expand_upload_users" : "expand_upload_folders"));
    const QString l_text = i_users ? tr("Expand Users [%1]") : tr("Expand Folders [%1]");
    actionBar->SetWidgetActionText(i_side.mp_tree, l_id, l_text.arg(io_flag ? tr("on") : tr("off")));
    QTreeWidget* lp_tree = i_side.mp_tree;
    for (int l_user = 0; l_user < lp_tree->topLevelItemCount(); ++l_user) {
        QTreeWidgetItem* lp_userRow = lp_tree->topLevelItem(l_user);
        if (i_users) {
            lp_userRow->setExpanded(io_flag);
            continue;
        }
        for (int l_folder = 0; l_folder < lp_userRow->childCount(); ++l_folder)
            lp_userRow->child(l_folder)->setExpanded(io_flag);
    }
}

// The page is built once; asking again leaves the current tab as it is.
void TransfersForm::OpenCompleteDownloads()
{
    if (completeDownloadsForm)
        return;
    auto* lp_form = new CompleteDownloadsForm(this);
    ui->transfersTabControl->addTab(lp_form, tr("Complete"));
    lp_form->Init();
}

// A command no button sends: the downloads of the first selected row go.
void TransfersForm::RemoveSelectedDownloads()
{
    const QList<QTreeWidgetItem*> l_selected = ui->downloadsList->selectedItems();
    if (l_selected.isEmpty())
        return;
    for (Item* lp_download : GetNodeDownloadEntryItems(l_selected.first()))
        transferQueueManager->RemoveDownload(lp_download);
    m_downloadTreeUpdates.Hurry();
}

// A command no button sends: every selected row's user joins the list.
void TransfersForm::AddSelectedUsersToList()
{
    for (QTreeWidgetItem* lp_row : ui->downloadsList->selectedItems()) {
        const ItemPtr l_user = mp_downloads->NodeOf(GetDownloadNodeUserNode(lp_row))["user"];
        if (!l_user.IsNull())
            l_user.NewItem("in_user_list");
    }
}

void TransfersForm::OnDownloadsContextMenuRequested(QPoint i_point)
{
    // A row whose entry went may still show until its tree lets it go; it
    // has no entries and no user to act on.
    QTreeWidgetItem* lp_row = ui->downloadsList->itemAt(i_point);
    if (mp_downloads->NodeOf(lp_row).IsNull())
        return;
    QMenu l_menu;
    DownloadMenuOptions l_downloadOptions(&l_menu, GetNodeDownloadEntryItems(lp_row), nullptr);
    const std::string l_user = mp_downloads->NodeOf(GetDownloadNodeUserNode(lp_row))["user"].AsString();
    UserMenuOptions l_userOptions(&l_menu, l_user, nullptr);
    l_menu.exec(ui->downloadsList->viewport()->mapToGlobal(i_point));
    // What the menu removed goes at once, flood or not.
    m_downloadTreeUpdates.Hurry();
}

// The uploads' menu is the user's alone.
void TransfersForm::OnUploadsContextMenuRequested(QPoint i_point)
{
    QTreeWidgetItem* lp_row = GetUploadNodeUserNode(ui->uploadsList->itemAt(i_point));
    if (!lp_row)
        return;
    RunUserMenu(ui->uploadsList, i_point, mp_uploads->NodeOf(lp_row)["user"].AsString());
    m_uploadTreeUpdates.Hurry();
}
