#pragma once

class QString;
class QWidget;

// What the bars of the frame, the views and the social pages need of the
// main window, without depending on it: the window, which sits above them
// all, implements this and registers itself as `gp_frameWindow`.
class FrameWindow
{
public:
    virtual ~FrameWindow() = default;

    // The window itself: the parent of the dialogs and tabs that views open.
    virtual QWidget* Widget() = 0;
    // Whether the window is the active one (the event bar blinks the icon
    // only while it is not).
    virtual bool IsActive() const = 0;
    // The icon of the application, of the window and of its tray icon.
    virtual void SetApplicationIcon(const QString& i_icon) = 0;
    // The online or the offline icon, after the server link's state.
    virtual void ResetApplicationIcon() = 0;
};

// The one main window while it exists; null before and after.
extern FrameWindow* gp_frameWindow;
// False until the main window's destructor starts; the bars stop reacting
// to focus changes, clicks and destroyed widgets from then on.
extern bool g_showIsOver;
