#include "ui/main/MainWindow.h"

#include "core/log/Log.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/platform/Paths.h"
#include "core/runtime/DelayedInvoker.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "core/store/PathNode.h"
#include "core/util/GeneralFunctions.h"
#include "dnet/DNetManager.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "server/WishListSearcher.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/TransferQueueManager.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/ChangeUsernamePasswordDialog.h"
#include "ui/frame/DataDialog.h"
#include "ui/frame/EventToolBar.h"
#include "ui/frame/FrameResources.h"
#include "ui/frame/SizeManager.h"
#include "ui/main/PageFocus.h"
#include "ui/social/SocialPages.h"
#include "ui/social/UserListForm.h"
#include "ui/views/SearchForm.h"
#include "ui/views/TransfersForm.h"
#include "ui/widgets/DiagnosticsForm.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QMessageBox>
#include <QMoveEvent>
#include <QResizeEvent>

MainWindow* mainWindow = nullptr;

namespace {

QByteArray DataFileName()
{
    return QFile::encodeName(DataFilePath());
}

// Calls the window's handler whenever the setting gets a value.
void WatchSetting(const char* ip_setting, EventHandlerBase<Item*>* ip_handler)
{
    Item* lp_setting = d.GetType("global")->GetItem(ip_setting).Get();
    auto* lp_root = new PathNode(lp_setting);
    new PathNode(lp_root, "global_value", Connected);
    d.AddPathEventHandler(lp_root, ip_handler);
}

}  // namespace

MainWindow::MainWindow(QWidget* ip_parent) : QMainWindow(ip_parent), ui(new Ui::MainWindow)
{
    mainWindow = this;
    gp_frameWindow = this;
    InitFrameResources();
    ui->setupUi(this);
    mp_social = new SocialPages(ui->roomsTabControl, ui->chatTabControl, this);
    mp_pageFocus = std::make_unique<PageFocus>(ui->tabControl, ui->mainToolBar);
    ConnectFormSignals();
    SetApplicationIcon(QStringLiteral(":/icons/offline_icon"));

    ui->roomList->setColumnWidth(0, 150);
    ui->roomList->setColumnWidth(1, 30);
    ui->roomSplitter->setStretchFactor(0, 1);
    ui->roomSplitter->setStretchFactor(1, 0);
    ui->roomList->setHeaderLabels({tr("Room Name"), tr("Users")});
    // One line a row: the view then places rows without measuring each, so
    // a refresh that changes thousands of counts stays quick.
    ui->roomList->setUniformRowHeights(true);

    ui->sharedFoldersList->setColumnWidth(0, 400);
    ui->sharedFoldersList->setHeaderLabels({tr("Shared folder"), tr("Accessible to")});
}

// The form's own wiring, made before the current pages are chosen so that
// choosing them already reaches the window.
void MainWindow::ConnectFormSignals()
{
    connect(ui->roomList, &QTreeWidget::itemSelectionChanged, this, &MainWindow::OnRoomListItemSelectionChanged);
    connect(ui->roomsTabControl, &QTabWidget::tabCloseRequested, this, &MainWindow::OnRoomTabClosed);
    connect(ui->chatTabControl, &QTabWidget::tabCloseRequested, mp_social, &SocialPages::OnChatTabClosed);
    connect(ui->optionsTabControl, &QTabWidget::currentChanged, this, &MainWindow::OnOptionsTabSelectionChanged);
    connect(ui->uPnPCheckBox, &QCheckBox::toggled, this, &MainWindow::OnUPnPCheckboxToggled);
    connect(ui->tabControl, &QTabWidget::currentChanged, this, &MainWindow::OnMainWindowTabChanged);
    connect(ui->minimizeToTrayCheckBox, &QCheckBox::toggled, this, &MainWindow::OnMinimizeToTrayCheckboxToggled);
    connect(ui->autoExpandSharesCheckBox, &QCheckBox::toggled, this, &MainWindow::OnExpandNewSharesCheckboxToggled);
    ui->tabControl->setCurrentIndex(1);
    ui->roomsTabControl->setCurrentIndex(-1);
    ui->optionsTabControl->setCurrentIndex(0);
}

