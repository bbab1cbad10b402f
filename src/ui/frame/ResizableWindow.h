#pragma once

#include <QObject>

// A window as the remembered-size service sees it: a rectangle it can read
// and set, and two signals when the user moved or resized it. Keeps the
// service free of any particular window class.
class ResizableWindow : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual int GetX() = 0;
    virtual int GetY() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    // Moves the window, keeping its size.
    virtual void SetPosition(int i_x, int i_y) = 0;
    // Resizes the window, keeping its top-left corner.
    virtual void SetSize(int i_width, int i_height) = 0;

signals:
    void WindowMoved(int i_x, int i_y);
    void WindowResized(int i_width, int i_height);
};
