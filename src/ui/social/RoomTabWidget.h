#pragma once

#include <QTabWidget>

// The tab control of the Chat page, one private chat per tab. The window
// handles the close requests of its tabs; the control adds nothing.
class RoomTabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit RoomTabWidget(QWidget* ip_parent = nullptr);
    ~RoomTabWidget() override;
};