MainWindow::~MainWindow()
{
    g_showIsOver = true;
    // Hiding the window while its bases go moves the focus; this window is
    // no MainWindow by then.
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(ui->tabControl, nullptr, this, nullptr);
    // A window that was never initialised owns no service.
    if (!mp_server) {
        delete ui;
        LetGoOfFrame();
        return;
    }
    mp_server->Disconnect();
    d.RemoveDisconnectedItems();
    // The last save waits for a background save in flight, then writes the
    // store as it is now.
    dataSaver->Save(DataFileName().constData());
    delete transferQueueManager;
    m_trayIcon.hide();
    delete sharedFoldersManager;
    delete delayedInvoker;
    delete dnetManager;
    delete peerMessenger;
    delete mp_server;
    delete dataSaver;
    delete timerManager;
    delete ui;
    delete sizeManager;
    LetGoOfFrame();
}

void MainWindow::LetGoOfFrame()
{
    if (gp_frameWindow == this)
        gp_frameWindow = nullptr;
}

void MainWindow::Init()
{
    mp_dataDialog = nullptr;
    new TimerManager;
    new DataSaver;

    mp_server = new Server;
    mp_server->CreateData();
    qRegisterMetaType<ItemPtr>("ItemPtr");

    connect(mp_server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(mp_server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(mp_server, &Server::Disconnected, this, &MainWindow::OnDisconnected);
    connect(ui->action_Connect, &QAction::triggered, this, &MainWindow::OnConnectMenuOptionClicked);
    connect(ui->action_Disconnect, &QAction::triggered, this, &MainWindow::OnDisconnectMenuOptionClicked);
    connect(ui->action_Data, &QAction::triggered, this, &MainWindow::OnShowData);
    connect(ui->roomList, &QTreeWidget::itemDoubleClicked, this, &MainWindow::OnRoomListItemDoubleClicked);

    d.AddConnectionEventHandler(d.GetType("room"), d.GetType("user_count"),
                                MakeHandler(&MainWindow::OnRoomUserCountAdded));
    ui->roomList->sortByColumn(0, Qt::AscendingOrder);
    mp_social->WatchRooms();

    ui->mainToolBar->Init();
    DeclareActions();

    connect(ui->mainToolBar, &ActionSetToolBar::ActionTriggered, this, &MainWindow::OnToolBarActionTriggered);
    connect(qApp, &QApplication::focusChanged, this, &MainWindow::OnFocusChanged);
    connect(ui->roomsTabControl, &QTabWidget::currentChanged, this, &MainWindow::OnRoomTabChanged);
    connect(ui->optionsTabControl, &QTabWidget::currentChanged, this, &MainWindow::OnOptionsTabChanged);

    new PeerMessenger;
    DeclareTypes();
    new DelayedInvoker(nullptr);
    new DNetManager;
    new SharedFoldersManager(this);

    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon.setIcon(QIcon(QStringLiteral(":/icons/offline_icon")));
    connect(gp_server, &Server::PrivateChat, mp_social, &SocialPages::OnPrivateChat);

    Type* lp_sharedFolder = d.GetType("shared_folder");
    lp_sharedFolder->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&MainWindow::OnSharedFolderAdded));
    lp_sharedFolder->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&MainWindow::OnSharedFolderRemoved));
    lp_sharedFolder->ItemsConnectedEvent.m_handlerSet.insert(MakeHandler(&MainWindow::OnSharedFolderChange));
    lp_sharedFolder->ItemsDisconnectedEvent.m_handlerSet.insert(MakeHandler(&MainWindow::OnSharedFolderChange));

    new SizeManager(nullptr);
    ui->diagnosticsForm->Init();
    new TransferQueueManager;
    ui->transfersForm->Init();
    ui->searchForm->Init();
    ui->sharesForm->Init();

    new WishListSearcher(this);
    auto* lp_eventBar = new EventToolBar(nullptr);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, lp_eventBar);

    WatchSetting("username", MakeHandler(&MainWindow::OnUsernameChanged));
    connect(gp_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed);

    Settings::Set("minimize_to_tray", "yes");
    Settings::Set("expand_new_shares", "yes");

    LoadDataFile();
    if (Settings::Get("username").empty())
        AskForLogin();
    if (!Settings::Get("username").empty())
        mp_server->Connect();

    FillOptions();
    WatchSetting("new_listening_port", MakeHandler(&MainWindow::OnNewListeningPortChanged));

    sizeManager->RegisterResizableWindow(QStringLiteral("main_window"), &m_sizeProxy);
    QList<int> l_sizes = ui->roomSplitter->sizes();
    if (l_sizes.size() >= 2) {
        l_sizes[0] = width() - 220;
        l_sizes[1] = 220;
        ui->roomSplitter->setSizes(l_sizes);
    }
    sizeManager->RegisterSplitter(QStringLiteral("room_list_splitter"), ui->roomSplitter, {});
    sizeManager->RegisterTreeWidget(QStringLiteral("room_list"), ui->roomList);
    ui->userListForm->Init();

    connect(&timerManager->m_everyHalfMinute, &QTimer::timeout, this, &MainWindow::EveryHalfMinute);
    connect(&timerManager->m_everyFiveMinutes, &QTimer::timeout, this, &MainWindow::EveryFiveMinutes);
    // Not restarted by further changes: under a steady stream of them the
    // list is still saved every few seconds, not only at the next tick.
    m_downloadListSave.setSingleShot(true);
    m_downloadListSave.setInterval(SaveAfterDownloadListChangeMs);
    connect(&m_downloadListSave, &QTimer::timeout, this, &MainWindow::SaveInBackground);
    connect(transferQueueManager, &TransferQueueManager::DownloadListChanged, this, [this] {
        if (!m_downloadListSave.isActive())
            m_downloadListSave.start();
    });
    connect(&m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayIconActivated);
    // The start page was chosen before any widget had commands on the bar.
    mp_pageFocus->FocusPage(ui->tabControl->currentIndex());
    activateWindow();

    sharedFoldersManager->Init();
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
            &MainWindow::OnSharedFilesRescanned);

    QMenu* lp_debug = menuBar()->addMenu(tr("Debug"));
    lp_debug->addAction(tr("Data"), this, &MainWindow::OnShowData);
}

