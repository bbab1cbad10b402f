#include "ui/social/RoomTabWidget.h"

RoomTabWidget::RoomTabWidget(QWidget* ip_parent) : QTabWidget(ip_parent) {}

RoomTabWidget::~RoomTabWidget() = default;
