#include "ui/social/QRoomListItemWidget.h"

QRoomListItemWidget::QRoomListItemWidget(QTreeWidget* ip_parent) : QTreeWidgetItem(ip_parent, Type) {}

QRoomListItemWidget::QRoomListItemWidget() : QTreeWidgetItem(Type) {}

QRoomListItemWidget::~QRoomListItemWidget() = default;

bool QRoomListItemWidget::operator<(const QTreeWidgetItem& i_other) const
{
    const QTreeWidget* lp_tree = treeWidget();
    if (!lp_tree || lp_tree->sortColumn() == 0)
        return text(0).compare(i_other.text(0), Qt::CaseInsensitive) < 0;
    return text(1).toInt() < i_other.text(1).toInt();
}