void MainWindow::DeclareTypes()
{
    Settings::DeclareTypes();

    Type* lp_wish = d.NewType("wish_list_item", true, false, true);
    Type* lp_enabled = d.NewType("wish_list_item_enabled", false, true, true);
    lp_wish->RelateToType(lp_enabled, Many, One, false);
    dataSaver->AddSavedType("wish_list_item");
    dataSaver->AddSavedType("wish_list_item_enabled");

    d.NewType("user_chat_widget", true, false, true)->RelateToType(d.GetType("user"), One, One, false);
    d.NewType("room_form", true, false, true)->RelateToType(d.GetType("room"), One, One, false);
}

// A file that cannot be read whole leaves the store as it was and the start
// goes on as without a file; the next save moves the damaged file aside.
void MainWindow::LoadDataFile()
{
    try {
        dataSaver->Load(DataFileName().constData());
    } catch (const DataLoadFailure& i_failure) {
        Log("main", 1, QString("The data file could not be loaded: %1").arg(QString::fromStdString(i_failure.m_reason)));
        QMessageBox::information(this, tr("Error loading configuration data"),
                                 tr("Your client configuration data could not be loaded. Starting from scratch..."));
    }
}

void MainWindow::AskForLogin()
{
    ChangeUsernamePasswordDialog l_dialog(true, nullptr);
    l_dialog.exec();
}

void MainWindow::SetApplicationIcon(const QString& i_icon)
{
    const QIcon l_icon(i_icon);
    QApplication::setWindowIcon(l_icon);
    setWindowIcon(l_icon);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon.setIcon(l_icon);
}

void MainWindow::ResetApplicationIcon()
{
    const bool l_online = gp_server && gp_server->IsConnected();
    SetApplicationIcon(l_online ? QStringLiteral(":/icons/online_icon") : QStringLiteral(":/icons/offline_icon"));
}

