#pragma once

#include "core/store/Events.h"
#include "ui/frame/FrameWindow.h"
#include "ui/frame/ResizableWindow.h"

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>

class DataDialog;
class Item;
class PageFocus;
class QTreeWidgetItem;
class Server;
class SocialPages;

namespace Ui {
class MainWindow;
}

// The application's top-level window and the owner of the client's start-up
// and shut-down. The constructor only builds the form; Init creates every
// service in a fixed order, loads the data file, asks for a login on the
// first start, connects and runs the first rescan; the destructor
// disconnects, saves and deletes the services in the reverse of their
// dependencies.
class MainWindow : public QMainWindow, public DataHandler, public FrameWindow
{
    Q_OBJECT

public:
    // A changed download list is saved this long after the change, so that
    // a crash loses at most that much of it; changes meanwhile share the
    // save.
    static constexpr int SaveAfterDownloadListChangeMs = 5000;

    // The window's geometry (without its frame) for the size service.
    class SizeProxy : public ResizableWindow
    {
    public:
        int GetX() override;
        int GetY() override;
        int GetWidth() override;
        int GetHeight() override;
        void SetPosition(int i_x, int i_y) override;
        void SetSize(int i_width, int i_height) override;
    };

    // Makes this window `mainWindow` and `gp_frameWindow` before anything
    // else is built.
    explicit MainWindow(QWidget* ip_parent = nullptr);
    // Sets `g_showIsOver` first, so the tool bars stop reacting while the
    // window's children go.
    ~MainWindow() override;

    // Called once, after show().
    void Init();

    // The frame's view of the window.
    QWidget* Widget() override { return this; }
    bool IsActive() const override { return isActiveWindow(); }
    void SetApplicationIcon(const QString& i_icon) override;
    void ResetApplicationIcon() override;

    SizeProxy& GetSizeProxy() { return m_sizeProxy; }
    Ui::MainWindow* Form() const { return ui; }
    QSystemTrayIcon& TrayIcon() { return m_trayIcon; }
    DataDialog* GetDataDialog() const;

    // Store subscriptions (public: the store calls them through handlers).
    void OnRoomUserCountAdded(ConnectionInfo& i_info);
    void OnSharedFolderAdded(Item* ip_item);
    void OnSharedFolderRemoved(Item* ip_item);
    void OnSharedFolderChange(ConnectionInfo i_connectionInfo);
    void OnUsernameChanged(Item* ip_item);
    void OnNewListeningPortChanged(Item* ip_item);

    // Who may see a shared folder, as the Options tab shows it.
    static QString AccessText(Item* ip_folder);

public slots:
    void OnConnected();
    void OnConnecting();
    void OnDisconnected();
    void OnConnectMenuOptionClicked();
    void OnDisconnectMenuOptionClicked();
    void OnShowData();
    void OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnToolBarActionTriggered(std::string i_action);
    void OnRoomListItemSelectionChanged();
    void OnFocusChanged(QWidget* ip_old, QWidget* ip_new);
    void OnRoomTabChanged(int i_index);
    void OnOptionsTabChanged(int i_index);
    void OnChangeUsernamePasswordClicked();
    void OnConnectionFailed(std::string i_reason);
    void OnRoomTabClosed(int i_index);
    void OnSharedFilesRescanned(int i_filesAdded, int i_filesRemoved);
    void OnOptionsTabSelectionChanged(int i_tabIndex);
    void OnUPnPCheckboxToggled(bool i_toggled);
    void OnMinimizeToTrayCheckboxToggled(bool i_toggled);
    void OnExpandNewSharesCheckboxToggled(bool i_toggled);
    void OnMainWindowTabChanged(int i_tab);
    void EveryHalfMinute();
    void EveryFiveMinutes();
    void OnTrayIconActivated(QSystemTrayIcon::ActivationReason i_reason);

protected:
    // Report the user's moves and resizes to the size service, except while
    // maximised: the normal geometry is the one worth remembering.
    void moveEvent(QMoveEvent* ip_event) override;
    void resizeEvent(QResizeEvent* ip_event) override;
    // Minimising goes to the tray while "minimize_to_tray" is on and a
    // visible tray icon can bring the window back.
    void changeEvent(QEvent* ip_event) override;
    // No menu of tool bars: unticking one in Qt's menu hid the commands with
    // no way back.
    QMenu* createPopupMenu() override { return nullptr; }

private:
    void ConnectFormSignals();
    void DeclareActions();
    void DeclareTypes();
    // Reads the data file; one that cannot be read is reported and the
    // start goes on as without one.
    void LoadDataFile();
    void FillOptions();
    void SetConnectionEntries(bool i_connectEnabled);
    void UnshareSelectedFolders();
    void ChooseDownloadFolder();
    void ToggleRoomAutojoin(const std::string& i_room);
    void AskForLogin();
    // The frame no longer reaches this window.
    void LetGoOfFrame();
    // Saves in the background.
    void SaveInBackground();

    Ui::MainWindow* ui = nullptr;
    // The room list's rows by room name (the store's bytes), so that a
    // listed room is found without searching every row.
    std::unordered_map<std::string, QTreeWidgetItem*> m_roomRows;
    // The item-store browser while one is open; it deletes itself when
    // closed, which clears this pointer.
    QPointer<DataDialog> mp_dataDialog;
    Server* mp_server = nullptr;
    SizeProxy m_sizeProxy;
    QSystemTrayIcon m_trayIcon;
    // The room and chat tabs (a child of the window).
    SocialPages* mp_social = nullptr;
    // Runs while a change of the download list waits for its save.
    QTimer m_downloadListSave;
    // Gives the focus into the main page chosen, so the bar shows its commands.
    std::unique_ptr<PageFocus> mp_pageFocus;
};

extern MainWindow* mainWindow;
