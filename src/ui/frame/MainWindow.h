#pragma once

#include "ui/frame/ResizableWindow.h"

#include <QMainWindow>
#include <QPointer>

class DataDialog;
class DelayedInvoker;
class DiagnosticsForm;
class QMoveEvent;
class QResizeEvent;
class TimerManager;

// The application's top-level window. For now a frame around the
// Diagnostics page: Init starts the core services that exist so far (the
// application timers and the deferred-call service). What the tool bars,
// the remembered sizes and the store browser need of the window is here:
// the global pointer, the shut-down flag, the application icon and the
// window's geometry as a ResizableWindow.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
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

    // Makes this window `mainWindow` before anything else is built.
    explicit MainWindow(QWidget* ip_parent = nullptr);
    // Sets `g_showIsOver` first, so the tool bars stop reacting while the
    // window's children go.
    ~MainWindow() override;

    void Init();

    // The icon of the application and of this window.
    void SetApplicationIcon(const QString& i_icon);
    // The online or the offline icon, after the server link's state.
    void ResetApplicationIcon();

    SizeProxy& GetSizeProxy() { return m_sizeProxy; }

protected:
    // Report the user's moves and resizes to the size service, except while
    // maximised: the normal geometry is the one worth remembering.
    void moveEvent(QMoveEvent* ip_event) override;
    void resizeEvent(QResizeEvent* ip_event) override;

private:
    DiagnosticsForm* mp_diagnostics = nullptr;
    TimerManager* mp_timerManager = nullptr;
    DelayedInvoker* mp_delayedInvoker = nullptr;
    // The item-store browser while one is open; it is a child of the window
    // and deletes itself when closed, which clears this pointer.
    QPointer<DataDialog> mp_dataDialog;
    SizeProxy m_sizeProxy;
};

extern MainWindow* mainWindow;
// False until the main window's destructor starts.
extern bool g_showIsOver;