void MainWindow::OnShowData()
{
    if (!mp_dataDialog)
        mp_dataDialog = new DataDialog(&d, this);
    mp_dataDialog->show();
    mp_dataDialog->raise();
}

DataDialog* MainWindow::GetDataDialog() const
{
    return mp_dataDialog;
}

void MainWindow::OnChangeUsernamePasswordClicked()
{
    (new ChangeUsernamePasswordDialog(false, this))->show();
}

void MainWindow::OnRoomListItemSelectionChanged() {}
void MainWindow::OnFocusChanged(QWidget*, QWidget* ip_new)
{
    mp_pageFocus->Remember(ip_new);
}

void MainWindow::OnOptionsTabChanged(int) {}
void MainWindow::EveryHalfMinute() {}

void MainWindow::OnRoomTabChanged(int i_index)
{
    if (i_index != -1 && ui->roomsTabControl->currentWidget()) {
        ui->roomsTabControl->currentWidget()->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The last room went, and the focus with its form: while the Rooms page
    // shows, the page chooses anew (the room list) once the form is gone,
    // or the bar stays empty and typing goes nowhere.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (ui->roomsTabControl->count() == 0 && ui->tabControl->currentWidget() == ui->roomsTab)
                mp_pageFocus->FocusPage(ui->tabControl->currentIndex());
        },
        Qt::QueuedConnection);
}

// The Options page stands for the options page chosen in it; every other
// page gets back its own focus.
void MainWindow::OnMainWindowTabChanged(int i_tab)
{
    if (i_tab == -1)
        return;
    if (ui->tabControl->widget(i_tab) != ui->optionsTab) {
        mp_pageFocus->FocusPage(i_tab);
        return;
    }
    if (QWidget* lp_page = ui->optionsTabControl->currentWidget())
        lp_page->setFocus(Qt::OtherFocusReason);
}

// Collects what nothing reaches any more, then saves.
void MainWindow::EveryFiveMinutes()
{
    d.RemoveDisconnectedItems();
    SaveInBackground();
}

// In the background, so the window does not stall for the whole save of a
// large store. A change waiting for its save is in this one. The soon save
// after a change of the download list leaves the collection, a pass over
// the whole store on this thread, to the five-minute tick: while downloads
// keep finishing it would run every few seconds.
void MainWindow::SaveInBackground()
{
    m_downloadListSave.stop();
    dataSaver->SaveInBackground(DataFileName().constData());
}

void MainWindow::moveEvent(QMoveEvent* ip_event)
{
    QMainWindow::moveEvent(ip_event);
    // The position as the proxy reads and sets it, without the frame: the
    // event's own position includes the frame on some platforms, and storing
    // that would move the window by the frame at every start.
    if (!isMaximized())
        emit m_sizeProxy.WindowMoved(geometry().x(), geometry().y());
}

void MainWindow::resizeEvent(QResizeEvent* ip_event)
{
    QMainWindow::resizeEvent(ip_event);
    if (!isMaximized())
        emit m_sizeProxy.WindowResized(ip_event->size().width(), ip_event->size().height());
}

int MainWindow::SizeProxy::GetX()
{
    return mainWindow->geometry().x();
}

int MainWindow::SizeProxy::GetY()
{
    return mainWindow->geometry().y();
}

int MainWindow::SizeProxy::GetWidth()
{
    return mainWindow->geometry().width();
}

int MainWindow::SizeProxy::GetHeight()
{
    return mainWindow->geometry().height();
}

void MainWindow::SizeProxy::SetPosition(int i_x, int i_y)
{
    const QRect l_geometry = mainWindow->geometry();
    mainWindow->setGeometry(i_x, i_y, l_geometry.width(), l_geometry.height());
}

void MainWindow::SizeProxy::SetSize(int i_width, int i_height)
{
    const QRect l_geometry = mainWindow->geometry();
    mainWindow->setGeometry(l_geometry.x(), l_geometry.y(), i_width, i_height);
}
